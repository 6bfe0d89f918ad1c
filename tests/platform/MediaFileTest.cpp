#include "platform/MediaFile.h"
#include "fixtures/FFprobe.h"
#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QTemporaryDir>

using TestSupport::media;

namespace {

QString tagOf(const QJsonObject &stream, const char *key)
{
    return stream.value(QStringLiteral("tags")).toObject().value(QLatin1String(key)).toString();
}

// ffprobe reports the matrix's counter-clockwise angle; we report the clockwise turn that shows the picture.
double clockwiseRotation(const QJsonObject &stream)
{
    for (const QJsonValue &entry : stream.value(QStringLiteral("side_data_list")).toArray()) {
        const QJsonObject data = entry.toObject();
        if (data.contains(QStringLiteral("rotation"))) {
            const double degrees = -data.value(QStringLiteral("rotation")).toDouble();
            return degrees < 0 ? degrees + 360 : degrees;
        }
    }
    return 0;
}

} // namespace

TEST(MediaFile, describesStreamsAsFFprobeDoes)
{
    for (const QString name :
         {"containers.mp4", "containers.mov", "containers_rotated.mp4", "basic_front.mp4"}) {
        SCOPED_TRACE(name.toStdString());
        const QString path = media(name);
        const QJsonObject probe = TestSupport::ffprobe(path);
        ASSERT_FALSE(probe.isEmpty());
        Result<MediaFile> file = MediaFile::open(path);
        ASSERT_TRUE(file.ok()) << file.error().toStdString();

        EXPECT_EQ(file->formatName(),
                  probe[QStringLiteral("format")][QStringLiteral("format_name")].toString());
        ASSERT_TRUE(file->duration());
        EXPECT_NEAR(*file->duration(),
                    probe[QStringLiteral("format")][QStringLiteral("duration")].toString().toDouble(), 0.001);
        const QJsonArray streams = probe[QStringLiteral("streams")].toArray();
        ASSERT_EQ(file->streams().size(), streams.size());
        for (const MediaStream &ours : file->streams()) {
            const QJsonObject theirs = streams[ours.index].toObject();
            EXPECT_EQ(ours.codecName, theirs[QStringLiteral("codec_name")].toString());
            EXPECT_EQ(ours.codecTag, theirs[QStringLiteral("codec_tag_string")].toString());
            EXPECT_EQ(ours.width, theirs[QStringLiteral("width")].toInt());
            EXPECT_EQ(ours.height, theirs[QStringLiteral("height")].toInt());
            EXPECT_EQ(ours.sampleRate, theirs[QStringLiteral("sample_rate")].toString().toInt());
            EXPECT_EQ(ours.channels, theirs[QStringLiteral("channels")].toInt());
            EXPECT_EQ(ours.bitRate, theirs[QStringLiteral("bit_rate")].toString().toLongLong());
            EXPECT_EQ(ours.frameCount, theirs[QStringLiteral("nb_frames")].toString().toLongLong());
            EXPECT_NEAR(ours.frameRate,
                        TestSupport::ffprobeRational(theirs[QStringLiteral("avg_frame_rate")].toString()),
                        1e-9);
            EXPECT_EQ(ours.encoder, tagOf(theirs, "encoder"));
            EXPECT_EQ(ours.language, tagOf(theirs, "language"));
            EXPECT_EQ(ours.handlerName, tagOf(theirs, "handler_name"));
            EXPECT_EQ(ours.rotation, clockwiseRotation(theirs));
            EXPECT_EQ(ours.id, theirs[QStringLiteral("id")].toString().toInt(nullptr, 16));
        }
    }
}

TEST(MediaFile, streamKindsAndRotation)
{
    Result<MediaFile> movie = MediaFile::open(media(QStringLiteral("containers.mov")));
    ASSERT_TRUE(movie.ok());
    ASSERT_EQ(movie->streams().size(), 3);
    EXPECT_EQ(movie->streams()[0].type, MediaStream::Type::video);
    EXPECT_EQ(movie->streams()[1].type, MediaStream::Type::audio);
    EXPECT_EQ(movie->streams()[2].type, MediaStream::Type::subtitle);
    EXPECT_EQ(movie->streams()[0].rotation, 0);

    Result<MediaFile> rotated = MediaFile::open(media(QStringLiteral("containers_rotated.mp4")));
    ASSERT_TRUE(rotated.ok());
    // Written with the legacy "rotate=90" tag, which this muxer stores as a quarter turn the other way.
    EXPECT_EQ(rotated->streams()[0].rotation, 270);
}

TEST(MediaFile, readsOnlyTheChosenStreamsPackets)
{
    const QString path = media(QStringLiteral("containers.mp4"));
    const QJsonObject probe =
        TestSupport::ffprobe(path, {QStringLiteral("-show_packets"), QStringLiteral("-show_data"),
                                    QStringLiteral("-select_streams"), QStringLiteral("s")});
    const QJsonArray expected = probe[QStringLiteral("packets")].toArray();
    ASSERT_FALSE(expected.isEmpty());

    Result<MediaFile> file = MediaFile::open(path);
    ASSERT_TRUE(file.ok());
    file->selectStreams({2});
    QList<MediaPacket> packets;
    while (auto packet = file->readPacket())
        packets.append(*packet);
    ASSERT_EQ(packets.size(), expected.size());
    for (qsizetype i = 0; i < packets.size(); ++i) {
        const QJsonObject theirs = expected[i].toObject();
        EXPECT_EQ(packets[i].stream, 2);
        EXPECT_EQ(packets[i].data.size(), theirs[QStringLiteral("size")].toString().toInt());
        ASSERT_TRUE(packets[i].time);
        EXPECT_NEAR(*packets[i].time, theirs[QStringLiteral("pts_time")].toString().toDouble(), 1e-6);
    }
    // The first sample is a two-byte length and the subtitle's text.
    EXPECT_TRUE(packets[0].data.mid(2).startsWith("$GPRMC,120000.00"));
}

TEST(MediaFile, refusesWhatIsNotASingleLocalMediaFile)
{
    QTemporaryDir dir;
    const QString target = media(QStringLiteral("containers.mp4"));
    const QByteArray playlist = "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXTINF:1,\n" + target.toUtf8() +
                                "\n#EXTINF:1,\nhttp://127.0.0.1:9/x.ts\n#EXT-X-ENDLIST\n";
    const QByteArray concat = "ffconcat version 1.0\nfile '" + target.toUtf8() + "'\n";
    struct Case {
        const char *name;
        QByteArray bytes;
    } cases[] = {
        {"playlist.mp4", playlist}, {"playlist", playlist}, {"playlist.m3u8", playlist},
        {"list.txt", concat},       {"empty.mov", {}},      {"garbage.mp4", QByteArray(4096, '\x01')},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QLatin1String(c.name));
        TestSupport::writeFile(path, c.bytes);
        EXPECT_FALSE(MediaFile::open(path).ok());
    }
    EXPECT_FALSE(MediaFile::open(dir.filePath(QStringLiteral("missing.mp4"))).ok());
    EXPECT_FALSE(MediaFile::open(dir.path()).ok());
}

// The headers of uncompressed audio state no data rate: it follows from the sample format, as ffprobe's is.
TEST(MediaFile, uncompressedAudioHasTheRateOfItsSampleFormat)
{
    for (const QString name : {"pcm_mono.mov", "pcm_stereo.mov"}) {
        SCOPED_TRACE(name.toStdString());
        const Result<MediaFile> file = MediaFile::open(media(name));
        ASSERT_TRUE(file);
        const QJsonArray probed = TestSupport::ffprobe(media(name))[QStringLiteral("streams")].toArray();
        ASSERT_EQ(file->streams().size(), probed.size());
        for (const MediaStream &stream : file->streams()) {
            if (stream.type != MediaStream::Type::audio)
                continue;
            const qint64 theirs =
                probed[stream.index].toObject()[QStringLiteral("bit_rate")].toString().toLongLong();
            EXPECT_GT(theirs, 0);
            EXPECT_EQ(stream.bitRate, theirs);
        }
    }
}
