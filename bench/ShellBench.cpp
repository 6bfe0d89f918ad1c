// The application shell's costs, each measured in a fresh process as a user meets it, side by side with a
// bare Qt program started the same way, the sides taking turns in alternating order:
// - the `roadloom` command started as a user starts it, until its window's first frame is on the screen,
//   with an empty library and with a catalog of 100,000 recordings, against a bare Qt Widgets window until
//   its first frame (target: at most 3 times the bare window's, in every round). Both programs are timed by
//   the same plugin (anchor/FrameStamp.cpp), at the same moment: the frame drawn by the display server;
// - resident memory once started with the empty library (target: at most 150 MiB);
// - the longest stall of the GUI thread from the first paint until the catalog is listed, the video stage's
//   creation (its GL canvas, made when the first recording shows) included (limit 50 ms), with the
//   creation's own longest stall and the list's arrival apart;
// - a second `roadloom FOLDER` handing the folder over, start to exit (target: at most 1.5 times a bare
//   QtCore program's start and exit), and until the running instance has the paths and has opened the
//   folder; again while the instance's GUI thread is busy as the launch comes.
// Run it on a display (`xvfb-run -a build/release/bench/bench_ShellBench`); without one it draws offscreen.
#include "BenchSupport.h"
#include "GuiStallProbe.h"

#include "platform/Defaults.h"
#include "platform/InstanceLock.h"
#include "platform/StartupGate.h"
#include "platform/gui/SingleInstance.h"
#include "roadcore/MediaCache.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/model/CacheBackend.h"
#include "roadloom/ui/shell/AppServices.h"
#include "roadloom/ui/shell/MainWindow.h"
#include "roadloom/ui/shell/RoadloomApp.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <optional>
#include <thread>

namespace {

constexpr int recordings = 100'000;
constexpr int frameRounds = 21; // of the first-frame comparison
constexpr int runs = 5;         // in-process starts: listing, stalls and memory
constexpr int handOverRuns = 9;
constexpr int busyGuiMs = 200;

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QList<DashClip> makeClips(int count)
{
    const QDateTime start(QDate(2023, 1, 1), QTime(0, 0), Qt::UTC);
    QList<DashClip> clips;
    clips.reserve(count);
    for (int i = 0; i < count; ++i) {
        DashClip clip;
        const QDateTime date = start.addSecs(qint64(i) * 60);
        clip.name = QStringLiteral("REC_") + date.toString(QStringLiteral("yyyy_MM_dd_HH_mm_ss"));
        clip.id = QStringLiteral("/media/gone/DCIM/") + clip.name + QStringLiteral("_F.MP4");
        clip.category = ClipCategory::continuous;
        clip.date = date;
        clip.byteSize = 100'000'000;
        clip.files = {{Channel::front, clip.id},
                      {Channel::rear, clip.id.chopped(6) + QStringLiteral("_R.MP4")}};
        clips.append(clip);
    }
    return clips;
}

// Sees the first paint of one window.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(QWidget *window, std::function<void()> painted)
        : m_window(window), m_painted(std::move(painted))
    {
        qApp->installEventFilter(this);
    }
    qint64 at = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!at && event->type() == QEvent::Paint && watched->isWidgetType() &&
            static_cast<QWidget *>(watched)->window() == m_window) {
            at = now();
            m_painted();
        }
        return false;
    }

private:
    QWidget *m_window;
    std::function<void()> m_painted;
};

// Times the video stage's creation from outside: from the stage's Show, where it makes its GL canvas, until
// the canvas's container joins it (the first child it takes after that; still a plain QObject then). The
// canvas finishes setting up on the event loop's next turns.
class StageCreation : public QObject {
public:
    static constexpr qint64 settlingMs = 300;
    StageCreation() { qApp->installEventFilter(this); }
    qint64 begun = 0;
    qint64 ended = 0;

    // Whether [from, to] meets the creation or the turns that finish it.
    bool meets(qint64 from, qint64 to) const { return ended && from <= ended + settlingMs && to >= begun; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!begun && event->type() == QEvent::Show && watched->inherits("VideoStage"))
            begun = now();
        else if (begun && !ended && event->type() == QEvent::ChildAdded && watched->inherits("VideoStage"))
            ended = now();
        return false;
    }
};

// The application as main() builds it, over the catalog in `folder`.
struct Application {
    explicit Application(const QString &folder)
        : defaults(QDir(folder).filePath(QStringLiteral("settings.ini"))),
          cache(QDir(folder).filePath(QStringLiteral("Media Cache")))
    {
        AppModel::Services services = real.modelServices();
        services.library.cache = &cache;
        services.library.defaults = &defaults;
        services.defaults = &defaults;
        services.cacheBackend = backend.get();
        model = std::make_unique<AppModel>(std::move(services));
        app = std::make_unique<RoadloomApp>(*model);
    }
    ~Application()
    {
        app.reset();
        model.reset();
    }
    AppServices real;
    Defaults defaults;
    MediaCache cache;
    std::unique_ptr<CacheBackend> backend = CacheBackend::over(cache);
    std::unique_ptr<AppModel> model;
    std::unique_ptr<RoadloomApp> app;
};

// Child: starts like the application over a catalog of `count` recordings and prints when it first
// painted, when the catalog was listed, how long the GUI thread stalled in between, and its resident memory
// once settled.
int startup(int argc, char **argv, const QString &folder, int count)
{
    QApplication qapp(argc, argv);
    GuiStallProbe probe(50);
    GuiStallProbe everyTurn(0); // every gap, to take the stage's creation out
    StageCreation stage;
    const bool trace = qEnvironmentVariableIsSet("ROADLOOM_BENCH_TRACE");
    if (trace)
        std::fprintf(stderr, "app %lld\n", static_cast<long long>(now()));
    StartupGate::close(); // as main() does
    Application application(folder);
    if (trace)
        std::fprintf(stderr, "model %lld\n", static_cast<long long>(now()));
    LibraryStore &library = application.model->library();
    // The main window as RoadloomApp makes it, watched for its first paint from the start; the stall
    // probe starts there, since what comes before is the start-up itself, measured as such.
    std::unique_ptr<FirstPaint> paint;
    application.app->registerWindow(RoadloomApp::mainID, [&paint, &probe, &everyTurn](RoadloomApp &app) {
        auto *main = new MainWindow(app.model());
        paint = std::make_unique<FirstPaint>(main, [&probe, &everyTurn] {
            probe.start();
            everyTurn.start();
        });
        return main;
    });
    application.app->openWindow(RoadloomApp::mainID);
    if (trace)
        std::fprintf(stderr, "window %lld\n", static_cast<long long>(now()));
    qint64 listed = 0;
    qint64 arrived = 0; // when the store published the list
    QObject::connect(&library, &LibraryStore::clipsChanged, &qapp, [&](const QList<DashClip> &clips) {
        if (!arrived && clips.size() >= count && count > 0)
            arrived = now();
    });
    qint64 resident = 0;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &qapp, [&] {
        if (!listed && paint && paint->at && library.clips().size() >= count && !library.isScanning())
            listed = now();
        // With recordings, the first one shows: the stage is made then.
        if (listed && (count == 0 || stage.ended) && !poll.property("done").toBool()) {
            poll.setProperty("done", true);
            // A little more of the loop: the views follow the list, and the window and the stage finish
            // what they put off.
            QTimer::singleShot(1000, &qapp, [&] {
                resident = benchsupport::statusKiB("VmRSS");
                QCoreApplication::quit();
            });
        }
    });
    poll.start();
    QTimer::singleShot(60'000, &qapp, &QCoreApplication::quit);
    qapp.exec();
    probe.stop();
    everyTurn.stop();
    // Apart: the longest stall that meets the stage's creation, and the list's arrival (from the start of
    // the stall it comes in until that stall ends).
    qint64 creationStall = 0, arrival = 0;
    for (const auto &[at, gap] : everyTurn.where()) {
        const qint64 from = at - gap;
        if (stage.meets(from, at))
            creationStall = std::max(creationStall, gap);
        if (arrived && from <= arrived && arrived <= at)
            arrival = gap;
    }
    const qint64 stageMs = stage.ended ? stage.ended - stage.begun : 0;
    if (trace) {
        for (const auto &[at, gap] : probe.where())
            std::fprintf(stderr, "stall %lld ending %lld\n", static_cast<long long>(gap),
                         static_cast<long long>(at));
        std::fprintf(stderr, "stage creation %lld to %lld\n", static_cast<long long>(stage.begun),
                     static_cast<long long>(stage.ended));
    }
    std::printf("%lld %lld %lld %d %lld %lld %lld %lld %lld %.1f\n",
                static_cast<long long>(paint ? paint->at : 0), static_cast<long long>(listed),
                static_cast<long long>(probe.longestGap()), probe.stalls(), static_cast<long long>(resident),
                static_cast<long long>(stageMs), static_cast<long long>(creationStall),
                static_cast<long long>(arrival), static_cast<long long>(arrived), probe.longestGapCpuMs());
    return 0;
}

// Child: a later launch that hands the folder over, as the `roadloom` command does (for builds without it).
int client(int argc, char **argv, const QString &path)
{
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    const InstanceLock::Claim claim =
        InstanceLock::claim(InstanceLock::fileIn(InstanceLock::dataFolderFromEnvironment()),
                            SingleInstance::encode({path}).toStdString(), 3000);
    return claim.outcome == InstanceLock::Outcome::handedOver ? 0 : 1;
}

double maximum(const std::vector<double> &values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

QString anchor(const char *name)
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QString::fromLatin1(name));
}

struct Started {
    double paint = 0;    // ms from the process's start
    double listed = 0;   // ms from the process's start
    double stall = 0;    // ms
    double resident = 0; // MiB
};

// One start of a child; its first output line's first field is when it painted.
std::optional<QStringList> runChild(const QProcessEnvironment &environment, const QString &program,
                                    const QStringList &arguments, qint64 &started)
{
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    started = now();
    child.start(program, arguments);
    if (!child.waitForFinished(90'000) || child.exitCode() != 0)
        return std::nullopt;
    const QStringList fields =
        QString::fromLatin1(child.readAllStandardOutput()).trimmed().split(QLatin1Char(' '));
    if (fields.isEmpty() || fields.at(0).toLongLong() == 0)
        return std::nullopt;
    return fields;
}

// One start of `program` until its first window's first frame is on the screen, in milliseconds from the
// start, as the plugin loaded into it notes (it quits the program then).
std::optional<double> untilFirstFrame(QProcessEnvironment environment, const QString &program,
                                      const QString &stamp)
{
    QFile::remove(stamp);
    environment.insert(QStringLiteral("QT_PLUGIN_PATH"),
                       QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("plugins")));
    environment.insert(QStringLiteral("QT_QPA_GENERIC_PLUGINS"), QStringLiteral("roadloomframestamp"));
    environment.insert(QStringLiteral("ROADLOOM_FRAME_STAMP"), stamp);
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    const qint64 started = now();
    child.start(program, {});
    if (!child.waitForFinished(90'000)) {
        child.kill();
        child.waitForFinished();
        return std::nullopt;
    }
    QFile file(stamp);
    const qint64 at = file.open(QIODevice::ReadOnly) ? file.readLine().trimmed().toLongLong() : 0;
    if (!at)
        return std::nullopt;
    return double(at - started);
}

int measure(int argc, char **argv)
{
    QApplication qapp(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir work, emptyWork;
    // Where the application keeps its data in the children's environment (below).
    const QString dataFolder = work.filePath(QStringLiteral("XDG_DATA_HOME/Roadloom"));
    {
        MediaCache cache(QDir(dataFolder).filePath(QStringLiteral("Media Cache")));
        cache.registerClips(makeClips(recordings));
    }
    const QString self = QCoreApplication::applicationFilePath();
    QTemporaryDir runtime;
    // The children keep their settings, caches, data and instance socket in the work folder.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        environment.insert(QString::fromLatin1(name), work.filePath(QString::fromLatin1(name)));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    QFile(runtime.path()).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    // ROADLOOM_BENCH_ONLY=handover measures the hand-over alone.
    const bool startupRuns = qEnvironmentVariable("ROADLOOM_BENCH_ONLY") != QLatin1String("handover");
#ifdef ROADLOOM_COMMAND
    const QString command = QStringLiteral(ROADLOOM_COMMAND);
#else
    const QString command;
#endif
    // The command over the catalog, and over an empty library (a data and settings folder of its own).
    QProcessEnvironment emptyEnvironment = environment;
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        emptyEnvironment.insert(QString::fromLatin1(name), emptyWork.filePath(QString::fromLatin1(name)));
    const QString stamp = runtime.filePath(QStringLiteral("frame"));
    std::vector<double> bareBesideFull, bareBesideEmpty, emptyFrames, fullFrames;
    const auto side = [&stamp](std::vector<double> &into, const QProcessEnvironment &in,
                               const QString &program) {
        const std::optional<double> took = untilFirstFrame(in, program, stamp);
        if (took)
            into.push_back(*took);
        return took.has_value();
    };
    // Two comparisons of their own, each alternating its order, so that either library meets the bare
    // window's load alike.
    const QString bareWindow = anchor("bench_anchor_window");
    if (startupRuns && !command.isEmpty() &&
        !(benchsupport::alternate(
              frameRounds, [&] { return side(bareBesideFull, environment, bareWindow); },
              [&] { return side(fullFrames, environment, command); }) &&
          benchsupport::alternate(
              frameRounds, [&] { return side(bareBesideEmpty, environment, bareWindow); },
              [&] { return side(emptyFrames, emptyEnvironment, command); }))) {
        out << "a start until the first frame did not finish\n";
        return 1;
    }

    QList<double> listings, published, stalls, stallsCpu, stages, creationStalls, arrivals, residents;
    for (int run = 0; startupRuns && run < runs; ++run) {
        qint64 started = 0;
        for (const bool full : {false, true}) {
            const auto fields = runChild(environment, self,
                                         {QStringLiteral("--startup"), full ? dataFolder : emptyWork.path(),
                                          QString::number(full ? recordings : 0)},
                                         started);
            if (!fields || fields->size() < 5 || fields->at(1).toLongLong() == 0) {
                out << "the start-up run did not finish\n";
                return 1;
            }
            if (full) {
                listings.append(double(fields->at(1).toLongLong() - started));
                published.append(double(fields->value(8).toLongLong() - started));
                stalls.append(fields->at(2).toDouble());
                stallsCpu.append(fields->value(9).toDouble());
                stages.append(fields->value(5).toDouble());
                creationStalls.append(fields->value(6).toDouble());
                arrivals.append(fields->value(7).toDouble());
            } else {
                residents.append(fields->at(4).toDouble() / 1024);
            }
        }
    }
    if (startupRuns && !command.isEmpty()) {
        std::vector<double> bare = bareBesideFull;
        bare.insert(bare.end(), bareBesideEmpty.begin(), bareBesideEmpty.end());
        out << "bare Qt Widgets window, start to its first frame on the screen: "
            << benchsupport::spread(bare, "%.0f") << " ms (median (min-max))\n";
        out << "`roadloom` to its first frame, empty library: " << benchsupport::spread(emptyFrames, "%.0f")
            << " ms; per round the bare window's times "
            << benchsupport::spread(benchsupport::ratios(emptyFrames, bareBesideEmpty))
            << " (target <= 3 in every round)\n";
        out << "`roadloom` to its first frame, " << recordings
            << " catalogued: " << benchsupport::spread(fullFrames, "%.0f")
            << " ms; per round the bare window's times "
            << benchsupport::spread(benchsupport::ratios(fullFrames, bareBesideFull))
            << " (target <= 3 in every round; " << frameRounds << " rounds)\n";
    }
    if (startupRuns) {
        out << "start to the catalog listed: median " << benchsupport::median(listings)
            << " ms (seen by a poll; the store published it after a median "
            << benchsupport::median(published) << " ms)\n";
        const auto asStd = [](const QList<double> &values) {
            return std::vector<double>(values.begin(), values.end());
        };
        out << "longest GUI-thread stall from the first paint until listed and the first recording's stage "
               "is made, its creation included: "
            << benchsupport::spread(asStd(stalls), "%.0f") << " ms (median (min-max) of " << runs
            << " starts; limit 50 in every start); the GUI thread's own processor time in it: "
            << benchsupport::spread(asStd(stallsCpu), "%.0f") << " ms\n";
        out << "  the longest in the stage's creation (its GL canvas, as the first recording shows; the "
               "creation "
               "takes "
            << benchsupport::spread(asStd(stages), "%.0f")
            << " ms in all): " << benchsupport::spread(asStd(creationStalls), "%.0f")
            << " ms; the one the list arrives in: " << benchsupport::spread(asStd(arrivals), "%.0f")
            << " ms\n";
        out << "resident memory after start-up, empty library: median " << benchsupport::median(residents)
            << " MiB (target <= 150)\n";
    }
    out.flush();

    // Hand-over: this process plays the running instance.
    QTemporaryDir empty;
    Application application(empty.path());
    // It holds the children's data folder, and names its socket in the lock file, as the application does.
    InstanceLock::Claim claim = InstanceLock::claim(
        InstanceLock::fileIn(
            QFile::encodeName(work.filePath(QStringLiteral("XDG_DATA_HOME/Roadloom"))).toStdString()),
        {}, 0);
    SingleInstance instance(QDir(runtime.path()).filePath(QStringLiteral("roadloom.socket")));
    if (claim.outcome != InstanceLock::Outcome::held || !instance.listen() ||
        !claim.lock.publish(QFile::encodeName(instance.socketPath()).toStdString()))
        return 1;
    QObject::connect(&instance, &SingleInstance::pathsReceived, application.app.get(),
                     &RoadloomApp::openPaths);
    application.app->openWindow(RoadloomApp::mainID);
    LibraryStore &library = application.model->library();
    // Both programs are started and waited for the same way, on a thread of their own, timed to the
    // microsecond; this thread meanwhile serves the instance, as its event loop would.
    QElapsedTimer clock;
    clock.start();
    const auto milliseconds = [&clock] { return double(clock.nsecsElapsed()) / 1e6; };
    const auto launch = [&](const QString &program, const QStringList &arguments,
                            const std::function<bool()> &done,
                            int busyMs = 0) -> std::optional<std::pair<double, double>> {
        double started = 0, exited = 0;
        bool succeeded = false;
        std::atomic<bool> finished = false;
        std::thread waiter([&] {
            QProcess process;
            process.setProcessEnvironment(environment);
            started = milliseconds();
            process.start(program, arguments);
            succeeded = process.waitForFinished(10'000) && process.exitCode() == 0;
            exited = milliseconds();
            finished = true;
            // Wakes the waiting loop below.
            QMetaObject::invokeMethod(
                &qapp, [] {}, Qt::QueuedConnection);
        });
        // A long task on the GUI thread as the launch comes (a frame, a layout, a dialog's setup).
        QThread::msleep(busyMs);
        // The loop sleeps until an event comes, so that this process takes no core from the measured child;
        // the ticker bounds the wait for a hand-over that never comes.
        QTimer ticker;
        ticker.start(100);
        QElapsedTimer deadline;
        deadline.start();
        while (!(finished && done()) && deadline.elapsed() < 10'000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        ticker.stop();
        waiter.join();
        if (!succeeded || !done())
            return std::nullopt;
        return std::make_pair(started, exited);
    };
    std::vector<double> bareStarts, exits;
    QList<double> handOvers, receipts, busyExits;
    double received = 0;
    QObject::connect(&instance, &SingleInstance::pathsReceived, &qapp,
                     [&received, &milliseconds] { received = milliseconds(); });
    const QString handingOver = command.isEmpty() ? self : command;
    for (int run = 0; run < handOverRuns; ++run) {
        const auto bareSide = [&] {
            const auto bareRun = launch(anchor("bench_anchor_core"), {}, [] { return true; });
            if (bareRun)
                bareStarts.push_back(bareRun->second - bareRun->first);
            return bareRun.has_value();
        };
        const QString folder = empty.filePath(QStringLiteral("Trip %1").arg(run));
        QDir().mkpath(folder);
        double opened = 0;
        const auto handOverSide = [&] {
            const auto handOver = launch(handingOver,
#ifdef ROADLOOM_COMMAND
                                         {folder},
#else
                                         {QStringLiteral("--client"), folder},
#endif
                                         [&] {
                                             if (!opened && library.selectedSourceID() &&
                                                 library.selectedSourceID()->endsWith(folder))
                                                 opened = milliseconds();
                                             return opened > 0;
                                         });
            if (!handOver)
                return false;
            exits.push_back(handOver->second - handOver->first);
            receipts.append(received - handOver->first);
            handOvers.append(opened - handOver->first);
            return true;
        };
        // The order alternates, so that a drift in the machine's load meets both alike.
        if (run % 2 == 0 ? !(bareSide() && handOverSide()) : !(handOverSide() && bareSide()))
            return 1;

        const QString busyFolder = empty.filePath(QStringLiteral("Busy %1").arg(run));
        QDir().mkpath(busyFolder);
        opened = 0;
        const auto busyHandOver = launch(
            handingOver,
#ifdef ROADLOOM_COMMAND
            {busyFolder},
#else
            {QStringLiteral("--client"), busyFolder},
#endif
            [&] {
                if (!opened && library.selectedSourceID() && library.selectedSourceID()->endsWith(busyFolder))
                    opened = milliseconds();
                return opened > 0;
            },
            busyGuiMs);
        if (!busyHandOver)
            return 1;
        busyExits.append(busyHandOver->second - busyHandOver->first);
    }
    out << "bare QtCore program, start to exit: median " << benchsupport::median(bareStarts) << " ms\n";
    out << "second launch (" << QFileInfo(handingOver).fileName()
        << ") handing a folder over, start to exit: median " << benchsupport::median(exits) << " ms, max "
        << maximum(exits) << " ms; per round the bare program's times "
        << benchsupport::ratioSpread(exits, bareStarts) << " (min / median / max; target <= 1.5)\n";
    out << "  the paths arrived after " << benchsupport::median(receipts) << " ms, the folder was open after "
        << benchsupport::median(handOvers) << " ms (medians)\n";
    out << "  with the instance's GUI thread busy for " << busyGuiMs
        << " ms as it comes: start to exit median " << benchsupport::median(busyExits) << " ms\n";
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::setOrganizationName(QStringLiteral("Roadloom"));
    QCoreApplication::setApplicationName(QStringLiteral("Roadloom"));
    if (argc >= 4 && qstrcmp(argv[1], "--startup") == 0)
        return startup(argc, argv, QString::fromLocal8Bit(argv[2]), atoi(argv[3]));
    if (argc >= 3 && qstrcmp(argv[1], "--prepare") == 0) {
        QCoreApplication qapp(argc, argv);
        MediaCache(QDir(QString::fromLocal8Bit(argv[2])).filePath(QStringLiteral("Media Cache")))
            .registerClips(makeClips(recordings));
        return 0;
    }
    if (argc >= 3 && qstrcmp(argv[1], "--client") == 0)
        return client(argc, argv, QString::fromLocal8Bit(argv[2]));
    return measure(argc, argv);
}
