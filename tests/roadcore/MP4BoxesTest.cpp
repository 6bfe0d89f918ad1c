#include "roadcore/MP4Boxes.h"
#include "fixtures/FFprobe.h"
#include "fixtures/TestSupport.h"
#include "platform/ByteSource.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtEndian>

namespace {

QByteArray be32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray be64(quint64 value)
{
    QByteArray bytes(8, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

QByteArray box(const QByteArray &type, const QByteArray &body)
{
    return be32(quint32(body.size() + 8)) + type + body;
}

QByteArray ftyp(const QByteArray &brand)
{
    return box("ftyp", brand + be32(512) + "isomavc1");
}

QByteArray mvhd(quint64 seconds, bool wide = false)
{
    if (wide)
        return box("mvhd", QByteArray(1, '\1') + QByteArray(3, '\0') + be64(seconds) + be64(0) +
                               QByteArray(88, '\0'));
    return box("mvhd", QByteArray(4, '\0') + be32(quint32(seconds)) + QByteArray(92, '\0'));
}

QByteArray tkhd(quint32 trackID)
{
    return box("tkhd", QByteArray(4, '\0') + be32(0) + be32(0) + be32(trackID) + QByteArray(68, '\0'));
}

QByteArray hdlr(const QByteArray &type, const QByteArray &name)
{
    return box("hdlr", QByteArray(4, '\0') + QByteArray(4, '\0') + type + QByteArray(12, '\0') + name);
}

QByteArray stsz(quint32 count)
{
    return box("stsz", QByteArray(4, '\0') + be32(0) + be32(count));
}

// A track as movies store it: its media handler in "mdia", a data handler in "minf", sizes in "stbl".
QByteArray trak(quint32 id, const QByteArray &type, const QByteArray &name, std::optional<quint32> samples)
{
    const QByteArray table = samples ? box("stbl", stsz(*samples)) : box("stbl", box("stz2", be32(0)));
    return box("trak", tkhd(id) + box("edts", hdlr("edit", "Hidden")) +
                           box("mdia", hdlr(type, name) + box("minf", hdlr("dhlr", "\x0b"
                                                                                   "DataHandler") +
                                                                          table)));
}

MP4Boxes parse(const QByteArray &bytes)
{
    ByteSource source(bytes);
    return MP4Boxes::read(source);
}

} // namespace

TEST(MP4Boxes, topLevelWalk)
{
    const QByteArray movie = box("moov", mvhd(3'786'912'000));
    const QDateTime newYear2024(QDate(2024, 1, 1), QTime(0, 0), QTimeZone::utc());
    struct Case {
        const char *name;
        QByteArray bytes;
        std::optional<QString> brand;
        std::optional<QDateTime> created;
    } cases[] = {
        {"fewer than eight bytes", be32(8) + "moo", std::nullopt, std::nullopt},
        {"brand", ftyp("isom") + movie, QStringLiteral("isom"), newYear2024},
        {"brand padded with spaces", ftyp("qt  "), QStringLiteral("qt"), std::nullopt},
        {"last brand wins", ftyp("isom") + ftyp("mp42"), QStringLiteral("mp42"), std::nullopt},
        {"brand of a wide box is still bytes 8 to 11", be32(1) + "ftyp" + be64(24) + "M4V ",
         QString(4, QChar(0)), std::nullopt},
        {"wide media data is stepped over",
         ftyp("isom") + be32(1) + "mdat" + be64(32) + QByteArray(16, 'x') + movie, QStringLiteral("isom"),
         newYear2024},
        {"box that runs to the end", ftyp("isom") + be32(0) + "moov" + mvhd(3'786'912'000),
         QStringLiteral("isom"), newYear2024},
        {"wide box that runs to the end", be32(1) + "moov" + be64(0) + mvhd(3'786'912'000), std::nullopt,
         newYear2024},
        {"size below the header ends the walk", be32(7) + "skip" + movie, std::nullopt, std::nullopt},
        {"wide size below sixteen ends the walk", be32(1) + "skip" + be64(15) + movie, std::nullopt,
         std::nullopt},
        {"wide size near 2^64 ends the walk", be32(1) + "mdat" + be64(~quint64(0) - 7) + movie, std::nullopt,
         std::nullopt},
        {"wide size of 2^63 ends the walk", be32(1) + "mdat" + be64(quint64(1) << 63) + movie, std::nullopt,
         std::nullopt},
        {"movie of 64 MiB is skipped", be32(1 << 26) + "moov" + mvhd(3'786'912'000), std::nullopt,
         std::nullopt},
        {"truncated movie is read as far as it goes", be32((1 << 26) - 1) + "moov" + mvhd(3'786'912'000),
         std::nullopt, newYear2024},
        {"creation time zero", box("moov", mvhd(0)), std::nullopt, std::nullopt},
        {"wide creation time", box("moov", mvhd(3'786'912'000, true)), std::nullopt, newYear2024},
        {"later header wins, zero keeps", box("moov", mvhd(86400) + mvhd(3'786'912'000) + mvhd(0)),
         std::nullopt, newYear2024},
        {"creation time no calendar holds", box("moov", mvhd(~quint64(0), true)), std::nullopt, std::nullopt},
        {"later movie box replaces", box("moov", mvhd(3'786'912'000)) + box("moov", mvhd(86400)),
         std::nullopt, QDateTime(QDate(1904, 1, 2), QTime(0, 0), QTimeZone::utc())},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const MP4Boxes boxes = parse(c.bytes);
        EXPECT_EQ(boxes.majorBrand, c.brand);
        EXPECT_EQ(boxes.creationTime, c.created);
    }
    EXPECT_EQ(parse({}), MP4Boxes{});

    QTemporaryDir dir;
    EXPECT_FALSE(MP4Boxes::read(dir.filePath(QStringLiteral("missing.mp4"))));
    const QString tiny = dir.filePath(QStringLiteral("tiny.mp4"));
    TestSupport::writeFile(tiny, "abc");
    EXPECT_EQ(MP4Boxes::read(tiny), MP4Boxes{});
}

TEST(MP4Boxes, tracksHandlersAndSampleCounts)
{
    const QByteArray movie =
        box("moov", mvhd(1) +
                        trak(1, "vide",
                             "\x0c"
                             "VideoHandler",
                             250) +
                        trak(2, "soun", QByteArray("SoundHandler\0\0", 14), 469) +
                        trak(7, "text", QByteArray(1, '\0'), 0) + trak(9, "meta", "\xff", std::nullopt));
    const MP4Boxes boxes = parse(ftyp("isom") + box("mdat", "xx") + movie);
    EXPECT_EQ(boxes.handlerNames, QStringList({"VideoHandler", "DataHandler", "SoundHandler", "DataHandler",
                                               "", "DataHandler", "\uFFFD", "DataHandler"}));
    EXPECT_EQ(boxes.sampleCounts, QList<qint64>({250, 469, 0}));
    const QList<MP4Boxes::Track> tracks = {
        {1, QStringLiteral("VideoHandler"), 250},
        {2, QStringLiteral("SoundHandler"), 469},
        {7, QString(), 0},
        {9, QStringLiteral("\uFFFD"), std::nullopt},
    };
    EXPECT_EQ(boxes.tracks, tracks);
}

TEST(MP4Boxes, damagedMovieBodies)
{
    const QByteArray good = trak(1, "vide", "A", 1);
    struct Case {
        const char *name;
        QByteArray movieBody;
        QStringList handlers;
    } cases[] = {
        {"child past its container ends that container only",
         box("trak", box("mdia", hdlr("vide", "A") + be32(100) + "hdlr")) +
             box("trak", box("mdia", hdlr("soun", "B"))),
         {"A", "B"}},
        {"child size below eight ends the walk", be32(4) + "hdlr" + good, {}},
        {"wide forms are not understood inside the movie", be32(1) + "trak" + be64(16) + good, {}},
        {"cut off at the end", good + good.left(good.size() - 3), {"A", "DataHandler"}},
        {"short handler box is skipped",
         box("trak", box("mdia", box("hdlr", QByteArray(16, '\0')))) + good,
         {"A", "DataHandler"}},
        {"other containers are not entered", box("meta", hdlr("mdir", "X")) + box("edts", good), {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(parse(box("moov", c.movieBody)).handlerNames, c.handlers);
    }
}

TEST(MP4Boxes, nestingIsBounded)
{
    auto nested = [](int depth) {
        QByteArray bytes = hdlr("vide", "deep");
        for (int i = 0; i < depth; ++i)
            bytes = box(i % 2 ? "mdia" : "trak", bytes);
        return box("moov", bytes);
    };
    // The movie box itself is the first level.
    EXPECT_EQ(parse(nested(MP4Boxes::maximumDepth - 1)).handlerNames, QStringList("deep"));
    EXPECT_TRUE(parse(nested(MP4Boxes::maximumDepth)).handlerNames.isEmpty());
    // Half a million empty track headers nested in each other: no stack exhaustion.
    const int levels = 500'000;
    QByteArray headers;
    headers.reserve(levels * 8 + 8);
    headers += be32(levels * 8 + 8) + "moov";
    for (int i = 0; i < levels; ++i)
        headers += be32(quint32((levels - i) * 8)) + "trak";
    EXPECT_EQ(parse(headers).tracks.size(), MP4Boxes::maximumDepth - 1);
}

TEST(MP4Boxes, vendorBoxes)
{
    QByteArray hundred;
    for (int i = 0; i < 100; ++i)
        hundred += char(i);
    const QByteArray udta = box("udta", box("GPS ", QByteArray("ABC\0\0", 5)) + box("bin ", "A\xff") +
                                            box("cr  ", "A\rB") + box("nul ", {}) + box("long", hundred) +
                                            box("text", "line\nnext ~") + be32(100) + "lost");
    const MP4Boxes boxes =
        parse(box("moov", udta + box("trak", box("udta", box("name", "x")) + box("mdia", {}))));
    const QList<MediaInfo::VendorBox> expected = {
        {QStringLiteral("moov/udta/GPS "), 13, QStringLiteral("41 42 43 00 00"), QStringLiteral("ABC")},
        {QStringLiteral("moov/udta/bin "), 10, QStringLiteral("41 FF"), std::nullopt},
        {QStringLiteral("moov/udta/cr  "), 11, QStringLiteral("41 0D 42"), std::nullopt},
        {QStringLiteral("moov/udta/nul "), 8, QString(), std::nullopt},
        {QStringLiteral("moov/udta/long"), 108, QString::fromLatin1(hundred.left(48).toHex(' ').toUpper()),
         std::nullopt},
        {QStringLiteral("moov/udta/text"), 19, QStringLiteral("6C 69 6E 65 0A 6E 65 78 74 20 7E"),
         QStringLiteral("line\nnext ~")},
        {QStringLiteral("moov/trak/udta/name"), 9, QStringLiteral("78"), QStringLiteral("x")},
    };
    EXPECT_EQ(boxes.vendorBoxes, expected);
    EXPECT_EQ(expected[4].hexPreview.size(), 143);
}

// Brand, creation time, handler names and sample counts of generated movies, as ffprobe reads them.
TEST(MP4Boxes, agreesWithFFprobe)
{
    for (const QString name : {"containers.mp4", "containers.mov", "containers_rotated.mp4"}) {
        SCOPED_TRACE(name.toStdString());
        const QString path = TestSupport::media(name);
        const QJsonObject probe = TestSupport::ffprobe(path);
        const QJsonObject format =
            probe[QStringLiteral("format")].toObject()[QStringLiteral("tags")].toObject();
        const std::optional<MP4Boxes> boxes = MP4Boxes::read(path);
        ASSERT_TRUE(boxes);
        EXPECT_EQ(boxes->majorBrand, format[QStringLiteral("major_brand")].toString().trimmed());
        if (format.contains(QStringLiteral("creation_time"))) {
            EXPECT_EQ(
                boxes->creationTime,
                QDateTime::fromString(format[QStringLiteral("creation_time")].toString(), Qt::ISODateWithMs));
        } else {
            EXPECT_FALSE(boxes->creationTime);
        }
        const QJsonArray streams = probe[QStringLiteral("streams")].toArray();
        ASSERT_EQ(boxes->tracks.size(), streams.size());
        for (qsizetype i = 0; i < streams.size(); ++i) {
            const QJsonObject stream = streams[i].toObject();
            EXPECT_EQ(boxes->tracks[i].trackID, stream[QStringLiteral("id")].toString().toUInt(nullptr, 16));
            EXPECT_EQ(boxes->tracks[i].handlerName,
                      stream[QStringLiteral("tags")].toObject()[QStringLiteral("handler_name")].toString());
            EXPECT_EQ(boxes->tracks[i].sampleCount,
                      stream[QStringLiteral("nb_frames")].toString().toLongLong());
            EXPECT_EQ(boxes->sampleCounts.value(i),
                      stream[QStringLiteral("nb_frames")].toString().toLongLong());
        }
        // Movies written as QuickTime also name a data handler for every track.
        const qsizetype dataHandlers = boxes->handlerNames.count(QStringLiteral("DataHandler"));
        EXPECT_EQ(dataHandlers, name.endsWith(QLatin1String(".mov")) ? streams.size() : 0);
    }
}
