#include "roadcore/MediaInspector.h"

#include "platform/FileSize.h"
#include "platform/Numbers.h"
#include "platform/TextTrim.h"
#include "roadcore/AVIFile.h"
#include "roadcore/MP4Boxes.h"

#include <QFileInfo>

#include <cmath>

namespace MediaInspector {

namespace {

QString channelText(qint64 channels)
{
    return channels == 1 ? QStringLiteral("Mono") : QStringLiteral("%1 channels").arg(channels);
}

void inspectAVI(const QString &path, MediaInfo &info)
{
    info.container = QStringLiteral("AVI (RIFF)");
    const std::optional<AVIFile> avi = AVIFile::read(path);
    if (!avi)
        return;
    info.duration = avi->duration;
    for (const AVIFile::Stream &stream : avi->streams)
        info.tracks.append(
            {stream.kind, codecName(stream.codec), stream.details, std::nullopt, std::nullopt});
    if (!avi->textRecords.isEmpty())
        info.tracks.append({QStringLiteral("Data"),
                            QStringLiteral("Text chunks"),
                            {QStringLiteral("%1 records").arg(avi->textRecords.size())},
                            std::nullopt,
                            std::nullopt});
    if (info.duration && *info.duration > 0)
        info.overallBitrate = double(info.fileSize) * 8 / *info.duration;
}

// The box reader's own description of the stream's track: by track identifier, else by position.
const MP4Boxes::Track *trackOf(const MP4Boxes &boxes, const MediaStream &stream)
{
    for (const MP4Boxes::Track &track : boxes.tracks) {
        if (track.trackID && *track.trackID == uint32_t(stream.id))
            return &track;
    }
    if (stream.index < boxes.tracks.size() && !boxes.tracks[stream.index].trackID)
        return &boxes.tracks[stream.index];
    return nullptr;
}

MediaInfo::Track describe(const MediaStream &stream, const MP4Boxes::Track *boxTrack)
{
    MediaInfo::Track track;
    track.kind = kindName(stream.type, stream.codecTag);
    if (boxTrack)
        track.handler = boxTrack->handlerName;

    const QString code = !stream.codecTag.isEmpty()                  ? stream.codecTag
                         : stream.codecName != QLatin1String("none") ? stream.codecName
                                                                     : QString();
    if (!code.isEmpty())
        track.codec = codecName(code);
    if (!trimmedOfSpacesAndTabs(stream.encoder).isEmpty())
        track.encoder = stream.encoder;

    if (stream.type == MediaStream::Type::audio) {
        track.details.append(Numbers::fixed(stream.sampleRate / 1000.0, 1) + QStringLiteral(" kHz"));
        track.details.append(channelText(stream.channels));
    }
    if (stream.type == MediaStream::Type::video && stream.width > 0 && stream.height > 0) {
        track.details.append(QStringLiteral("%1 × %2").arg(stream.width).arg(stream.height));
        if (stream.frameRate > 0)
            track.details.append(Numbers::fixed(stream.frameRate, 0) + QStringLiteral(" fps"));
    }
    const double rate = double(stream.bitRate);
    if (rate >= 1'000'000)
        track.details.append(Numbers::fixed(rate / 1'000'000, 1) + QStringLiteral(" Mbps"));
    else if (rate > 0)
        track.details.append(Numbers::fixed(rate / 1000, 0) + QStringLiteral(" kbps"));
    if (stream.type != MediaStream::Type::video && stream.type != MediaStream::Type::audio && boxTrack &&
        boxTrack->sampleCount)
        track.details.append(QStringLiteral("%1 samples").arg(*boxTrack->sampleCount));
    return track;
}

void inspectMovie(const QString &path, MediaInfo &info)
{
    const std::optional<MP4Boxes> boxes = MP4Boxes::read(path);
    info.container = QStringLiteral("MPEG-4 / QuickTime");
    if (boxes) {
        if (boxes->majorBrand)
            info.container += QStringLiteral(" (%1)").arg(*boxes->majorBrand);
        info.brand = boxes->majorBrand;
        info.creationTime = boxes->creationTime;
        info.vendorBoxes = boxes->vendorBoxes;
    }

    Result<MediaFile> file = MediaFile::open(path, MediaFile::Demuxer::quickTime);
    if (!file)
        return;
    if (const std::optional<double> seconds = file->duration(); seconds && std::isfinite(*seconds)) {
        info.duration = *seconds;
        if (*seconds > 0)
            info.overallBitrate = double(info.fileSize) * 8 / *seconds;
    }
    for (const MediaStream &stream : file->streams())
        info.tracks.append(describe(stream, boxes ? trackOf(*boxes, stream) : nullptr));
}

} // namespace

MediaInfo inspect(const QString &path)
{
    MediaInfo info;
    info.fileSize = regularFileSize(path).value_or(0);
    if (QFileInfo(path).suffix().toLower() == QLatin1String("avi"))
        inspectAVI(path, info);
    else
        inspectMovie(path, info);
    return info;
}

QString codecName(const QString &code)
{
    const QString key = trimmedOfSpacesAndTabs(code).toLower();
    struct Row {
        std::initializer_list<const char *> keys;
        const char *name;
    };
    static const Row rows[] = {
        {{"hvc1", "hev1", "hevc"}, "HEVC (H.265)"},
        {{"avc1", "avc3", "h264", "x264"}, "H.264"},
        {{"mjpg", "jpeg", "mjpa", "mjpb"}, "Motion JPEG"},
        {{"mp4a", "aac"}, "AAC"},
        {{"lpcm", "sowt", "twos", "pcm", "0001"}, "PCM"},
        {{"ulaw"}, "µ-law"},
        {{"text", "tx3g"}, "Timed text (tx3g)"},
        {{"mebx"}, "Metadata"},
        {{""}, "Unknown"},
    };
    for (const Row &row : rows) {
        for (const char *candidate : row.keys) {
            if (key == QLatin1String(candidate))
                return QString::fromUtf8(row.name);
        }
    }
    return code;
}

QString kindName(MediaStream::Type type, const QString &codecTag)
{
    switch (type) {
    case MediaStream::Type::video:
        return QStringLiteral("Video");
    case MediaStream::Type::audio:
        return QStringLiteral("Audio");
    case MediaStream::Type::subtitle:
        return QStringLiteral("Data (text)");
    case MediaStream::Type::data:
        return codecTag == QLatin1String("tmcd") ? QStringLiteral("Timecode") : QStringLiteral("Metadata");
    case MediaStream::Type::attachment:
    case MediaStream::Type::unknown:
        break;
    }
    return codecTag.isEmpty() ? QStringLiteral("Unknown") : codecTag;
}

} // namespace MediaInspector
