// The telemetry deck on the application model's harness: what the three cards show for a loaded recording,
// what they write back, and how the map follows the vehicle.
#include "roadloom/model/AppModelHarness.h"

#include "fixtures/LocalOnlyNetwork.h"
#include "fixtures/TileServer.h"
#include "platform/gui/MapTileLoader.h"
#include "roadloom/model/Preferences.h"
#include "roadloom/ui/deck/Card.h"
#include "roadloom/ui/deck/MapPanel.h"
#include "roadloom/ui/deck/SensorChart.h"
#include "roadloom/ui/deck/SensorPanel.h"
#include "roadloom/ui/deck/SpeedDial.h"
#include "roadloom/ui/deck/SpeedPanel.h"
#include "roadloom/ui/deck/TelemetryDeck.h"
#include "roadloom/ui/widgets/ContentUnavailableWidget.h"
#include "roadloom/ui/widgets/SegmentedControl.h"

#include <QComboBox>
#include <QLabel>
#include <QScrollBar>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QWheelEvent>

using namespace AppHarness;

namespace {

// Fixes every 0.1 s from a start, moving by a step each, at a speed and course.
Telemetry drive(int count, GeoPoint start, GeoPoint step, double knots, std::optional<double> course,
                QList<SensorSample> sensor = {})
{
    QList<GPSFix> gps;
    for (int i = 0; i < count; ++i) {
        GPSFix fix;
        fix.time = i * 0.1;
        fix.latitude = start.latitude + i * step.latitude;
        fix.longitude = start.longitude + i * step.longitude;
        fix.speedKnots = knots;
        fix.course = course;
        gps.append(fix);
    }
    return Telemetry(std::move(sensor), std::move(gps), QStringLiteral("test"));
}

class DeckTest : public ModelTest {
protected:
    LocalOnlyNetwork network{dir.filePath("tiles")};
    std::unique_ptr<TelemetryDeck> deck;

    void SetUp() override { MapTileLoader::setStandardNetwork(&network); }
    void TearDown() override
    {
        deck.reset();
        ModelTest::TearDown();
        MapTileLoader::setStandardNetwork(nullptr);
    }

    // A model listing recordings a, b and c, with the deck shown at a size.
    void makeDeck(QSize size = QSize(910, 260))
    {
        make({recording(QStringLiteral("a"), at(1)), recording(QStringLiteral("b"), at(2)),
              recording(QStringLiteral("c"), at(3))});
        deck = std::make_unique<TelemetryDeck>(*model);
        deck->resize(size);
        deck->show();
        QCoreApplication::processEvents();
    }
    void loadWith(const QString &name, const Telemetry &telemetry)
    {
        services->telemetry[QStringLiteral("/card/") + name + QStringLiteral("_F.mp4")] = telemetry;
        load(recording(name, at(1)));
    }
    MapPanel &mapPanel() { return *deck->mapPanel(); }
    SpeedPanel &speedPanel() { return *deck->speedPanel(); }
    SensorPanel &sensorPanel() { return *deck->sensorPanel(); }
    SlippyMap &map() { return *mapPanel().map(); }
    // Seeks and waits for the camera's move to the vehicle to end.
    void seekAndFollow(double t)
    {
        QSignalSpy ended(&map(), &SlippyMap::cameraChangeEnded);
        model->player().seek(t);
        ASSERT_TRUE(ended.wait(3000));
    }
    void drag(QPoint from, QPoint to)
    {
        QTest::mousePress(&map(), Qt::LeftButton, {}, from);
        QTest::mouseMove(&map(), (from + to) / 2);
        QTest::mouseMove(&map(), to);
        QTest::mouseRelease(&map(), Qt::LeftButton, {}, to);
    }
    bool centredOnVehicle(double t)
    {
        const auto fix = model->player().telemetry().gpsAt(t);
        const auto region = map().region();
        return std::abs(region.centre.latitude - fix->latitude) < 1e-6 &&
               std::abs(region.centre.longitude - fix->longitude) < 1e-6 &&
               std::abs(region.latitudeSpan * 111195 - MapPanel::followGround) < 10;
    }
};

TEST_F(DeckTest, CardsKeepTheirWidthsAndUpperCaseCaptions)
{
    makeDeck(QSize(770, 260));
    EXPECT_EQ(mapPanel().width(), 240);
    EXPECT_EQ(speedPanel().width(), 210);
    EXPECT_EQ(sensorPanel().width(), 280);
    deck->resize(1300, 260);
    QCoreApplication::processEvents();
    EXPECT_EQ(speedPanel().width(), 210);
    EXPECT_GT(mapPanel().width(), 240);
    EXPECT_GT(sensorPanel().width(), 280);
    EXPECT_EQ(mapPanel().width() + sensorPanel().width(), 1300 - 210 - 40);
    EXPECT_EQ(sensorPanel().caption(), QStringLiteral("G-SENSOR"));
    EXPECT_EQ(mapPanel().caption(), QStringLiteral("ROUTE"));

    // The card's outline lies inside its rounded background; outside the corner is the deck's colour.
    const QImage image = deck->grab().toImage();
    const QPoint corner = speedPanel().geometry().topLeft();
    EXPECT_NE(image.pixel(corner), image.pixel(corner + QPoint(12, 12)));
    EXPECT_EQ(image.pixel(corner), image.pixel(corner - QPoint(3, 3)));

    // A darker palette reaches the map's rounded corners, which take the card's colour.
    QPalette dark = deck->palette();
    dark.setColor(QPalette::Window, QColor(0x2a, 0x2a, 0x2c));
    dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
    deck->setPalette(dark);
    EXPECT_EQ(mapPanel().map()->grab().toImage().pixel(0, 0), qRgb(0x2a, 0x2a, 0x2c));
}

// Whatever the column's width, no card lies over another, every card lies whole in the deck and every card's
// control stays whole inside it; at 770 pixels and more the cards keep their designed widths; narrower than
// the shrunken cards allow in one row, the chart goes under the map and the speed card, across the deck.
TEST_F(DeckTest, AtEveryWidthNoCardCoversAnotherAndEveryControlStaysWhole)
{
    QList<SensorSample> sensor;
    for (int i = 0; i < 300; ++i)
        sensor.append({i * 0.1, -1.25, 0.5, 1.0});
    makeDeck(QSize(910, 260));
    loadWith(QStringLiteral("a"), drive(300, {48, 11}, {0.00002, 0.00003}, 20, 45, sensor));
    model->player().seek(5);
    ASSERT_EQ(sensorPanel().readout(), (QStringList{"-1.25", "+0.50", "+1.00"}));
    const auto inDeck = [&](const QWidget *w) {
        return QRect(w->mapTo(deck.get(), QPoint(0, 0)), w->size());
    };
    for (int width : {200,
                      272,
                      300,
                      360,
                      420,
                      TelemetryDeck::stackWidth - 1,
                      TelemetryDeck::stackWidth,
                      410,
                      420,
                      430,
                      444,
                      450,
                      456,
                      460,
                      470,
                      520,
                      580,
                      640,
                      700,
                      769,
                      770,
                      771,
                      800,
                      910,
                      1300}) {
        for (int asked : {200, 256}) {
            SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(asked));
            deck->resize(width, asked);
            QCoreApplication::processEvents();
            // The detail column gives the deck at least its least height, which the smallest window has room
            // for (256 pixels under its player).
            const int least = deck->minimumSizeHint().height();
            EXPECT_LE(least, 256);
            if (least > asked) {
                deck->resize(width, least);
                QCoreApplication::processEvents();
            }
            Card *cards[] = {&mapPanel(), &speedPanel(), &sensorPanel()};
            for (int i = 0; i < 3; ++i) {
                const QRect card = cards[i]->geometry();
                EXPECT_TRUE(deck->rect()
                                .adjusted(TelemetryDeck::padding, TelemetryDeck::padding,
                                          -TelemetryDeck::padding, -TelemetryDeck::padding)
                                .contains(card))
                    << i;
                for (int j = 0; j < i; ++j)
                    EXPECT_FALSE(card.adjusted(-TelemetryDeck::spacing, -TelemetryDeck::spacing, 0, 0)
                                     .intersects(cards[j]->geometry()))
                        << i << " over " << j;
            }
            const bool stacked = width < TelemetryDeck::stackWidth;
            EXPECT_EQ(deck->isStacked(), stacked);
            if (stacked) {
                // The chart across the whole deck under the two others, in its share of the height.
                EXPECT_EQ(sensorPanel().width(), width - 2 * TelemetryDeck::padding);
                EXPECT_GT(sensorPanel().y(), speedPanel().geometry().bottom());
                EXPECT_EQ(mapPanel().y(), speedPanel().y());
                EXPECT_EQ(sensorPanel().height(),
                          (deck->height() - 2 * TelemetryDeck::padding - TelemetryDeck::spacing) *
                              TelemetryDeck::bottomShare / 100);
            } else {
                EXPECT_EQ(sensorPanel().y(), mapPanel().y());
            }
            if (width >= TelemetryDeck::fullWidth) {
                EXPECT_EQ(speedPanel().width(), SpeedPanel::fixedWidth);
                EXPECT_GE(mapPanel().width(), MapPanel::minimumWidth);
                EXPECT_GE(sensorPanel().width(), SensorPanel::minimumWidth);
                EXPECT_EQ(mapPanel().width() + sensorPanel().width(), width - 210 - 40);
            }
            if (width == TelemetryDeck::fullWidth) {
                EXPECT_EQ(mapPanel().width(), MapPanel::minimumWidth);
            }
            // From the smallest window's column on, each control lies whole inside its card's padding and
            // clear of the caption.
            QList<std::pair<Card *, QWidget *>> controls = {{&mapPanel(), mapPanel().followButton()},
                                                            {&mapPanel(), mapPanel().styleMenu()},
                                                            {&speedPanel(), speedPanel().unitPicker()},
                                                            {&speedPanel(), speedPanel().dial()}};
            for (QLabel *value : sensorPanel().findChildren<QLabel *>())
                if (value->text().startsWith('+') || value->text().startsWith('-'))
                    controls.append({&sensorPanel(), value});
            EXPECT_EQ(controls.size(), 7);
            for (const auto &[card, control] : controls) {
                SCOPED_TRACE(control->metaObject()->className());
                EXPECT_TRUE(control->isVisibleTo(deck.get()));
                const QRect inside =
                    card->geometry().adjusted(Card::padding, Card::padding, -Card::padding, -Card::padding);
                EXPECT_TRUE(inside.contains(inDeck(control)))
                    << inDeck(control).x() << "+" << inDeck(control).width() << " in " << inside.x() << "+"
                    << inside.width();
                for (QLabel *caption : card->findChildren<QLabel *>())
                    if (caption->text() == card->caption() && caption->isVisibleTo(card)) {
                        EXPECT_FALSE(inDeck(caption).intersects(inDeck(control)));
                    }
            }
            // Each card's body (the map with its zoom buttons, the dial, the chart) lies inside the card's
            // padding.
            for (Card *card : cards)
                EXPECT_TRUE(card->geometry()
                                .adjusted(Card::padding, Card::padding, -Card::padding, -Card::padding)
                                .contains(inDeck(card->content())))
                    << card->title().toStdString();
            // The figures under the dial, when shown, lie whole under it; a short card leaves them out before
            // the dial gets small.
            QWidget *figures = speedPanel().figures();
            const QRect dial = inDeck(speedPanel().dial());
            if (figures->isVisibleTo(deck.get())) {
                EXPECT_GT(inDeck(figures).top(), dial.bottom());
                EXPECT_TRUE(inDeck(speedPanel().content()).contains(inDeck(figures)));
            } else {
                const QRect body = inDeck(speedPanel().content());
                EXPECT_GE(dial.width(), std::min({SpeedPanel::dialSize, body.width(), body.height()}));
            }
            EXPECT_EQ(dial.width(), dial.height());
        }
    }
}

TEST_F(DeckTest, SpeedPanelWithoutFixesShowsDashesAndNoArc)
{
    makeDeck();
    loadWith(QStringLiteral("a"), Telemetry());
    EXPECT_EQ(speedPanel().dial()->numberText(), QStringLiteral("--"));
    EXPECT_EQ(speedPanel().dial()->fraction(), 0);
    EXPECT_EQ(speedPanel().heading(), QStringLiteral("—"));
    EXPECT_EQ(speedPanel().topSpeed(), QStringLiteral("—"));
    EXPECT_EQ(speedPanel().distanceText(), QStringLiteral("—"));
    const QImage dial = speedPanel().dial()->grab().toImage();
    for (int y = 0; y < dial.height(); ++y)
        for (int x = 0; x < dial.width(); ++x)
            ASSERT_LT(dial.pixelColor(x, y).hsvSaturation(), 100) << "no arc pixel at " << x << "," << y;
}

TEST_F(DeckTest, SpeedPanelFollowsThePlayheadAndTheUnitWhereverItIsSet)
{
    makeDeck();
    // 180 km/h is 97.19 knots; fixes 10 m apart north, heading 93°.
    loadWith(QStringLiteral("a"), drive(50, {48, 11}, {0.0000899, 0}, 180 / 1.852, 93));
    SpeedPanel &panel = speedPanel();
    EXPECT_EQ(panel.dial()->numberText(), QStringLiteral("180"));
    EXPECT_EQ(panel.dial()->fraction(), 1);
    EXPECT_EQ(panel.heading(), QStringLiteral("93° E"));
    EXPECT_EQ(panel.topSpeed(), QStringLiteral("180 km/h"));
    EXPECT_EQ(panel.distanceText(), QStringLiteral("490 m"));
    ASSERT_TRUE(TestSupport::waitFor([&] { return panel.dial()->shownFraction() == 1; }));

    // The arc is full: green where it starts at the lower left, red where it ends at the lower right.
    SpeedDial &dial = *panel.dial();
    const QImage image = dial.grab().toImage();
    const QPointF centre = dial.dialRect().center();
    const double r = dial.dialRect().width() / 2 - 5;
    const QColor start = image.pixelColor((centre + QPointF(-r, r) * 0.7071 + QPointF(2, -2)).toPoint());
    const QColor end = image.pixelColor((centre + QPointF(r, r) * 0.7071 + QPointF(-2, -2)).toPoint());
    EXPECT_GT(start.green(), 2 * start.red());
    EXPECT_GT(end.red(), 2 * end.green());

    // The user picks mph: stored, and the dial, top speed and distance convert at once.
    SegmentedControl &picker = *panel.unitPicker();
    QTest::mouseClick(&picker, Qt::LeftButton, {}, picker.segmentRect(1).center());
    EXPECT_EQ(defaults.string(QStringLiteral("speedUnit")), QStringLiteral("mph"));
    EXPECT_EQ(dial.numberText(), QStringLiteral("112"));
    EXPECT_EQ(dial.unit(), QStringLiteral("mph"));
    EXPECT_EQ(panel.topSpeed(), QStringLiteral("112 mph"));
    EXPECT_EQ(panel.distanceText(), QStringLiteral("0.30 mi"));

    // Another view changes it back: the picker and the figures follow, nothing is written again.
    QSignalSpy writes(&defaults, &Defaults::changed);
    model->preferences().setSpeedUnit(SpeedUnit::kmh);
    EXPECT_EQ(writes.size(), 1);
    EXPECT_EQ(picker.currentIndex(), 0);
    EXPECT_EQ(panel.topSpeed(), QStringLiteral("180 km/h"));

    // A fix without a course: no heading, the rest still shows.
    loadWith(QStringLiteral("b"), drive(5, {48, 11}, {0.001, 0}, 10, std::nullopt));
    EXPECT_EQ(panel.heading(), QStringLiteral("—"));
    EXPECT_EQ(panel.dial()->numberText(), QStringLiteral("19"));
}

TEST(SpeedPanelTexts, CompassPointsAndDistances)
{
    const struct {
        double heading;
        const char *point;
    } points[] = {{22.4, "N"}, {22.5, "NE"}, {359, "N"},   {360, "N"}, {0, "N"},   {180, "S"},
                  {93, "E"},   {-30, "NW"},  {-22.4, "N"}, {725, "N"}, {270, "W"}, {202.5, "SW"}};
    for (const auto &p : points)
        EXPECT_EQ(SpeedPanel::compass(p.heading), QString::fromLatin1(p.point)) << p.heading;
    EXPECT_EQ(SpeedPanel::compass(std::nan("")), QStringLiteral("—"));
    EXPECT_EQ(SpeedPanel::compass(INFINITY), QStringLiteral("—"));

    const struct {
        double metres;
        SpeedUnit unit;
        const char *text;
    } distances[] = {{999.4, SpeedUnit::kmh, "999 m"},      {999.6, SpeedUnit::kmh, "1000 m"},
                     {1000, SpeedUnit::kmh, "1.00 km"},     {2500, SpeedUnit::kmh, "2.50 km"},
                     {1609.344, SpeedUnit::mph, "1.00 mi"}, {0, SpeedUnit::mph, "0.00 mi"}};
    for (const auto &d : distances)
        EXPECT_EQ(SpeedPanel::distance(d.metres, d.unit), QString::fromLatin1(d.text)) << d.metres;
}

TEST_F(DeckTest, PlaceholdersWhileReadingAndWithoutData)
{
    QSemaphore gate;
    adjust = [&](AppModel::Services &s) {
        auto read = s.playerServices.readTelemetry;
        s.playerServices.readTelemetry = [read, &gate](const ChannelFiles &files) {
            gate.acquire();
            return read(files);
        };
    };
    makeDeck();
    model->player().load(recording(QStringLiteral("a"), at(1)), false);
    ASSERT_TRUE(TestSupport::waitFor([&] { return model->player().isLoadingTelemetry(); }));
    EXPECT_FALSE(mapPanel().showsMap());
    EXPECT_EQ(mapPanel().placeholder()->title(), QStringLiteral("Reading GPS…"));
    EXPECT_EQ(mapPanel().placeholder()->description(), QString());
    EXPECT_FALSE(sensorPanel().showsChart());
    EXPECT_EQ(sensorPanel().placeholder()->title(), QStringLiteral("Reading sensor…"));
    EXPECT_EQ(sensorPanel().placeholder()->symbol(), QStringLiteral("gyroscope"));
    EXPECT_EQ(mapPanel().placeholder()->symbol(), QStringLiteral("location.slash"));

    gate.release();
    ASSERT_TRUE(TestSupport::waitFor([&] { return front().hasFile(); }));
    front().fireReady(facts());
    ASSERT_TRUE(TestSupport::waitFor([&] { return !model->player().isLoadingTelemetry(); }));
    EXPECT_EQ(mapPanel().placeholder()->title(), QStringLiteral("No GPS Data"));
    EXPECT_EQ(mapPanel().placeholder()->description(),
              QStringLiteral("This recording has no position fixes."));
    EXPECT_EQ(sensorPanel().placeholder()->title(), QStringLiteral("No G-Sensor Data"));
    EXPECT_TRUE(sensorPanel().readout().isEmpty()) << "an empty header without samples";
    // The header controls stay usable.
    QTest::mouseClick(mapPanel().followButton(), Qt::LeftButton);
    EXPECT_FALSE(mapPanel().isFollowing());
}

TEST_F(DeckTest, SensorChartDrawsEverySpikeSeeksAndShowsSignedValues)
{
    makeDeck(QSize(1200, 260));
    QList<SensorSample> sensor;
    for (int i = 0; i < 36000; ++i)
        sensor.append({i / 10.0, i == 20000 ? 3.0 : 0.01 * std::sin(i / 9.0), i == 0 ? -0.004 : 0.2, 0.0});
    Telemetry telemetry(sensor, {}, QStringLiteral("test"));
    loadWith(QStringLiteral("a"), telemetry);
    SensorChart &chart = *sensorPanel().chart();
    ASSERT_TRUE(sensorPanel().showsChart());
    EXPECT_EQ(chart.axisLength(), 3599.9) << "the longer of the data and the video";

    const QImage image = chart.grab().toImage();
    const int column = int(chart.xOf(2000.0));
    bool reached = false;
    for (int dx = -1; dx <= 1; ++dx) {
        const QColor c = image.pixelColor(column + dx, int(std::round(chart.yOf(3.0))) + 1);
        reached |= c.red() > 150 && c.green() < 120 && c.blue() < 120;
    }
    EXPECT_TRUE(reached) << "one 3 g sample among 36,000 reaches its height";

    EXPECT_EQ(sensorPanel().readout(),
              (QStringList{QStringLiteral("+0.00"), QStringLiteral("-0.00"), QStringLiteral("+0.00")}));
    model->player().seek(0.1);
    EXPECT_EQ(sensorPanel().readout(),
              (QStringList{QStringLiteral("+0.00"), QStringLiteral("+0.20"), QStringLiteral("+0.00")}));

    const QRectF plot = chart.plotRect();
    QTest::mouseClick(&chart, Qt::LeftButton, {}, QPoint(1, int(plot.center().y())));
    EXPECT_EQ(model->player().currentTime(), 0);
    QTest::mouseClick(&chart, Qt::LeftButton, {}, QPoint(int(plot.center().x()), int(plot.center().y())));
    EXPECT_NEAR(model->player().currentTime(), 60, 0.01) << "the player's duration limits the seek";
}

TEST_F(DeckTest, MapShowsStyleAndMarkersFromTheModel)
{
    makeDeck();
    // mapStyle both ways, and an unknown stored value reads standard. Without a satellite source the
    // satellite styles draw the street map; with one they draw it, hybrid with its labels over it.
    QComboBox &menu = *mapPanel().styleMenu();
    menu.activated(1);
    EXPECT_EQ(defaults.string(QStringLiteral("mapStyle")), QStringLiteral("hybrid"));
    ASSERT_EQ(map().layers().size(), 1);
    EXPECT_EQ(map().layers().first().urlTemplate, Preferences::defaultMapTileURL);
    const QString satellite = QStringLiteral("https://sat.example/{z}/{y}/{x}.jpg");
    const QString labels = QStringLiteral("https://labels.example/{z}/{y}/{x}.png");
    defaults.setValue(QStringLiteral("mapSatelliteTileURL"), satellite);
    defaults.setValue(QStringLiteral("mapLabelsTileURL"), labels);
    ASSERT_EQ(map().layers().size(), 2);
    EXPECT_EQ(map().layers()[0].urlTemplate, satellite);
    EXPECT_EQ(map().layers()[1].urlTemplate, labels);
    defaults.setValue(QStringLiteral("mapStyle"), QStringLiteral("satellite"));
    EXPECT_EQ(menu.currentText(), QStringLiteral("Satellite"));
    ASSERT_EQ(map().layers().size(), 1);
    EXPECT_EQ(map().layers().first().urlTemplate, satellite);
    defaults.setValue(QStringLiteral("mapStyle"), QStringLiteral("terrain"));
    EXPECT_EQ(menu.currentText(), QStringLiteral("Standard"));

    // Templates: local servers apply at once; file templates and ones without {x} are ignored here.
    TileServer server;
    defaults.setValue(QStringLiteral("mapTileURL"), server.urlTemplate());
    EXPECT_EQ(map().layers().first().urlTemplate, server.urlTemplate());
    const struct {
        const char *url;
        bool usable;
    } templates[] = {{"https://t.example/{z}/{x}/{y}.png", true}, {"http://t.example/{z}/{y}/{x}", true},
                     {"file:///tiles/{z}/{x}/{y}.png", false},    {"https://t.example/{z}/{y}.png", false},
                     {"ftp://t.example/{z}/{x}/{y}", false},      {"{z}/{x}/{y}", false}};
    for (const auto &t : templates)
        EXPECT_EQ(MapTileLoader::isUsableTemplate(QString::fromLatin1(t.url)), t.usable) << t.url;
    defaults.setValue(QStringLiteral("mapSatelliteTileURL"), QStringLiteral("file:///tiles/{z}/{x}/{y}.png"));
    defaults.setValue(QStringLiteral("mapStyle"), QStringLiteral("hybrid"));
    ASSERT_EQ(map().layers().size(), 1) << "without a satellite template, the street map";
    EXPECT_EQ(map().layers().first().urlTemplate, server.urlTemplate());

    // Peaks: 1.5 g gives no marker, 1.51 g one titled "1.5 g" at the fix of its time.
    const auto withPeak = [](double g) {
        Telemetry t = drive(20, {48, 11}, {0.0001, 0}, 10, 0);
        t.sensor = {{0.5, 0, 0, 1}, {1.0, 0, 0, g}, {1.5, 0, 0, 1}};
        return t;
    };
    loadWith(QStringLiteral("a"), withPeak(1.5));
    ASSERT_EQ(map().markers().size(), 1);
    EXPECT_EQ(map().markers().first().title, QStringLiteral("Start"));
    loadWith(QStringLiteral("b"), withPeak(1.51));
    ASSERT_EQ(map().markers().size(), 2);
    EXPECT_EQ(map().markers()[1].title, QStringLiteral("1.5 g"));
    EXPECT_NEAR(map().markers()[1].at.latitude, 48.001, 1e-9);
    ASSERT_TRUE(map().vehicle().has_value());
    EXPECT_EQ(map().vehicle()->at, (GeoPoint{48, 11}));

    // Tiles come from the server for what the map shows.
    ASSERT_TRUE(TestSupport::waitFor([&] { return !server.requests.isEmpty(); }));
    EXPECT_EQ(server.requests.first().z, int(std::lround(map().camera().zoom)));
}

TEST_F(DeckTest, FollowModeRules)
{
    makeDeck();
    // The route starts at the edge of its box, far from where the framing puts the centre.
    loadWith(QStringLiteral("a"), drive(300, {48, 11}, {0.00002, 0.00003}, 20, 45));
    ASSERT_TRUE(mapPanel().showsMap());
    EXPECT_TRUE(mapPanel().isFollowing());
    EXPECT_TRUE(map().isAutomatic());
    QTest::qWait(50);
    EXPECT_TRUE(mapPanel().isFollowing()) << "framing a new recording keeps following";

    // Rule 1: a seek into another half second centres the vehicle at 700 m; a seek within it does not.
    seekAndFollow(10.2);
    EXPECT_TRUE(centredOnVehicle(10.2));
    EXPECT_TRUE(mapPanel().isFollowing());
    QSignalSpy ended(&map(), &SlippyMap::cameraChangeEnded);
    model->player().seek(10.4);
    EXPECT_FALSE(map().isAnimating());

    // Rule 2: a pan of 34 % of the view keeps following, 36 % ends it and the map stays.
    const int w = map().width(), h = map().height();
    drag(QPoint(w / 2, h / 2), QPoint(w / 2 + int(std::lround(0.34 * w)), h / 2));
    EXPECT_TRUE(mapPanel().isFollowing());
    seekAndFollow(11.0);
    EXPECT_TRUE(centredOnVehicle(11.0)) << "the next half second recentres";
    drag(QPoint(w / 2, h / 2), QPoint(w / 2, h / 2 - int(std::lround(0.36 * h))));
    EXPECT_FALSE(mapPanel().isFollowing());
    const auto panned = map().camera();
    model->player().seek(12.0);
    EXPECT_FALSE(map().isAnimating());
    EXPECT_EQ(map().camera().centre, panned.centre);

    // Rule 3: following on does not move the camera until the next half second; off reframes the route.
    QTest::mouseClick(mapPanel().followButton(), Qt::LeftButton);
    EXPECT_TRUE(mapPanel().isFollowing());
    EXPECT_EQ(mapPanel().followButton()->toolTip(),
              QStringLiteral("Following vehicle — click to show whole route"));
    EXPECT_FALSE(map().isAnimating());
    seekAndFollow(13.0);
    EXPECT_TRUE(centredOnVehicle(13.0));
    QTest::mouseClick(mapPanel().followButton(), Qt::LeftButton);
    EXPECT_FALSE(mapPanel().isFollowing());
    EXPECT_EQ(mapPanel().followButton()->toolTip(), QStringLiteral("Follow vehicle"));
    EXPECT_TRUE(map().isAutomatic());

    // Rule 4: the same recording again (as after cache resolution) changes nothing; another one follows
    // and shows its whole route.
    load(recording(QStringLiteral("a"), at(1)));
    EXPECT_FALSE(mapPanel().isFollowing());
    loadWith(QStringLiteral("b"), drive(2, {-17.0, 179.999}, {-0.0001, 0.002}, 20, 90));
    EXPECT_TRUE(mapPanel().isFollowing());
    EXPECT_TRUE(map().isAutomatic());
    EXPECT_GE(map().camera().zoom, 10) << "a route across 180° is framed close";
}

// The deck is only hidden in theater mode; coming back, the map starts over as for a new deck.
TEST_F(DeckTest, AfterTheaterModeTheMapFollowsAndFramesTheWholeRoute)
{
    makeDeck();
    loadWith(QStringLiteral("a"), drive(300, {48, 11}, {0.00002, 0.00003}, 20, 45));
    seekAndFollow(10.2);
    const int w = map().width(), h = map().height();
    drag(QPoint(w / 2, h / 2), QPoint(w / 2, h / 2 - int(std::lround(0.4 * h))));
    ASSERT_FALSE(mapPanel().isFollowing());
    ASSERT_FALSE(map().isAutomatic());

    model->setTheaterMode(true);
    deck->hide();
    EXPECT_FALSE(mapPanel().isFollowing()) << "nothing changes while the deck is away";
    model->setTheaterMode(false);
    deck->show();
    EXPECT_TRUE(mapPanel().isFollowing());
    EXPECT_TRUE(map().isAutomatic());
    const auto frame = map().camera();
    deck->mapPanel()->map()->setAutomatic(false);
    EXPECT_EQ(map().camera().centre, frame.centre) << "the whole route is framed";
    EXPECT_DOUBLE_EQ(map().camera().zoom, frame.zoom);
    seekAndFollow(13.0);
    EXPECT_TRUE(centredOnVehicle(13.0)) << "and the next half second follows again";
}

// The vehicle never hides under the map's own controls: framed on a route that starts or ends at an edge of
// its box, or followed, it keeps its own size of room to every edge, the zoom buttons, the scale and the
// attribution, at the deck's smallest and largest sizes.
TEST_F(DeckTest, TheVehicleStaysClearOfTheMapsEdgesAndControls)
{
    makeDeck();
    const auto clearance = [&](double t) {
        const auto fix = model->player().telemetry().gpsAt(t);
        const QPointF at = map().pointFor({fix->latitude, fix->longitude});
        double least = std::min({at.x(), at.y(), map().width() - at.x(), map().height() - at.y()});
        for (const QRectF &control : map().controlRects()) {
            const double dx = std::max({control.left() - at.x(), 0.0, at.x() - control.right()});
            const double dy = std::max({control.top() - at.y(), 0.0, at.y() - control.bottom()});
            least = std::min(least, std::hypot(dx, dy));
        }
        return least;
    };
    struct Route {
        const char *name;
        GeoPoint step;
    };
    const Route routes[] = {{"north-east", {0.00002, 0.00003}},
                            {"south-east", {-0.00002, 0.00003}},
                            {"north-west", {0.00002, -0.00003}},
                            {"south-west", {-0.00002, -0.00003}}};
    int recording = 0;
    for (const QSize &size : {QSize(470, 200), QSize(1300, 520)}) {
        deck->resize(size);
        QCoreApplication::processEvents();
        for (const Route &route : routes) {
            SCOPED_TRACE(std::to_string(size.width()) + " " + route.name);
            const QString name = QStringLiteral("abc").mid(recording++ % 3, 1);
            loadWith(name, drive(300, {48, 11}, route.step, 20, 45));
            ASSERT_TRUE(map().isAutomatic());
            // The whole route is framed: its start and its end are clear.
            EXPECT_GE(clearance(0), SlippyMap::vehicleSize - 0.01);
            EXPECT_GE(clearance(29.9), SlippyMap::vehicleSize - 0.01);
            // Following puts the vehicle clear as well.
            seekAndFollow(29.6);
            EXPECT_GE(clearance(29.6), SlippyMap::vehicleSize - 0.01);
            EXPECT_TRUE(centredOnVehicle(29.6));
            model->player().load(std::nullopt, false);
        }
    }
}

} // namespace
