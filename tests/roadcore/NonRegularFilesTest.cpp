// Named pipes put where a recording or a configuration file is expected: every reader of such paths answers
// at once, with nothing or with the reason, and never waits for a writer that will not come.
#include "roadcore/AVIFile.h"
#include "roadcore/ConfigFile.h"
#include "roadcore/FFmpeg.h"
#include "roadcore/MP4Boxes.h"
#include "roadcore/MediaCache.h"
#include "roadcore/MediaInspector.h"
#include "roadcore/TelemetryReader.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

using TestSupport::media;

TEST(SpecialFiles, NamedPipesReadAsNothing)
{
    QTemporaryDir card;
    const QString front = card.filePath("X_F.mp4");
    QFile::copy(media("basic_front.mp4"), front);
    const QString rear = card.filePath("X_R.mp4"), avi = card.filePath("Y_F.avi"),
                  cfg = card.filePath("blackbox.cfg");
    for (const QString &path : {rear, avi, cfg})
        TestSupport::makeFifo(path);

    const TestSupport::Deadline deadline(60000, "a reader waits on a named pipe");
    // The rear channel is read only because the front one holds no data.
    const Telemetry both = TelemetryReader::read({{Channel::front, front}, {Channel::rear, rear}});
    EXPECT_TRUE(both.isEmpty());
    EXPECT_EQ(both.sourceChannel, Channel::front);
    for (const QString &path : {rear, avi}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_TRUE(TelemetryReader::read(path).isEmpty());
        EXPECT_FALSE(TelemetryReader::tailRecords(path));
        EXPECT_TRUE(TelemetryReader::scanRecords(path).isEmpty());
        const MediaInfo info = MediaInspector::inspect(path);
        EXPECT_EQ(info.fileSize, 0);
        EXPECT_TRUE(info.tracks.isEmpty());
        EXPECT_FALSE(info.duration);
        const Result<QString> fingerprint = MediaCache::fingerprint(path, 1000);
        ASSERT_FALSE(fingerprint);
        EXPECT_EQ(fingerprint.error(), QFileInfo(path).fileName().prepend("“") + "” is not a regular file.");
    }
    EXPECT_FALSE(AVIFile::read(avi));
    EXPECT_FALSE(MP4Boxes::read(rear));

    const Result<ConfigFile> config = ConfigFile::read(cfg);
    ASSERT_FALSE(config);
    EXPECT_EQ(config.error(), "“blackbox.cfg” is not a regular file.");

    // ffmpeg is never started on it: a program that would fail the test if it ran.
    const Result<QStringList> converted = FFmpeg::playableStreams(avi, 1, QStringLiteral("/bin/false"));
    ASSERT_FALSE(converted);
    EXPECT_EQ(converted.error(), "“Y_F.avi” is not a regular file.");
}

} // namespace
