#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// Where a catalogued channel file is found now, in order of precedence from best to worst.
enum class StorageState { original, moved, cached, missing };

QString rawValue(StorageState state);
std::optional<StorageState> storageStateFromRaw(QStringView raw);
