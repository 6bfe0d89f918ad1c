#include "roadcore/TelemetryExporter.h"
#include "roadcore/TelemetryParser.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QLocale>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <clocale>
#include <cmath>

namespace {

using TestSupport::ScopedEnv;

QDateTime utc(const char *iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs);
}

// The checksum every NMEA receiver writes: XOR of the characters between "$" and "*".
QString withChecksum(const QString &body)
{
    quint8 sum = 0;
    for (QChar c : body)
        sum ^= quint8(c.unicode());
    return "$" + body + QString::asprintf("*%02X", sum);
}

// A short drive: three fixes (the last without a receiver date), G-sensor lines, vehicle data, a GSA
// sentence.
Telemetry sampleDrive()
{
    const QList<RawRecord> records{
        {0, 0.0,
         withChecksum("GPRMC,120000.000,A,4807.0380,N,01131.0000,E,10.0,84.4,010524,,,A") + "\n" +
             withChecksum("GPGGA,120000.000,4807.0380,N,01131.0000,E,1,08,0.9,545.4,M,46.9,M,,")},
        {1, 0.5, "{\\an7}<font size=\"10\">gsensori,2,512,256,-128,0</font>"},
        {2, 1.0,
         withChecksum("GPRMC,120001.000,A,4807.0400,N,01131.0300,E,20.0,90.0,010524,,,D") + ";CAR,12,0,ab"},
        {3, 1.5, "gsensor,13,-7,129"},
        {4, 2.5, withChecksum("GNRMC,120002.5,A,4807.1000,N,01131.1000,E,5.5,180.0")},
        {5, 2.6, "$GPGSA,A,3,04,05*1D"},
    };
    return TelemetryParser::build(records, 3.0, "MP4 text track");
}

const QString name = "A&B <1>";
const std::optional<QDateTime> start = utc("2024-05-01T11:59:00.000Z");

QString golden(TelemetryFormat format)
{
    return QString::fromUtf8(
        TestSupport::readFile(TestSupport::sourcePath("tests/roadcore/golden/drive." + rawValue(format))));
}

QString exported(TelemetryFormat format, SpeedUnit unit = SpeedUnit::kmh)
{
    return TelemetryExporter::exportText(sampleDrive(), format, name, start, unit);
}

void expectGolden(TelemetryFormat format, const char *context)
{
    const QString actual = exported(format);
    const QString expected = golden(format);
    EXPECT_FALSE(expected.isEmpty());
    EXPECT_EQ(actual, expected) << context << " " << rawValue(format).toStdString();
    if (actual != expected)
        TestSupport::writeFile(QDir::tempPath() + "/actual-drive." + rawValue(format), actual.toUtf8());
}

TEST(TelemetryExporter, GoldenFilesInUtc)
{
    ScopedEnv tz("TZ", "UTC");
    for (TelemetryFormat format : allTelemetryFormats)
        expectGolden(format, "C locale");
}

TEST(TelemetryExporter, GoldenFilesUnderAGermanNumericLocale)
{
    ScopedEnv tz("TZ", "UTC");
    const std::string before = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"), nullptr) << "the German locale is not installed";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 1.5);
    EXPECT_STREQ(probe, "1,5"); // the C library now writes decimal commas
    const QLocale qtBefore;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    for (TelemetryFormat format : allTelemetryFormats)
        expectGolden(format, "de_DE");
    QLocale::setDefault(qtBefore);
    std::setlocale(LC_ALL, before.c_str());
}

TEST(TelemetryExporter, SrtShowsTheReceiverTimeInTheLocalZone)
{
    ScopedEnv tz("TZ", "Europe/Berlin");
    const QString text = exported(TelemetryFormat::srt, SpeedUnit::mph);
    EXPECT_TRUE(text.startsWith("1\n00:00:00,000 --> 00:00:01,000\n2024-05-01 14:00:00  12 mph\n"))
        << text.toStdString();
}

TEST(TelemetryExporter, FormatsAndTitles)
{
    const QStringList titles{"GPX Track", "Google Earth KML", "CSV Spreadsheet", "SRT Subtitles",
                             "Raw Data Log"};
    const QStringList raws{"gpx", "kml", "csv", "srt", "txt"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(title(allTelemetryFormats[i]), titles[i]);
        EXPECT_EQ(rawValue(allTelemetryFormats[i]), raws[i]);
        EXPECT_EQ(telemetryFormatFromRaw(raws[i]), allTelemetryFormats[i]);
    }
    EXPECT_EQ(telemetryFormatFromRaw(u"GPX"), std::nullopt);
}

TEST(TelemetryExporter, TimesSpeedsAndEmptyTelemetry)
{
    using namespace TelemetryExporter;
    EXPECT_EQ(srtTime(3723.4567), "01:02:03,457");
    EXPECT_EQ(srtTime(0.0005), "00:00:00,001");
    EXPECT_EQ(srtTime(360000), "100:00:00,000");
    EXPECT_EQ(srtTime(qQNaN()), "00:00:00,000");
    EXPECT_EQ(isoTime(utc("2099-12-31T23:59:59.999Z")), "2099-12-31T23:59:59.999Z");

    GPSFix f;
    f.latitude = 1;
    f.longitude = 2;
    f.speedKnots = 10;
    const Telemetry one({}, {f}, "raw scan");
    EXPECT_TRUE(gpx(one, "n", std::nullopt)
                    .contains("<trkpt lat=\"1.0000000\" lon=\"2.0000000\"><speed>5.14</speed>"));
    EXPECT_EQ(csv(one, std::nullopt, SpeedUnit::kmh).split('\n')[1],
              "0.000,,1.0000000,2.0000000,18.5,,,,,,,,,");
    EXPECT_EQ(csv(one, std::nullopt, SpeedUnit::mph).split('\n')[1],
              "0.000,,1.0000000,2.0000000,11.5,,,,,,,,,");
    const QString k = kml(one, "n");
    EXPECT_EQ(k.count("2.0000000,1.0000000,0"), 3); // route, Start and End

    const Telemetry none;
    EXPECT_EQ(
        csv(none, start, SpeedUnit::mph),
        "time_s,utc,latitude,longitude,speed_mph,course,gps_mode,satellites,altitude_m,gx,gy,gz,g_total,"
        "car_fields\n");
    EXPECT_EQ(srt(none, SpeedUnit::kmh), "");
    EXPECT_EQ(rawLog(none, "x"), QString::fromUtf8("# x \u2014 embedded data ()\n# time_s\trecord\n"));
    EXPECT_TRUE(gpx(none, "x", start).contains("<trkseg>\n  </trkseg>"));
    EXPECT_FALSE(kml(none, "x").contains("Start"));
}

TEST(TelemetryExporter, SrtHasOneCuePerSecondAndAtMostADay)
{
    Telemetry t;
    t.sensor = {{0, 0, 0, 1}, {0.2, 0, 0, 1}};
    EXPECT_EQ(TelemetryExporter::srt(t, SpeedUnit::kmh),
              "1\n00:00:00,000 --> 00:00:01,000\nG  x +0.00  y +0.00  z +1.00\n\n");
    t.sensor.last().time = 59.5;
    const QString minute = TelemetryExporter::srt(t, SpeedUnit::kmh);
    EXPECT_EQ(minute.count(" --> "), 60);
    EXPECT_TRUE(minute.contains("\n60\n00:00:59,000 --> 00:01:00,000\n"));
    // A bogus time far in the future must not make years of cues.
    t.sensor.last().time = 3e9;
    const QString capped = TelemetryExporter::srt(t, SpeedUnit::kmh);
    EXPECT_EQ(capped.count(" --> "), 86400);
    EXPECT_TRUE(capped.endsWith("86400\n23:59:59,000 --> 24:00:00,000\nG  x +0.00  y +0.00  z +1.00\n\n"));
}

TEST(TelemetryExporter, NumbersThatAreNotFiniteNeverReachAFile)
{
    Telemetry t;
    GPSFix a;
    a.latitude = 10;
    a.longitude = 20;
    a.speedKnots = 1.7e308; // overflows when converted to km/h
    GPSFix b = a;
    b.time = 1;
    b.speedKnots = -1.7e308;
    t.gps = {a, b};
    t.sensor = {{0, 1e308, 1e308, 1e308}};
    for (TelemetryFormat format : allTelemetryFormats) {
        const QString text = TelemetryExporter::exportText(t, format, "n", start, SpeedUnit::kmh);
        EXPECT_FALSE(text.contains("inf", Qt::CaseInsensitive)) << rawValue(format).toStdString();
        EXPECT_FALSE(text.contains("nan", Qt::CaseInsensitive)) << rawValue(format).toStdString();
    }
}

// Independent tools read what we write.
class TelemetryExporterCrossCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *tool : {"xmllint", "gpsbabel", "ffprobe"})
            if (!TestSupport::haveProgram(tool))
                GTEST_SKIP() << tool << " is not installed";
        ASSERT_TRUE(dir.isValid());
    }
    QString write(const QString &fileName, const QString &text)
    {
        const QString path = dir.filePath(fileName);
        TestSupport::writeFile(path, text.toUtf8());
        return path;
    }
    QTemporaryDir dir;
};

struct Point {
    double lat = 0, lon = 0;
    std::optional<QDateTime> time;
    std::optional<double> speed, course, altitude, hdop;
    std::optional<int> satellites;
    QString name;
};

// The points of a GPX 1.0 file as gpsbabel writes it (waypoints and track points).
QList<Point> readGpx(const QByteArray &xml, const QString &element)
{
    QList<Point> points;
    QXmlStreamReader reader(xml);
    Point *current = nullptr;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement()) {
            if (reader.name() == element) {
                points.append(Point{});
                current = &points.last();
                current->lat = reader.attributes().value("lat").toDouble();
                current->lon = reader.attributes().value("lon").toDouble();
            } else if (current) {
                const auto n = reader.name().toString();
                const QString text = reader.readElementText();
                if (n == "time")
                    current->time = QDateTime::fromString(text, Qt::ISODateWithMs);
                else if (n == "speed")
                    current->speed = text.toDouble();
                else if (n == "course")
                    current->course = text.toDouble();
                else if (n == "ele")
                    current->altitude = text.toDouble();
                else if (n == "hdop")
                    current->hdop = text.toDouble();
                else if (n == "sat")
                    current->satellites = text.toInt();
                else if (n == "name")
                    current->name = text;
            }
        } else if (reader.isEndElement() && reader.name() == element) {
            current = nullptr;
        }
    }
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    return points;
}

TEST_F(TelemetryExporterCrossCheck, GpxAndKmlAreWellFormedAndReadBackTheSamePoints)
{
    ScopedEnv tz("TZ", "UTC");
    const Telemetry t = sampleDrive();
    const QString gpxPath = write("drive.gpx", TelemetryExporter::gpx(t, name, start));
    const QString kmlPath = write("drive.kml", TelemetryExporter::kml(t, name));
    for (const QString &path : {gpxPath, kmlPath}) {
        const auto lint = TestSupport::run("xmllint", {"--noout", path});
        EXPECT_TRUE(lint.ok()) << lint.err.toStdString();
    }

    const auto fromGpx = TestSupport::run("gpsbabel", {"-i", "gpx", "-f", gpxPath, "-o", "gpx", "-F", "-"});
    ASSERT_TRUE(fromGpx.ok()) << fromGpx.err.toStdString();
    const auto gpxPoints = readGpx(fromGpx.out, "trkpt");
    ASSERT_EQ(gpxPoints.size(), t.gps.size());
    for (qsizetype i = 0; i < t.gps.size(); ++i) {
        const GPSFix &fix = t.gps[i];
        EXPECT_NEAR(gpxPoints[i].lat, fix.latitude, 1e-7);
        EXPECT_NEAR(gpxPoints[i].lon, fix.longitude, 1e-7);
        EXPECT_EQ(gpxPoints[i].time, fix.timestamp ? fix.timestamp : addingSeconds(*start, fix.time));
    }

    const auto fromKml = TestSupport::run("gpsbabel", {"-i", "kml", "-f", kmlPath, "-o", "gpx", "-F", "-"});
    ASSERT_TRUE(fromKml.ok()) << fromKml.err.toStdString();
    const auto route = readGpx(fromKml.out, "trkpt");
    ASSERT_EQ(route.size(), t.gps.size());
    for (qsizetype i = 0; i < t.gps.size(); ++i) {
        EXPECT_NEAR(route[i].lat, t.gps[i].latitude, 1e-7);
        EXPECT_NEAR(route[i].lon, t.gps[i].longitude, 1e-7);
    }
    const auto marks = readGpx(fromKml.out, "wpt");
    ASSERT_EQ(marks.size(), 2);
    EXPECT_EQ(marks[0].name, "Start");
    EXPECT_NEAR(marks[0].lat, t.gps.first().latitude, 1e-7);
    EXPECT_EQ(marks[1].name, "End");
    EXPECT_NEAR(marks[1].lon, t.gps.last().longitude, 1e-7);
}

TEST_F(TelemetryExporterCrossCheck, FfprobeReadsEveryCue)
{
    Telemetry t = sampleDrive();
    t.sensor.append({41.3, 0, 0, 1});
    const QString path = write("drive.srt", TelemetryExporter::srt(t, SpeedUnit::kmh));
    const auto probe = TestSupport::run("ffprobe", {"-v", "error", "-show_entries",
                                                    "stream=codec_name:packet=pts_time,duration_time", "-of",
                                                    "csv=p=0", path});
    ASSERT_TRUE(probe.ok()) << probe.err.toStdString();
    const QStringList lines = QString::fromUtf8(probe.out).split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 43); // 42 cues and the stream
    EXPECT_EQ(lines.last(), "subrip");
    for (int i = 0; i < 42; ++i)
        EXPECT_EQ(lines[i], QString::asprintf("%d.000000,1.000000", i));
}

TEST_F(TelemetryExporterCrossCheck, NmeaDecodesLikeGpsbabel)
{
    // Real-world shapes: talkers GP and GN, both hemispheres each way, with and without a fix, fractional
    // seconds, an empty course, and a GGA sentence without a fix.
    const QStringList rmc{
        "GPRMC,123519.00,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W",
        "GPRMC,123520.00,V,,,,,,,230394,,,N",
        "GNRMC,123521.50,A,3352.1280,S,15112.5580,E,5.2,310.0,230394,,,A",
        "GPRMC,123522.00,A,4042.7680,N,07400.3600,W,0.0,,230394,,,D",
        "GPRMC,123524.25,A,2254.6520,S,04310.2180,W,35.75,175.2,230394,,,A",
        "GNRMC,000001.00,A,6412.0830,N,02156.6730,W,61.2,10.0,010124,,,A",
    };
    const QStringList gga{
        "GPGGA,123519.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,",
        "",
        "GNGGA,123521.50,3352.1280,S,15112.5580,E,2,10,0.8,12.0,M,20.0,M,,",
        "GPGGA,123522.00,4042.7680,N,07400.3600,W,0,00,99.9,,M,,M,,",
        "GPGGA,123524.25,2254.6520,S,04310.2180,W,1,05,1.7,-3.5,M,-5.1,M,,",
        "GNGGA,000001.00,6412.0830,N,02156.6730,W,1,12,0.6,40.2,M,64.9,M,,",
    };
    QList<RawRecord> records;
    QString rmcFile, ggaFile;
    for (int i = 0; i < rmc.size(); ++i) {
        QString text = withChecksum(rmc[i]) + "\r\n";
        rmcFile += text;
        if (!gga[i].isEmpty()) {
            text += withChecksum(gga[i]) + "\r\n";
            ggaFile += withChecksum(gga[i]) + "\r\n";
        }
        records.append({i, double(i), text});
    }
    const Telemetry t = TelemetryParser::build(records, std::nullopt, "raw scan");
    EXPECT_EQ(t.gpsNoFixCount, 1);
    ASSERT_EQ(t.gps.size(), 5);

    const auto decoded = TestSupport::run(
        "gpsbabel", {"-i", "nmea", "-f", write("rmc.nmea", rmcFile), "-o", "gpx", "-F", "-"});
    ASSERT_TRUE(decoded.ok()) << decoded.err.toStdString();
    const auto theirs = readGpx(decoded.out, "trkpt");
    ASSERT_EQ(theirs.size(), t.gps.size());
    for (qsizetype i = 0; i < theirs.size(); ++i) {
        const GPSFix &ours = t.gps[i];
        EXPECT_NEAR(theirs[i].lat, ours.latitude, 1e-8) << i;
        EXPECT_NEAR(theirs[i].lon, ours.longitude, 1e-8) << i;
        EXPECT_EQ(theirs[i].time, ours.timestamp) << i;
        EXPECT_NEAR(theirs[i].speed.value_or(-1), ours.speedKnots * 0.514444, 1e-4) << i;
        EXPECT_NEAR(theirs[i].course.value_or(-1), ours.course.value_or(0), 1e-4) << i;
    }

    // The GGA values joined to our fixes; gpsbabel keeps only the sentences with a fix.
    const auto ggaDecoded = TestSupport::run(
        "gpsbabel", {"-i", "nmea,date=20940323", "-f", write("gga.nmea", ggaFile), "-o", "gpx", "-F", "-"});
    ASSERT_TRUE(ggaDecoded.ok()) << ggaDecoded.err.toStdString();
    const auto fixes = readGpx(ggaDecoded.out, "trkpt");
    int compared = 0;
    for (const GPSFix &ours : t.gps) {
        if (ours.fixQuality.value_or(0) == 0) {
            EXPECT_EQ(ours.satellites, 0);
            EXPECT_EQ(ours.altitude, std::nullopt);
            continue;
        }
        for (const Point &p : fixes) {
            if (std::abs(p.lat - ours.latitude) > 1e-8 || std::abs(p.lon - ours.longitude) > 1e-8)
                continue;
            EXPECT_NEAR(p.altitude.value_or(-1e9), *ours.altitude, 1e-6);
            EXPECT_EQ(p.satellites, ours.satellites);
            EXPECT_NEAR(p.hdop.value_or(-1), *ours.hdop, 1e-6);
            ++compared;
        }
    }
    EXPECT_EQ(compared, 4);
}

} // namespace
