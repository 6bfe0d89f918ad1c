#include "roadcore/ClipExporter.h"

#include "fixtures/FFprobe.h"
#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>

#include <cerrno>
#include <chrono>
#include <thread>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

namespace {

using TestSupport::ffprobe;
using TestSupport::media;

constexpr double frame = 1.0 / 30;

QJsonObject streamOf(const QJsonObject &probe, const QString &type)
{
    for (const QJsonValue &value : probe.value("streams").toArray())
        if (value.toObject().value("codec_type").toString() == type)
            return value.toObject();
    return {};
}

double number(const QJsonObject &object, const char *key)
{
    return object.value(key).toString().toDouble();
}

// The rotation ffprobe reads from the video's display matrix.
int rotation(const QJsonObject &video)
{
    for (const QJsonValue &data : video.value("side_data_list").toArray())
        if (data.toObject().contains("rotation"))
            return data.toObject().value("rotation").toInt();
    return 0;
}

// The mean luma of the first and last frame the movie shows.
std::pair<double, double> firstAndLastGrey(const QString &path)
{
    const TestSupport::ProcessResult decoded =
        TestSupport::run("ffmpeg", {"-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"});
    const int luma = 320 * 240, frameBytes = luma * 3 / 2;
    if (!decoded.ok() || decoded.out.size() < frameBytes)
        return {-1, -1};
    auto mean = [&](qsizetype offset) {
        double sum = 0;
        for (int i = 0; i < luma; ++i)
            sum += quint8(decoded.out[offset + i]);
        return sum / luma;
    };
    return {mean(0), mean(decoded.out.size() - frameBytes)};
}

int frameCount(const QString &path)
{
    const QJsonObject probe = ffprobe(path, {"-count_frames", "-select_streams", "v"});
    return streamOf(probe, "video").value("nb_read_frames").toString().toInt();
}

QSet<QString> audioPacketHashes(const QString &path)
{
    const TestSupport::ProcessResult out =
        TestSupport::run("ffprobe", {"-v", "error", "-select_streams", "a", "-show_data_hash", "CRC32",
                                     "-show_entries", "packet=data_hash", "-of", "csv=p=0", path});
    QSet<QString> hashes;
    QByteArray text = out.out;
    for (const QByteArray &token : text.replace('\n', ',').split(','))
        if (token.trimmed().startsWith("CRC32:"))
            hashes.insert(QString::fromLatin1(token.trimmed()));
    return hashes;
}

ExportPreset fast(ExportPreset preset)
{
    preset.speed = QStringLiteral("ultrafast");
    return preset;
}

class ClipExporterTest : public testing::Test {
protected:
    QTemporaryDir dir;
    QString out(const QString &name) const { return dir.filePath(name); }
};

TEST(ExportPresetSize, FitsWithinTheBoxNeverLargerAndEven)
{
    struct Case {
        QSize source;
        std::optional<QSize> box;
        QSize expected;
    };
    const Case cases[] = {
        {{320, 240}, QSize(1920, 1080), {320, 240}},    {{2560, 1440}, QSize(1920, 1080), {1920, 1080}},
        {{2560, 1440}, QSize(1280, 720), {1280, 720}},  {{2048, 1536}, QSize(1920, 1080), {1440, 1080}},
        {{1921, 1081}, std::nullopt, {1920, 1080}},     {{1080, 1920}, QSize(1280, 720), {404, 720}},
        {{3840, 1080}, QSize(1920, 1080), {1920, 540}}, {{1, 1}, std::nullopt, {2, 2}},
    };
    for (const Case &c : cases) {
        ExportPreset preset = ExportPreset::encode("libx264", c.box, 20);
        EXPECT_EQ(preset.outputSize(c.source), c.expected) << c.source.width() << "x" << c.source.height();
    }
}

TEST_F(ClipExporterTest, EveryQualityCoversTheRangeFromZeroWithItsTags)
{
    struct Case {
        const char *name;
        ExportPreset preset;
        const char *videoTag;
    };
    const Case cases[] = {
        {"original", ExportPreset::passthrough(), "avc1"},
        {"hevc4k", ExportPreset::encode("libx265", std::nullopt, 18, "hvc1"), "hvc1"},
        {"hevc1080", ExportPreset::encode("libx265", QSize(1920, 1080), 24, "hvc1"), "hvc1"},
        {"h2641080", ExportPreset::encode("libx264", QSize(1920, 1080), 20), "avc1"},
        {"h264720", ExportPreset::encode("libx264", QSize(1280, 720), 23), "avc1"},
    };
    const QString source = media("export_aac.mp4");
    const QSet<QString> sourceAudio = audioPacketHashes(source);
    ASSERT_FALSE(sourceAudio.isEmpty());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = out(QString::fromLatin1(c.name) + ".mov");
        std::atomic<double> progress{0};
        const Result<void> result = ClipExporter::exportMovie(source, 1.5, 3.5, c.preset, path, &progress);
        ASSERT_TRUE(result) << result.error().toStdString();
        EXPECT_EQ(progress.load(), 1.0);

        const QJsonObject probe = ffprobe(path);
        const QJsonObject format = probe.value("format").toObject();
        const QJsonObject video = streamOf(probe, "video");
        const QJsonObject audio = streamOf(probe, "audio");
        EXPECT_NEAR(number(format, "start_time"), 0, 1e-3);
        EXPECT_NEAR(number(video, "start_time"), 0, 1e-3);
        EXPECT_NEAR(number(video, "duration"), 2.0, frame + 1e-3);
        EXPECT_NEAR(number(format, "duration"), 2.0, frame + 1e-3);
        EXPECT_EQ(video.value("codec_tag_string").toString(), c.videoTag);
        EXPECT_EQ(video.value("width").toInt(), 320);
        EXPECT_EQ(video.value("height").toInt(), 240);
        EXPECT_EQ(audio.value("codec_tag_string").toString(), "mp4a");
        // AAC audio is copied as stored, never encoded again.
        const QSet<QString> written = audioPacketHashes(path);
        EXPECT_FALSE(written.isEmpty());
        EXPECT_TRUE(sourceAudio.contains(written));
        // The timed text comes along, its last sample cut at the end.
        const QJsonObject text = streamOf(probe, "subtitle");
        EXPECT_EQ(text.value("codec_name").toString(), "mov_text");
        EXPECT_LE(number(text, "start_time") + number(text, "duration"), 2.0 + 1e-3);
        if (!c.preset.isPassthrough()) {
            EXPECT_EQ(frameCount(path), 60);
        }
    }
}

TEST_F(ClipExporterTest, LargePicturesAreFittedToTheQuality)
{
    struct Case {
        const char *source;
        ExportPreset preset;
        QSize expected;
    };
    const Case cases[] = {
        {"export_2560x1440.mp4",
         ExportPreset::encode("libx265", QSize(1920, 1080), 24, "hvc1"),
         {1920, 1080}},
        {"export_2560x1440.mp4", ExportPreset::encode("libx264", QSize(1280, 720), 23), {1280, 720}},
        {"export_2048x1536.mp4", ExportPreset::encode("libx264", QSize(1920, 1080), 20), {1440, 1080}},
        {"export_1921x1081.mp4", ExportPreset::encode("libx265", std::nullopt, 18, "hvc1"), {1920, 1080}},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.source);
        const QString path = out(QStringLiteral("fit%1.mov").arg(++n));
        const Result<void> result =
            ClipExporter::exportMovie(media(c.source), 0.5, 1.0, fast(c.preset), path);
        ASSERT_TRUE(result) << result.error().toStdString();
        const QJsonObject video = streamOf(ffprobe(path), "video");
        EXPECT_EQ(QSize(video.value("width").toInt(), video.value("height").toInt()), c.expected);
        EXPECT_EQ(video.value("pix_fmt").toString(), "yuv420p");
    }
}

TEST_F(ClipExporterTest, FirstAndLastFrameAreThoseOfTheRange)
{
    // Grey level 4 x frame number: 0.5 s is frame 15, the last frame before 1.5 s is frame 44.
    for (const ExportPreset &preset :
         {ExportPreset::passthrough(), fast(ExportPreset::encode("libx264", QSize(1280, 720), 10))}) {
        SCOPED_TRACE(preset.videoEncoder.toStdString());
        const QString path = out(preset.isPassthrough() ? "grey-copy.mov" : "grey-encoded.mov");
        ASSERT_TRUE(ClipExporter::exportMovie(media("export_grey.mp4"), 0.5, 1.5, preset, path));
        const auto [first, last] = firstAndLastGrey(path);
        EXPECT_NEAR(first, 60, 3);
        EXPECT_NEAR(last, 176, 3);
        EXPECT_EQ(frameCount(path), 30);
    }
}

TEST_F(ClipExporterTest, PcmAudioIsEncodedAndTheRotationKept)
{
    for (const ExportPreset &preset :
         {ExportPreset::passthrough(), fast(ExportPreset::encode("libx264", QSize(1280, 720), 23))}) {
        SCOPED_TRACE(preset.videoEncoder.toStdString());
        const QString path = out(preset.isPassthrough() ? "pcm-copy.mov" : "pcm-encoded.mov");
        const Result<void> result =
            ClipExporter::exportMovie(media("export_pcm.mov"), 1.2, 2.2, preset, path);
        ASSERT_TRUE(result) << result.error().toStdString();
        const QJsonObject probe = ffprobe(path);
        const QJsonObject audio = streamOf(probe, "audio");
        EXPECT_EQ(rotation(streamOf(probe, "video")), 90);
        if (preset.isPassthrough()) {
            EXPECT_EQ(audio.value("codec_name").toString(), "pcm_s16le");
        } else {
            EXPECT_EQ(audio.value("codec_name").toString(), "aac");
            EXPECT_EQ(audio.value("codec_tag_string").toString(), "mp4a");
            EXPECT_EQ(audio.value("sample_rate").toString(), "44100");
            EXPECT_NEAR(number(audio, "duration"), 1.0, 0.03);
        }
    }
}

TEST_F(ClipExporterTest, FailuresAndCancelLeaveNoFile)
{
    const QString source = media("export_aac.mp4");
    struct Case {
        const char *name;
        QString source;
        ExportPreset preset;
        bool cancel;
        QString message;
    };
    const Case cases[] = {
        {"unknown encoder", source, ExportPreset::encode("libnope", std::nullopt, 20), false,
         "This export format isn't available for this video."},
        {"audio encoder as video", source, ExportPreset::encode("aac", std::nullopt, 20), false,
         "This export format isn't available for this video."},
        {"cancelled", source, ExportPreset::passthrough(), true, "The export was cancelled."},
        {"missing source", dir.filePath("gone.mp4"), ExportPreset::passthrough(), false,
         // then the reader's own reason
         QStringLiteral("\u201Cgone.mp4\u201D couldn\u2019t be exported: ")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = out("failed.mov");
        std::atomic<bool> cancel{c.cancel};
        const Result<void> result =
            ClipExporter::exportMovie(c.source, 1, 3, c.preset, path, nullptr, &cancel);
        ASSERT_FALSE(result);
        if (c.message.endsWith(": "))
            EXPECT_TRUE(result.error().startsWith(c.message)) << result.error().toStdString();
        else
            EXPECT_EQ(result.error(), c.message);
        EXPECT_FALSE(QFileInfo::exists(path));
    }
}

TEST_F(ClipExporterTest, DamagedSourcesFailWithTheirNameAndACancelMidwayLeavesNoFile)
{
    const QByteArray whole = TestSupport::readFile(media("export_aac.mp4"));
    TestSupport::writeFile(out("half.mp4"), whole.left(whole.size() / 2));
    TestSupport::writeFile(out("text.mp4"), "not a movie at all");
    for (const char *name : {"half.mp4", "text.mp4"}) {
        SCOPED_TRACE(name);
        const QString path = out("damaged.mov");
        const Result<void> result =
            ClipExporter::exportMovie(out(name), 0.5, 2, ExportPreset::passthrough(), path);
        ASSERT_FALSE(result);
        EXPECT_TRUE(
            result.error().startsWith(QStringLiteral("\u201C%1\u201D couldn\u2019t be exported: ").arg(name)))
            << result.error().toStdString();
        EXPECT_FALSE(QFileInfo::exists(path));
    }

    // The flag is read between packets: raised once the export is under way, the partial movie goes.
    std::atomic<double> progress{0};
    std::atomic<bool> cancel{false};
    std::thread watcher([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (progress.load() < 0.2 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        cancel = true;
    });
    const QString path = out("cancelled.mov");
    const Result<void> result = ClipExporter::exportMovie(media("export_aac.mp4"), 0, 4,
                                                          ExportPreset::encode("libx264", std::nullopt, 23),
                                                          path, &progress, &cancel);
    watcher.join();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), ClipExporter::cancelledMessage);
    EXPECT_FALSE(QFileInfo::exists(path));
}

// A read that fails mid-way, as when the card is pulled: the export fails with the reason and no movie is
// left, whichever preset; the end of the file read early is only a shorter movie.
TEST_F(ClipExporterTest, OnlyTheEndOfTheFileEndsTheCopy)
{
    struct Case {
        const char *name;
        ExportPreset preset;
        int failingRead; // the read that fails
        int status;
        bool exported;
    };
    const Case cases[] = {
        {"passthrough, input/output error", ExportPreset::passthrough(), 60, AVERROR(EIO), false},
        {"encoded, input/output error", fast(ExportPreset::encode("libx264", std::nullopt, 23)), 60,
         AVERROR(EIO), false},
        {"passthrough, invalid data", ExportPreset::passthrough(), 60, AVERROR_INVALIDDATA, false},
        {"while finding the keyframe", ExportPreset::passthrough(), 1, AVERROR(EIO), false},
        {"passthrough, end of file", ExportPreset::passthrough(), 60, AVERROR_EOF, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = out("pulled.mov");
        int reads = 0;
        const Result<void> result = ClipExporter::exportMovieReading(
            media("export_aac.mp4"), 1, 3.5, c.preset, path, nullptr, nullptr,
            [&](AVFormatContext *input, AVPacket *packet) {
                return ++reads >= c.failingRead ? c.status : av_read_frame(input, packet);
            });
        EXPECT_EQ(result.ok(), c.exported);
        EXPECT_EQ(QFileInfo::exists(path), c.exported);
        if (!c.exported) {
            EXPECT_TRUE(
                result.error().startsWith(u"\u201Cexport_aac.mp4\u201D couldn\u2019t be exported: "_qs))
                << result.error().toStdString();
            char reason[AV_ERROR_MAX_STRING_SIZE] = {};
            av_strerror(c.status, reason, sizeof reason);
            EXPECT_TRUE(result.error().endsWith(QString::fromUtf8(reason))) << result.error().toStdString();
        }
        QFile::remove(path);
    }
}

} // namespace
