#include "platform/gui/StageCanvas.h"
#include "fixtures/StagePixels.h"
#include "fixtures/TestSupport.h"
#include "platform/gui/GLDriverPreload.h"
#include "platform/gui/MpvPlayer.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QGuiApplication>

#include <memory>

using StagePixels::colourAt;
using TestSupport::media;
using TestSupport::waitFor;

namespace {

constexpr int waitMs = 20000;

std::unique_ptr<MpvPlayer> drawnPlayer(bool audio)
{
    MpvPlayerOptions options;
    options.audio = audio;
    options.audioOutput = "null";
    return std::make_unique<MpvPlayer>(options);
}

// Both stage clips on a 480 x 270 canvas; the 4:3 picture fits as 360 x 270 between bars 60 wide. The
// views given say 4:3.
class StageCanvasTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (QGuiApplication::platformName() == QStringLiteral("offscreen"))
            GTEST_SKIP() << "needs an X display (run under xvfb-run with QT_QPA_PLATFORM=xcb)";
        front = drawnPlayer(true);
        rear = drawnPlayer(false);
        ASSERT_NE(front->handle(), nullptr);
    }
    void TearDown() override
    {
        canvas.reset();
        front.reset();
        rear.reset();
    }

    // Loads both clips before the canvas exists (as a selection at start-up does), then shows it.
    void start(const StageView &view)
    {
        bool frontReady = false, rearReady = false;
        QObject::connect(front.get(), &VideoPlayer::ready, [&] { frontReady = true; });
        QObject::connect(rear.get(), &VideoPlayer::ready, [&] { rearReady = true; });
        front->load(media("stage_front.mp4"));
        rear->load(media("stage_rear.mp4"));
        EXPECT_TRUE(front->isLoadHeld());
        canvas = std::make_unique<StageCanvas>(front.get(), rear.get());
        canvas->resize(480, 270);
        canvas->setView(view);
        canvas->show();
        ASSERT_TRUE(waitFor([&] { return frontReady && rearReady; }, waitMs));
        StagePixels::keepGlDriversLoaded();
        front->seek(1.0);
        rear->seek(1.0);
        settle();
    }
    // Lets both players land and the canvas draw what they show.
    void settle()
    {
        waitFor([] { return false; }, 400);
    }
    QImage grab() { return canvas->grabFramebuffer(); }

    std::unique_ptr<MpvPlayer> front;
    std::unique_ptr<MpvPlayer> rear;
    std::unique_ptr<StageCanvas> canvas;
};

} // namespace

TEST(StageCanvasLoad, HoldsALoadUntilARendererAttaches)
{
    // No display needed: nothing is drawn.
    MpvPlayerOptions options;
    options.audioOutput = "null";
    MpvPlayer player(options);
    bool ready = false;
    QObject::connect(&player, &VideoPlayer::ready, [&] { ready = true; });
    player.load(media("stage_front.mp4"));
    EXPECT_TRUE(player.isLoadHeld());
    EXPECT_TRUE(player.hasFile());
    EXPECT_FALSE(waitFor([&] { return ready; }, 300));
    player.clear();
    EXPECT_FALSE(player.isLoadHeld());
    // A player that draws nowhere loads at once.
    options.videoOutput = "null";
    MpvPlayer headless(options);
    headless.load(media("stage_front.mp4"));
    EXPECT_FALSE(headless.isLoadHeld());
}

// The canvas returns before the players' render contexts are made: they come on the event loop's next
// turns and release the loads held for them.
TEST_F(StageCanvasTest, AttachesThePlayersOnLaterTurns)
{
    front->load(media("stage_front.mp4"));
    rear->load(media("stage_rear.mp4"));
    canvas = std::make_unique<StageCanvas>(front.get(), rear.get());
    EXPECT_TRUE(front->isLoadHeld());
    EXPECT_TRUE(rear->isLoadHeld());
    EXPECT_TRUE(waitFor([&] { return !front->isLoadHeld() && !rear->isLoadHeld(); }, waitMs));
}

TEST_F(StageCanvasTest, DrawsTheFittedPictureAndTheRoundedInset)
{
    StageView view;
    view.showInset = true;
    view.aspectRatio = 4.0 / 3.0;
    start(view);
    const QImage image = grab();
    StagePixels::keepForReview(image, QStringLiteral("canvas-front-inset"));
    ASSERT_EQ(image.size(), QSize(480, 270));

    // The main picture between its bars; the top-right quarter partly under the inset.
    EXPECT_EQ(colourAt(image, 150, 60), "red");
    EXPECT_EQ(colourAt(image, 270, 60), "lime");
    EXPECT_EQ(colourAt(image, 150, 200), "blue");
    EXPECT_EQ(colourAt(image, 330, 200), "yellow");
    EXPECT_EQ(colourAt(image, 30, 135), "black");
    EXPECT_EQ(colourAt(image, 450, 200), "black");

    // The inset: 160 x 120 at (306, 14), the rear camera's quarters.
    EXPECT_EQ(colourAt(image, 346, 44), "magenta");
    EXPECT_EQ(colourAt(image, 426, 44), "cyan");
    EXPECT_EQ(colourAt(image, 370, 100), "white");
    EXPECT_EQ(colourAt(image, 426, 104), "orange");
    // Its edges: 14 from the top and right, the right edge at 466, the left at 306.
    EXPECT_EQ(colourAt(image, 463, 60), "cyan");
    EXPECT_NE(colourAt(image, 469, 60), "cyan");
    EXPECT_EQ(colourAt(image, 426, 17), "cyan");
    EXPECT_NE(colourAt(image, 426, 11), "cyan");
    EXPECT_EQ(colourAt(image, 309, 40), "magenta");
    EXPECT_NE(colourAt(image, 303, 40), "magenta");
    // The rounded corner leaves its very corner out; a pixel in from it is inside.
    EXPECT_NE(colourAt(image, 307, 15), "magenta");
    EXPECT_EQ(colourAt(image, 316, 24), "magenta");
    // The margin right of the inset is the bar, darkened by the shadow but not lit.
    EXPECT_LT(qGray(image.pixel(472, 60)), 10);
    // The border lightens the inset's edge: the white line over cyan keeps cyan's hue but is lighter.
    const QRgb edge = image.pixel(465, 60);
    const QRgb inner = image.pixel(455, 60);
    EXPECT_GT(qRed(edge), qRed(inner) + 40);
    // The label sits 6 in from the bottom-left corner: dark capsule over white with white text.
    int darkInLabel = 0;
    for (int x = 312; x < 330; ++x)
        darkInLabel += qGray(image.pixel(x, 124)) < 200 ? 1 : 0;
    EXPECT_GT(darkInLabel, 5);
}

TEST_F(StageCanvasTest, SwapsMirrorsTurnsAndZooms)
{
    StageView view;
    view.showInset = true;
    view.aspectRatio = 4.0 / 3.0;
    start(view);

    // Swapped: the rear camera large, the front one in the inset.
    view.swapped = true;
    canvas->setView(view);
    QImage image = grab();
    StagePixels::keepForReview(image, QStringLiteral("canvas-swapped"));
    EXPECT_EQ(colourAt(image, 150, 60), "magenta");
    EXPECT_EQ(colourAt(image, 150, 200), "white");
    EXPECT_EQ(colourAt(image, 346, 44), "red");
    EXPECT_EQ(colourAt(image, 426, 44), "lime");

    // The rest without the inset. Mirrored at zoom 2 (centre (240, 135)): screen (150, 60) shows the
    // picture's point (285, 97.5), in its right half and upper half.
    view = {};
    view.aspectRatio = 4.0 / 3.0;
    view.mirrored = true;
    view.zoom = 2;
    canvas->setView(view);
    image = grab();
    StagePixels::keepForReview(image, QStringLiteral("canvas-mirror-zoom2"));
    EXPECT_EQ(colourAt(image, 150, 60), "lime");
    EXPECT_EQ(colourAt(image, 330, 60), "red");
    EXPECT_EQ(colourAt(image, 150, 210), "yellow");
    EXPECT_EQ(colourAt(image, 330, 210), "blue");
    // Zoom 2 covers the bars.
    EXPECT_NE(colourAt(image, 20, 135), "black");

    // Turned 90 clockwise with a pan of (30, 0) that turns with it: the picture stands 270 wide and 360
    // high, centred at (240, 165). Its left edge is on top: blue top left, red top right.
    view = {};
    view.aspectRatio = 4.0 / 3.0;
    view.rotation = 90;
    view.pan = {30, 0};
    canvas->setView(view);
    image = grab();
    StagePixels::keepForReview(image, QStringLiteral("canvas-rotate90-pan"));
    EXPECT_EQ(colourAt(image, 170, 80), "blue");
    EXPECT_EQ(colourAt(image, 310, 80), "red");
    EXPECT_EQ(colourAt(image, 310, 240), "lime");
    EXPECT_EQ(colourAt(image, 170, 240), "yellow");
    // Below the unpanned centre line, above the panned one.
    EXPECT_EQ(colourAt(image, 170, 150), "blue");
    EXPECT_EQ(colourAt(image, 90, 135), "black");
    EXPECT_EQ(colourAt(image, 390, 135), "black");

    // Zoom 2 with a pan of (40, -20): screen (260, 150) shows the picture's point (230, 152.5), just
    // left of the middle and below it; without the pan it would be (250, 142.5), right of the middle.
    view = {};
    view.aspectRatio = 4.0 / 3.0;
    view.zoom = 2;
    view.pan = {40, -20};
    canvas->setView(view);
    image = grab();
    StagePixels::keepForReview(image, QStringLiteral("canvas-zoom2-pan"));
    EXPECT_EQ(colourAt(image, 260, 150), "blue");
    EXPECT_EQ(colourAt(image, 100, 60), "red");
    EXPECT_EQ(colourAt(image, 400, 60), "lime");
    EXPECT_EQ(colourAt(image, 400, 220), "yellow");
}

TEST_F(StageCanvasTest, EasesAnAnimatedZoomAndRendersOnlyNewFrames)
{
    StageView view;
    view.showInset = true;
    view.aspectRatio = 4.0 / 3.0;
    start(view);

    // Paused: repainting draws the composed pictures again, but asks mpv for nothing new.
    const StageCanvas::Counts before = canvas->counts();
    for (int i = 0; i < 5; ++i) {
        canvas->update();
        waitFor([] { return false; }, 30);
    }
    EXPECT_EQ(canvas->counts().renders, before.renders);

    view.zoom = 2;
    canvas->setView(view, true);
    EXPECT_EQ(canvas->view().zoom, 2);
    ASSERT_TRUE(waitFor([&] { return canvas->drawnView().zoom > 1.05; }, 2000));
    EXPECT_LT(canvas->drawnView().zoom, 2);
    ASSERT_TRUE(waitFor([&] { return !canvas->isEasing(); }, 2000));
    EXPECT_EQ(canvas->drawnView().zoom, 2);
}

TEST_F(StageCanvasTest, AHiddenPlayerKeepsPlaying)
{
    StageView view; // no inset: the rear player is not shown
    view.aspectRatio = 4.0 / 3.0;
    start(view);
    front->seek(0);
    rear->seek(0);
    settle();
    front->play(1.0);
    rear->play(1.0);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(waitFor([&] { return rear->currentTime() >= 1.5; }, waitMs));
    // Frames consumed without drawing keep mpv at speed: a stalled player would show 5 frames a second.
    EXPECT_LT(clock.elapsed(), 4000);
    EXPECT_GT(canvas->counts().skips[1], 10);
    EXPECT_GT(canvas->counts().renders[0], 10);
    front->pause();
    rear->pause();
}

// A canvas with one player draws it as it plays, fitted on black, and playback does not stall on drawing.
TEST(StageCanvasOnePlayer, DrawsAPlayingClipFittedOnBlack)
{
    if (QGuiApplication::platformName() == QStringLiteral("offscreen"))
        GTEST_SKIP() << "needs an X display (run under xvfb-run with QT_QPA_PLATFORM=xcb)";
    const std::unique_ptr<MpvPlayer> player = drawnPlayer(true);
    ASSERT_NE(player->handle(), nullptr);
    bool ready = false;
    QObject::connect(player.get(), &VideoPlayer::ready, [&] { ready = true; });
    player->load(media("player_av.mp4"));
    StageCanvas canvas(player.get(), nullptr);
    // Wider than the 4:3 clip: black bars left and right.
    canvas.resize(480, 240);
    canvas.show();
    ASSERT_TRUE(waitFor([&] { return ready; }, waitMs));
    StagePixels::keepGlDriversLoaded();
    player->play(1.0);
    ASSERT_TRUE(waitFor([&] { return player->currentTime() > 0.4; }, waitMs));
    waitFor([] { return false; }, 200);

    const QImage image = canvas.grabFramebuffer();
    ASSERT_FALSE(image.isNull());
    int lit = 0;
    int total = 0;
    for (int y = 10; y < image.height(); y += 20) {
        for (int x = 170; x < 310; x += 20) {
            ++total;
            if (qGray(image.pixel(x, y)) > 24)
                ++lit;
        }
        // The bars beside the 320-pixel-wide picture stay black.
        EXPECT_LT(qGray(image.pixel(5, y)), 8) << y;
        EXPECT_LT(qGray(image.pixel(image.width() - 5, y)), 8) << y;
    }
    EXPECT_GT(lit, total / 2);
    EXPECT_GT(canvas.counts().renders[0], 0);
    player->pause();
}

// The driver is loaded aside on an X connection of its own: on the display, and no harm without one.
TEST(StageCanvasDriver, LoadsOnTheDisplayAndDeclinesWithoutOne)
{
    if (QGuiApplication::platformName() != QStringLiteral("xcb"))
        GTEST_SKIP() << "needs an X display";
    const QByteArray display = qgetenv("DISPLAY");
    qunsetenv("DISPLAY");
    EXPECT_FALSE(GLDriverPreload::load());
    qputenv("DISPLAY", ":99999");
    EXPECT_FALSE(GLDriverPreload::load());
    qputenv("DISPLAY", display);
    EXPECT_TRUE(GLDriverPreload::load());

    // The stage's preparation reports once, later; once done, at once.
    int calls = 0;
    QObject here;
    StageCanvas::prepareDriver(&here, [&] { ++calls; });
    EXPECT_TRUE(waitFor([&] { return calls == 1; }, waitMs));
    StageCanvas::prepareDriver(&here, [&] { ++calls; });
    EXPECT_EQ(calls, 2);
}
