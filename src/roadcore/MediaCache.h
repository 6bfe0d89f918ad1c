#pragma once

#include "roadcore/CatalogEntry.h"
#include "roadcore/DashClip.h"
#include "roadcore/MediaCacheTypes.h"

#include "platform/MountTable.h"

#include <QFuture>
#include <QList>
#include <QMutex>
#include <QPromise>
#include <QSet>
#include <QString>
#include <QThreadPool>

#include <functional>
#include <memory>
#include <optional>
#include <set>

// The process-wide keeper of every recording the library has imported: the catalog "catalog.json" and the
// stored copies under "Files", both in the root folder. Each public operation holds one lock for its whole
// run, so callers on any thread see the catalog before or after a whole operation. The asynchronous face
// runs the same operations, in call order, on the cache's own thread so the GUI thread never waits on disk.
class MediaCache {
public:
    using Scope = MediaCacheScope;
    using Usage = MediaCacheUsage;
    // The mounted volumes, read where a bookmark is made or followed.
    using MountSource = std::function<QList<MountEntry>()>;

    // Rooted in the generic data location plus "Roadloom/Media Cache"; created on first use, never destroyed.
    static MediaCache &shared();

    explicit MediaCache(QString root, MountSource mounts = &MountTable::current);
    ~MediaCache();
    MediaCache(const MediaCache &) = delete;
    MediaCache &operator=(const MediaCache &) = delete;

    // Constant: safe to read from any thread without the lock.
    const QString &root() const { return m_root; }

    // Records freshly scanned recordings; returns them in the same order with their original files, their
    // channels in place and their cached channels filled in.
    QList<DashClip> registerClips(const QList<DashClip> &clips);
    // The catalogued recordings in the scope whose key is not excluded, resolved, newest first.
    QList<DashClip> clips(const Scope &scope, const QSet<QString> &excluding = {});
    // The catalogued recording with the clip's key, resolved, keeping the clip's id; the clip unchanged
    // when its key is not catalogued.
    DashClip resolveForPlayback(const DashClip &clip);

    QFuture<QList<DashClip>> registerClipsAsync(QList<DashClip> clips);
    QFuture<QList<DashClip>> clipsAsync(Scope scope, QSet<QString> excluding = {});
    QFuture<DashClip> resolveForPlaybackAsync(DashClip clip);

    // Whether the file at `path` is the one the record describes: its size reads and equals the record's.
    static bool matches(const QString &path, const CatalogEntry::File &record);

private:
    // Everything below expects m_mutex to be held by the caller.
    void load();
    void save();
    // Moves an unreadable catalog file aside so that saving never destroys it; false when that failed.
    bool setAsideUnreadableCatalog();
    // Writes the new place of a moved file back into the entry.
    DashClip resolve(CatalogEntry &entry);
    std::optional<QString> resolveBookmark(CatalogEntry::File &record);
    std::set<Channel> cachedChannels(const CatalogEntry &entry) const;
    // The absolute path of the record's stored copy when the catalog names a usable one, whether or not
    // it exists.
    std::optional<QString> storedCopyPath(const CatalogEntry::File &record) const;
    // The same, only when the file exists.
    std::optional<QString> existingStoredCopy(const CatalogEntry::File &record) const;
    bool isInsideRoot(const QString &path) const;
    QByteArray makeBookmark(const QString &path);
    // Read once per operation, on first need.
    const QList<MountEntry> &mounts();
    // Starts an operation: forgets what the previous one learned of the system.
    void beginOperation();

    template <class T, class Work> QFuture<T> runAsync(Work work);

    QString catalogPath() const;

    const QString m_root;
    const MountSource m_mountSource;
    QMutex m_mutex;
    CatalogEntry::Catalog m_entries;
    bool m_catalogUnreadable = false;
    std::optional<QList<MountEntry>> m_mounts;
    // Declared last: destroyed first, so queued work finishes while the rest still exists.
    QThreadPool m_pool;
};

template <class T, class Work> QFuture<T> MediaCache::runAsync(Work work)
{
    auto promise = std::make_shared<QPromise<T>>();
    QFuture<T> future = promise->future();
    promise->start();
    m_pool.start([promise, work = std::move(work)]() mutable {
        promise->addResult(work());
        promise->finish();
    });
    return future;
}
