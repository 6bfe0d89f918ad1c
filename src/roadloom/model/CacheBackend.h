#pragma once

#include "platform/Result.h"
#include "roadcore/CacheJob.h"
#include "roadcore/CachePolicy.h"
#include "roadcore/MediaCacheTypes.h"

#include <QList>
#include <QSet>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>

class MediaCache;

// What the cache coordinator asks of the media cache. Every call may block on the disk: the coordinator
// makes them off the GUI thread. The application passes the shared media cache; tests pass a script.
class CacheBackend {
public:
    virtual ~CacheBackend() = default;

    // The cache's root folder, whose volume receives the copies.
    virtual QString root() const = 0;
    virtual QList<CacheJob> pendingJobs(CachePolicy policy, const std::optional<QString> &prioritize,
                                        const QSet<QString> &alsoInclude) = 0;
    // Makes one copy; ends early, leaving nothing behind, once `*stop` turns true.
    virtual Result<void> perform(const CacheJob &job, const std::atomic<bool> *stop) = 0;
    // None while the cache's catalog cannot be read.
    virtual std::optional<MediaCacheUsage> usage() = 0;
    // The two below refuse, having done nothing, while the cache's catalog cannot be read, when their change
    // did not reach the catalog file, and when a stored file they drop cannot be deleted; the failure's
    // cause says which.
    // Drops the recording's copies whose originals are reachable; keeps those that are the only one left.
    virtual Result<void> removeReplaceableCopies(const QString &key) = 0;
    // Drops every copy, or with `keepingUnavailable` only those whose original is in place; without keeping,
    // also forgets the recordings none of whose originals is in place.
    virtual Result<void> clear(bool keepingUnavailable) = 0;
    // Writes the catalog's changes whose save failed, such as copies made but not recorded.
    virtual MediaCacheWrite writeUnsaved() { return MediaCacheWrite::nothingUnsaved; }
    // Where an unreadable catalog was kept, or an empty text when it could not be kept, given once (see
    // MediaCache::takeSetAsideCatalog).
    virtual std::optional<QString> takeSetAsideCatalog() { return std::nullopt; }

    // Forwards to a media cache that outlives the result.
    static std::unique_ptr<CacheBackend> over(MediaCache &cache);
};
