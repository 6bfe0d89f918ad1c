#pragma once

#include "platform/MountTable.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <mutex>
#include <optional>

// An opaque reference to a file that finds it again after its volume was mounted at another place or after
// it was renamed or moved within its volume. It holds the volume's identity (file system UUID, else the
// device and its source), the path inside the volume, the inode, the size and the modification time.
// Resolving only looks at volumes that are mounted now, so an absent card or share never mounts or blocks;
// looking for a moved file reads folders, so it is done off the GUI thread.
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
    qint64 modified = 0; // nanoseconds since the epoch; 0 in bookmarks made before it was kept

    QString path() const; // the file's path when the bookmark was made

    friend bool operator==(const Contents &, const Contents &) = default;
};

struct Resolved {
    QString path;
    bool isStale = false; // the file is no longer at the path the bookmark was made for

    friend bool operator==(const Resolved &, const Resolved &) = default;
};

// Looks for files moved within their volume by their identity (device, inode, size and time): first
// below the folder they were in, then below each folder above it up to the volume's mount point. Folders
// read for one file answer for the next, so one search serves a whole listing; all its reading stops after
// `budget` folder entries. Safe on several threads at once.
class MoveSearch {
public:
    static constexpr int defaultBudget = 20000;
    explicit MoveSearch(int budget = defaultBudget) : m_left(budget) {}

    // The file the bookmark describes, moved away from `oldPath` on the volume mounted at `mountPoint`
    // whose files have `device`; none when not found within the budget.
    std::optional<QString> find(const QString &oldPath, const QString &mountPoint, quint64 device,
                                const Contents &c);

private:
    // Reads every folder below `top` not read yet, on `device` only, within the budget; false when the
    // budget ended first.
    bool walk(const QString &top, quint64 device);

    mutable std::mutex m_mutex;
    QHash<QString, QStringList> m_folders;  // folders read, with the folders in them
    QSet<QString> m_walked;                 // folders whose whole tree was read
    QMultiHash<quint64, QString> m_byInode; // the regular files seen, by inode
    int m_left;
};

// The bookmark of a regular file; empty when the file cannot be read or lies on no known mount.
QByteArray create(const QString &path);
QByteArray create(const QString &path, const QList<MountEntry> &mounts);

// With `search`, a file no longer in its folder is looked for in its volume.
std::optional<Resolved> resolve(const QByteArray &bookmark);
std::optional<Resolved> resolve(const QByteArray &bookmark, const QList<MountEntry> &mounts,
                                MoveSearch *search = nullptr);

// The bytes of a bookmark and back; decoding foreign bytes gives nothing unless they are a whole bookmark.
QByteArray encode(const Contents &contents);
std::optional<Contents> decode(const QByteArray &bookmark);

// A file in a Trash folder has been thrown away, not moved: ".Trash", ".Trash-UID" on any volume, and the
// home Trash.
bool isInTrash(const QString &path);

} // namespace FileBookmark
