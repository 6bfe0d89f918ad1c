#pragma once

#include <QMetaType>
#include <QString>
#include <QStringView>

#include <array>
#include <optional>

// The order of the clip list.
enum class ClipSort {
    newest, // the store's own order: newest first
    oldest, // the store's order reversed
    name,   // by name as a person reads it: case-insensitive, numbers by value
    size,   // largest first
};

inline constexpr std::array<ClipSort, 4> allClipSorts{ClipSort::newest, ClipSort::oldest, ClipSort::name,
                                                      ClipSort::size};

QString rawValue(ClipSort sort);
std::optional<ClipSort> clipSortFromRaw(QStringView raw);

Q_DECLARE_METATYPE(ClipSort)
