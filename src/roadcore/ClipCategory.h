#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <optional>

enum class ClipCategory { continuous, event, manual, parking, motion, timelapse, other };

inline constexpr std::array<ClipCategory, 7> allClipCategories{
    ClipCategory::continuous, ClipCategory::event,     ClipCategory::manual, ClipCategory::parking,
    ClipCategory::motion,     ClipCategory::timelapse, ClipCategory::other};

QString rawValue(ClipCategory category); // also the category's id
QString title(ClipCategory category);
QString symbol(ClipCategory category);
std::optional<ClipCategory> clipCategoryFromRaw(QStringView raw);
