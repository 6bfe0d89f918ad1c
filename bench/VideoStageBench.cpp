// The video stage as the application shows it, against two mpv programs, in alternating rounds. Our side is
// the application in a process of its own (the main window at its default size, a two-channel recording
// loaded, the inset on), started as Space starts it; the other is two `mpv --no-config` programs with
// windows of the stage's and the inset's size. Both channels are generated moving clips of a camera's size
// and rate. Each round gives each side's processor time, read from outside between the start and the end of
// playback (the bench's own waiting runs in the bench), and its dropped frames (mpv's frame-drop-count and
// vo-delayed-frame-count, and for the stage also the frames its canvas never put on the screen, and how many
// dropped in the first second, where a start shows); then the per-round CPU ratio, min / median / max. Also
// the stage process's peak memory and the heads-up display's paint per tick. Needs an X display:
//   tests/fixtures/xvfb.sh bench_VideoStageBench [SECONDS] [ROUNDS] [WxH]
// (default: 20 s rounds, 6 of them, 1920x1080 clips at 30 fps, the front one with sound).
#include "BenchSupport.h"
#include "platform/Defaults.h"
#include "platform/StartupGate.h"
#include "platform/gui/MpvPlayer.h"
#include "platform/gui/StageCanvas.h"
#include "platform/gui/StageGeometry.h"
#include "roadcore/MediaCache.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/model/CacheBackend.h"
#include "roadloom/model/Preferences.h"
#include "roadloom/ui/detail/VideoHUD.h"
#include "roadloom/ui/detail/VideoStage.h"
#include "roadloom/ui/shell/AppServices.h"
#include "roadloom/ui/shell/RoadloomApp.h"

#include <mpv/client.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QLoggingCategory>
#include <QProcess>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include <unistd.h>

namespace {

constexpr double frameRate = 30; // of both clips
constexpr int loadTimeoutMs = 60000;

// Processor seconds of a running process, all its threads, as the kernel counts them in clock ticks: read
// the same way for our process and for mpv's.
double processSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command's name, which may hold spaces: state is the first, utime the 12th.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(900000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// Frames mpv dropped or showed late for this player.
qint64 dropped(VideoPlayer &player)
{
    auto *mpv = qobject_cast<MpvPlayer *>(&player);
    if (!mpv || !mpv->handle())
        return -1;
    qint64 total = 0;
    for (const char *name : {"frame-drop-count", "vo-delayed-frame-count"}) {
        int64_t count = 0;
        if (mpv_get_property(mpv->handle(), name, MPV_FORMAT_INT64, &count) >= 0)
            total += count;
    }
    return total;
}

// Telemetry for every second of the clip, so the display shows all three readings.
Telemetry telemetryFor(int seconds, const QDateTime &start)
{
    QList<SensorSample> sensor;
    QList<GPSFix> gps;
    for (int i = 0; i <= seconds * 10; ++i) {
        SensorSample s;
        s.time = i / 10.0;
        s.x = 0.1 * (i % 7);
        s.z = 1.0 + 0.1 * (i % 11);
        sensor.append(s);
    }
    for (int i = 0; i <= seconds; ++i) {
        GPSFix fix;
        fix.time = i;
        fix.latitude = 37.5 + i * 1e-4;
        fix.longitude = 127.0;
        fix.speedKnots = 20 + i % 30;
        fix.timestamp = start.addSecs(i);
        gps.append(fix);
    }
    return Telemetry(sensor, gps, QStringLiteral("bench"));
}

// Our side: the application over a private folder, the recording loaded in its main window. Tells the
// bench "ready W H IW IH" (the stage's and the inset's sizes) and waits; "go" starts playback as Space
// does, "stop" pauses it and tells "result ..."; then "hud" times the heads-up display and "quit" ends.
int stageSide(int argc, char **argv)
{
    const QString frontPath = QString::fromLocal8Bit(argv[2]);
    const QString rearPath = QString::fromLocal8Bit(argv[3]);
    const int seconds = atoi(argv[4]);
    const QDir folder(QString::fromLocal8Bit(argv[5]));
    QApplication qapp(argc, argv);
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
        std::fprintf(stderr, "needs an X display: run under tests/fixtures/xvfb.sh\n");
        return 2;
    }
    const QDateTime start(QDate(2024, 5, 1), QTime(10, 0), Qt::UTC);
    StartupGate::close(); // as main() does; the window opens it
    Defaults defaults(folder.filePath(QStringLiteral("settings.ini")));
    MediaCache cache(folder.filePath(QStringLiteral("Media Cache")));
    std::unique_ptr<CacheBackend> backend = CacheBackend::over(cache);
    AppServices appServices;
    AppModel::Services services = appServices.modelServices();
    services.defaults = &defaults;
    services.library.defaults = &defaults;
    services.library.cache = &cache;
    services.cacheBackend = backend.get();
    services.players = [](PlayerRole role) -> std::unique_ptr<VideoPlayer> {
        MpvPlayerOptions options;
        options.audio = role == PlayerRole::master;
        options.audioOutput = "null";
        return std::make_unique<MpvPlayer>(options);
    };
    PlayerServices playerServices = AppServices::playerServices();
    playerServices.resolve = [](const DashClip &clip) { return clip; };
    playerServices.readTelemetry = [seconds, start](const ChannelFiles &) {
        return telemetryFor(seconds, start);
    };
    services.playerServices = playerServices;
    AppModel model(std::move(services));
    // The map asks for its tiles somewhere that answers at once and never over the network.
    model.preferences().setMapTileURL(QStringLiteral("http://127.0.0.1:9/{z}/{x}/{y}.png"));
    QLoggingCategory::setFilterRules(QStringLiteral("roadloom.map.warning=false"));
    RoadloomApp app(model);
    QWidget *window = app.openWindow(RoadloomApp::mainID);
    PlayerController &player = model.player();

    DashClip clip;
    clip.id = clip.name = QStringLiteral("REC");
    clip.date = start;
    clip.files = {{Channel::front, frontPath}, {Channel::rear, rearPath}};
    // After the window's own first load of the (empty) selection, which runs in its first turns.
    QTimer::singleShot(500, &qapp, [&] { player.load(clip, false); });

    VideoStage *stage = nullptr;
    const auto loaded = [&] {
        stage = window ? window->findChild<VideoStage *>() : nullptr;
        return stage && stage->canvas() && stage->isVisible() && player.hasMedia() && player.duration() > 0 &&
               player.rear().facts().has_value();
    };
    QTimer loading;
    QElapsedTimer loadClock;
    loadClock.start();
    QObject::connect(&loading, &QTimer::timeout, &qapp, [&] {
        if (loadClock.elapsed() > loadTimeoutMs) {
            std::fprintf(stderr, "the recording did not load: %s (stage %d, canvas %d, shown %d, media %d)\n",
                         qPrintable(player.loadError().value_or(QStringLiteral("timeout"))), stage != nullptr,
                         stage && stage->canvas(), stage && stage->isVisible(), player.hasMedia());
            qapp.exit(1);
        }
        if (!loaded())
            return;
        loading.stop();
        QTimer::singleShot(500, &qapp, [&] {
            const QSizeF size = stage->size();
            const QRectF inset = StageGeometry::insetRect(size, player.aspectRatio());
            std::printf("ready %d %d %d %d\n", qRound(size.width()), qRound(size.height()),
                        qRound(inset.width()), qRound(inset.height()));
            std::fflush(stdout);
        });
    });
    loading.start(50);

    StageCanvas::Counts before;
    qint64 dropsBefore[2] = {0, 0};
    qint64 firstSecond[2] = {-1, -1}; // dropped or late in the first second, where a start shows
    VideoPlayer *players[] = {&player.front(), &player.rear()};
    // mpv starts its counts again after a jump (a follower catching up): then those since are all.
    const auto droppedSince = [&](size_t i) {
        const qint64 now = dropped(*players[i]);
        return now < 0 ? -1 : now >= dropsBefore[i] ? now - std::max<qint64>(0, dropsBefore[i]) : now;
    };
    // ROADLOOM_BENCH_TRACE=1 says on standard error when frames drop and how far the follower is off (its
    // polling costs processor time of its own).
    std::unique_ptr<QTimer> trace;
    if (qEnvironmentVariableIsSet("ROADLOOM_BENCH_TRACE")) {
        trace = std::make_unique<QTimer>();
        QObject::connect(trace.get(), &QTimer::timeout, &qapp, [&] {
            static qint64 seen[2] = {-1, -1};
            const qint64 now[2] = {dropped(player.front()), dropped(player.rear())};
            const double drift = player.rear().currentTime() - player.front().currentTime();
            if (now[0] != seen[0] || now[1] != seen[1] || std::abs(drift) > 0.1)
                std::fprintf(stderr,
                             "at %.3f s: dropped or late front %lld rear %lld, follower off by %.3f s\n",
                             player.front().currentTime(), static_cast<long long>(now[0]),
                             static_cast<long long>(now[1]), drift);
            seen[0] = now[0];
            seen[1] = now[1];
        });
    }
    const auto finish = [&] {
        if (trace)
            trace->stop();
        player.togglePlay();
        const double reached = player.currentTime();
        const StageCanvas::Counts after = stage->canvas()->counts();
        qint64 drops[2], lost[2], missing[2], renders[2];
        const qint64 expected = std::llround(reached * frameRate);
        for (size_t i = 0; i < 2; ++i) {
            drops[i] = droppedSince(i);
            lost[i] = after.lost[i] - before.lost[i];
            renders[i] = after.renders[i] - before.renders[i];
            // A catch-up seek skips frames without mpv counting them as dropped: count what was shown.
            missing[i] = std::max<qint64>(0, expected - (renders[i] - lost[i]));
        }
        std::printf("result %lld %lld %lld %lld %lld %lld %lld %lld %d %.3f %lld %lld %lld\n",
                    static_cast<long long>(drops[0]), static_cast<long long>(drops[1]),
                    static_cast<long long>(lost[0]), static_cast<long long>(lost[1]),
                    static_cast<long long>(missing[0]), static_cast<long long>(missing[1]),
                    static_cast<long long>(renders[0]), static_cast<long long>(renders[1]),
                    after.paints - before.paints, reached,
                    static_cast<long long>(benchsupport::statusKiB("VmHWM")),
                    static_cast<long long>(firstSecond[0]), static_cast<long long>(firstSecond[1]));
        std::fflush(stdout);
    };
    // The display's picture at each tick, as the stage's canvas asks for it: move the playhead, draw it.
    const auto timeHUD = [&] {
        std::vector<double> paints;
        for (int i = 0; i < 900; ++i) {
            player.setCurrentTime(i / 30.0);
            QElapsedTimer paint;
            paint.start();
            const QImage picture = stage->hud()->picture(2.0);
            paints.push_back(paint.nsecsElapsed() / 1e6);
            if (picture.isNull())
                return;
        }
        std::sort(paints.begin(), paints.end());
        std::printf("hud %.3f %.3f %.3f\n", paints[paints.size() / 2], paints[paints.size() * 99 / 100],
                    paints.back());
        std::fflush(stdout);
    };

    QSocketNotifier commands(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&commands, &QSocketNotifier::activated, &qapp, [&] {
        char line[64] = {};
        const ssize_t got = ::read(STDIN_FILENO, line, sizeof line - 1);
        const QByteArray command = QByteArray(line, int(std::max<ssize_t>(got, 0))).trimmed();
        if (got <= 0 || command == "quit") {
            commands.setEnabled(false);
            qapp.quit();
        } else if (command == "go" && stage) {
            before = stage->canvas()->counts();
            dropsBefore[0] = dropped(player.front());
            dropsBefore[1] = dropped(player.rear());
            player.togglePlay();
            firstSecond[0] = firstSecond[1] = -1;
            QTimer::singleShot(1000, &qapp, [&] {
                for (size_t i = 0; i < 2; ++i)
                    firstSecond[i] = droppedSince(i);
            });
            if (trace)
                trace->start(20);
        } else if (command == "stop" && stage) {
            finish();
        } else if (command == "hud" && stage) {
            timeHUD();
        }
    });
    return qapp.exec();
}

// An mpv program driven through its JSON socket, as our player drives its mpv through the client API.
class MpvProgram {
public:
    MpvProgram(const QString &socket, const QStringList &arguments) : m_path(socket)
    {
        m_process.setStandardInputFile(QProcess::nullDevice());
        m_process.start("mpv", arguments + QStringList{"--input-ipc-server=" + socket});
    }
    ~MpvProgram()
    {
        if (m_process.state() != QProcess::NotRunning) {
            command({"quit"});
            if (!m_process.waitForFinished(10000)) {
                m_process.kill();
                m_process.waitForFinished();
            }
        }
    }
    qint64 pid() const { return m_process.processId(); }

    // The reply's data; nothing when mpv answers with an error or not at all.
    std::optional<QJsonValue> command(const QJsonArray &words)
    {
        if (!connected())
            return std::nullopt;
        const int id = ++m_lastID;
        m_socket.write(QJsonDocument(QJsonObject{{"command", words}, {"request_id", id}})
                           .toJson(QJsonDocument::Compact) +
                       '\n');
        m_socket.flush();
        QElapsedTimer waiting;
        waiting.start();
        while (waiting.elapsed() < 10000) {
            while (m_socket.canReadLine()) {
                const QJsonObject reply = QJsonDocument::fromJson(m_socket.readLine()).object();
                if (reply.value("request_id").toInt() != id)
                    continue; // an event, or a late reply
                if (reply.value("error").toString() != QLatin1String("success"))
                    return std::nullopt;
                return reply.value("data");
            }
            if (!m_socket.waitForReadyRead(1000) && m_socket.state() != QLocalSocket::ConnectedState)
                return std::nullopt;
        }
        return std::nullopt;
    }
    qint64 integer(const char *property)
    {
        const std::optional<QJsonValue> value = command({"get_property", property});
        return value ? qint64(value->toDouble(-1)) : -1;
    }
    double number(const char *property)
    {
        const std::optional<QJsonValue> value = command({"get_property", property});
        return value ? value->toDouble(-1) : -1;
    }
    qint64 dropped() { return integer("frame-drop-count") + integer("vo-delayed-frame-count"); }

private:
    bool connected()
    {
        QElapsedTimer waiting;
        waiting.start();
        while (m_socket.state() != QLocalSocket::ConnectedState && waiting.elapsed() < 20000 &&
               m_process.state() != QProcess::NotRunning) {
            m_socket.connectToServer(m_path);
            if (!m_socket.waitForConnected(200))
                QThread::msleep(20);
        }
        return m_socket.state() == QLocalSocket::ConnectedState;
    }

    QString m_path;
    QProcess m_process;
    QLocalSocket m_socket;
    int m_lastID = 0;
};

struct Side {
    double cpu = 0;
    qint64 drops[2] = {0, 0};   // front, rear: dropped or late in mpv
    qint64 lost[2] = {0, 0};    // the stage's: drawn but never put on the screen
    qint64 missing[2] = {0, 0}; // the stage's: frames of the time played that no paint showed
    double reached = 0;
    qint64 startDrops = 0; // the stage's, in the first second
    // Judged by the counters both sides report alike, so that the sides compare fairly.
    bool clean() const { return drops[0] == 0 && drops[1] == 0; }
    // The stage's own; a frame or two at the ends may fall outside the measured time.
    bool allShown() const { return lost[0] == 0 && lost[1] == 0 && missing[0] <= 2 && missing[1] <= 2; }
};

// A line of the stage process's that starts with `word`; empty when it ends or says nothing in time.
QList<QByteArray> awaitLine(QProcess &process, const QByteArray &word, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        while (process.canReadLine()) {
            const QList<QByteArray> fields = process.readLine().trimmed().split(' ');
            if (fields.value(0) == word)
                return fields;
        }
        if (process.state() == QProcess::NotRunning)
            return {};
        process.waitForReadyRead(1000);
    }
    return {};
}

QByteArray minMedianMax(std::vector<double> values)
{
    if (values.empty())
        return "none";
    std::sort(values.begin(), values.end());
    return QByteArray::number(values.front(), 'f', 2) + " / " +
           QByteArray::number(benchsupport::median(values), 'f', 2) + " / " +
           QByteArray::number(values.back(), 'f', 2);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 5 && qstrcmp(argv[1], "--stage") == 0)
        return stageSide(argc, argv);
    const int seconds = argc > 1 ? std::max(2, atoi(argv[1])) : 20;
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 6;
    const QString size = argc > 3 ? QString::fromLatin1(argv[3]) : QStringLiteral("1920x1080");

    // A private home: the application must not read or write the user's library, cache or settings.
    QTemporaryDir home;
    const QByteArray root = QFile::encodeName(home.path());
    qputenv("HOME", root);
    qputenv("XDG_CONFIG_HOME", root + "/.config");
    qputenv("XDG_DATA_HOME", root + "/.local/share");
    qputenv("XDG_CACHE_HOME", root + "/.cache");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QCoreApplication app(argc, argv);

    // Moving pictures in both channels, with grain so that the bit rate is a camera's (about 12 Mbit/s).
    const QString front = home.filePath(QStringLiteral("REC_F.mp4"));
    const QString rear = home.filePath(QStringLiteral("REC_R.mp4"));
    const QString duration = QString::number(seconds + 1);
    const QString rate = QString::number(frameRate);
    const QStringList encoding = {"-vf",      "noise=alls=12:allf=t",
                                  "-c:v",     "libx264",
                                  "-preset",  "veryfast",
                                  "-b:v",     "12M",
                                  "-maxrate", "14M",
                                  "-bufsize", "14M",
                                  "-g",       rate,
                                  "-bf",      "0",
                                  "-pix_fmt", "yuv420p"};
    std::printf("making two moving %s clips of %s s at %s fps...\n", qPrintable(size), qPrintable(duration),
                qPrintable(rate));
    std::fflush(stdout);
    if (!run("ffmpeg", QStringList{"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                   "testsrc2=size=" + size + ":rate=" + rate + ":duration=" + duration, "-f",
                                   "lavfi", "-i", "sine=frequency=440:duration=" + duration} +
                           encoding + QStringList{"-c:a", "aac", "-shortest", front}) ||
        !run("ffmpeg", QStringList{"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                   "gradients=size=" + size + ":rate=" + rate + ":duration=" + duration +
                                       ":speed=0.05"} +
                           encoding + QStringList{rear})) {
        std::fprintf(stderr, "ffmpeg failed\n");
        return 1;
    }

    QSize stage, inset;
    int stageRuns = 0;
    const auto ours = [&](bool last) -> std::optional<Side> {
        QTemporaryDir folder; // settings of its own: every run starts at the window's default size
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QCoreApplication::applicationFilePath(),
                      {"--stage", front, rear, QString::number(seconds), folder.path()});
        const QList<QByteArray> ready = awaitLine(process, "ready", loadTimeoutMs + 10000);
        if (ready.size() < 5) {
            std::fprintf(stderr, "the stage process did not get ready\n");
            process.kill();
            process.waitForFinished();
            return std::nullopt;
        }
        stage = QSize(ready[1].toInt(), ready[2].toInt());
        inset = QSize(ready[3].toInt(), ready[4].toInt());
        const double cpuBefore = processSeconds(process.processId());
        // Timed here, as mpv's side is.
        process.write("go\n");
        process.waitForBytesWritten();
        QThread::msleep(static_cast<unsigned long>(seconds) * 1000);
        Side side;
        side.cpu = processSeconds(process.processId()) - cpuBefore;
        process.write("stop\n");
        const QList<QByteArray> result = awaitLine(process, "result", 30000);
        if (result.size() < 14) {
            std::fprintf(stderr, "the stage process did not play\n");
            process.kill();
            process.waitForFinished();
            return std::nullopt;
        }
        for (int i = 0; i < 2; ++i) {
            side.drops[i] = result[1 + i].toLongLong();
            side.lost[i] = result[3 + i].toLongLong();
            side.missing[i] = result[5 + i].toLongLong();
        }
        side.reached = result[10].toDouble();
        side.startDrops = result[12].toLongLong() + result[13].toLongLong();
        std::printf("  stage: drawn front %s rear %s, %s paints, peak resident %lld MiB; dropped or late in "
                    "the first second front %s rear %s\n",
                    result[7].constData(), result[8].constData(), result[9].constData(),
                    result[11].toLongLong() / 1024, result[12].constData(), result[13].constData());
        if (last) {
            process.write("hud\n");
            const QList<QByteArray> hud = awaitLine(process, "hud", 60000);
            if (hud.size() >= 4)
                std::printf("HUD paint per tick: median %s ms, 99th percentile %s ms, max %s ms (target <= 1 "
                            "ms)\n",
                            hud[1].constData(), hud[2].constData(), hud[3].constData());
        }
        process.write("quit\n");
        if (!process.waitForFinished(30000)) {
            process.kill();
            process.waitForFinished();
        }
        ++stageRuns;
        return side;
    };

    // The reference: two mpv programs with their own GPU output, at the stage's and the inset's size, with
    // what our player sets on its mpv (--gpu-sw, since mpv otherwise refuses a virtual display's software
    // renderer).
    const auto theirs = [&]() -> std::optional<Side> {
        const QStringList common = {"--no-config",        "--load-scripts=no",
                                    "--ytdl=no",          "--hr-seek=yes",
                                    "--keep-open=yes",    "--osd-level=0",
                                    "--sid=no",           "--sub-auto=no",
                                    "--audio-display=no", "--gpu-hwdec-interop=no",
                                    "--pause=yes",        "--vo=gpu",
                                    "--gpu-sw=yes",       "--ao=null"};
        const auto geometry = [](QSize s) {
            return QStringLiteral("--geometry=%1x%2").arg(s.width()).arg(s.height());
        };
        MpvProgram mpvFront(home.filePath("front.socket"), common + QStringList{geometry(stage), front});
        MpvProgram mpvRear(home.filePath("rear.socket"),
                           common + QStringList{geometry(inset), "--aid=no", rear});
        MpvProgram *programs[] = {&mpvFront, &mpvRear};
        // Loaded when both files' durations are known, as ours; then the same 500 ms.
        QElapsedTimer loading;
        loading.start();
        while (!(mpvFront.number("duration") > 0 && mpvRear.number("duration") > 0) &&
               loading.elapsed() < loadTimeoutMs)
            QThread::msleep(20);
        if (loading.elapsed() >= loadTimeoutMs) {
            std::fprintf(stderr, "the mpv programs did not load the files\n");
            return std::nullopt;
        }
        QThread::msleep(500);
        Side side;
        qint64 dropsBefore[2];
        for (int i = 0; i < 2; ++i) {
            dropsBefore[i] = programs[i]->dropped();
            side.cpu -= processSeconds(programs[i]->pid());
        }
        for (MpvProgram *program : programs)
            program->command({"set_property", "pause", false});
        QThread::msleep(static_cast<unsigned long>(seconds) * 1000);
        for (int i = 0; i < 2; ++i)
            side.cpu += processSeconds(programs[i]->pid());
        for (int i = 0; i < 2; ++i) {
            programs[i]->command({"set_property", "pause", true});
            const qint64 after = programs[i]->dropped();
            side.drops[i] = after >= 0 && dropsBefore[i] >= 0 ? after - dropsBefore[i] : -1;
        }
        side.reached = mpvFront.number("time-pos");
        return side;
    };

    std::printf("%d rounds of %d s, the application's main window at its default size, the sides "
                "alternating\n",
                rounds, seconds);
    std::fflush(stdout);
    std::vector<double> ourCPU, theirCPU, ourCleanCPU, theirCleanCPU;
    int ourDropRounds = 0, theirDropRounds = 0, ourStartDropRounds = 0, ourUnshownRounds = 0;
    for (int round = 0; round < rounds; ++round) {
        // Ours goes first in the first round: mpv's windows take the stage's sizes from it.
        const bool oursFirst = round % 2 == 0;
        std::optional<Side> us, them;
        if (oursFirst) {
            us = ours(round == rounds - 1);
            them = us ? theirs() : std::nullopt;
        } else {
            them = theirs();
            us = them ? ours(round == rounds - 1) : std::nullopt;
        }
        if (!us || !them)
            return 1;
        ourCPU.push_back(us->cpu);
        theirCPU.push_back(them->cpu);
        ourDropRounds += us->clean() ? 0 : 1;
        ourStartDropRounds += us->startDrops != 0 ? 1 : 0;
        ourUnshownRounds += us->allShown() ? 0 : 1;
        theirDropRounds += them->clean() ? 0 : 1;
        if (us->clean() && them->clean()) {
            ourCleanCPU.push_back(us->cpu);
            theirCleanCPU.push_back(them->cpu);
        }
        const QByteArray ratio = them->cpu > 0 ? QByteArray::number(us->cpu / them->cpu, 'f', 2) : "n/a";
        std::printf(
            "round %d (%s first): stage %.2f s CPU, dropped or late front %lld rear %lld, never shown "
            "front %lld rear %lld, not shown at all front %lld rear %lld (played %.1f s); two mpv %.2f "
            "s CPU, dropped or late front %lld rear %lld (played %.1f s); ratio %s\n",
            round + 1, oursFirst ? "stage" : "mpv", us->cpu, static_cast<long long>(us->drops[0]),
            static_cast<long long>(us->drops[1]), static_cast<long long>(us->lost[0]),
            static_cast<long long>(us->lost[1]), static_cast<long long>(us->missing[0]),
            static_cast<long long>(us->missing[1]), us->reached, them->cpu,
            static_cast<long long>(them->drops[0]), static_cast<long long>(them->drops[1]), them->reached,
            ratio.constData());
        std::fflush(stdout);
    }
    std::printf("stage %dx%d with an inset of %dx%d; mpv windows of those sizes\n", stage.width(),
                stage.height(), inset.width(), inset.height());
    std::printf("rounds with frames dropped or late (frame-drop-count + vo-delayed-frame-count): stage %d of "
                "%d (%d in the first second), two mpv %d of %d\n",
                ourDropRounds, rounds, ourStartDropRounds, theirDropRounds, rounds);
    std::printf("rounds where the stage's canvas did not put every frame on the screen (never shown, or not "
                "shown at all beyond 2): %d of %d\n",
                ourUnshownRounds, rounds);
    std::printf("CPU time min / median / max: stage %s s, two mpv %s s\n", minMedianMax(ourCPU).constData(),
                minMedianMax(theirCPU).constData());
    std::printf("CPU ratio per round min / median / max: %s over %zu rounds (target <= 1.1); over the %zu "
                "rounds where no side dropped: %s\n",
                benchsupport::ratioSpread(ourCPU, theirCPU).constData(), ourCPU.size(), ourCleanCPU.size(),
                benchsupport::ratioSpread(ourCleanCPU, theirCleanCPU).constData());
    return stageRuns == rounds ? 0 : 1;
}
