#include "roadcore/TelemetryParser.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cmath>

namespace TP = TelemetryParser;

namespace {

QDateTime utc(const char *iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs);
}

template <typename T> T as(const std::optional<TP::Sentence> &s)
{
    EXPECT_TRUE(s.has_value());
    EXPECT_TRUE(s && std::holds_alternative<T>(*s)) << (s ? s->index() : 99);
    return s && std::holds_alternative<T>(*s) ? std::get<T>(*s) : T{};
}

RawRecord record(qint64 index, const QString &text, std::optional<double> time = std::nullopt)
{
    return RawRecord{index, time, text};
}

QString rmc(const char *time, const char *date, double lat = 48.1)
{
    return QString("$GPRMC,%1,A,%2,N,01131.000,E,10.0,90.0,%3,,,A")
        .arg(time)
        .arg(QString::asprintf("%07.3f", std::floor(lat) * 100 + (lat - std::floor(lat)) * 60))
        .arg(date);
}

TEST(TelemetryParser, RecognisesTheSixKinds)
{
    const TP::Rmc fix =
        as<TP::Rmc>(TP::parse(u"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A"));
    EXPECT_DOUBLE_EQ(fix.lat, 48 + 7.038 / 60);
    EXPECT_DOUBLE_EQ(fix.lon, 11 + 31.0 / 60);
    EXPECT_DOUBLE_EQ(fix.knots, 22.4);
    EXPECT_EQ(fix.course, 84.4);
    EXPECT_EQ(fix.timestamp, utc("2094-03-23T12:35:19.000Z"));
    EXPECT_EQ(fix.mode, std::nullopt); // only 11 fields

    const TP::Rmc southWest =
        as<TP::Rmc>(TP::parse(u"$GNRMC,010203.50,A,3352.128,S,15112.558,W,0.5,,010124,,,D*00"));
    EXPECT_DOUBLE_EQ(southWest.lat, -(33 + 52.128 / 60));
    EXPECT_DOUBLE_EQ(southWest.lon, -(151 + 12.558 / 60));
    EXPECT_EQ(southWest.course, std::nullopt);
    EXPECT_EQ(southWest.mode, "D");
    EXPECT_EQ(southWest.timestamp, utc("2024-01-01T01:02:03.500Z"));

    EXPECT_EQ(as<TP::Sensor>(TP::parse(u"gsensori,2,512,256,-128,0")), (TP::Sensor{1.0, -0.5, 0, 2.0, 256}));
    EXPECT_EQ(as<TP::Sensor>(TP::parse(u"gsensor,128,-64,32")),
              (TP::Sensor{1.0, -0.5, 0.25, std::nullopt, 128}));
    EXPECT_EQ(as<TP::Gga>(TP::parse(u"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47")),
              (TP::Gga{1, 8, 0.9, 545.4, (12 * 3600 + 35 * 60 + 19) * 1000}));
    EXPECT_EQ(as<TP::Gga>(TP::parse(u"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,")),
              (TP::Gga{1, 8, 0.9, std::nullopt, (12 * 3600 + 35 * 60 + 19) * 1000}));
    EXPECT_EQ(as<TP::Vehicle>(TP::parse(u"$CAR, 12 ,,abc,0*7F")), (TP::Vehicle{{"12", "", "abc", "0"}}));
    EXPECT_EQ(as<TP::Other>(TP::parse(u"$GPGSA,A,3,04,05*1D")), (TP::Other{"GPGSA", {"A", "3", "04", "05"}}));
    EXPECT_EQ(as<TP::Other>(TP::parse(u" \t$$ab_9,  x\t, ,y<b>")), (TP::Other{"ab_9", {"x", "", "y"}}));
    EXPECT_EQ(as<TP::Other>(TP::parse(u"GPTXT,")), (TP::Other{"GPTXT", {""}}));
}

TEST(TelemetryParser, TheFirstKeyFoundDecidesAndItsRuleMayReject)
{
    const struct {
        const char16_t *sentence;
        int kind; // variant index, -1 for not recognised
    } cases[] = {
        // A gsensori line with a bad range is not tried as a gsensor line.
        {u"gsensori,0,512,256,-128,0", -1},
        {u"gsensori,2,0,1,1,1", -1},
        {u"gsensori,2,512,1,1", -1},
        {u"gsensori,2,512,1,1,x", -1},
        {u"gsensori,1e-300,1e300,1e300,0,0", -1}, // the scale overflows
        {u"gsensor,1,2", -1},
        {u"gsensor,1,2,z", -1},
        {u"gsensor,1,2, 3", 0},  // fields are trimmed
        {u"gsensor,1,2,3x", -1}, // only whole decimal text is a number
        {u"gsensor,1,2,nan", -1},
        {u"gsensor,1,2,inf", -1},
        {u"gsensor,0x10,2,3", -1},
        {u"gsensor,1,2,3,$GPRMC,1", 0}, // gsensor before RMC
        {u"$GPRMC,123519,V,4807.038,N,01131.000,E,1,2,230394", 5},
        {u"$GPRMC,123519,A,0000.000,N,00000.000,E,1,2,230394", 5},
        {u"$GPRMC,123519,A,4807.038,N,01131.000,E", 5},
        {u"$GPRMC,123519,A,48,N,01131.000,E,1", 5},
        {u"$GPRMC,123519,A,9100.000,N,01131.000,E,1", 5},
        {u"$GPRMC,123519,A,4807.038,N,18100.000,E,1", 5},
        {u"$GPRMC,123519,A,4807.038,N,0113x,E,1", 5},
        {u"$GPRMC,123519,A,4807.038,N,01131.000,E,,", 1}, // a missing speed is 0 knots
        {u"$gprmc,123519,A,4807.038,N,01131.000,E,1",
         4}, // keys are case-sensitive; a well-formed other sentence
        {u"$GxRMC,123519,A,4807.038,N,01131.000,E,1", 4},
        {u"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9", -1},
        {u"$GPGGA,123519,4807.038,N,01131.000,E,x,y,z,w", 2},
        {u"$GPRMC,1;CAR,1", 5},
        {u"xxCAR,", 3},
        {u"$A,1", -1},
        {u"$ABCDEFGHIJKLM,1", -1},
        {u"$ABCDEFGHIJKL,1", 4},
        {u"$GP-GSA,1", -1},
        {u"$GPGSA", -1},
        {u"$ä\u00DFx,1", 4}, // letters of any script
        {u"", -1},
    };
    for (const auto &c : cases) {
        const auto s = TP::parse(QStringView(c.sentence));
        EXPECT_EQ(s ? int(s->index()) : -1, c.kind) << QString::fromUtf16(c.sentence).toStdString();
    }
    const TP::Rmc noSpeed = as<TP::Rmc>(TP::parse(u"$GPRMC,123519,A,4807.038,N,01131.000,E,,"));
    EXPECT_EQ(noSpeed.knots, 0);
    EXPECT_EQ(noSpeed.course, std::nullopt);
    EXPECT_EQ(noSpeed.timestamp, std::nullopt); // 8 fields: a course field but no date
    const TP::Rmc eight = as<TP::Rmc>(TP::parse(u"$GPRMC,123519,A,4807.038,N,01131.000,E,5,33.5"));
    EXPECT_EQ(eight.course, 33.5);
    EXPECT_EQ(eight.timestamp, std::nullopt);
}

TEST(TelemetryParser, CleansMarkupAndSplitsRecords)
{
    const QString text =
        "{\\an7}<font color=\"#fff\">gsensor,128,0,0</font>;$GPGGA,1,2,N,3,E,1,08,0.9,5.0\r\n";
    EXPECT_EQ(TP::clean(text), "gsensor,128,0,0;$GPGGA,1,2,N,3,E,1,08,0.9,5.0");
    const auto list = TP::sentences(text);
    ASSERT_EQ(list.size(), 2);
    EXPECT_TRUE(std::holds_alternative<TP::Sensor>(list[0]));
    EXPECT_TRUE(std::holds_alternative<TP::Gga>(list[1]));

    EXPECT_EQ(TP::clean(QString::fromUtf16(u"\uFEFF\u2028 a<b \t{x}\u0001")),
              "a<b \t{x}"); // no closing ">": kept
    EXPECT_EQ(TP::clean("{\\unterminated a}b"), "b");
    EXPECT_EQ(TP::clean("x{\\y"), "x{\\y");
    // Unclosed markup in a long record costs one walk, not one per opening character.
    const QString unclosed = QString(200000, u'<') + QString("{\\").repeated(100000) + "gsensor,1,2,3";
    EXPECT_EQ(TP::clean(unclosed), unclosed);
    const QString separators = QString("GPTXT,1;GPTXT,2\nGPTXT,3") + QChar(0x2029) + "GPTXT,4" + QChar(0) +
                               "GPTXT,5" + QChar(0x85) + "GPTXT,6\r\n\r\n;;GPTXT,7";
    EXPECT_EQ(TP::sentences(separators).size(), 7);
    EXPECT_TRUE(TP::sentences(" ; \n <i></i> ").isEmpty());
}

TEST(TelemetryParser, NmeaDates)
{
    const struct {
        const char16_t *time, *date;
        std::optional<QDateTime> expected;
    } cases[] = {
        {u"235959.999", u"311299", utc("2099-12-31T23:59:59.999Z")},
        {u"000000", u"010100", utc("2000-01-01T00:00:00.000Z")},
        {u"120000.0005", u"010524", utc("2024-05-01T12:00:00.001Z")},
        {u"120059.9999", u"010524", utc("2024-05-01T12:01:00.000Z")},
        {u"120000", u"01052", std::nullopt},
        {u"12000", u"010524", std::nullopt},
        {u"1200x0", u"010524", std::nullopt},
        {u"120000", u"0105x4", std::nullopt},
        {u"1200 0", u"010524", std::nullopt},
        // Out-of-range parts roll over as in a calendar.
        {u"250000", u"311299", utc("2100-01-01T01:00:00.000Z")},
        {u"000000", u"011399", utc("2100-01-01T00:00:00.000Z")},
        {u"000060", u"010124", utc("2024-01-01T00:01:00.000Z")},
        {u"00001e300", u"010124", std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TP::nmeaDate(QStringView(c.time), QStringView(c.date)), c.expected)
            << QString::fromUtf16(c.time).toStdString() << " " << QString::fromUtf16(c.date).toStdString();
}

TEST(TelemetryParser, SourceTimesAreKept)
{
    const Telemetry t = TP::build({record(0, rmc("120005", "010524"), 0.25), record(1, "gsensor,1,2,3", 0.75),
                                   record(2, rmc("120000", "010524"), 0.5)},
                                  60, "MP4 text track");
    ASSERT_EQ(t.records.size(), 3);
    EXPECT_EQ(t.records[0].time, 0.25);
    EXPECT_EQ(t.records[1].time, 0.5);
    EXPECT_EQ(t.records[2].time, 0.75);
    EXPECT_EQ(t.gps[0].time, 0.25);
    EXPECT_EQ(t.gps[1].time, 0.5);
    EXPECT_EQ(t.source, "MP4 text track");
    EXPECT_FALSE(t.sourceChannel);
}

TEST(TelemetryParser, TimesFollowTheReceiverClock)
{
    const Telemetry t = TP::build({record(0, rmc("120000", "010524")), record(10, rmc("120001", "010524")),
                                   record(15, "gsensor,1,2,3"), record(20, rmc("120002", "010524")),
                                   record(5, "garbage only")},
                                  60, "raw scan");
    ASSERT_EQ(t.records.size(), 4);
    const double expected[] = {0, 1, 1.5, 2};
    for (int i = 0; i < 4; ++i)
        EXPECT_DOUBLE_EQ(t.records[i].time, expected[i]);
    EXPECT_DOUBLE_EQ(t.sensor[0].time, 1.5);

    const QList<std::pair<double, double>> anchors{{10, 0}, {20, 1}};
    EXPECT_DOUBLE_EQ(TP::interpolate(5, anchors), -0.5);
    const auto times = TP::resolveTimes({{5, std::nullopt, std::nullopt},
                                         {10, std::nullopt, utc("2024-05-01T12:00:00Z")},
                                         {20, std::nullopt, utc("2024-05-01T12:00:01Z")},
                                         {30, 7.0, std::nullopt}},
                                        std::nullopt);
    EXPECT_EQ(times, (QList<double>{0, 0, 1, 7}));

    const QList<std::pair<double, double>> three{{0, 0}, {10, 5}, {20, 6}};
    EXPECT_DOUBLE_EQ(TP::interpolate(15, three), 5.5);
    EXPECT_DOUBLE_EQ(TP::interpolate(30, three), 7);
    EXPECT_DOUBLE_EQ(TP::interpolate(5, {{5, 1}, {5, 9}}), 1);
}

TEST(TelemetryParser, InterpolationUsesTheFirstPairThatHoldsTheIndex)
{
    // Out of order: 5 lies before the first anchor, but the second pair holds it.
    EXPECT_DOUBLE_EQ(TP::interpolate(5, {{10, 0}, {0, 5}, {20, 1}}), 4);
    EXPECT_DOUBLE_EQ(TP::interpolate(25, {{10, 0}, {0, 5}, {20, 1}}), 5 + (1 - 5) * 25.0 / 20);

    // A long recording's anchors arrive in order and are searched by bisection: same answers.
    QList<TP::TimeItem> items;
    QList<std::pair<double, double>> anchors;
    const QDateTime base = utc("2024-05-01T12:00:00.000Z");
    for (int i = 0; i < 3000; ++i) {
        const bool anchor = i % 7 == 3 || i == 1500 || i == 1501;
        const double seconds = i / 7 + (i % 3) * 0.25;
        items.append(
            {i, std::nullopt, anchor ? std::optional(base.addMSecs(qint64(seconds * 1000))) : std::nullopt});
        if (anchor)
            anchors.append({double(i), seconds}); // the first anchor is at 0 s
    }
    const QList<double> times = TP::resolveTimes(items, std::nullopt);
    for (int i = 0; i < items.size(); ++i)
        ASSERT_DOUBLE_EQ(times[i], std::max(0.0, TP::interpolate(i, anchors))) << i;
}

TEST(TelemetryParser, TimesSpreadEvenlyWithoutAClock)
{
    QList<TP::TimeItem> items;
    for (int i = 0; i < 100; ++i)
        items.append({i, std::nullopt, std::nullopt});
    const auto spread = TP::resolveTimes(items, 60);
    const auto unit = TP::resolveTimes(items, std::nullopt);
    for (int i = 0; i < 100; ++i) {
        EXPECT_DOUBLE_EQ(spread[i], 0.6 * i);
        EXPECT_DOUBLE_EQ(unit[i], i);
    }
    // A duration that is not finite is no duration; times that are not finite are no times.
    EXPECT_EQ(TP::resolveTimes(items, qInf()), unit);
    EXPECT_EQ(TP::resolveTimes(items, qQNaN()), unit);
    EXPECT_EQ(TP::resolveTimes({{0, qQNaN(), std::nullopt}, {3, 1.0, std::nullopt}}, 8),
              (QList<double>{0, 1}));
    EXPECT_EQ(TP::resolveTimes({{3, -qInf(), std::nullopt}}, 8), (QList<double>{6}));

    EXPECT_EQ(TP::resolveTimes({{0, std::nullopt, std::nullopt}}, 60), QList<double>{0});
    EXPECT_EQ(TP::resolveTimes({{2, std::nullopt, std::nullopt}}, 60), QList<double>{40});
    EXPECT_TRUE(TP::resolveTimes({}, 60).isEmpty());
    // A single anchor is not a clock.
    EXPECT_EQ(
        TP::resolveTimes({{0, std::nullopt, utc("2024-05-01T12:00:00Z")}, {1, std::nullopt, std::nullopt}},
                         std::nullopt),
        (QList<double>{0, 1}));

    const Telemetry t =
        TP::build({record(0, "gsensor,1,1,1", qQNaN()), record(1, "gsensor,2,2,2")}, qInf(), "x");
    ASSERT_EQ(t.sensor.size(), 2);
    EXPECT_EQ(t.sensor[0].time, 0);
    EXPECT_EQ(t.sensor[1].time, 1);
}

TEST(TelemetryParser, GgaJoinsAndCounts)
{
    // Without a time of day the GGA sentence joins by record.
    const QString gga = "$GPGGA,,4807.038,N,01131.000,E,%1,%2,0.9,%3,M,,M,,";
    const Telemetry t = TP::build(
        {
            record(0, rmc("120000", "010524"), 0.0),
            // Joins the fix of its own record even though the previous fix is closer in time.
            record(1, rmc("120010", "010524", 48.2) + ";" + gga.arg(1).arg(7).arg(500), 10.0),
            record(2, gga.arg(2).arg(9).arg(""), 11.0),   // 1.0 s after the last fix: joined, empty altitude
            record(3, gga.arg(4).arg(12).arg(700), 12.5), // 1.5 s away: only counted
            record(4, "$GPRMC,120013,V,,,,,,,010524,,,N;$GPGSA,A,3;$GPGSV,1;$GPGSA,A,2;CAR,1,2", 13.0),
            record(5, "gsensori,2,512,256,0,0;gsensor,128,0,0", 14.0),
        },
        std::nullopt, "AVI text chunks");
    ASSERT_EQ(t.gps.size(), 2);
    EXPECT_FALSE(t.gps[0].fixQuality);
    EXPECT_EQ(t.gps[1].fixQuality, 2);
    EXPECT_EQ(t.gps[1].satellites, 9);
    EXPECT_EQ(t.gps[1].hdop, 0.9);
    EXPECT_EQ(t.gps[1].altitude, std::nullopt);
    EXPECT_EQ(t.gps[1].mode, "A");
    EXPECT_EQ(t.gpsNoFixCount, 1);
    const QMap<QString, qint64> counts{{"RMC", 3},   {"GGA", 3}, {"GPGSA", 2},
                                       {"GPGSV", 1}, {"CAR", 1}, {"G-sensor", 2}};
    EXPECT_EQ(t.sentenceCounts, counts);
    EXPECT_EQ(t.sensorRangeG, 2);
    EXPECT_EQ(t.sensorCountsPerG, 128);
    ASSERT_EQ(t.other.size(), 3);
    EXPECT_EQ(t.other[1].type, "GPGSV");
    EXPECT_EQ(t.vehicle[0].fields, (QStringList{"1", "2"}));
    EXPECT_EQ(t.records.size(), 6);

    // A later record's GGA sentence overwrites what the fix's own record joined.
    const Telemetry later =
        TP::build({record(0, rmc("120000", "010524") + ";" + gga.arg(1).arg(5).arg(1), 0.0),
                   record(1, gga.arg(2).arg(7).arg(2), 0.5)},
                  std::nullopt, "raw scan");
    ASSERT_EQ(later.gps.size(), 1);
    EXPECT_EQ(later.gps[0].satellites, 7);
    EXPECT_EQ(later.gps[0].fixQuality, 2);

    // A GGA sentence before any fix is only counted.
    const Telemetry lone = TP::build({record(0, gga.arg(1).arg(5).arg(1))}, std::nullopt, "raw scan");
    EXPECT_TRUE(lone.gps.isEmpty());
    EXPECT_EQ(lone.sentenceCounts.value("GGA"), 1);
    // Of two fixes in one record, the later takes the GGA sentence.
    const Telemetry two = TP::build({record(0, rmc("120000", "010524") + ";" + rmc("120001", "010524", 48.3) +
                                                   ";" + gga.arg(1).arg(5).arg(1))},
                                    std::nullopt, "raw scan");
    ASSERT_EQ(two.gps.size(), 2);
    EXPECT_FALSE(two.gps[0].satellites);
    EXPECT_EQ(two.gps[1].satellites, 5);
}

QString nmea(const QString &body)
{
    quint8 sum = 0;
    for (QChar c : body)
        sum ^= quint8(c.unicode());
    return "$" + body + QString::asprintf("*%02X", sum);
}

QString timedGga(int second, double altitude)
{
    return nmea(QString::asprintf("GPGGA,1200%02d.00,4807.038,N,01131.%03d,E,1,%02d,0.9,%.1f,M,46.9,M,,",
                                  second, second, 5 + second, altitude));
}

QString timedRmc(int second)
{
    return nmea(QString::asprintf("GPRMC,1200%02d.00,A,4807.038,N,01131.%03d,E,10.0,90.0,010524,,,A", second,
                                  second));
}

QList<std::optional<double>> altitudes(const Telemetry &t)
{
    QList<std::optional<double>> list;
    for (const GPSFix &fix : t.gps)
        list.append(fix.altitude);
    return list;
}

// Where both sentences state the time of day, a GGA sentence joins the fix of the same second, wherever it
// stands among the records.
TEST(TelemetryParser, GgaJoinsTheFixOfItsSecond)
{
    const QList<std::optional<double>> tenTwentyThirty{10.0, 20.0, 30.0};
    struct Case {
        const char *what;
        QList<QStringList> records; // sentences of each record
        QList<std::optional<double>> expected;
    };
    const Case cases[] = {
        {"GGA before RMC in each record",
         {{timedGga(0, 10), timedRmc(0)}, {timedGga(1, 20), timedRmc(1)}, {timedGga(2, 30), timedRmc(2)}},
         tenTwentyThirty},
        {"RMC before GGA in each record",
         {{timedRmc(0), timedGga(0, 10)}, {timedRmc(1), timedGga(1, 20)}, {timedRmc(2), timedGga(2, 30)}},
         tenTwentyThirty},
        {"GGA in the record after its RMC",
         {{timedRmc(0)}, {timedGga(0, 10), timedRmc(1)}, {timedGga(1, 20), timedRmc(2)}, {timedGga(2, 30)}},
         tenTwentyThirty},
        {"one GGA a record, RMC in the next",
         {{timedGga(0, 10)},
          {timedRmc(0)},
          {timedGga(1, 20)},
          {timedRmc(1)},
          {timedGga(2, 30)},
          {timedRmc(2)}},
         tenTwentyThirty},
        {"a GGA of a second without a fix joins nothing",
         {{timedRmc(0), timedGga(0, 10)}, {timedGga(1, 20)}, {timedRmc(2)}},
         {10.0, std::nullopt}},
        {"a fix without a time takes its record's GGA",
         {{nmea("GPRMC,,A,4807.038,N,01131.000,E,10.0,90.0,010524,,,A"), timedGga(5, 50)}},
         {50.0}},
    };
    for (const Case &c : cases) {
        QList<RawRecord> records;
        for (const QStringList &sentences : c.records)
            records.append(record(records.size(), sentences.join("\r\n")));
        const Telemetry t = TP::build(records, std::nullopt, "raw scan");
        EXPECT_EQ(altitudes(t), c.expected) << c.what;
    }
}

// gpsbabel, reading the same GGA-first stream, gives every fix the altitude of its own second.
TEST(TelemetryParser, GgaFirstAltitudesAgreeWithGpsbabel)
{
    if (!TestSupport::haveProgram("gpsbabel"))
        GTEST_SKIP() << "gpsbabel is not installed";
    QString stream;
    QList<RawRecord> records;
    for (int s = 0; s < 20; ++s) {
        const QString text = timedGga(s, 100 + 7.5 * s) + "\r\n" + timedRmc(s) + "\r\n";
        records.append(record(s, text));
        stream += text;
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("drive.nmea");
    TestSupport::writeFile(path, stream.toLatin1());
    const TestSupport::ProcessResult theirs =
        TestSupport::run("gpsbabel", {"-t", "-i", "nmea", "-f", path, "-o", "unicsv,utc=0", "-F", "-"});
    ASSERT_TRUE(theirs.ok()) << theirs.err.toStdString();
    // No,Latitude,Longitude,Altitude,...,Date,Time
    QMap<QString, double> byTime;
    const QList<QByteArray> lines = theirs.out.trimmed().split('\n');
    const QList<QByteArray> header = lines.value(0).trimmed().split(',');
    const qsizetype altitude = header.indexOf("Altitude"), time = header.indexOf("Time");
    ASSERT_GE(altitude, 0);
    ASSERT_GE(time, 0);
    for (const QByteArray &line : lines.mid(1)) {
        const QList<QByteArray> fields = line.trimmed().split(',');
        byTime.insert(QString::fromLatin1(fields.value(time)), fields.value(altitude).toDouble());
    }
    const Telemetry ours = TP::build(records, std::nullopt, "raw scan");
    ASSERT_EQ(ours.gps.size(), byTime.size());
    for (const GPSFix &fix : ours.gps) {
        const QString key = fix.timestamp->toUTC().toString("HH:mm:ss");
        ASSERT_TRUE(byTime.contains(key)) << key.toStdString();
        EXPECT_DOUBLE_EQ(*fix.altitude, byTime.value(key)) << key.toStdString();
    }
}

TEST(TelemetryParser, RecordsWithoutSentencesContributeNothing)
{
    const Telemetry none = TP::build({record(0, "hello world"), record(1, "<b></b>")}, 10, "LP1 trailer");
    EXPECT_TRUE(none.isEmpty());
    EXPECT_TRUE(none.sentenceCounts.isEmpty());
    EXPECT_EQ(none.source, "LP1 trailer");
    EXPECT_FALSE(none.sensorCountsPerG);

    // The kept record's text is the cleaned text; samples sort stably by time.
    const Telemetry t = TP::build({record(0, "<i>gsensor,1,0,0</i>\n", 2.0), record(1, "gsensor,2,0,0", 1.0),
                                   record(2, "gsensor,3,0,0", 1.0)},
                                  std::nullopt, "x");
    ASSERT_EQ(t.sensor.size(), 3);
    EXPECT_EQ(t.sensor[0].x, 2 / 128.0);
    EXPECT_EQ(t.sensor[1].x, 3 / 128.0);
    EXPECT_EQ(t.records[2].text, "gsensor,1,0,0");
}

} // namespace

// Records cut from one buffer, as a reader hands over a long stream: the data log shows what the records
// showed as strings of their own (decoded, markup stripped, trimmed), and plain records stay pieces of the
// buffer rather than copies.
TEST(TelemetryParser, RecordsCutFromOneBufferKeepTheirTextAndShareIt)
{
    const QList<QByteArray> pieces{
        "  gsensor,1,2,3\r\n",                        // plain: trimmed, still a piece of the buffer
        "\xc2\xa0gsensor,4,5,6;\xc3\xbc\xe2\x80\xa8", // no-break space ahead, line separator after
        "gsensor,7,8,9;\xff\xfe",                     // invalid bytes become U+FFFD
        "<font color=red>gsensor,1,1,1</font>\r\n",   // markup stripped
        "\xef\xbb\xbfgsensor,2,2,2\r\n",              // a byte order mark is trimmed
    };
    QByteArray buffer;
    QList<std::pair<qsizetype, qsizetype>> spans;
    for (const QByteArray &piece : pieces) {
        spans.append({buffer.size(), piece.size()});
        buffer += piece;
    }
    const TextRef whole(buffer);
    QList<RawRecord> records;
    for (const auto &[offset, length] : spans)
        records.append({records.size(), double(records.size()), whole.piece(offset, length)});
    const Telemetry t = TP::build(records, std::nullopt, "MP4 text track");
    ASSERT_EQ(t.records.size(), pieces.size());
    for (qsizetype i = 0; i < pieces.size(); ++i)
        EXPECT_EQ(t.records[i].text.toString(), TP::clean(Utf8::decode(pieces[i]))) << i;
    EXPECT_EQ(t.records[0].text, "gsensor,1,2,3");
    EXPECT_EQ(t.records[1].text.toString(), QString::fromUtf8("gsensor,4,5,6;\xc3\xbc"));
    EXPECT_EQ(t.records[2].text.toString(), QStringLiteral(u"gsensor,7,8,9;\uFFFD\uFFFD"));
    EXPECT_EQ(t.records[3].text, "gsensor,1,1,1");
    EXPECT_EQ(t.sensor.size(), pieces.size());
    const QByteArrayView kept = t.records[0].text.bytes();
    EXPECT_EQ(kept.data(), whole.bytes().data() + 2) << "copied instead of referenced";
}

// A long list is given back as it is read: handed over or still held by the caller, it gives the same
// telemetry, the caller's copy stays whole, and every record gets the time its index and the receiver's
// clock give, across gaps in the numbering and records without sentences.
TEST(TelemetryParser, LongRecordListsGiveTheSameTelemetryHandedOverOrShared)
{
    QList<RawRecord> records;
    QList<TP::TimeItem> kept;
    const QDateTime start = utc("2024-05-01T00:00:00Z");
    for (int i = 0; i < 120000; ++i) {
        const qint64 index = i + (i / 1000) * 3;
        if (i % 10 == 0) {
            const int s = i / 10;
            const QString time = QString::asprintf("%02d%02d%02d", s / 3600, s / 60 % 60, s % 60);
            records.append(record(index, rmc(qPrintable(time), "010524")));
            kept.append({index, std::nullopt, start.addSecs(s)});
        } else if (i % 97 == 0) {
            records.append(record(index, "no sentence here"));
        } else {
            records.append(record(index, QString("gsensor,%1,1,2").arg(i % 50)));
            kept.append({index, std::nullopt, std::nullopt});
        }
    }
    const QList<RawRecord> held = records;
    const QList<double> times = TP::resolveTimes(kept, std::nullopt);

    const Telemetry shared = TP::build(records, std::nullopt, "raw scan");
    ASSERT_EQ(records.size(), held.size());
    for (qsizetype i = 0; i < records.size(); ++i)
        ASSERT_EQ(records[i], held[i]) << i;
    const Telemetry moved = TP::build(std::move(records), std::nullopt, "raw scan");

    for (const Telemetry *t : {&shared, &moved}) {
        ASSERT_EQ(t->records.size(), kept.size());
        for (qsizetype k = 0; k < kept.size(); ++k)
            ASSERT_DOUBLE_EQ(t->records[k].time, times[k]) << k;
        EXPECT_EQ(t->records.last().text, QString("gsensor,%1,1,2").arg(119999 % 50));
        EXPECT_EQ(t->gps.size(), 12000);
        EXPECT_EQ(t->sensor.size(), kept.size() - 12000);
    }
    EXPECT_EQ(shared.sensor, moved.sensor);
    EXPECT_EQ(shared.gps, moved.gps);
    EXPECT_EQ(shared.records, moved.records);
}

TEST(TextRef, PiecesStayInsideTheirTextAndCompareByWhatTheyShow)
{
    const TextRef text(QByteArray("abc\xff"));
    struct Case {
        qsizetype offset, length;
        const char *expected;
    };
    const Case cases[] = {{0, 3, "abc"}, {1, 100, "bc\xef\xbf\xbd"}, {-5, 2, "ab"}, {9, 2, ""}, {2, -1, ""}};
    for (const Case &c : cases) {
        const TextRef piece = text.piece(c.offset, c.length);
        EXPECT_EQ(piece.toString(), QString::fromUtf8(c.expected)) << c.offset << " " << c.length;
        EXPECT_EQ(piece, TextRef(QString::fromUtf8(c.expected))) << c.offset << " " << c.length;
    }
    EXPECT_EQ(text.piece(1, 2).piece(1, 5).toString(), "c");
    EXPECT_TRUE(TextRef().isEmpty());
    EXPECT_FALSE(TextRef("a") == TextRef("b"));
}
