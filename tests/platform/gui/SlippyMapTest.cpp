#include "platform/gui/SlippyMap.h"
#include "fixtures/LocalOnlyNetwork.h"
#include "fixtures/TestSupport.h"
#include "fixtures/TileServer.h"
#include "platform/StandardFolders.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>

namespace {

class SlippyMapTest : public testing::Test {
protected:
    QTemporaryDir dir;
    LocalOnlyNetwork network{dir.filePath("tiles")};
    TileServer server;

    void SetUp() override { MapTileLoader::setStandardNetwork(&network); }
    void TearDown() override
    {
        MapTileLoader::setStandardNetwork(nullptr);
        EXPECT_TRUE(network.blocked.isEmpty()) << network.blocked.join(u' ').toStdString();
    }

    std::unique_ptr<SlippyMap> makeMap(QSize size = QSize(400, 300))
    {
        auto map = std::make_unique<SlippyMap>();
        map->resize(size);
        return map;
    }
    static bool loaded(SlippyMap &map, const QString &urlTemplate, int z, int x, int y)
    {
        return map.tiles().has(MapTileLoader::tileURL(urlTemplate, z, x, y));
    }
    static QColor pixel(SlippyMap &map, QPointF at) { return map.grab().toImage().pixelColor(at.toPoint()); }
    static QRgb rgb(const QColor &c) { return c.rgb(); }
    static bool isRouteBlue(const QColor &c) { return c.blue() > 200 && c.red() < 80 && c.green() < 160; }
};

TEST_F(SlippyMapTest, FetchesTheVisibleTilesOnceWithItsUserAgentAndKeepsThemAfterTheServerStops)
{
    auto map = makeMap();
    map->setLayers({{server.urlTemplate(), 19, QStringLiteral("Test tiles")}});
    map->setCamera({{0, 0}, 3});
    map->show();
    // At level 3 the 400 × 300 view over the world's centre shows tiles 3…4 both ways.
    ASSERT_TRUE(TestSupport::waitFor([&] {
        return loaded(*map, server.urlTemplate(), 3, 3, 3) && loaded(*map, server.urlTemplate(), 3, 4, 3) &&
               loaded(*map, server.urlTemplate(), 3, 3, 4) && loaded(*map, server.urlTemplate(), 3, 4, 4);
    }));
    ASSERT_EQ(server.requests.size(), 4);
    for (const auto &request : server.requests) {
        EXPECT_EQ(request.z, 3);
        EXPECT_TRUE(request.x == 3 || request.x == 4);
        EXPECT_TRUE(request.y == 3 || request.y == 4);
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^Roadloom/\\d+\\.\\d+(\\.\\d+)? \\(Linux\\)$"))
                        .match(QString::fromLatin1(request.userAgent))
                        .hasMatch())
            << request.userAgent.toStdString();
    }
    // Screen (100, 75) is world pixel (924, 949) at level 3: tile 3/3/3.
    EXPECT_EQ(rgb(pixel(*map, {100, 75})), rgb(server.color(3, 3, 3)));
    EXPECT_EQ(rgb(pixel(*map, {300, 225})), rgb(server.color(3, 4, 4)));

    map->hide();
    map->show();
    QTest::qWait(100);
    EXPECT_EQ(server.requests.size(), 4) << "a second showing asks for nothing";

    server.stop();
    auto again = makeMap();
    again->setLayers({{server.urlTemplate(), 19, {}}});
    again->setRoute({{-5, -20}, {5, 20}});
    again->setCamera({{0, 0}, 3});
    again->show();
    ASSERT_TRUE(TestSupport::waitFor([&] { return loaded(*again, server.urlTemplate(), 3, 3, 3); }))
        << "the disk cache answers without the server";
    EXPECT_EQ(rgb(pixel(*again, {100, 75})), rgb(server.color(3, 3, 3)));
    EXPECT_TRUE(isRouteBlue(pixel(*again, again->pointFor({0, 0}))));
}

TEST_F(SlippyMapTest, WithoutTilesDrawsBackgroundGraticuleRouteMarkersAndScale)
{
    server.stop();
    auto map = makeMap();
    map->setLayers({{server.urlTemplate(), 19, {}}});
    map->setRoute({{48.0, 11.0}, {48.01, 11.02}});
    map->setMarkers({{{48.0, 11.0}, QStringLiteral("Start"), {}, QColor(Qt::green)}});
    map->show();
    QTest::qWait(50);
    const QImage image = map->grab().toImage();
    const QPointF middle = map->pointFor({48.005, 11.01});
    EXPECT_TRUE(isRouteBlue(image.pixelColor(middle.toPoint())));
    const QPointF start = map->pointFor({48.0, 11.0});
    EXPECT_EQ(image.pixel((start - QPointF(0, 17)).toPoint()), QColor(Qt::green).rgb()) << "marker balloon";
    // A plain background with lines of the graticule somewhere in every row band.
    int grid = 0, land = 0;
    for (int x = 0; x < image.width(); ++x) {
        const QColor c = image.pixelColor(x, 5);
        grid += c.rgb() == qRgb(0xdd, 0xd8, 0xcf);
        land += c.rgb() == qRgb(0xf2, 0xef, 0xe9);
    }
    EXPECT_GT(land, 200);
    EXPECT_GE(grid, 1);
    // The scale bar's dark line at the bottom leading corner.
    EXPECT_LT(image.pixelColor(12, image.height() - 10).lightness(), 120);
}

TEST_F(SlippyMapTest, KeepsTwoRequestsInFlightAndAbortsThoseThatLeftTheView)
{
    server.hold = true;
    auto map = makeMap();
    map->setLayers({{server.urlTemplate(), 19, {}}});
    map->setCamera({{0, 0}, 4});
    map->show();
    ASSERT_TRUE(TestSupport::waitFor([&] { return server.requests.size() == 2; }));
    QTest::qWait(150);
    EXPECT_EQ(server.requests.size(), 2);
    EXPECT_EQ(server.waiting(), 2);

    map->setCamera({{60, 120}, 4});
    ASSERT_TRUE(TestSupport::waitFor([&] { return server.abandoned() == 2 && server.requests.size() == 4; }));
    EXPECT_EQ(server.waiting(), 2);
    // The new requests are for tiles of the new view (around x 13, y 4 at level 4).
    for (int i = 2; i < 4; ++i) {
        EXPECT_GE(server.requests[i].x, 12);
        EXPECT_LE(server.requests[i].y, 6);
    }
    server.hold = false;
    server.release();
    ASSERT_TRUE(TestSupport::waitFor([&] { return server.requests.size() >= 6; }));
}

TEST_F(SlippyMapTest, AFailedTileIsRetriedFromTheCacheOnlyThenRests)
{
    server.status = 500;
    auto map = makeMap(QSize(200, 200));
    map->tiles().setRestDuration(std::chrono::milliseconds(700));
    map->setLayers({{server.urlTemplate(), 19, {}}});
    map->setCamera({{0, 0}, 8}); // 200 px around the world's centre: tiles 127…128 both ways
    map->show();
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(TestSupport::waitFor([&] { return server.requests.size() == 4; }));
    QTest::qWait(300);
    EXPECT_EQ(server.requests.size(), 4) << "the retry goes to the disk cache, not the server";
    EXPECT_EQ(server.count(8, 127, 127), 1);
    server.status = 200;
    ASSERT_TRUE(TestSupport::waitFor([&] { return loaded(*map, server.urlTemplate(), 8, 127, 127); }));
    EXPECT_GE(clock.elapsed(), 650);
    EXPECT_EQ(server.count(8, 127, 127), 2);
}

TEST_F(SlippyMapTest, FramesTheRouteOrOnePointAndRefitsOnResizeUntilTheUserMovesIt)
{
    struct Case {
        const char *name;
        QList<GeoPoint> route;
    };
    const Case cases[] = {
        {"a box", {{48.10, 11.50}, {48.20, 11.70}, {48.15, 11.60}}},
        {"across 180 degrees", {{-17.0, 179.995}, {-17.002, -179.995}}},
        {"a thin line north", {{10.0, 20.0}, {10.05, 20.0}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto map = makeMap();
        map->setRoute(c.route);
        EXPECT_TRUE(map->isAutomatic());
        double left = 1e9, right = -1e9, top = 1e9, bottom = -1e9;
        for (const GeoPoint &p : c.route) {
            const QPointF s = map->pointFor(p);
            left = std::min(left, s.x()), right = std::max(right, s.x());
            top = std::min(top, s.y()), bottom = std::max(bottom, s.y());
        }
        EXPECT_GE(left, 24 - 0.01);
        EXPECT_LE(right, 400 - 24 + 0.01);
        EXPECT_GE(top, 24 - 0.01);
        EXPECT_LE(bottom, 300 - 24 + 0.01);
        // One side of the box touches the padding.
        EXPECT_TRUE(std::abs(left - 24) < 0.5 || std::abs(top - 24) < 0.5);
        if (QString::fromLatin1(c.name).contains(u"180")) {
            EXPECT_GE(map->camera().zoom, 10);
        }
    }

    auto map = makeMap();
    map->setRoute({{51.5, -0.12}});
    const auto region = map->region();
    EXPECT_NEAR(region.latitudeSpan * 111195, 700, 10) << "one point shows 700 m of ground over the height";

    map->setRoute({{48.10, 11.50}, {48.20, 11.70}});
    map->resize(800, 300);
    EXPECT_NEAR(map->pointFor({48.20, 11.70}).y(), 24, 0.5) << "refitted";
    map->show();
    QTest::mousePress(map.get(), Qt::LeftButton, {}, QPoint(200, 150));
    QTest::mouseMove(map.get(), QPoint(230, 150));
    QTest::mouseRelease(map.get(), Qt::LeftButton, {}, QPoint(230, 150));
    EXPECT_FALSE(map->isAutomatic());
    const auto before = map->camera();
    map->resize(600, 300);
    EXPECT_NEAR(map->camera().zoom, before.zoom, 1e-9) << "a moved map stays where the user put it";
}

TEST_F(SlippyMapTest, GesturesMoveTheCameraAndEndWithOneSignalByTheUser)
{
    auto map = makeMap();
    map->setCamera({{45, 7}, 12});
    map->show();
    QSignalSpy ended(map.get(), &SlippyMap::cameraChangeEnded);

    // Drag: the ground under the pointer follows it.
    const GeoPoint grabbed = map->camera().centre;
    QTest::mousePress(map.get(), Qt::LeftButton, {}, QPoint(200, 150));
    QTest::mouseMove(map.get(), QPoint(250, 180));
    QTest::mouseMove(map.get(), QPoint(260, 190));
    EXPECT_TRUE(map->isDragging());
    QTest::mouseRelease(map.get(), Qt::LeftButton, {}, QPoint(260, 190));
    EXPECT_NEAR(map->pointFor(grabbed).x(), 260, 0.01);
    EXPECT_NEAR(map->pointFor(grabbed).y(), 190, 0.01);
    ASSERT_EQ(ended.size(), 1);
    EXPECT_TRUE(ended.takeFirst().at(0).toBool());

    // Wheel: half a level a notch about the pointer, ended after a pause.
    const QPointF pointer(100, 80);
    const double zoom = map->camera().zoom;
    const GeoPoint under =
        WebMercator::unproject(WebMercator::project(map->camera().centre) +
                               (pointer - QPointF(200, 150)) / WebMercator::worldSize(zoom));
    for (int i = 0; i < 2; ++i) {
        QWheelEvent wheel(pointer, map->mapToGlobal(pointer), {}, {0, 120}, Qt::NoButton, {},
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(map.get(), &wheel);
    }
    EXPECT_NEAR(map->camera().zoom, zoom + 1, 1e-9);
    EXPECT_NEAR(map->pointFor(under).x(), pointer.x(), 0.01);
    EXPECT_TRUE(ended.isEmpty());
    ASSERT_TRUE(ended.wait(1000));
    EXPECT_TRUE(ended.takeFirst().at(0).toBool());

    // Stepper and double-click zoom by whole levels, animated.
    const struct {
        const char *name;
        QPoint at;
        bool doubleClick;
        double expected;
    } steps[] = {
        {"zoom in button", map->zoomInButton().center(), false, 14},
        {"zoom out button", map->zoomOutButton().center(), false, 13},
        {"double-click", QPoint(150, 100), true, 14},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.name);
        if (step.doubleClick)
            QTest::mouseDClick(map.get(), Qt::LeftButton, {}, step.at);
        else
            QTest::mouseClick(map.get(), Qt::LeftButton, {}, step.at);
        ASSERT_TRUE(ended.wait(2000));
        EXPECT_TRUE(ended.takeFirst().at(0).toBool());
        EXPECT_NEAR(map->camera().zoom, step.expected, 1e-6);
    }

    // A programmatic animation ends as not by the user.
    map->setCamera({{45.01, 7.01}, 13}, 120);
    EXPECT_TRUE(map->isAnimating());
    ASSERT_TRUE(ended.wait(2000));
    EXPECT_FALSE(ended.takeFirst().at(0).toBool());
    EXPECT_NEAR(map->camera().centre.latitude, 45.01, 1e-9);
    EXPECT_TRUE(ended.isEmpty());
}

TEST_F(SlippyMapTest, MarkersAndVehicleNearTheDateLineDrawBesideTheRoute)
{
    auto map = makeMap();
    map->setRoute({{0, 179.99}, {0, -179.99}});
    map->setVehicle(SlippyMap::Vehicle{{0, -179.995}, 90});
    const QPointF vehicle = map->pointFor({0, -179.995});
    EXPECT_GT(vehicle.x(), 200) << "east of the date line, on the route's side";
    EXPECT_LT(vehicle.x(), 400 - 24);
    const QImage image = map->grab().toImage();
    EXPECT_EQ(image.pixel((vehicle + QPointF(-10, 0)).toPoint()), qRgb(0x0a, 0x7a, 0xff));
    EXPECT_EQ(image.pixel(vehicle.toPoint()), qRgb(255, 255, 255)) << "the arrow";
}

TEST(StandardFoldersMap, TilesLiveInTheCacheFolder)
{
    EXPECT_TRUE(StandardFolders::mapTiles().endsWith(QStringLiteral("/.cache/Roadloom/Map Tiles")));
}

} // namespace

// Following a vehicle moves the camera and the vehicle by fractions of a pixel at every tick: those are not
// painted until they add up to half a pixel.
TEST_F(SlippyMapTest, MovesOfLessThanHalfAPixelWaitUntilTheyAddUp)
{
    auto map = makeMap();
    TestSupport::PaintCount paints(map.get());
    const double zoom = 15;
    map->setCamera({{37.5, 127.0}, zoom}, 0);
    map->show();
    QTest::qWait(50);
    // A tenth of a pixel in longitude at this zoom.
    const double tenth = 0.1 * 360 / (256 * std::exp2(zoom));
    const auto settle = [&] {
        paints.take();
        QTest::qWait(30);
        return paints.take();
    };
    settle();

    map->setCamera({{37.5, 127.0 + 2 * tenth}, zoom}, 0);
    EXPECT_EQ(settle(), 0);
    map->setCamera({{37.5, 127.0 + 6 * tenth}, zoom}, 0);
    EXPECT_GT(settle(), 0) << "0.6 pixels from the painted camera";
    // The zoom for the same ground at the next fix's latitude.
    map->setCamera({{37.5, 127.0 + 6 * tenth}, zoom + 1e-7}, 0);
    EXPECT_EQ(settle(), 0);
    map->setCamera({{37.5, 127.0 + 6 * tenth}, zoom + 0.01}, 0);
    EXPECT_GT(settle(), 0);
    map->setCamera({{37.5, 127.0 + 6 * tenth}, zoom}, 0);
    settle();

    map->setVehicle(SlippyMap::Vehicle{{37.5, 127.0}, 90});
    settle();
    map->setVehicle(SlippyMap::Vehicle{{37.5, 127.0 + 3 * tenth}, 90});
    EXPECT_EQ(settle(), 0);
    EXPECT_EQ(map->vehicle()->at.longitude, 127.0) << "the vehicle as painted";
    map->setVehicle(SlippyMap::Vehicle{{37.5, 127.0 + 5 * tenth}, 90});
    EXPECT_GT(settle(), 0);
    EXPECT_EQ(map->vehicle()->at.longitude, 127.0 + 5 * tenth);
    map->setVehicle(SlippyMap::Vehicle{{37.5, 127.0 + 5 * tenth}, 120});
    EXPECT_GT(settle(), 0) << "a turn";
}
