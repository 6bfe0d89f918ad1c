#include "roadloom/model/CacheBackend.h"

#include "roadcore/MediaCache.h"

namespace {

class MediaCacheBackend final : public CacheBackend {
public:
    explicit MediaCacheBackend(MediaCache &cache) : m_cache(cache) {}

    QString root() const override { return m_cache.root(); }
    QList<CacheJob> pendingJobs(CachePolicy policy, const std::optional<QString> &prioritize,
                                const QSet<QString> &alsoInclude) override
    {
        return m_cache.pendingJobs(policy, prioritize, alsoInclude);
    }
    Result<void> perform(const CacheJob &job, const std::atomic<bool> *stop) override
    {
        return m_cache.perform(job, stop);
    }
    std::optional<MediaCacheUsage> usage() override { return m_cache.usage(); }
    Result<void> removeReplaceableCopies(const QString &key) override
    {
        return m_cache.removeReplaceableCopies(key);
    }
    Result<void> clear(bool keepingUnavailable) override { return m_cache.clear(keepingUnavailable); }
    MediaCacheWrite writeUnsaved() override { return m_cache.writeUnsaved(); }
    std::optional<QString> takeSetAsideCatalog() override { return m_cache.takeSetAsideCatalog(); }

private:
    MediaCache &m_cache;
};

} // namespace

std::unique_ptr<CacheBackend> CacheBackend::over(MediaCache &cache)
{
    return std::make_unique<MediaCacheBackend>(cache);
}
