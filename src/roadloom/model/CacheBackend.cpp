#include "roadloom/model/CacheBackend.h"

#include "roadcore/MediaCache.h"

#include <QCoreApplication>

namespace {

class MediaCacheBackend final : public CacheBackend {
public:
    explicit MediaCacheBackend(MediaCache &cache) : m_cache(cache)
    {
        // A quit must not wait for a pass that proves whose the stored files are: it stops, and what it did
        // not prove yet stays unproven.
        if (QCoreApplication *app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit,
                             [quitting = m_quitting] { *quitting = true; });
    }

    QString root() const override { return m_cache.root(); }
    QList<CacheJob> pendingJobs(CachePolicy policy, const std::optional<QString> &prioritize,
                                const QSet<QString> &alsoInclude) override
    {
        return m_cache.pendingJobs(policy, prioritize, alsoInclude, m_quitting.get());
    }
    Result<void> perform(const CacheJob &job, const std::atomic<bool> *stop) override
    {
        return m_cache.perform(job, stop);
    }
    std::optional<MediaCacheUsage> usage() override { return m_cache.usage(m_quitting.get()); }
    Result<void> removeReplaceableCopies(const QString &key) override
    {
        return m_cache.removeReplaceableCopies(key, m_quitting.get());
    }
    Result<void> clear(bool keepingUnavailable) override
    {
        return m_cache.clear(keepingUnavailable, m_quitting.get());
    }
    MediaCacheWrite writeUnsaved() override { return m_cache.writeUnsaved(); }
    std::optional<QString> takeSetAsideCatalog() override { return m_cache.takeSetAsideCatalog(); }

private:
    MediaCache &m_cache;
    const std::shared_ptr<std::atomic<bool>> m_quitting = std::make_shared<std::atomic<bool>>(false);
};

} // namespace

std::unique_ptr<CacheBackend> CacheBackend::over(MediaCache &cache)
{
    return std::make_unique<MediaCacheBackend>(cache);
}
