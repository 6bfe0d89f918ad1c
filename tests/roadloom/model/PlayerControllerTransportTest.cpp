#include "PlayerControllerHarness.h"

#include <QSignalSpy>

#include <cmath>
#include <limits>

using namespace PlayerHarness;
using TestSupport::waitFor;

namespace {

const QString F = QStringLiteral("/card/A_F.mp4");
const QString R = QStringLiteral("/card/A_R.mp4");

QStringList moves(const FakeVideoPlayer &player)
{
    return player.calls.filter(QRegularExpression("^(seek|step|play|setRate)"));
}

} // namespace

class PlayerControllerTransport : public ControllerTest {
protected:
    // A two-channel recording of 10 s, loaded and paused at 0, with the players' calls forgotten.
    void loadTwoChannels(double duration = 10)
    {
        loadFully(recording("A", {{Channel::front, F}, {Channel::rear, R}}), videoFacts(duration));
        front.calls.clear();
        rear.calls.clear();
    }
};

TEST_F(PlayerControllerTransport, PlayRestartsOnlyAtTheEnd)
{
    struct Case {
        double at;
        bool restarts;
    };
    const Case cases[] = {{9.97, true}, {10, true}, {9.96, true}, {9.94, false}, {5, false}};
    loadTwoChannels();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.at);
        front.fireTick(c.at);
        front.calls.clear();
        rear.calls.clear();
        controller->play();
        const QString from = QString::number(c.restarts ? 0.0 : c.at);
        EXPECT_EQ(moves(front), c.restarts ? QStringList({"seek 0", "play 1"}) : QStringList({"play 1"}));
        // The follower, on another frame, is aligned to the master, then both start; a restart seeks both
        // to the same frame, so both start at once.
        EXPECT_EQ(moves(rear), (QStringList{"seek " + from, "play 1"}));
        EXPECT_EQ(controller->currentTime(), c.restarts ? 0.0 : c.at);
        EXPECT_TRUE(controller->isPlaying());
        controller->togglePlay();
        EXPECT_FALSE(controller->isPlaying());
        EXPECT_EQ(front.calls.last(), "pause");
        EXPECT_EQ(rear.calls.last(), "pause");
    }
}

TEST_F(PlayerControllerTransport, PlayNeedsAFileAndAKnownDurationToRestart)
{
    controller->play();
    EXPECT_FALSE(controller->isPlaying());
    EXPECT_TRUE(moves(front).isEmpty());

    // Placed but not ready: the duration is still 0, so playing never jumps to the start first.
    ASSERT_TRUE(loadUntilPlaced(recording("A", {{Channel::front, F}})));
    controller->play();
    EXPECT_TRUE(controller->isPlaying());
    EXPECT_EQ(moves(front), QStringList{"play 1"});
    EXPECT_TRUE(rear.calls.filter(QRegularExpression("^(seek|play|step)")).isEmpty());
}

TEST_F(PlayerControllerTransport, BothChannelsStartTogetherFromTheSameFrame)
{
    // The follower opens after the master: neither starts before it shows its first frame, and then it
    // needs no seek.
    ASSERT_TRUE(loadUntilPlaced(recording("A", {{Channel::front, F}, {Channel::rear, R}})));
    front.fireReady(videoFacts(10));
    controller->play();
    EXPECT_TRUE(controller->isPlaying());
    EXPECT_TRUE(moves(front).isEmpty());
    EXPECT_TRUE(moves(rear).isEmpty());
    rear.fireReady(videoFacts(10));
    EXPECT_EQ(moves(front), QStringList{"play 1"});
    EXPECT_EQ(moves(rear), QStringList{"play 1"});
    rear.setCurrentTime(0.1);
    front.fireTick(0.2);
    EXPECT_TRUE(rear.calls.filter("seek").isEmpty()) << rear.calls.join(", ").toStdString();

    // Paused on frames within half a frame of each other: no seek.
    controller->togglePlay();
    front.calls.clear();
    rear.calls.clear();
    front.setCurrentTime(2.0);
    rear.setCurrentTime(2.01);
    controller->play();
    EXPECT_EQ(moves(front), QStringList{"play 1"});
    EXPECT_EQ(moves(rear), QStringList{"play 1"});

    // A frame apart: the follower seeks to the master's frame, and both start once it shows it.
    controller->togglePlay();
    front.calls.clear();
    rear.calls.clear();
    rear.setCurrentTime(2.04);
    rear.holdJumps = true;
    controller->play();
    EXPECT_EQ(moves(rear), QStringList{"seek 2"});
    EXPECT_TRUE(moves(front).isEmpty());
    front.fireTick(2.0);
    EXPECT_EQ(moves(rear), QStringList{"seek 2"}) << "no correction while the start waits";
    rear.landJump();
    EXPECT_EQ(moves(front), QStringList{"play 1"});
    EXPECT_EQ(moves(rear), (QStringList{"seek 2", "play 1"}));
}

TEST_F(PlayerControllerTransport, AWaitingStartEndsWithAPauseAFailureOrItsTime)
{
    loadTwoChannels();
    rear.holdJumps = true;
    rear.setCurrentTime(1);
    controller->play();
    controller->togglePlay();
    rear.landJump();
    EXPECT_FALSE(controller->isPlaying());
    EXPECT_TRUE(moves(front).isEmpty()) << "a pause drops the start";

    // A follower that cannot open holds nothing back.
    rear.setCurrentTime(1);
    controller->play();
    rear.fireFailure(QStringLiteral("broken"));
    EXPECT_EQ(moves(front), QStringList{"play 1"});

    // One that never lands lets the master start alone after a while.
    controller->togglePlay();
    front.calls.clear();
    rear.calls.clear();
    rear.holdJumps = false;
    ASSERT_TRUE(loadUntilPlaced(recording("A", {{Channel::front, F}, {Channel::rear, R}})));
    front.fireReady(videoFacts(10));
    controller->play();
    EXPECT_TRUE(moves(front).isEmpty());
    EXPECT_TRUE(waitFor([&] { return !moves(front).isEmpty(); }, 5 * PlayerController::startWaitMs));
    EXPECT_EQ(moves(front), QStringList{"play 1"});
    EXPECT_EQ(moves(rear), QStringList{"play 1"});
}

TEST_F(PlayerControllerTransport, SeekClampsRoundsAndMovesThePlayheadFirst)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double asked;
        double playhead;
        QString players;
    };
    const Case cases[] = {
        {-3, 0, "seek 0"},
        {13, 10, "seek 10"},
        {nan, 0, "seek 0"},
        {inf, 10, "seek 10"},
        {-inf, 0, "seek 0"},
        {2.0001, 2.0001, "seek 2"},
        {1.2345, 1.2345, "seek 1.235"},
        {9.9999, 9.9999, "seek 10"},
    };
    loadTwoChannels();
    controller->play();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.asked);
        front.calls.clear();
        rear.calls.clear();
        qsizetype seeksWhenPlayheadMoved = -1;
        QMetaObject::Connection probe =
            QObject::connect(controller.get(), &PlayerController::currentTimeChanged,
                             [&] { seeksWhenPlayheadMoved = front.calls.size() + rear.calls.size(); });
        front.fireTick(5);
        seeksWhenPlayheadMoved = -1;
        front.calls.clear();
        rear.calls.clear();
        controller->seek(c.asked);
        QObject::disconnect(probe);
        EXPECT_EQ(controller->currentTime(), c.playhead);
        EXPECT_EQ(seeksWhenPlayheadMoved, 0);
        EXPECT_EQ(front.calls, QStringList{c.players});
        EXPECT_EQ(rear.calls, QStringList{c.players});
        EXPECT_TRUE(controller->isPlaying());
    }

    // Nothing loaded: every seek goes to 0.
    controller->load(std::nullopt, false);
    controller->seek(4);
    EXPECT_EQ(controller->currentTime(), 0.0);
}

TEST_F(PlayerControllerTransport, ReseeksADriftingFollowerOnlyWhilePlaying)
{
    struct Case {
        const char *name;
        bool playing;
        double master;
        double follower;
        bool reseeks;
    };
    const Case cases[] = {
        {"0.15 behind", true, 1.15, 1.0, false},     {"0.16 behind", true, 1.16, 1.0, true},
        {"0.2 ahead", true, 1.0, 1.2, true},         {"in step", true, 3.0, 3.0, false},
        {"far off, paused", false, 3.0, 1.0, false},
    };
    loadTwoChannels();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.playing != controller->isPlaying())
            controller->togglePlay();
        rear.setCurrentTime(c.follower);
        rear.calls.clear();
        front.fireTick(c.master);
        EXPECT_EQ(controller->currentTime(), c.master);
        EXPECT_EQ(rear.calls, c.reseeks ? QStringList{"seek " + QString::number(c.master)} : QStringList{});
    }

    // The follower goes to where the master is now, not to the time the tick carried.
    controller->play();
    rear.setCurrentTime(0);
    front.setCurrentTime(2.5);
    rear.calls.clear();
    emit front.tick(2.0);
    EXPECT_EQ(rear.calls, QStringList{"seek 2.5"});

    // Times that are not numbers never reach the playhead.
    emit front.tick(std::numeric_limits<double>::quiet_NaN());
    emit front.tick(std::numeric_limits<double>::infinity());
    EXPECT_EQ(controller->currentTime(), 2.0);
}

TEST_F(PlayerControllerTransport, StepPausesAndStepsBothChannels)
{
    loadTwoChannels();
    controller->play();
    front.calls.clear();
    rear.calls.clear();
    controller->step(-1);
    EXPECT_FALSE(controller->isPlaying());
    EXPECT_EQ(front.calls, (QStringList{"pause", "step -1"}));
    EXPECT_EQ(rear.calls, (QStringList{"pause", "step -1"}));
    controller->step(3);
    EXPECT_EQ(front.calls.last(), "step 3");
    EXPECT_EQ(rear.calls.last(), "step 3");
}

TEST_F(PlayerControllerTransport, RateWaitsForPlayWhilePausedAndAppliesAtOnceWhilePlaying)
{
    loadTwoChannels();
    QSignalSpy rateSpy(controller.get(), &PlayerController::rateChanged);
    controller->setRate(2);
    EXPECT_FALSE(controller->isPlaying());
    EXPECT_TRUE(moves(front).isEmpty());
    EXPECT_TRUE(moves(rear).isEmpty());
    controller->play();
    EXPECT_EQ(front.calls.last(), "play 2");
    EXPECT_EQ(rear.calls.last(), "play 2");

    controller->setRate(0.5);
    EXPECT_EQ(front.calls.last(), "setRate 0.5");
    EXPECT_EQ(rear.calls.last(), "setRate 0.5");
    controller->setRate(0.5);
    EXPECT_EQ(rateSpy.count(), 2);
}

TEST_F(PlayerControllerTransport, TheEndPausesBothAndCallsTheEndActionOnce)
{
    loadTwoChannels();
    int finished = 0;
    bool playingWhenCalled = true;
    controller->onFinished = [&] {
        ++finished;
        playingWhenCalled = controller->isPlaying();
    };
    controller->play();
    rear.setCurrentTime(9.95);
    rear.calls.clear();
    front.fireEnd();
    EXPECT_EQ(finished, 1);
    EXPECT_FALSE(playingWhenCalled);
    EXPECT_FALSE(controller->isPlaying());
    EXPECT_EQ(controller->currentTime(), 10.0);
    // The follower may run on a little past the master's end; it stops too.
    EXPECT_EQ(rear.calls, QStringList{"pause"});
    EXPECT_FALSE(rear.isPlaying());

    // Playing again starts over.
    front.calls.clear();
    controller->play();
    EXPECT_EQ(moves(front), (QStringList{"seek 0", "play 1"}));
    controller->onFinished = nullptr;
    front.fireEnd();
    EXPECT_EQ(finished, 1);
}

TEST_F(PlayerControllerTransport, OneChannelNeverMovesTheFollower)
{
    loadFully(recording("A", {{Channel::front, F}}), videoFacts(10));
    rear.calls.clear();
    controller->play();
    front.fireTick(3);
    controller->seek(5);
    controller->setRate(2);
    controller->step(1);
    controller->togglePlay();
    EXPECT_TRUE(moves(rear).isEmpty()) << rear.calls.join(", ").toStdString();
}

TEST_F(PlayerControllerTransport, SoundSettingsReachOnlyTheMasterOnEveryAssignment)
{
    loadTwoChannels();
    QSignalSpy volumeSpy(controller.get(), &PlayerController::volumeChanged);
    QSignalSpy mutedSpy(controller.get(), &PlayerController::isMutedChanged);
    controller->setVolume(0.5);
    controller->setVolume(0.5);
    controller->setMuted(true);
    controller->setMuted(true);
    EXPECT_EQ(front.calls, (QStringList{"volume 0.5", "volume 0.5", "muted true", "muted true"}));
    EXPECT_TRUE(rear.calls.isEmpty());
    EXPECT_EQ(volumeSpy.count(), 1);
    EXPECT_EQ(mutedSpy.count(), 1);

    // Setting the playhead directly moves no player.
    front.calls.clear();
    controller->setCurrentTime(7);
    EXPECT_EQ(controller->currentTime(), 7.0);
    EXPECT_TRUE(front.calls.isEmpty());
}

class PlayerControllerView : public ControllerTest {};

TEST_F(PlayerControllerView, ZoomStepsByAQuarterBetweenOneAndSix)
{
    const double in[] = {1.25,           1.5625,           1.953125,           2.44140625, 3.0517578125,
                         3.814697265625, 4.76837158203125, 5.9604644775390625, 6.0,        6.0};
    for (const double expected : in) {
        controller->zoomIn();
        EXPECT_EQ(controller->zoom(), expected);
    }

    controller->setZoom(1.5625);
    controller->setPan(QSizeF(30, -12));
    controller->zoomOut();
    EXPECT_EQ(controller->zoom(), 1.25);
    EXPECT_EQ(controller->pan(), QSizeF(30, -12));
    controller->zoomOut();
    EXPECT_EQ(controller->zoom(), 1.0);
    EXPECT_EQ(controller->pan(), QSizeF(0, 0));
    controller->zoomOut();
    EXPECT_EQ(controller->zoom(), 1.0);

    // A gesture may go below 1: the value is kept, the pan cleared, also on an equal assignment.
    controller->setZoom(0.5);
    EXPECT_EQ(controller->zoom(), 0.5);
    controller->setPan(QSizeF(4, 4));
    QSignalSpy zoomSpy(controller.get(), &PlayerController::zoomChanged);
    controller->setZoom(0.5);
    EXPECT_EQ(zoomSpy.count(), 0);
    EXPECT_EQ(controller->pan(), QSizeF(0, 0));
}

TEST_F(PlayerControllerView, ResetKeepsTheCameraLayout)
{
    controller->setSwapped(true);
    controller->setShowPiP(false);
    controller->setZoom(3);
    controller->setPan(QSizeF(5, 5));
    controller->setRotation(270);
    controller->setMirrored(true);
    controller->resetView();
    EXPECT_EQ(controller->zoom(), 1.0);
    EXPECT_EQ(controller->pan(), QSizeF(0, 0));
    EXPECT_EQ(controller->rotation(), 0.0);
    EXPECT_FALSE(controller->mirrored());
    EXPECT_TRUE(controller->swapped());
    EXPECT_FALSE(controller->showPiP());
}

TEST_F(PlayerControllerView, HasMediaOnlyWithAReadyRecordingWithoutError)
{
    EXPECT_FALSE(controller->hasMedia());
    auto telemetry = script->gate("telemetry " + F);
    ASSERT_TRUE(loadUntilPlaced(recording("A", {{Channel::front, F}})));
    EXPECT_FALSE(controller->hasMedia());
    front.fireReady(videoFacts(10));
    EXPECT_TRUE(controller->hasMedia());
    EXPECT_TRUE(controller->isLoadingTelemetry());
    telemetry->open();

    ASSERT_TRUE(loadUntilPlaced(recording("B", {{Channel::front, R}})));
    front.fireFailure(QStringLiteral("broken"));
    EXPECT_FALSE(controller->hasMedia());
}

TEST_F(PlayerControllerView, CapturesTheFrameOfEitherPlayer)
{
    Result<QImage> none = controller->frameImage(controller->front());
    ASSERT_FALSE(none.ok());
    EXPECT_EQ(none.error(), QStringLiteral("The file couldn’t be opened because there is no such file."));

    loadFully(recording("A", {{Channel::front, F}, {Channel::rear, R}}), videoFacts(10));
    QImage frontImage(4, 3, QImage::Format_RGB32);
    frontImage.fill(Qt::red);
    QImage rearImage(2, 2, QImage::Format_RGB32);
    rearImage.fill(Qt::blue);
    front.frameResult = frontImage;
    rear.frameResult = rearImage;
    EXPECT_EQ(*controller->frameImage(controller->front()), frontImage);
    EXPECT_EQ(*controller->frameImage(controller->rear()), rearImage);
    rear.frameResult = Failure{QStringLiteral("still loading")};
    EXPECT_EQ(controller->frameImage(controller->rear()).error(), "still loading");
}
