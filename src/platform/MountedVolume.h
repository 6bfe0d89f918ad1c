#pragma once

#include <QString>

// A mounted volume as the library sees it.
struct MountedVolume {
    QString rootPath;              // the mount point, absolute
    QString name;                  // the volume's label; empty when it has none
    bool isRootFileSystem = false; // the system's own "/", never a camera card

    friend bool operator==(const MountedVolume &, const MountedVolume &) = default;
};
