#include "roadloom/ui/ShellHarness.h"
#include "roadloom/model/ScriptedExporter.h"

#include "roadloom/model/TimeText.h"
#include "roadloom/ui/export/ExportClipSheet.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTest>

using namespace AppHarness;
using namespace ShellHarness;
using TestSupport::waitFor;

namespace {

SensorSample jolt(double time, double g)
{
    SensorSample s;
    s.time = time;
    s.z = g;
    return s;
}

GPSFix fixAt(double time)
{
    GPSFix fix;
    fix.time = time;
    fix.latitude = 50;
    fix.longitude = 10;
    return fix;
}

class ExportClipSheetTest : public ShellTest {
protected:
    ScriptedExporter exporter;
    std::unique_ptr<ExportClipSheet> sheet;

    void SetUp() override
    {
        adjust = [this](AppModel::Services &s) { s.exportMovie = exporter.make(); };
        QDir().mkpath(dir.filePath("out"));
        panels.folderAnswer = dir.filePath("out");
    }
    void TearDown() override
    {
        sheet.reset();
        ShellTest::TearDown();
    }

    static DashClip clipWith(const ChannelFiles &files) { return recording("CONT_0001", at(1), files); }
    static DashClip twoCameras()
    {
        return clipWith({{Channel::front, "/card/C_F.mp4"}, {Channel::rear, "/card/C_R.mp4"}});
    }

    // Loads the recording with this duration and playhead, then opens a sheet over nothing.
    ExportClipSheet &open(const DashClip &clip, double duration, double playhead,
                          const Telemetry &telemetry = Telemetry())
    {
        services->telemetry[clip.files.begin()->second] = telemetry;
        if (!model)
            make({clip});
        model->player().load(clip, false);
        EXPECT_TRUE(waitFor([&] { return front().hasFile() || model->player().loadError(); }));
        front().fireReady(facts(duration));
        if (model->player().hasRear())
            rear().fireReady(facts(duration));
        EXPECT_TRUE(
            waitFor([&] { return model->player().hasMedia() && !model->player().isLoadingTelemetry(); }));
        model->player().setCurrentTime(playhead);
        sheet = std::make_unique<ExportClipSheet>(*model);
        sheet->show();
        QCoreApplication::processEvents();
        return *sheet;
    }
    // A toggle takes clicks on its box and title.
    static void click(QCheckBox *toggle)
    {
        QTest::mouseClick(toggle, Qt::LeftButton, {}, QPoint(8, toggle->height() / 2));
    }
    QString shown(const ExportClipSheet &s) const
    {
        return s.startLabel()->text() + " " + s.endLabel()->text() + " " + s.lengthLabel()->text();
    }
};

TEST_F(ExportClipSheetTest, OpensAroundThePlayheadOrWithTheWholeRecording)
{
    struct Case {
        double duration, playhead;
        const char *expected;
    };
    const Case cases[] = {
        {45, 20, "0:00.0 0:45.0 0:45.0"},   {120, 10, "0:00.0 0:30.0 0:30.0"},
        {120, 100, "1:25.0 1:55.0 0:30.0"}, {120, 110, "1:35.0 2:00.0 0:25.0"},
        {60, 30, "0:00.0 1:00.0 1:00.0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.expected);
        ExportClipSheet &s = open(twoCameras(), c.duration, c.playhead);
        EXPECT_EQ(shown(s), c.expected);
        EXPECT_EQ(s.startSlider()->maximum(), int(c.duration * 1000));
        EXPECT_EQ(s.startSlider()->value(), int(std::lround(s.start() * 1000)));
        EXPECT_EQ(s.width(), ExportClipSheet::sheetWidth);
        EXPECT_EQ(s.height(), s.sizeHint().height()); // no gap under the content
        EXPECT_TRUE(s.exportButton()->isDefault());
        EXPECT_EQ(s.exportButton()->text(), "Export\u2026");
    }
}

TEST_F(ExportClipSheetTest, StartAndEndPushEachOtherAndThePlayheadButtonsStopAtTheOther)
{
    ExportClipSheet &s = open(twoCameras(), 120, 100); // 85-115
    s.startSlider()->setValue(118000);
    EXPECT_EQ(shown(s), "1:58.0 1:58.0 0:00.0");
    s.endSlider()->setValue(20000);
    EXPECT_EQ(shown(s), "0:20.0 0:20.0 0:00.0");

    s.setStart(10);
    s.setEnd(30);
    model->player().setCurrentTime(50);
    QTest::mouseClick(s.startPlayheadButton(), Qt::LeftButton);
    EXPECT_EQ(shown(s), "0:30.0 0:30.0 0:00.0");
    EXPECT_FALSE(s.exportButton()->isEnabled());
    model->player().setCurrentTime(12);
    QTest::mouseClick(s.endPlayheadButton(), Qt::LeftButton);
    EXPECT_EQ(shown(s), "0:30.0 0:30.0 0:00.0");
    model->player().setCurrentTime(44.5);
    QTest::mouseClick(s.endPlayheadButton(), Qt::LeftButton);
    EXPECT_EQ(shown(s), "0:30.0 0:44.5 0:14.5");
    model->player().setCurrentTime(40);
    QTest::mouseClick(s.startPlayheadButton(), Qt::LeftButton);
    EXPECT_EQ(shown(s), "0:40.0 0:44.5 0:04.5");
}

TEST_F(ExportClipSheetTest, ExportNeedsHalfASecondAndACamera)
{
    ExportClipSheet &s = open(twoCameras(), 60, 0);
    struct Case {
        int startMs, endMs;
        bool enabled;
    };
    // 0.6 - 0.1 is a hair under 0.5 in binary; it still counts as half a second.
    for (const Case c :
         {Case{10000, 10400, false}, Case{10000, 10500, true}, Case{100, 600, true}, Case{100, 599, false}}) {
        s.startSlider()->setValue(0);
        s.endSlider()->setValue(c.endMs);
        s.startSlider()->setValue(c.startMs);
        EXPECT_EQ(s.exportButton()->isEnabled(), c.enabled) << c.startMs << "-" << c.endMs;
    }
    s.setEnd(20);
    click(s.cameraToggle(Channel::front));
    EXPECT_TRUE(s.exportButton()->isEnabled());
    click(s.cameraToggle(Channel::rear));
    EXPECT_FALSE(s.exportButton()->isEnabled());
}

TEST_F(ExportClipSheetTest, CameraRowsFollowThePlayableFiles)
{
    struct Case {
        const char *name;
        ChannelFiles files;
        QList<Channel> rows;
        QList<Channel> selected;
    };
    const Case cases[] = {
        {"front only", {{Channel::front, "/card/O_F.mp4"}}, {Channel::front}, {Channel::front}},
        {"interior only", {{Channel::interior, "/card/O_I.mp4"}}, {Channel::interior}, {}},
        {"front and rear",
         {{Channel::front, "/card/O_F.mp4"}, {Channel::rear, "/card/O_R.mp4"}},
         {Channel::front, Channel::rear},
         {Channel::front, Channel::rear}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        model.reset();
        ExportClipSheet &s = open(clipWith(c.files), 60, 0);
        for (Channel channel : allChannels)
            EXPECT_EQ(s.cameraToggle(channel)->isVisibleTo(&s), c.rows.contains(channel))
                << rawValue(channel).toStdString();
        QList<Channel> selected;
        for (const auto &[channel, url] : s.selectedSources())
            selected.append(channel);
        EXPECT_EQ(selected, c.selected);
        EXPECT_EQ(s.exportButton()->isEnabled(), !c.selected.isEmpty());
        if (c.selected.isEmpty()) {
            click(s.cameraToggle(Channel::interior));
            EXPECT_TRUE(s.exportButton()->isEnabled());
        }
        sheet.reset();
    }
}

TEST_F(ExportClipSheetTest, PeakAndTrackFollowTheTelemetry)
{
    ExportClipSheet &none = open(twoCameras(), 60, 0);
    EXPECT_FALSE(none.peakButton()->isEnabled());
    EXPECT_FALSE(none.gpxToggle()->isEnabled());
    EXPECT_TRUE(none.gpxToggle()->isChecked()); // disabled, not cleared
    EXPECT_EQ(none.peakButton()->text(), "Around peak impact (\u00B110 s)");

    struct Case {
        double peak;
        const char *expected;
    };
    for (const Case c : {Case{5, "0:00.0 0:15.0 0:15.0"}, Case{57, "0:47.0 1:00.0 0:13.0"}}) {
        SCOPED_TRACE(c.peak);
        model.reset();
        ExportClipSheet &s = open(twoCameras(), 60, 30,
                                  Telemetry({jolt(1, 0.5), jolt(c.peak, 3), jolt(59, 1)}, {fixAt(1)}, "t"));
        EXPECT_TRUE(s.gpxToggle()->isEnabled());
        ASSERT_TRUE(s.peakButton()->isEnabled());
        QTest::mouseClick(s.peakButton(), Qt::LeftButton);
        EXPECT_EQ(shown(s), c.expected);
        sheet.reset();
    }
}

TEST_F(ExportClipSheetTest, SlidersWaitForTheDuration)
{
    make({twoCameras()});
    sheet = std::make_unique<ExportClipSheet>(*model);
    sheet->show();
    EXPECT_EQ(sheet->startSlider()->maximum(), 100);
    EXPECT_EQ(sheet->endSlider()->maximum(), 100);
    EXPECT_EQ(shown(*sheet), "0:00.0 0:00.0 0:00.0");
    sheet.reset();
    ExportClipSheet &s = open(twoCameras(), 45, 0);
    EXPECT_EQ(s.endSlider()->maximum(), 45000);
}

TEST_F(ExportClipSheetTest, ARunShowsItsProgressThenItsFailureAndTheNextChoiceClearsIt)
{
    ExportClipSheet &s = open(twoCameras(), 60, 0);
    exporter.gated = true;
    exporter.failing = {"/card/C_R.mp4"};
    QTest::mouseClick(s.exportButton(), Qt::LeftButton);
    ASSERT_TRUE(s.progress());
    EXPECT_TRUE(s.progressBar()->isVisibleTo(&s));
    EXPECT_FALSE(s.startSlider()->isEnabled());
    EXPECT_FALSE(s.exportButton()->isEnabled());
    EXPECT_TRUE(s.cancelButton()->isEnabled());
    ASSERT_TRUE(waitFor([&] { return s.progressBar()->value() == 250; }));
    exporter.gate.release(2);
    ASSERT_TRUE(waitFor([&] { return !s.progress(); }, 10000));
    const QString message = "\u201CC_R.mp4\u201D couldn\u2019t be exported: boom";
    EXPECT_EQ(s.errorLabel()->text(), message);
    EXPECT_TRUE(s.errorLabel()->isVisibleTo(&s));
    EXPECT_FALSE(s.progressBar()->isVisibleTo(&s));
    EXPECT_TRUE(s.startSlider()->isEnabled());
    EXPECT_FALSE(model->toast()); // the sheet shows it

    panels.folderAnswer.reset();
    QTest::mouseClick(s.exportButton(), Qt::LeftButton);
    EXPECT_FALSE(s.progress());
    EXPECT_EQ(s.error(), message);

    panels.folderAnswer = dir.filePath("out");
    exporter.failing.clear();
    exporter.gated = false;
    // The picker lists every quality under its label; the run gets the one chosen.
    QStringList labels;
    for (int i = 0; i < s.qualityPicker()->count(); ++i)
        labels.append(s.qualityPicker()->itemText(i));
    EXPECT_EQ(labels,
              (QStringList{"Original (no re-encode)", "HEVC \u00B7 Highest quality", "HEVC \u00B7 1080p",
                           "H.264 \u00B7 1080p (most compatible)", "H.264 \u00B7 720p (small)"}));
    s.qualityPicker()->setFocus();
    QTest::keyClick(s.qualityPicker(), Qt::Key_End);
    exporter.presets.clear();
    QTest::keyClick(&s, Qt::Key_Return);
    EXPECT_FALSE(s.error());
    EXPECT_FALSE(s.errorLabel()->isVisibleTo(&s));
    ASSERT_TRUE(waitFor([&] { return !s.isVisible(); }, 10000));
    EXPECT_EQ(model->toast()->message, "Exported 2 video(s)");
    EXPECT_EQ(exporter.presets.value(0), preset(ExportQuality::h264720));
}

TEST_F(ExportClipSheetTest, EscapeLeavesTheRunGoingAndALaterFailureBecomesAToast)
{
    struct Case {
        const char *name;
        QSet<QString> failing;
        const char *toast;
        const char *symbol;
    };
    const Case cases[] = {
        {"success", {}, "Exported 2 video(s)", "film.stack.fill"},
        {"failure",
         {"/card/C_R.mp4"},
         "\u201CC_R.mp4\u201D couldn\u2019t be exported: boom",
         AppModel::errorSymbol},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        model.reset();
        open(twoCameras(), 60, 0);
        exporter.gated = true;
        exporter.failing = c.failing;
        QTest::mouseClick(sheet->exportButton(), Qt::LeftButton);
        ASSERT_TRUE(sheet->progress());
        QTest::keyClick(sheet.get(), Qt::Key_Escape);
        EXPECT_FALSE(sheet->isVisible());
        sheet.reset(); // closed sheets are deleted
        // A newer sheet is fresh, and the older run never reaches it.
        sheet = std::make_unique<ExportClipSheet>(*model);
        sheet->show();
        EXPECT_FALSE(sheet->progress());
        exporter.gate.release(2);
        ASSERT_TRUE(waitFor([&] { return model->toast().has_value(); }, 10000));
        EXPECT_EQ(model->toast()->message, c.toast);
        EXPECT_EQ(model->toast()->systemImage, c.symbol);
        EXPECT_FALSE(sheet->progress());
        EXPECT_FALSE(sheet->error());
        EXPECT_TRUE(sheet->isVisible());
    }
}

// Playback goes on under the sheet; playing on into the next recording must not swap what is exported.
TEST_F(ExportClipSheetTest, StaysWithTheRecordingItOpenedOnWhenThePlayerMovesOn)
{
    const DashClip first = twoCameras();
    const DashClip next = recording("CONT_0002", at(2), {{Channel::front, "/card/N_F.mp4"}});
    services->telemetry["/card/N_F.mp4"] = Telemetry({jolt(3, 4)}, {fixAt(1)}, "t");
    make({first, next});
    ExportClipSheet &s = open(first, 45, 20);
    s.setStart(10);
    s.setEnd(30);

    model->player().load(next, true);
    ASSERT_TRUE(waitFor([&] { return front().hasFile(); }));
    front().fireReady(facts(120));
    ASSERT_TRUE(waitFor([&] { return model->player().hasMedia() && model->player().isTelemetryRead(); }));
    model->player().setCurrentTime(90);

    EXPECT_EQ(s.clip()->id, first.id);
    EXPECT_EQ(shown(s), "0:10.0 0:30.0 0:20.0");
    EXPECT_EQ(s.endSlider()->maximum(), 45000);
    EXPECT_TRUE(s.cameraToggle(Channel::rear)->isVisibleTo(&s));
    EXPECT_FALSE(s.peakButton()->isEnabled()); // the next recording's jolt is not this one's
    EXPECT_FALSE(s.startPlayheadButton()->isEnabled());
    EXPECT_FALSE(s.endPlayheadButton()->isEnabled());

    QTest::mouseClick(s.exportButton(), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !s.isVisible(); }, 10000));
    QStringList sources;
    for (const QString &call : exporter.callLog())
        sources.append(call.section(" -> ", 0, 0));
    EXPECT_EQ(sources, (QStringList{"/card/C_F.mp4", "/card/C_R.mp4"}));
    const QDir out(dir.filePath("out"));
    EXPECT_EQ(out.entryList(QDir::Files, QDir::Name),
              (QStringList{"CONT_0001_0m10.0-0m30.0_F.mov", "CONT_0001_0m10.0-0m30.0_R.mov"}));
    EXPECT_EQ(model->toast()->message, "Exported 2 video(s)");
}

// Export pressed before the telemetry is read: the ticked box still gives the track.
TEST_F(ExportClipSheetTest, ATickedTrackIsWrittenWhenTheTelemetryIsStillLoading)
{
    const DashClip clip = twoCameras();
    services->telemetry["/card/C_F.mp4"] = Telemetry({}, {fixAt(1), fixAt(5), fixAt(50)}, "t");
    make({clip});
    services->holdTelemetry();
    model->player().load(clip, false);
    ASSERT_TRUE(waitFor([&] { return front().hasFile(); }));
    front().fireReady(facts(60));
    rear().fireReady(facts(60));
    ASSERT_TRUE(waitFor([&] { return model->player().isLoadingTelemetry(); }));
    sheet = std::make_unique<ExportClipSheet>(*model);
    sheet->show();
    QCoreApplication::processEvents();
    EXPECT_TRUE(sheet->gpxToggle()->isEnabled());
    EXPECT_TRUE(sheet->gpxToggle()->isChecked());
    sheet->setStart(0);
    sheet->setEnd(10);

    QTest::mouseClick(sheet->exportButton(), Qt::LeftButton);
    ASSERT_TRUE(sheet->progress());
    services->releaseTelemetry();
    ASSERT_TRUE(waitFor([&] { return !sheet->isVisible(); }, 10000));
    const QDir out(dir.filePath("out"));
    EXPECT_EQ(out.entryList(QDir::Files, QDir::Name),
              (QStringList{"CONT_0001_0m00.0-0m10.0.gpx", "CONT_0001_0m00.0-0m10.0_F.mov",
                           "CONT_0001_0m00.0-0m10.0_R.mov"}));
    const QByteArray track = TestSupport::readFile(out.filePath("CONT_0001_0m00.0-0m10.0.gpx"));
    EXPECT_EQ(track.count("<trkpt"), 2) << track.constData();

    // Once read and without GPS, the box is disabled and nothing is written.
    sheet.reset();
    services->telemetry["/card/C_F.mp4"] = Telemetry();
    QDir(dir.filePath("out")).removeRecursively();
    QDir().mkpath(dir.filePath("out"));
    ExportClipSheet &s = open(clip, 60, 0);
    EXPECT_FALSE(s.gpxToggle()->isEnabled());
    QTest::mouseClick(s.exportButton(), Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !s.isVisible(); }, 10000));
    EXPECT_EQ(out.entryList(QDir::Files, QDir::Name).filter(".gpx"), QStringList{});
}

TEST_F(ExportClipSheetTest, TheMainWindowPresentsASheetPerRequestAndClosingClearsIt)
{
    makeApp({twoCameras()});
    MainWindow &window = openMain();
    model->setShowExportSheet(true);
    QPointer<ExportClipSheet> first = window.findChild<ExportClipSheet *>();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->windowModality(), Qt::WindowModal);
    first->setStart(5);
    QTest::mouseClick(first->cancelButton(), Qt::LeftButton);
    EXPECT_FALSE(model->showExportSheet());
    ASSERT_TRUE(waitFor([&] { return !first; }));

    model->setShowExportSheet(true);
    ExportClipSheet *second = window.findChild<ExportClipSheet *>();
    ASSERT_TRUE(second);
    EXPECT_EQ(second->start(), 0); // a fresh sheet
    QTest::keyClick(second, Qt::Key_Escape);
    EXPECT_FALSE(model->showExportSheet());
}

TEST_F(ExportClipSheetTest, QuittingStopsARunningExportAndLeavesNoIncompleteMovie)
{
    makeApp({twoCameras()});
    open(twoCameras(), 60, 0);
    exporter.gated = true;
    QTest::mouseClick(sheet->exportButton(), Qt::LeftButton);
    const QDir out(dir.filePath("out"));
    const auto files = [&] { return out.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot); };
    ASSERT_TRUE(waitFor([&] { return files().size() == 1; })); // the hidden partial movie, holding its name
    EXPECT_TRUE(app->requestQuit());
    EXPECT_EQ(files(), QStringList());
    EXPECT_TRUE(alerts.shown.isEmpty()); // nothing asked
}

} // namespace
