#pragma once

#include "platform/MountTable.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// An opaque reference to a file that finds it again after its volume was mounted at another place or after
// it was renamed within its folder. It holds the volume's identity (file system UUID, else the device and
// its source), the path inside the volume, the inode and the size. Resolving only looks at volumes that are
// mounted now, so an absent card or share never mounts or blocks.
namespace FileBookmark {

struct Contents {
    QString uuid;       // empty when the volume has none
    quint64 device = 0; // with `source`, the volume's identity when it has no UUID
    QString source;
    QString mountPoint; // where the volume was mounted when the bookmark was made
    QString mountRoot = "/";
    QString relativePath; // below mountPoint, without a leading "/"
    quint64 inode = 0;
    qint64 size = 0;

    QString path() const; // the file's path when the bookmark was made

    friend bool operator==(const Contents &, const Contents &) = default;
};

struct Resolved {
    QString path;
    bool isStale = false; // the file is no longer at the path the bookmark was made for

    friend bool operator==(const Resolved &, const Resolved &) = default;
};

// The bookmark of a regular file; empty when the file cannot be read or lies on no known mount.
QByteArray create(const QString &path);
QByteArray create(const QString &path, const QList<MountEntry> &mounts);

std::optional<Resolved> resolve(const QByteArray &bookmark);
std::optional<Resolved> resolve(const QByteArray &bookmark, const QList<MountEntry> &mounts);

// The bytes of a bookmark and back; decoding foreign bytes gives nothing unless they are a whole bookmark.
QByteArray encode(const Contents &contents);
std::optional<Contents> decode(const QByteArray &bookmark);

// A file in a Trash folder has been thrown away, not moved: ".Trash", ".Trash-UID" on any volume, and the
// home Trash.
bool isInTrash(const QString &path);

} // namespace FileBookmark
