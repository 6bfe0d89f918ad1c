#pragma once

#include "platform/Result.h"
#include "roadcore/CacheJob.h"
#include "roadcore/Channel.h"
#include "roadcore/DashClip.h"
#include "roadcore/MediaCacheTypes.h"
#include "roadloom/model/CachePlanner.h"
#include "roadloom/model/FailedCopies.h"
#include "roadloom/model/RetryPause.h"

#include <QDeadlineTimer>
#include <QFuture>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class CacheBackend;
class Defaults;
class FreeSpace;

// Copies imported recordings into the media cache in the background, one file at a time, the recording
// that is playing first, so that they keep playing once the card is out. Publishes the progress of the run,
// the last error and the cache's usage for the status line and the settings. Lives on the GUI thread; the
// copies run on a thread of their own at low priority, the other cache calls on another.
class CacheCoordinator : public QObject, public CachePlanner {
    Q_OBJECT
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)
    Q_PROPERTY(bool isPaused READ isPaused WRITE setIsPaused NOTIFY isPausedChanged)
    Q_PROPERTY(int completedFiles READ completedFiles NOTIFY completedFilesChanged)
    Q_PROPERTY(int totalFiles READ totalFiles NOTIFY totalFilesChanged)
    Q_PROPERTY(qint64 completedBytes READ completedBytes NOTIFY completedBytesChanged)
    Q_PROPERTY(qint64 totalBytes READ totalBytes NOTIFY totalBytesChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(std::optional<QString> currentName READ currentName NOTIFY currentNameChanged)
    Q_PROPERTY(std::optional<QString> lastError READ lastError NOTIFY lastErrorChanged)
    Q_PROPERTY(std::optional<QString> lastErrorDetail READ lastErrorDetail NOTIFY lastErrorDetailChanged)
    Q_PROPERTY(std::optional<QString> clearRefusal READ clearRefusal NOTIFY clearRefusalChanged)
    Q_PROPERTY(std::optional<MediaCacheUsage> usage READ usage NOTIFY usageChanged)

public:
    // Bytes that must stay free on the cache's volume beside each copy.
    static constexpr qint64 freeSpaceReserve = 2'000'000'000;

    // What the coordinator works with; all but `playingKey` (none: nothing playing) are required.
    struct Services {
        CacheBackend *cache = nullptr;        // not owned; must outlive the coordinator
        const FreeSpace *freeSpace = nullptr; // not owned
        Defaults *defaults = nullptr;         // not owned
        // The catalog key of the recording loaded in the player, copied first.
        std::function<std::optional<QString>()> playingKey;
        // The first pause before the catalog is written again after a copy could not be recorded; it
        // doubles with each failed try up to a minute.
        std::chrono::milliseconds firstRetryPause = std::chrono::seconds(1);
    };

    explicit CacheCoordinator(Services services, QObject *parent = nullptr);
    // Stops a copy in progress at once: its partial file goes, the catalog stays as it was.
    ~CacheCoordinator() override;
    // Tells the copy in progress to end; `finish` waits for it. Apart, so that a quit tells every writer of
    // the catalog before it waits for any: the copy may be waiting for another's catalog call.
    void stop();
    // Cuts off the copy in progress and waits for it and the cache's calls to end, or at most until
    // `deadline`: nothing is recorded after this, so what the program writes last at its end is the whole
    // story. False when a copy or a call still runs at the deadline (a source that stopped answering):
    // it is abandoned, and whatever it would record later the media cache refuses once its journal was
    // folded for the quit.
    bool finish(QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever));

    bool isRunning() const { return m_isRunning; }
    bool isPaused() const { return m_isPaused; }
    int completedFiles() const { return m_completedFiles; }
    int totalFiles() const { return m_totalFiles; }
    qint64 completedBytes() const { return m_completedBytes; }
    qint64 totalBytes() const { return m_totalBytes; }
    // Share of the run's bytes copied: 0 while nothing is planned.
    double progress() const;
    std::optional<QString> currentName() const { return m_currentName; }
    // What went wrong, a line each, without the names of files and recordings, which would crowd out what
    // failed and why: a clear and removals the cache refused, until one goes through; why caching paused
    // itself, and the copies that failed for each cause (see FailedCopies), until the next run.
    std::optional<QString> lastError() const { return m_lastError; }
    // The same with the names: each refused removal's recording, and each failed copy with what went
    // wrong, a line each.
    std::optional<QString> lastErrorDetail() const { return m_lastErrorDetail; }
    // Why the last clear was refused, until a clear goes through.
    std::optional<QString> clearRefusal() const;
    std::optional<MediaCacheUsage> usage() const { return m_usage; }

    // Pausing takes effect before the next file; resuming starts a run, or a new plan when one is active.
    void setIsPaused(bool paused);

    // Starts a caching run, or asks the active one to plan again before its next file. Nothing while paused.
    void start() override;
    // Copies the recording whatever the policy says, from the next plan on; resumes paused caching.
    void cacheNow(const DashClip &clip);
    // Drops the recording's copies whose originals are reachable at this moment and gives it back to the
    // policy. A run in progress goes on.
    void removeCopy(const DashClip &clip);
    void refreshUsage();
    // The media cache's root folder.
    QString root() const;
    // Clears the cache (see CacheBackend::clear) after the cache calls already asked for; the future ends
    // on the GUI thread once the clear is done.
    QFuture<void> clear(bool keepingUnavailable);

signals:
    void isRunningChanged(bool isRunning);
    void isPausedChanged(bool isPaused);
    void completedFilesChanged(int files);
    void totalFilesChanged(int files);
    void completedBytesChanged(qint64 bytes);
    void totalBytesChanged(qint64 bytes);
    void progressChanged(double progress);
    void currentNameChanged(const std::optional<QString> &name);
    void lastErrorChanged(const std::optional<QString> &error);
    void lastErrorDetailChanged(const std::optional<QString> &detail);
    void clearRefusalChanged(const std::optional<QString> &refusal);
    void usageChanged(const std::optional<MediaCacheUsage> &usage);
    // A channel of a recording got its stored copy: the library marks it.
    void channelCached(const QString &key, Channel channel);
    // Copies of a recording were removed: the library reads its storage states again.
    void copiesRemoved(const QString &key);
    // Copies whose record could not be written before are in the catalog now: the same.
    void copiesRecorded();
    // The catalog could not be read and was kept at `path`; the library starts empty. Announced once.
    void catalogSetAside(const QString &path);

private:
    void plan();
    void planned(const QList<CacheJob> &jobs);
    void nextJob();
    void copied(const CacheJob &job, const Result<void> &result);
    void afterJobs();
    void finishRun();
    void fetchUsage(std::function<void()> then);
    // Writes the catalog again after a pause, while what a copy recorded has not reached it.
    void retryRecording();
    void recordAgain();

    // Runs `work` with the cache on the call thread, then `done` with its result on the GUI thread.
    template <class T> void call(std::function<T(CacheBackend &)> work, std::function<void(T)> done);

    void setIsRunning(bool running);
    void setCounters(int completedFiles, int totalFiles, qint64 completedBytes, qint64 totalBytes,
                     bool notifyAlways = false);
    void setCurrentName(const std::optional<QString> &name);
    // Composes the error line from what each source of errors holds.
    void publishErrors();
    void noteFailedCopy(const CacheJob &job, const Failure &failure);

    CacheBackend *m_cache = nullptr;
    const FreeSpace *m_freeSpace = nullptr;
    Defaults *m_defaults = nullptr;
    std::function<std::optional<QString>()> m_playingKey;

    bool m_isRunning = false;
    bool m_isPaused = false;
    int m_completedFiles = 0;
    int m_totalFiles = 0;
    qint64 m_completedBytes = 0;
    qint64 m_totalBytes = 0;
    std::optional<QString> m_currentName;
    std::optional<QString> m_lastError;
    std::optional<QString> m_lastErrorDetail;
    struct RefusedClear {
        bool keepingUnavailable = false; // it would have kept the copies whose originals are away
        QString cause;
    };
    std::optional<RefusedClear> m_refusedClear;
    struct RefusedRemoval {
        QString key, name, cause;
    };
    // In the order refused.
    QList<RefusedRemoval> m_refusedRemovals;
    std::optional<QString> m_pausedFor; // the file the free space was short for, in this run
    FailedCopies m_failedCopies;        // of this run
    std::optional<MediaCacheUsage> m_usage;
    int m_copiesSinceUsage = 0; // copies made since the usage was last asked for
    bool m_replanRequested = false;
    QSet<QString> m_forcedKeys;

    QList<CacheJob> m_jobs;
    qsizetype m_nextJob = 0;

    RetryPause m_retryPause;
    QTimer m_retryTimer;

    std::atomic<bool> m_stop{false};
    // Plans, usage and removals, one after the other, so the GUI thread never waits on the disk.
    QThreadPool m_callPool;
    // The one copy in flight.
    QThreadPool m_copyPool;
};
