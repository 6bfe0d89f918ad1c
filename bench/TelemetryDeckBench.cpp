// Paint times of the telemetry deck at 910 × 260 (its size in a 1440-wide window) with an hour of 10 Hz
// data (36,000 fixes and samples) and map tiles from files: a playhead tick, a frame of the camera
// following the vehicle, and the rebuilds of the chart image and the route layer. Prints the median and the
// 99th percentile of each. Run the Release build (cmake --preset release).
#include "../tests/fixtures/FakeVideoPlayer.h"

#include "platform/gui/SlippyMap.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/ui/shell/AppServices.h"
#include "roadloom/ui/deck/MapPanel.h"
#include "roadloom/ui/deck/SensorChart.h"
#include "roadloom/ui/deck/SensorPanel.h"
#include "roadloom/ui/deck/TelemetryDeck.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>
#include <vector>

#include <time.h>

namespace {

// An hour of driving at 10 Hz: 45 km of gently winding road that never runs over itself.
Telemetry hourOfDriving()
{
    QList<GPSFix> gps;
    QList<SensorSample> sensor;
    gps.reserve(36000);
    sensor.reserve(36000);
    double north = 0, east = 0, heading = 30;
    for (int i = 0; i < 36000; ++i) {
        const double t = i / 10.0;
        const double speed = 12.5 + 4 * std::sin(t / 37);               // metres a second
        heading += 0.1 * (8 * std::sin(t / 90) + 5 * std::sin(t / 23)); // degrees
        north += std::cos(heading * std::numbers::pi / 180) * speed * 0.1;
        east += std::sin(heading * std::numbers::pi / 180) * speed * 0.1;
        GPSFix fix;
        fix.time = t;
        fix.latitude = 48.137 + north / 111195;
        fix.longitude = 11.575 + east / (111195 * std::cos(48.137 * std::numbers::pi / 180));
        fix.speedKnots = speed * 3.6 / 1.852;
        fix.course = std::fmod(heading + 3600, 360);
        gps.append(fix);
        sensor.append({t, 0.2 * std::sin(t / 3) + 0.05 * std::sin(t * 7), 0.1 * std::cos(t / 5),
                       1 + 0.03 * std::sin(t * 11)});
    }
    sensor[21000].x = 2.4;
    return Telemetry(std::move(sensor), std::move(gps), QStringLiteral("bench"));
}

// Solid tiles over an area for a range of levels.
void writeTiles(const QString &folder, GeoPoint northWest, GeoPoint southEast, int fromLevel, int toLevel)
{
    static const QByteArray png = [] {
        QImage tile(256, 256, QImage::Format_RGB32);
        tile.fill(QColor(0xe8, 0xe4, 0xdc));
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        tile.save(&buffer, "PNG");
        return bytes;
    }();
    for (int z = fromLevel; z <= toLevel; ++z) {
        const double n = std::exp2(z);
        const QPointF a = WebMercator::project(northWest) * n, b = WebMercator::project(southEast) * n;
        for (int x = int(a.x()) - 2; x <= int(b.x()) + 2; ++x)
            for (int y = int(a.y()) - 2; y <= int(b.y()) + 2; ++y) {
                const QString dir = QStringLiteral("%1/%2/%3").arg(folder).arg(z).arg(x);
                QDir().mkpath(dir);
                QFile file(QStringLiteral("%1/%2.png").arg(dir).arg(y));
                if (file.open(QIODevice::WriteOnly))
                    file.write(png);
            }
    }
}

QString writeTiles(const QString &folder, const Telemetry &telemetry)
{
    double minLat = 90, maxLat = -90, minLon = 180, maxLon = -180;
    for (const GPSFix &fix : telemetry.gps) {
        minLat = std::min(minLat, fix.latitude), maxLat = std::max(maxLat, fix.latitude);
        minLon = std::min(minLon, fix.longitude), maxLon = std::max(maxLon, fix.longitude);
    }
    writeTiles(folder, {maxLat, minLon}, {minLat, maxLon}, 8, 13);
    const auto follow = telemetry.gpsAt(1200);
    writeTiles(folder, {follow->latitude + 0.02, follow->longitude - 0.03},
               {follow->latitude - 0.02, follow->longitude + 0.03}, 14, 17);
    return QUrl::fromLocalFile(folder).toString() + QStringLiteral("/{z}/{x}/{y}.png");
}

void settle(SlippyMap &map)
{
    QElapsedTimer clock;
    clock.start();
    do {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    } while ((map.tiles().inFlight() > 0 || clock.elapsed() < 300) && clock.elapsed() < 10000);
}

struct Sample {
    double wall = 0; // milliseconds
    double cpu = 0;  // milliseconds of this thread: what other programs on a busy machine do not add
};

double threadMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

void report(const char *name, std::vector<Sample> samples, double limit)
{
    const auto percentiles = [&](auto field) {
        std::vector<double> ms;
        for (const Sample &s : samples)
            ms.push_back(s.*field);
        std::sort(ms.begin(), ms.end());
        const double median = ms[ms.size() / 2];
        const double p99 = ms[std::min(ms.size() - 1, size_t(std::ceil(ms.size() * 0.99)) - 1)];
        return std::pair{median, p99};
    };
    const auto [wallMedian, wallP99] = percentiles(&Sample::wall);
    const auto [cpuMedian, cpuP99] = percentiles(&Sample::cpu);
    std::printf(
        "%-28s wall median %5.2f p99 %6.2f ms | cpu median %5.2f p99 %5.2f ms | limit %.0f ms, %zu runs%s\n",
        name, wallMedian, wallP99, cpuMedian, cpuP99, limit, samples.size(),
        cpuP99 <= limit ? "" : "   OVER");
}

Sample timed(const std::function<void()> &work)
{
    QElapsedTimer clock;
    const double cpu = threadMs();
    clock.start();
    work();
    return {clock.nsecsElapsed() / 1e6, threadMs() - cpu};
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/roadloom-bench-home-XXXXXX"));
    const QByteArray root = QFile::encodeName(home.path());
    for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qputenv(name, root + (qstrcmp(name, "HOME") == 0 ? "" : "/x-" + QByteArray(name)));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Roadloom"));
    QApplication::setApplicationName(QStringLiteral("Roadloom"));

    const Telemetry telemetry = hourOfDriving();
    const QString tiles = writeTiles(home.filePath(QStringLiteral("tiles")), telemetry);

    AppServices real;
    AppModel::Services services = real.modelServices();
    services.players = [](PlayerRole) { return std::make_unique<FakeVideoPlayer>(); };
    PlayerServices player;
    player.resolve = [](const DashClip &clip) { return clip; };
    player.videoStreamCount = [](const QString &) -> std::optional<int> { return std::nullopt; };
    player.convert = [](const QString &, int) -> Result<QStringList> {
        return Failure{QStringLiteral("no")};
    };
    player.readTelemetry = [&telemetry](const ChannelFiles &) { return telemetry; };
    player.inspect = [](const QString &) { return MediaInfo(); };
    services.playerServices = player;
    AppModel model(std::move(services));

    DashClip clip;
    clip.id = clip.name = QStringLiteral("drive");
    clip.files = {{Channel::front, home.filePath(QStringLiteral("drive_F.mp4"))}};
    model.player().load(clip, false);
    auto &front = static_cast<FakeVideoPlayer &>(model.player().front());
    QElapsedTimer wait;
    wait.start();
    while (!front.hasFile() && wait.elapsed() < 10000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    VideoFacts facts;
    facts.duration = 3600;
    facts.hasVideo = true;
    facts.size = QSize(1920, 1080);
    facts.frameRate = 30;
    front.fireReady(facts);
    while ((model.player().isLoadingTelemetry() || !model.player().telemetry().hasGPS()) &&
           wait.elapsed() < 20000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);

    TelemetryDeck deck(model);
    deck.resize(910, 260);
    deck.show();
    SlippyMap &map = *deck.mapPanel()->map();
    map.setLayers({{tiles, 19, QStringLiteral("bench")}});
    settle(map);

    // Ticks with the camera still (following off): the vehicle, dial, readout and playhead move.
    deck.mapPanel()->followButton()->click();
    settle(map);
    std::vector<Sample> ticks;
    double t = 600;
    for (int i = 0; i < 600; ++i) {
        t += 1.0 / 30;
        ticks.push_back(timed([&] {
            model.player().setCurrentTime(t);
            QApplication::sendPostedEvents();
            QApplication::processEvents();
        }));
    }

    // Frames of the camera following the vehicle: small moves at the follow zoom, the route a blit.
    deck.mapPanel()->followButton()->click();
    const auto first = telemetry.gpsAt(1200);
    map.setCamera({{first->latitude, first->longitude}, map.zoomForGroundHeight(700, first->latitude)});
    settle(map);
    map.repaint(); // the route layer for this zoom
    std::vector<Sample> frames;
    for (int i = 0; i < 300; ++i) {
        const auto fix = telemetry.gpsAt(1200 + i / 60.0);
        map.setCamera({{fix->latitude, fix->longitude}, map.camera().zoom});
        frames.push_back(timed([&] { map.repaint(); }));
        if (i % 30 == 0)
            settle(map); // tiles that came into view, as between frames in use
    }

    // Rebuilds: the chart image for its samples, the route layer for a new zoom.
    SensorChart &chart = *deck.sensorPanel()->chart();
    std::vector<Sample> chartBuilds, routeBuilds;
    for (int i = 0; i < 60; ++i) {
        chartBuilds.push_back(timed([&] {
            chart.setSamples(telemetry.sensor);
            chart.repaint();
        }));
        map.setCamera({{first->latitude, first->longitude}, 13 + (i % 2) * 0.01});
        routeBuilds.push_back(timed([&] { map.repaint(); }));
    }

    std::printf("Telemetry deck 910 x 260, 36,000 fixes and samples, tiles from files\n");
    report("tick (all three cards)", ticks, 4);
    report("follow-move frame (map)", frames, 4);
    report("chart rebuild", chartBuilds, 8);
    report("route layer + map paint", routeBuilds, 8);
    return 0;
}
