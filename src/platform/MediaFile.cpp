#include "platform/MediaFile.h"

#include "platform/RegularFile.h"

#include <QFileInfo>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/log.h>
}

#include <cmath>
#include <mutex>

namespace {

void silenceLibraryLog()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

bool isQuickTimeExtension(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("mp4") || suffix == QLatin1String("mov") || suffix == QLatin1String("m4v");
}

QString errorText(int code)
{
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buffer, sizeof buffer);
    return QString::fromUtf8(buffer);
}

QString tag(const AVDictionary *metadata, const char *key)
{
    const AVDictionaryEntry *entry = av_dict_get(metadata, key, nullptr, 0);
    return entry && entry->value ? QString::fromUtf8(entry->value) : QString();
}

MediaStream::Type typeOf(AVMediaType type)
{
    switch (type) {
    case AVMEDIA_TYPE_VIDEO:
        return MediaStream::Type::video;
    case AVMEDIA_TYPE_AUDIO:
        return MediaStream::Type::audio;
    case AVMEDIA_TYPE_SUBTITLE:
        return MediaStream::Type::subtitle;
    case AVMEDIA_TYPE_DATA:
        return MediaStream::Type::data;
    case AVMEDIA_TYPE_ATTACHMENT:
        return MediaStream::Type::attachment;
    default:
        return MediaStream::Type::unknown;
    }
}

double rotationOf(const AVStream *stream)
{
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(60, 30, 100)
    const AVPacketSideData *data = av_packet_side_data_get(
        stream->codecpar->coded_side_data, stream->codecpar->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
    const uint8_t *matrix = data ? data->data : nullptr;
    const size_t size = data ? data->size : 0;
#else
    size_t size = 0;
    const uint8_t *matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
#endif
    if (!matrix || size < 9 * sizeof(int32_t))
        return 0;
    // The matrix turns counter-clockwise; the picture is shown turned the other way.
    const double counterClockwise = av_display_rotation_get(reinterpret_cast<const int32_t *>(matrix));
    if (!std::isfinite(counterClockwise))
        return 0;
    double degrees = std::fmod(-counterClockwise, 360.0);
    if (degrees < 0)
        degrees += 360;
    return degrees == 0 || degrees >= 360 ? 0 : degrees;
}

MediaStream describe(const AVStream *stream)
{
    const AVCodecParameters *codec = stream->codecpar;
    MediaStream info;
    info.index = stream->index;
    info.id = stream->id;
    info.type = typeOf(codec->codec_type);
    info.codecName = QString::fromUtf8(avcodec_get_name(codec->codec_id));
    if (codec->codec_tag != 0) {
        char text[AV_FOURCC_MAX_STRING_SIZE] = {};
        info.codecTag = QString::fromUtf8(av_fourcc_make_string(text, codec->codec_tag));
    }
    info.width = std::max(codec->width, 0);
    info.height = std::max(codec->height, 0);
    AVRational rate = stream->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = stream->r_frame_rate;
    if (rate.num > 0 && rate.den > 0)
        info.frameRate = av_q2d(rate);
    info.bitRate = std::max<int64_t>(codec->bit_rate, 0);
    info.sampleRate = std::max(codec->sample_rate, 0);
    info.channels = std::max(codec->ch_layout.nb_channels, 0);
    // The headers state no rate for uncompressed audio: its rate is fixed by its sample format.
    if (info.bitRate == 0 && info.type == MediaStream::Type::audio) {
        if (const int bits = av_get_exact_bits_per_sample(codec->codec_id); bits > 0)
            info.bitRate = qint64(info.sampleRate) * bits * info.channels;
    }
    info.frameCount = std::max<int64_t>(stream->nb_frames, 0);
    info.encoder = tag(stream->metadata, "encoder");
    info.language = tag(stream->metadata, "language");
    info.handlerName = tag(stream->metadata, "handler_name");
    if (info.type == MediaStream::Type::video)
        info.rotation = rotationOf(stream);
    return info;
}

} // namespace

void MediaFile::ContextDeleter::operator()(AVFormatContext *context) const
{
    avformat_close_input(&context);
}

void MediaFile::PacketDeleter::operator()(AVPacket *packet) const
{
    av_packet_free(&packet);
}

Result<MediaFile::Context> MediaFile::openContext(const QString &path, Demuxer demuxer, Reading reading)
{
    silenceLibraryLog();
    // The demuxer opens the descriptor we already hold, known to be a regular file: a named pipe put in the
    // file's place can make neither open wait.
    const Result<UniqueFd> held = RegularFile::open(path);
    if (!held)
        return held.failure();

    const AVInputFormat *format = nullptr;
    if (demuxer == Demuxer::quickTime || isQuickTimeExtension(path))
        format = av_find_input_format("mov");

    AVDictionary *options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    // Demuxers that read only the one file; playlists and concatenation lists are not among them.
    av_dict_set(&options, "format_whitelist", "mov,avi,matroska,mpegts,flv,asf,mpeg", 0);
    av_dict_set(&options, "enable_drefs", "0", 0);
    // Each refill of the read buffer would otherwise fetch a whole buffer for a sample of a few bytes.
    if (reading == Reading::sparse)
        av_dict_set(&options, "blocksize", "4096", 0);

    AVFormatContext *raw = nullptr;
    const QByteArray url = QByteArrayLiteral("file:/proc/self/fd/") + QByteArray::number(held->get());
    const int status = avformat_open_input(&raw, url.constData(), format, &options);
    av_dict_free(&options);
    if (status < 0)
        return Failure{errorText(status)};
    return Context(raw);
}

Result<MediaFile> MediaFile::open(const QString &path, Demuxer demuxer, Reading reading)
{
    Result<Context> context = openContext(path, demuxer, reading);
    if (!context)
        return context.failure();
    MediaFile file;
    file.m_context = std::move(*context);
    AVFormatContext *raw = file.m_context.get();
    for (unsigned i = 0; i < raw->nb_streams; ++i) {
        file.m_streams.append(describe(raw->streams[i]));
        file.m_selected.append(true);
    }
    return file;
}

MediaFile::MediaFile(MediaFile &&other) noexcept = default;
MediaFile &MediaFile::operator=(MediaFile &&other) noexcept = default;
MediaFile::~MediaFile() = default;

QString MediaFile::formatName() const
{
    return m_context && m_context->iformat ? QString::fromUtf8(m_context->iformat->name) : QString();
}

std::optional<double> MediaFile::duration() const
{
    if (!m_context || m_context->duration == AV_NOPTS_VALUE || m_context->duration < 0)
        return std::nullopt;
    return double(m_context->duration) / AV_TIME_BASE;
}

void MediaFile::selectStreams(const QList<int> &indexes)
{
    if (!m_context)
        return;
    for (unsigned i = 0; i < m_context->nb_streams; ++i) {
        const bool chosen = indexes.contains(int(i));
        m_selected[i] = chosen;
        m_context->streams[i]->discard = chosen ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
}

std::optional<MediaPacket> MediaFile::readPacket()
{
    if (!m_context)
        return std::nullopt;
    if (!m_packet) {
        m_packet.reset(av_packet_alloc());
        if (!m_packet)
            return std::nullopt;
    }
    while (av_read_frame(m_context.get(), m_packet.get()) >= 0) {
        AVPacket *packet = m_packet.get();
        const int index = packet->stream_index;
        if (index < 0 || index >= m_selected.size() || !m_selected[index]) {
            av_packet_unref(packet);
            continue;
        }
        MediaPacket result;
        result.stream = index;
        result.data = QByteArray(reinterpret_cast<const char *>(packet->data), packet->size);
        if (packet->pts != AV_NOPTS_VALUE) {
            const double seconds = double(packet->pts) * av_q2d(m_context->streams[index]->time_base);
            if (std::isfinite(seconds))
                result.time = seconds;
        }
        av_packet_unref(packet);
        return result;
    }
    return std::nullopt;
}
