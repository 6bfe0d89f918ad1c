#include "roadloom/ui/inspector/InspectorHarness.h"

#include "roadloom/model/CacheCoordinator.h"
#include "roadloom/model/Formats.h"
#include "roadloom/model/Preferences.h"
#include "roadloom/ui/widgets/Palette.h"

#include <QFile>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

using namespace AppHarness;
using namespace InspectorHarness;
using TestSupport::waitFor;

namespace {

Telemetry withRecords(int count, double step = 0.1)
{
    Telemetry t;
    for (int i = 0; i < count; ++i)
        t.records.append({1 + i * step, QStringLiteral("$GPRMC,%1").arg(i)});
    t.source = QStringLiteral("MP4 text track");
    return t;
}

GPSFix fix(double time, double lat, std::optional<QDateTime> stamp = {})
{
    GPSFix f;
    f.time = time;
    f.latitude = lat;
    f.longitude = 13.5;
    f.speedKnots = 10;
    f.course = 90;
    f.timestamp = stamp;
    return f;
}

MediaInfo mediaWith(QList<MediaInfo::Track> tracks = {}, QList<MediaInfo::VendorBox> boxes = {})
{
    MediaInfo info;
    info.container = QStringLiteral("MPEG-4");
    info.tracks = tracks;
    info.vendorBoxes = boxes;
    return info;
}

class ClipInspectorTest : public InspectorTest {};

TEST_F(ClipInspectorTest, SectionsFollowTheLoadedRecordingInTheirOrder)
{
    const DashClip both =
        recording("REC_A", at(1), {{Channel::front, "/card/A_F.mp4"}, {Channel::rear, "/card/A_R.mp4"}});
    const DashClip rearOnly = recording("REC_B", at(2), {{Channel::rear, "/card/B_R.mp4"}});
    makeInspector({both, rearOnly});
    EXPECT_TRUE(headers().isEmpty()) << "no recording: an empty column";

    Telemetry vehicleOnly;
    vehicleOnly.vehicle = {{1, {"0", "0"}}};
    loadWith(rearOnly, vehicleOnly);
    EXPECT_EQ(headers(),
              (QStringList{"Recording", "Storage", "Embedded Data", "Vehicle Data (CAR)", "Rear File"}));

    Telemetry all = withRecords(3);
    all.gps = {fix(1, 52)};
    all.sensor = {{1, 0, 0, 1}};
    all.vehicle = {{1, {"0"}}};
    all.other = {{1, "GPGSV", {"1"}}};
    loadWith(both, all);
    EXPECT_EQ(headers(), (QStringList{"Recording", "Storage", "Embedded Data", "GPS", "G-Sensor",
                                      "Vehicle Data (CAR)", "Other Sentences", "Front File", "Rear File"}));

    model->player().load(std::nullopt, false);
    EXPECT_TRUE(waitFor([&] { return headers().isEmpty(); }));
}

TEST_F(ClipInspectorTest, RecordingRowsShowTheClipAndThePlayersFacts)
{
    DashClip clip = recording("REC_A", std::nullopt);
    clip.category = ClipCategory::event;
    clip.byteSize = 1'234'567;
    makeInspector({clip});
    load(clip);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(rowsOf("Recording"),
              (QStringList{"Type=Incident", "Name=REC_A", "Recorded (camera clock)=\u2014", "Duration=1:00.0",
                           "Frame rate=30 fps", "Total size=1.2 MB"}));
    auto *type = inspector->findChild<QLabel *>("categoryText");
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->palette().color(QPalette::WindowText), Palette::tint(ClipCategory::event));
}

// Each date row reads as an abbreviated date with the time in the user's locale, never the short numeric
// form ("5/1/24").
TEST_F(ClipInspectorTest, DateRowsUseTheAbbreviatedDateOfTheLocale)
{
    TestSupport::ScopedEnv zone("TZ", "UTC");
    const QDateTime start(QDate(2024, 5, 1), QTime(10, 0, 0), Qt::UTC);
    struct Case {
        QLocale locale;
        QString recorded, gpsTime, container;
    };
    const QList<Case> cases = {
        {QLocale(QLocale::English, QLocale::UnitedStates), "May 1, 2024, 10:00:00 AM",
         "May 1, 2024, 10:00:00 AM – 10:01:00 AM", "May 1, 2024, 10:01:00 AM"},
        {QLocale(QLocale::German, QLocale::Germany), "1. Mai 2024, 10:00:00",
         "1. Mai 2024, 10:00:00 – 10:01:00", "1. Mai 2024, 10:01:00"},
    };
    const QLocale saved;
    const DashClip clip = recording("REC_A", start);
    makeInspector({clip});
    // Some locales put a narrow no-break space before AM.
    const auto plain = [](QString text) { return text.replace(QChar(0x202F), QLatin1Char(' ')); };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.locale.name().toStdString());
        QLocale::setDefault(c.locale);
        Telemetry t;
        t.gps = {fix(0, 52, start), fix(60, 52.01, start.addSecs(60))};
        MediaInfo media = mediaWith();
        media.creationTime = start.addSecs(60);
        loadWith(clip, t, {{Channel::front, media}});
        EXPECT_EQ(plain(rowOf("Recording", "Recorded (camera clock)")), c.recorded);
        EXPECT_EQ(plain(rowOf("GPS", "GPS time")), c.gpsTime);
        EXPECT_EQ(plain(rowOf("Front File", "Container timestamp")), c.container);
        model->player().load(std::nullopt, false);
        ASSERT_TRUE(waitFor([&] { return headers().isEmpty(); }));
    }
    QLocale::setDefault(saved);
}
struct StorageCase {
    const char *name;
    std::map<Channel, QString> files, originals;
    std::map<Channel, StorageState> states;
    std::set<Channel> cached;
    QStringList blocks; // what each channel block shows
    QString button;     // its text
    bool enabled;
    QString tooltip;
};

TEST_F(ClipInspectorTest, StorageBlocksAndTheCacheButtonFollowWhereTheFilesAre)
{
    const QString F = "/card/DCIM/A_F.mp4", R = "/card/DCIM/A_R.mp4";
    const QString movedF = "/moved/A_F.mp4", copyF = "/scripted/Media Cache/k/A_F.mp4";
    const QList<StorageCase> cases = {
        {"original, nothing stored",
         {{Channel::front, F}},
         {},
         {},
         {},
         {"Front | Original | A_F.mp4 | /card/DCIM | No backup copy yet"},
         "Cache Now",
         true,
         ""},
        {"moved front, rear without any file, interior has no block",
         {{Channel::front, movedF}},
         {{Channel::front, F}},
         {{Channel::front, StorageState::moved}},
         {},
         {"Front | Moved \u2014 found | A_F.mp4 | /card/DCIM | No backup copy yet"},
         "Cache Now",
         true,
         ""},
        {"fully stored, originals in place",
         {{Channel::front, F}, {Channel::rear, R}},
         {{Channel::front, F}, {Channel::rear, R}},
         {{Channel::front, StorageState::original}, {Channel::rear, StorageState::original}},
         {Channel::front, Channel::rear},
         {"Front | Original | A_F.mp4 | /card/DCIM | Backup copy stored",
          "Rear | Original | A_R.mp4 | /card/DCIM | Backup copy stored"},
         "Remove Cached Copy",
         true,
         ""},
        {"playing the stored copy: the only copy left",
         {{Channel::front, copyF}},
         {{Channel::front, F}},
         {{Channel::front, StorageState::cached}},
         {Channel::front},
         {"Front | Playing cached copy | A_F.mp4 | /card/DCIM | Backup copy stored"},
         "Remove Cached Copy",
         false,
         "The cached copy is the only copy left."},
        {"a missing channel, not stored",
         {{Channel::front, F}, {Channel::rear, R}},
         {{Channel::front, F}, {Channel::rear, R}},
         {{Channel::front, StorageState::original}, {Channel::rear, StorageState::missing}},
         {Channel::front},
         {"Front | Original | A_F.mp4 | /card/DCIM | Backup copy stored",
          "Rear | Missing | A_R.mp4 | /card/DCIM | No backup copy yet"},
         "Cache Now",
         false,
         ""},
    };
    DashClip listed = recording("A", at(1), {{Channel::front, F}});
    makeInspector({listed});
    for (const StorageCase &c : cases) {
        SCOPED_TRACE(c.name);
        DashClip resolved = listed;
        resolved.files = c.files;
        resolved.originalFiles = c.originals;
        resolved.channelStates = c.states;
        resolved.cachedChannels = c.cached;
        services->resolved["A"] = resolved;
        load(listed);
        QStringList blocks = rowsOf("Storage");
        const QString buttonRow = blocks.takeLast();
        EXPECT_EQ(blocks, c.blocks);
        EXPECT_EQ(buttonRow, c.button);
        auto *button = inspector->findChild<QPushButton *>("cacheButton");
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->isEnabled(), c.enabled);
        EXPECT_EQ(button->toolTip(), c.tooltip);
        EXPECT_EQ(
            inspector->section("Storage")->footer(),
            "Roadloom keeps a backup copy of imported recordings so they still play if the originals are "
            "moved, renamed or the SD card is removed.");
        model->player().load(std::nullopt, false);
    }
}

TEST_F(ClipInspectorTest, TheFileNameRevealsTheFileThatPlaysAndCacheNowReachesTheCoordinator)
{
    DashClip listed = recording("A", at(1), {{Channel::front, "/card/A_F.mp4"}});
    DashClip moved = listed;
    moved.files = {{Channel::front, "/moved/here/A_F.mp4"}};
    moved.originalFiles = {{Channel::front, "/card/A_F.mp4"}};
    moved.channelStates = {{Channel::front, StorageState::moved}};
    services->resolved["A"] = moved;
    makeInspector({listed});
    load(listed);
    auto *name = inspector->findChild<QPushButton *>("revealFile");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->toolTip(), "<qt>/card/A_F.mp4</qt>");
    QTest::mouseClick(name, Qt::LeftButton);
    EXPECT_EQ(revealer.revealed, QStringList{"/moved/here/A_F.mp4"});

    QTest::mouseClick(inspector->findChild<QPushButton *>("cacheButton"), Qt::LeftButton);
    EXPECT_TRUE(waitFor([&] {
        const QList<ScriptedCache::PlanCall> plans = cacheBackend.plans();
        return std::any_of(plans.begin(), plans.end(),
                           [&](const auto &plan) { return plan.alsoInclude.contains(listed.catalogKey()); });
    })) << "the coordinator plans the recording in";
}

TEST_F(ClipInspectorTest, CopiesAndTheirRemovalReachTheColumnWithoutAReload)
{
    const QString front = dir.filePath("card/A_F.mp4"), rear = dir.filePath("card/A_R.mp4");
    ASSERT_TRUE(QDir().mkpath(dir.filePath("card")));
    for (const QString &path : {front, rear}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
    }
    const DashClip clip = recording("A", at(1), {{Channel::front, front}, {Channel::rear, rear}});
    makeInspector({clip});
    const DashClip listed = model->library().clips().value(0);
    load(listed);
    const int resolves = int(services->calls().count("resolve A"));
    const QString key = listed.catalogKey();
    cacheBackend.pending = {{key, Channel::front, front, 1, "A_F.mp4"},
                            {key, Channel::rear, rear, 1, "A_R.mp4"}};
    cacheBackend.holdCopies = true;
    auto backup = [&](const QString &channel) {
        return shown(inspector->findChild<QWidget *>("storage" + channel)->findChild<QWidget *>("backup"));
    };

    QTest::mouseClick(inspector->findChild<QPushButton *>("cacheButton"), Qt::LeftButton);
    ASSERT_TRUE(cacheBackend.waitForCopy());
    ASSERT_TRUE(waitFor([&] { return backup("Front") == "Copying to cache\u2026"; }));
    EXPECT_EQ(backup("Rear"), "No backup copy yet");
    cacheBackend.release();
    ASSERT_TRUE(cacheBackend.waitForCopy());
    ASSERT_TRUE(waitFor([&] { return backup("Rear") == "Copying to cache\u2026"; }));
    EXPECT_EQ(backup("Front"), "Backup copy stored");
    cacheBackend.release();
    ASSERT_TRUE(waitFor([&] { return backup("Rear") == "Backup copy stored"; }));
    ASSERT_TRUE(waitFor([&] { return !model->cache().isRunning(); }));
    auto *button = inspector->findChild<QPushButton *>("cacheButton");
    EXPECT_EQ(button->text(), "Remove Cached Copy");
    EXPECT_TRUE(button->isEnabled());

    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] {
        auto *b = inspector->findChild<QPushButton *>("cacheButton");
        return b && b->text() == "Cache Now";
    }));
    EXPECT_TRUE(cacheBackend.log().contains("remove " + key));
    EXPECT_EQ(backup("Front"), "No backup copy yet");
    EXPECT_EQ(services->calls().count("resolve A"), resolves) << "the recording was not loaded again";
}

TEST_F(ClipInspectorTest, EmbeddedDataShowsOnlyTheBusyRowWhileReadingThenItsSummary)
{
    const DashClip clip = recording("REC_A", at(1));
    makeInspector({clip});
    Telemetry t = withRecords(1200);
    t.sourceChannel = Channel::rear;
    t.gps = {fix(1, 52)};
    t.sentenceCounts = {{"RMC", 600}, {"GGA", 600}, {"G-sensor", 1200}, {"CAR", 60}};
    services->telemetry[clip.files.begin()->second] = t;
    services->holdTelemetry();
    load(clip, false);
    EXPECT_EQ(rowsOf("Embedded Data"), QStringList{"Status=[busy]"});
    EXPECT_FALSE(headers().contains("GPS"));

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    services->releaseTelemetry();
    ASSERT_TRUE(waitFor([&] { return !model->player().isLoadingTelemetry(); }));
    EXPECT_EQ(rowsOf("Embedded Data"),
              (QStringList{"Found in=MP4 text track (Rear)", "Records=1200",
                           "Sentences=CAR 60 \u00B7 G-sensor 1200 \u00B7 GGA 600 \u00B7 RMC 600",
                           "At playhead (0:01.0) | $GPRMC,0", "Open Data Log\u2026"}));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_TRUE(headers().contains("GPS"));
}

TEST_F(ClipInspectorTest, EmbeddedDataSourcesAndThePlayheadRecord)
{
    const DashClip clip = recording("REC_A", at(1));
    makeInspector({clip});
    loadWith(clip, Telemetry());
    EXPECT_EQ(rowsOf("Embedded Data"), QStringList{"Status=No embedded data found"});

    model->player().load(std::nullopt, false);
    Telemetry t = withRecords(5, 2); // records at 1, 3, 5, 7, 9
    t.source = "AVI text chunks";
    loadWith(clip, t);
    EXPECT_EQ(rowOf("Embedded Data", "Found in"), "AVI text chunks");
    const QList<std::pair<double, QString>> seeks = {
        {0.5, "At playhead (0:01.0) | $GPRMC,0"}, // before the first: the first
        {3.0, "At playhead (0:03.0) | $GPRMC,1"},
        {8.9, "At playhead (0:07.0) | $GPRMC,3"},
        {59, "At playhead (0:09.0) | $GPRMC,4"},
    };
    for (const auto &[time, text] : seeks) {
        model->player().seek(time);
        EXPECT_EQ(shown(inspector->findChild<QWidget *>("currentRecord")), text) << time;
    }
}

// A record of several sentences shows each on a line of its own, not run together.
TEST_F(ClipInspectorTest, ThePlayheadRecordShowsEachSentenceOnItsOwnLine)
{
    const DashClip clip = recording("REC_A", at(1));
    makeInspector({clip});
    Telemetry t;
    t.source = "MP4 text track";
    t.records = {
        {0, QStringLiteral("$GPRMC,101500.00,A,4807.0380,N,01131.0000,E,20.0,84.4,030125,,,A*63\r\n"
                           "$GPGGA,101500.00,4807.0380,N,01131.0000,E,1,09,0.8,512.0,M,46.9,M,,*4A\r\n"
                           "gsensor,250,150,128")}};
    t.gps = {{}};
    loadWith(clip, t);
    inspector->resize(1200, 800);
    inspector->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(inspector.get()));
    auto *record = inspector->findChild<QWidget *>("currentRecord")->findChildren<WrapLabel *>().value(1);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->text().split(u'\n'),
              QStringList({"$GPRMC,101500.00,A,4807.0380,N,01131.0000,E,20.0,84.4,030125,,,A*63",
                           "$GPGGA,101500.00,4807.0380,N,01131.0000,E,1,09,0.8,512.0,M,46.9,M,,*4A",
                           "gsensor,250,150,128"}));
    // Three sentences give at least three lines at the column's width, and the label is as tall as them.
    EXPECT_GE(record->lineCount(), 3);
    EXPECT_GE(record->height(), 3 * record->fontMetrics().height());
    EXPECT_NEAR(record->heightForWidth(100'000), record->fontMetrics().height() * 3, 3)
        << "with room for every sentence: one line each";
}

TEST_F(ClipInspectorTest, MediaSectionsShowBitrateTracksAndVendorBoxes)
{
    const DashClip clip = recording("REC_A", at(1));
    makeInspector({clip});
    MediaInfo info = mediaWith({{"Video", "H.264", {"1920×1080", "30 fps"}, std::nullopt, std::nullopt},
                                {"Data (text)", "", {}, std::nullopt, QString("x")},
                                {"Audio", "AAC", {}, QString("SoundHandler"), QString("Lavc")}},
                               {{"moov/udta/abcd", 56, "00 01", std::nullopt},
                                {"moov/udta/efgh", 57, "02 03", std::nullopt},
                                {"moov/udta/text", 900, "41 42", QString("AB <i>")}});
    info.overallBitrate = 12'549'000;
    loadWith(clip, Telemetry(), {{Channel::front, info}});
    EXPECT_EQ(rowsOf("Front File"),
              (QStringList{"Container=MPEG-4", "Overall bitrate=12.5 Mbps",
                           "Video | H.264 | 1920×1080 \u00B7 30 fps", "Data (text) | Encoder: x",
                           "Audio | AAC | Handler: SoundHandler \u00B7 Encoder: Lavc",
                           "Vendor box | moov/udta/abcd \u00B7 56 B | 00 01",
                           "Vendor box | moov/udta/efgh \u00B7 57 B | 02 03 \u2026",
                           "Vendor box | moov/udta/text \u00B7 900 B | AB <i>"}));
}

TEST_F(ClipInspectorTest, GpsLiveRowsFollowTheSeeksAndTheSummaryCountsTheTrack)
{
    const QDateTime start(QDate(2024, 5, 1), QTime(10, 0, 0), Qt::UTC);
    const DashClip clip = recording("REC_A", start);
    makeInspector({clip});
    Telemetry t;
    t.gps = {fix(0, 52.0, start.addSecs(-1)), fix(10, 52.001, start.addSecs(9)), fix(20, 52.002)};
    t.gps[0].mode = "A";
    t.gps[1].mode = "D";
    t.gps[2].mode = "A";
    t.gps[0].altitude = 35;
    t.gps[1].satellites = 9;
    t.gps[0].satellites = 7;
    t.gps[0].hdop = 1.4;
    t.gps[1].hdop = 0.9;
    t.gps[2].course.reset();
    t.gpsNoFixCount = 3;
    loadWith(clip, t);
    const QList<std::pair<double, QStringList>> seeks = {
        {0,
         {"Position=52.000000, 13.500000", "Speed / heading=18.5 km/h \u00B7 90\u00B0", "Altitude=35 m",
          "UTC=09:59:59"}},
        {5,
         {"Position=52.000500, 13.500000", "Speed / heading=18.5 km/h \u00B7 90\u00B0", "Altitude=35 m",
          "UTC=10:00:04"}},
        {15, {"Position=52.001500, 13.500000", "Speed / heading=18.5 km/h \u00B7 90\u00B0", "UTC=10:00:14"}},
        {25, {"Position=52.002000, 13.500000", "Speed / heading=18.5 km/h \u00B7 0\u00B0", "UTC=\u2014"}},
    };
    for (const auto &[time, live] : seeks) {
        model->player().seek(time);
        EXPECT_EQ(rowsOf("GPS").mid(0, live.size()), live) << time;
    }
    const QStringList summary = rowsOf("GPS").mid(3);
    EXPECT_EQ(summary.mid(0, 5), (QStringList{"Fixes=3 \u00B7 0.1 Hz", "Sentences without fix=3",
                                              "Fix mode=Autonomous, Differential (SBAS/DGPS)",
                                              "Satellites (max)=9", "Best HDOP=0.9"}));
    EXPECT_EQ(rowOf("GPS", "GPS time"), "") << "the last fix has no timestamp";
    EXPECT_EQ(rowOf("GPS", "Camera clock"), "Matches GPS");
    EXPECT_EQ(rowOf("GPS", "Top speed"), "19 km/h");

    model->preferences().setSpeedUnit(SpeedUnit::mph);
    EXPECT_EQ(rowOf("GPS", "Top speed"), "12 mph");
    EXPECT_TRUE(rowOf("GPS", "Speed / heading").startsWith("11.5 mph"));
    EXPECT_TRUE(rowOf("GPS", "Distance").endsWith(" m"));
}

TEST_F(ClipInspectorTest, OneFixAndTheCameraClockOffsets)
{
    const QDateTime gpsStart(QDate(2024, 5, 1), QTime(10, 0, 0), Qt::UTC);
    struct Case {
        double offset;
        QString text;
        bool orange;
    };
    const QList<Case> cases = {
        {4.9, "Matches GPS", false},     {5, "5s ahead of GPS", false},
        {120, "2m ahead of GPS", false}, {121, "2m 1s ahead of GPS", true},
        {-1800, "30m behind GPS", true}, {7380, "2h 3m ahead of GPS", true},
    };
    const DashClip listed = recording("REC_A", gpsStart);
    makeInspector({listed});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.offset);
        DashClip clip = listed;
        clip.date = gpsStart.addMSecs(qint64(c.offset * 1000));
        services->resolved["REC_A"] = clip;
        Telemetry t;
        t.gps = {fix(0, 52, gpsStart)};
        loadWith(listed, t);
        EXPECT_EQ(rowOf("GPS", "Fixes"), "1");
        EXPECT_EQ(rowOf("GPS", "Camera clock"), c.text);
        auto *text = inspector->findChild<WrapLabel *>("cameraClock");
        ASSERT_NE(text, nullptr);
        EXPECT_EQ(text->color() == Palette::orange(text->palette()), c.orange) << "orange above 120 s";
        EXPECT_EQ(rowOf("GPS", "GPS time"), Formats::dateTime(gpsStart) + " – " + Formats::time(gpsStart));
        model->player().load(std::nullopt, false);
    }
}

TEST_F(ClipInspectorTest, SensorVehicleAndOtherSentenceSections)
{
    const DashClip clip = recording("REC_A", at(1));
    makeInspector({clip});
    Telemetry t;
    for (int i = 0; i < 1200; ++i)
        t.sensor.append({2 + i * 0.1, 0.02, -0.98, 0.11});
    t.sensor[420] = {44, 1.0, 2.0, 0.7};
    t.sensorCountsPerG = 128;
    t.vehicle = {{1, {"0", "0", ""}}, {5, {"12", "", "3", "4"}}};
    t.other = {{1, "GPVTG", {"1", "A", "0.5"}},
               {2, "GPGSV", {}},
               {3, "GPVTG", {"2"}},
               {4, "GPGSV", {"x"}},
               {5, "GPGSV", {"y"}},
               {6, "1ABC", {"<b>z</b>"}}};
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    loadWith(clip, t);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(rowsOf("G-Sensor"),
              (QStringList{"At playhead=X +0.02  Y -0.98  Z +0.11  |0.99| g", "Samples=1200 · 10 Hz",
                           "Resolution=128 counts/g (7.8 mg)", "Peak=2.34 g at 0:44.0"}));
    QTest::mouseClick(inspector->findChild<QPushButton *>("peak"), Qt::LeftButton);
    EXPECT_DOUBLE_EQ(model->player().currentTime(), 44);
    EXPECT_EQ(rowOf("G-Sensor", "At playhead"), "X +1.00  Y +2.00  Z +0.70  |2.34| g");
    EXPECT_EQ(rowsOf("Vehicle Data (CAR)"),
              (QStringList{"Records=2 × 3 fields", "Field 1=12", "Field 2=—", "Field 3=3", "Field 4=4"}));
    model->player().seek(0); // before the first sample: the first one
    EXPECT_EQ(rowsOf("Vehicle Data (CAR)"),
              (QStringList{"Records=2 × 3 fields", "Field 1=0", "Field 2=0", "Field 3=—"}));
    EXPECT_EQ(rowOf("G-Sensor", "At playhead"), "X +0.02  Y -0.98  Z +0.11  |0.99| g");
    EXPECT_EQ(rowsOf("Other Sentences"),
              (QStringList{"1ABC=1 × <b>z</b>", "GPGSV=3 × ", "GPVTG=2 × 1,A,0.5"}));

    model->player().load(std::nullopt, false);
    Telemetry zero;
    zero.sensor = {{1, 0, 0, 1}};
    zero.sensorRangeG = 4;
    zero.vehicle = {{1, {"0", "0.0", ""}}, {2, {"0"}}};
    loadWith(clip, zero);
    EXPECT_EQ(rowsOf("G-Sensor"), (QStringList{"At playhead=X +0.00  Y +0.00  Z +1.00  |1.00| g", "Samples=1",
                                               "Full-scale range=±4 g", "Peak=1.00 g at 0:01.0"}));
    EXPECT_EQ(rowsOf("Vehicle Data (CAR)"),
              (QStringList{"Records=2 × 3 fields", "Values=All zero in this recording"}));
}

TEST_F(ClipInspectorTest, TextsFromTheCardShowVerbatim)
{
    const QString path = "/card/<i>dir<i>/<b>x&amp;<b>_F.mp4";
    DashClip clip = recording("<b>x</b>", at(1), {{Channel::front, path}});
    makeInspector({clip});
    Telemetry t = withRecords(1);
    t.records[0].text = "<img src=a>";
    loadWith(clip, t);
    auto *name = inspector->findChild<QPushButton *>("revealFile");
    EXPECT_EQ(shown(name), "<b>x&amp;<b>_F.mp4");
    EXPECT_EQ(name->toolTip(), "<qt>/card/&lt;i&gt;dir&lt;i&gt;/&lt;b&gt;x&amp;amp;&lt;b&gt;_F.mp4</qt>");
    EXPECT_EQ(shown(inspector->findChild<QWidget *>("currentRecord")), "At playhead (0:01.0) | <img src=a>");
    EXPECT_EQ(rowOf("Recording", "Name"), "<b>x</b>");
    // Every label of the column draws its text as it is.
    for (const QLabel *label : inspector->findChildren<QLabel *>())
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
}

TEST_F(ClipInspectorTest, TheScrollPlaceStaysForTheSameRecording)
{
    const DashClip clip = recording("REC_A", at(1));
    makeInspector({clip});
    inspector->resize(300, 200);
    inspector->show();
    Telemetry t = withRecords(3);
    t.vehicle = {{1, {"1", "2", "3", "4", "5", "6", "7", "8"}}};
    loadWith(clip, t);
    QCoreApplication::processEvents();
    ASSERT_GT(inspector->verticalScrollBar()->maximum(), 100);
    inspector->verticalScrollBar()->setValue(100);
    DashClip stored = *model->player().clip();
    stored.cachedChannels = {Channel::front};
    model->player().setCacheState(stored.id, stored.cachedChannels, stored.channelStates);
    EXPECT_EQ(inspector->verticalScrollBar()->value(), 100);
    model->player().setCacheState("another", {}, {});
    EXPECT_EQ(model->player().clip()->cachedChannels, std::set<Channel>{Channel::front})
        << "another id is ignored";
}

} // namespace
