// The speed dial and the G-sensor chart on their own, with values set directly.
#include "roadloom/ui/deck/SensorChart.h"
#include "roadloom/ui/deck/SpeedDial.h"
#include "roadloom/ui/widgets/Palette.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <numbers>

namespace {

// The pixel on the dial's arc at a screen angle (counter-clockwise from three o'clock).
QColor arcPixel(SpeedDial &dial, const QImage &image, double degrees)
{
    const QRectF square = dial.dialRect();
    const double radius = square.width() / 2 - SpeedDial::lineWidth / 2.0;
    const double a = degrees * std::numbers::pi / 180;
    const QPointF at = square.center() + QPointF(std::cos(a), -std::sin(a)) * radius;
    return image.pixelColor(at.toPoint());
}

bool saturated(const QColor &c)
{
    return c.hsvSaturation() > 120 && c.value() > 80;
}

TEST(SpeedDial, EmptyFullAndUnitDrawing)
{
    SpeedDial dial;
    dial.resize(100, 100);
    dial.setMaximum(160);
    dial.setUnit(QStringLiteral("km/h"));

    dial.setActive(false);
    dial.setValue(0);
    EXPECT_EQ(dial.numberText(), QStringLiteral("--"));
    QImage image = dial.grab().toImage();
    for (double angle = -60; angle <= 240; angle += 5)
        EXPECT_FALSE(saturated(arcPixel(dial, image, angle))) << "no arc (not even a cap) at " << angle;

    dial.setActive(true);
    dial.setValue(180);
    EXPECT_EQ(dial.numberText(), QStringLiteral("180")) << "the real value above the maximum";
    EXPECT_DOUBLE_EQ(dial.fraction(), 1.0);
    image = dial.grab().toImage();
    const QColor start = arcPixel(dial, image, 222), top = arcPixel(dial, image, 90),
                 end = arcPixel(dial, image, -42);
    EXPECT_TRUE(saturated(start) && start.green() > 2 * start.red()) << "green at the lower left";
    EXPECT_TRUE(saturated(top)) << "the arc passes over the top";
    EXPECT_TRUE(saturated(end) && end.red() > 2 * end.green()) << "red at the lower right";
    EXPECT_FALSE(saturated(arcPixel(dial, image, 270))) << "the gap stays open at the bottom";

    dial.setValue(40); // a quarter
    image = dial.grab().toImage();
    EXPECT_TRUE(saturated(arcPixel(dial, image, 200)));
    EXPECT_FALSE(saturated(arcPixel(dial, image, 120)));
}

TEST(SpeedDial, AFractionChangeEasesOutOverAQuarterSecond)
{
    SpeedDial dial;
    dial.resize(100, 100);
    dial.setMaximum(100);
    dial.show();
    dial.setValue(100);
    EXPECT_LT(dial.shownFraction(), 0.5);
    ASSERT_TRUE(
        TestSupport::waitFor([&] { return dial.shownFraction() > 0 && dial.shownFraction() < 1; }, 1000));
    ASSERT_TRUE(TestSupport::waitFor([&] { return dial.shownFraction() == 1; }, 2000));
}

// A speed that creeps at every tick eases the arc by far less than a pixel: those steps are not painted,
// but a new number is, and the end of an easing always is.
TEST(SpeedDial, StepsBelowHalfAPixelAreNotPainted)
{
    SpeedDial dial;
    dial.resize(100, 100);
    dial.setMaximum(200);
    dial.setActive(true);
    TestSupport::PaintCount paints(&dial);
    dial.show();
    dial.setValue(100.0);
    ASSERT_TRUE(TestSupport::waitFor([&] { return dial.shownFraction() == 0.5; }, 2000));
    QTest::qWait(30);

    paints.take();
    dial.setValue(100.004); // 0.005 degrees of arc, the number stays "100"
    QTest::qWait(SpeedDial::animationMs + 100);
    EXPECT_LE(paints.take(), 2) << "the easing's end, not each of its steps";

    dial.setValue(101.0); // a new number
    QTest::qWait(SpeedDial::animationMs + 100);
    EXPECT_GE(paints.take(), 1);
    EXPECT_EQ(dial.numberText(), QStringLiteral("101"));
}

TEST(SensorChartScale, TimeStepsLabelsAndValueSteps)
{
    const struct {
        double length, step;
    } times[] = {{1, 1},
                 {6, 1},
                 {7, 2},
                 {30, 5},
                 {60, 10},
                 {100, 15},
                 {180, 30},
                 {300, 60},
                 {3600, 600},
                 {3 * 3600, 1800},
                 {6 * 3600 + 1, 3600},
                 {7 * 3600, 7200}};
    for (const auto &t : times)
        EXPECT_EQ(SensorChart::timeStep(t.length), t.step) << t.length;

    EXPECT_EQ(SensorChart::timeLabel(65.4), QStringLiteral("1:05"));
    EXPECT_EQ(SensorChart::timeLabel(3723), QStringLiteral("1:02:03"));
    EXPECT_EQ(SensorChart::timeLabel(0), QStringLiteral("0:00"));

    const struct {
        double min, max, low, high, step;
    } values[] = {{0, 0, -0.5, 0.5, 0.5},
                  {1, 1, 0.5, 1.5, 0.5},
                  {-1.2, 1.9, -2, 2, 1},
                  {-0.3, 0.2, -0.4, 0.2, 0.2},
                  {-0.04, 3.0, -1, 3, 1}};
    for (const auto &v : values) {
        double low, high, step;
        SensorChart::valueScale(v.min, v.max, low, high, step);
        EXPECT_NEAR(low, v.low, 1e-9) << v.min << " " << v.max;
        EXPECT_NEAR(high, v.high, 1e-9) << v.min << " " << v.max;
        EXPECT_NEAR(step, v.step, 1e-9) << v.min << " " << v.max;
    }
}

TEST(SensorChartLines, DenseColumnsKeepEveryExtremeAndSparseCurvesStayWithinTheirNeighbours)
{
    const SensorChart::Mapping identity;
    const auto x = [](const SensorSample &s) { return s.x; };

    // 100 samples a pixel with one spike: the spike's column reaches it.
    QList<SensorSample> dense;
    for (int i = 0; i < 36000; ++i)
        dense.append({i / 100.0, i == 20050 ? 3.0 * 40 : std::sin(i / 700.0), 0, 0});
    const QPolygonF line = SensorChart::lineFor(dense, x, identity);
    EXPECT_LE(line.size(), 4 * 360) << "at most four points a column";
    double highest = -1e9;
    for (const QPointF &p : line)
        if (p.x() >= 200 && p.x() < 201)
            highest = std::max(highest, p.y());
    EXPECT_EQ(highest, 120);
    for (qsizetype i = 1; i < line.size(); ++i)
        ASSERT_GE(line[i].x(), line[i - 1].x()) << "one line in time order, " << i;

    // Sparse steps: no overshoot past a plateau, pieces at most two pixels wide, ends exact.
    const QList<SensorSample> sparse{
        {0, 0, 0, 0}, {10, 1, 0, 0}, {20, 1, 0, 0}, {30, 5, 0, 0}, {40, -2, 0, 0}};
    const QPolygonF curve = SensorChart::lineFor(sparse, x, identity);
    for (qsizetype i = 1; i < curve.size(); ++i) {
        const QLineF l(curve[i - 1], curve[i]);
        EXPECT_LE(std::abs(l.dx()), 2.0 + 1e-9);
        const int interval = std::min(3, int(std::min(l.x1(), l.x2()) / 10));
        const double lo = std::min(sparse[interval].x, sparse[interval + 1].x);
        const double hi = std::max(sparse[interval].x, sparse[interval + 1].x);
        EXPECT_GE(std::min(l.y1(), l.y2()), lo - 1e-9);
        EXPECT_LE(std::max(l.y1(), l.y2()), hi + 1e-9);
    }
    EXPECT_EQ(curve.first(), QPointF(0, 0));
    EXPECT_EQ(curve.last(), QPointF(40, -2));
}

// A flat axis (a parked car, a quantised reading) with many samples a pixel column: the line runs through
// every column of the plot, also on a grid line.
TEST(SensorChartWidget, FlatAxesAreContinuousLinesAtAnyDensity)
{
    for (const double seconds : {180.0, 3600.0}) {
        SCOPED_TRACE(seconds);
        SensorChart chart;
        chart.resize(600, 160);
        QList<SensorSample> samples;
        for (int i = 0; i <= int(seconds * 10); ++i)
            samples.append({i / 10.0, 0.37, -0.21, 1.0});
        chart.setSamples(samples);
        chart.setDuration(seconds);
        const QImage image = chart.grab().toImage();
        const QRectF plot = chart.plotRect();
        ASSERT_LT(plot.width(), samples.size() / 2.0) << "more samples than pixel columns";
        const struct {
            double value;
            QColor color;
        } axes[] = {{0.37, Palette::red(chart.palette())},
                    {-0.21, Palette::green(chart.palette())},
                    {1.0, Palette::blue(chart.palette())}};
        // How far a pixel is from the background towards the axis' colour (0 … 1).
        const QColor background = chart.palette().color(QPalette::Window);
        const auto towards = [&](const QColor &c, const QColor &line) {
            const double d[] = {double(line.red() - background.red()),
                                double(line.green() - background.green()),
                                double(line.blue() - background.blue())};
            const double p[] = {double(c.red() - background.red()), double(c.green() - background.green()),
                                double(c.blue() - background.blue())};
            return (p[0] * d[0] + p[1] * d[1] + p[2] * d[2]) / (d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        };
        for (const auto &a : axes) {
            const int y = int(std::floor(chart.yOf(a.value)));
            int missing = 0;
            for (int column = int(plot.left()) + 1; column < int(plot.right()) - 1; ++column) {
                double strongest = 0;
                for (int dy = -1; dy <= 1; ++dy)
                    strongest = std::max(strongest, towards(image.pixelColor(column, y + dy), a.color));
                missing += strongest > 0.45 ? 0 : 1;
            }
            EXPECT_EQ(missing, 0) << a.value << " g";
        }
    }
}

TEST(SensorChartWidget, DrawsTheSpikeAndSeeksUnclampedTimes)
{
    SensorChart chart;
    chart.resize(400, 160);
    QList<SensorSample> samples;
    for (int i = 0; i < 36000; ++i)
        samples.append({i / 10.0, i == 18000 ? 3.0 : 0.02 * std::sin(i / 30.0), 0.1, 1.0});
    chart.setSamples(samples);
    chart.setDuration(3600);
    EXPECT_GE(chart.high(), 3.0);
    const QImage image = chart.grab().toImage();
    const int column = int(chart.xOf(1800));
    bool reached = false;
    for (int dx = -1; dx <= 1; ++dx) {
        const QColor c = image.pixelColor(column + dx, int(std::round(chart.yOf(3.0))) + 1);
        reached |= c.red() > 150 && c.green() < 120;
    }
    EXPECT_TRUE(reached) << "the 3 g spike is drawn to its height";
    EXPECT_EQ(chart.timeMarks().size(), 7) << "every 10 min over an hour";

    QSignalSpy seeks(&chart, &SensorChart::seekRequested);
    const QRectF plot = chart.plotRect();
    QTest::mouseClick(&chart, Qt::LeftButton, {}, QPoint(2, 50));
    QTest::mousePress(&chart, Qt::LeftButton, {}, QPoint(int(plot.center().x()), 50));
    QTest::mouseMove(&chart, QPoint(int(plot.right()) + 20, 50));
    QTest::mouseRelease(&chart, Qt::LeftButton, {}, QPoint(int(plot.right()) + 20, 50));
    ASSERT_GE(seeks.size(), 3);
    EXPECT_LT(seeks.at(0).at(0).toDouble(), 0);
    EXPECT_NEAR(seeks.at(1).at(0).toDouble(), 1800, 3600 / plot.width());
    EXPECT_GT(seeks.last().at(0).toDouble(), 3600);

    // The playhead: a dark line of 1.5 px at the time.
    chart.setCurrentTime(900);
    const QImage withHead = chart.grab().toImage();
    const QPoint head(int(chart.xOf(900)), int(plot.center().y()) - 20);
    EXPECT_LT(withHead.pixelColor(head).lightness(), 120);
}

} // namespace
