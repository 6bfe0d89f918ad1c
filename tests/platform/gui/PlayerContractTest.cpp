// What the player controller relies on, checked on the libmpv player and on the scripted fake the
// controller's tests use, so that the fake never promises what the real player does not do.
#include "fixtures/FakeVideoPlayer.h"
#include "fixtures/TestSupport.h"
#include "platform/gui/MpvPlayer.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct MpvSide {
    static std::unique_ptr<VideoPlayer> make()
    {
        MpvPlayerOptions options;
        options.videoOutput = "null";
        options.audioOutput = "null";
        return std::make_unique<MpvPlayer>(options);
    }
    static bool loadReady(VideoPlayer &player)
    {
        bool ready = false;
        QObject scope; // ends the connection with this call
        QObject::connect(&player, &VideoPlayer::ready, &scope, [&] { ready = true; });
        player.load(TestSupport::media("player_grey.mp4"));
        return TestSupport::waitFor([&] { return ready; }, 15000);
    }
};

struct FakeSide {
    static std::unique_ptr<VideoPlayer> make() { return std::make_unique<FakeVideoPlayer>(); }
    static bool loadReady(VideoPlayer &player)
    {
        auto &fake = static_cast<FakeVideoPlayer &>(player);
        fake.load(TestSupport::media("player_grey.mp4"));
        VideoFacts facts;
        facts.duration = 2.0;
        facts.hasVideo = true;
        facts.size = QSize(64, 48);
        facts.frameRate = 30;
        fake.fireReady(facts);
        return true;
    }
};

template <class Side> class PlayerContract : public testing::Test {
};

using Sides = testing::Types<MpvSide, FakeSide>;
TYPED_TEST_SUITE(PlayerContract, Sides);

TYPED_TEST(PlayerContract, DoesNothingWithoutAFile)
{
    auto player = TypeParam::make();
    EXPECT_FALSE(player->hasFile());
    EXPECT_FALSE(player->facts().has_value());
    player->play(1.0);
    EXPECT_FALSE(player->isPlaying());
    player->seek(1.0);
    EXPECT_EQ(player->currentTime(), 0.0);
    EXPECT_EQ(player->duration(), 0.0);
    EXPECT_EQ(player->frameImage().error(), QStringLiteral("No video is loaded."));
}

TYPED_TEST(PlayerContract, SeekClampsAndMovesTheTimeAtOnce)
{
    auto player = TypeParam::make();
    ASSERT_TRUE(TypeParam::loadReady(*player));
    EXPECT_TRUE(player->hasFile());
    EXPECT_DOUBLE_EQ(player->duration(), 2.0);
    EXPECT_EQ(player->facts()->size, QSize(64, 48));
    for (const auto &[target, time] : {std::pair{-3.0, 0.0}, {0.75, 0.75}, {12.0, 2.0}, {qQNaN(), 0.0}}) {
        player->seek(target);
        EXPECT_DOUBLE_EQ(player->currentTime(), time) << target;
    }
}

TYPED_TEST(PlayerContract, StepPausesAndLoadStartsPausedAtZero)
{
    auto player = TypeParam::make();
    ASSERT_TRUE(TypeParam::loadReady(*player));
    player->play(1.0);
    EXPECT_TRUE(player->isPlaying());
    player->step(-1);
    EXPECT_FALSE(player->isPlaying());
    player->play(1.0);
    ASSERT_TRUE(TypeParam::loadReady(*player));
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(player->currentTime(), 0.0);
    player->clear();
    EXPECT_FALSE(player->hasFile());
    EXPECT_EQ(player->duration(), 0.0);
}

} // namespace
