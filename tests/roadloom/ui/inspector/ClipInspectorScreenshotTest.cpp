#include "roadloom/ui/inspector/InspectorHarness.h"

#include "fixtures/Screenshot.h"
#include "roadloom/ui/inspector/DataLogSheet.h"
#include "roadloom/ui/widgets/Palette.h"

#include <QScrollBar>
#include <QTest>

using namespace AppHarness;
using namespace InspectorHarness;

namespace {

class ClipInspectorScreenshotTest : public InspectorTest {
protected:
    // A recording with every section: two channels (the front one stored), all kinds of embedded data and
    // the media facts of both files.
    void loadEverything()
    {
        const QDateTime start(QDate(2024, 5, 1), QTime(10, 0, 0), Qt::UTC);
        DashClip clip =
            recording("REC_2024_05_01_10_00_00_EVT", start,
                      {{Channel::front, "/media/user/CARDV/DCIM/EVENT/REC_2024_05_01_10_00_00_F.mp4"},
                       {Channel::rear, "/media/user/CARDV/DCIM/EVENT/REC_2024_05_01_10_00_00_R.mp4"}});
        clip.category = ClipCategory::event;
        clip.byteSize = 187'400'000;
        DashClip resolved = clip;
        resolved.originalFiles = clip.files;
        resolved.channelStates = {{Channel::front, StorageState::original},
                                  {Channel::rear, StorageState::moved}};
        resolved.cachedChannels = {Channel::front};
        services->resolved[clip.name] = resolved;
        makeInspector({clip});

        Telemetry t;
        t.source = "MP4 text track";
        t.sourceChannel = Channel::front;
        for (int i = 0; i < 60; ++i) {
            GPSFix f;
            f.time = i;
            f.latitude = 52.52 + i * 0.0002;
            f.longitude = 13.405 + i * 0.0001;
            f.speedKnots = 20 + i % 7;
            f.course = 42;
            f.timestamp = start.addSecs(i - 185);
            f.mode = i % 2 ? "A" : "D";
            f.satellites = 9;
            f.hdop = 0.8;
            f.altitude = 34;
            t.gps.append(f);
            t.records.append(
                {double(i),
                 QStringLiteral("$GPRMC,%1,A,5231.2,N,01324.3,E,20.0,42.0,010524,,,A*6C").arg(100000 + i)});
        }
        for (int i = 0; i < 600; ++i)
            t.sensor.append({i * 0.1, 0.02, i == 420 ? -2.3 : -0.98, 0.11});
        t.sensorRangeG = 4;
        t.sensorCountsPerG = 128;
        t.vehicle = {{0, {"0", "12", "", "3"}}};
        t.other = {{1, "GPVTG", {"42.0", "T", "", "M", "20.0", "N"}}, {2, "GPGSV", {"3", "1", "11"}}};
        t.sentenceCounts = {{"RMC", 60}, {"GGA", 60},  {"G-sensor", 600},
                            {"CAR", 1},  {"GPVTG", 1}, {"GPGSV", 1}};
        MediaInfo front;
        front.container = "MPEG-4 (isom)";
        front.creationTime = start.addSecs(60);
        front.overallBitrate = 12'549'000;
        front.tracks = {
            {"Video", "H.264", {"1920×1080", "30 fps", "High"}, QString("VideoHandler"), std::nullopt},
            {"Data (text)", "tx3g", {}, std::nullopt, QString("x")}};
        front.vendorBoxes = {{"moov/udta/gps0", 1200,
                              "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13 "
                              "14 15 16 17 18 19 1A 1B 1C 1D 1E 1F",
                              std::nullopt}};
        MediaInfo rear = front;
        rear.vendorBoxes.clear();
        loadWith(clip, t, {{Channel::front, front}, {Channel::rear, rear}});
        model->player().seek(12.3);
    }
};

TEST_F(ClipInspectorScreenshotTest, TheColumnWithARecordingLoaded)
{
    ROADLOOM_REQUIRE_SCREENSHOTS();
    for (Screenshot::Appearance appearance : {Screenshot::Appearance::light, Screenshot::Appearance::dark}) {
        const bool dark = appearance == Screenshot::Appearance::dark;
        SCOPED_TRACE(dark ? "dark" : "light");
        Screenshot::prepare(appearance);
        loadEverything();
        const QString suffix = dark ? "-dark" : "";
        const QImage top =
            Screenshot::capture(inspector.get(), QSize(300, 980), "clip-inspector-top" + suffix);
        const QPalette palette = Screenshot::palette(appearance);

        // The type is drawn in the event tint; nothing runs off the column to the right.
        QWidget *type = inspector->findChild<QLabel *>("categoryText");
        const QRect typeArea(type->mapTo(inspector.get(), QPoint(-20, 0)), type->size() + QSize(20, 0));
        EXPECT_GT(Screenshot::count(top, typeArea, Palette::tint(ClipCategory::event, palette), 30), 20);
        EXPECT_LE(inspector->widget()->width(), 300);

        inspector->verticalScrollBar()->setValue(inspector->verticalScrollBar()->maximum() / 2);
        Screenshot::capture(inspector.get(), QSize(300, 980), "clip-inspector-middle" + suffix);
        inspector->verticalScrollBar()->setValue(inspector->verticalScrollBar()->maximum());
        const QImage bottom =
            Screenshot::capture(inspector.get(), QSize(300, 980), "clip-inspector-bottom" + suffix);
        EXPECT_FALSE(bottom.isNull());

        inspector->openDataLog();
        ASSERT_NE(inspector->dataLog(), nullptr);
        Screenshot::capture(inspector->dataLog(), DataLogSheet::fixedSize, "data-log" + suffix);
        inspector->dataLog()->close();
        inspector.reset();
        model.reset();
    }
}

} // namespace
