#include "roadcore/TelemetryReader.h"

#include "roadcore/AVIFile.h"
#include "roadcore/TelemetryParser.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>

namespace {

using TestSupport::media;

const QByteArray rmc = "$GPRMC,120000.00,A,4807.038,N,01131.000,E,22.4,84.4,010125,,,A*6A";
const QByteArray gga = "$GPGGA,120000.00,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47";

QStringList texts(const QList<RawRecord> &records)
{
    QStringList result;
    for (const RawRecord &record : records)
        result << record.text;
    return result;
}

QByteArray binaryNoise(qsizetype size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    for (char &c : bytes)
        c = char(random.bounded(256));
    // Noise that happens to spell a pattern would change what the tests expect.
    bytes.replace("RMC,", "RMC.");
    bytes.replace("gsensor", "gsenso_");
    bytes.replace("ETKLP1", "ETKLP_");
    return bytes;
}

QString copyWith(const QTemporaryDir &dir, const QString &source, const QString &name,
                 const QByteArray &appended)
{
    const QString path = dir.filePath(name);
    TestSupport::writeFile(path, TestSupport::readFile(source) + appended);
    return path;
}

// Inserts "##tx" chunks at the start of an AVI file's "movi" list, fixing the list's and the file's sizes
// and the index offsets, as cameras that store text chunks do.
QByteArray withTextChunks(QByteArray avi, const QList<QByteArray> &bodies)
{
    const qsizetype list = avi.indexOf("movi") - 8;
    Q_ASSERT(list > 0 && avi.mid(list, 4) == "LIST");
    QByteArray chunks;
    for (const QByteArray &body : bodies) {
        chunks += "02tx";
        char size[4];
        qToLittleEndian<quint32>(quint32(body.size()), size);
        chunks += QByteArray(size, 4) + body;
        if (body.size() % 2)
            chunks += '\0';
    }
    const auto grow = [&](qsizetype at, qsizetype by) {
        qToLittleEndian<quint32>(qFromLittleEndian<quint32>(avi.constData() + at) + quint32(by),
                                 avi.data() + at);
    };
    grow(4, chunks.size());
    grow(list + 4, chunks.size());
    const qsizetype index = avi.indexOf("idx1", list);
    if (index > 0) {
        const quint32 entries = qFromLittleEndian<quint32>(avi.constData() + index + 4) / 16;
        for (quint32 i = 0; i < entries; ++i)
            grow(index + 8 + 16 * i + 8, chunks.size());
    }
    avi.insert(list + 12, chunks);
    return avi;
}

TEST(TelemetryReaderBytes, CutsTextSamplesByTheirLengthPrefix)
{
    const struct {
        QByteArray sample;
        QString text;
    } cases[] = {
        {"", ""},
        {"x", ""},
        {QByteArray("\0\0", 2), ""},
        {QByteArray("\0\3abcdef", 8), "abc"},
        {QByteArray("\0\6abcdef", 8), "abcdef"},
        {QByteArray("\0\0abc", 5), "abc"},
        {QByteArray("\0\x09"
                    "abc",
                    5),
         "abc"},
        {QByteArray("\1\0abc", 5), "abc"},
        {QByteArray("\0\3a\xff"
                    "b",
                    5),
         QString("a") + QChar(0xFFFD) + "b"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TelemetryReader::sampleText(c.sample), c.text) << c.sample.toHex().toStdString();
}

TEST(TelemetryReaderBytes, TakesTheLinesAfterTheLastTrailerMarker)
{
    const struct {
        QByteArray window;
        std::optional<QStringList> lines;
    } cases[] = {
        {"no marker at all", std::nullopt},
        {"ETKLP", std::nullopt},
        {"videoETKLP1", std::nullopt},
        {"videoETKLP1\r\n\n\r\x0b\x0c", std::nullopt},
        {"ETKLP1a", QStringList{"a"}},
        {"junkETKLP1\nfirst\r\nsecond\rthird\x0b\x0c fourth ",
         QStringList{"first", "second", "third", " fourth "}},
        {"ETKLP1\nold\nETKLP1\nnew\n", QStringList{"new"}},
        {"ETKLP1x\xc2\x85y\xe2\x80\xa8z\xe2\x80\xa9w", QStringList{"x", "y", "z", "w"}},
        {"ETKLP1bad\xff", QStringList{QString("bad") + QChar(0xFFFD)}},
    };
    for (const auto &c : cases) {
        const auto records = TelemetryReader::trailerRecords(c.window);
        ASSERT_EQ(records.has_value(), c.lines.has_value()) << c.window.toStdString();
        if (!records)
            continue;
        EXPECT_EQ(texts(*records), *c.lines);
        for (qsizetype i = 0; i < records->size(); ++i) {
            EXPECT_EQ((*records)[i].index, i);
            EXPECT_FALSE((*records)[i].time);
        }
    }
}

TEST(TelemetryReaderBytes, ScanCutsRecordsAroundEveryPatternInAnyPieceSize)
{
    const QByteArray longRun(300, 'x');
    const struct {
        QByteArray data;
        QStringList records;
    } cases[] = {
        {"", {}},
        {"nothing here", {}},
        {"RMC,1,2", {"RMC,1,2"}},
        {"aRMC,1", {"aRMC,1"}},
        {QByteArray("\x01\x02\x03RMC,1\n", 9), {QString("\x01\x02\x03RMC,1")}},
        {"abcdRMC,5;6", {"bcdRMC,5"}},
        {"abcRMC,;x", {"abcRMC,"}},
        {"$GPRMC," + longRun, {QString("$GPRMC,") + QString(153, 'x')}},
        {QByteArray("..gsensor,1,2,3\0..$GNRMC,x", 26), {"..gsensor,1,2,3", "$GNRMC,x"}},
        // One match swallows a second inside its record; the other pattern's record still overlaps it.
        {"zzzRMC,RMC,gsensor,1", {"zzzRMC,RMC,gsensor,1", "MC,gsensor,1"}},
        {"\xff\xfeRMC,\xff", {QString(QChar(0xFFFD)) + QChar(0xFFFD) + "RMC,"}},
        {"gsensorRMC,", {"gsensorRMC,", "sorRMC,"}},
    };
    for (const auto &c : cases) {
        for (qint64 piece : {1, 2, 5, 170, 4096}) {
            QByteArray bytes = c.data;
            QBuffer device(&bytes);
            device.open(QIODevice::ReadOnly);
            const QList<RawRecord> records = TelemetryReader::scanRecords(device, piece);
            EXPECT_EQ(texts(records), c.records) << c.data.toStdString() << " in pieces of " << piece;
            for (qsizetype i = 0; i < records.size(); ++i)
                EXPECT_EQ(records[i].index, i);
        }
    }
    EXPECT_TRUE(TelemetryReader::scanRecords("/no/such/file").isEmpty());
    EXPECT_FALSE(TelemetryReader::tailRecords("/no/such/file"));
}

// A long scan keeps its texts end to end in a few shared blocks; a text that would cross a block's end opens
// the next block, and every text reads back whole, invalid bytes as U+FFFD.
TEST(TelemetryReaderBytes, ScanTextsShareBlocksAndNoneIsCutAtABlockEnd)
{
    QByteArray bytes;
    QStringList expected;
    for (int i = 0; bytes.size() - i < 2 * TelemetryReader::scanTextBlock + 1000; ++i) { // the texts alone
        // Lengths that put every offset at a block's end; now and then invalid bytes before the pattern.
        const QByteArray line = QByteArray(i % 1000 ? "$GP" : "\xff\xfeX") + "RMC," + QByteArray::number(i) +
                                QByteArray(i % 97, 'x');
        bytes += line + '\n';
        expected << Utf8::decode(line);
    }
    QBuffer device(&bytes);
    device.open(QIODevice::ReadOnly);
    const QList<RawRecord> records = TelemetryReader::scanRecords(device, 64 * 1024);
    ASSERT_EQ(records.size(), expected.size());
    int blocks = 1;
    for (qsizetype i = 0; i < records.size(); ++i) {
        ASSERT_EQ(records[i].text.toString(), expected[i]) << "record " << i;
        if (i > 0 &&
            records[i].text.bytes().data() != records[i - 1].text.bytes().data() + records[i - 1].text.size())
            ++blocks;
    }
    EXPECT_EQ(blocks, 3);
}

// Sentences across the seams of the reader's pieces, in a file of several pieces, found where grep finds
// them.
TEST(TelemetryReaderBytes, ScanOfABuriedFileAgreesWithGrep)
{
    QTemporaryDir dir;
    QByteArray bytes;
    QStringList expected;
    for (int i = 0; i < 40; ++i) {
        bytes += binaryNoise(9000 + 37 * i, quint32(i));
        const QByteArray line = (i % 3 == 0)
                                    ? "gsensor," + QByteArray::number(i) + ",2,3"
                                    : QByteArray(rmc).replace("120000", QByteArray::number(100000 + i));
        bytes += '\0' + line + '\0';
        expected << QString::fromLatin1(line.mid(line.indexOf(i % 3 == 0 ? "gsensor" : "RMC,")));
    }
    const QString path = dir.filePath("buried.bin");
    TestSupport::writeFile(path, bytes);
    const QList<RawRecord> records = TelemetryReader::scanRecords(path);
    ASSERT_EQ(records.size(), 40);
    for (int i = 0; i < 40; ++i)
        EXPECT_TRUE(records[i].text.toString().endsWith(expected[i]))
            << records[i].text.toString().toStdString();
    if (TestSupport::haveProgram("grep")) {
        const TestSupport::ProcessResult grep =
            TestSupport::run("env", {"LC_ALL=C", "grep", "-a", "-o", "-E", "(RMC,|gsensor)[ -:<-~]*", path});
        const QStringList found = QString::fromLatin1(grep.out).split('\n', Qt::SkipEmptyParts);
        ASSERT_EQ(found.size(), records.size());
        for (int i = 0; i < found.size(); ++i)
            EXPECT_TRUE(records[i].text.toString().endsWith(found[i])) << found[i].toStdString();
    }
}

// Sentences at the seams of the 1 MiB pieces in which a file is read: the pattern itself cut in two, the
// bytes before it in the previous piece, the rest of the record in the next. Each is found whole.
TEST(TelemetryReaderBytes, SentencesAcrossThePiecesOfAFileAreFoundWhole)
{
    constexpr qint64 piece = 1024 * 1024;
    // Where the pattern starts, from a seam.
    const qint64 shifts[] = {-150, -100, -7, -6, -5, -4, -3, -2, -1, 0, 1, 2, 3, 4};
    const qint64 seams = qint64(std::size(shifts));
    QByteArray bytes = binaryNoise((seams + 1) * piece, 7);
    QStringList expected;
    for (qint64 k = 0; k < seams; ++k) {
        QByteArray line = k % 2 ? "ab:gsensor," + QByteArray::number(k) : "$GPRMC," + QByteArray::number(k);
        while (line.size() < 150)
            line += ",0";
        const qint64 match = (k + 1) * piece + shifts[k];
        bytes.replace(match - 3, line.size() + 1, line + ';');
        expected << QString::fromLatin1(line);
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("seams.bin");
    TestSupport::writeFile(path, bytes);
    EXPECT_EQ(texts(TelemetryReader::scanRecords(path)), expected);
}

TEST(TelemetryReaderBytes, SearchesOnlyTheLastFourMebibytesForTheTrailer)
{
    QTemporaryDir dir;
    const QByteArray tail = "ETKLP1\n" + rmc + "\n";
    const QString small = dir.filePath("small.bin");
    TestSupport::writeFile(small, "ETKLP1\nfirst\n" + binaryNoise(1000, 1) + tail);
    EXPECT_EQ(texts(*TelemetryReader::tailRecords(small)), QStringList{QString(rmc)});

    const QString large = dir.filePath("large.bin");
    TestSupport::writeFile(large, tail + binaryNoise(TelemetryReader::trailerWindow, 2));
    EXPECT_FALSE(TelemetryReader::tailRecords(large));
    TestSupport::writeFile(large, tail + binaryNoise(TelemetryReader::trailerWindow - tail.size(), 2));
    EXPECT_TRUE(TelemetryReader::tailRecords(large));
}

TEST(TelemetryReader, FallsBackFromTrackToTrailerToScan)
{
    QTemporaryDir dir;
    const QByteArray trailer = "ETKLP1\nold\nETKLP1\n" + rmc + "\ngsensor,1,2,3\n";
    const QByteArray buried = binaryNoise(5000, 3) + rmc + '\0' + binaryNoise(5000, 4);

    const struct {
        QString path;
        QString source;
        qsizetype records;
    } cases[] = {
        {media("reader_track.mp4"), "MP4 text track", 3},
        {media("reader_two_tracks.mp4"), "MP4 text track", 3},
        // A track without sentences falls through; the later trailer marker wins.
        {copyWith(dir, media("reader_plain_track.mp4"), "plain_F.mp4", trailer), "LP1 trailer", 2},
        {copyWith(dir, media("basic_front.mp4"), "trailer_F.mp4", trailer), "LP1 trailer", 2},
        {copyWith(dir, media("reader_plain_track.mp4"), "buried_F.mp4", buried), "raw scan", 1},
        {copyWith(dir, media("basic_front.mp4"), "nothing_F.mp4", binaryNoise(3000, 5)), "raw scan", 0},
        {copyWith(dir, QString(), "garbage_F.mov", buried), "raw scan", 1},
        {copyWith(dir, QString(), "missing_F.avi", {}), "raw scan", 0},
        {copyWith(dir, QString(), "notriff_F.avi", trailer), "LP1 trailer", 2},
        {dir.filePath("absent_F.mp4"), "raw scan", 0},
    };
    for (const auto &c : cases) {
        const Telemetry telemetry = TelemetryReader::read(c.path);
        EXPECT_EQ(telemetry.source, c.source) << c.path.toStdString();
        EXPECT_EQ(telemetry.records.size(), c.records) << c.path.toStdString();
        EXPECT_FALSE(telemetry.sourceChannel);
    }
}

// Records without times of their own are spread over the file's duration; an unknown duration is absent,
// never a number that would make every time unusable.
TEST(TelemetryReader, SpreadsUntimedRecordsOverTheFileDuration)
{
    QTemporaryDir dir;
    const QByteArray trailer = "ETKLP1\ngsensor,1,0,0\ngsensor,2,0,0\ngsensor,3,0,0\ngsensor,4,0,0\n";
    const struct {
        QString path;
        QList<double> times;
    } cases[] = {
        {copyWith(dir, media("basic_front.mp4"), "movie_F.mp4", trailer), {0, 0.5, 1.0, 1.5}},
        {copyWith(dir, media("reader_plain.avi"), "avi_F.avi", trailer), {0, 0.5, 1.0, 1.5}},
        {copyWith(dir, QString(), "unknown_F.mp4", trailer), {0, 1, 2, 3}},
        {copyWith(dir, QString(), "unknown_F.avi", trailer), {0, 1, 2, 3}},
    };
    for (const auto &c : cases) {
        const Telemetry telemetry = TelemetryReader::read(c.path);
        ASSERT_EQ(telemetry.sensor.size(), c.times.size()) << c.path.toStdString();
        for (qsizetype i = 0; i < c.times.size(); ++i)
            EXPECT_NEAR(telemetry.sensor[i].time, c.times[i], 0.02) << c.path.toStdString();
    }
}

TEST(TelemetryReader, TakesAVITextChunksBeforeTrailerAndScan)
{
    QTemporaryDir dir;
    const QByteArray plain = TestSupport::readFile(media("reader_plain.avi"));
    ASSERT_FALSE(plain.isEmpty());
    const QByteArray trailer = "ETKLP1\n" + rmc + "\n";

    const QString chunks = dir.filePath("chunks_F.avi");
    TestSupport::writeFile(chunks,
                           withTextChunks(plain, {rmc + "\n" + gga, "gsensor,1,2,3;CAR,1,2"}) + trailer);
    const Telemetry fromChunks = TelemetryReader::read(chunks);
    EXPECT_EQ(fromChunks.source, "AVI text chunks");
    EXPECT_EQ(fromChunks.gps.size(), 1);
    EXPECT_EQ(fromChunks.sensor.size(), 1);

    // Chunks without sentences still win: the trailer is not read.
    const QString wordy = dir.filePath("wordy_F.avi");
    TestSupport::writeFile(wordy, withTextChunks(plain, {"just words"}) + trailer);
    EXPECT_EQ(TelemetryReader::read(wordy).source, "AVI text chunks");
    EXPECT_TRUE(TelemetryReader::read(wordy).isEmpty());

    const QString none = dir.filePath("none_F.avi");
    TestSupport::writeFile(none, plain + trailer);
    EXPECT_EQ(TelemetryReader::read(none).source, "LP1 trailer");
}

TEST(TelemetryReader, TakesTheFirstChannelWithData)
{
    QTemporaryDir dir;
    const QString empty = copyWith(dir, media("basic_front.mp4"), "empty.mp4", {});
    const QString rear = copyWith(dir, media("basic_rear.mp4"), "rear.mp4", "ETKLP1\n" + rmc + "\n");
    const QString interior = media("reader_track.mp4");

    const struct {
        std::map<Channel, QString> files;
        std::optional<Channel> channel;
        QString source;
        bool hasData;
    } cases[] = {
        {{{Channel::front, empty}, {Channel::rear, rear}, {Channel::interior, interior}},
         Channel::rear,
         "LP1 trailer",
         true},
        {{{Channel::front, interior}, {Channel::rear, rear}}, Channel::front, "MP4 text track", true},
        {{{Channel::interior, interior}, {Channel::front, empty}}, Channel::interior, "MP4 text track", true},
        {{{Channel::rear, empty}, {Channel::interior, empty}}, Channel::rear, "raw scan", false},
        {{}, std::nullopt, Telemetry::empty().source, false},
    };
    for (const auto &c : cases) {
        const Telemetry telemetry = TelemetryReader::read(c.files);
        EXPECT_EQ(telemetry.sourceChannel, c.channel);
        EXPECT_EQ(telemetry.source, c.source);
        EXPECT_EQ(!telemetry.isEmpty(), c.hasData);
    }
}

// What exiftool -ee and ffprobe -show_data read of the same tracks and chunks.
struct ToolSample {
    std::optional<double> time;
    QString text;
};

QList<ToolSample> exiftoolTexts(const QString &path)
{
    const TestSupport::ProcessResult run =
        TestSupport::run("exiftool", {"-ee", "-j", "-n", "-a", "-G3", "-Text", "-SampleTime", path});
    const QJsonObject object = QJsonDocument::fromJson(run.out).array().first().toObject();
    QList<ToolSample> samples;
    for (int doc = 1;; ++doc) {
        const QString prefix = QString("Doc%1:").arg(doc);
        if (!object.contains(prefix + "Text") && !object.contains(prefix + "SampleTime"))
            break;
        ToolSample sample;
        if (object.contains(prefix + "SampleTime"))
            sample.time = object.value(prefix + "SampleTime").toDouble();
        sample.text = object.value(prefix + "Text").toVariant().toString();
        samples << sample;
    }
    return samples;
}

QList<ToolSample> ffprobePackets(const QString &path, int stream)
{
    const TestSupport::ProcessResult run =
        TestSupport::run("ffprobe", {"-v", "error", "-select_streams", QString::number(stream),
                                     "-show_packets", "-show_data", path});
    QList<ToolSample> samples;
    QByteArray data;
    std::optional<double> time;
    static const QRegularExpression hexLine("^[0-9a-f]{8}: ((?:[0-9a-f]{2,4} )+) ");
    for (const QString &line : QString::fromUtf8(run.out).split('\n')) {
        if (line.startsWith("pts_time="))
            time = line.mid(9).toDouble();
        if (const QRegularExpressionMatch m = hexLine.match(line); m.hasMatch())
            data += QByteArray::fromHex(m.captured(1).remove(' ').toLatin1());
        if (line == "[/PACKET]") {
            samples << ToolSample{time, TelemetryReader::sampleText(data)};
            data.clear();
        }
    }
    return samples;
}

TEST(TelemetryReaderCrossCheck, TextTracksAgreeWithExiftoolAndFFprobe)
{
    if (!TestSupport::haveProgram("exiftool") || !TestSupport::haveProgram("ffprobe"))
        GTEST_SKIP() << "needs exiftool and ffprobe";
    for (const QString &path : {media("reader_track.mp4"), media("reader_track.mov")}) {
        const Result<QList<RawRecord>> records = TelemetryReader::textTrackRecords(path);
        ASSERT_TRUE(records);
        ASSERT_FALSE(records->isEmpty());

        const QList<ToolSample> packets = ffprobePackets(path, 1);
        ASSERT_EQ(packets.size(), records->size()) << path.toStdString();
        for (qsizetype i = 0; i < packets.size(); ++i) {
            EXPECT_EQ((*records)[i].text, packets[i].text);
            ASSERT_TRUE((*records)[i].time);
            EXPECT_NEAR(*(*records)[i].time, *packets[i].time, 1e-6);
        }

        // exiftool also lists the empty sample that ends a track; the texts with content agree.
        QList<ToolSample> exif;
        for (const ToolSample &sample : exiftoolTexts(path)) {
            if (!sample.text.isEmpty())
                exif << sample;
        }
        QList<RawRecord> ours;
        for (const RawRecord &record : *records) {
            if (!record.text.isEmpty())
                ours << record;
        }
        ASSERT_EQ(exif.size(), ours.size()) << path.toStdString();
        for (qsizetype i = 0; i < exif.size(); ++i) {
            EXPECT_EQ(ours[i].text, exif[i].text);
            EXPECT_NEAR(*ours[i].time, *exif[i].time, 1e-3);
        }

        const Telemetry telemetry = TelemetryReader::read(path);
        EXPECT_EQ(telemetry.gps.size(), 2);
        EXPECT_EQ(telemetry.sensor.size(), 3);
        EXPECT_EQ(telemetry.vehicle.size(), 1);
    }
}

TEST(TelemetryReaderCrossCheck, AVITextChunksAgreeWithExiftool)
{
    if (!TestSupport::haveProgram("exiftool") || !TestSupport::haveProgram("ffprobe"))
        GTEST_SKIP() << "needs exiftool and ffprobe";
    QTemporaryDir dir;
    const QString path = dir.filePath("chunks_F.avi");
    TestSupport::writeFile(path, withTextChunks(TestSupport::readFile(media("reader_plain.avi")),
                                                {rmc + "\n" + gga, "gsensor,1,2,3", "CAR,0,0,55,1"}));
    // The inserted chunks leave the movie whole for other readers.
    const TestSupport::ProcessResult count =
        TestSupport::run("ffprobe", {"-v", "error", "-count_packets", "-show_entries",
                                     "stream=nb_read_packets", "-of", "csv=p=0", path});
    EXPECT_EQ(QString::fromLatin1(count.out).trimmed(), "20");

    const std::optional<AVIFile> avi = AVIFile::read(path);
    ASSERT_TRUE(avi);
    const QList<ToolSample> exif = exiftoolTexts(path);
    ASSERT_EQ(exif.size(), avi->textRecords.size());
    for (qsizetype i = 0; i < exif.size(); ++i)
        EXPECT_EQ(avi->textRecords[i].text, exif[i].text);
    const Telemetry telemetry = TelemetryReader::read(path);
    EXPECT_EQ(telemetry.source, "AVI text chunks");
    EXPECT_EQ(telemetry.gps.size(), 1);
    EXPECT_EQ(telemetry.sensor.size(), 1);
    EXPECT_EQ(telemetry.vehicle.size(), 1);
}

TEST(TelemetryReaderCrossCheck, TrailerOfAMovieIsWhatTailAndGrepSee)
{
    if (!TestSupport::haveProgram("ffprobe"))
        GTEST_SKIP() << "needs ffprobe";
    QTemporaryDir dir;
    const QString path =
        copyWith(dir, media("basic_front.mp4"), "trailer_F.mp4", "ETKLP1\r\n" + rmc + "\r\n" + gga + "\r\n");
    const TestSupport::ProcessResult sh = TestSupport::run(
        "sh", {"-c", "tail -c 4194304 \"$0\" | grep -a -A100 ETKLP1 | tail -n +2 | tr -d '\\r'", path});
    const QStringList lines = QString::fromLatin1(sh.out).split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(texts(*TelemetryReader::tailRecords(path)), lines);

    // The appended trailer leaves the movie readable, and its duration is the one the reader uses.
    const Telemetry telemetry = TelemetryReader::read(path);
    EXPECT_EQ(telemetry.source, "LP1 trailer");
    EXPECT_EQ(telemetry.gps.size(), 1);
}

} // namespace
