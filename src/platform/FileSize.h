#pragma once

#include <QString>

#include <optional>

// The size of a regular file (following symbolic links); nothing for a missing path, a folder or a device.
// QFileInfo::size() answers 0 or 4096 there, which would make a missing file look present.
std::optional<qint64> regularFileSize(const QString &path);
