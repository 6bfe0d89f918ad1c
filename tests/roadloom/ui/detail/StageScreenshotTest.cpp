// The detail view with real players on the stage clips (each quarter a flat colour), grabbed from the
// virtual X server's screen: the pixels at chosen points tell which camera and which quarter is drawn.
#include "roadloom/ui/ViewHarness.h"
#include "roadloom/ui/detail/DetailView.h"

#include "fixtures/Screenshot.h"
#include "fixtures/StagePixels.h"
#include "platform/gui/MpvPlayer.h"
#include "platform/gui/StageCanvas.h"
#include "roadloom/ui/detail/VideoHUD.h"
#include "roadloom/ui/detail/VideoStage.h"
#include "roadloom/ui/shell/MainWindow.h"
#include "roadloom/ui/shell/RoadloomApp.h"

#include <QScreen>
#include <QSplitter>
#include <QTest>

using namespace AppHarness;

namespace {

constexpr int waitMs = 20000;

class StageScreenshot : public ModelTest {
protected:
    void SetUp() override
    {
        ROADLOOM_REQUIRE_SCREENSHOTS();
        Screenshot::prepare();
        trip = recording(QStringLiteral("Trip"), at(0),
                         {{Channel::front, TestSupport::media(QStringLiteral("stage_front.mp4"))},
                          {Channel::rear, TestSupport::media(QStringLiteral("stage_rear.mp4"))}});
        adjust = [](AppModel::Services &s) {
            s.players = [](PlayerRole role) -> std::unique_ptr<VideoPlayer> {
                MpvPlayerOptions options;
                options.audio = role == PlayerRole::master;
                options.audioOutput = "null";
                return std::make_unique<MpvPlayer>(options);
            };
        };
        make({trip});
    }
    void TearDown() override
    {
        if (model)
            model->player().load(std::nullopt, false);
        window.reset();
        app.reset();
        QGuiApplication::setQuitOnLastWindowClosed(true);
        ModelTest::TearDown();
    }

    // The detail view in a splitter beside an inspector column (hidden until asked), 1000 x 640.
    void showWindow()
    {
        window = std::make_unique<QSplitter>(Qt::Horizontal);
        detail = new DetailView(*model, window.get());
        inspector = new QWidget(window.get());
        inspector->setMinimumWidth(280);
        inspector->setVisible(false);
        QObject::connect(model.get(), &AppModel::showInspectorChanged, inspector, &QWidget::setVisible);
        window->resize(Screenshot::small);
        window->show();
        top = window.get();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    // The application's main window at 1440 x 900, its player column built after its first paint.
    void showMainWindow()
    {
        app = std::make_unique<RoadloomApp>(*model);
        auto *main = qobject_cast<MainWindow *>(app->openWindow(RoadloomApp::mainID));
        ASSERT_NE(main, nullptr);
        main->resize(Screenshot::large);
        top = main;
        ASSERT_TRUE(QTest::qWaitForWindowExposed(main));
        ASSERT_TRUE(TestSupport::waitFor([&] { return main->detailView() != nullptr; }));
        detail = main->detailView();
    }
    // Loads the recording and waits until both players show their frame at 1 s.
    void loadTrip()
    {
        model->player().load(trip, false);
        ASSERT_TRUE(TestSupport::waitFor([&] { return videoReady(); }, waitMs))
            << model->player().loadError().value_or(QStringLiteral("still loading")).toStdString();
        StagePixels::keepGlDriversLoaded();
        model->player().seek(1.0);
        settle();
    }
    void settle() { QTest::qWait(300); }
    // The recording's video is ready (hasMedia alone holds already while the recording is resolved).
    bool videoReady() const { return model->player().hasMedia() && model->player().duration() > 0; }
    // The window as the screen shows it, in stage coordinates (saved for review).
    QImage grabStage(const QString &name)
    {
        QCoreApplication::processEvents();
        const QImage shot = top->screen()->grabWindow(top->winId()).toImage();
        shot.save(Screenshot::folder() + QStringLiteral("/stage-") + name + QStringLiteral(".png"));
        const QPoint origin = stage()->mapTo(top, QPoint(0, 0));
        return shot.copy(QRect(origin, stage()->size()));
    }
    VideoStage *stage() const { return detail->stage(); }
    PlayerController &player() const { return model->player(); }
    QString colour(const QImage &image, QPointF point) const
    {
        return StagePixels::colourAt(image, int(point.x()), int(point.y()));
    }
    // Grabs the stage until every point shows its colour ("!name": anything but that colour) or the deadline
    // passes, then reports the points that differ. The screen lags the model by a frame or two.
    void expectColours(const QString &name, const QList<std::pair<QPointF, QString>> &expected)
    {
        QStringList wrong;
        QDeadlineTimer deadline(5000);
        do {
            const QImage image = grabStage(name);
            wrong.clear();
            for (const auto &[point, want] : expected) {
                const QString seen = colour(image, point);
                const bool ok = want.startsWith(QLatin1Char('!')) ? seen != want.mid(1) : seen == want;
                if (!ok) {
                    wrong.append(QStringLiteral("(%1, %2) is %3, not %4")
                                     .arg(point.x())
                                     .arg(point.y())
                                     .arg(seen, want));
                }
            }
            if (wrong.isEmpty())
                return;
            QTest::qWait(100);
        } while (!deadline.hasExpired());
        ADD_FAILURE() << name.toStdString() << ": " << wrong.join(QStringLiteral("; ")).toStdString();
    }
    // The centres of the main picture's quarters, fitted into the stage unzoomed.
    std::array<QPointF, 4> quarters() const
    {
        const QRectF fit = StageGeometry::fitted(QSizeF(stage()->size()), 4.0 / 3.0);
        const double w = fit.width() / 4, h = fit.height() / 4;
        return {fit.topLeft() + QPointF(w, h), fit.topLeft() + QPointF(3 * w, h),
                fit.topLeft() + QPointF(w, 3 * h), fit.topLeft() + QPointF(3 * w, 3 * h)};
    }

    DashClip trip;
    std::unique_ptr<RoadloomApp> app;
    std::unique_ptr<QSplitter> window;
    QWidget *top = nullptr; // the window grabbed
    DetailView *detail = nullptr;
    QWidget *inspector = nullptr;
};

} // namespace

TEST_F(StageScreenshot, FitsThePictureAndPlacesTheInset)
{
    showWindow();
    loadTrip();
    // 1000 x 373 (640 less the deck and its handle); the 4:3 picture is 497 wide from x 251.5.
    ASSERT_EQ(stage()->size(), QSize(1000, 373));
    expectColours(QStringLiteral("front-inset"),
                  {{{375, 93}, "red"},
                   {{625, 93}, "lime"},
                   {{375, 280}, "blue"},
                   {{625, 280}, "yellow"},
                   {{100, 186}, "black"},
                   {{900, 300}, "black"},
                   // The inset: 260 x 195 at (726, 14), the rear camera's quarters.
                   {{791, 63}, "magenta"},
                   {{921, 63}, "cyan"},
                   {{820, 150}, "white"},
                   {{921, 160}, "orange"},
                   // Its edges: 14 from the right and the top, 260 wide; the rounded corner.
                   {{983, 63}, "cyan"},
                   {{989, 63}, "!cyan"},
                   {{921, 17}, "cyan"},
                   {{921, 11}, "!cyan"},
                   {{729, 63}, "magenta"},
                   {{723, 63}, "!magenta"},
                   {{727, 15}, "!magenta"}});
    // The label "REAR" in the bottom-left corner: a dark capsule on white.
    const QImage image = grabStage(QStringLiteral("front-inset"));
    EXPECT_GT(
        Screenshot::count(image, QRect(734, 186, 30, 14), [](const QColor &c) { return c.value() < 160; }),
        20);
}

TEST_F(StageScreenshot, SwapsMirrorsTurnsAndZooms)
{
    showWindow();
    loadTrip();
    ASSERT_EQ(stage()->size(), QSize(1000, 373));

    player().setSwapped(true);
    expectColours(QStringLiteral("swapped"),
                  {{{375, 93}, "magenta"}, {{625, 280}, "orange"}, {{791, 63}, "red"}, {{921, 63}, "lime"}});
    player().setSwapped(false);

    player().setMirrored(true);
    expectColours(QStringLiteral("mirrored"),
                  {{{375, 93}, "lime"}, {{625, 93}, "red"}, {{375, 280}, "yellow"}, {{791, 63}, "magenta"}});
    player().setMirrored(false);

    // Turned a quarter clockwise: 373 wide and 497 high about the centre; the left edge is on top.
    player().setRotation(90);
    expectColours(QStringLiteral("rotated"), {{{400, 100}, "blue"},
                                              {{600, 100}, "red"},
                                              {{600, 300}, "lime"},
                                              {{400, 300}, "yellow"},
                                              {{200, 186}, "black"},
                                              {{800, 300}, "black"}});
    player().setRotation(0);

    // Zoom 2 with a pan of (100, -50): the picture is 994 wide from x 103. Screen (520, 200) shows the
    // picture's point (460, 218), left of the middle; without the pan it would show (510, 193), right of it.
    player().setZoom(2);
    player().setPan({100, -50});
    expectColours(QStringLiteral("zoom2-pan"), {{{520, 200}, "blue"},
                                                {{150, 100}, "red"},
                                                {{650, 300}, "yellow"},
                                                {{50, 186}, "black"},
                                                {{791, 63}, "magenta"}});
}

TEST_F(StageScreenshot, InTheMainWindowThePictureAndPlaybackSurviveTheaterModeAndTheInspector)
{
    showMainWindow();
    auto *main = static_cast<MainWindow *>(top);
    model->library().setSelectedClipID(trip.id);
    ASSERT_TRUE(TestSupport::waitFor([&] { return videoReady(); }, waitMs))
        << model->player().loadError().value_or(QStringLiteral("still loading")).toStdString();
    StagePixels::keepGlDriversLoaded();
    EXPECT_EQ(main->windowTitle(), "Trip");
    const auto quartersShown = [&](const QString &name) {
        const auto q = quarters();
        expectColours(name, {{q[0], "red"}, {q[2], "blue"}, {q[3], "yellow"}});
    };
    quartersShown(QStringLiteral("main-window"));
    player().play();
    const auto playing = [&](double after) {
        return TestSupport::waitFor([&] { return player().currentTime() > after; }, 3000);
    };
    ASSERT_TRUE(playing(0.2));

    const int withDeck = stage()->height();
    model->setTheaterMode(true);
    ASSERT_TRUE(TestSupport::waitFor([&] { return !main->isAnimatingTheater(); }));
    // The stage and the transport bar take the whole player column.
    EXPECT_EQ(detail->playerArea()->height(), detail->height());
    EXPECT_GT(stage()->height(), withDeck);
    quartersShown(QStringLiteral("main-window-theater"));
    double now = player().currentTime();
    EXPECT_TRUE(playing(now + 0.1) || !player().isPlaying());

    model->setTheaterMode(false);
    ASSERT_TRUE(TestSupport::waitFor([&] { return !main->isAnimatingTheater(); }));
    const int before = stage()->width();
    model->setShowInspector(true);
    settle();
    EXPECT_LT(stage()->width(), before - 200);
    quartersShown(QStringLiteral("main-window-inspector"));
    EXPECT_FALSE(player().loadError());

    // Back to the plain layout: the picture is still drawn.
    model->setShowInspector(false);
    player().seek(1.0);
    settle();
    quartersShown(QStringLiteral("main-window-back"));
    EXPECT_FALSE(player().loadError());
}

TEST_F(StageScreenshot, ASelectionMadeBeforeTheWindowShowsItsPicture)
{
    // The load reaches the players before any GL context exists.
    model->player().load(trip, false);
    showWindow();
    ASSERT_TRUE(TestSupport::waitFor([&] { return videoReady(); }, waitMs));
    StagePixels::keepGlDriversLoaded();
    model->player().seek(1.0);
    settle();
    expectColours(QStringLiteral("startup"),
                  {{{375, 93}, "red"}, {{625, 280}, "yellow"}, {{791, 63}, "magenta"}});
}

// The window's thread makes no GL context while the driver is being set up, however often the stage shows
// meanwhile; the canvas comes once the driver is ready.
TEST_F(StageScreenshot, TheCanvasWaitsForTheDriverThroughEveryShow)
{
    int preparations = 0;
    std::function<void()> ready;
    const auto held = [&](QObject *, std::function<void()> callback) {
        ++preparations;
        ready = std::move(callback);
    };
    VideoStage stage(*model, nullptr, held);
    stage.resize(640, 360);
    for (int shown = 0; shown < 3; ++shown) {
        stage.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&stage));
        QTest::qWait(50);
        EXPECT_EQ(stage.canvas(), nullptr) << "shown " << shown + 1 << " times";
        stage.hide();
    }
    stage.show();
    EXPECT_EQ(preparations, 1);
    ASSERT_TRUE(ready);
    ready();
    EXPECT_NE(stage.canvas(), nullptr);
}

TEST_F(StageScreenshot, WithTheInsetOffTheFollowerKeepsUp)
{
    showWindow();
    loadTrip();
    player().setShowPiP(false);
    player().seek(0);
    settle();
    expectColours(QStringLiteral("no-inset"), {{{921, 63}, "black"}, {{375, 93}, "red"}});

    player().play();
    double worst = 0;
    int samples = 0;
    const auto ended = [&] { return player().currentTime() > 2.5 || !player().isPlaying(); };
    QDeadlineTimer deadline(10000);
    while (!ended() && !deadline.hasExpired()) {
        QTest::qWait(100);
        if (player().currentTime() < 0.3 || ended())
            continue;
        worst = std::max(worst, std::abs(player().rear().currentTime() - player().front().currentTime()));
        ++samples;
    }
    EXPECT_GT(samples, 5);
    EXPECT_LE(worst, PlayerController::driftThreshold);
    // The hidden follower's frames were taken, not drawn.
    ASSERT_NE(stage()->canvas(), nullptr);
    EXPECT_GT(stage()->canvas()->counts().skips[1], 10);
}

// A recording that cannot be played after one that played: its error page stands on a black stage, not on
// the previous recording's last frame.
TEST_F(StageScreenshot, AFailedLoadClearsThePreviousPicture)
{
    showWindow();
    loadTrip();
    expectColours(QStringLiteral("before-failure"), {{{375, 93}, "red"}, {{625, 280}, "yellow"}});

    DashClip gone = recording(QStringLiteral("Gone"), at(1), trip.files);
    gone.files.clear(); // its card is gone and nothing of it is cached
    gone.originalFiles = trip.files;
    services->resolved[QStringLiteral("Gone")] = gone;
    player().load(recording(QStringLiteral("Gone"), at(1), trip.files), true);
    ASSERT_TRUE(TestSupport::waitFor([&] { return player().loadError().has_value(); }, waitMs));
    EXPECT_EQ(player().loadError(), PlayerController::noFilesMessage);
    settle();
    // The quarters' centres lie beside the page's text.
    expectColours(QStringLiteral("failed-after-playing"), {{{375, 93}, "black"},
                                                           {{625, 93}, "black"},
                                                           {{375, 280}, "black"},
                                                           {{625, 280}, "black"},
                                                           {{791, 63}, "black"}});

    // The next recording that plays is drawn again.
    loadTrip();
    expectColours(QStringLiteral("after-failure"), {{{375, 93}, "red"}, {{791, 63}, "magenta"}});
}

// The canvas is a window of its own, which widgets cannot draw over: the readout is drawn by the canvas,
// and the canvas steps aside while the window's drop frame covers the stage.
TEST_F(StageScreenshot, TheReadoutShowsOnThePictureAndTheDropFrameOverIt)
{
    showWindow();
    loadTrip();
    VideoHUD *hud = stage()->hud();
    ASSERT_TRUE(hud->isVisibleTo(stage()));
    const QRect readout = hud->geometry();
    const auto whiteText = [](const QColor &c) { return c.value() > 200 && c.saturation() < 40; };
    // The readout lies over the black bar beside the 4:3 picture: only its text is light.
    ASSERT_LT(readout.right(), 250);
    EXPECT_GT(Screenshot::count(grabStage(QStringLiteral("readout")), readout, whiteText), 20);

    stage()->setCovered(true);
    expectColours(QStringLiteral("covered"), {{{375, 93}, "black"}, {{791, 63}, "black"}});
    stage()->setCovered(false);
    expectColours(QStringLiteral("uncovered"), {{{375, 93}, "red"}, {{791, 63}, "magenta"}});
}

// On a stage as narrow as the smallest window's with the inspector, the readout the canvas draws breaks into
// rows and lies inside the stage: its text is all on the screen, none of it past the capsule's end.
TEST_F(StageScreenshot, TheReadoutStaysWholeOnANarrowStage)
{
    QList<GPSFix> gps;
    QList<SensorSample> sensor;
    for (int i = 0; i <= 50; ++i) {
        GPSFix fix;
        fix.time = i * 0.1;
        fix.latitude = 48.1 + i * 0.0001;
        fix.longitude = 11.5;
        fix.speedKnots = 60;
        gps.append(fix);
        sensor.append({i * 0.1, 0.2, 0.1, 1.95});
    }
    services->telemetry[trip.files.at(Channel::front)] = Telemetry(sensor, gps, QStringLiteral("t"));
    showWindow();
    model->setShowInspector(true);
    detail->setMinimumWidth(200); // as the main window lets it be
    window->resize(560, Screenshot::small.height());
    window->setSizes({280, 280});
    QTest::qWait(100);
    loadTrip();
    ASSERT_LT(stage()->width(), 300);
    VideoHUD *hud = stage()->hud();
    ASSERT_TRUE(TestSupport::waitFor([&] { return hud->readout().gForce.has_value(); }));
    ASSERT_TRUE(hud->isVisibleTo(stage()));
    EXPECT_GT(hud->arrangement().rows.size(), 1);
    const QRect readout = hud->geometry();
    EXPECT_TRUE(stage()->rect().adjusted(10, 10, -10, -10).contains(readout))
        << readout.x() << "+" << readout.width() << " in " << stage()->width();
    // White text (the figures) or red (the G-force above 1.8 g), over the black bar or the blue quarter.
    const auto text = [](const QColor &c) {
        return (c.value() > 200 && c.saturation() < 40) ||
               (c.red() > 200 && c.green() < 120 && c.blue() < 120);
    };
    QImage image;
    ASSERT_TRUE(TestSupport::waitFor([&] {
        image = grabStage(QStringLiteral("narrow-readout"));
        return Screenshot::count(image, readout, text) > 40;
    }));
    // Along the readout's rows, nothing of it right of the capsule.
    const QRect beyond(readout.right() + 2, readout.top(), stage()->width() - readout.right() - 2,
                       readout.height());
    EXPECT_EQ(Screenshot::count(image, beyond, text), 0);
}
