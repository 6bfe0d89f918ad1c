#include "platform/gui/VideoSurface.h"
#include "fixtures/StagePixels.h"
#include "fixtures/TestSupport.h"
#include "platform/gui/MpvPlayer.h"

#include <gtest/gtest.h>

#include <QGuiApplication>

using TestSupport::waitFor;

// Needs a real display: ctest runs it on its own under xvfb-run.
TEST(VideoSurface, DrawsAPlayingClipFittedOnBlack)
{
    if (QGuiApplication::platformName() == QStringLiteral("offscreen"))
        GTEST_SKIP() << "needs an X display (run under xvfb-run with QT_QPA_PLATFORM=xcb)";

    MpvPlayerOptions options;
    options.audioOutput = "null";
    MpvPlayer player(options);
    ASSERT_NE(player.handle(), nullptr);
    VideoSurface surface;
    // Wider than the 4:3 clip: black bars left and right.
    surface.resize(480, 240);
    surface.show();
    ASSERT_TRUE(waitFor([&] { return surface.isValid(); }, 10000));
    surface.setPlayer(&player);
    StagePixels::keepGlDriversLoaded();

    bool ready = false;
    QObject::connect(&player, &VideoPlayer::ready, [&] { ready = true; });
    player.load(TestSupport::media("player_av.mp4"));
    ASSERT_TRUE(waitFor([&] { return ready; }, 15000));
    player.play(1.0);
    // Playback moves on while the surface draws (no stall on the render API).
    ASSERT_TRUE(waitFor([&] { return player.currentTime() > 0.4; }, 15000));
    waitFor([] { return false; }, 200);

    const QImage image = surface.grabFramebuffer();
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
    player.pause();
    surface.setPlayer(nullptr);
}
