#include "roadloom/model/PlayerServices.h"

#include "roadcore/AVIFile.h"
#include "roadcore/FFmpeg.h"
#include "roadcore/MediaCache.h"
#include "roadcore/MediaInspector.h"
#include "roadcore/TelemetryReader.h"

PlayerServices PlayerServices::standard()
{
    PlayerServices services;
    services.resolve = [](const DashClip &clip) { return MediaCache::shared().resolveForPlayback(clip); };
    services.videoStreamCount = [](const QString &aviPath) -> std::optional<int> {
        const std::optional<AVIFile> file = AVIFile::read(aviPath);
        if (!file)
            return std::nullopt;
        return file->videoStreamCount;
    };
    services.convert = [](const QString &aviPath, int streamCount) {
        return FFmpeg::playableStreams(aviPath, streamCount);
    };
    services.readTelemetry = [](const ChannelFiles &files) { return TelemetryReader::read(files); };
    services.inspect = [](const QString &path) { return MediaInspector::inspect(path); };
    return services;
}
