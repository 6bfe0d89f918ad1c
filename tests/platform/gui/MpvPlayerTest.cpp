#include "platform/gui/MpvPlayer.h"
#include "fixtures/FileGate.h"
#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <mpv/client.h>

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <memory>

using TestSupport::media;
using TestSupport::waitFor;

namespace {

constexpr int waitMs = 15000;

// Everything a player said, in order.
struct Heard {
    explicit Heard(VideoPlayer &player)
    {
        QObject::connect(&player, &VideoPlayer::ready,
                         [this](const VideoFacts &facts) { readies.append(facts); });
        QObject::connect(&player, &VideoPlayer::failed,
                         [this](const QString &text) { failures.append(text); });
        QObject::connect(&player, &VideoPlayer::tick, [this](double time) { ticks.append(time); });
        QObject::connect(&player, &VideoPlayer::ended, [this] { ++ends; });
    }
    QList<VideoFacts> readies;
    QStringList failures;
    QList<double> ticks;
    int ends = 0;
};

std::unique_ptr<MpvPlayer> headlessPlayer(bool audio = true)
{
    MpvPlayerOptions options;
    options.audio = audio;
    options.videoOutput = "null";
    options.audioOutput = "null";
    return std::make_unique<MpvPlayer>(options);
}

bool loadAndWait(MpvPlayer &player, Heard &heard, const QString &path)
{
    const qsizetype before = heard.readies.size();
    player.load(path);
    return waitFor([&] { return heard.readies.size() > before || !heard.failures.isEmpty(); }, waitMs) &&
           heard.readies.size() > before;
}

// Runs an action and waits for the tick that says its jump landed.
bool jumpAndWait(Heard &heard, const std::function<void()> &jump, const std::function<bool()> &landed = {})
{
    const qsizetype before = heard.ticks.size();
    jump();
    return waitFor([&] { return heard.ticks.size() > before && (!landed || landed()); }, waitMs);
}

// Frame N of player_grey.mp4 is a flat grey of luma 16 + 3 N; the grab is full-range RGB.
int shownGreyFrame(MpvPlayer &player)
{
    const Result<QImage> image = player.frameImage();
    if (!image.ok()) {
        ADD_FAILURE() << image.error().toStdString();
        return -1;
    }
    const int grey = qRed(image->pixel(image->width() / 2, image->height() / 2));
    return qRound(grey * 219.0 / 255.0 / 3.0);
}

} // namespace

TEST(MpvPlayer, ReportsTheFactsOfEachFileItLoads)
{
    struct Case {
        const char *file;
        double duration;
        bool hasVideo;
        QSize size;
        int rotation;
        double pixelAspect;
        double frameRate;
        QSizeF shown;
    };
    const Case cases[] = {
        {"player_av.mp4", 2.0, true, {320, 240}, 0, 1.0, 30.0, {320, 240}},
        {"player_video.mp4", 1.2, true, {200, 100}, 0, 2.0, 25.0, {400, 100}},
        {"player_rotated.mp4", 1.0, true, {320, 240}, 270, 1.0, 30.0, {240, 320}},
        {"player_audio.m4a", 1.0, false, {}, 0, 1.0, 0.0, {}},
    };
    auto player = headlessPlayer();
    Heard heard(*player);
    // One player replaces file after file, as the application's players do.
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        ASSERT_TRUE(loadAndWait(*player, heard, media(c.file)));
        const VideoFacts facts = heard.readies.last();
        EXPECT_EQ(player->facts(), facts);
        EXPECT_NEAR(facts.duration, c.duration, 0.05);
        EXPECT_EQ(player->duration(), facts.duration);
        EXPECT_EQ(facts.hasVideo, c.hasVideo);
        EXPECT_EQ(facts.size, c.size);
        EXPECT_EQ(facts.rotation, c.rotation);
        EXPECT_DOUBLE_EQ(facts.pixelAspect, c.pixelAspect);
        EXPECT_NEAR(facts.frameRate, c.frameRate, 0.01);
        EXPECT_EQ(facts.displaySize(), c.shown);
        EXPECT_EQ(player->currentTime(), 0.0);
        EXPECT_FALSE(player->isPlaying());
    }
    EXPECT_TRUE(heard.failures.isEmpty()) << heard.failures.join('\n').toStdString();

    // ffprobe reads the turn counter-clockwise from the same display matrix.
    if (TestSupport::haveProgram(QStringLiteral("ffprobe"))) {
        const auto probe =
            TestSupport::run(QStringLiteral("ffprobe"),
                             {"-v", "error", "-select_streams", "v:0", "-show_entries",
                              "stream_side_data=rotation", "-of", "csv=p=0", media("player_rotated.mp4")});
        ASSERT_TRUE(probe.ok());
        EXPECT_EQ((360 - probe.out.trimmed().toInt()) % 360, 270);
    }
}

TEST(MpvPlayer, FailsWithTheFileNameForMissingOrUnplayableFiles)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QByteArray noise(64 * 1024, '\0');
    QRandomGenerator generator(7);
    for (char &byte : noise)
        byte = char(generator.bounded(256));
    TestSupport::writeFile(dir.filePath("noise.mp4"), noise);
    TestSupport::writeFile(dir.filePath("empty.mp4"), {});
    TestSupport::makeFifo(dir.filePath("pipe_R.mp4"));

    const struct {
        QString path;
        QString text;
    } cases[] = {
        {dir.filePath("absent.mp4"), QStringLiteral("The file “absent.mp4” does not exist.")},
        {dir.filePath("noise.mp4"), QStringLiteral("The file “noise.mp4” could not be played: ")},
        {dir.filePath("empty.mp4"), QStringLiteral("The file “empty.mp4” could not be played: ")},
        // mpv would wait for a writer, and its shutdown with it.
        {dir.filePath("pipe_R.mp4"), QStringLiteral("“pipe_R.mp4” is not a regular file.")},
    };
    const TestSupport::Deadline deadline(120000, "the player waits on a named pipe");
    auto player = headlessPlayer();
    Heard heard(*player);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        heard.failures.clear();
        player->load(c.path);
        ASSERT_TRUE(waitFor([&] { return !heard.failures.isEmpty(); }, waitMs));
        EXPECT_TRUE(heard.failures.first().startsWith(c.text)) << heard.failures.first().toStdString();
        EXPECT_FALSE(player->frameImage().ok());
        EXPECT_FALSE(player->isSettling()) << "a file that failed holds no start back";
    }
    EXPECT_TRUE(heard.readies.isEmpty());
    // The player stays usable.
    heard.failures.clear();
    EXPECT_TRUE(loadAndWait(*player, heard, media("player_video.mp4")));
}

// A file on a card that stops answering: the load returns at once, and the file plays once the card answers.
TEST(MpvPlayer, AFileThatDoesNotAnswerHoldsOnlyItsLoad)
{
    FileGate gate;
    MpvPlayerOptions options;
    options.videoOutput = options.audioOutput = "null";
    options.beforeFileAccess = gate.function();
    MpvPlayer player(options);
    Heard heard(player);
    gate.close();
    TestSupport::atOnce("a load whose file does not answer", [&] { player.load(media("player_video.mp4")); });
    EXPECT_TRUE(player.hasFile());
    gate.open();
    EXPECT_TRUE(waitFor([&] { return !heard.readies.isEmpty(); }, waitMs));
}

TEST(MpvPlayer, LoadingAThenBReportsOnlyB)
{
    auto player = headlessPlayer();
    Heard heard(*player);
    QTemporaryDir dir;
    TestSupport::writeFile(dir.filePath("broken.mp4"), QByteArray(4096, 'x'));

    // A's error must not reach B. The sleeps hold the GUI thread while mpv finishes with A, so A's
    // events wait in the queue until B is loaded.
    player->load(dir.filePath("broken.mp4"));
    QThread::msleep(300);
    player->load(media("player_av.mp4"));
    ASSERT_TRUE(waitFor([&] { return !heard.readies.isEmpty(); }, waitMs));
    EXPECT_EQ(heard.readies.first().size, QSize(320, 240));

    // A playing into its end while B loads: no end, and only B's readiness.
    jumpAndWait(heard, [&] { player->seek(1.9); });
    player->play(1.0);
    QThread::msleep(400);
    player->load(media("player_video.mp4"));
    ASSERT_TRUE(waitFor([&] { return heard.readies.size() == 2; }, waitMs));
    waitFor([] { return false; }, 300);
    EXPECT_EQ(heard.readies.size(), 2);
    EXPECT_EQ(heard.readies.last().size, QSize(200, 100));
    EXPECT_EQ(heard.ends, 0);
    EXPECT_TRUE(heard.failures.isEmpty()) << heard.failures.join('\n').toStdString();
    EXPECT_EQ(player->currentTime(), 0.0);
    EXPECT_FALSE(player->isPlaying());
}

TEST(MpvPlayer, ExactSeekShowsTheFrameThatCoversTheTarget)
{
    auto player = headlessPlayer();
    Heard heard(*player);
    // Seeks made before the file is ready wait for it, and only the latest is made.
    player->load(media("player_grey.mp4"));
    player->seek(0.3);
    player->seek(1.25);
    EXPECT_EQ(player->currentTime(), 1.25);
    EXPECT_TRUE(player->isSettling());
    ASSERT_TRUE(waitFor([&] { return !heard.readies.isEmpty() && !heard.ticks.isEmpty(); }, waitMs));
    EXPECT_FALSE(player->isSettling());
    EXPECT_EQ(heard.ticks, QList<double>{1.25});
    EXPECT_EQ(shownGreyFrame(*player), 37);

    const struct {
        double target;
        int frame;
        double time;
    } cases[] = {
        {0.0, 0, 0.0},        {0.5, 15, 0.5}, {0.51, 15, 0.51}, {0.49, 14, 0.49},
        {0.5332, 15, 0.5332}, {1.0, 30, 1.0}, {0.02, 0, 0.02},  {1.999, 59, 1.999},
        {2.0, 59, 2.0},       {7.0, 59, 2.0}, {-3.0, 0, 0.0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.target);
        ASSERT_TRUE(jumpAndWait(heard, [&] {
            player->seek(c.target);
            EXPECT_TRUE(player->isSettling());
        }));
        EXPECT_FALSE(player->isSettling());
        EXPECT_EQ(shownGreyFrame(*player), c.frame);
        EXPECT_DOUBLE_EQ(player->currentTime(), c.time);
        EXPECT_DOUBLE_EQ(heard.ticks.last(), c.time);
    }
}

TEST(MpvPlayer, StepsMoveByFramesAndPause)
{
    auto player = headlessPlayer();
    Heard heard(*player);
    ASSERT_TRUE(loadAndWait(*player, heard, media("player_grey.mp4")));
    ASSERT_TRUE(jumpAndWait(heard, [&] { player->seek(0.51); }));
    ASSERT_EQ(shownGreyFrame(*player), 15);

    const struct {
        int frames;
        int frame;
    } cases[] = {{1, 16}, {-1, 15}, {-2, 13}, {3, 16}, {-1, 15}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.frames);
        const double expected = c.frame / 30.0;
        ASSERT_TRUE(jumpAndWait(
            heard, [&] { player->step(c.frames); },
            [&] { return std::abs(player->currentTime() - expected) < 1e-3; }));
        EXPECT_EQ(shownGreyFrame(*player), c.frame);
    }

    // A step while playing pauses first.
    player->play(1.0);
    ASSERT_TRUE(player->isPlaying());
    waitFor([] { return false; }, 100);
    ASSERT_TRUE(jumpAndWait(
        heard, [&] { player->step(-1); }, [&] { return !player->isPlaying(); }));
    waitFor([] { return false; }, 300);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_NEAR(player->currentTime() * 30.0, shownGreyFrame(*player), 1e-3);
}

TEST(MpvPlayer, PlayingToTheEndReportsItOnceAtTheDuration)
{
    auto player = headlessPlayer();
    Heard heard(*player);
    ASSERT_TRUE(loadAndWait(*player, heard, media("player_av.mp4")));
    const double duration = player->duration();
    ASSERT_TRUE(jumpAndWait(heard, [&] { player->seek(1.4); }));
    const qsizetype before = heard.ticks.size();
    player->play(2.0);
    EXPECT_TRUE(player->isPlaying());
    ASSERT_TRUE(waitFor([&] { return heard.ends > 0; }, waitMs));
    waitFor([] { return false; }, 400);
    EXPECT_EQ(heard.ends, 1);
    EXPECT_FALSE(player->isPlaying());
    EXPECT_EQ(player->currentTime(), duration);
    EXPECT_EQ(heard.ticks.last(), duration);
    // 0.3 s of playback ticks about every 1/30 s, forward only.
    const QList<double> played = heard.ticks.mid(before);
    EXPECT_GE(played.size(), 5);
    EXPECT_TRUE(std::is_sorted(played.begin(), played.end()));

    // Playing again from the end ends again at once; from before it, plays on.
    player->play(1.0);
    ASSERT_TRUE(waitFor([&] { return heard.ends == 2; }, waitMs));
    ASSERT_TRUE(jumpAndWait(heard, [&] { player->seek(0.5); }));
    player->play(1.0);
    ASSERT_TRUE(waitFor([&] { return player->currentTime() > 0.6; }, waitMs));
    player->pause();
    EXPECT_EQ(heard.ends, 2);
    EXPECT_LT(player->currentTime(), duration);
}

TEST(MpvPlayer, SeekingPastTheEndWhilePausedReportsNoEnd)
{
    auto player = headlessPlayer();
    Heard heard(*player);
    ASSERT_TRUE(loadAndWait(*player, heard, media("player_grey.mp4")));
    ASSERT_TRUE(jumpAndWait(heard, [&] { player->seek(30.0); }));
    waitFor([] { return false; }, 400);
    EXPECT_EQ(heard.ends, 0);
    EXPECT_EQ(player->currentTime(), player->duration());
    EXPECT_EQ(shownGreyFrame(*player), 59);
}

TEST(MpvPlayer, RotatedFrameIsGrabbedUpright)
{
    auto player = headlessPlayer();
    Heard heard(*player);
    ASSERT_TRUE(loadAndWait(*player, heard, media("player_rotated.mp4")));
    const Result<QImage> grabbed = player->frameImage();
    ASSERT_TRUE(grabbed.ok()) << grabbed.error().toStdString();
    const QImage image = grabbed->convertToFormat(QImage::Format_Grayscale8);
    ASSERT_EQ(image.size(), QSize(240, 320));

    // ffmpeg turns the picture by the same display matrix on its own.
    if (!TestSupport::haveProgram(QStringLiteral("ffmpeg")))
        GTEST_SKIP() << "ffmpeg is missing";
    const auto decoded = TestSupport::run(QStringLiteral("ffmpeg"),
                                          {"-v", "error", "-i", media("player_rotated.mp4"), "-frames:v", "1",
                                           "-f", "rawvideo", "-pix_fmt", "gray", "-"});
    ASSERT_TRUE(decoded.ok());
    ASSERT_EQ(decoded.out.size(), 240 * 320);
    for (int y = 20; y < 320; y += 40) {
        for (int x = 20; x < 240; x += 40) {
            const int ours = qGray(image.pixel(x, y));
            const int theirs = quint8(decoded.out[y * 240 + x]);
            EXPECT_NEAR(ours, theirs, 12) << x << "," << y;
        }
    }
}

TEST(MpvPlayer, FrameImageNeedsAFileWithAPicture)
{
    auto player = headlessPlayer();
    Heard heard(*player);
    EXPECT_EQ(player->frameImage().error(), QStringLiteral("No video is loaded."));
    ASSERT_TRUE(loadAndWait(*player, heard, media("player_audio.m4a")));
    EXPECT_EQ(player->frameImage().error(), QStringLiteral("“player_audio.m4a” has no picture."));
    ASSERT_TRUE(loadAndWait(*player, heard, media("player_grey.mp4")));
    EXPECT_EQ(player->frameImage()->size(), QSize(64, 48));
    player->clear();
    EXPECT_FALSE(player->hasFile());
    EXPECT_EQ(player->frameImage().error(), QStringLiteral("No video is loaded."));
    EXPECT_EQ(player->duration(), 0.0);
}

TEST(MpvPlayer, VolumeMuteAndTheSilentPlayer)
{
    auto readDouble = [](MpvPlayer &player, const char *name) {
        double value = -1;
        mpv_get_property(player.handle(), name, MPV_FORMAT_DOUBLE, &value);
        return value;
    };
    auto readText = [](MpvPlayer &player, const char *name) {
        char *text = mpv_get_property_string(player.handle(), name);
        const QString value = QString::fromUtf8(text);
        mpv_free(text);
        return value;
    };
    auto player = headlessPlayer();
    for (const auto &[volume, expected] : {std::pair{0.25, 25.0}, {1.0, 100.0}, {3.0, 100.0}, {-1.0, 0.0}}) {
        player->setVolume(volume);
        EXPECT_DOUBLE_EQ(readDouble(*player, "volume"), expected) << volume;
    }
    player->setMuted(true);
    EXPECT_EQ(readText(*player, "mute"), QStringLiteral("yes"));
    player->setMuted(false);
    EXPECT_EQ(readText(*player, "mute"), QStringLiteral("no"));

    // mpv starts on first need: what was set before holds once it has started.
    auto early = headlessPlayer();
    early->setMuted(true);
    early->setVolume(0.5);
    EXPECT_EQ(readText(*early, "mute"), QStringLiteral("yes"));
    EXPECT_DOUBLE_EQ(readDouble(*early, "volume"), 50.0);

    // The second player never opens the sound of its files.
    auto silent = headlessPlayer(false);
    Heard heard(*silent);
    ASSERT_TRUE(loadAndWait(*silent, heard, media("player_av.mp4")));
    EXPECT_EQ(readText(*silent, "aid"), QStringLiteral("no"));
    EXPECT_TRUE(readText(*silent, "current-ao").isEmpty());
    EXPECT_TRUE(heard.readies.first().hasVideo);
}
