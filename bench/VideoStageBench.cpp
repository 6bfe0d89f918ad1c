// CPU time of the detail view playing two channels with the inset on, against two mpv programs drawing the
// same files with their own GPU output; the heads-up display's paint per tick; both players' dropped
// frames. Needs an X display:
//   xvfb-run -a -s "-screen 0 1600x1000x24" env QT_QPA_PLATFORM=xcb bench_VideoStageBench [SECONDS] [WxH]
// (default: 20 s of generated 1920x1080 clips at 30 fps, the front one with sound).
#include "platform/Defaults.h"
#include "platform/gui/MpvPlayer.h"
#include "platform/gui/StageCanvas.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/model/Preferences.h"
#include "roadloom/ui/AppServices.h"
#include "roadloom/ui/DetailView.h"
#include "roadloom/ui/VideoHUD.h"
#include "roadloom/ui/VideoStage.h"

#include <mpv/client.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <sys/resource.h>

namespace {

double cpuSeconds(int who)
{
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
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

qint64 dropped(VideoPlayer &player)
{
    auto *mpv = qobject_cast<MpvPlayer *>(&player);
    int64_t count = -1;
    if (mpv && mpv->handle())
        mpv_get_property(mpv->handle(), "frame-drop-count", MPV_FORMAT_INT64, &count);
    return count;
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

} // namespace

int main(int argc, char **argv)
{
    const int seconds = argc > 1 ? std::max(2, atoi(argv[1])) : 20;
    const QString size = argc > 2 ? QString::fromLatin1(argv[2]) : QStringLiteral("1920x1080");

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
    DetailView view(model);
    view.resize(1440, 900);
    view.show();

    DashClip clip;
    clip.id = clip.name = QStringLiteral("REC");
    clip.date = start;
    clip.files = {{Channel::front, front}, {Channel::rear, rear}};
    model.player().load(clip, false);
    QElapsedTimer loading;
    loading.start();
    // hasMedia holds already while the recording is being resolved; the duration comes with the video.
    const auto loaded = [&] { return model.player().hasMedia() && model.player().duration() > 0; };
    while (!loaded() && !model.player().loadError() && loading.elapsed() < 60000)
        wait(20);
    if (!loaded()) {
        std::fprintf(stderr, "the recording did not load: %s\n",
                     qPrintable(model.player().loadError().value_or(QStringLiteral("timeout"))));
        return 1;
    }
    wait(500);

    const double ourBefore = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer clock;
    clock.start();
    model.player().play();
    while (clock.elapsed() < seconds * 1000 && model.player().isPlaying())
        wait(50);
    const double wall = clock.elapsed() / 1000.0;
    if (wall < seconds * 0.9) {
        std::fprintf(stderr, "playback stopped early at %.2f s of %.2f s (%s)\n",
                     model.player().currentTime(), model.player().duration(),
                     qPrintable(model.player().loadError().value_or(QStringLiteral("no error"))));
    }
    const double ours = cpuSeconds(RUSAGE_SELF) - ourBefore;
    const double reached = model.player().currentTime();
    const qint64 frontDrops = dropped(model.player().front());
    const qint64 rearDrops = dropped(model.player().rear());
    model.player().togglePlay();

    // The display's paint at each tick: move the playhead, paint it into an image.
    VideoHUD *hud = view.stage()->hud();
    QImage canvas(hud->size() * 2, QImage::Format_ARGB32_Premultiplied);
    std::vector<double> paints;
    for (int i = 0; i < 900; ++i) {
        model.player().setCurrentTime(i / 30.0);
        canvas.fill(Qt::black);
        QElapsedTimer paint;
        paint.start();
        hud->render(&canvas);
        paints.push_back(paint.nsecsElapsed() / 1e6);
    }
    std::sort(paints.begin(), paints.end());
    model.player().load(std::nullopt, false);

    // The reference: two mpv programs with their own GPU output, main picture and inset sizes.
    const double theirsBefore = cpuSeconds(RUSAGE_CHILDREN);
    QProcess mpvFront, mpvRear;
    // --gpu-sw: mpv otherwise refuses a software renderer such as the virtual display's.
    const QStringList common = {"--no-config",
                                "--vo=gpu",
                                "--gpu-sw=yes",
                                "--hwdec=no",
                                "--ao=null",
                                "--really-quiet",
                                "--length=" + QString::number(seconds)};
    mpvFront.setStandardInputFile(QProcess::nullDevice());
    mpvRear.setStandardInputFile(QProcess::nullDevice());
    const QSize stage = view.stage()->size();
    mpvFront.start(
        "mpv", common + QStringList{QStringLiteral("--geometry=%1x%2").arg(stage.width()).arg(stage.height()),
                                    front});
    mpvRear.start("mpv", common + QStringList{QStringLiteral("--geometry=%1x%2")
                                                  .arg(int(stage.width() * 0.26))
                                                  .arg(int(stage.width() * 0.26 * 9 / 16)),
                                              "--mute=yes", rear});
    const bool finished =
        mpvFront.waitForFinished(seconds * 1000 + 60000) && mpvRear.waitForFinished(seconds * 1000 + 60000);
    const double theirs = cpuSeconds(RUSAGE_CHILDREN) - theirsBefore;

    std::printf("played %.1f s of video in %.1f s at %dx%d (stage %dx%d, inset on)\n", reached, wall,
                view.width(), view.height(), stage.width(), stage.height());
    std::printf("CPU time, detail view:            %.2f s\n", ours);
    if (finished)
        std::printf("CPU time, two mpv --vo=gpu:       %.2f s  (ratio %.2f, target <= 1.3)\n", theirs,
                    theirs > 0 ? ours / theirs : 0.0);
    else
        std::printf("the mpv programs did not finish\n");
    std::printf("HUD paint per tick: median %.3f ms, 99th percentile %.3f ms, max %.3f ms (target <= 1 ms)\n",
                paints[paints.size() / 2], paints[paints.size() * 99 / 100], paints.back());
    std::printf("frame-drop-count: front %lld, rear %lld\n", static_cast<long long>(frontDrops),
                static_cast<long long>(rearDrops));
    if (const StageCanvas *stageCanvas = view.stage()->canvas()) {
        const StageCanvas::Counts &counts = stageCanvas->counts();
        std::printf("canvas: %d paints; frames drawn front %d, rear %d\n", counts.paints, counts.renders[0],
                    counts.renders[1]);
    }
    return 0;
}
