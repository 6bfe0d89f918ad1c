// The telemetry deck in a real window, with a recording of a drive loaded and the map offline.
#include "roadloom/model/AppModelHarness.h"

#include "fixtures/LocalOnlyNetwork.h"
#include "fixtures/Screenshot.h"
#include "roadloom/ui/deck/MapPanel.h"
#include "roadloom/ui/deck/SensorChart.h"
#include "roadloom/ui/deck/SensorPanel.h"
#include "roadloom/ui/deck/SpeedDial.h"
#include "roadloom/ui/deck/SpeedPanel.h"
#include "roadloom/ui/deck/TelemetryDeck.h"

#include <numbers>

using namespace AppHarness;

namespace {

// Ten minutes of driving around a loop: a fix a second, samples ten times a second with one hard jolt.
Telemetry loopDrive()
{
    QList<GPSFix> gps;
    for (int i = 0; i <= 600; ++i) {
        const double a = i / 600.0 * 2 * std::numbers::pi;
        GPSFix fix;
        fix.time = i;
        fix.latitude = 48.137 + 0.012 * std::sin(a) + 0.003 * std::sin(3 * a);
        fix.longitude = 11.575 + 0.02 * std::sin(a / 2) * std::cos(a / 2) * 2;
        fix.speedKnots = 30 + 25 * std::sin(a * 2);
        fix.course = std::fmod(i * 0.6, 360);
        gps.append(fix);
    }
    QList<SensorSample> sensor;
    for (int i = 0; i < 6000; ++i) {
        const double t = i / 10.0;
        sensor.append({t, 0.15 * std::sin(t / 7) + 0.05 * std::sin(t * 3), 0.35 * std::cos(t / 40) - 0.3,
                       1.0 + 0.04 * std::sin(t * 5)});
    }
    sensor[3200].x = 2.3;
    return Telemetry(std::move(sensor), std::move(gps), QStringLiteral("test"));
}

class TelemetryDeckScreenshot : public ModelTest {
protected:
    LocalOnlyNetwork network{dir.filePath("tiles")};
    void SetUp() override { MapTileLoader::setStandardNetwork(&network); }
    void TearDown() override
    {
        ModelTest::TearDown();
        MapTileLoader::setStandardNetwork(nullptr);
    }
};

TEST_F(TelemetryDeckScreenshot, DrivePlayedToTheMiddle)
{
    ROADLOOM_REQUIRE_SCREENSHOTS();
    Screenshot::prepare();
    const DashClip clip = recording(QStringLiteral("drive"), at(1));
    services->telemetry[clip.files.begin()->second] = loopDrive();
    make({clip});
    load(clip);
    model->player().seek(50);

    TelemetryDeck deck(*model);
    const QImage image = Screenshot::capture(&deck, QSize(910, 260), QStringLiteral("telemetry-deck"));
    ASSERT_FALSE(image.isNull());
    const QColor window = Screenshot::palette(Screenshot::Appearance::light).color(QPalette::Window);

    // Card corners: outside the rounding the deck's darker ground, inside the card's window colour.
    for (QWidget *card : {static_cast<QWidget *>(deck.mapPanel()), static_cast<QWidget *>(deck.speedPanel()),
                          static_cast<QWidget *>(deck.sensorPanel())}) {
        const QRect r = card->geometry();
        for (QPoint corner : {r.topLeft(), r.topRight(), r.bottomLeft(), r.bottomRight()}) {
            const QColor c = Screenshot::sample(image, corner);
            EXPECT_LT(c.lightness(), window.lightness()) << "corner of " << r.x();
        }
        EXPECT_TRUE(
            Screenshot::near(Screenshot::sample(image, r.topLeft() + QPoint(14, r.height() - 4)), window, 3));
    }

    // The route in blue on the offline map, the vehicle on it.
    SlippyMap *map = deck.mapPanel()->map();
    const QRect mapArea(map->mapTo(&deck, QPoint(0, 0)), map->size());
    EXPECT_GT(Screenshot::count(image, mapArea, QColor(0x0a, 0x7a, 0xff), 30), 300);
    const auto fix = model->player().telemetry().gpsAt(50);
    const QPoint vehicle = map->mapTo(&deck, map->pointFor({fix->latitude, fix->longitude}).toPoint());
    EXPECT_TRUE(mapArea.contains(vehicle));

    // The dial's arc starts green at the lower left and, below the gauge's maximum, stops before the lower
    // right.
    SpeedDial *dial = deck.speedPanel()->dial();
    ASSERT_TRUE(TestSupport::waitFor([&] { return dial->shownFraction() == dial->fraction(); }));
    const QImage settled = Screenshot::capture(&deck, QSize(910, 260), QStringLiteral("telemetry-deck"));
    const QRectF square = dial->dialRect();
    const double r = square.width() / 2 - SpeedDial::lineWidth / 2.0;
    const QPoint start =
        dial->mapTo(&deck, (square.center() + QPointF(-r, r) * 0.7071 + QPointF(2, -2)).toPoint());
    const QPoint end =
        dial->mapTo(&deck, (square.center() + QPointF(r, r) * 0.7071 + QPointF(-2, -2)).toPoint());
    const QColor green = Screenshot::sample(settled, start);
    EXPECT_GT(green.green(), green.red() + 40) << green.name().toStdString();
    EXPECT_LT(Screenshot::sample(settled, end).hsvSaturation(), 60) << "the arc ends short of full";

    // The chart's three lines and the jolt.
    SensorChart *chart = deck.sensorPanel()->chart();
    const QRect plot = chart->plotRect().toAlignedRect().translated(chart->mapTo(&deck, QPoint(0, 0)));
    const auto hue = [](int low, int high) {
        return [low, high](const QColor &c) {
            const int h = c.hsvHue();
            return c.hsvSaturation() > 80 && h >= low && h <= high;
        };
    };
    EXPECT_GT(Screenshot::count(settled, plot, hue(345, 360)) + Screenshot::count(settled, plot, hue(0, 12)),
              200);
    EXPECT_GT(Screenshot::count(settled, plot, hue(100, 150)), 60);
    EXPECT_GT(Screenshot::count(settled, plot, hue(200, 225)), 200);
}

TEST_F(TelemetryDeckScreenshot, RecordingWithoutDataInTheDark)
{
    ROADLOOM_REQUIRE_SCREENSHOTS();
    Screenshot::prepare(Screenshot::Appearance::dark);
    const DashClip clip = recording(QStringLiteral("parked"), at(1));
    make({clip});
    load(clip);

    TelemetryDeck deck(*model);
    const QImage image =
        Screenshot::capture(&deck, QSize(770, 260), QStringLiteral("telemetry-deck-empty-dark"));
    Screenshot::prepare(Screenshot::Appearance::light);
    ASSERT_FALSE(image.isNull());
    const QPalette palette = Screenshot::palette(Screenshot::Appearance::dark);

    // Each placeholder's title in the text colour inside its card; the dial's dashes, no arc.
    const QColor text = palette.color(QPalette::WindowText);
    for (QWidget *card : {static_cast<QWidget *>(deck.mapPanel()), static_cast<QWidget *>(deck.speedPanel()),
                          static_cast<QWidget *>(deck.sensorPanel())})
        EXPECT_GT(Screenshot::count(image, card->geometry().adjusted(0, 40, 0, 0), text, 40), 40);
    SpeedDial *dial = deck.speedPanel()->dial();
    const QRect dialArea(dial->mapTo(&deck, QPoint(0, 0)), dial->size());
    EXPECT_EQ(Screenshot::count(image, dialArea, [](const QColor &c) { return c.hsvSaturation() > 100; }), 0);
    EXPECT_EQ(dial->numberText(), QStringLiteral("--"));
}

TEST_F(TelemetryDeckScreenshot, ChartLabelsOfTheTwoAxesKeepApartAtEverySize)
{
    ROADLOOM_REQUIRE_SCREENSHOTS();
    Screenshot::prepare();
    QList<SensorSample> samples;
    for (int i = 0; i <= 600; ++i)
        samples.append({i / 10.0, 0.45 * std::sin(i / 30.0), -0.2, 0.3});
    SensorChart chart;
    chart.setSamples(samples);
    chart.setDuration(60);
    const QColor window = Screenshot::palette(Screenshot::Appearance::light).color(QPalette::Window);
    const auto ink = [&](const QColor &c) { return !Screenshot::near(c, window, 40); };

    for (const QSize size : {QSize(160, 80), QSize(300, 140), QSize(640, 240)}) {
        SCOPED_TRACE(size.width());
        const QImage image =
            Screenshot::capture(&chart, size, QStringLiteral("sensor-chart-%1").arg(size.width()));
        const QList<SensorChart::AxisLabel> values = chart.valueLabels(), times = chart.timeLabels();
        ASSERT_TRUE(!values.isEmpty() && !times.isEmpty());
        ASSERT_EQ(values.first().text + " " + times.first().text, QStringLiteral("-0.5 0:00"));
        for (const auto &value : values)
            for (const auto &time : times)
                EXPECT_FALSE(value.rect.intersects(time.rect))
                    << value.text.toStdString() << " and " << time.text.toStdString();

        // The corner's two labels are drawn in their boxes, and nothing of either lies between them.
        const QRectF lowest = values.first().rect, first = times.first().rect;
        EXPECT_GT(Screenshot::count(image, lowest.toAlignedRect(), ink), 8);
        EXPECT_GT(Screenshot::count(image, first.toAlignedRect(), ink), 8);
        const QRect between(QPoint(int(std::ceil(lowest.right())) + 1, int(first.top())),
                            QPoint(int(std::floor(first.left())) - 1, int(first.bottom())));
        EXPECT_EQ(Screenshot::count(image, between, ink), 0);
    }
}

} // namespace
