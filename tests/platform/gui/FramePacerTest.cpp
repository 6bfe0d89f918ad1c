#include "platform/gui/FramePacer.h"

#include <gtest/gtest.h>

using Arrival = FramePacer::Arrival;
using Partner = FramePacer::Partner;
using Use = FramePacer::Use;

TEST(FramePacer, AFrameWaitsUpToSixtyPercentOfTheOtherCamerasFrame)
{
    const Partner playing30{true, 30};
    const struct {
        const char *what;
        bool bothShown;
        std::optional<Partner> other;
        int waitMs;
    } cases[] = {
        {"30 fps", true, playing30, 20},
        {"25 fps", true, Partner{true, 25}, 24},
        {"60 fps", true, Partner{true, 60}, 10},
        {"a slow camera waits no longer than 25 ms", true, Partner{true, 10}, 25},
        {"the other camera hidden", false, playing30, 0},
        {"the other camera paused", true, Partner{false, 30}, 0},
        {"its rate not known yet", true, Partner{true, 0}, 0},
        {"no other camera", true, std::nullopt, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        FramePacer pacer;
        EXPECT_EQ(pacer.partnerWaitMs(0, c.bothShown, c.other), c.waitMs);
        EXPECT_EQ(pacer.partnerWaitMs(1, c.bothShown, c.other), c.waitMs);
        const FramePacer::Compose next = pacer.afterFrame(0, c.bothShown, c.other, false);
        EXPECT_EQ(next.paintNow, c.waitMs == 0);
        EXPECT_EQ(next.waitMs, c.waitMs);
    }
}

TEST(FramePacer, AWaitEndsWhenTheOtherFrameIsInAndIsNeverRestarted)
{
    FramePacer pacer;
    const Partner rear{true, 30};
    // The front frame waits for the rear's.
    EXPECT_TRUE(pacer.takesNewFrameAtPaint(0));
    EXPECT_FALSE(pacer.drew(0));
    FramePacer::Compose next = pacer.afterFrame(0, true, rear, false);
    EXPECT_FALSE(next.paintNow);
    EXPECT_EQ(next.waitMs, 20);
    // Another front frame while that wait runs does not put it off.
    next = pacer.afterFrame(0, true, rear, true);
    EXPECT_FALSE(next.paintNow);
    EXPECT_EQ(next.waitMs, 0);
    // The rear frame comes: the front one is in, both show in one paint at once.
    EXPECT_FALSE(pacer.drew(1));
    next = pacer.afterFrame(1, true, Partner{true, 30}, true);
    EXPECT_TRUE(next.paintNow);
}

TEST(FramePacer, HoldsOneUnshownFrameUntilAPaintShowsIt)
{
    FramePacer pacer;
    // Nothing waits: a frame is taken at once.
    EXPECT_EQ(pacer.frameArrived(1, false, true), Arrival::take);
    EXPECT_FALSE(pacer.drew(1));
    EXPECT_FALSE(pacer.takesNewFrameAtPaint(1)) << "a paint shows the drawn frame first";
    // The next frame stays in mpv while the window paints the first.
    EXPECT_EQ(pacer.frameArrived(1, false, true), Arrival::holdUntilPaint);
    EXPECT_FALSE(pacer.takesNewFrameAtPaint(1)) << "the paint shows the drawn frame, not a newer one";
    EXPECT_TRUE(pacer.takesNewFrameAtPaint(0));
    EXPECT_FALSE(pacer.shown(0));
    EXPECT_TRUE(pacer.shown(1)) << "the held frame is asked for again";
    EXPECT_TRUE(pacer.takesNewFrameAtPaint(1));
    EXPECT_FALSE(pacer.shown(1)) << "once";
    EXPECT_EQ(pacer.frameArrived(1, false, true), Arrival::take);

    // A window that does not paint never lets a frame wait: the newer replaces the unshown one.
    EXPECT_FALSE(pacer.drew(1));
    EXPECT_EQ(pacer.frameArrived(1, false, false), Arrival::take);
    EXPECT_TRUE(pacer.drew(1)) << "a frame lost unseen";
    // The main camera drawn into the window shows the frame there before drawing over it.
    EXPECT_EQ(pacer.frameArrived(0, true, true), Arrival::take);
    pacer.drew(0);
    EXPECT_EQ(pacer.frameArrived(0, true, true), Arrival::showHeldFirst);
    EXPECT_FALSE(pacer.shown(0)) << "nothing was held in mpv";
}

TEST(FramePacer, AnUnshownFrameOfTheOtherCameraPaintsAtOnce)
{
    FramePacer pacer;
    pacer.drew(1);
    EXPECT_EQ(pacer.partnerWaitMs(0, true, Partner{true, 30}), 0);
    EXPECT_EQ(pacer.partnerWaitMs(1, true, Partner{true, 30}), 20) << "its own unshown frame does not count";
    pacer.shown(1);
    EXPECT_EQ(pacer.partnerWaitMs(0, true, Partner{true, 30}), 20);
}

TEST(FramePacer, AHiddenCamerasFramesAreTakenWithoutDrawing)
{
    const struct {
        bool shown, canDraw, newFrame, pictureEmpty;
        Use use;
    } cases[] = {
        {false, false, true, false, Use::skip}, {false, true, true, true, Use::skip},
        {false, false, false, true, Use::none}, {true, true, true, false, Use::draw},
        {true, true, false, true, Use::draw},   {true, true, false, false, Use::none},
        {true, false, true, true, Use::none},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.shown << c.canDraw << c.newFrame << c.pictureEmpty);
        EXPECT_EQ(FramePacer::use(c.shown, c.canDraw, c.newFrame, c.pictureEmpty), c.use);
    }
}

TEST(FramePacer, AChangeWaitsForThePlayingMainCamerasNextFrame)
{
    EXPECT_TRUE(FramePacer::waitsForNextFrame(true, false));
    EXPECT_FALSE(FramePacer::waitsForNextFrame(true, true)) << "an easing paints every step";
    EXPECT_FALSE(FramePacer::waitsForNextFrame(false, false));
    EXPECT_GT(FramePacer::lateUpdateMs, 1000 / 24) << "longer than a frame of a slow camera";
}
