#pragma once

#include "platform/Result.h"
#include "platform/ThreadGroup.h"
#include "platform/UniqueFd.h"
#include "roadcore/Channel.h"
#include "roadcore/DashClip.h"
#include "roadcore/ExportPreset.h"
#include "roadcore/Telemetry.h"
#include "roadcore/TelemetryExporter.h"
#include "roadloom/model/ExportQuality.h"
#include "roadloom/model/PlayerServices.h"

#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QSemaphore>
#include <QString>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

// Writes one movie of a time range: source, start, end, preset, destination, progress (0...1), cancel.
using MovieExporter = std::function<Result<void>(
    const QString &source, double start, double end, const ExportPreset &preset, const QString &destination,
    std::atomic<double> *progress, const std::atomic<bool> *cancel)>;

// What the export sheet asks for, captured when "Export…" is pressed.
struct ClipExportRequest {
    std::optional<DashClip> clip;
    QList<std::pair<Channel, QString>> sources; // the ticked cameras that can be played, in channel order
    double start = 0;
    double end = 0;
    ExportQuality quality = ExportQuality::original;
    bool includeGPX = true;
};

// One export run: a movie per camera, then the GPS track of the range, written on its own thread into the
// chosen folder. A name is reserved by creating its hidden ".NAME.part", locked while the run lives, so two
// runs into one folder never share a name; the file is written there and takes its name only when complete,
// so nothing incomplete ever has a final name. Failure or cancel removes the incomplete file; finished
// movies stay. Hidden files of runs that were killed are removed by the next run into the folder. Lives on
// the GUI thread.
class ClipExportJob : public QObject {
    Q_OBJECT
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)

public:
    struct Plan {
        ClipExportRequest request;
        QString folder;
        std::optional<Telemetry> telemetry; // none: read from the recording's files on the job's thread
        PlayerServices services;            // resolves and reads the recording for that
        SpeedUnit unit = SpeedUnit::kmh;
        MovieExporter exportMovie;
    };

    explicit ClipExportJob(Plan plan, QObject *parent = nullptr);
    // Cancels the run and waits for its thread.
    ~ClipExportJob() override;

    // Runs the export on a thread of its own; when none can be started, the run fails as an export would.
    void start();
    // Stops the run at the next packet and waits until its incomplete movie is gone, or at most until
    // `deadline`: false when the run still goes then (a file system holds it), and this job must then stay
    // until the program ends.
    bool cancelAndWait(QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever));
    // Tells the run to stop at the next packet, without waiting.
    void cancel();
    // Whether the run's thread has ended (or never ran), waiting up to `wait` for it: a movie written into
    // a folder that stopped answering may never end.
    bool endsWithin(std::chrono::milliseconds wait);

    // (movies done + fraction of the current one) / movies; polled every 0.2 s, never going back.
    double progress() const { return m_progress; }
    bool isRunning() const { return m_started && !m_done; }
    bool isFinished() const { return m_done; }
    // A sheet shows this run's failure itself while it is watching.
    void setWatched(bool watched) { m_watched = watched; }
    bool isWatched() const { return m_watched; }

    // "_1m15.5-1m45.5": the range as shown, ":" becoming "m" so it can be part of a file name.
    static QString nameSuffix(double start, double end);
    // A name held for a file being written: its hidden file exists and is locked, the name itself does not.
    class Reservation {
    public:
        Reservation(QString path, QString partial, UniqueFd lock);
        Reservation(Reservation &&) = default;
        Reservation &operator=(Reservation &&) = default;
        // Removes the hidden file unless it took its name.
        ~Reservation();

        const QString &path() const { return m_path; }
        const QString &partial() const { return m_partial; }
        int descriptor() const { return m_lock.get(); }
        // Gives the complete file its name, or the next free one should the name have been taken meanwhile;
        // returns the name it got.
        Result<QString> complete();

    private:
        QString m_path;
        QString m_partial;
        UniqueFd m_lock;
    };
    // Reserves `path`, or the first free "base N.ext".
    static Result<Reservation> reserve(const QString &path);
    // Moves `from` to `to` unless a file is there: 0, or the error (EEXIST when the name is taken).
    // Without `oneStep`, takes the way of a file system that refuses to rename without replacing.
    static int moveWithoutReplacing(const QByteArray &from, const QByteArray &to, bool oneStep = true);
    // The hidden file a reserved name is written under.
    static QString partialPath(const QString &path);
    // Removes the hidden files, and the empty files of the same name that earlier versions reserved with,
    // that runs killed before they ended left in a folder. Files of runs still going are locked and kept.
    static void removeAbandoned(const QString &folder);

signals:
    void progressChanged(double progress);
    // The movies written, the last one's path, and the count.
    void succeeded(const QString &lastMovie, int count);
    void failed(const QString &message);

private:
    struct Outcome {
        int movies = 0;
        QString lastMovie;
        std::optional<QString> error;
        bool cancelled = false;
    };
    Outcome run();
    std::optional<QString> writeTrack();
    void poll();
    void deliver();

    Plan m_plan;
    ThreadGroup m_thread;
    bool m_started = false;
    bool m_threadStarted = false;
    QSemaphore m_ended; // released by the run's thread as it ends
    QTimer m_poll;
    std::atomic<bool> m_cancel{false};
    std::atomic<int> m_index{0};
    std::atomic<double> m_fraction{0};
    Outcome m_outcome; // written by the thread before it ends
    std::mutex m_endMutex;
    std::condition_variable m_endChanged;
    bool m_threadEnded = false; // the run's thread has nothing left to do
    bool m_done = false;
    bool m_watched = false;
    double m_progress = 0;
};
