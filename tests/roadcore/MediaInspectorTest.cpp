#include "roadcore/MediaInspector.h"
#include "fixtures/FFprobe.h"
#include "fixtures/TestSupport.h"
#include "roadcore/MP4Boxes.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTimeZone>

using TestSupport::media;

void PrintTo(const MediaInfo::Track &track, std::ostream *os)
{
    *os << '{' << track.kind.toStdString() << " | " << track.codec.toStdString() << " | "
        << track.details.join(QStringLiteral(", ")).toStdString() << " | "
        << track.handler.value_or(QStringLiteral("(none)")).toStdString() << " | "
        << track.encoder.value_or(QStringLiteral("(none)")).toStdString() << '}';
}

TEST(MediaInspector, codecAndKindNames)
{
    const std::pair<const char *, const char *> codecs[] = {
        {"hvc1", "HEVC (H.265)"},
        {"HEV1", "HEVC (H.265)"},
        {"hevc", "HEVC (H.265)"},
        {"avc1", "H.264"},
        {" AVC3\t", "H.264"},
        {"h264", "H.264"},
        {"x264", "H.264"},
        {"MJPG", "Motion JPEG"},
        {"jpeg", "Motion JPEG"},
        {"mjpa", "Motion JPEG"},
        {"mjpb", "Motion JPEG"},
        {"mp4a", "AAC"},
        {"aac ", "AAC"},
        {"lpcm", "PCM"},
        {"sowt", "PCM"},
        {"twos", "PCM"},
        {"pcm", "PCM"},
        {"0001", "PCM"},
        {"ulaw", "µ-law"},
        {"text", "Timed text (tx3g)"},
        {"tx3g", "Timed text (tx3g)"},
        {"mebx", "Metadata"},
        {"    ", "Unknown"},
        {"", "Unknown"},
        {"abcd", "abcd"},
        {" Ab ", " Ab "},
        {"0x0161", "0x0161"},
    };
    for (const auto &[code, name] : codecs)
        EXPECT_EQ(MediaInspector::codecName(QString::fromUtf8(code)), QString::fromUtf8(name)) << code;

    using Type = MediaStream::Type;
    EXPECT_EQ(MediaInspector::kindName(Type::video, QStringLiteral("avc1")), QStringLiteral("Video"));
    EXPECT_EQ(MediaInspector::kindName(Type::audio, QStringLiteral("mp4a")), QStringLiteral("Audio"));
    EXPECT_EQ(MediaInspector::kindName(Type::subtitle, QStringLiteral("tx3g")),
              QStringLiteral("Data (text)"));
    EXPECT_EQ(MediaInspector::kindName(Type::data, QStringLiteral("tmcd")), QStringLiteral("Timecode"));
    EXPECT_EQ(MediaInspector::kindName(Type::data, QStringLiteral("mebx")), QStringLiteral("Metadata"));
    EXPECT_EQ(MediaInspector::kindName(Type::unknown, QStringLiteral("abcd")), QStringLiteral("abcd"));
}

namespace {

QString rateText(qint64 bitsPerSecond)
{
    if (bitsPerSecond >= 1'000'000)
        return QString::number(bitsPerSecond / 1e6, 'f', 1) + QStringLiteral(" Mbps");
    return QString::number(bitsPerSecond / 1e3, 'f', 0) + QStringLiteral(" kbps");
}

// What the inspector must show for a generated movie, built from ffprobe's description of it.
QList<MediaInfo::Track> expectedTracks(const QJsonArray &streams)
{
    QList<MediaInfo::Track> tracks;
    for (const QJsonValue &value : streams) {
        const QJsonObject stream = value.toObject();
        const QString type = stream[QStringLiteral("codec_type")].toString();
        const QJsonObject tags = stream[QStringLiteral("tags")].toObject();
        MediaInfo::Track track;
        track.handler = tags[QStringLiteral("handler_name")].toString();
        if (tags.contains(QStringLiteral("encoder")))
            track.encoder = tags[QStringLiteral("encoder")].toString();
        if (type == QLatin1String("video")) {
            track.kind = QStringLiteral("Video");
            track.codec = QStringLiteral("H.264");
            track.details = {QStringLiteral("%1 × %2")
                                 .arg(stream[QStringLiteral("width")].toInt())
                                 .arg(stream[QStringLiteral("height")].toInt()),
                             QStringLiteral("%1 fps").arg(TestSupport::ffprobeRational(
                                 stream[QStringLiteral("avg_frame_rate")].toString()))};
        } else if (type == QLatin1String("audio")) {
            track.kind = QStringLiteral("Audio");
            track.codec = QStringLiteral("AAC");
            track.details = {QStringLiteral("48.0 kHz"), QStringLiteral("2 channels")};
            EXPECT_EQ(stream[QStringLiteral("sample_rate")].toString(), QStringLiteral("48000"));
            EXPECT_EQ(stream[QStringLiteral("channels")].toInt(), 2);
        } else {
            track.kind = QStringLiteral("Data (text)");
            track.codec = QStringLiteral("Timed text (tx3g)");
        }
        track.details.append(rateText(stream[QStringLiteral("bit_rate")].toString().toLongLong()));
        if (type == QLatin1String("subtitle"))
            track.details.append(stream[QStringLiteral("nb_frames")].toString() + QStringLiteral(" samples"));
        tracks.append(track);
    }
    return tracks;
}

} // namespace

TEST(MediaInspector, moviesAgreeWithFFprobe)
{
    for (const QString name : {"containers.mp4", "containers.mov", "containers_rotated.mp4"}) {
        SCOPED_TRACE(name.toStdString());
        const QString path = media(name);
        const QJsonObject probe = TestSupport::ffprobe(path);
        const QJsonObject format = probe[QStringLiteral("format")].toObject();
        const QJsonObject tags = format[QStringLiteral("tags")].toObject();
        const MediaInfo info = MediaInspector::inspect(path);

        const QString brand = tags[QStringLiteral("major_brand")].toString().trimmed();
        EXPECT_EQ(info.container, QStringLiteral("MPEG-4 / QuickTime (%1)").arg(brand));
        EXPECT_EQ(info.brand, brand);
        if (tags.contains(QStringLiteral("creation_time"))) {
            EXPECT_EQ(
                info.creationTime,
                QDateTime::fromString(tags[QStringLiteral("creation_time")].toString(), Qt::ISODateWithMs));
        }
        const double duration = format[QStringLiteral("duration")].toString().toDouble();
        ASSERT_TRUE(info.duration);
        EXPECT_NEAR(*info.duration, duration, 0.001);
        EXPECT_EQ(info.fileSize, format[QStringLiteral("size")].toString().toLongLong());
        ASSERT_TRUE(info.overallBitrate);
        EXPECT_NEAR(*info.overallBitrate, format[QStringLiteral("bit_rate")].toString().toDouble(), 10);
        EXPECT_EQ(info.tracks, expectedTracks(probe[QStringLiteral("streams")].toArray()));
    }
}

// Movies also carry a data handler in each track's "minf": taken by position, the second track's handler
// would be the first track's data handler.
TEST(MediaInspector, eachTrackNamesItsOwnHandler)
{
    const QString path = media(QStringLiteral("containers.mov"));
    const std::optional<MP4Boxes> boxes = MP4Boxes::read(path);
    ASSERT_TRUE(boxes);
    ASSERT_GE(boxes->handlerNames.size(), 2);
    EXPECT_EQ(boxes->handlerNames[1], QStringLiteral("DataHandler"));
    const MediaInfo info = MediaInspector::inspect(path);
    QStringList handlers;
    for (const MediaInfo::Track &track : info.tracks)
        handlers.append(track.handler.value_or(QStringLiteral("-")));
    EXPECT_EQ(handlers, QStringList({"VideoHandler", "SoundHandler", "SubtitleHandler"}));
}

TEST(MediaInspector, aviFiles)
{
    QTemporaryDir dir;
    const QString upper = dir.filePath(QStringLiteral("clip.AVI"));
    ASSERT_TRUE(QFile::copy(media(QStringLiteral("containers_twovideo.avi")), upper));
    const MediaInfo info = MediaInspector::inspect(upper);
    EXPECT_EQ(info.container, QStringLiteral("AVI (RIFF)"));
    EXPECT_FALSE(info.brand);
    EXPECT_FALSE(info.creationTime);
    EXPECT_TRUE(info.vendorBoxes.isEmpty());
    ASSERT_TRUE(info.duration);
    EXPECT_DOUBLE_EQ(*info.duration, 1.0);
    EXPECT_EQ(info.fileSize, QFileInfo(upper).size());
    EXPECT_EQ(info.overallBitrate, info.fileSize * 8.0);
    const QList<MediaInfo::Track> tracks = {
        {QStringLiteral("Video"), QStringLiteral("Motion JPEG"), {QStringLiteral("320 × 240")}, {}, {}},
        {QStringLiteral("Video"), QStringLiteral("Motion JPEG"), {QStringLiteral("160 × 120")}, {}, {}},
        {QStringLiteral("Audio"),
         QStringLiteral("PCM"),
         {QStringLiteral("22.1 kHz"), QStringLiteral("Mono")},
         {},
         {}},
    };
    EXPECT_EQ(info.tracks, tracks);

    // Text chunks show as one more track.
    const QByteArray riff = QByteArray("RIFF") + QByteArray("\x1c\0\0\0", 4) + "AVI " + "00tx" +
                            QByteArray("\x01\0\0\0", 4) + QByteArray("A\0", 2) + "01tx" +
                            QByteArray("\x02\0\0\0", 4) + "BC";
    const QString withText = dir.filePath(QStringLiteral("text.avi"));
    TestSupport::writeFile(withText, riff);
    const MediaInfo text = MediaInspector::inspect(withText);
    EXPECT_FALSE(text.duration);
    EXPECT_FALSE(text.overallBitrate);
    EXPECT_EQ(text.tracks, QList<MediaInfo::Track>({{QStringLiteral("Data"),
                                                     QStringLiteral("Text chunks"),
                                                     {QStringLiteral("2 records")},
                                                     {},
                                                     {}}}));
}

TEST(MediaInspector, unreadableFilesGiveContainerAndSizeOnly)
{
    QTemporaryDir dir;
    struct Case {
        const char *name;
        QByteArray bytes;
        const char *container;
    } cases[] = {
        {"not-riff.avi", QByteArray(100, 'x'), "AVI (RIFF)"},
        {"garbage.mp4", QByteArray(100, 'x'), "MPEG-4 / QuickTime"},
        {"noextension", QByteArray(3, 'x'), "MPEG-4 / QuickTime"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QLatin1String(c.name));
        TestSupport::writeFile(path, c.bytes);
        const MediaInfo info = MediaInspector::inspect(path);
        EXPECT_EQ(info.container, QLatin1String(c.container));
        EXPECT_EQ(info.fileSize, c.bytes.size());
        EXPECT_FALSE(info.brand || info.creationTime || info.duration || info.overallBitrate);
        EXPECT_TRUE(info.tracks.isEmpty());
        EXPECT_TRUE(info.vendorBoxes.isEmpty());
    }
    const MediaInfo missing = MediaInspector::inspect(dir.filePath(QStringLiteral("missing.mov")));
    EXPECT_EQ(missing.container, QStringLiteral("MPEG-4 / QuickTime"));
    EXPECT_EQ(missing.fileSize, 0);
}

// Uncompressed audio states no data rate in its headers; it is the product of its sample format, as ffprobe
// computes it.
TEST(MediaInspector, uncompressedAudioShowsItsDataRate)
{
    struct Case {
        const char *name;
        QStringList details;
    } cases[] = {
        {"pcm_mono.mov", {"44.1 kHz", "Mono", "706 kbps"}},
        {"pcm_stereo.mov", {"48.0 kHz", "2 channels", "2.3 Mbps"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const MediaInfo info = MediaInspector::inspect(media(QLatin1String(c.name)));
        const QJsonArray streams = TestSupport::ffprobe(media(QLatin1String(c.name)))["streams"].toArray();
        ASSERT_EQ(info.tracks.size(), streams.size());
        for (qsizetype i = 0; i < info.tracks.size(); ++i) {
            const QJsonObject stream = streams[i].toObject();
            if (stream["codec_type"].toString() != "audio")
                continue;
            EXPECT_EQ(info.tracks[i].details, c.details);
            EXPECT_EQ(info.tracks[i].details.last(), rateText(stream["bit_rate"].toString().toLongLong()));
        }
    }
}
