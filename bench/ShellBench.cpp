// The application shell's costs, each measured in a fresh process as a user meets it:
// - start-up to the main window's first paint with a catalog of 100,000 recordings (limit 400 ms, from the
//   moment the process is started, dynamic loading included);
// - the longest stall of the GUI thread while that catalog is first listed (limit 50 ms);
// - a second launch handing a folder over until the running instance has opened it (limit 200 ms, the
//   second process's start included).
// Run it on a display (`xvfb-run -a build/release/bench/bench_ShellBench`); without one it draws offscreen.
#include "GuiStallProbe.h"

#include "platform/Defaults.h"
#include "platform/gui/SingleInstance.h"
#include "roadcore/MediaCache.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/model/CacheBackend.h"
#include "roadloom/ui/AppServices.h"
#include "roadloom/ui/MainWindow.h"
#include "roadloom/ui/RoadloomApp.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int recordings = 100'000;
constexpr int runs = 5;

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
    explicit FirstPaint(QWidget *window) : m_window(window) { qApp->installEventFilter(this); }
    qint64 at = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!at && event->type() == QEvent::Paint && watched->isWidgetType() &&
            static_cast<QWidget *>(watched)->window() == m_window)
            at = now();
        return false;
    }

private:
    QWidget *m_window;
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

// Child: starts like the application and prints when it first painted and how long the GUI thread stalled
// until the catalog was listed.
int startup(int argc, char **argv, const QString &folder)
{
    QApplication qapp(argc, argv);
    GuiStallProbe probe(50);
    probe.start();
    const bool trace = qEnvironmentVariableIsSet("ROADLOOM_BENCH_TRACE");
    if (trace)
        std::fprintf(stderr, "app %lld\n", static_cast<long long>(now()));
    Application application(folder);
    if (trace)
        std::fprintf(stderr, "model %lld\n", static_cast<long long>(now()));
    LibraryStore &library = application.model->library();
    // The main window as RoadloomApp makes it, watched for its first paint from the start.
    std::unique_ptr<FirstPaint> paint;
    application.app->registerWindow(RoadloomApp::mainID, [&paint](RoadloomApp &app) {
        auto *main = new MainWindow(app.model());
        paint = std::make_unique<FirstPaint>(main);
        return main;
    });
    application.app->openWindow(RoadloomApp::mainID);
    if (trace)
        std::fprintf(stderr, "window %lld\n", static_cast<long long>(now()));
    qint64 listed = 0;
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &qapp, [&] {
        if (!listed && library.clips().size() >= recordings && !library.isScanning()) {
            listed = now();
            // A little more of the loop after the list arrived: the views follow it.
            QTimer::singleShot(300, &qapp, &QCoreApplication::quit);
        }
    });
    poll.start();
    QTimer::singleShot(60'000, &qapp, &QCoreApplication::quit);
    qapp.exec();
    probe.stop();
    if (trace)
        for (const auto &[at, gap] : probe.where())
            std::fprintf(stderr, "stall %lld ending %lld\n", static_cast<long long>(gap),
                         static_cast<long long>(at));
    std::printf("%lld %lld %lld %d\n", static_cast<long long>(paint ? paint->at : 0),
                static_cast<long long>(listed), static_cast<long long>(probe.longestGap()), probe.stalls());
    return 0;
}

// Child: a later launch that hands the folder over, as main() does.
int client(int argc, char **argv, const QString &socket, const QString &path)
{
    // As main() does: before any application object.
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    SingleInstance instance(socket);
    return instance.handOver({path}) ? 0 : 1;
}

double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}

int measure(int argc, char **argv)
{
    QApplication qapp(argc, argv);
    QTextStream out(stdout);
    QTemporaryDir work;
    {
        MediaCache cache(work.filePath(QStringLiteral("Media Cache")));
        cache.registerClips(makeClips(recordings));
    }
    const QString self = QCoreApplication::applicationFilePath();
    // The children keep their settings, caches and data in the work folder.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        environment.insert(QString::fromLatin1(name), work.filePath(QString::fromLatin1(name)));

    QList<double> paints, listings, stalls;
    // ROADLOOM_BENCH_ONLY=handover measures the hand-over alone.
    const bool startupRuns = qEnvironmentVariable("ROADLOOM_BENCH_ONLY") != QLatin1String("handover");
    for (int run = 0; startupRuns && run < runs; ++run) {
        QProcess child;
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const qint64 started = now();
        child.start(self, {QStringLiteral("--startup"), work.path()});
        if (!child.waitForFinished(90'000))
            return 1;
        const QStringList fields = QString::fromLatin1(child.readAllStandardOutput()).split(QLatin1Char(' '));
        if (fields.size() < 4 || fields.at(0).toLongLong() == 0 || fields.at(1).toLongLong() == 0) {
            out << "the start-up run did not finish\n";
            return 1;
        }
        paints.append(double(fields.at(0).toLongLong() - started));
        listings.append(double(fields.at(1).toLongLong() - started));
        stalls.append(fields.at(2).toDouble());
    }
    if (startupRuns) {
        out << "start-up to first paint, " << recordings << " catalogued: median " << median(paints)
            << " ms (limit 400), max " << *std::max_element(paints.begin(), paints.end()) << " ms\n";
        out << "start-up to the catalog listed: median " << median(listings) << " ms\n";
        out << "longest GUI-thread stall until listed: max "
            << *std::max_element(stalls.begin(), stalls.end()) << " ms (limit 50)\n";
    }
    out.flush();

    // Hand-over: this process plays the running instance.
    QTemporaryDir empty;
    Application application(empty.path());
    const QString socket = empty.filePath(QStringLiteral("instance.socket"));
    SingleInstance instance(socket);
    if (!instance.listen())
        return 1;
    QObject::connect(&instance, &SingleInstance::pathsReceived, application.app.get(),
                     &RoadloomApp::openPaths);
    application.app->openWindow(RoadloomApp::mainID);
    LibraryStore &library = application.model->library();
    QList<double> handOvers, receipts;
    qint64 received = 0;
    QObject::connect(&instance, &SingleInstance::pathsReceived, &qapp, [&received] { received = now(); });
    for (int run = 0; run < runs; ++run) {
        const QString folder = empty.filePath(QStringLiteral("Trip %1").arg(run));
        QDir().mkpath(folder);
        QProcess child;
        child.setProcessEnvironment(environment);
        const qint64 started = now();
        child.start(self, {QStringLiteral("--client"), socket, folder});
        QElapsedTimer deadline;
        deadline.start();
        while (!(library.selectedSourceID() && library.selectedSourceID()->endsWith(folder)) &&
               deadline.elapsed() < 10'000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        handOvers.append(double(now() - started));
        receipts.append(double(received - started));
        child.waitForFinished(10'000);
        if (child.exitCode() != 0)
            return 1;
    }
    out << "second launch to folder opened: median " << median(handOvers) << " ms (limit 200), max "
        << *std::max_element(handOvers.begin(), handOvers.end()) << " ms; the paths arrived after "
        << median(receipts) << " ms (median)\n";
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::setOrganizationName(QStringLiteral("Roadloom"));
    QCoreApplication::setApplicationName(QStringLiteral("Roadloom"));
    if (argc >= 3 && qstrcmp(argv[1], "--startup") == 0)
        return startup(argc, argv, QString::fromLocal8Bit(argv[2]));
    if (argc >= 3 && qstrcmp(argv[1], "--prepare") == 0) {
        QCoreApplication qapp(argc, argv);
        MediaCache(QDir(QString::fromLocal8Bit(argv[2])).filePath(QStringLiteral("Media Cache")))
            .registerClips(makeClips(recordings));
        return 0;
    }
    if (argc >= 4 && qstrcmp(argv[1], "--client") == 0)
        return client(argc, argv, QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    return measure(argc, argv);
}
