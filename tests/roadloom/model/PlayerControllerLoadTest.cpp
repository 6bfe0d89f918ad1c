#include "PlayerControllerHarness.h"

#include <QSignalSpy>

using namespace PlayerHarness;
using TestSupport::waitFor;

namespace {

const QString F = QStringLiteral("/card/A_F.mp4");
const QString R = QStringLiteral("/card/A_R.mp4");
const QString I = QStringLiteral("/card/A_I.mp4");

QStringList loads(const FakeVideoPlayer &player)
{
    return player.calls.filter(QRegularExpression("^load "));
}

} // namespace

class PlayerControllerLoad : public ControllerTest {};

TEST_F(PlayerControllerLoad, PlaysTheFirstTwoChannelsAndReadsAllOfThem)
{
    struct Case {
        const char *name;
        ChannelFiles files;
        QString master;
        QString follower; // empty: the follower stays without a file
    };
    const Case cases[] = {
        {"all three", {{Channel::front, F}, {Channel::rear, R}, {Channel::interior, I}}, F, R},
        {"rear and interior", {{Channel::rear, R}, {Channel::interior, I}}, R, I},
        {"front and interior", {{Channel::front, F}, {Channel::interior, I}}, F, I},
        {"front only", {{Channel::front, F}}, F, {}},
        {"interior only", {{Channel::interior, I}}, I, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        front.calls.clear();
        rear.calls.clear();
        loadFully(recording(QString::fromLatin1(c.name), c.files), videoFacts(10));
        EXPECT_EQ(loads(front), QStringList{QStringLiteral("load ") + c.master});
        EXPECT_EQ(controller->hasRear(), !c.follower.isEmpty());
        EXPECT_EQ(rear.hasFile(), !c.follower.isEmpty());
        if (!c.follower.isEmpty())
            EXPECT_EQ(loads(rear), QStringList{QStringLiteral("load ") + c.follower});
        else
            EXPECT_TRUE(loads(rear).isEmpty());
        EXPECT_EQ(controller->sources(), c.files);
        // Every file, played or not, is read for telemetry and inspected.
        QStringList paths;
        for (const auto &entry : c.files)
            paths.append(entry.second);
        EXPECT_EQ(controller->telemetry().source, paths.join('+'));
        ASSERT_EQ(controller->mediaInfo().size(), c.files.size());
        for (const auto &[channel, path] : c.files)
            EXPECT_EQ(controller->mediaInfo().at(channel).container, path);
        // The new file gets the controller's sound settings; the follower never plays sound.
        const qsizetype placed = front.calls.lastIndexOf(QStringLiteral("load ") + c.master);
        EXPECT_TRUE(front.calls.mid(placed).contains(QStringLiteral("volume 1")));
        EXPECT_TRUE(front.calls.mid(placed).contains(QStringLiteral("muted false")));
        EXPECT_TRUE(rear.calls.filter(QRegularExpression("^(volume|muted false)")).isEmpty());
        EXPECT_FALSE(controller->isLoading());
        EXPECT_FALSE(controller->isLoadingTelemetry());
        EXPECT_TRUE(controller->hasMedia());
    }
}

TEST_F(PlayerControllerLoad, ShowsTheRecordingAsTheCacheResolvedIt)
{
    const DashClip asked = recording("A", {{Channel::front, F}, {Channel::rear, R}});
    DashClip cached = asked;
    cached.files = {{Channel::front, QStringLiteral("/cache/A_F.mp4")}, {Channel::rear, R}};
    cached.cachedChannels = {Channel::front};
    script->resolved["A"] = cached;
    auto held = script->gate(QStringLiteral("resolve A"));

    controller->load(asked, false);
    // While the cache answers, the recording as asked for is shown, loading.
    EXPECT_EQ(controller->clip(), asked);
    EXPECT_TRUE(controller->isLoading());
    EXPECT_FALSE(controller->hasMedia());
    held->open();
    ASSERT_TRUE(waitFor([&] { return front.hasFile(); }));
    EXPECT_EQ(controller->clip(), cached);
    EXPECT_EQ(loads(front), QStringList{"load /cache/A_F.mp4"});
    EXPECT_TRUE(waitFor([&] { return script->calls().contains("inspect /cache/A_F.mp4"); }));
}

// Choosing another recording while one plays: until the new file is there, no notification shows the new
// recording as playable (a view would show its date at the start and offer its transport).
TEST_F(PlayerControllerLoad, TheNextRecordingIsNotPlayableBeforeItsFileIsLoaded)
{
    const DashClip a = recording("A", {{Channel::front, F}});
    const DashClip b = recording("B", {{Channel::front, QStringLiteral("/card/B_F.mp4")}});
    loadFully(a, videoFacts(10));
    controller->togglePlay();
    front.fireTick(4);
    ASSERT_TRUE(controller->hasMedia());

    QStringList seen; // every notification that showed B as playable
    const auto check = [&](const char *signal) {
        if (controller->clip() && controller->clip()->name == "B" && controller->hasMedia())
            seen.append(QString::fromLatin1(signal));
    };
    QObject::connect(controller.get(), &PlayerController::clipChanged, controller.get(),
                     [&] { check("clip"); });
    QObject::connect(controller.get(), &PlayerController::hasMediaChanged, controller.get(),
                     [&] { check("hasMedia"); });
    QObject::connect(controller.get(), &PlayerController::currentTimeChanged, controller.get(),
                     [&] { check("currentTime"); });
    QObject::connect(controller.get(), &PlayerController::durationChanged, controller.get(),
                     [&] { check("duration"); });
    QObject::connect(controller.get(), &PlayerController::isLoadingChanged, controller.get(),
                     [&] { check("isLoading"); });

    auto resolving = script->gate(QStringLiteral("resolve B"));
    controller->load(b, false);
    EXPECT_TRUE(controller->isLoading());
    EXPECT_FALSE(controller->hasMedia());
    resolving->open();
    ASSERT_TRUE(waitFor([&] { return front.hasFile() && loads(front).last().contains("B_F"); }));
    drain();
    EXPECT_TRUE(controller->isLoading());
    EXPECT_TRUE(seen.isEmpty()) << seen.join(", ").toStdString();

    front.fireReady(videoFacts(8));
    ASSERT_TRUE(waitFor([&] { return controller->hasMedia(); }));
    EXPECT_EQ(seen.value(0), "isLoading") << "playable once the file is there";
}

TEST_F(PlayerControllerLoad, ARecordingWithoutFilesShowsWhyAndLoadsNothing)
{
    DashClip gone = recording("Gone", {});
    gone.originalFiles = {{Channel::front, F}};
    gone.channelStates = {{Channel::front, StorageState::missing}};
    script->resolved["Gone"] = gone;
    QSignalSpy loading(controller.get(), &PlayerController::isLoadingChanged);

    controller->load(recording("Gone", {{Channel::front, F}}), true);
    ASSERT_TRUE(waitFor([&] { return controller->loadError().has_value(); }));
    drain();
    EXPECT_EQ(*controller->loadError(),
              "The original files of this recording were moved or deleted, and no cached copy exists.");
    EXPECT_EQ(controller->clip(), gone);
    EXPECT_FALSE(controller->hasMedia());
    EXPECT_EQ(loading.count(), 2); // while the cache answered
    EXPECT_FALSE(controller->isLoading());
    EXPECT_FALSE(controller->isLoadingTelemetry());
    EXPECT_TRUE(controller->telemetry().source.isEmpty());
    EXPECT_EQ(script->calls(), QStringList{"resolve Gone"});
    EXPECT_FALSE(front.hasFile());
    EXPECT_FALSE(controller->isPlaying());
}

// A file that is there but does not open is not reported as moved or deleted: the system's reason is shown.
TEST_F(PlayerControllerLoad, AFileThatDoesNotOpenSaysWhy)
{
    const QString moved =
        "The original files of this recording were moved or deleted, and no cached copy exists.";
    struct Case {
        const char *name;
        bool resolvedWithoutFiles;
        std::map<QString, int> openErrors;
        QString error;
    };
    const Case cases[] = {
        {"gone, its folder unreadable",
         true,
         {{F, EACCES}},
         "The file “A_F.mp4” can’t be read: Permission denied."},
        {"gone for good", true, {{F, ENOENT}}, moved},
        {"gone with its folder", true, {{F, ENOTDIR}}, moved},
        {"there, unreadable", false, {{F, EACCES}}, "The file “A_F.mp4” can’t be read: Permission denied."},
        {"there, rear failing", false, {{R, EIO}}, "The file “A_R.mp4” can’t be read: Input/output error."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        controller->load(std::nullopt, false);
        front.calls.clear();
        const QString name = QString::fromLatin1(c.name);
        const DashClip asked = recording(name, {{Channel::front, F}, {Channel::rear, R}});
        DashClip resolved = asked;
        if (c.resolvedWithoutFiles) {
            resolved.files.clear();
            resolved.originalFiles = asked.files;
        }
        {
            QMutexLocker lock(&script->mutex);
            script->resolved[name] = resolved;
            script->openErrors = c.openErrors;
        }
        controller->load(asked, true);
        ASSERT_TRUE(waitFor([&] { return controller->loadError().has_value(); }));
        EXPECT_EQ(*controller->loadError(), c.error);
        EXPECT_TRUE(loads(front).isEmpty());
        EXPECT_FALSE(controller->isLoading());
        EXPECT_FALSE(controller->hasMedia());
    }
}

TEST_F(PlayerControllerLoad, UnloadingPausesClearsAndResets)
{
    loadFully(recording("A", {{Channel::front, F}, {Channel::rear, R}}), videoFacts(10, {640, 480}, 25),
              true);
    front.fireTick(4);
    controller->setZoom(3);
    controller->setPan(QSizeF(20, 10));
    controller->setRotation(90);
    controller->setMirrored(true);
    controller->setSwapped(true);
    controller->setShowPiP(false);
    controller->setRate(2);
    controller->setVolume(0.5);
    controller->setMuted(true);
    ASSERT_TRUE(controller->isPlaying());
    front.calls.clear();
    rear.calls.clear();

    controller->load(std::nullopt, false);
    EXPECT_EQ(front.calls, (QStringList{"pause", "clear"}));
    EXPECT_EQ(rear.calls, (QStringList{"pause", "clear"}));
    EXPECT_FALSE(controller->isPlaying());
    EXPECT_FALSE(controller->clip().has_value());
    EXPECT_TRUE(controller->sources().empty());
    EXPECT_FALSE(controller->hasRear());
    EXPECT_TRUE(controller->telemetry().source.isEmpty());
    EXPECT_TRUE(controller->mediaInfo().empty());
    EXPECT_FALSE(controller->loadError().has_value());
    EXPECT_EQ(controller->currentTime(), 0.0);
    EXPECT_EQ(controller->duration(), 0.0);
    EXPECT_EQ(controller->zoom(), 1.0);
    EXPECT_EQ(controller->pan(), QSizeF(0, 0));
    EXPECT_FALSE(controller->isLoading());
    EXPECT_FALSE(controller->isLoadingTelemetry());
    EXPECT_FALSE(controller->hasMedia());
    // What the user chose stays across recordings.
    EXPECT_EQ(controller->rotation(), 90.0);
    EXPECT_TRUE(controller->mirrored());
    EXPECT_TRUE(controller->swapped());
    EXPECT_FALSE(controller->showPiP());
    EXPECT_EQ(controller->rate(), 2.0);
    EXPECT_EQ(controller->volume(), 0.5);
    EXPECT_TRUE(controller->isMuted());
    EXPECT_EQ(controller->frameRate(), 25.0);
    EXPECT_DOUBLE_EQ(controller->aspectRatio(), 4.0 / 3.0);
    drain();
    EXPECT_EQ(script->calls().filter("resolve").size(), 1);
}

TEST_F(PlayerControllerLoad, TakesItsShapeAndRateFromTheMasterFile)
{
    struct Case {
        const char *name;
        VideoFacts facts;
        double aspect;
        double frameRate;
    };
    VideoFacts soundOnly;
    soundOnly.duration = 7;
    VideoFacts unknownRate = videoFacts(8, {1920, 1080}, 0);
    VideoFacts anamorphic = videoFacts(8, {200, 100}, 25);
    anamorphic.pixelAspect = 2;
    const Case cases[] = {
        {"4:3 at 25", videoFacts(12, {640, 480}, 25), 4.0 / 3.0, 25},
        {"turned a quarter", videoFacts(12, {640, 480}, 30, 90), 0.75, 30},
        {"sound only keeps both", soundOnly, 0.75, 30},
        {"unknown rate keeps the rate", unknownRate, 16.0 / 9.0, 30},
        {"wide pixels", anamorphic, 4.0, 25},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(loadUntilPlaced(recording(QString::fromLatin1(c.name), {{Channel::front, F}}), true));
        EXPECT_TRUE(controller->isLoading());
        EXPECT_FALSE(controller->hasMedia());
        EXPECT_FALSE(controller->isPlaying());
        front.fireReady(c.facts);
        EXPECT_FALSE(controller->isLoading());
        EXPECT_EQ(controller->duration(), c.facts.duration);
        EXPECT_DOUBLE_EQ(controller->aspectRatio(), c.aspect);
        EXPECT_EQ(controller->frameRate(), c.frameRate);
        // Autoplay once ready, with or without a picture.
        EXPECT_TRUE(controller->isPlaying());
        EXPECT_EQ(front.calls.last(), "play 1");
    }
}

TEST_F(PlayerControllerLoad, AutoplaysBeforeTelemetryAndAppliesTelemetryBeforeMediaFacts)
{
    auto telemetry = script->gate("telemetry " + F);
    const DashClip clip = recording("A", {{Channel::front, F}, {Channel::rear, R}});
    ASSERT_TRUE(loadUntilPlaced(clip, true));
    EXPECT_TRUE(controller->isLoading());
    EXPECT_TRUE(controller->isLoadingTelemetry());
    // The media facts are in before the video is ready; they wait for the video and the telemetry.
    ASSERT_TRUE(
        waitFor([&] { return script->calls().filter("inspect").size() == 2 && script->finished() >= 3; }));
    drain();
    EXPECT_TRUE(controller->mediaInfo().empty());

    front.fireReady(videoFacts(10));
    rear.fireReady(videoFacts(10));
    EXPECT_FALSE(controller->isLoading());
    EXPECT_TRUE(controller->isPlaying());
    EXPECT_TRUE(controller->hasMedia());
    EXPECT_TRUE(controller->isLoadingTelemetry());
    EXPECT_EQ(rear.calls.filter("play").size(), 1);
    drain();
    EXPECT_TRUE(controller->mediaInfo().empty());

    QStringList order;
    QObject::connect(controller.get(), &PlayerController::telemetryChanged,
                     [&] { order.append("telemetry"); });
    QObject::connect(controller.get(), &PlayerController::isLoadingTelemetryChanged,
                     [&] { order.append("flag"); });
    QObject::connect(controller.get(), &PlayerController::mediaInfoChanged, [&] { order.append("media"); });
    telemetry->open();
    ASSERT_TRUE(waitFor([&] { return !controller->mediaInfo().empty(); }));
    EXPECT_EQ(order, (QStringList{"telemetry", "flag", "media"}));
    EXPECT_EQ(controller->telemetry().source, F + '+' + R);
}

TEST_F(PlayerControllerLoad, TelemetryArrivesAfterAVideoError)
{
    ASSERT_TRUE(loadUntilPlaced(recording("A", {{Channel::front, F}, {Channel::rear, R}}), true));
    front.fireFailure(QStringLiteral("The file “A_F.mp4” could not be played."));
    EXPECT_EQ(controller->loadError(), QStringLiteral("The file “A_F.mp4” could not be played."));
    EXPECT_FALSE(controller->isLoading());
    EXPECT_FALSE(controller->hasMedia());
    EXPECT_FALSE(controller->isPlaying());
    ASSERT_TRUE(waitFor([&] { return !controller->mediaInfo().empty(); }));
    EXPECT_FALSE(controller->isLoadingTelemetry());
    EXPECT_EQ(controller->telemetry().source, F + '+' + R);
    // What was placed stays.
    EXPECT_TRUE(controller->hasRear());
    EXPECT_EQ(controller->sources().size(), 2u);
}

TEST_F(PlayerControllerLoad, ConvertsAVIRecordings)
{
    const QString fa = QStringLiteral("/card/B_F.avi"), ra = QStringLiteral("/card/B_R.avi"),
                  ia = QStringLiteral("/card/B_I.avi");
    struct Case {
        const char *name;
        ChannelFiles files;
        std::map<QString, int> streamCounts;
        std::map<QString, int> made;
        QStringList conversions;
        ChannelFiles sources;
    };
    const Case cases[] = {
        {"two cameras in the front file",
         {{Channel::front, fa}, {Channel::rear, ra}, {Channel::interior, ia}},
         {{fa, 2}},
         {},
         {"convert " + fa + " 2", "convert " + ia + " 1"},
         {{Channel::front, fa + ".0.mov"},
          {Channel::rear, fa + ".1.mov"},
          {Channel::interior, ia + ".0.mov"}}},
        {"one camera per file",
         {{Channel::front, fa}, {Channel::rear, ra}},
         {{fa, 1}},
         {},
         {"convert " + fa + " 1", "convert " + ra + " 1"},
         {{Channel::front, fa + ".0.mov"}, {Channel::rear, ra + ".0.mov"}}},
        {"an unreadable front file counts one stream",
         {{Channel::front, fa}},
         {},
         {},
         {"convert " + fa + " 1"},
         {{Channel::front, fa + ".0.mov"}}},
        {"no front file",
         {{Channel::rear, ra}, {Channel::interior, ia}},
         {},
         {},
         {"convert " + ra + " 1", "convert " + ia + " 1"},
         {{Channel::rear, ra + ".0.mov"}, {Channel::interior, ia + ".0.mov"}}},
        {"ffmpeg gave fewer movies than streams",
         {{Channel::front, fa}, {Channel::rear, ra}},
         {{fa, 2}},
         {{fa, 1}},
         {"convert " + fa + " 2", "convert " + ra + " 1"},
         {{Channel::front, fa + ".0.mov"}, {Channel::rear, ra + ".0.mov"}}},
        {"only the primary file decides",
         {{Channel::front, F}, {Channel::rear, ra}},
         {},
         {},
         {},
         {{Channel::front, F}, {Channel::rear, ra}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto local = std::make_shared<Script>();
        local->streamCounts = c.streamCounts;
        local->convertedMovies = c.made;
        const Result<ChannelFiles> sources = PlayerController::playableSources(
            recording(QString::fromLatin1(c.name), c.files), local->services(local));
        ASSERT_TRUE(sources.ok());
        EXPECT_EQ(*sources, c.sources);
        EXPECT_EQ(local->calls().filter("convert"), c.conversions);
    }

    auto local = std::make_shared<Script>();
    local->convertFailure[ra] = QStringLiteral("ffmpeg failed: broken");
    const Result<ChannelFiles> failed = PlayerController::playableSources(
        recording("B", {{Channel::front, fa}, {Channel::rear, ra}, {Channel::interior, ia}}),
        local->services(local));
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error(), "ffmpeg failed: broken");
    EXPECT_TRUE(local->calls().filter("convert " + ia).isEmpty());
}

TEST_F(PlayerControllerLoad, LoadsConvertedMoviesAndShowsConversionErrors)
{
    const QString fa = QStringLiteral("/card/B_F.avi"), ra = QStringLiteral("/card/B_R.avi");
    script->streamCounts[fa] = 2;
    auto converting = script->gate("convert " + fa);
    const DashClip clip = recording("B", {{Channel::front, fa}, {Channel::rear, ra}});

    controller->load(clip, false);
    ASSERT_TRUE(waitFor([&] { return script->calls().contains("convert " + fa + " 2"); }));
    // The views show "Converting" from these two.
    EXPECT_TRUE(controller->isLoading());
    EXPECT_TRUE(controller->clip()->isAVI());
    EXPECT_FALSE(controller->hasMedia());
    converting->open();
    ASSERT_TRUE(waitFor([&] { return front.hasFile(); }));
    EXPECT_EQ(loads(front), QStringList{"load " + fa + ".0.mov"});
    EXPECT_EQ(loads(rear), QStringList{"load " + fa + ".1.mov"});
    EXPECT_TRUE(controller->isLoading());
    front.fireReady(videoFacts(60));
    EXPECT_TRUE(controller->hasMedia());
    // Inspection reads the camera's own files, not the movies.
    ASSERT_TRUE(waitFor([&] { return !controller->mediaInfo().empty(); }));
    EXPECT_EQ(controller->mediaInfo().at(Channel::front).container, fa);

    struct Failing {
        const char *name;
        std::map<QString, QString> failure;
        std::map<QString, int> made;
        QString message;
    };
    const Failing failures[] = {
        {"ffmpeg fails", {{fa, "ffmpeg could not convert"}}, {}, "ffmpeg could not convert"},
        {"ffmpeg is missing", {{fa, "AVI playback needs ffmpeg."}}, {}, "AVI playback needs ffmpeg."},
        {"no movie came out", {}, {{fa, 0}, {ra, 0}}, PlayerController::noPlayableFileMessage},
    };
    for (const Failing &f : failures) {
        SCOPED_TRACE(f.name);
        script->convertFailure = f.failure;
        script->convertedMovies = f.made;
        front.calls.clear();
        controller->load(clip, true);
        ASSERT_TRUE(waitFor([&] { return controller->loadError().has_value(); }));
        EXPECT_EQ(*controller->loadError(), f.message);
        EXPECT_FALSE(controller->isLoading());
        EXPECT_FALSE(controller->isPlaying());
        EXPECT_FALSE(front.hasFile());
        // Telemetry and media facts still arrive.
        ASSERT_TRUE(waitFor([&] { return !controller->mediaInfo().empty(); }));
        EXPECT_FALSE(controller->isLoadingTelemetry());
        EXPECT_EQ(controller->telemetry().source, fa + '+' + ra);
    }
    EXPECT_EQ(PlayerController::noPlayableFileMessage, QStringLiteral("The file doesn’t exist."));
}

TEST_F(PlayerControllerLoad, ASupersededLoadLeavesNoTrace)
{
    const QString fa = QStringLiteral("/card/A_F.avi"), fb = QStringLiteral("/card/B_F.mp4");
    struct Case {
        const char *name;
        QString heldAt; // where the older load is held until the newer one is done
        bool failConversion;
    };
    const Case cases[] = {
        {"while resolving", "resolve A", false},
        {"while converting", "convert " + fa, false},
        {"while converting, then failing", "convert " + fa, true},
        {"while reading telemetry", "telemetry " + fa, false},
        {"while inspecting", "inspect " + fa, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        script->clearGates();
        script->convertFailure.clear();
        if (c.failConversion)
            script->convertFailure[fa] = QStringLiteral("conversion failed");
        auto held = script->gate(c.heldAt);
        const DashClip a = recording("A", {{Channel::front, fa}});
        const DashClip b = recording("B", {{Channel::front, fb}});

        const qsizetype reached = script->calls().filter(c.heldAt).size();
        controller->load(a, true);
        ASSERT_TRUE(waitFor([&] { return script->calls().filter(c.heldAt).size() > reached; }));
        const bool aPlaced = front.hasFile();
        if (aPlaced)
            front.fireReady(videoFacts(30));
        loadFully(b, videoFacts(10, {640, 480}, 25));
        front.calls.clear();
        const int before = script->finished();
        held->open();
        ASSERT_TRUE(waitFor([&] { return script->finished() > before; }));
        drain();

        EXPECT_EQ(controller->clip(), b);
        EXPECT_EQ(controller->sources(), (ChannelFiles{{Channel::front, fb}}));
        EXPECT_TRUE(front.calls.isEmpty()) << front.calls.join(", ").toStdString();
        EXPECT_EQ(controller->telemetry().source, fb);
        ASSERT_EQ(controller->mediaInfo().size(), 1u);
        EXPECT_EQ(controller->mediaInfo().at(Channel::front).container, fb);
        EXPECT_FALSE(controller->loadError().has_value());
        EXPECT_FALSE(controller->isLoading());
        EXPECT_FALSE(controller->isLoadingTelemetry());
        EXPECT_FALSE(controller->isPlaying());
        EXPECT_EQ(controller->duration(), 10.0);
        controller->load(std::nullopt, false);
    }

    // The older telemetry arrives while the newer load still waits for its own.
    script->clearGates();
    auto older = script->gate("telemetry " + fa);
    auto newer = script->gate("telemetry " + fb);
    const qsizetype reached = script->calls().filter("telemetry " + fa).size();
    controller->load(recording("A", {{Channel::front, fa}}), false);
    ASSERT_TRUE(waitFor([&] { return script->calls().filter("telemetry " + fa).size() > reached; }));
    ASSERT_TRUE(loadUntilPlaced(recording("B", {{Channel::front, fb}})));
    front.fireReady(videoFacts(10));
    const int before = script->finished();
    older->open();
    ASSERT_TRUE(waitFor([&] { return script->finished() > before; }));
    drain();
    EXPECT_TRUE(controller->isLoadingTelemetry());
    EXPECT_TRUE(controller->telemetry().source.isEmpty());
    EXPECT_TRUE(controller->mediaInfo().empty());
    newer->open();
    ASSERT_TRUE(waitFor([&] { return !controller->mediaInfo().empty(); }));
    EXPECT_EQ(controller->telemetry().source, fb);
}

// A newer load that stops early lowers the flags an older load raised and will never lower.
TEST_F(PlayerControllerLoad, ALoadThatStopsEarlyLowersTheFlagsOfTheLoadItReplaced)
{
    const QString fa = QStringLiteral("/card/A_F.avi");
    script->resolved["Gone"] = recording("Gone", {});
    const std::optional<DashClip> newer[] = {std::nullopt, recording("Gone", {{Channel::front, F}})};
    for (const auto &next : newer) {
        SCOPED_TRACE(next ? "no files" : "nothing");
        script->clearGates();
        auto converting = script->gate("convert " + fa);
        auto telemetry = script->gate("telemetry " + fa);
        controller->load(recording("A", {{Channel::front, fa}}), true);
        ASSERT_TRUE(waitFor([&] { return controller->isLoading() && controller->isLoadingTelemetry(); }));

        controller->load(next, true);
        ASSERT_TRUE(waitFor([&] { return !controller->isLoading() && !controller->isLoadingTelemetry(); }));
        const int before = script->finished();
        converting->open();
        telemetry->open();
        ASSERT_TRUE(waitFor([&] { return script->finished() >= before + 2; }));
        drain();
        EXPECT_FALSE(controller->isLoading());
        EXPECT_FALSE(controller->isLoadingTelemetry());
        EXPECT_FALSE(front.hasFile());
        EXPECT_TRUE(controller->telemetry().source.isEmpty());
        EXPECT_EQ(controller->loadError().has_value(), next.has_value());
    }
}

TEST_F(PlayerControllerLoad, NotifiesOnlyOfChanges)
{
    const DashClip clip = recording("A", {{Channel::front, F}});
    loadFully(clip, videoFacts(10));
    QSignalSpy clipSpy(controller.get(), &PlayerController::clipChanged);
    QSignalSpy telemetrySpy(controller.get(), &PlayerController::telemetryChanged);
    QSignalSpy mediaSpy(controller.get(), &PlayerController::mediaInfoChanged);
    QSignalSpy durationSpy(controller.get(), &PlayerController::durationChanged);
    QSignalSpy zoomSpy(controller.get(), &PlayerController::zoomChanged);
    QSignalSpy hasMediaSpy(controller.get(), &PlayerController::hasMediaChanged);

    // The same recording again: the resets and the arrivals change values, the clip itself does not.
    loadFully(clip, videoFacts(10));
    EXPECT_EQ(clipSpy.count(), 0);
    EXPECT_EQ(durationSpy.count(), 2); // to 0, then back
    EXPECT_EQ(zoomSpy.count(), 0);
    EXPECT_EQ(hasMediaSpy.count(), 2); // off while loading, on when ready
    EXPECT_GE(telemetrySpy.count(), 1);
    EXPECT_GE(mediaSpy.count(), 1);

    controller->load(std::nullopt, false);
    telemetrySpy.clear();
    mediaSpy.clear();
    controller->load(std::nullopt, false);
    EXPECT_EQ(telemetrySpy.count(), 0);
    EXPECT_EQ(mediaSpy.count(), 0);
}
