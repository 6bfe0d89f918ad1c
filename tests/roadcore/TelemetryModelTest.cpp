#include "roadcore/Telemetry.h"

#include <gtest/gtest.h>

#include <QSet>

namespace {

GPSFix fix(double time, double lat, double lon, double knots = 0)
{
    GPSFix f;
    f.time = time;
    f.latitude = lat;
    f.longitude = lon;
    f.speedKnots = knots;
    return f;
}

QDateTime utc(const char *iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs);
}

TEST(Telemetry, LastIndexFindsTheLastElementAtOrBefore)
{
    const QList<SensorSample> list{{0, 0, 0, 0}, {1, 0, 0, 0}, {1, 0, 0, 0}, {2, 0, 0, 0}};
    const auto key = [](const SensorSample &s) { return s.time; };
    const struct {
        double t;
        std::optional<qsizetype> expected;
    } cases[] = {{1, 2}, {0.5, 0}, {-1, std::nullopt}, {5, 3}, {0, 0}, {2, 3}, {qQNaN(), std::nullopt}};
    for (const auto &c : cases)
        EXPECT_EQ(Telemetry::lastIndex(list, c.t, key), c.expected) << c.t;
    EXPECT_EQ(Telemetry::lastIndex(QList<SensorSample>{}, 1.0, key), std::nullopt);
    // Many equal keys: the search terminates and finds the last of them.
    const QList<SensorSample> equal(1000, SensorSample{3, 0, 0, 0});
    EXPECT_EQ(Telemetry::lastIndex(equal, 3.0, key), 999);
}

TEST(Telemetry, PointQueriesFallBackToTheFirstElement)
{
    Telemetry t;
    EXPECT_FALSE(t.sensorAt(1));
    EXPECT_FALSE(t.gpsAt(1));
    EXPECT_FALSE(t.recordAt(1));
    EXPECT_FALSE(t.vehicleAt(1));
    t.sensor = {{2, 1, 0, 0}, {3, 2, 0, 0}};
    t.records = {{2, "a"}, {3, "b"}};
    t.vehicle = {{2, {"1"}}, {3, {"2"}}};
    EXPECT_EQ(t.sensorAt(0)->x, 1);
    EXPECT_EQ(t.sensorAt(2.9)->x, 1);
    EXPECT_EQ(t.sensorAt(30)->x, 2);
    EXPECT_EQ(t.recordAt(0)->text, "a");
    EXPECT_EQ(t.recordAt(3)->text, "b");
    EXPECT_EQ(t.vehicleAt(-5)->fields, QStringList{"1"});
}

TEST(Telemetry, GpsInterpolatesBetweenFixesAndHoldsAfterTheLast)
{
    Telemetry t;
    GPSFix a = fix(10, 48.0, 11.0, 10);
    a.course = 84.5;
    a.timestamp = utc("2024-05-01T12:00:00.000Z");
    a.mode = "A";
    a.satellites = 7;
    GPSFix b = fix(12, 48.2, 11.4, 20);
    b.course = 90;
    b.timestamp = utc("2024-05-01T12:00:02.000Z");
    b.satellites = 9;
    t.gps = {a, b};

    const GPSFix mid = *t.gpsAt(11);
    EXPECT_EQ(mid.time, 11);
    EXPECT_DOUBLE_EQ(mid.speedKnots, 15);
    EXPECT_DOUBLE_EQ(mid.latitude, 48.1);
    EXPECT_DOUBLE_EQ(mid.longitude, 11.2);
    EXPECT_EQ(mid.course, 84.5);
    EXPECT_EQ(mid.mode, "A");
    EXPECT_EQ(mid.satellites, 7);
    EXPECT_EQ(mid.timestamp, utc("2024-05-01T12:00:01.000Z"));

    EXPECT_EQ(*t.gpsAt(5), a);   // before the first fix: the first, unchanged
    EXPECT_EQ(*t.gpsAt(100), b); // after the last: its own time, not t
    EXPECT_EQ(*t.gpsAt(12), b);

    // A next fix at the same time is not interpolated towards.
    t.gps = {a, fix(10, 50, 12)};
    EXPECT_EQ(*t.gpsAt(10), t.gps[1]);
}

TEST(Telemetry, GpsInterpolatesTheShortWayAcrossTheAntimeridian)
{
    const struct {
        double from, to, expected;
    } cases[] = {
        {179.0, -179.0, 180.0},  // eastwards across the meridian
        {-179.0, 179.0, -180.0}, // westwards
        {179.5, -179.0, -179.75}, {-179.5, 179.0, 179.75}, {10.0, 20.0, 15.0},
    };
    // Angular distance, so that +180 and -180 count as the same meridian.
    const auto apart = [](double a, double b) {
        const double d = std::fmod(std::abs(a - b), 360.0);
        return std::min(d, 360 - d);
    };
    for (const auto &c : cases) {
        Telemetry t;
        t.gps = {fix(0, 0.5, c.from), fix(2, 0.5, c.to)};
        const double mid = t.gpsAt(1)->longitude;
        EXPECT_LT(apart(mid, c.expected), 1e-9) << c.from << " -> " << c.to << " gave " << mid;
        EXPECT_LE(std::abs(mid), 180);
        EXPECT_NEAR(apart(t.gpsAt(0.5)->longitude, c.from), apart(c.from, c.to) / 4, 1e-9);
    }
}

// Times from a broken clock can lie so far apart that their difference overflows; the position between
// them must still be a real place, not NaN.
TEST(Telemetry, GpsInterpolatesAcrossASpanTooWideForADouble)
{
    const struct {
        double from, to, at, fraction;
    } cases[] = {
        {-1.5e308, 1.5e308, 0.0, 0.5},
        {-1.5e308, 1.5e308, 1.5e308, 1.0},
        {-1e308, 1.75e308, 1e308, 2.0 / 2.75},
        {-1.75e308, 1.75e308, -1.75e308, 0.0},
    };
    for (const auto &c : cases) {
        Telemetry t;
        t.gps = {fix(c.from, 10, 170, 0), fix(c.to, 20, 178, 8)};
        const GPSFix mid = *t.gpsAt(c.at);
        EXPECT_NEAR(mid.latitude, 10 + 10 * c.fraction, 1e-9) << c.from << " .. " << c.to << " at " << c.at;
        EXPECT_NEAR(mid.longitude, 170 + 8 * c.fraction, 1e-9) << c.at;
        EXPECT_NEAR(mid.speedKnots, 8 * c.fraction, 1e-9) << c.at;
    }
}

TEST(Telemetry, DerivedValues)
{
    Telemetry t;
    EXPECT_EQ(t.duration(), 0);
    EXPECT_EQ(t.maxSpeedKnots(), 0);
    EXPECT_FALSE(t.peakG());
    EXPECT_EQ(t.distanceMeters(), 0);
    EXPECT_TRUE(t.isEmpty());

    for (int i = 0; i < 600; ++i)
        t.sensor.append({i * 0.1 - 0.0, 0, 0, 1});
    t.sensor.last().time = 59.9;
    t.gps = {fix(0, 0, 0, 3), fix(60, 0, 1, 7), fix(60, 1, 1, 5)};
    EXPECT_DOUBLE_EQ(t.duration(), 60.0);
    EXPECT_EQ(t.maxSpeedKnots(), 7);

    t.sensor = {{0, 0, 0, 1}, {1, 0, 2, 0}, {2, 2, 0, 0}, {3, 0, 0, -1}};
    EXPECT_EQ(t.peakG()->time, 1); // the earliest of equal magnitudes
    EXPECT_DOUBLE_EQ(SensorSample({0, 3, 4, 12}).magnitude(), 13);
    EXPECT_TRUE(std::isfinite(SensorSample({0, 1e308, 1e308, 1e307}).magnitude()));

    t.sensor = {{5, 0, 0, 0}, {5, 0, 0, 0}};
    EXPECT_FALSE(t.sensorRateHz());
    t.sensor.clear();
    for (int i = 0; i <= 10; ++i)
        t.sensor.append({i / 10.0, 0, 0, 0});
    EXPECT_DOUBLE_EQ(*t.sensorRateHz(), 10);
    EXPECT_DOUBLE_EQ(*t.gpsRateHz(), 2.0 / 60);

    // One degree of longitude on the equator, then one degree of latitude: 2 × 2πR/360 on R = 6,371,008.8 m.
    EXPECT_NEAR(t.distanceMeters(), 2 * 111195.0802, 0.01);
    EXPECT_NEAR(distanceMeters(48.1, 11.5, 52.5, 13.4), 507481.138, 0.01); // Munich to Berlin
    EXPECT_NEAR(distanceMeters(0, 179.5, 0, -179.5), 111195.08, 0.01);
}

TEST(Telemetry, CameraClockOffset)
{
    Telemetry t;
    const auto start = utc("2024-05-01T12:00:00.000Z");
    EXPECT_FALSE(t.cameraClockOffset(start));
    t.gps = {fix(1, 1, 1), fix(5, 1, 1)};
    EXPECT_FALSE(t.cameraClockOffset(start));
    t.gps[1].timestamp = utc("2024-05-01T12:00:08.500Z");
    EXPECT_FALSE(t.cameraClockOffset(std::nullopt));
    EXPECT_DOUBLE_EQ(*t.cameraClockOffset(start), 3.5);
    EXPECT_DOUBLE_EQ(*t.cameraClockOffset(utc("2024-05-01T12:00:10.000Z")), -6.5);
}

TEST(Telemetry, IsEmptyLooksAtSamplesFixesAndRecordsOnly)
{
    Telemetry t;
    t.vehicle = {{0, {"1"}}};
    t.other = {{0, "GPGSA", {}}};
    EXPECT_TRUE(t.isEmpty());
    t.records = {{0, "x"}};
    EXPECT_FALSE(t.isEmpty());
    EXPECT_TRUE(Telemetry::empty().isEmpty());
    EXPECT_EQ(Telemetry::empty().source, "");
    const Telemetry made({{1, 0, 0, 1}}, {fix(1, 2, 3)}, "raw scan");
    EXPECT_TRUE(made.hasGPS());
    EXPECT_TRUE(made.hasSensor());
    EXPECT_EQ(made.source, "raw scan");
    EXPECT_TRUE(made.sentenceCounts.isEmpty());
    EXPECT_FALSE(made.sourceChannel);
}

TEST(Telemetry, VehicleAllZeroAndModeDescriptions)
{
    const struct {
        QStringList fields;
        bool allZero;
    } cases[] = {
        {{"0", "", "0.00"}, true}, {{}, true},          {{"-0", "000", "0.0"}, true},
        {{"0", "1"}, false},       {{"0", "x"}, false}, {{" "}, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(VehicleSample({0, c.fields}).isAllZero(), c.allZero) << c.fields.join('|').toStdString();

    GPSFix f;
    EXPECT_FALSE(f.modeDescription());
    const std::pair<const char *, const char *> modes[] = {
        {"D", "Differential (SBAS/DGPS)"},
        {"N", "No fix"},
        {"a", "a"},
        {"XY", "XY"},
    };
    for (const auto &[mode, text] : modes) {
        f.mode = mode;
        EXPECT_EQ(f.modeDescription(), text);
    }
}

TEST(Telemetry, SpeedUnits)
{
    GPSFix f;
    f.speedKnots = 10;
    EXPECT_DOUBLE_EQ(value(SpeedUnit::kmh, f), 18.52);
    EXPECT_DOUBLE_EQ(value(SpeedUnit::mph, f), 11.50779);
    EXPECT_DOUBLE_EQ(f.speedKmh(), 18.52);
    EXPECT_EQ(speedUnitFromRaw(u"kmh"), SpeedUnit::kmh);
    EXPECT_EQ(speedUnitFromRaw(u"mph"), SpeedUnit::mph);
    EXPECT_EQ(speedUnitFromRaw(u"KMH"), std::nullopt);
    EXPECT_EQ(label(SpeedUnit::kmh), "km/h");
    EXPECT_EQ(label(SpeedUnit::mph), "mph");
    EXPECT_EQ(allSpeedUnits[0], SpeedUnit::kmh);
}

} // namespace
