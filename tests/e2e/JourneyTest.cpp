// The whole program as a driver uses it, step by step on one running instance: the real players, media
// cache, defaults, Trash and file dialogs on a virtual display, with a generated camera card in a private
// home. Each step builds on the ones before it; the steps run in this order in one process (ctest
// roadloom_e2e_xvfb). Screenshots of the steps a person may want to see land in build/PRESET/screenshots.
#include "Journey.h"

#include "fixtures/Screenshot.h"
#include "fixtures/StagePixels.h"
#include "fixtures/TestSupport.h"
#include "platform/StandardFolders.h"
#include "platform/gui/StageGeometry.h"
#include "roadcore/MediaCache.h"
#include "roadcore/StorageState.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/model/CacheCoordinator.h"
#include "roadloom/ui/library/ClipListView.h"
#include "roadloom/ui/device/ConfigRow.h"
#include "roadloom/ui/detail/DetailView.h"
#include "roadloom/ui/device/DeviceSettingsWindow.h"
#include "roadloom/ui/export/ExportClipSheet.h"
#include "roadloom/ui/shell/MainWindow.h"
#include "roadloom/ui/deck/MapPanel.h"
#include "roadloom/ui/shell/RoadloomApp.h"
#include "roadloom/ui/detail/Scrubber.h"
#include "roadloom/ui/deck/SensorChart.h"
#include "roadloom/ui/deck/SensorPanel.h"
#include "roadloom/ui/library/SidebarView.h"
#include "roadloom/ui/library/SourceListModel.h"
#include "roadloom/ui/deck/SpeedDial.h"
#include "roadloom/ui/deck/SpeedPanel.h"
#include "roadloom/ui/deck/TelemetryDeck.h"
#include "roadloom/ui/detail/TransportBar.h"
#include "roadloom/ui/detail/VideoHUD.h"
#include "roadloom/ui/detail/VideoStage.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QLabel>
#include <QListView>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <QUrl>

#include <gtest/gtest.h>

#include <cmath>

using namespace Journey;

namespace {

constexpr double fps = 15;
const QString route = QStringLiteral("20250103_101500");  // front and rear, 8 s, with the route
const QString second = QStringLiteral("20250103_102000"); // front and rear, 3 s
const QString avi = QStringLiteral("20250103_102500");    // an AVI incident, 3 s
const QString older = QStringLiteral("20250102_180000");  // the day before

PlayerController &player()
{
    return program()->model->player();
}

bool playing(const QString &name)
{
    const auto &clip = player().clip();
    return clip && clip->name.contains(name) && player().hasMedia() && player().duration() > 0;
}

QString selectedName()
{
    const auto id = program()->model->library().selectedClipID();
    for (const DashClip &clip : program()->model->library().clips())
        if (id && clip.id == *id)
            return clip.name;
    return {};
}

// Where the main picture and the inset lie on a grab of the stage.
QRectF mainPicture(VideoStage *stage)
{
    return StageGeometry::fitted(QSizeF(stage->size()), 16.0 / 9.0);
}

// The frames the two pictures show now, read from the screen until both are readable.
std::pair<std::optional<int>, std::optional<int>> shownFrames(VideoStage *stage)
{
    std::pair<std::optional<int>, std::optional<int>> frames;
    until(
        [&] {
            const QImage image = grab(stage);
            frames = {frameNumber(image, mainPicture(stage)),
                      stage->insetRect() ? frameNumber(image, *stage->insetRect()) : std::optional<int>()};
            return frames.first && frames.second && *frames.first == *frames.second;
        },
        5000);
    return frames;
}

class Step : public testing::Test {
protected:
    void SetUp() override
    {
        if (!Screenshot::available())
            GTEST_SKIP() << "the journey runs under xvfb-run (ctest roadloom_e2e_xvfb)";
        if (!program() && !isFirst())
            GTEST_SKIP() << "the program did not start";
    }
    virtual bool isFirst() const { return false; }
};

class Start : public Step {
    bool isFirst() const override { return true; }
};

} // namespace

// 1. The card's folder as the command-line argument: the window opens, the folder is in the sidebar and its
// recordings are listed by day, newest first.
TEST_F(Start, opensTheCardGivenOnTheCommandLine)
{
    Screenshot::prepare();
    const QString card = QDir::homePath() + QStringLiteral("/DASHCAM");
    ASSERT_TRUE(copyTree(TestSupport::media(QStringLiteral("e2e_card")), card));
    Program &p = start({card});
    ASSERT_NE(p.window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(p.window));
    EXPECT_EQ(p.window->windowTitle(), QStringLiteral("Roadloom"));

    SourceListModel *sources = sidebar()->sourceModel();
    int cardRow = -1;
    ASSERT_TRUE(until([&] {
        cardRow = -1;
        for (int row = 0; row < sources->rowCount(); ++row)
            if (sources->data(sources->index(row), Qt::DisplayRole).toString() == QStringLiteral("DASHCAM"))
                cardRow = row;
        return cardRow >= 0 && listedRows().size() == 6;
    })) << listedRows().join(QStringLiteral(", ")).toStdString();
    EXPECT_EQ(sidebar()->list()->currentIndex().row(), cardRow);
    EXPECT_TRUE(clipList()->titleLabel()->text().contains(QStringLiteral("DASHCAM")))
        << clipList()->titleLabel()->text().toStdString();

    // Two days, the newer first, and in each the later recording above.
    const QStringList rows = listedRows();
    ASSERT_EQ(rows.size(), 6);
    EXPECT_TRUE(rows[0].startsWith(QStringLiteral("# "))) << rows[0].toStdString();
    EXPECT_TRUE(rows[1].contains(avi));
    EXPECT_TRUE(rows[2].contains(second));
    EXPECT_TRUE(rows[3].contains(route));
    EXPECT_TRUE(rows[4].startsWith(QStringLiteral("# ")));
    EXPECT_TRUE(rows[5].contains(older));
    EXPECT_NE(rows[0], rows[4]);

    const QImage shot = screenshot(QStringLiteral("e2e-1-library"));
    // The card's row is drawn selected.
    const QRect row = sidebar()->list()->visualRect(sources->index(cardRow));
    const QPoint at =
        sidebar()->list()->viewport()->mapTo(p.window, row.center() - QPoint(row.width() / 3, 0));
    const QColor highlight = Screenshot::palette(Screenshot::Appearance::light).color(QPalette::Highlight);
    EXPECT_TRUE(Screenshot::near(Screenshot::sample(shot, at), highlight, 40))
        << Screenshot::sample(shot, at).name().toStdString();
}

// 2. A two-channel recording: the front picture with the rear inset; two seconds of play move the time, keep
// the follower close, show the speed of the fix at the playhead, draw the route and move the chart's
// playhead.
TEST_F(Step, playsTwoCamerasWithTheirData)
{
    ASSERT_TRUE(clickRecording(route));
    ASSERT_TRUE(until([] { return playing(route) && player().hasRear() && detail(); }))
        << player().loadError().value_or(QStringLiteral("still loading")).toStdString();
    StagePixels::keepGlDriversLoaded();
    VideoStage *stage = detail()->stage();
    ASSERT_TRUE(until([&] { return stage->insetRect().has_value(); }));

    // Front blue fills the stage, the rear's green the inset.
    ASSERT_TRUE(until(
        [&] {
            const QImage image = grab(stage);
            const QRectF main = mainPicture(stage);
            const QPointF below(main.center().x(), main.top() + main.height() * 0.9);
            const QRectF inset = *stage->insetRect();
            const QPointF insetBelow(inset.center().x(), inset.top() + inset.height() * 0.9);
            const QColor front = image.pixelColor(below.toPoint());
            const QColor rear = image.pixelColor(insetBelow.toPoint());
            return front.blue() > 150 && front.green() < 80 && rear.green() > 100 && rear.blue() < 110;
        },
        8000))
        << "the stage does not show the front with the rear inset";

    SensorChart *chart = detail()->findChild<TelemetryDeck *>()->sensorPanel()->chart();
    ASSERT_TRUE(until([] { return player().telemetry().hasGPS(); }));
    const double chartBefore = chart->xOf(player().currentTime());
    const double before = player().currentTime();

    TransportBar *transport = detail()->findChild<TransportBar *>();
    QTest::mouseClick(transport->playButton(), Qt::LeftButton);
    ASSERT_TRUE(until([] { return player().isPlaying(); }, 5000));
    double worstDrift = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 2000) {
        pass(100);
        if (player().isPlaying() && player().currentTime() > 0.3)
            worstDrift = std::max(worstDrift,
                                  std::abs(player().front().currentTime() - player().rear().currentTime()));
    }
    QTest::mouseClick(transport->playButton(), Qt::LeftButton);
    ASSERT_TRUE(until([] { return !player().isPlaying(); }, 5000));
    pass(300);
    const double t = player().currentTime();
    EXPECT_GT(t - before, 1.2) << "played from " << before << " to " << t;
    EXPECT_LE(worstDrift, 0.15);

    // The speeds on the card rise by one knot a second from 20 kn.
    const int kmh = int(std::lround((20 + std::min(t, 7.0)) * 1.852));
    const auto near = [&](const QString &text) {
        bool ok = false;
        const int shown = text.section(QLatin1Char(' '), 0, 0).toInt(&ok);
        return ok && std::abs(shown - kmh) <= 1;
    };
    VideoHUD *hud = stage->hud();
    ASSERT_TRUE(hud->readout().speed);
    EXPECT_TRUE(near(*hud->readout().speed)) << hud->readout().speed->toStdString() << ", want " << kmh;
    SpeedDial *dial = detail()->findChild<TelemetryDeck *>()->speedPanel()->dial();
    EXPECT_TRUE(until([&] { return near(dial->numberText()); }, 3000))
        << dial->numberText().toStdString() << ", want " << kmh;
    EXPECT_GT(chart->xOf(t), chartBefore + 10);

    const QImage shot = screenshot(QStringLiteral("e2e-2-playing"));
    // The map: tiles from the local server and the route's blue on them.
    MapPanel *map = detail()->findChild<TelemetryDeck *>()->mapPanel();
    EXPECT_FALSE(program()->tiles.requests.isEmpty());
    const QRect mapArea(map->mapTo(program()->window, QPoint(0, 0)), map->size());
    EXPECT_GT(Screenshot::count(shot, mapArea, QColor(0x0a, 0x7a, 0xff), 40), 30) << "no route on the map";
    EXPECT_GT(Screenshot::count(shot, mapArea, QColor(0xe8, 0xe4, 0xd8), 8), 1000) << "no tiles on the map";
    // The chart's playhead: a dark line at the playhead's x.
    const QPoint chartOrigin = chart->mapTo(program()->window, QPoint(0, 0));
    const QRect playhead(chartOrigin.x() + int(chart->xOf(t)) - 2,
                         chartOrigin.y() + int(chart->plotRect().top()), 5, int(chart->plotRect().height()));
    const auto line = [](const QColor &c) { return c.lightness() < 170 && c.hslSaturation() < 40; };
    EXPECT_GT(Screenshot::count(shot, playhead, line), playhead.height() / 2);
}

// 3. A click at the scrubber's middle: both pictures show the same frame, the one at that time.
TEST_F(Step, scrubbingShowsTheSameFrameOnBothCameras)
{
    ASSERT_TRUE(playing(route));
    Scrubber *scrubber = detail()->findChild<Scrubber *>();
    const QRectF bar = scrubber->barRect();
    QTest::mouseClick(scrubber, Qt::LeftButton, {},
                      QPoint(int(bar.left() + bar.width() / 2), int(bar.center().y())));
    ASSERT_TRUE(until([] { return std::abs(player().currentTime() - 4.0) < 0.15; }, 5000))
        << player().currentTime();
    pass(300);
    const auto [front, rear] = shownFrames(detail()->stage());
    ASSERT_TRUE(front && rear) << "frame numbers unreadable";
    EXPECT_EQ(*front, *rear);
    EXPECT_NEAR(*front, player().currentTime() * fps, 1.5);
    EXPECT_NEAR(*front, 60, 2);
}

// 4. Next Recording (Ctrl+Down) while playing loads and plays the later neighbour; the AVI recording after
// it is converted first ("Converting AVI…") and then plays.
TEST_F(Step, nextRecordingPlaysTheNeighbourAndConvertsTheAVI)
{
    ASSERT_TRUE(playing(route));
    TransportBar *transport = detail()->findChild<TransportBar *>();
    QTest::mouseClick(transport->playButton(), Qt::LeftButton);
    ASSERT_TRUE(until([] { return player().isPlaying(); }, 5000));

    program()->window->activateWindow();
    QTest::keyClick(program()->window, Qt::Key_Down, Qt::ControlModifier);
    ASSERT_TRUE(until([] { return playing(second) && player().isPlaying() && player().currentTime() > 0.2; }))
        << selectedName().toStdString();
    EXPECT_EQ(selectedName(), listed(second)->name);

    QLabel *converting = detail()->stage()->convertingLabel();
    bool sawConverting = false;
    QString convertingText;
    QTest::keyClick(program()->window, Qt::Key_Down, Qt::ControlModifier);
    until(
        [&] {
            if (converting->isVisibleTo(program()->window)) {
                sawConverting = true;
                convertingText = converting->text();
            }
            return playing(avi);
        },
        60000);
    EXPECT_TRUE(sawConverting);
    EXPECT_TRUE(convertingText.contains(QStringLiteral("Converting AVI"))) << convertingText.toStdString();
    ASSERT_TRUE(until([] { return playing(avi) && player().isPlaying() && player().currentTime() > 0.3; }))
        << player().loadError().value_or(QString()).toStdString();
    QTest::mouseClick(transport->playButton(), Qt::LeftButton);
    until([] { return !player().isPlaying(); }, 3000);
}

// 5. Save Snapshot writes a PNG of the video's own size into the snapshot folder; Export Telemetry ▸ GPX
// writes a track that gpsbabel reads back with every fix.
TEST_F(Step, savesASnapshotAndTheTrack)
{
    ASSERT_TRUE(clickRecording(route));
    ASSERT_TRUE(until([] { return playing(route) && player().telemetry().hasGPS(); }));
    pass(300);

    const QString folder = program()->model->snapshotFolder();
    action(QStringLiteral("saveSnapshot"))->trigger();
    QFileInfoList pictures;
    ASSERT_TRUE(until([&] {
        pictures = QDir(folder).entryInfoList({QStringLiteral("*.png")}, QDir::Files);
        return !pictures.isEmpty() && pictures.first().size() > 0;
    })) << folder.toStdString();
    pass(200);
    const QImage snapshot(pictures.first().absoluteFilePath());
    EXPECT_EQ(snapshot.size(), QSize(320, 180));

    const QString gpx = program()->home + QStringLiteral("/route.gpx");
    answerFileDialog(gpx);
    action(QStringLiteral("exportTelemetry-gpx"))->trigger();
    ASSERT_TRUE(until([&] { return answersTaken() && QFileInfo(gpx).size() > 0; }));
    pass(300);
    const auto read = TestSupport::run(QStringLiteral("gpsbabel"),
                                       {QStringLiteral("-t"), QStringLiteral("-i"), QStringLiteral("gpx"),
                                        QStringLiteral("-f"), gpx, QStringLiteral("-x"),
                                        QStringLiteral("transform,wpt=trk"), QStringLiteral("-o"),
                                        QStringLiteral("unicsv"), QStringLiteral("-F"), QStringLiteral("-")});
    ASSERT_TRUE(read.ok()) << read.err.toStdString();
    const QList<QByteArray> lines = read.out.trimmed().split('\n');
    EXPECT_EQ(lines.size() - 1, 8) << read.out.toStdString(); // a header, then one line a fix
}

// 6. Export Clip from 2 s to 6 s, both cameras, "Original", with GPX: two movies of 4 s starting at 0 and a
// valid track.
TEST_F(Step, exportsAClipOfBothCameras)
{
    ASSERT_TRUE(playing(route));
    action(QStringLiteral("exportClip"))->trigger();
    ExportClipSheet *sheet = nullptr;
    ASSERT_TRUE(until([&] {
        sheet = program()->window->findChild<ExportClipSheet *>();
        return sheet && sheet->isVisible();
    }));
    sheet->endSlider()->setValue(6000);
    sheet->startSlider()->setValue(2000);
    EXPECT_DOUBLE_EQ(sheet->start(), 2.0);
    EXPECT_DOUBLE_EQ(sheet->end(), 6.0);
    EXPECT_TRUE(sheet->cameraToggle(Channel::front)->isChecked());
    EXPECT_TRUE(sheet->cameraToggle(Channel::rear)->isChecked());
    EXPECT_TRUE(sheet->qualityPicker()->currentText().startsWith(QStringLiteral("Original")))
        << sheet->qualityPicker()->currentText().toStdString();
    EXPECT_TRUE(sheet->gpxToggle()->isChecked() && sheet->gpxToggle()->isEnabled());
    ASSERT_TRUE(sheet->exportButton()->isEnabled());

    const QImage shot = screenshot(QStringLiteral("e2e-6-export"));
    const QRect sheetArea(sheet->geometry().topLeft() - program()->window->geometry().topLeft(),
                          sheet->size());
    EXPECT_GT(Screenshot::count(shot, sheetArea, sheet->palette().color(QPalette::Window), 8),
              sheetArea.width() * sheetArea.height() / 4)
        << "the sheet is not on the screenshot";

    const QString folder = program()->home + QStringLiteral("/Exports");
    ASSERT_TRUE(QDir().mkpath(folder));
    answerFileDialog(folder);
    QTest::mouseClick(sheet->exportButton(), Qt::LeftButton);
    QStringList movies;
    ASSERT_TRUE(until(
        [&] {
            movies = QDir(folder).entryList({QStringLiteral("*.mov"), QStringLiteral("*.mp4")}, QDir::Files);
            return answersTaken() && movies.size() == 2 && !program()->window->findChild<ExportClipSheet *>();
        },
        60000))
        << movies.join(QStringLiteral(", ")).toStdString();
    for (const QString &movie : movies) {
        const auto probe = TestSupport::run(
            QStringLiteral("ffprobe"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
             QStringLiteral("v:0"), QStringLiteral("-show_entries"),
             QStringLiteral("stream=start_time,duration"), QStringLiteral("-of"), QStringLiteral("csv=p=0"),
             folder + QLatin1Char('/') + movie});
        ASSERT_TRUE(probe.ok()) << probe.err.toStdString();
        const QList<QByteArray> fields = probe.out.trimmed().split(',');
        ASSERT_EQ(fields.size(), 2) << probe.out.toStdString();
        EXPECT_NEAR(fields[0].toDouble(), 0.0, 0.001) << movie.toStdString();
        EXPECT_NEAR(fields[1].toDouble(), 4.0, 1.0 / fps + 0.001) << movie.toStdString();
    }
    const QStringList tracks = QDir(folder).entryList({QStringLiteral("*.gpx")}, QDir::Files);
    ASSERT_EQ(tracks.size(), 1);
    const auto lint = TestSupport::run(
        QStringLiteral("xmllint"), {QStringLiteral("--noout"), folder + QLatin1Char('/') + tracks.first()});
    EXPECT_TRUE(lint.ok()) << lint.err.toStdString();
}

// 7. Once everything is cached, the card is pulled: the recording still plays, from byte-identical copies.
QString pulledCard()
{
    return QFileInfo(program()->card).path() + QStringLiteral("/.Trash-pulled/DASHCAM");
}

TEST_F(Step, playsFromTheCacheOnceTheCardIsPulled)
{
    CacheCoordinator &cache = program()->model->cache();
    ASSERT_TRUE(until(
        [&] {
            if (cache.isRunning())
                return false;
            for (const DashClip &clip : program()->model->library().clips())
                if (!clip.isFullyCached())
                    return false;
            return !program()->model->library().clips().isEmpty();
        },
        60000))
        << "caching did not finish: " << cache.lastError().value_or(QString()).toStdString();

    // Away from the recording, the card out, then back to it.
    ASSERT_TRUE(clickRecording(second));
    ASSERT_TRUE(until([] { return playing(second); }));
    // Out of reach as on a card that is out: a folder moved on its volume would be followed, one thrown into
    // a Trash never is.
    const QString pulled = pulledCard();
    ASSERT_TRUE(QDir().mkpath(QFileInfo(pulled).path()));
    ASSERT_TRUE(QDir().rename(program()->card, pulled));
    ASSERT_TRUE(clickRecording(route));
    ASSERT_TRUE(until([] { return playing(route); }))
        << player().loadError().value_or(QStringLiteral("still loading")).toStdString();

    const QString root = MediaCache::shared().root();
    for (const auto &[channel, path] : player().sources()) {
        EXPECT_TRUE(path.startsWith(root)) << path.toStdString();
        const QString name = QFileInfo(path).fileName();
        const QString original = pulled + QStringLiteral("/Cont/") + route + QLatin1Char('_') +
                                 (channel == Channel::front ? QLatin1Char('F') : QLatin1Char('R')) +
                                 QStringLiteral(".mp4");
        EXPECT_EQ(bytes(path), bytes(original)) << name.toStdString();
    }
    TransportBar *transport = detail()->findChild<TransportBar *>();
    const double before = player().currentTime();
    QTest::mouseClick(transport->playButton(), Qt::LeftButton);
    EXPECT_TRUE(until([&] { return player().currentTime() > before + 0.5; }, 8000));
    QTest::mouseClick(transport->playButton(), Qt::LeftButton);
    until([] { return !player().isPlaying(); }, 3000);
}

// 7, continued: the sidebar shows the pulled card's folder offline.
TEST_F(Step, showsThePulledCardOffline)
{
    SourceListModel *sources = sidebar()->sourceModel();
    const auto offline = [&] {
        for (int row = 0; row < sources->rowCount(); ++row)
            if (sources->data(sources->index(row), Qt::DisplayRole).toString() == QStringLiteral("DASHCAM"))
                return sources->data(sources->index(row), SourceListModel::OfflineRole).toBool();
        return false;
    };
    const bool shown = until(offline, 5000);
    // The card goes back in for the steps after this one.
    ASSERT_TRUE(QDir().rename(pulledCard(), program()->card));
    EXPECT_TRUE(shown) << "the sidebar never showed the pulled card offline";
    EXPECT_TRUE(until([&] { return !offline(); }, 5000)) << "the card put back still shows offline";
}

// 8. The card's device settings: one value changed and saved to the card changes that line only, keeps the
// line endings, and leaves a backup.
TEST_F(Step, savesOneChangedSettingToTheCard)
{
    const QString file = program()->card + QStringLiteral("/SETTING/blackbox.cfg");
    const QByteArray before = bytes(file);
    ASSERT_FALSE(before.isEmpty());
    action(QStringLiteral("deviceSettings"))->trigger();
    DeviceSettingsWindow *window = nullptr;
    ASSERT_TRUE(until([&] {
        window = qobject_cast<DeviceSettingsWindow *>(program()->app->window(RoadloomApp::deviceSettingsID));
        return window && window->isVisible() && !window->rows().isEmpty();
    }));
    ConfigRow *led = nullptr;
    for (ConfigRow *row : window->rows())
        if (row->entry().key == QStringLiteral("front_led"))
            led = row;
    ASSERT_NE(led, nullptr);
    auto *toggle = qobject_cast<QCheckBox *>(led->control());
    ASSERT_NE(toggle, nullptr);
    ASSERT_TRUE(toggle->isChecked());
    window->move(program()->window->geometry().topLeft() + QPoint(400, 90));
    QTest::mouseClick(toggle, Qt::LeftButton);
    ASSERT_TRUE(until([&] { return window->saveButton()->isEnabled(); }, 3000));
    window->raise();
    const QImage shot = screenshot(QStringLiteral("e2e-8-device-settings"));
    EXPECT_FALSE(shot.isNull());

    // The card is written off the GUI thread; the window then says so.
    answerMessageBox(QStringLiteral("OK"));
    QTest::mouseClick(window->saveButton(), Qt::LeftButton);
    ASSERT_TRUE(until([&] { return answersTaken() && bytes(file) != before; }, 5000));
    const QByteArray after = bytes(file);
    const QList<QByteArray> was = before.split('\n');
    const QList<QByteArray> now = after.split('\n');
    ASSERT_EQ(was.size(), now.size());
    QList<QByteArray> changed;
    for (qsizetype i = 0; i < was.size(); ++i)
        if (was[i] != now[i])
            changed.append(now[i]);
    EXPECT_EQ(changed, QList<QByteArray>{"front_led=0\r"});
    EXPECT_EQ(after.count("\r\n"), before.count("\r\n"));

    const QFileInfoList backups =
        QDir(StandardFolders::configBackups()).entryInfoList(QDir::Files | QDir::NoDotAndDotDot);
    ASSERT_EQ(backups.size(), 1) << StandardFolders::configBackups().toStdString();
    EXPECT_EQ(bytes(backups.first().absoluteFilePath()), before);
    window->close();
}

// 9. Move to Trash, confirmed: the recording's files are in the user's Trash with their entries, and the
// next recording is selected.
TEST_F(Step, movesARecordingToTheTrash)
{
    // The card is back: another source and this one again have it read anew.
    ASSERT_TRUE(clickSource(QStringLiteral("All Media")));
    ASSERT_TRUE(
        until([] { return program()->model->library().selectedSourceID() == QStringLiteral("catalog:"); }));
    ASSERT_TRUE(clickSource(QStringLiteral("DASHCAM")));
    ASSERT_TRUE(until([] {
        const auto clip = listed(route);
        return clip && clip->storage() == StorageState::original && !program()->model->library().isScanning();
    }));
    ASSERT_TRUE(clickRecording(route));
    ASSERT_TRUE(until([] { return playing(route); }));
    const DashClip clip = *listed(route);
    answerMessageBox(QStringLiteral("Move to Trash"));
    action(QStringLiteral("moveToTrash"))->trigger();
    ASSERT_TRUE(until([&] { return answersTaken() && !listed(route); }, 10000));

    const QString trash = program()->home + QStringLiteral("/.local/share/Trash");
    for (const auto &[channel, path] : clip.originalFiles) {
        const QString name = QFileInfo(path).fileName();
        EXPECT_FALSE(QFileInfo::exists(path)) << path.toStdString();
        EXPECT_TRUE(QFileInfo::exists(trash + QStringLiteral("/files/") + name)) << name.toStdString();
        const QByteArray info = bytes(trash + QStringLiteral("/info/") + name + QStringLiteral(".trashinfo"));
        EXPECT_TRUE(info.startsWith("[Trash Info]")) << info.toStdString();
        EXPECT_TRUE(info.contains("Path=" + QUrl::toPercentEncoding(path, "/"))) << info.toStdString();
    }
    EXPECT_TRUE(until([] { return selectedName().contains(second); }, 5000)) << selectedName().toStdString();
}

// 10. Quit: the catalog on disk lists what was cached, and a second start shows the same library without
// copying anything again.
TEST_F(Step, quitsAndStartsAgainWithTheSameLibrary)
{
    QStringList names;
    for (const DashClip &clip : program()->model->library().clips())
        names.append(clip.name);
    names.sort();
    bool quit = false;
    QObject::connect(program()->app.get(), &RoadloomApp::quitting, [&] { quit = true; });
    action(QStringLiteral("quit"))->trigger();
    ASSERT_TRUE(until([&] { return quit; }, 5000));
    EXPECT_FALSE(program()->window && program()->window->isVisible());

    const QByteArray catalog = bytes(MediaCache::shared().root() + QStringLiteral("/catalog.json"));
    ASSERT_FALSE(QJsonDocument::fromJson(catalog).isNull());
    for (const QString &name : names)
        EXPECT_TRUE(catalog.contains(name.toUtf8())) << name.toStdString();

    // The copies and the catalog as they are now; the second start must leave them alone.
    QHash<QString, QDateTime> copies;
    QDirIterator it(MediaCache::shared().root(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        copies.insert(it.filePath(), it.fileInfo().lastModified());
    }
    ASSERT_FALSE(copies.isEmpty());

    QProcess again;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ROADLOOM_E2E_HOME"), program()->home);
    env.insert(QStringLiteral("ROADLOOM_E2E_NAMES"), names.join(QLatin1Char('|')));
    again.setProcessEnvironment(env);
    again.setProcessChannelMode(QProcess::MergedChannels);
    again.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=SecondStart.*"),
                                                          QStringLiteral("--gtest_also_run_disabled_tests")});
    ASSERT_TRUE(again.waitForFinished(120000));
    const QByteArray out = again.readAll();
    EXPECT_EQ(again.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.toStdString();

    QDirIterator after(MediaCache::shared().root(), QDir::Files, QDirIterator::Subdirectories);
    QStringList touched;
    while (after.hasNext()) {
        after.next();
        if (!copies.contains(after.filePath()) ||
            (copies.value(after.filePath()) != after.fileInfo().lastModified() &&
             !after.filePath().endsWith(QStringLiteral(".json"))))
            touched.append(after.filePath());
    }
    EXPECT_TRUE(touched.isEmpty()) << touched.join(QStringLiteral(", ")).toStdString();
}

// The second start of step 10, in a process of its own over the first one's home; only that step runs it.
TEST(SecondStart, DISABLED_showsTheSameLibrary)
{
    const QByteArray home = qgetenv("ROADLOOM_E2E_HOME");
    if (home.isEmpty() || !Screenshot::available())
        GTEST_SKIP() << "started by the journey's last step";
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", home + "/.config");
    qputenv("XDG_DATA_HOME", home + "/.local/share");
    qputenv("XDG_CACHE_HOME", home + "/.cache");
    const QStringList names = QString::fromUtf8(qgetenv("ROADLOOM_E2E_NAMES")).split(QLatin1Char('|'));

    Program &p = start({});
    ASSERT_NE(p.window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(p.window));
    QStringList seen;
    ASSERT_TRUE(until([&] {
        seen.clear();
        for (const DashClip &clip : p.model->library().clips())
            seen.append(clip.name);
        seen.sort();
        return seen == names && !p.model->library().isScanning();
    })) << seen.join(QStringLiteral(", ")).toStdString();
    EXPECT_TRUE(
        QFileInfo(p.model->library().selectedSourceID().value_or(QString()).section(QLatin1Char(':'), 1))
            .fileName() == QStringLiteral("DASHCAM"))
        << p.model->library().selectedSourceID().value_or(QString()).toStdString();
    // Nothing left to copy.
    pass(1500);
    EXPECT_EQ(p.model->cache().totalFiles(), 0);
}
