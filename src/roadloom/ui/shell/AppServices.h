#pragma once

#include "roadloom/model/AppModel.h"

#include <memory>

class CacheBackend;
class DialogImagePrinter;
class DesktopFileRevealer;
class DialogPanels;
class MessageAlerts;
class SystemVolumes;

// The program's real surroundings, built once at start-up and handed to the application model: the user's
// defaults, the system's volumes, Trash and free space, the shared media cache, the file dialogs, message
// boxes, print dialog and file manager, the mpv players and the loading services over the media cache, ffmpeg
// and the telemetry reader. Must outlive the model.
class AppServices {
public:
    AppServices();
    ~AppServices();
    AppServices(const AppServices &) = delete;
    AppServices &operator=(const AppServices &) = delete;

    AppModel::Services modelServices();

    // The loading services the player controller uses, over the shared media cache.
    static PlayerServices playerServices();
    // The application's players: libmpv drawing through the stage canvas, the follower without sound.
    static PlayerFactory players();

private:
    std::unique_ptr<SystemVolumes> m_volumes;
    std::unique_ptr<CacheBackend> m_cacheBackend;
    std::unique_ptr<DialogPanels> m_panels;
    std::unique_ptr<MessageAlerts> m_alerts;
    std::unique_ptr<DialogImagePrinter> m_printer;
    std::unique_ptr<DesktopFileRevealer> m_revealer;
};
