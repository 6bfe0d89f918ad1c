#include "roadcore/ClipExporter.h"

#include "platform/MediaFile.h"

#include <QFile>
#include <QFileInfo>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

QSize ExportPreset::outputSize(QSize source) const
{
    qint64 w = std::max(source.width(), 2), h = std::max(source.height(), 2);
    const QSize box = fitWithin.value_or(QSize(int(w), int(h)));
    if (box.width() > 0 && box.height() > 0 && (w > box.width() || h > box.height())) {
        // Whichever side meets the box first sets the scale; exact integers, so 2048x1536 gives 1440x1080.
        if (qint64(box.width()) * h <= qint64(box.height()) * w) {
            h = h * box.width() / w;
            w = box.width();
        } else {
            w = w * box.height() / h;
            h = box.height();
        }
    }
    return QSize(std::max<int>(int(w & ~qint64(1)), 2), std::max<int>(int(h & ~qint64(1)), 2));
}

namespace ClipExporter {

namespace {

struct CodecFree {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FrameFree {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct ScaleFree {
    void operator()(SwsContext *s) const { sws_freeContext(s); }
};
struct ResampleFree {
    void operator()(SwrContext *s) const { swr_free(&s); }
};
struct FifoFree {
    void operator()(AVAudioFifo *f) const { av_audio_fifo_free(f); }
};
struct OutputFree {
    void operator()(AVFormatContext *c) const
    {
        if (c->pb)
            avio_closep(&c->pb);
        avformat_free_context(c);
    }
};
using Codec = std::unique_ptr<AVCodecContext, CodecFree>;
using Frame = std::unique_ptr<AVFrame, FrameFree>;
using Packet = std::unique_ptr<AVPacket, PacketFree>;

QString errorText(int code)
{
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buffer, sizeof buffer);
    return QString::fromUtf8(buffer);
}

// Why an export stopped; `unavailable` when the format cannot be made for this video at all.
struct Stop {
    QString reason;
    bool unavailable = false;
    bool cancelled = false;
};

void copyDisplayMatrix(const AVStream *from, AVStream *to)
{
#if LIBAVCODEC_VERSION_INT >= AV_VERSION_INT(60, 30, 100)
    const AVPacketSideData *data = av_packet_side_data_get(
        from->codecpar->coded_side_data, from->codecpar->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
    if (!data)
        return;
    if (AVPacketSideData *copy =
            av_packet_side_data_new(&to->codecpar->coded_side_data, &to->codecpar->nb_coded_side_data,
                                    AV_PKT_DATA_DISPLAYMATRIX, data->size, 0))
        std::memcpy(copy->data, data->data, data->size);
#else
    size_t size = 0;
    const uint8_t *matrix = av_stream_get_side_data(from, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!matrix || size == 0)
        return;
    if (uint8_t *copy = av_stream_new_side_data(to, AV_PKT_DATA_DISPLAYMATRIX, size))
        std::memcpy(copy, matrix, size);
#endif
}

// One source stream on its way to the movie: copied as stored, or decoded and encoded again.
struct Lane {
    enum class Kind { copy, video, audio };
    Kind kind = Kind::copy;
    AVStream *in = nullptr;
    AVStream *out = nullptr;
    bool isVideo = false;
    bool isText = false;
    bool ended = false; // no later packet of this stream can fall in the range
    Codec decoder;
    Codec encoder;
    // Video: the frame shown at the start, held until a later frame shows it was the last one at or before.
    Frame held;
    Frame picture; // the scaled picture handed to the encoder
    std::unique_ptr<SwsContext, ScaleFree> scaler;
    // Audio: resampled samples waiting to fill the encoder's frames.
    std::unique_ptr<SwrContext, ResampleFree> resampler;
    std::unique_ptr<AVAudioFifo, FifoFree> fifo;
    std::optional<double> fifoStart; // seconds of the first sample that went into the FIFO
    qint64 samplesDropped = 0;       // lead-in samples before the start removed so far
    qint64 samplesWritten = 0;
    qint64 samplesWanted = 0;
};

class Export {
public:
    Export(const QString &source, double start, double end, const ExportPreset &preset,
           const QString &destination, std::atomic<double> *progress, const std::atomic<bool> *cancel,
           PacketReader read)
        : m_source(source), m_start(start), m_end(end), m_preset(preset), m_destination(destination),
          m_progress(progress), m_cancel(cancel), m_read(std::move(read))
    {
    }

    ~Export()
    {
        m_output.reset();
        if (m_created && !m_finished)
            QFile::remove(m_destination);
    }

    std::optional<Stop> run()
    {
        if (!std::isfinite(m_start) || !std::isfinite(m_end) || m_end <= m_start || m_start < 0)
            return Stop{QStringLiteral("The time range is empty.")};
        Result<MediaFile::Context> input = MediaFile::openContext(m_source);
        if (!input)
            return Stop{input.error()};
        m_input = std::move(*input);
        if (auto stop = openLanes())
            return stop;
        if (auto stop = openOutput())
            return stop;
        if (auto stop = seekToKeyframe())
            return stop;
        if (auto stop = copyRange())
            return stop;
        if (auto stop = flush())
            return stop;
        const int status = av_write_trailer(m_output.get());
        if (status < 0)
            return Stop{errorText(status)};
        avio_closep(&m_output->pb);
        m_finished = true;
        if (m_progress)
            m_progress->store(1.0);
        return std::nullopt;
    }

private:
    bool cancelled() const { return m_cancel && m_cancel->load(std::memory_order_relaxed); }

    std::optional<Stop> openLanes()
    {
        AVFormatContext *in = m_input.get();
        bool needInfo = false;
        for (unsigned i = 0; i < in->nb_streams; ++i) {
            const AVCodecParameters *p = in->streams[i]->codecpar;
            if ((p->codec_type == AVMEDIA_TYPE_VIDEO && p->width <= 0) ||
                (p->codec_type == AVMEDIA_TYPE_AUDIO && p->sample_rate <= 0))
                needInfo = true;
        }
        if (needInfo && avformat_find_stream_info(in, nullptr) < 0)
            return Stop{QStringLiteral("The video's tracks can't be read.")};

        AVFormatContext *raw = nullptr;
        if (avformat_alloc_output_context2(&raw, nullptr, "mov", nullptr) < 0 || !raw)
            return Stop{QStringLiteral("The movie can't be written."), true};
        m_output.reset(raw);

        const int video = av_find_best_stream(in, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        const int audio = av_find_best_stream(in, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
        int text = -1;
        for (unsigned i = 0; i < in->nb_streams && text < 0; ++i) {
            const AVCodecParameters *p = in->streams[i]->codecpar;
            if (p->codec_type == AVMEDIA_TYPE_SUBTITLE && accepts(p->codec_id))
                text = int(i);
        }
        if (video < 0 && audio < 0)
            return Stop{QStringLiteral("It has no video or audio track.")};
        if (video >= 0) {
            if (auto stop = m_preset.isPassthrough() ? addCopy(video) : addVideoEncoder(video))
                return stop;
        } else if (!m_preset.isPassthrough()) {
            return Stop{QString(), true};
        }
        if (audio >= 0) {
            const bool copy =
                m_preset.isPassthrough() || in->streams[audio]->codecpar->codec_id == AV_CODEC_ID_AAC;
            if (auto stop = copy && accepts(in->streams[audio]->codecpar->codec_id) ? addCopy(audio)
                                                                                    : addAudioEncoder(audio))
                return stop;
        }
        // The timed text comes along when the movie can hold it; a refused track is left out.
        if (text >= 0)
            addCopy(text);
        m_main = m_lanes.empty() ? nullptr : &m_lanes.front();
        return std::nullopt;
    }

    bool accepts(AVCodecID id) const
    {
        return avformat_query_codec(m_output ? m_output->oformat : av_guess_format("mov", nullptr, nullptr),
                                    id, FF_COMPLIANCE_NORMAL) == 1;
    }

    AVStream *newStream() { return avformat_new_stream(m_output.get(), nullptr); }

    std::optional<Stop> addCopy(int index)
    {
        AVStream *in = m_input->streams[index];
        if (!accepts(in->codecpar->codec_id)) {
            if (in->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
                return Stop{QString(), true};
            return std::nullopt;
        }
        AVStream *out = newStream();
        if (!out || avcodec_parameters_copy(out->codecpar, in->codecpar) < 0)
            return Stop{QStringLiteral("Out of memory.")};
        // Keep the source's sample entry name only where the movie knows it for the same codec.
        const AVCodecTag *const *tags = m_output->oformat->codec_tag;
        if (!tags || av_codec_get_id(tags, in->codecpar->codec_tag) != in->codecpar->codec_id)
            out->codecpar->codec_tag = 0;
        out->time_base = in->time_base;
        copyDisplayMatrix(in, out);
        av_dict_copy(&out->metadata, in->metadata, 0);
        Lane lane;
        lane.kind = Lane::Kind::copy;
        lane.in = in;
        lane.out = out;
        lane.isVideo = in->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        lane.isText = in->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE;
        m_lanes.push_back(std::move(lane));
        return std::nullopt;
    }

    Codec openDecoder(const AVStream *in)
    {
        const AVCodec *codec = avcodec_find_decoder(in->codecpar->codec_id);
        if (!codec)
            return {};
        Codec decoder(avcodec_alloc_context3(codec));
        if (!decoder || avcodec_parameters_to_context(decoder.get(), in->codecpar) < 0)
            return {};
        decoder->pkt_timebase = in->time_base;
        decoder->thread_count = m_preset.threads;
        if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
            return {};
        return decoder;
    }

    std::optional<Stop> addVideoEncoder(int index)
    {
        AVStream *in = m_input->streams[index];
        const AVCodec *codec = avcodec_find_encoder_by_name(m_preset.videoEncoder.toUtf8().constData());
        if (!codec || codec->type != AVMEDIA_TYPE_VIDEO)
            return Stop{QString(), true};
        Lane lane;
        lane.kind = Lane::Kind::video;
        lane.in = in;
        lane.isVideo = true;
        lane.decoder = openDecoder(in);
        if (!lane.decoder)
            return Stop{QString(), true};

        const QSize size = m_preset.outputSize(QSize(in->codecpar->width, in->codecpar->height));
        lane.encoder.reset(avcodec_alloc_context3(codec));
        AVCodecContext *e = lane.encoder.get();
        if (!e)
            return Stop{QStringLiteral("Out of memory.")};
        e->width = size.width();
        e->height = size.height();
        e->pix_fmt = AV_PIX_FMT_YUV420P;
        e->time_base = in->time_base;
        e->framerate = in->avg_frame_rate.num > 0 ? in->avg_frame_rate : in->r_frame_rate;
        e->sample_aspect_ratio = in->codecpar->sample_aspect_ratio;
        e->color_range = AVCOL_RANGE_MPEG;
        e->color_primaries = in->codecpar->color_primaries;
        e->color_trc = in->codecpar->color_trc;
        e->colorspace = in->codecpar->color_space;
        e->thread_count = m_preset.threads;
        e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        AVDictionary *options = nullptr;
        av_dict_set_int(&options, "crf", m_preset.crf, 0);
        av_dict_set(&options, "preset", m_preset.speed.toUtf8().constData(), 0);
        if (m_preset.videoEncoder == QLatin1String("libx265"))
            av_dict_set(&options, "x265-params", "log-level=error", 0);
        const int status = avcodec_open2(e, codec, &options);
        av_dict_free(&options);
        if (status < 0)
            return Stop{QString(), true};

        lane.out = newStream();
        if (!lane.out || avcodec_parameters_from_context(lane.out->codecpar, e) < 0)
            return Stop{QStringLiteral("Out of memory.")};
        if (m_preset.videoTag.size() == 4) {
            const QByteArray t = m_preset.videoTag.toLatin1();
            lane.out->codecpar->codec_tag = MKTAG(t[0], t[1], t[2], t[3]);
        }
        lane.out->time_base = e->time_base;
        lane.out->avg_frame_rate = e->framerate;
        copyDisplayMatrix(in, lane.out);
        m_lanes.push_back(std::move(lane));
        return std::nullopt;
    }

    std::optional<Stop> addAudioEncoder(int index)
    {
        AVStream *in = m_input->streams[index];
        const AVCodec *codec = avcodec_find_encoder_by_name("aac");
        if (!codec)
            return Stop{QString(), true};
        Lane lane;
        lane.kind = Lane::Kind::audio;
        lane.in = in;
        lane.decoder = openDecoder(in);
        if (!lane.decoder)
            return Stop{QString(), true};
        const AVCodecContext *d = lane.decoder.get();

        lane.encoder.reset(avcodec_alloc_context3(codec));
        AVCodecContext *e = lane.encoder.get();
        if (!e)
            return Stop{QStringLiteral("Out of memory.")};
        e->sample_fmt = AV_SAMPLE_FMT_FLTP;
        e->sample_rate = 48000;
        for (const int *rate = codec->supported_samplerates; rate && *rate; ++rate)
            if (*rate == d->sample_rate)
                e->sample_rate = d->sample_rate;
        const int channels = std::clamp(d->ch_layout.nb_channels, 1, 8);
        if (d->ch_layout.order == AV_CHANNEL_ORDER_NATIVE && d->ch_layout.nb_channels <= 8)
            av_channel_layout_copy(&e->ch_layout, &d->ch_layout);
        else
            av_channel_layout_default(&e->ch_layout, channels);
        e->time_base = AVRational{1, e->sample_rate};
        e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (avcodec_open2(e, codec, nullptr) < 0)
            return Stop{QString(), true};

        SwrContext *swr = nullptr;
        if (swr_alloc_set_opts2(&swr, &e->ch_layout, e->sample_fmt, e->sample_rate,
                                const_cast<AVChannelLayout *>(&d->ch_layout), d->sample_fmt, d->sample_rate,
                                0, nullptr) < 0 ||
            swr_init(swr) < 0) {
            swr_free(&swr);
            return Stop{QString(), true};
        }
        lane.resampler.reset(swr);
        lane.fifo.reset(av_audio_fifo_alloc(e->sample_fmt, e->ch_layout.nb_channels, 4096));
        lane.samplesWanted = std::llround((m_end - m_start) * e->sample_rate);

        lane.out = newStream();
        if (!lane.fifo || !lane.out || avcodec_parameters_from_context(lane.out->codecpar, e) < 0)
            return Stop{QStringLiteral("Out of memory.")};
        lane.out->time_base = e->time_base;
        av_dict_copy(&lane.out->metadata, in->metadata, 0);
        m_lanes.push_back(std::move(lane));
        return std::nullopt;
    }

    std::optional<Stop> openOutput()
    {
        const QByteArray url = QByteArrayLiteral("file:") + QFile::encodeName(m_destination);
        const int opened = avio_open(&m_output->pb, url.constData(), AVIO_FLAG_WRITE);
        if (opened < 0)
            return Stop{errorText(opened)};
        m_created = true;
        const int status = avformat_write_header(m_output.get(), nullptr);
        if (status < 0)
            return Stop{errorText(status)};
        return std::nullopt;
    }

    qint64 ticks(double seconds, const AVStream *stream) const
    {
        return std::llround(seconds / av_q2d(stream->time_base));
    }
    double seconds(qint64 ticks, const AVStream *stream) const
    {
        return double(ticks) * av_q2d(stream->time_base);
    }

    bool read(AVPacket *packet, bool pending = true)
    {
        if (pending && !m_pending.empty()) {
            av_packet_move_ref(packet, m_pending.front().get());
            m_pending.pop_front();
            return true;
        }
        const int status = m_read(m_input.get(), packet);
        if (status < 0 && status != AVERROR_EOF && !m_readError)
            m_readError = status;
        return status >= 0;
    }

    // Only the end of the file ends the copy: a card pulled or a bad sector must not pass for it.
    std::optional<Stop> readFailure() const
    {
        if (!m_readError)
            return std::nullopt;
        return Stop{QStringLiteral("The video couldn\u2019t be read to the end: ") + errorText(*m_readError)};
    }

    // Puts the demuxer on the keyframe at or before the start: some demuxers land a little after it, so
    // look at the first video packet and step back when it starts late.
    std::optional<Stop> seekToKeyframe()
    {
        if (m_start <= 0)
            return std::nullopt;
        const Lane *video = nullptr;
        for (const Lane &lane : m_lanes)
            if (lane.isVideo)
                video = &lane;
        double target = m_start;
        for (int attempt = 0; attempt < 6; ++attempt) {
            m_pending.clear();
            const int status = video ? av_seek_frame(m_input.get(), video->in->index,
                                                     ticks(target, video->in), AVSEEK_FLAG_BACKWARD)
                                     : av_seek_frame(m_input.get(), -1, std::llround(target * AV_TIME_BASE),
                                                     AVSEEK_FLAG_BACKWARD);
            if (status < 0) {
                // Reading from the top always works, only slower.
                av_seek_frame(m_input.get(), -1, 0, AVSEEK_FLAG_BACKWARD);
                return std::nullopt;
            }
            if (!video)
                return std::nullopt;
            std::optional<qint64> first;
            for (int n = 0; n < 1000 && !first; ++n) {
                Packet packet(av_packet_alloc());
                if (!packet || !read(packet.get(), false))
                    break;
                if (packet->stream_index == video->in->index)
                    first = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
                m_pending.push_back(std::move(packet));
            }
            if (auto stop = readFailure())
                return stop;
            if (!first || *first == AV_NOPTS_VALUE || seconds(*first, video->in) <= m_start + 1e-6)
                return std::nullopt;
            target = std::max(0.0, target - (attempt + 1) * 1.0);
        }
        return std::nullopt;
    }

    Lane *laneOf(int streamIndex)
    {
        for (Lane &lane : m_lanes)
            if (lane.in->index == streamIndex)
                return &lane;
        return nullptr;
    }

    void report(const Lane &lane, qint64 ts)
    {
        if (!m_progress || &lane != m_main || ts == AV_NOPTS_VALUE)
            return;
        const double f = std::clamp((seconds(ts, lane.in) - m_start) / (m_end - m_start), 0.0, 1.0);
        if (f > m_progress->load(std::memory_order_relaxed))
            m_progress->store(f, std::memory_order_relaxed);
    }

    std::optional<Stop> copyRange()
    {
        Packet packet(av_packet_alloc());
        if (!packet)
            return Stop{QStringLiteral("Out of memory.")};
        while (std::any_of(m_lanes.begin(), m_lanes.end(), [](const Lane &l) { return !l.ended; })) {
            if (cancelled())
                return Stop{cancelledMessage, false, true};
            if (!read(packet.get())) {
                if (auto stop = readFailure())
                    return stop;
                break;
            }
            Lane *lane = laneOf(packet->stream_index);
            std::optional<Stop> stop;
            if (lane && !lane->ended) {
                report(*lane, packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts);
                switch (lane->kind) {
                case Lane::Kind::copy:
                    stop = copyPacket(*lane, packet.get());
                    break;
                case Lane::Kind::video:
                    stop = decodeVideo(*lane, packet.get());
                    break;
                case Lane::Kind::audio:
                    stop = decodeAudio(*lane, packet.get());
                    break;
                }
            }
            av_packet_unref(packet.get());
            if (stop)
                return stop;
        }
        return std::nullopt;
    }

    std::optional<Stop> write(Lane &lane, AVPacket *packet, const AVRational from)
    {
        packet->stream_index = lane.out->index;
        packet->pos = -1;
        av_packet_rescale_ts(packet, from, lane.out->time_base);
        const int status = av_interleaved_write_frame(m_output.get(), packet);
        if (status < 0)
            return Stop{errorText(status)};
        return std::nullopt;
    }

    std::optional<Stop> copyPacket(Lane &lane, AVPacket *packet)
    {
        const AVStream *in = lane.in;
        const qint64 startTs = ticks(m_start, in), endTs = ticks(m_end, in);
        const qint64 pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (pts == AV_NOPTS_VALUE)
            return std::nullopt;
        if (lane.isVideo) {
            // Frames shown before the end may be stored after one shown later: read on until the decode
            // times pass the end, keeping what starts before it.
            const qint64 dts = packet->dts != AV_NOPTS_VALUE ? packet->dts : pts;
            if (dts >= endTs) {
                lane.ended = true;
                return std::nullopt;
            }
            if (pts >= endTs)
                return std::nullopt;
        } else {
            if (pts >= endTs) {
                lane.ended = true;
                return std::nullopt;
            }
            // Beside a re-encoded picture that starts at the start, what ends before it is not needed.
            if (!m_preset.isPassthrough() && packet->duration > 0 && pts + packet->duration <= startTs)
                return std::nullopt;
            if (lane.isText) {
                // A cue is cut to the range rather than left to an edit list, which text tracks lack.
                const qint64 from = std::max(pts, startTs);
                const qint64 to = packet->duration > 0 ? std::min(pts + packet->duration, endTs) : endTs;
                if (to <= from)
                    return std::nullopt;
                packet->pts = packet->dts = from;
                packet->duration = to - from;
            }
        }
        if (packet->pts != AV_NOPTS_VALUE)
            packet->pts -= startTs;
        if (packet->dts != AV_NOPTS_VALUE)
            packet->dts -= startTs;
        return write(lane, packet, in->time_base);
    }

    std::optional<Stop> encode(Lane &lane, AVFrame *frame)
    {
        AVCodecContext *e = lane.encoder.get();
        int status = avcodec_send_frame(e, frame);
        if (status < 0 && status != AVERROR_EOF)
            return Stop{errorText(status)};
        Packet packet(av_packet_alloc());
        if (!packet)
            return Stop{QStringLiteral("Out of memory.")};
        while ((status = avcodec_receive_packet(e, packet.get())) >= 0) {
            if (packet->duration <= 0 && lane.isVideo && e->framerate.num > 0)
                packet->duration = av_rescale_q(1, av_inv_q(e->framerate), e->time_base);
            if (auto stop = write(lane, packet.get(), e->time_base))
                return stop;
            av_packet_unref(packet.get());
        }
        if (status != AVERROR(EAGAIN) && status != AVERROR_EOF)
            return Stop{errorText(status)};
        return std::nullopt;
    }

    std::optional<Stop> encodePicture(Lane &lane, AVFrame *source, qint64 pts)
    {
        AVCodecContext *e = lane.encoder.get();
        // A stream whose picture size changes midway gets a new scaler, drawing into the movie's size.
        lane.scaler.reset(sws_getCachedContext(lane.scaler.release(), source->width, source->height,
                                               AVPixelFormat(source->format), e->width, e->height, e->pix_fmt,
                                               SWS_BICUBIC, nullptr, nullptr, nullptr));
        if (!lane.scaler)
            return Stop{QStringLiteral("A picture can't be scaled.")};
        // One picture for the whole movie: written again once the encoder has let go of it.
        if (!lane.picture) {
            lane.picture.reset(av_frame_alloc());
            if (!lane.picture)
                return Stop{QStringLiteral("Out of memory.")};
            lane.picture->format = e->pix_fmt;
            lane.picture->width = e->width;
            lane.picture->height = e->height;
            if (av_frame_get_buffer(lane.picture.get(), 0) < 0)
                return Stop{QStringLiteral("Out of memory.")};
        }
        AVFrame *picture = lane.picture.get();
        if (av_frame_make_writable(picture) < 0)
            return Stop{QStringLiteral("Out of memory.")};
        sws_scale(lane.scaler.get(), source->data, source->linesize, 0, source->height, picture->data,
                  picture->linesize);
        picture->pts = pts;
        return encode(lane, picture);
    }

    // Encodes the frames shown from the start to the end, the first one being the frame on screen at the
    // start, with their own times less the start.
    std::optional<Stop> takeFrame(Lane &lane, Frame frame)
    {
        const qint64 startTs = ticks(m_start, lane.in), endTs = ticks(m_end, lane.in);
        const qint64 ts =
            frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
        if (ts == AV_NOPTS_VALUE)
            return std::nullopt;
        if (ts <= startTs) {
            lane.held = std::move(frame);
            lane.held->pts = ts;
            return std::nullopt;
        }
        if (ts >= endTs)
            return std::nullopt;
        if (lane.held) {
            Frame first = std::move(lane.held);
            if (auto stop = encodePicture(lane, first.get(), 0))
                return stop;
        }
        return encodePicture(lane, frame.get(), ts - startTs);
    }

    std::optional<Stop> drainDecoder(Lane &lane, bool audio)
    {
        int status = 0;
        for (;;) {
            Frame frame(av_frame_alloc());
            if (!frame)
                return Stop{QStringLiteral("Out of memory.")};
            status = avcodec_receive_frame(lane.decoder.get(), frame.get());
            if (status < 0)
                break;
            if (auto stop = audio ? takeSamples(lane, frame.get()) : takeFrame(lane, std::move(frame)))
                return stop;
        }
        if (status != AVERROR(EAGAIN) && status != AVERROR_EOF)
            return Stop{errorText(status)};
        return std::nullopt;
    }

    std::optional<Stop> decodeVideo(Lane &lane, AVPacket *packet)
    {
        const qint64 dts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
        if (dts != AV_NOPTS_VALUE && dts >= ticks(m_end, lane.in)) {
            lane.ended = true;
            return std::nullopt;
        }
        const int status = avcodec_send_packet(lane.decoder.get(), packet);
        // A damaged packet costs a frame, not the movie.
        if (status < 0 && status != AVERROR(EAGAIN) && status != AVERROR_INVALIDDATA)
            return Stop{errorText(status)};
        return drainDecoder(lane, false);
    }

    std::optional<Stop> decodeAudio(Lane &lane, AVPacket *packet)
    {
        const qint64 pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        if (pts != AV_NOPTS_VALUE && pts >= ticks(m_end, lane.in)) {
            lane.ended = true;
            return std::nullopt;
        }
        const int status = avcodec_send_packet(lane.decoder.get(), packet);
        if (status < 0 && status != AVERROR(EAGAIN) && status != AVERROR_INVALIDDATA)
            return Stop{errorText(status)};
        return drainDecoder(lane, true);
    }

    std::optional<Stop> takeSamples(Lane &lane, AVFrame *frame)
    {
        const AVCodecContext *e = lane.encoder.get();
        if (!lane.fifoStart) {
            const qint64 ts =
                frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
            lane.fifoStart = ts != AV_NOPTS_VALUE ? seconds(ts, lane.in) : m_start;
        }
        const int room = swr_get_out_samples(lane.resampler.get(), frame ? frame->nb_samples : 0);
        if (room < 0)
            return Stop{errorText(room)};
        std::vector<uint8_t *> planes(size_t(e->ch_layout.nb_channels), nullptr);
        uint8_t **buffer = planes.data();
        if (av_samples_alloc(buffer, nullptr, e->ch_layout.nb_channels, std::max(room, 1), e->sample_fmt, 0) <
            0)
            return Stop{QStringLiteral("Out of memory.")};
        const int made = swr_convert(lane.resampler.get(), buffer, std::max(room, 1),
                                     frame ? const_cast<const uint8_t **>(frame->extended_data) : nullptr,
                                     frame ? frame->nb_samples : 0);
        if (made > 0)
            av_audio_fifo_write(lane.fifo.get(), reinterpret_cast<void **>(buffer), made);
        av_freep(&buffer[0]);
        if (made < 0)
            return Stop{errorText(made)};
        return encodeSamples(lane, frame == nullptr);
    }

    std::optional<Stop> encodeSamples(Lane &lane, bool last)
    {
        AVCodecContext *e = lane.encoder.get();
        // The decoded audio begins at the keyframe: what lies before the start is dropped.
        const qint64 lead = std::max<qint64>(0, std::llround((m_start - *lane.fifoStart) * e->sample_rate));
        if (lane.samplesDropped < lead) {
            const int drop =
                int(std::min<qint64>(lead - lane.samplesDropped, av_audio_fifo_size(lane.fifo.get())));
            av_audio_fifo_drain(lane.fifo.get(), drop);
            lane.samplesDropped += drop;
            if (lane.samplesDropped < lead)
                return std::nullopt;
        }
        const int frameSize = e->frame_size > 0 ? e->frame_size : 1024;
        while (lane.samplesWritten < lane.samplesWanted) {
            const int available = av_audio_fifo_size(lane.fifo.get());
            const int n = int(std::min<qint64>(
                {qint64(frameSize), lane.samplesWanted - lane.samplesWritten, qint64(available)}));
            if (n <= 0 || (n < frameSize && !last && n == available))
                break;
            Frame frame(av_frame_alloc());
            if (!frame)
                return Stop{QStringLiteral("Out of memory.")};
            frame->nb_samples = n;
            frame->format = e->sample_fmt;
            frame->sample_rate = e->sample_rate;
            if (av_channel_layout_copy(&frame->ch_layout, &e->ch_layout) < 0 ||
                av_frame_get_buffer(frame.get(), 0) < 0)
                return Stop{QStringLiteral("Out of memory.")};
            av_audio_fifo_read(lane.fifo.get(), reinterpret_cast<void **>(frame->data), n);
            frame->pts = lane.samplesWritten;
            lane.samplesWritten += n;
            if (auto stop = encode(lane, frame.get()))
                return stop;
            if (n < frameSize)
                break; // only the last frame may be short
        }
        return std::nullopt;
    }

    std::optional<Stop> flush()
    {
        for (Lane &lane : m_lanes) {
            if (lane.kind == Lane::Kind::copy)
                continue;
            avcodec_send_packet(lane.decoder.get(), nullptr);
            if (auto stop = drainDecoder(lane, lane.kind == Lane::Kind::audio))
                return stop;
            if (lane.kind == Lane::Kind::video && lane.held) {
                // Nothing came after the start: the range shows that one frame.
                Frame first = std::move(lane.held);
                if (auto stop = encodePicture(lane, first.get(), 0))
                    return stop;
            }
            if (lane.kind == Lane::Kind::audio && lane.fifoStart)
                if (auto stop = takeSamples(lane, nullptr))
                    return stop;
            if (auto stop = encode(lane, nullptr))
                return stop;
        }
        return std::nullopt;
    }

    QString m_source;
    double m_start;
    double m_end;
    ExportPreset m_preset;
    QString m_destination;
    std::atomic<double> *m_progress;
    const std::atomic<bool> *m_cancel;
    PacketReader m_read;
    std::optional<int> m_readError; // the first failed read that was not the end of the file

    MediaFile::Context m_input;
    std::unique_ptr<AVFormatContext, OutputFree> m_output;
    std::vector<Lane> m_lanes;
    const Lane *m_main = nullptr; // the lane whose reading position is the progress
    std::deque<Packet> m_pending; // read while looking for the keyframe, not yet handled
    bool m_created = false;
    bool m_finished = false;
};

} // namespace

Result<void> exportMovie(const QString &source, double start, double end, const ExportPreset &preset,
                         const QString &destination, std::atomic<double> *progress,
                         const std::atomic<bool> *cancel)
{
    return exportMovieReading(source, start, end, preset, destination, progress, cancel, av_read_frame);
}

Result<void> exportMovieReading(const QString &source, double start, double end, const ExportPreset &preset,
                                const QString &destination, std::atomic<double> *progress,
                                const std::atomic<bool> *cancel, const PacketReader &read)
{
    std::optional<Stop> stop;
    {
        Export job(source, start, end, preset, destination, progress, cancel,
                   read ? read : PacketReader(av_read_frame));
        stop = job.run();
    }
    if (!stop)
        return {};
    if (stop->unavailable)
        return Failure{unavailableMessage};
    if (stop->cancelled)
        return Failure{cancelledMessage};
    return Failure{QStringLiteral("\u201C%1\u201D couldn\u2019t be exported: %2")
                       .arg(QFileInfo(source).fileName(), stop->reason)};
}

} // namespace ClipExporter
