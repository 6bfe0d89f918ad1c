#include "roadcore/AVIFile.h"
#include "fixtures/FFprobe.h"
#include "fixtures/TestSupport.h"
#include "platform/ByteSource.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QTemporaryDir>
#include <QtEndian>

#include <sys/resource.h>

namespace {

QByteArray le32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray le16(quint16 value)
{
    QByteArray bytes(2, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

QByteArray chunk(const QByteArray &id, const QByteArray &body)
{
    QByteArray bytes = id + le32(quint32(body.size())) + body;
    if (body.size() % 2)
        bytes += '\0';
    return bytes;
}

QByteArray list(const QByteArray &type, const QByteArray &children)
{
    return chunk("LIST", type + children);
}

QByteArray riff(const QByteArray &children)
{
    return "RIFF" + le32(quint32(children.size() + 4)) + "AVI " + children;
}

QByteArray avih(quint32 microsecondsPerFrame, quint32 frames)
{
    return chunk("avih",
                 le32(microsecondsPerFrame) + QByteArray(12, '\0') + le32(frames) + QByteArray(36, '\0'));
}

QByteArray strh(const QByteArray &type, const QByteArray &handler)
{
    return chunk("strh", type + handler + QByteArray(48, '\0'));
}

QByteArray videoFormat(quint32 width, quint32 height, const QByteArray &compression)
{
    return chunk("strf", le32(40) + le32(width) + le32(height) + le16(1) + le16(24) + compression +
                             QByteArray(20, '\0'));
}

QByteArray audioFormat(quint16 tag, quint16 channels, quint32 rate)
{
    return chunk("strf", le16(tag) + le16(channels) + le32(rate) + QByteArray(8, '\0'));
}

std::optional<AVIFile> parse(const QByteArray &bytes)
{
    ByteSource source(bytes);
    return AVIFile::read(source);
}

QStringList texts(const AVIFile &file)
{
    QStringList result;
    for (const RawRecord &record : file.textRecords)
        result.append(record.text);
    return result;
}

} // namespace

TEST(AVIFile, onlyRiffAviFilesAreRead)
{
    const QByteArray valid = riff({});
    const QByteArray cases[] = {
        {},
        valid.left(12),
        "RIFX" + valid.mid(4),
        valid.left(8) + "AVIX" + avih(1, 1),
        "riff" + valid.mid(4) + avih(1, 1),
    };
    for (const QByteArray &bytes : cases)
        EXPECT_FALSE(parse(bytes)) << bytes.toHex().toStdString();
    // A valid header with nothing after it is an empty file, not an unreadable one.
    EXPECT_EQ(parse(valid + QByteArray(1, '\0')), AVIFile{});

    QTemporaryDir dir;
    EXPECT_FALSE(AVIFile::read(dir.filePath(QStringLiteral("missing.avi"))));
    EXPECT_FALSE(AVIFile::read(dir.path()));
}

TEST(AVIFile, readsHeadersStreamsAndTextChunks)
{
    const QByteArray header =
        list("hdrl", avih(40000, 250) + list("strl", strh("vids", "mjpg") + videoFormat(1920, 1080, "H264")) +
                         list("strl", strh("vids", "XVID") + videoFormat(640, 480, QByteArray(4, '\0'))) +
                         list("strl", strh("auds", QByteArray(4, '\0')) + audioFormat(0x0055, 1, 44100)) +
                         list("strl", strh("auds", "") + audioFormat(0x0161, 2, 48000)) +
                         list("strl", strh("txts", "    ") + chunk("strf", "ignored")) +
                         list("strl", strh("iavs", "dvsd")));
    const QByteArray movie =
        list("movi", chunk("00dc", "frame") + chunk("02tx", "$GPRMC,1") + chunk("03tx", {}) +
                         chunk("02tx", "bad \xFF byte") + chunk("01wb", "abc"));
    const std::optional<AVIFile> file = parse(riff(header + movie + chunk("idx1", QByteArray(16, '\0'))));
    ASSERT_TRUE(file);

    AVIFile expected;
    expected.duration = 10.0;
    expected.videoStreamCount = 2;
    expected.streams = {
        {QStringLiteral("Video"), QStringLiteral("H264"), {QStringLiteral("1920 × 1080")}},
        {QStringLiteral("Video"), QStringLiteral("XVID"), {QStringLiteral("640 × 480")}},
        {QStringLiteral("Audio"),
         QStringLiteral("MP3"),
         {QStringLiteral("44.1 kHz"), QStringLiteral("Mono")}},
        {QStringLiteral("Audio"),
         QStringLiteral("0x0161"),
         {QStringLiteral("48.0 kHz"), QStringLiteral("2 channels")}},
        {QStringLiteral("Data (text)"), QStringLiteral("    "), {}},
        {QStringLiteral("iavs"), QStringLiteral("dvsd"), {}},
    };
    expected.textRecords = {{0, std::nullopt, QStringLiteral("$GPRMC,1")},
                            {1, std::nullopt, QStringLiteral("bad \uFFFD byte")}};
    EXPECT_EQ(*file, expected);
}

TEST(AVIFile, headerFieldRules)
{
    struct Case {
        const char *name;
        QByteArray children;
        std::optional<double> duration;
        QList<AVIFile::Stream> streams;
    } cases[] = {
        {"zero microseconds", avih(0, 100), std::nullopt, {}},
        {"zero frames", avih(33333, 0), std::nullopt, {}},
        {"short main header", chunk("avih", le32(1000) + QByteArray(12, '\0')), std::nullopt, {}},
        {"later main header wins", avih(1000, 5) + avih(0, 9) + avih(2000, 1000), 2.0, {}},
        {"format before any stream",
         audioFormat(1, 2, 8000) + strh("auds", "") + audioFormat(7, 0, 8000),
         std::nullopt,
         {{QStringLiteral("Audio"),
           QStringLiteral("ulaw"),
           {QStringLiteral("8.0 kHz"), QStringLiteral("0 channels")}}}},
        {"short formats leave the stream",
         strh("vids", "abcd") + chunk("strf", QByteArray(19, 'x')) + strh("auds", "wxyz") +
             chunk("strf", QByteArray(7, 'x')),
         std::nullopt,
         {{QStringLiteral("Video"), QStringLiteral("abcd"), {}},
          {QStringLiteral("Audio"), QStringLiteral("wxyz"), {}}}},
        {"compression with a space",
         strh("vids", "DIVX") + videoFormat(2, 3, "DX 5"),
         std::nullopt,
         {{QStringLiteral("Video"), QStringLiteral("DIVX"), {QStringLiteral("2 × 3")}}}},
        {"short stream header", chunk("strh", "vid"), std::nullopt, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<AVIFile> file = parse(riff(c.children));
        ASSERT_TRUE(file);
        EXPECT_EQ(file->duration, c.duration);
        EXPECT_EQ(file->streams, c.streams);
    }
}

TEST(AVIFile, damagedStructure)
{
    const QByteArray text = chunk("00tx", "A");
    struct Case {
        const char *name;
        QByteArray bytes;
        QStringList texts;
    } cases[] = {
        {"odd chunk is padded",
         riff(chunk("junk", "abc") + text + chunk("01tx", "odd") + chunk("02tx", "B")),
         {"A", "odd", "B"}},
        {"list past the end of the file is entered",
         riff(list("movi", text) + "LIST" + le32(1000) + "movi" + chunk("01tx", "C")),
         {"A", "C"}},
        {"chunk past the end stops its level only",
         riff(list("movi", text + "02tx" + le32(0x7FFFFFF0) + "D") + chunk("03tx", "E")),
         {"A", "E"}},
        {"chunk past its list but inside the file is read",
         riff(list("movi", text).replace(4, 4, le32(12)) + chunk("01tx", "F")),
         {"A"}},
        {"riff size beyond the file is clamped", "RIFF" + le32(0xFFFFFFFF) + "AVI " + text, {"A"}},
        {"riff size bounds the walk",
         "RIFF" + le32(4 + quint32(text.size())) + "AVI " + text + chunk("01tx", "G"),
         {"A"}},
        {"riff size below twelve", "RIFF" + le32(3) + "AVI " + text, {}},
        {"any identifier ending in tx",
         riff(chunk("\xff\xfftx", "H") + chunk("01tX", "no") + chunk("tx01", "no")),
         {"H"}},
        {"header cut short", riff(text) + "01t", {"A"}},
        {"largest size field", riff(text + "01tx" + le32(0xFFFFFFFF) + "xyz"), {"A"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<AVIFile> file = parse(c.bytes);
        ASSERT_TRUE(file);
        EXPECT_EQ(texts(*file), c.texts);
    }
}

TEST(AVIFile, listNestingIsBounded)
{
    auto nested = [](int depth, const QByteArray &inner) {
        QByteArray bytes = inner;
        for (int i = 0; i < depth; ++i)
            bytes = list("deep", bytes);
        return riff(bytes + chunk("01tx", "after"));
    };
    const std::optional<AVIFile> deepest = parse(nested(AVIFile::maximumListDepth, chunk("00tx", "inside")));
    ASSERT_TRUE(deepest);
    EXPECT_EQ(texts(*deepest), QStringList({"inside", "after"}));
    const std::optional<AVIFile> tooDeep =
        parse(nested(AVIFile::maximumListDepth + 1, chunk("00tx", "inside")));
    ASSERT_TRUE(tooDeep);
    EXPECT_EQ(texts(*tooDeep), QStringList({"after"}));

    // A hundred thousand empty list headers nested in each other: no stack exhaustion, and the walk ends.
    QByteArray headers;
    const int levels = 100'000;
    headers.reserve(levels * 12);
    for (int i = 0; i < levels; ++i)
        headers += "LIST" + le32(quint32((levels - i) * 12 - 8)) + "deep";
    EXPECT_TRUE(parse(riff(headers)));
}

// The generated AVI read by us and by ffprobe; then the same file with text chunks added to its movie list.
TEST(AVIFile, agreesWithFFprobe)
{
    const QString path = TestSupport::media(QStringLiteral("containers_twovideo.avi"));
    const QJsonObject probe = TestSupport::ffprobe(path);
    const QJsonArray streams = probe[QStringLiteral("streams")].toArray();
    ASSERT_EQ(streams.size(), 3);
    const std::optional<AVIFile> file = AVIFile::read(path);
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->duration);
    EXPECT_NEAR(*file->duration,
                probe[QStringLiteral("format")][QStringLiteral("duration")].toString().toDouble(), 0.001);
    int videos = 0;
    ASSERT_EQ(file->streams.size(), streams.size());
    for (qsizetype i = 0; i < streams.size(); ++i) {
        const QJsonObject theirs = streams[i].toObject();
        const AVIFile::Stream &ours = file->streams[i];
        if (theirs[QStringLiteral("codec_type")].toString() == QLatin1String("video")) {
            ++videos;
            EXPECT_EQ(ours.kind, QStringLiteral("Video"));
            EXPECT_EQ(ours.codec, theirs[QStringLiteral("codec_tag_string")].toString());
            EXPECT_EQ(ours.details, QStringList(QStringLiteral("%1 × %2")
                                                    .arg(theirs[QStringLiteral("width")].toInt())
                                                    .arg(theirs[QStringLiteral("height")].toInt())));
        } else {
            EXPECT_EQ(ours.kind, QStringLiteral("Audio"));
            EXPECT_EQ(ours.codec, QStringLiteral("pcm"));
            EXPECT_EQ(ours.details,
                      QStringList(
                          {QStringLiteral("%1 kHz").arg(
                               theirs[QStringLiteral("sample_rate")].toString().toDouble() / 1000, 0, 'f', 1),
                           QStringLiteral("Mono")}));
            EXPECT_EQ(theirs[QStringLiteral("channels")].toInt(), 1);
        }
    }
    EXPECT_EQ(file->videoStreamCount, videos);
    EXPECT_EQ(videos, 2);
    EXPECT_TRUE(file->textRecords.isEmpty());

    // Cameras append their text chunks to the movie list; the index keeps pointing at the frames before them.
    QByteArray bytes = TestSupport::readFile(path);
    const qsizetype movie = bytes.indexOf("movi") - 8;
    ASSERT_GT(movie, 0);
    const quint32 movieSize = qFromLittleEndian<quint32>(bytes.constData() + movie + 4);
    const QByteArray added =
        chunk("03tx", "$GPRMC,081836,A,3751.65,S,14507.36,E,000.0,360.0,130998,011.3,E*62") +
        chunk("03tx", "gsensor:1,2,3");
    bytes.insert(movie + 8 + movieSize, added);
    qToLittleEndian(quint32(movieSize + added.size()), bytes.data() + movie + 4);
    qToLittleEndian(quint32(bytes.size() - 8), bytes.data() + 4);
    QTemporaryDir dir;
    const QString withText = dir.filePath(QStringLiteral("text.avi"));
    TestSupport::writeFile(withText, bytes);

    const QJsonObject probeWithText = TestSupport::ffprobe(withText);
    EXPECT_EQ(probeWithText[QStringLiteral("streams")].toArray().size(), 3);
    const std::optional<AVIFile> read = AVIFile::read(withText);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->streams, file->streams);
    EXPECT_EQ(read->duration, file->duration);
    ASSERT_EQ(read->textRecords.size(), 2);
    EXPECT_EQ(read->textRecords[0].index, 0);
    EXPECT_TRUE(read->textRecords[0].text.toString().startsWith(QStringLiteral("$GPRMC,081836")));
    EXPECT_EQ(read->textRecords[1], (RawRecord{1, std::nullopt, QStringLiteral("gsensor:1,2,3")}));
}

namespace {

// A text chunk whose size field claims about 4 GiB, in a sparse file of that size: it is no telemetry and is
// skipped unread, and the chunks after it still count.
TEST(AVIFile, hugeTextChunksAreSkippedUnread)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("huge.avi");
    const quint32 claimed = 0xFFFF'FF00u;
    // The RIFF and "movi" sizes reach past the end of the file, as in a recording cut off by the camera.
    const QByteArray head = "RIFF" + le32(0xFFFF'FFF8u) + "AVI " + list("hdrl", avih(40000, 25)) + "LIST" +
                            le32(0xFFFF'FFF0u) + "movi" + chunk("00tx", "gsensor,1,2,3") + "01tx" +
                            le32(claimed);
    const QByteArray tail = chunk("02tx", "gsensor,4,5,6");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(head);
        ASSERT_TRUE(file.resize(head.size() + qint64(claimed)));
        file.seek(head.size() + qint64(claimed));
        file.write(tail);
    }
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    const std::optional<AVIFile> avi = AVIFile::read(path);
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    ASSERT_TRUE(avi);
    ASSERT_EQ(avi->textRecords.size(), 2);
    EXPECT_EQ(avi->textRecords[0].text, "gsensor,1,2,3");
    EXPECT_EQ(avi->textRecords[1].text, "gsensor,4,5,6");
    EXPECT_EQ(avi->textRecords[1].index, 1);
    // The peak of the whole program only grows if the read held much more than a chunk header.
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 100 * 1024) << "kB";
}

} // namespace
