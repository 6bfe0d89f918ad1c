// The detail view playing two channels with the inset on, against two mpv programs drawing the same files
// with their own GPU output, in alternating rounds: each side's CPU time and dropped frames (mpv's
// frame-drop-count and vo-delayed-frame-count, and for the view also the frames its canvas never put on
// the screen); a CPU ratio only for rounds where neither side dropped a frame. Also the view's resident
// memory while playing and the heads-up display's paint per tick. Needs an X display:
//   xvfb-run -a -s "-screen 0 1600x1000x24" env QT_QPA_PLATFORM=xcb bench_VideoStageBench [SECONDS] [WxH]
//   [ROUNDS]
// (default: 20 s of generated 1920x1080 clips at 30 fps, the front one with sound, 3 rounds).
#include "BenchSupport.h"
#include "platform/Defaults.h"
#include "platform/gui/MpvPlayer.h"
#include "platform/gui/StageCanvas.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/model/Preferences.h"
#include "roadloom/ui/deck/TelemetryDeck.h"
#include "roadloom/ui/detail/DetailView.h"
#include "roadloom/ui/detail/TransportBar.h"
#include "roadloom/ui/detail/VideoHUD.h"
#include "roadloom/ui/detail/VideoStage.h"
#include "roadloom/ui/shell/AppServices.h"

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
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include <unistd.h>

namespace {

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
    return process.waitForFinished(600000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
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
    qint64 lost[2] = {0, 0};    // the view's: drawn but never put on the screen
    qint64 missing[2] = {0, 0}; // the view's: frames of the time played that no paint showed
    // A frame or two at the ends may fall outside the measured time.
    bool clean() const
    {
        return drops[0] == 0 && drops[1] == 0 && lost[0] == 0 && lost[1] == 0 && missing[0] <= 2 &&
               missing[1] <= 2;
    }
};

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

} // namespace

int main(int argc, char **argv)
{
    const int seconds = argc > 1 ? std::max(2, atoi(argv[1])) : 20;
    const QString size = argc > 2 ? QString::fromLatin1(argv[2]) : QStringLiteral("1920x1080");
    const int rounds = argc > 3 ? std::max(1, atoi(argv[3])) : 3;

    // A private home: the model must not read or write the user's library, cache or settings.
    QTemporaryDir home;
    const QByteArray root = QFile::encodeName(home.path());
    qputenv("HOME", root);
    qputenv("XDG_CONFIG_HOME", root + "/.config");
    qputenv("XDG_DATA_HOME", root + "/.local/share");
    qputenv("XDG_CACHE_HOME", root + "/.cache");
    QApplication app(argc, argv);
    if (QGuiApplication::platformName() != QStringLiteral("xcb")) {
        std::fprintf(stderr, "needs an X display: run under xvfb-run with QT_QPA_PLATFORM=xcb\n");
        return 2;
    }

    const QString front = home.filePath(QStringLiteral("REC_F.mp4"));
    const QString rear = home.filePath(QStringLiteral("REC_R.mp4"));
    const QString duration = QString::number(seconds + 1);
    std::printf("making two %s clips of %s s...\n", qPrintable(size), qPrintable(duration));
    if (!run("ffmpeg", {"-hide_banner", "-loglevel",
                        "error",        "-y",
                        "-f",           "lavfi",
                        "-i",           "testsrc2=size=" + size + ":rate=30:duration=" + duration,
                        "-f",           "lavfi",
                        "-i",           "sine=frequency=440:duration=" + duration,
                        "-c:v",         "libx264",
                        "-preset",      "veryfast",
                        "-pix_fmt",     "yuv420p",
                        "-c:a",         "aac",
                        "-shortest",    front}) ||
        !run("ffmpeg", {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                        "smptebars=size=" + size + ":rate=30:duration=" + duration, "-c:v", "libx264",
                        "-preset", "veryfast", "-pix_fmt", "yuv420p", rear})) {
        std::fprintf(stderr, "ffmpeg failed\n");
        return 1;
    }
    // Our detail view at 1440 x 900 with the inset on.
    const QDateTime start(QDate(2024, 5, 1), QTime(10, 0), Qt::UTC);
    Defaults defaults(home.filePath(QStringLiteral("settings.ini")));
    AppServices appServices;
    AppModel::Services services = appServices.modelServices();
    services.defaults = &defaults;
    services.library.defaults = &defaults;
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
    // The detail column as the main window builds it: its transport bar and telemetry deck follow the
    // playhead too, and every repaint of the window puts the whole of it on the screen again.
    DetailView view(model);
    view.setTransportBar(new TransportBar(model));
    view.setDeck(new TelemetryDeck(model));
    view.resize(1440, 900);
    view.show();
    QSize stage;

    DashClip clip;
    clip.id = clip.name = QStringLiteral("REC");
    clip.date = start;
    clip.files = {{Channel::front, front}, {Channel::rear, rear}};
    const auto loaded = [&] { return model.player().hasMedia() && model.player().duration() > 0; };
    constexpr double frameRate = 30; // of both clips

    qint64 playingKiB = 0;
    double reached = 0, theirsReached = 0;
    StageCanvas::Counts canvasBefore, canvasAfter;
    const auto ours = [&]() -> std::optional<Side> {
        model.player().load(std::nullopt, false);
        model.player().load(clip, false);
        QElapsedTimer loading;
        loading.start();
        // hasMedia holds already while the recording is being resolved; the duration comes with the video.
        while (!loaded() && !model.player().loadError() && loading.elapsed() < 60000)
            wait(20);
        if (!loaded()) {
            std::fprintf(stderr, "the recording did not load: %s\n",
                         qPrintable(model.player().loadError().value_or(QStringLiteral("timeout"))));
            return std::nullopt;
        }
        wait(500);
        stage = view.stage()->size();
        const StageCanvas *canvas = view.stage()->canvas();
        canvasBefore = canvas ? canvas->counts() : StageCanvas::Counts{};
        const qint64 frontBefore = dropped(model.player().front());
        const qint64 rearBefore = dropped(model.player().rear());
        const double cpuBefore = processSeconds(QCoreApplication::applicationPid());
        QElapsedTimer clock;
        clock.start();
        model.player().play();
        while (clock.elapsed() < seconds * 1000 && model.player().isPlaying()) {
            wait(50);
            playingKiB = std::max(playingKiB, benchsupport::statusKiB("VmRSS"));
        }
        Side side;
        side.cpu = processSeconds(QCoreApplication::applicationPid()) - cpuBefore;
        reached = model.player().currentTime();
        const qint64 frontAfter = dropped(model.player().front());
        const qint64 rearAfter = dropped(model.player().rear());
        // A player whose mpv started after the first reading had dropped nothing before it; mpv starts its
        // counts again after a jump (the follower's catching up), when those since are all there is.
        const auto since = [](qint64 before, qint64 after) {
            if (after < 0)
                return qint64(-1);
            return after >= before ? after - std::max<qint64>(0, before) : after;
        };
        side.drops[0] = since(frontBefore, frontAfter);
        side.drops[1] = since(rearBefore, rearAfter);
        model.player().togglePlay();
        canvasAfter = canvas ? canvas->counts() : StageCanvas::Counts{};
        // The follower catches up by seeking, which mpv does not count as dropping: count what was shown.
        const qint64 expected = std::llround(reached * frameRate);
        for (int i = 0; i < 2; ++i) {
            side.lost[i] = canvasAfter.lost[size_t(i)] - canvasBefore.lost[size_t(i)];
            const qint64 shown =
                canvasAfter.renders[size_t(i)] - canvasBefore.renders[size_t(i)] - side.lost[i];
            side.missing[i] = std::max<qint64>(0, expected - shown);
        }
        if (reached < seconds * 0.9)
            std::fprintf(stderr, "playback stopped early at %.2f s of %.2f s\n", reached,
                         model.player().duration());
        return side;
    };

    // The reference: two mpv programs with their own GPU output, main picture and inset sizes.
    const auto theirs = [&]() -> std::optional<Side> {
        // What our player sets (and what libmpv sets before it), so that both play with the same mpv:
        // --gpu-sw because mpv otherwise refuses a software renderer such as the virtual display's.
        const QStringList common = {"--profile=libmpv",   "--load-scripts=no",
                                    "--ytdl=no",          "--hr-seek=yes",
                                    "--keep-open=yes",    "--osd-level=0",
                                    "--sid=no",           "--sub-auto=no",
                                    "--audio-display=no", "--gpu-hwdec-interop=no",
                                    "--pause=yes",        "--vo=gpu",
                                    "--gpu-sw=yes",       "--ao=null"};
        MpvProgram mpvFront(
            home.filePath("front.socket"),
            common + QStringList{QStringLiteral("--geometry=%1x%2").arg(stage.width()).arg(stage.height()),
                                 front});
        MpvProgram mpvRear(home.filePath("rear.socket"),
                           common + QStringList{QStringLiteral("--geometry=%1x%2")
                                                    .arg(int(stage.width() * 0.26))
                                                    .arg(int(stage.width() * 0.26 * 9 / 16)),
                                                "--aid=no", rear});
        MpvProgram *programs[] = {&mpvFront, &mpvRear};
        // Loaded when the file's duration is known, as ours; then the same 500 ms.
        QElapsedTimer loading;
        loading.start();
        while (!(mpvFront.number("duration") > 0 && mpvRear.number("duration") > 0) &&
               loading.elapsed() < 60000)
            wait(20);
        if (loading.elapsed() >= 60000) {
            std::fprintf(stderr, "the mpv programs did not load the files\n");
            return std::nullopt;
        }
        wait(500);
        double cpuBefore = 0;
        qint64 dropsBefore[2];
        for (int i = 0; i < 2; ++i) {
            dropsBefore[i] = programs[i]->dropped();
            cpuBefore += processSeconds(programs[i]->pid());
        }
        QElapsedTimer clock;
        clock.start();
        for (MpvProgram *program : programs)
            program->command({"set_property", "pause", false});
        while (clock.elapsed() < seconds * 1000)
            wait(50);
        Side side;
        for (int i = 0; i < 2; ++i)
            side.cpu += processSeconds(programs[i]->pid());
        side.cpu -= cpuBefore;
        for (int i = 0; i < 2; ++i) {
            programs[i]->command({"set_property", "pause", true});
            const qint64 after = programs[i]->dropped();
            side.drops[i] = after >= 0 && dropsBefore[i] >= 0 ? after - dropsBefore[i] : -1;
        }
        theirsReached = mpvFront.number("time-pos");
        return side;
    };

    std::printf("%d rounds of %d s, the view at %dx%d with the inset on, the sides alternating\n", rounds,
                seconds, view.width(), view.height());
    std::fflush(stdout);
    // ROADLOOM_BENCH_ONLY=view plays the view alone (for a profiler).
    if (qEnvironmentVariable("ROADLOOM_BENCH_ONLY") == QLatin1String("view")) {
        const std::optional<Side> us = ours();
        if (!us)
            return 1;
        std::printf(
            "view %.2f s CPU, dropped or late front %lld rear %lld, drawn front %d rear %d, lost front %d "
            "rear %d, not shown at all front %lld rear %lld, %d paints, %d swaps\n",
            us->cpu, static_cast<long long>(us->drops[0]), static_cast<long long>(us->drops[1]),
            canvasAfter.renders[0] - canvasBefore.renders[0],
            canvasAfter.renders[1] - canvasBefore.renders[1], canvasAfter.lost[0] - canvasBefore.lost[0],
            canvasAfter.lost[1] - canvasBefore.lost[1], static_cast<long long>(us->missing[0]),
            static_cast<long long>(us->missing[1]), canvasAfter.paints - canvasBefore.paints,
            canvasAfter.swaps - canvasBefore.swaps);
        return 0;
    }
    std::vector<double> ourCPU, theirCPU, ratios;
    int cleanRounds = 0;
    double ourClean = 0, theirClean = 0; // CPU of the rounds without dropped frames
    for (int round = 0; round < rounds; ++round) {
        std::optional<Side> us, them;
        if (round % 2 == 0) {
            us = ours();
            them = theirs();
        } else {
            them = theirs();
            us = ours();
        }
        if (!us || !them)
            return 1;
        ourCPU.push_back(us->cpu);
        theirCPU.push_back(them->cpu);
        std::printf(
            "round %d: view %.2f s CPU, dropped or late front %lld rear %lld, drawn front %d rear %d, "
            "never shown front %lld rear %lld, not shown at all front %lld rear %lld, %d paints (played "
            "%.1f s); two mpv %.2f s CPU, dropped or late front %lld rear %lld (played %.1f s)",
            round + 1, us->cpu, static_cast<long long>(us->drops[0]), static_cast<long long>(us->drops[1]),
            canvasAfter.renders[0] - canvasBefore.renders[0],
            canvasAfter.renders[1] - canvasBefore.renders[1], static_cast<long long>(us->lost[0]),
            static_cast<long long>(us->lost[1]), static_cast<long long>(us->missing[0]),
            static_cast<long long>(us->missing[1]), canvasAfter.paints - canvasBefore.paints, reached,
            them->cpu, static_cast<long long>(them->drops[0]), static_cast<long long>(them->drops[1]),
            theirsReached);
        if (us->clean() && them->clean() && them->cpu > 0) {
            ++cleanRounds;
            ourClean += us->cpu;
            theirClean += them->cpu;
            ratios.push_back(us->cpu / them->cpu);
            std::printf("; ratio %.2f\n", ratios.back());
        } else {
            std::printf("; no ratio (frames dropped)\n");
        }
        std::fflush(stdout);
    }
    std::printf("stage %dx%d; mpv windows of the stage's and the inset's size\n", stage.width(),
                stage.height());
    std::printf("CPU time, median: view %.2f s, two mpv --vo=gpu %.2f s\n", benchsupport::median(ourCPU),
                benchsupport::median(theirCPU));
    // On a shared machine a round's two sides meet different loads; the totals weigh every round alike.
    if (cleanRounds)
        std::printf(
            "CPU ratio over %d rounds without dropped frames: median %.2f, of the totals %.2f (target "
            "<= 1.1)\n",
            cleanRounds, benchsupport::median(ratios), ourClean / theirClean);
    else
        std::printf("no round without dropped frames: no CPU ratio\n");
    std::printf("resident memory while playing: %.0f MiB\n", playingKiB / 1024.0);

    // The display's picture at each tick, as the stage's canvas asks for it: move the playhead, draw it.
    VideoHUD *hud = view.stage()->hud();
    std::vector<double> paints;
    for (int i = 0; i < 900; ++i) {
        model.player().setCurrentTime(i / 30.0);
        QElapsedTimer paint;
        paint.start();
        const QImage picture = hud->picture(2.0);
        paints.push_back(paint.nsecsElapsed() / 1e6);
        if (picture.isNull())
            return 1;
    }
    std::sort(paints.begin(), paints.end());
    model.player().load(std::nullopt, false);
    std::printf("HUD paint per tick: median %.3f ms, 99th percentile %.3f ms, max %.3f ms (target <= 1 ms)\n",
                paints[paints.size() / 2], paints[paints.size() * 99 / 100], paints.back());
    return 0;
}
