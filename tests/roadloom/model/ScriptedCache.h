#pragma once

#include <atomic>

#include "fixtures/TestSupport.h"
#include "platform/FreeSpace.h"
#include "roadloom/model/CacheBackend.h"

#include <QMutex>
#include <QMutexLocker>
#include <QSemaphore>
#include <QStringList>
#include <QThread>

#include <functional>
#include <map>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

// A media cache played from a script: the plan is what is still pending (or what `plan` answers), copies
// succeed unless a failure is scripted for their name, and each call is written to a log in order.
class ScriptedCache : public CacheBackend {
public:
    struct PlanCall {
        CachePolicy policy;
        std::optional<QString> prioritize;
        QSet<QString> alsoInclude;
    };

    QList<CacheJob> pending;
    std::atomic<int> cachedFiles = 0;    // what every usage reports as the stored copies
    std::map<QString, QString> failures; // job name -> error text
    std::map<QString, QString> causes;   // job name -> its failure's cause, when it has one
    std::function<QList<CacheJob>(const PlanCall &)> plan;
    // Where an unreadable catalog was kept: given to the first caller that takes it.
    std::optional<QString> setAsideCatalog;
    // When set, each copy waits for a `release()` before it ends.
    bool holdCopies = false;
    // When set, each copy runs until it is told to stop.
    bool copyUntilStopped = false;
    // When set, the catalog cannot be read: no usage, and removals do nothing.
    std::atomic<bool> catalogUnreadable = false;
    // What each write of the unsaved changes answers, in turn; then that nothing is unsaved.
    QList<MediaCacheWrite> writes;

    QString root() const override { return QStringLiteral("/scripted/Media Cache"); }

    QList<CacheJob> pendingJobs(CachePolicy policy, const std::optional<QString> &prioritize,
                                const QSet<QString> &alsoInclude) override
    {
        QMutexLocker lock(&m_mutex);
        const PlanCall call{policy, prioritize, alsoInclude};
        m_plans.append(call);
        m_log.append(QStringLiteral("plan"));
        return plan ? plan(call) : pending;
    }

    Result<void> perform(const CacheJob &job, const std::atomic<bool> *stop) override
    {
        {
            QMutexLocker lock(&m_mutex);
            m_log.append(QStringLiteral("copy ") + job.name);
            m_copyThreads.insert(QThread::currentThread());
            m_copyNiceness.insert(::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid))));
            ++m_inFlight;
            m_mostInFlight = std::max(m_mostInFlight, m_inFlight);
        }
        m_started.release();
        if (holdCopies)
            m_release.acquire();
        bool stopped = false;
        if (copyUntilStopped) {
            for (int i = 0; i < 10000 && !stopped; ++i) {
                stopped = stop && stop->load();
                QThread::msleep(1);
            }
        }
        QMutexLocker lock(&m_mutex);
        --m_inFlight;
        m_sawStop = m_sawStop || stopped;
        if (stopped)
            return Failure{QStringLiteral("Copy of %1 is incomplete.").arg(job.name)};
        if (const auto failure = failures.find(job.name); failure != failures.end())
            return Failure{failure->second, causes.contains(job.name) ? causes.at(job.name) : QString()};
        pending.removeOne(job);
        return {};
    }

    std::optional<MediaCacheUsage> usage() override
    {
        QMutexLocker lock(&m_mutex);
        m_log.append(QStringLiteral("usage"));
        if (catalogUnreadable)
            return std::nullopt;
        return MediaCacheUsage{1000 * m_log.count(QStringLiteral("usage")), cachedFiles, 0};
    }

    MediaCacheWrite writeUnsaved() override
    {
        QMutexLocker lock(&m_mutex);
        m_log.append(QStringLiteral("write"));
        return writes.isEmpty() ? MediaCacheWrite::nothingUnsaved : writes.takeFirst();
    }

    std::optional<QString> takeSetAsideCatalog() override
    {
        QMutexLocker lock(&m_mutex);
        return std::exchange(setAsideCatalog, std::nullopt);
    }

    Result<void> removeReplaceableCopies(const QString &key) override
    {
        QMutexLocker lock(&m_mutex);
        m_log.append(QStringLiteral("remove ") + key);
        return refusal();
    }

    Result<void> clear(bool keepingUnavailable) override
    {
        QMutexLocker lock(&m_mutex);
        m_log.append(keepingUnavailable ? QStringLiteral("clear keeping") : QStringLiteral("clear all"));
        return refusal();
    }

    // Runs the event loop until a copy has begun.
    bool waitForCopy(int timeoutMs = 5000)
    {
        return TestSupport::waitFor([this] { return m_started.tryAcquire(1, 0); }, timeoutMs);
    }
    void release(int copies = 1) { m_release.release(copies); }

    QStringList log() const
    {
        QMutexLocker lock(&m_mutex);
        return m_log;
    }
    // How a removal or clear answers while the catalog cannot be read.
    Result<void> refusal() const
    {
        if (!catalogUnreadable)
            return {};
        return Failure{QStringLiteral("The media cache's catalog couldn't be read."),
                       QStringLiteral("the media cache's catalog couldn't be read or written")};
    }
    QList<PlanCall> plans() const
    {
        QMutexLocker lock(&m_mutex);
        return m_plans;
    }
    int mostInFlight() const
    {
        QMutexLocker lock(&m_mutex);
        return m_mostInFlight;
    }
    // The threads the copies ran on, and their nice values.
    QSet<QThread *> copyThreads() const
    {
        QMutexLocker lock(&m_mutex);
        return m_copyThreads;
    }
    QSet<int> copyNiceness() const
    {
        QMutexLocker lock(&m_mutex);
        return m_copyNiceness;
    }
    bool sawStop() const
    {
        QMutexLocker lock(&m_mutex);
        return m_sawStop;
    }

private:
    mutable QMutex m_mutex;
    QStringList m_log;
    QList<PlanCall> m_plans;
    int m_inFlight = 0;
    int m_mostInFlight = 0;
    bool m_sawStop = false;
    QSet<QThread *> m_copyThreads;
    QSet<int> m_copyNiceness;
    QSemaphore m_started;
    QSemaphore m_release;
};

// Free space that answers what the test sets; none means it cannot be read.
class ScriptedFreeSpace : public FreeSpace {
public:
    std::optional<qint64> available;
    std::optional<qint64> bytesAvailable(const QString &) const override { return available; }
};
