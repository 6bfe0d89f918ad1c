#include "roadloom/model/CacheCoordinator.h"
#include "roadloom/model/Observed.h"

#include "platform/BackgroundThread.h"
#include "platform/Defaults.h"
#include "platform/FreeSpace.h"
#include "platform/LogCategories.h"
#include "roadcore/CachePolicy.h"
#include "roadcore/MediaCache.h"
#include "roadloom/model/CacheBackend.h"
#include "roadloom/model/OffThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QStringList>

#include <algorithm>

namespace {

QString clearRefused(const QString &cause)
{
    return QStringLiteral("The media cache couldn't be cleared: %1.").arg(cause);
}

QString availableRefused(const QString &cause)
{
    return QStringLiteral("Copies of available originals couldn't be removed: %1.").arg(cause);
}

} // namespace

CacheCoordinator::CacheCoordinator(Services services, QObject *parent)
    : QObject(parent), m_cache(services.cache), m_freeSpace(services.freeSpace),
      m_defaults(services.defaults), m_playingKey(std::move(services.playingKey)),
      m_retryPause(services.firstRetryPause, std::chrono::minutes(1))
{
    Q_ASSERT(m_cache && m_freeSpace && m_defaults);
    m_callPool.setMaxThreadCount(1);
    m_copyPool.setMaxThreadCount(1);
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &CacheCoordinator::recordAgain);

    connect(m_defaults, &Defaults::changed, this, [this](const QString &key) {
        if (key == CachePolicies::defaultsKey)
            start();
    });
    // Quitting must not wait for a long copy: it is cut off and copied again at the next launch.
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { m_stop = true; });

    refreshUsage();
}

CacheCoordinator::~CacheCoordinator()
{
    finish();
}

void CacheCoordinator::stop()
{
    m_stop = true;
    m_retryTimer.stop();
}

bool CacheCoordinator::finish(QDeadlineTimer deadline)
{
    stop();
    const bool copyEnded = m_copyPool.waitForDone(int(deadline.remainingTime()));
    const bool callsEnded = m_callPool.waitForDone(int(deadline.remainingTime()));
    if (!copyEnded || !callsEnded)
        qCWarning(logCache) << "A copy or a call of the media cache did not end by the quit's deadline";
    return copyEnded && callsEnded;
}

double CacheCoordinator::progress() const
{
    if (m_totalBytes < 1)
        return 0;
    return double(m_completedBytes) / double(m_totalBytes);
}

template <class T>
void CacheCoordinator::call(std::function<T(CacheBackend &)> work, std::function<void(T)> done)
{
    OffThread::run(
        m_callPool, this,
        [cache = m_cache, work = std::move(work)] {
            // Reading the catalog, counting its use: nothing the window waits on.
            BackgroundThread::lowerCurrentPriority();
            return work(*cache);
        },
        std::move(done));
}

void CacheCoordinator::start()
{
    // Paused caching stays paused until the user resumes it (the pause button or Cache Now): a rescan or a
    // policy change starts nothing, and an error shown meanwhile stays.
    if (m_isPaused)
        return;
    if (m_isRunning) {
        m_replanRequested = true;
        return;
    }
    // Running from this moment, so that another start before the plan arrives joins this run.
    setIsRunning(true);
    // What this run plans is tried again; a refused removal or clear is not.
    m_pausedFor.reset();
    m_failedCopies.clear();
    publishErrors();
    m_replanRequested = false;
    plan();
}

void CacheCoordinator::cacheNow(const DashClip &clip)
{
    m_forcedKeys.insert(clip.catalogKey());
    // An explicit request resumes paused caching; when the disk is still short, the run pauses again at
    // once with the reason in `lastError`.
    if (m_isPaused)
        setIsPaused(false);
    else
        start();
}

void CacheCoordinator::setIsPaused(bool paused)
{
    const bool wasPaused = m_isPaused;
    setObserved(this, m_isPaused, paused, &CacheCoordinator::isPausedChanged);
    if (wasPaused && !paused)
        start();
}

void CacheCoordinator::plan()
{
    const CachePolicy policy =
        cachePolicyFromRaw(m_defaults->string(CachePolicies::defaultsKey)).value_or(CachePolicy::all);
    const std::optional<QString> priority = m_playingKey ? m_playingKey() : std::nullopt;
    const QSet<QString> forced = m_forcedKeys;
    call<QList<CacheJob>>([policy, priority, forced](
                              CacheBackend &cache) { return cache.pendingJobs(policy, priority, forced); },
                          [this](const QList<CacheJob> &jobs) { planned(jobs); });
}

void CacheCoordinator::planned(const QList<CacheJob> &jobs)
{
    m_jobs = jobs;
    m_nextJob = 0;
    qint64 plannedBytes = 0;
    for (const CacheJob &job : jobs)
        plannedBytes += job.size;
    setCounters(m_completedFiles, m_completedFiles + int(jobs.size()), m_completedBytes,
                m_completedBytes + plannedBytes);
    nextJob();
}

void CacheCoordinator::nextJob()
{
    if (m_nextJob >= m_jobs.size() || m_isPaused || m_replanRequested || m_stop) {
        afterJobs();
        return;
    }
    const CacheJob job = m_jobs.at(m_nextJob++);
    const std::optional<qint64> available = m_freeSpace->bytesAvailable(m_cache->root());
    if (available && job.size + freeSpaceReserve >= *available) {
        m_pausedFor = job.name;
        publishErrors();
        setIsPaused(true);
        afterJobs();
        return;
    }
    setCurrentName(job.name);
    OffThread::run(
        m_copyPool, this,
        [cache = m_cache, stop = &m_stop, job] {
            BackgroundThread::lowerCurrentPriority();
            return cache->perform(job, stop);
        },
        [this, job](const Result<void> &result) { copied(job, result); });
}

void CacheCoordinator::copied(const CacheJob &job, const Result<void> &result)
{
    if (!result) {
        qCWarning(logCache) << "Copy into the media cache failed:" << job.name << result.error();
        noteFailedCopy(job, result.failure());
        retryRecording();
        nextJob();
        return;
    }
    emit channelCached(job.key, job.channel);
    setCounters(m_completedFiles + 1, m_totalFiles, m_completedBytes + job.size, m_totalBytes, true);
    // The usage walks every stored copy: in a large cache it is asked for after more copies, so that a run
    // stays linear in its copies (every fifth copy up to 500 stored files).
    const int every = std::max(5, (m_usage ? m_usage->cachedFiles : 0) / 100);
    if (++m_copiesSinceUsage >= every)
        fetchUsage([this] { nextJob(); });
    else
        nextJob();
}

void CacheCoordinator::afterJobs()
{
    if (m_replanRequested && !m_isPaused && !m_stop) {
        m_replanRequested = false;
        plan();
        return;
    }
    fetchUsage([this] {
        // A start while the usage was read (Cache Now) would otherwise be lost with the run.
        if (m_replanRequested && !m_isPaused && !m_stop) {
            m_replanRequested = false;
            return plan();
        }
        finishRun();
    });
}

void CacheCoordinator::finishRun()
{
    m_jobs.clear();
    m_nextJob = 0;
    setIsRunning(false);
    setCurrentName(std::nullopt);
    setCounters(0, 0, 0, 0);
}

void CacheCoordinator::removeCopy(const DashClip &clip)
{
    const QString key = clip.catalogKey();
    m_forcedKeys.remove(key);
    call<Result<void>>([key](CacheBackend &cache) { return cache.removeReplaceableCopies(key); },
                       [this, key, name = clip.name](const Result<void> &removed) {
                           m_refusedRemovals.removeIf(
                               [&](const RefusedRemoval &refused) { return refused.key == key; });
                           if (removed)
                               emit copiesRemoved(key);
                           else
                               m_refusedRemovals.append({key, name, removed.failure().cause});
                           publishErrors();
                           refreshUsage();
                       });
}

QString CacheCoordinator::root() const
{
    return m_cache->root();
}

QFuture<void> CacheCoordinator::clear(bool keepingUnavailable)
{
    return OffThread::run(
        m_callPool, this, [cache = m_cache, keepingUnavailable] { return cache->clear(keepingUnavailable); },
        [this, keepingUnavailable](const Result<void> &cleared) {
            // A catalog that cannot be read now proves nothing about the stored files, so nothing was
            // deleted; one that cannot be written forgets nothing past a restart until a later save; a copy
            // that cannot be deleted keeps its record. The user who asked for the clear is told instead of
            // seeing nothing happen.
            const std::optional<QString> before = clearRefusal();
            m_refusedClear = cleared
                                 ? std::nullopt
                                 : std::optional(RefusedClear{keepingUnavailable, cleared.failure().cause});
            if (cleared)
                m_refusedRemovals.clear(); // what they would have removed is gone, or kept as the last copy
            if (clearRefusal() != before)
                emit clearRefusalChanged(clearRefusal());
            publishErrors();
        });
}

void CacheCoordinator::retryRecording()
{
    if (!m_retryTimer.isActive() && !m_stop)
        m_retryTimer.start(m_retryPause.next());
}

void CacheCoordinator::recordAgain()
{
    if (m_stop)
        return;
    call<MediaCacheWrite>([](CacheBackend &cache) { return cache.writeUnsaved(); },
                          [this](MediaCacheWrite write) {
                              switch (write) {
                              case MediaCacheWrite::failed:
                                  retryRecording();
                                  return;
                              case MediaCacheWrite::written:
                                  m_retryPause.reset();
                                  emit copiesRecorded();
                                  start(); // what failed for another reason is tried again
                                  return;
                              case MediaCacheWrite::nothingUnsaved:
                                  m_retryPause.reset();
                                  return;
                              }
                          });
}

void CacheCoordinator::refreshUsage()
{
    fetchUsage({});
}

void CacheCoordinator::fetchUsage(std::function<void()> then)
{
    m_copiesSinceUsage = 0;
    using Answer = std::pair<std::optional<MediaCacheUsage>, std::optional<QString>>;
    call<Answer>(
        [](CacheBackend &cache) {
            // Reading the usage reads the catalog first: an unreadable one is known from then on.
            const std::optional<MediaCacheUsage> usage = cache.usage();
            return Answer(usage, cache.takeSetAsideCatalog());
        },
        [this, then](const Answer &answer) {
            if (answer.second)
                emit catalogSetAside(*answer.second);
            // Announced even when equal: a refresh is an answer the views wait for.
            m_usage = answer.first;
            emit usageChanged(m_usage);
            if (then)
                then();
        });
}

void CacheCoordinator::setIsRunning(bool running)
{
    setObserved(this, m_isRunning, running, &CacheCoordinator::isRunningChanged);
}

void CacheCoordinator::setCounters(int completedFiles, int totalFiles, qint64 completedBytes,
                                   qint64 totalBytes, bool notifyAlways)
{
    const double oldProgress = progress();
    const bool filesDone = notifyAlways || completedFiles != m_completedFiles;
    const bool filesTotal = totalFiles != m_totalFiles;
    const bool bytesDone = notifyAlways || completedBytes != m_completedBytes;
    const bool bytesTotal = totalBytes != m_totalBytes;
    m_completedFiles = completedFiles;
    m_totalFiles = totalFiles;
    m_completedBytes = completedBytes;
    m_totalBytes = totalBytes;
    if (filesDone)
        emit completedFilesChanged(completedFiles);
    if (filesTotal)
        emit totalFilesChanged(totalFiles);
    if (bytesDone)
        emit completedBytesChanged(completedBytes);
    if (bytesTotal)
        emit totalBytesChanged(totalBytes);
    if (progress() != oldProgress)
        emit progressChanged(progress());
}

void CacheCoordinator::setCurrentName(const std::optional<QString> &name)
{
    setObserved(this, m_currentName, name, &CacheCoordinator::currentNameChanged);
}

std::optional<QString> CacheCoordinator::clearRefusal() const
{
    if (!m_refusedClear)
        return std::nullopt;
    return m_refusedClear->keepingUnavailable ? availableRefused(m_refusedClear->cause)
                                              : clearRefused(m_refusedClear->cause);
}

void CacheCoordinator::publishErrors()
{
    QStringList text, detail;
    const bool clearRefusedWhole = m_refusedClear && !m_refusedClear->keepingUnavailable;
    if (clearRefusedWhole) {
        text.append(clearRefused(m_refusedClear->cause));
        detail.append(clearRefused(m_refusedClear->cause));
    }
    // Removing the copies of available originals is a removal of each recording's: one line for all, with
    // the latest refusal's cause.
    if ((m_refusedClear && !clearRefusedWhole) || !m_refusedRemovals.isEmpty()) {
        const QString cause =
            !m_refusedRemovals.isEmpty() ? m_refusedRemovals.constLast().cause : m_refusedClear->cause;
        text.append(QStringLiteral("Cached copies couldn't be removed: %1.").arg(cause));
        if (m_refusedClear && !clearRefusedWhole)
            detail.append(availableRefused(m_refusedClear->cause));
        for (const RefusedRemoval &refused : std::as_const(m_refusedRemovals))
            detail.append(QStringLiteral("The cached copies of “%1” couldn't be removed: %2.")
                              .arg(refused.name, refused.cause));
    }
    if (m_pausedFor) {
        text.append(QStringLiteral("Caching paused: not enough free disk space."));
        detail.append(QStringLiteral("Not enough free disk space to cache %1.").arg(*m_pausedFor));
    }
    if (!m_failedCopies.isEmpty()) {
        text.append(m_failedCopies.summary());
        detail.append(m_failedCopies.detail());
    }
    const auto joined = [](const QStringList &lines) {
        return lines.isEmpty() ? std::nullopt : std::optional(lines.join(QLatin1Char('\n')));
    };
    setObserved(this, m_lastError, joined(text), &CacheCoordinator::lastErrorChanged);
    setObserved(this, m_lastErrorDetail, joined(detail), &CacheCoordinator::lastErrorDetailChanged);
}

void CacheCoordinator::noteFailedCopy(const CacheJob &job, const Failure &failure)
{
    m_failedCopies.add(job, failure);
    publishErrors();
}
