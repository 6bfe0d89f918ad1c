#include "roadcore/FFmpeg.h"

#include "fixtures/TestSupport.h"
#include "platform/Defaults.h"
#include "platform/StandardFolders.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimeZone>

#include <thread>

namespace {

using TestSupport::ScopedEnv;

// Stands in for ffmpeg: logs each run's arguments (one per line after a "RUN" line) and behaves as
// FAKE_FFMPEG_MODE says.
const char *fakeScript = R"(#!/bin/sh
{ echo RUN; for a in "$@"; do printf '%s\n' "$a"; done; } >> "$FAKE_FFMPEG_LOG"
for out; do :; done
case "$FAKE_FFMPEG_MODE" in
ok) : > "$out"; exit 0 ;;
slow) sleep 0.4; : > "$out"; exit 0 ;;
rewrap-fails)
    case " $* " in *" copy "*) echo "cannot rewrap" >&2; exit 1 ;; esac
    : > "$out"; exit 0 ;;
fails) cat "$FAKE_FFMPEG_ERRORS" >&2; exit 1 ;;
quiet) exit 0 ;;
esac
exit 3
)";

class FFmpegTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        fake = dir.filePath("ffmpeg");
        TestSupport::writeFile(fake, fakeScript);
        QFile::setPermissions(fake, QFile::permissions(fake) | QFile::ExeOwner);
        log = dir.filePath("runs.log");
        avi = dir.filePath("20250101_120000_F.avi");
        TestSupport::writeFile(avi, "RIFF");
        setModified(avi, 1735732800);
        QDir(StandardFolders::converted()).removeRecursively();
        Defaults::standard().setValue(FFmpeg::pathDefaultsKey, fake);
    }
    void TearDown() override { Defaults::standard().remove(FFmpeg::pathDefaultsKey); }

    static void setModified(const QString &path, qint64 seconds)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC),
                                     QFileDevice::FileModificationTime));
    }

    // The argument vectors of every run so far.
    QList<QStringList> runs() const
    {
        QList<QStringList> result;
        const QStringList lines =
            QString::fromUtf8(TestSupport::readFile(log)).split('\n', Qt::SkipEmptyParts);
        for (const QString &line : lines) {
            if (line == "RUN")
                result.append(QStringList());
            else if (!result.isEmpty())
                result.last().append(line);
        }
        return result;
    }

    QStringList expectedArguments(int stream, const QString &partial, bool reencode) const
    {
        QStringList a{"-y",   "-v",     "error", "-i", avi, "-map", QString("0:v:%1").arg(stream),
                      "-map", "0:a:0?", "-c:v"};
        if (reencode)
            a << "libx264"
              << "-b:v"
              << "12M";
        else
            a << "copy";
        return a << "-c:a"
                 << "aac" << partial;
    }

    QString cached(const QString &name) const { return StandardFolders::converted() + "/" + name; }

    QTemporaryDir dir;
    QString fake, log, avi;
};

TEST_F(FFmpegTest, NamesMoviesAfterSourceAndModificationTime)
{
    EXPECT_EQ(FFmpeg::movieName(avi, 0), "20250101_120000_F-1735732800_f.mov");
    EXPECT_EQ(FFmpeg::movieName(avi, 1), "20250101_120000_F-1735732800_r.mov");
    EXPECT_EQ(FFmpeg::movieName(avi, 2), "20250101_120000_F-1735732800_i.mov");
    EXPECT_EQ(FFmpeg::movieName(dir.filePath("a.b.AVI"), 0), "a.b-0_f.mov"); // unreadable: time 0
    const QString dotted = dir.filePath("trip.2024.avi");
    TestSupport::writeFile(dotted, "x");
    setModified(dotted, 1700000000);
    EXPECT_EQ(FFmpeg::movieName(dotted, 0), "trip.2024-1700000000_f.mov");
}

TEST_F(FFmpegTest, SearchesTheChosenPathThenTheUsualPlaces)
{
    EXPECT_EQ(FFmpeg::candidates().first(), fake);
    EXPECT_EQ(FFmpeg::candidates().mid(FFmpeg::candidates().size() - 2),
              (QStringList{"/usr/bin/ffmpeg", "/usr/local/bin/ffmpeg"}));
    EXPECT_EQ(FFmpeg::executable(), fake);

    // A chosen path that is not an executable file is skipped; the text is used as stored.
    const QString plain = dir.filePath("not-executable");
    TestSupport::writeFile(plain, "x");
    for (const QString &chosen : {plain, dir.path(), QString(" ") + fake}) {
        Defaults::standard().setValue(FFmpeg::pathDefaultsKey, chosen);
        EXPECT_EQ(FFmpeg::candidates().first(), chosen);
        EXPECT_NE(FFmpeg::executable(), chosen);
    }
    Defaults::standard().setValue(FFmpeg::pathDefaultsKey, QString());
    EXPECT_EQ(FFmpeg::candidates().first(), "/usr/bin/ffmpeg");

    EXPECT_EQ(FFmpeg::cacheDirectory(), StandardFolders::converted());
    EXPECT_TRUE(QFileInfo(FFmpeg::cacheDirectory()).isDir());
}

TEST_F(FFmpegTest, RunsTheRewrapOncePerStreamWithExactArguments)
{
    ScopedEnv logEnv("FAKE_FFMPEG_LOG", QFile::encodeName(log));
    ScopedEnv mode("FAKE_FFMPEG_MODE", "ok");

    const QString front = cached("20250101_120000_F-1735732800_f.mov");
    for (int requested : {0, -4, 1}) {
        QFile::remove(front);
        QFile::remove(log);
        const Result<QStringList> movies = FFmpeg::playableStreams(avi, requested);
        ASSERT_TRUE(movies) << movies.error().toStdString();
        EXPECT_EQ(*movies, QStringList{front});
        ASSERT_EQ(runs().size(), 1);
        EXPECT_EQ(runs()[0], expectedArguments(0, cached("20250101_120000_F-1735732800_f.part.mov"), false));
    }

    QFile::remove(log);
    const Result<QStringList> three = FFmpeg::playableStreams(avi, 5);
    ASSERT_TRUE(three);
    EXPECT_EQ(*three, (QStringList{front, cached("20250101_120000_F-1735732800_r.mov"),
                                   cached("20250101_120000_F-1735732800_i.mov")}));
    // Stream 0 was converted already: only 1 and 2 run, and nothing partial is left.
    ASSERT_EQ(runs().size(), 2);
    EXPECT_EQ(runs()[0], expectedArguments(1, cached("20250101_120000_F-1735732800_r.part.mov"), false));
    EXPECT_EQ(runs()[1], expectedArguments(2, cached("20250101_120000_F-1735732800_i.part.mov"), false));
    EXPECT_TRUE(QDir(StandardFolders::converted()).entryList({"*.part.mov"}, QDir::Files).isEmpty());

    // Cached movies start no process; a touched source is converted again under a new name.
    QFile::remove(log);
    EXPECT_EQ(*FFmpeg::playableStreams(avi, 3), *three);
    EXPECT_TRUE(runs().isEmpty());
    setModified(avi, 1735732801);
    EXPECT_EQ(*FFmpeg::playableStreams(avi, 1), QStringList{cached("20250101_120000_F-1735732801_f.mov")});
    EXPECT_EQ(runs().size(), 1);
}

TEST_F(FFmpegTest, ReencodesWhenTheRewrapFails)
{
    ScopedEnv logEnv("FAKE_FFMPEG_LOG", QFile::encodeName(log));
    ScopedEnv mode("FAKE_FFMPEG_MODE", "rewrap-fails");
    const Result<QStringList> movies = FFmpeg::playableStreams(avi, 1);
    ASSERT_TRUE(movies) << movies.error().toStdString();
    EXPECT_EQ(*movies, QStringList{cached("20250101_120000_F-1735732800_f.mov")});
    const QString partial = cached("20250101_120000_F-1735732800_f.part.mov");
    ASSERT_EQ(runs().size(), 2);
    EXPECT_EQ(runs()[0], expectedArguments(0, partial, false));
    EXPECT_EQ(runs()[1], expectedArguments(0, partial, true));
}

TEST_F(FFmpegTest, ReportsTheTailOfTheSecondRunsErrors)
{
    ScopedEnv logEnv("FAKE_FFMPEG_LOG", QFile::encodeName(log));
    ScopedEnv mode("FAKE_FFMPEG_MODE", "fails");
    const QString errors = dir.filePath("errors.txt");
    ScopedEnv errorsEnv("FAKE_FFMPEG_ERRORS", QFile::encodeName(errors));
    const QString header = "ffmpeg could not convert this file.\n\n";

    // Each "e" with a combining acute accent is one character of two code units.
    QString accented;
    for (int i = 0; i < 700; ++i)
        accented += QString("e") + QChar(0x0301);
    const QString emoji = QString::fromUtf8("\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA"); // one flag, four code units
    const struct {
        QString output;
        QString shown;
    } cases[] = {
        {"short", "short"},
        {QString(600, 'a'), QString(600, 'a')},
        {"X" + QString(600, 'a'), QString(600, 'a')},
        {accented, accented.right(1200)},
        {QString(599, 'a') + emoji, QString(599, 'a') + emoji},
        {"b" + QString(599, 'a') + emoji, QString(599, 'a') + emoji},
    };
    for (const auto &c : cases) {
        TestSupport::writeFile(errors, c.output.toUtf8());
        QFile::remove(log);
        const Result<QStringList> movies = FFmpeg::playableStreams(avi, 1);
        ASSERT_FALSE(movies);
        EXPECT_EQ(movies.error(), header + c.shown);
        EXPECT_EQ(runs().size(), 2);
    }
    EXPECT_EQ(FFmpeg::Failure::failed(accented).payload, accented);
    EXPECT_EQ(FFmpeg::Failure::failed(accented).errorDescription(), header + accented.right(1200));
}

TEST_F(FFmpegTest, MegabytesOfErrorOutputDoNotStall)
{
    const QString errors = dir.filePath("errors.txt");
    QByteArray flood(12 * 1024 * 1024, 'x');
    flood.append("the last words");
    TestSupport::writeFile(errors, flood);
    ScopedEnv logEnv("FAKE_FFMPEG_LOG", QFile::encodeName(log));
    ScopedEnv mode("FAKE_FFMPEG_MODE", "fails");
    ScopedEnv errorsEnv("FAKE_FFMPEG_ERRORS", QFile::encodeName(errors));

    const Result<FFmpeg::RunOutcome> outcome = FFmpeg::run(fake, {"-i", avi, "out.mov"});
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->status, 1);
    EXPECT_EQ(outcome->log.size(), flood.size());
    EXPECT_TRUE(outcome->log.endsWith("the last words"));

    const Result<QStringList> movies = FFmpeg::playableStreams(avi, 1);
    ASSERT_FALSE(movies);
    EXPECT_TRUE(movies.error().endsWith(QString(586, 'x') + "the last words"));
}

TEST_F(FFmpegTest, MissingProgramAndLaunchErrors)
{
    const QString missingText =
        "AVI playback needs ffmpeg. Install it with your package manager (for example: sudo "
        "apt install ffmpeg) or choose its location in Settings.";
    EXPECT_EQ(FFmpeg::Failure::missing().errorDescription(), missingText);

    // Missing even when the movie is cached already.
    TestSupport::writeFile(cached("20250101_120000_F-1735732800_f.mov"), "movie");
    const Result<QStringList> movies = FFmpeg::playableStreams(avi, 1, std::nullopt);
    ASSERT_FALSE(movies);
    EXPECT_EQ(movies.error(), missingText);

    const Result<FFmpeg::RunOutcome> launch = FFmpeg::run(dir.filePath("no-such-program"), {});
    ASSERT_FALSE(launch);
    EXPECT_FALSE(launch.error().isEmpty());

    // A run that succeeds without writing the movie cannot move it into place.
    ScopedEnv logEnv("FAKE_FFMPEG_LOG", QFile::encodeName(log));
    ScopedEnv mode("FAKE_FFMPEG_MODE", "quiet");
    EXPECT_FALSE(FFmpeg::playableStreams(avi, 2));
    EXPECT_EQ(runs().size(), 1);
}

TEST_F(FFmpegTest, TwoConversionsOfOneFileAtOnceRunFFmpegOnce)
{
    ScopedEnv logEnv("FAKE_FFMPEG_LOG", QFile::encodeName(log));
    ScopedEnv mode("FAKE_FFMPEG_MODE", "slow");
    std::optional<Result<QStringList>> first, second;
    std::thread a([&] { first = FFmpeg::playableStreams(avi, 2); });
    std::thread b([&] { second = FFmpeg::playableStreams(avi, 2); });
    {
        const TestSupport::Deadline deadline(120000, "joining two conversions");
        a.join();
        b.join();
    }
    ASSERT_TRUE(*first);
    ASSERT_TRUE(*second);
    EXPECT_EQ(first->value(), second->value());
    EXPECT_EQ(first->value().size(), 2);
    EXPECT_EQ(runs().size(), 2); // one per stream, not one per caller
}

// A two-camera AVI converted by the real program: each movie holds its own stream, with its own length.
TEST(FFmpegConversion, SplitsATwoStreamAVIIntoMoviesOfTheRightDuration)
{
    if (!TestSupport::haveProgram("ffmpeg") || !TestSupport::haveProgram("ffprobe"))
        GTEST_SKIP() << "needs ffmpeg and ffprobe";
    Defaults::standard().remove(FFmpeg::pathDefaultsKey);
    const QString avi = TestSupport::media("ffmpeg_two_stream.avi");
    ASSERT_TRUE(QFileInfo::exists(avi));

    const Result<QStringList> movies = FFmpeg::playableStreams(avi, 2);
    ASSERT_TRUE(movies) << movies.error().toStdString();
    ASSERT_EQ(movies->size(), 2);
    const double expected[] = {2.0, 1.0};
    for (int i = 0; i < 2; ++i) {
        const TestSupport::ProcessResult probe =
            TestSupport::run("ffprobe", {"-v", "error", "-show_entries", "stream=codec_type,duration", "-of",
                                         "csv=p=0", movies->at(i)});
        ASSERT_TRUE(probe.ok());
        const QStringList lines = QString::fromUtf8(probe.out).split('\n', Qt::SkipEmptyParts);
        int videos = 0;
        for (const QString &line : lines) {
            const QStringList fields = line.split(',');
            ASSERT_EQ(fields.size(), 2);
            if (fields[0] == "video") {
                ++videos;
                EXPECT_NEAR(fields[1].toDouble(), expected[i], 0.15) << movies->at(i).toStdString();
            } else {
                EXPECT_EQ(fields[0], "audio");
            }
        }
        EXPECT_EQ(videos, 1);
    }

    // An AVI without audio converts through the optional audio map.
    const Result<QStringList> silent = FFmpeg::playableStreams(TestSupport::media("ffmpeg_silent.avi"), 1);
    ASSERT_TRUE(silent) << silent.error().toStdString();
    EXPECT_TRUE(QFileInfo(silent->first()).size() > 0);
}

} // namespace
