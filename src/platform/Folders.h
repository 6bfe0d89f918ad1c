#pragma once

#include <QString>

// Making folders with the reason a failure had, which QDir keeps to itself.
namespace Folders {

// Makes the folder and each missing folder above it: 0, or the errno that stopped it (ENOTDIR when a file
// stands at the path).
int make(const QString &path);

} // namespace Folders
