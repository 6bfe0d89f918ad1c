// The scrubber's costs for 30 minutes of 100 Hz G-sensor data (180,000 samples): the envelope, and one
// paint of the whole scrubber at 1440 pixels (the largest window's width) into an image. Prints the median
// and the 99th percentile of each against a limit of 1 ms. Run the Release build (cmake --preset release).
#include "../tests/fixtures/FakeVideoPlayer.h"

#include "roadloom/model/PlayerController.h"
#include "roadloom/ui/detail/Scrubber.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

QList<SensorSample> halfHourAt100Hz()
{
    QList<SensorSample> samples;
    samples.reserve(180000);
    for (int i = 0; i < 180000; ++i) {
        const double t = i / 100.0;
        const double bump = (i % 9973 == 0) ? 1.8 : 0.0;
        samples.append(SensorSample{t, 0.05 * std::sin(t * 3.1), 0.04 * std::cos(t * 1.3),
                                    1.0 + 0.2 * std::sin(t * 7.7) * std::sin(t * 0.11) + bump});
    }
    return samples;
}

struct Figures {
    double median = 0, p99 = 0;
};

Figures measure(int runs, const std::function<void()> &work)
{
    std::vector<double> ms;
    ms.reserve(std::size_t(runs));
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        ms.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)]};
}

void report(const char *name, const Figures &f, double limit)
{
    std::printf("%-34s median %.3f ms  p99 %.3f ms  (limit %.1f ms) %s\n", name, f.median, f.p99, limit,
                f.median <= limit ? "ok" : "OVER");
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const QList<SensorSample> samples = halfHourAt100Hz();
    volatile double sink = 0;
    const Figures envelope = measure(200, [&] {
        const std::vector<double> bins = Scrubber::envelope(samples, 1800, Scrubber::binCount);
        sink = sink + bins[17];
    });
    report("envelope of 180,000 samples", envelope, 1.0);

    PlayerServices services;
    services.resolve = [](const DashClip &clip) { return clip; };
    services.videoStreamCount = [](const QString &) -> std::optional<int> { return std::nullopt; };
    services.convert = [](const QString &, int) -> Result<QStringList> {
        return Failure{QStringLiteral("no")};
    };
    services.readTelemetry = [&samples](const ChannelFiles &) {
        return Telemetry(samples, {}, QStringLiteral("bench"));
    };
    services.inspect = [](const QString &) { return MediaInfo(); };
    PlayerController player([](PlayerRole) { return std::make_unique<FakeVideoPlayer>(); }, services);
    DashClip clip;
    clip.id = clip.name = QStringLiteral("drive");
    clip.files = {{Channel::front, QStringLiteral("/bench/drive_F.mp4")}};
    player.load(clip, false);
    auto &front = static_cast<FakeVideoPlayer &>(player.front());
    QElapsedTimer wait;
    wait.start();
    while (!front.hasFile() && wait.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    VideoFacts facts;
    facts.duration = 1800;
    facts.hasVideo = true;
    facts.size = QSize(1920, 1080);
    facts.frameRate = 30;
    front.fireReady(facts);
    while ((!player.hasMedia() || player.isLoadingTelemetry()) && wait.elapsed() < 20000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!player.hasMedia() || player.telemetry().sensor.size() != samples.size()) {
        std::fprintf(stderr, "the recording did not load\n");
        return 1;
    }
    player.seek(700);

    Scrubber scrubber(player);
    scrubber.resize(1440, scrubber.sizeHint().height());
    QImage image(scrubber.size(), QImage::Format_ARGB32_Premultiplied);
    const Figures paint = measure(300, [&] { scrubber.render(&image); });
    report("scrubber paint at 1440 px", paint, 1.0);
    int tick = 0;
    const Figures moved = measure(300, [&] {
        player.seek(700 + (++tick) / 30.0);
        scrubber.render(&image, QPoint(),
                        QRegion(QRect(int(scrubber.playheadX()) - 16, 0, 32, scrubber.height())));
    });
    report("playhead tick (its strip only)", moved, 1.0);
    return 0;
}
