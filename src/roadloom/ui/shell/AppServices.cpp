#include "roadloom/ui/shell/AppServices.h"

#include "platform/RegularFile.h"

#include "platform/Defaults.h"
#include "platform/FreeSpace.h"
#include "platform/SystemVolumes.h"
#include "platform/Trash.h"
#include "platform/gui/DialogImagePrinter.h"
#include "platform/gui/DialogPanels.h"
#include "platform/gui/FileRevealer.h"
#include "platform/gui/MessageAlerts.h"
#include "platform/gui/MpvPlayer.h"
#include "roadcore/AVIFile.h"
#include "roadcore/FFmpeg.h"
#include "roadcore/LibraryScanner.h"
#include "roadcore/MediaCache.h"
#include "roadcore/MediaInspector.h"
#include "roadcore/TelemetryReader.h"
#include "roadloom/model/CacheBackend.h"

AppServices::AppServices()
    : m_volumes(std::make_unique<SystemVolumes>()), m_cacheBackend(CacheBackend::over(MediaCache::shared())),
      m_panels(std::make_unique<DialogPanels>()), m_alerts(std::make_unique<MessageAlerts>()),
      m_printer(std::make_unique<DialogImagePrinter>()), m_revealer(std::make_unique<DesktopFileRevealer>())
{
}

AppServices::~AppServices() = default;

AppModel::Services AppServices::modelServices()
{
    AppModel::Services services;
    services.library.volumes = m_volumes.get();
    services.library.defaults = &Defaults::standard();
    services.library.cache = &MediaCache::shared();
    services.library.scan = &LibraryScanner::scan;
    services.library.trash = &Trash::system();
    services.players = players();
    services.playerServices = playerServices();
    services.defaults = &Defaults::standard();
    services.panels = m_panels.get();
    services.alerts = m_alerts.get();
    services.printer = m_printer.get();
    services.revealer = m_revealer.get();
    services.cacheBackend = m_cacheBackend.get();
    services.freeSpace = &FreeSpace::system();
    return services;
}

PlayerServices AppServices::playerServices()
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
    services.openError = [](const QString &path) { return RegularFile::openDescriptor(path).error; };
    return services;
}

PlayerFactory AppServices::players()
{
    return [](PlayerRole role) -> std::unique_ptr<VideoPlayer> {
        MpvPlayerOptions options;
        options.audio = role == PlayerRole::master;
        return std::make_unique<MpvPlayer>(options);
    };
}
