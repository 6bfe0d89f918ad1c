#include "roadloom/model/RecordingActions.h"
#include "AppModelHarness.h"

#include "roadcore/TelemetryExporter.h"

#include <QFile>
#include <QTemporaryDir>

using namespace AppHarness;
using TestSupport::waitFor;

namespace {

class RecordingActions : public ModelTest {
protected:
    QString toastText() const { return model->toast() ? model->toast()->message : QString(); }
    static void finish(QFuture<void> future)
    {
        ASSERT_TRUE(waitFor([&] { return future.isFinished(); }));
        QCoreApplication::processEvents();
    }
};

TEST_F(RecordingActions, UniqueURLCountsUpBeforeTheExtension)
{
    struct Case {
        QStringList taken;
        const char *asked;
        const char *expected;
    };
    const Case cases[] = {
        {{}, "clip.mp4", "clip.mp4"},
        {{"clip.mp4"}, "clip.mp4", "clip 2.mp4"},
        {{"clip.mp4", "clip 2.mp4"}, "clip.mp4", "clip 3.mp4"},
        {{"clip 2.mp4"}, "clip 2.mp4", "clip 2 2.mp4"},
        {{"a.b.mp4"}, "a.b.mp4", "a.b 2.mp4"},
        {{"folder/"}, "folder", "folder 2"},
        {{"noext"}, "noext", "noext 2"},
    };
    for (const auto &c : cases) {
        QTemporaryDir where;
        for (const QString &name : c.taken) {
            if (name.endsWith('/'))
                QDir(where.path()).mkpath(name);
            else
                TestSupport::writeFile(where.filePath(name), "x");
        }
        EXPECT_EQ(AppModel::uniqueURL(where.filePath(c.asked)), where.filePath(c.expected)) << c.asked;
    }
}

TEST_F(RecordingActions, SaveOriginalsNeverOverwritesAndRevealsTheLastCopy)
{
    const QString source = dir.filePath("source");
    TestSupport::writeFile(source + "/A_F.mp4", "front");
    TestSupport::writeFile(source + "/A_R.mp4", "rear");
    const DashClip clip =
        recording("A", at(1), {{Channel::front, source + "/A_F.mp4"}, {Channel::rear, source + "/A_R.mp4"}});
    make({clip});
    const QString target = dir.filePath("target");
    TestSupport::writeFile(target + "/A_F.mp4", "already here");
    panels.folderAnswer = target;

    finish(model->saveOriginals(clip));
    EXPECT_EQ(panels.calls, QStringList{"chooseFolder Save A | Save Here"});
    EXPECT_EQ(TestSupport::readFile(target + "/A_F.mp4"), "already here");
    EXPECT_EQ(TestSupport::readFile(target + "/A_F 2.mp4"), "front");
    EXPECT_EQ(TestSupport::readFile(target + "/A_R.mp4"), "rear");
    EXPECT_EQ(toastText(), "Saved 2 file(s)");
    EXPECT_EQ(model->toast()->systemImage, "square.and.arrow.down.fill");
    EXPECT_EQ(model->toast()->revealURL, target + "/A_R.mp4");

    finish(model->saveOriginals(clip));
    EXPECT_EQ(TestSupport::readFile(target + "/A_F 3.mp4"), "front");
    EXPECT_EQ(model->toast()->revealURL, target + "/A_R 2.mp4");

    DashClip empty = clip;
    empty.files.clear();
    finish(model->saveOriginals(empty));
    EXPECT_EQ(toastText(), "Saved 0 file(s)");
    EXPECT_FALSE(model->toast()->revealURL);
}

TEST_F(RecordingActions, SaveOriginalsStopsAtTheFirstFailureAndDoesNothingWhenCancelled)
{
    const QString source = dir.filePath("source");
    TestSupport::writeFile(source + "/B_R.mp4", "rear");
    const DashClip clip = recording("B", at(1),
                                    {{Channel::front, source + "/B_F.mp4"}, // unreadable
                                     {Channel::rear, source + "/B_R.mp4"}});
    make({clip});
    const QString target = dir.filePath("target");
    QDir().mkpath(target);

    finish(model->saveOriginals(clip));
    EXPECT_FALSE(model->toast()) << "cancelled";

    panels.folderAnswer = target;
    finish(model->saveOriginals(clip));
    EXPECT_EQ(model->toast()->systemImage, AppModel::errorSymbol);
    EXPECT_TRUE(toastText().contains("B_F.mp4")) << toastText().toStdString();
    EXPECT_TRUE(QDir(target).isEmpty()) << "the rest is not copied";

    // Nothing given and nothing loaded: no panel.
    panels.calls.clear();
    finish(model->saveOriginals());
    EXPECT_TRUE(panels.calls.isEmpty());
}

Telemetry someTelemetry()
{
    GPSFix fix;
    fix.time = 1;
    fix.latitude = 37.5;
    fix.longitude = 127.25;
    fix.speedKnots = 10;
    fix.course = 90;
    return Telemetry({SensorSample{1, 0.1, -0.9, 0.2}}, {fix}, "test");
}

TEST_F(RecordingActions, ExportTelemetryWritesEachFormatWhereThePanelSays)
{
    const DashClip clip = recording("E", at(1));
    services->telemetry["/card/E_F.mp4"] = someTelemetry();
    make({clip});
    defaults.setValue("speedUnit", "mph");
    load(clip);
    const QString out = dir.filePath("out");
    QDir().mkpath(out);
    const char *titles[] = {"GPX Track", "Google Earth KML", "CSV Spreadsheet", "SRT Subtitles",
                            "Raw Data Log"};
    for (TelemetryFormat format : allTelemetryFormats) {
        SCOPED_TRACE(rawValue(format).toStdString());
        const QString path = out + "/route." + rawValue(format);
        TestSupport::writeFile(path, "an older export"); // replaced
        panels.saveAnswer = path;
        panels.calls.clear();
        finish(model->exportTelemetry(format));
        EXPECT_EQ(panels.calls,
                  QStringList{"save E." + rawValue(format) + " | " + ::RecordingActions::mimeType(format)});
        EXPECT_EQ(
            TestSupport::readFile(path),
            TelemetryExporter::exportText(someTelemetry(), format, "E", clip.date, SpeedUnit::mph).toUtf8());
        EXPECT_EQ(toastText(), QString("Exported ") + titles[int(format)]);
        EXPECT_EQ(model->toast()->systemImage, "map.fill");
        EXPECT_EQ(model->toast()->revealURL, path);
    }
    // Types the system does not know are offered as plain text.
    EXPECT_EQ(::RecordingActions::mimeType(TelemetryFormat::txt), "text/plain");
    for (TelemetryFormat format : allTelemetryFormats)
        EXPECT_FALSE(::RecordingActions::mimeType(format).isEmpty());
    EXPECT_EQ(services->calls().filter("telemetry").size(), 1) << "the loaded recording's telemetry is used";
}

TEST_F(RecordingActions, ExportTelemetryReadsOtherRecordingsThroughTheCache)
{
    const DashClip loaded = recording("L", at(1));
    const DashClip other = recording("O", at(2));
    DashClip cachedOther = other;
    cachedOther.files = {{Channel::front, "/cache/Files/O_F.mp4"}};
    services->resolved["O"] = cachedOther;
    services->telemetry["/cache/Files/O_F.mp4"] = someTelemetry();
    make({loaded, other});
    load(loaded);
    panels.saveAnswer = dir.filePath("o.gpx");

    finish(model->exportTelemetry(TelemetryFormat::gpx, other));
    EXPECT_EQ(services->calls().mid(services->calls().size() - 2),
              (QStringList{"resolve O", "telemetry /cache/Files/O_F.mp4"}));
    EXPECT_EQ(toastText(), "Exported GPX Track");
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("o.gpx")));

    // The loaded recording has no data: the toast says so and no panel opens.
    panels.calls.clear();
    finish(model->exportTelemetry(TelemetryFormat::csv));
    EXPECT_EQ(toastText(), "No GPS or G-sensor data in this clip");
    EXPECT_EQ(model->toast()->systemImage, "location.slash");
    EXPECT_FALSE(model->toast()->revealURL);
    EXPECT_TRUE(panels.calls.isEmpty());

    // A cancelled panel says nothing; a destination that cannot be written says why.
    model->show("before", "x");
    panels.saveAnswer.reset();
    finish(model->exportTelemetry(TelemetryFormat::gpx, other));
    EXPECT_EQ(toastText(), "before");
    panels.saveAnswer = dir.filePath("missing/folder/o.gpx");
    finish(model->exportTelemetry(TelemetryFormat::gpx, other));
    EXPECT_EQ(model->toast()->systemImage, AppModel::errorSymbol);
}

// A destination on a share that stopped answering holds only the export; the toast comes with the file.
TEST_F(RecordingActions, AnExportDestinationThatDoesNotAnswerHoldsOnlyTheExport)
{
    const DashClip clip = recording("E", at(1));
    services->telemetry["/card/E_F.mp4"] = someTelemetry();
    make({clip});
    load(clip);
    const QString path = dir.filePath("share/e.gpx");
    QDir().mkpath(dir.filePath("share"));
    panels.saveAnswer = path;
    files.close(path);
    const QFuture<void> exported = TestSupport::atOnce("an export whose destination does not answer", [&] {
        return model->exportTelemetry(TelemetryFormat::gpx);
    });
    EXPECT_FALSE(QFileInfo::exists(path));
    files.open();
    finish(exported);
    EXPECT_EQ(toastText(), "Exported GPX Track");
    EXPECT_TRUE(QFileInfo::exists(path));
}

TEST_F(RecordingActions, ExportWhileTheLoadedTelemetryIsStillReadReadsTheFilesAgain)
{
    const DashClip clip = recording("W", at(1));
    services->telemetry["/card/W_F.mp4"] = someTelemetry();
    make({clip});
    model->player().load(clip, false);
    ASSERT_TRUE(waitFor([&] { return front().hasFile(); }));
    ASSERT_TRUE(model->player().isLoadingTelemetry()) << "the video is not ready yet";
    panels.saveAnswer = dir.filePath("w.srt");
    finish(model->exportTelemetry(TelemetryFormat::srt));
    EXPECT_TRUE(waitFor([&] { return services->calls().filter("telemetry /card/W_F.mp4").size() == 2; }))
        << "once for the player, once for the export";
    EXPECT_EQ(toastText(), "Exported SRT Subtitles");
}

TEST_F(RecordingActions, TrashAsksWithWordsForTheStorageThenUnloadsBeforeTrashing)
{
    const QString moveTitle = "Move \u201CT\u201D to the Trash?";
    const QString moveText =
        "The recording's camera files will be moved to the Trash and its cached copy deleted.";
    const QString removeTitle = "Remove \u201CT\u201D from the library?";
    const QString removeText = "The original files are no longer available. Its cached copy will be deleted "
                               "and it can't be played again.";
    struct Case {
        std::map<Channel, StorageState> states;
        bool remove;
    };
    using S = StorageState;
    const Case cases[] = {
        {{}, false},
        {{{Channel::front, S::original}}, false},
        {{{Channel::front, S::moved}, {Channel::rear, S::original}}, false},
        {{{Channel::front, S::cached}}, true},
        {{{Channel::front, S::missing}}, true},
        {{{Channel::front, S::original}, {Channel::rear, S::cached}}, true},
        {{{Channel::front, S::original}, {Channel::rear, S::missing}}, true},
    };
    for (const auto &c : cases) {
        DashClip clip = recording("T", at(1));
        clip.channelStates = c.states;
        const Alert alert = ::RecordingActions::trashAlert(clip);
        EXPECT_EQ(alert.style, Alert::Style::warning);
        EXPECT_EQ(alert.messageText, c.remove ? removeTitle : moveTitle);
        EXPECT_EQ(alert.informativeText, c.remove ? removeText : moveText);
        EXPECT_EQ(alert.buttons, (QStringList{c.remove ? "Remove" : "Move to Trash", "Cancel"}));
        EXPECT_EQ(alert.buttons.value(alert.defaultButton), "Cancel") << "Return keeps the recording";
    }

    const DashClip playing = recording("P", at(1));
    const DashClip other = recording("Q", at(2));
    make({playing, other});
    load(playing);

    for (int answer : {1, -1}) {
        alerts.answer = answer;
        model->trash(playing);
        EXPECT_TRUE(trashed.isEmpty());
        EXPECT_TRUE(model->player().clip());
    }
    alerts.answer = 0;
    model->trash(other);
    ASSERT_EQ(trashed.size(), 1);
    EXPECT_EQ(trashed[0].id, other.id);
    EXPECT_EQ(clipAtTrash->id, playing.id) << "another recording leaves the player alone";

    model->trash(playing);
    ASSERT_EQ(trashed.size(), 2);
    EXPECT_FALSE(clipAtTrash) << "the player let go before the trash";
    EXPECT_EQ(alerts.shown.size(), 4);
    EXPECT_EQ(alerts.shown.last().messageText, "Move \u201CP\u201D to the Trash?");
}

TEST_F(RecordingActions, TrashTakesTheRecordingAsListedNowNotAsThePlayerLoadedIt)
{
    QTemporaryDir card;
    const QString front = card.filePath(QStringLiteral("P_F.mp4"));
    ASSERT_TRUE(QFile(front).open(QIODevice::WriteOnly));
    make({recording("P", at(1), {{Channel::front, front}})});
    ASSERT_EQ(model->library().clips().size(), 1);
    const DashClip listed = model->library().clips().first();
    ASSERT_NE(listed.storage(), StorageState::cached);
    // As the player loaded it while the card was out.
    DashClip loaded = listed;
    for (const auto &[channel, path] : loaded.files)
        loaded.channelStates[channel] = StorageState::cached;
    loaded.channelStates[Channel::front] = StorageState::cached;
    ASSERT_EQ(loaded.storage(), StorageState::cached);

    // Whether the card is back is asked of the disk: a card that does not answer holds only the question.
    alerts.answer = 0;
    files.close(card.path());
    const QFuture<void> asked =
        TestSupport::atOnce("a trash whose card does not answer", [&] { return model->trash(loaded); });
    EXPECT_TRUE(alerts.shown.isEmpty());
    files.open();
    finish(asked);
    ASSERT_EQ(alerts.shown.size(), 1);
    EXPECT_EQ(alerts.shown[0].messageText, "Move \u201CP\u201D to the Trash?");
    ASSERT_EQ(trashed.size(), 1);
    EXPECT_EQ(trashed[0], listed);

    // A listing that still promises card files that are gone does not hide that the last copy goes.
    ASSERT_TRUE(QFile::remove(front));
    finish(model->trash(loaded));
    ASSERT_EQ(alerts.shown.size(), 2);
    EXPECT_EQ(alerts.shown[1].messageText, "Remove \u201CP\u201D from the library?");
    alerts.shown.removeLast();

    // A recording the library no longer lists is asked about as given.
    DashClip gone = recording("G", at(2));
    gone.channelStates[Channel::front] = StorageState::missing;
    finish(model->trash(gone));
    ASSERT_EQ(alerts.shown.size(), 2);
    EXPECT_EQ(alerts.shown[1].messageText, "Remove \u201CG\u201D from the library?");
    EXPECT_EQ(trashed.last(), gone);
}

} // namespace
