#pragma once

#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QString>

// One mounted file system as the kernel lists it.
struct MountEntry {
    QString mountPoint; // where it is mounted now
    QString root = "/"; // the folder of the file system shown at mountPoint (not "/" for bind mounts)
    QString source;     // "/dev/sdb1", "tmpfs", "server:/share"
    QString fsType;     // "vfat", "ext4", ...
    quint64 device = 0; // the st_dev of files on it
    QString uuid;       // the file system's UUID; empty when the system names none

    friend bool operator==(const MountEntry &, const MountEntry &) = default;
};

namespace MountTable {

// The mounts of this process, read from /proc/self/mountinfo with UUIDs from /dev/disk/by-uuid. Empty when
// the table cannot be read.
QList<MountEntry> current();

// Parses mountinfo text; the maps give the file system UUID of a block device by its number or node path.
QList<MountEntry> parse(QByteArrayView mountinfo, const QHash<quint64, QString> &uuidByDevice = {},
                        const QHash<QString, QString> &uuidBySource = {});

// The mount holding `path` (absolute, clean): the longest mount point that contains it, preferring those
// whose device is `device` when one is given. Null when none contains it.
const MountEntry *containing(const QList<MountEntry> &mounts, const QString &path, quint64 device = 0);

} // namespace MountTable
