#pragma once

#include "platform/Alerts.h"
#include "platform/Result.h"
#include "roadcore/Channel.h"
#include "roadcore/DashClip.h"
#include "roadcore/Telemetry.h"
#include "roadcore/TelemetryExporter.h"
#include "roadloom/model/ClipExportJob.h"
#include "roadloom/model/LibraryStore.h"
#include "roadloom/model/PlayerController.h"
#include "roadloom/model/Toast.h"
#include "roadloom/model/WorkGate.h"

#include <QDeadlineTimer>
#include <QFuture>
#include <QObject>
#include <QString>
#include <QWindow>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class CacheBackend;
class FrameActions;
class PlaybackKeys;
class RecordingActions;
class CacheCoordinator;
class ConfigStore;
class Defaults;
class FileRevealer;
class FreeSpace;
class ImagePrinter;
class Panels;
class Preferences;

// The root of the application state: owns the stores (library, player, configuration document), carries
// the window-level flags the views bind to, shows toasts, moves to the previous or next recording and opens
// the device configuration. The playback keys and the actions on a frame and on a recording live in types
// of their own, reached through the model's operations. Lives on the GUI thread.
class AppModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(
        bool showExportSheet READ showExportSheet WRITE setShowExportSheet NOTIFY showExportSheetChanged)
    Q_PROPERTY(bool showInspector READ showInspector WRITE setShowInspector NOTIFY showInspectorChanged)
    Q_PROPERTY(bool theaterMode READ theaterMode WRITE setTheaterMode NOTIFY theaterModeChanged)
    Q_PROPERTY(std::optional<Toast> toast READ toast NOTIFY toastChanged)
    Q_PROPERTY(bool requestConfigWindow READ requestConfigWindow WRITE setRequestConfigWindow NOTIFY
                   requestConfigWindowChanged)

public:
    // What the model works with, all required: the application passes the real ones (built once at start),
    // tests their fakes. The library's defaults may be left empty: then it uses `defaults`.
    struct Services {
        LibraryStore::Services library;
        PlayerFactory players;
        PlayerServices playerServices;    // also reads telemetry for Export Telemetry
        Defaults *defaults = nullptr;     // not owned
        Panels *panels = nullptr;         // not owned
        Alerts *alerts = nullptr;         // not owned
        ImagePrinter *printer = nullptr;  // not owned
        FileRevealer *revealer = nullptr; // not owned
        // The cache coordinator's media cache and the free space of its volume.
        CacheBackend *cacheBackend = nullptr; // not owned
        const FreeSpace *freeSpace = nullptr; // not owned
        // Replaces what a confirmed Move to Trash does; empty: the library moves the recording's files to
        // the Trash (or forgets it), then the cache usage is read again.
        std::function<void(const DashClip &clip)> trash;
        std::chrono::milliseconds toastDuration{4000};
        // Writes each movie of Export Clip; empty: ClipExporter::exportMovie.
        MovieExporter exportMovie;
        // Called off the GUI thread before opened paths, the configuration document, a snapshot, a telemetry
        // export or a recording's files are read, written or looked at; tests hold it at a gate. May be
        // empty.
        std::function<void(const QString &path)> beforeFileAccess;
    };

    static constexpr const char *errorSymbol = "exclamationmark.triangle.fill";

    // The application's model, made once at start-up from the real services and kept for the whole run.
    static AppModel &createShared(Services services);
    // That model; only after `createShared`.
    static AppModel &shared();

    explicit AppModel(Services services, QObject *parent = nullptr);
    ~AppModel() override;

    LibraryStore &library() const { return *m_library; }
    PlayerController &player() const { return *m_player; }
    ConfigStore &config() const { return *m_config; }
    CacheCoordinator &cache() const { return *m_cache; }
    Defaults &defaults() const { return *m_defaults; }
    // The stored preferences, typed, over the model's defaults.
    Preferences &preferences() const { return *m_preferences; }
    Panels &panels() const { return *m_panels; }
    Alerts &alerts() const { return *m_alerts; }
    FileRevealer &revealer() const { return *m_revealer; }

    bool showExportSheet() const { return m_showExportSheet; }
    bool showInspector() const { return m_showInspector; }
    bool theaterMode() const { return m_theaterMode; }
    const std::optional<Toast> &toast() const { return m_toast; }
    bool requestConfigWindow() const { return m_requestConfigWindow; }
    // Whether the next recording loaded into the player starts playing; not observed.
    bool autoplayNextLoad() const { return m_autoplayNextLoad; }

    void setShowExportSheet(bool show);
    void setShowInspector(bool show);
    void setTheaterMode(bool on);
    void setRequestConfigWindow(bool request);
    void setAutoplayNextLoad(bool autoplay) { m_autoplayNextLoad = autoplay; }

    // The user's speed unit: "mph" stored gives mph, anything else km/h.
    SpeedUnit speedUnit() const;

    // Shows a message for the toast duration; a newer message replaces it at once.
    void show(const QString &message, const QString &systemImage, const std::optional<QString> &reveal = {});
    // Selects the recording `offset` places away in the neighbor order of the listed recordings (oldest
    // first, whatever the list's sort). Without an autoplay value, the next load plays if the player plays
    // now. Nothing happens at either end or when the selection is not listed.
    void goToClip(int offset, std::optional<bool> autoplay = {});
    // Asks for the window, and unless a document is open looks for the selected source's configuration file
    // off the GUI thread, which opens once found.
    QFuture<void> openDeviceSettings();
    // The window the questions about the camera settings belong to, asked each time one is put; installed by
    // the Device Settings window. Unset, or answering none: the active window.
    void setConfigWindow(std::function<QWidget *()> window) { m_configWindow = std::move(window); }

    // The playback keys act only while this window is the active one; none registered: never.
    void setMainWindow(QWindow *window);
    QWindow *mainWindow() const;

    // Frame actions (FrameActions): each reports its result as a toast.
    QFuture<void> snapshot(std::optional<Channel> channel = {});
    void copyFrame();
    void printFrame();
    // The folder snapshots go to: the "snapshotFolder" default, else the home folder.
    QString snapshotFolder() const;

    // Recording actions (RecordingActions). The returned futures end when the action has shown its result.
    QFuture<void> saveOriginals(const std::optional<DashClip> &clip = {});
    QFuture<void> exportTelemetry(TelemetryFormat format, const std::optional<DashClip> &clip = {});
    QFuture<void> trash(const DashClip &clip);
    // The path itself when nothing is there, else the first free "base N.ext" for N = 2, 3, ...
    static QString uniqueURL(const QString &path);
    // The toast for a media cache catalog that could not be read and was kept at `path`, or could not be
    // kept (an empty path).
    static QString catalogSetAsideMessage(const QString &path);
    // Export Clip: asks for a folder ("Export NAME", "Export Here") and starts a run into it, which shows
    // "Exported N video(s)" when done, or its failure as a toast unless a sheet watches the run. Nothing
    // without a recording or when the panel is cancelled.
    ClipExportJob *exportClip(const ClipExportRequest &request);
    // Stops every export run and removes its incomplete movie; asked nothing. At destruction. A run that has
    // not stopped within `exportStopWait` (its folder stopped answering) is left running.
    void cancelExports();
    static constexpr std::chrono::milliseconds exportStopWait{500};

    // How long the quit waits, in all, from its first step, for whatever it waits for: a file system that
    // stopped answering holds nothing past it.
    static constexpr std::chrono::milliseconds quitWait{2000};
    // The quit's first step, once it is decided: starts its one deadline (`deadline`; a later call keeps the
    // first) and stops every export run, waiting for them until the deadline so that they leave no
    // incomplete movie. A run held past it by a file system is abandoned.
    void beginQuit(QDeadlineTimer deadline = QDeadlineTimer(quitWait));
    // The quit's deadline; forever until the quit begins.
    QDeadlineTimer quitDeadline() const { return m_quitDeadline; }
    // For the quit, before the media cache's journal is folded and the data folder's lock goes (begins the
    // quit when that has not been done): stops every writer of the catalog (copies, the library's scans,
    // listings and refreshes, the resolutions of the player and of exports), all before waiting for any,
    // then waits for those running until the quit's deadline. What a file system still holds then is
    // abandoned: false, its thread still runs. Nothing of the model writes the catalog once the media
    // cache's journal was folded for the quit (MediaCache::foldJournalForQuit).
    bool finishCatalogWrites();

    // Clears the media cache off the GUI thread (see CacheBackend::clear), then has the library read the
    // storage states again, then the usage figures, strictly in that order. The future ends once the usage
    // is asked for.
    QFuture<void> clearMediaCache(bool keepingUnavailable);

    // A failure the user must see, as a toast with the warning symbol.
    void showError(const QString &message) { show(message, QString::fromLatin1(errorSymbol)); }

signals:
    void showExportSheetChanged(bool show);
    void showInspectorChanged(bool show);
    void theaterModeChanged(bool on);
    void toastChanged(const std::optional<Toast> &toast);
    void requestConfigWindowChanged(bool request);

private:
    void setToast(const std::optional<Toast> &toast);
    void trashRefused(const QString &clipID, const QString &reason);

    Services m_services;
    Defaults *m_defaults = nullptr;
    Panels *m_panels = nullptr;
    Alerts *m_alerts = nullptr;
    ImagePrinter *m_printer = nullptr;
    FileRevealer *m_revealer = nullptr;
    PlayerServices m_playerServices;
    // The player's and the exports' resolutions, which write the catalog, pass through it.
    std::shared_ptr<WorkGate> m_resolving = std::make_shared<WorkGate>();
    QDeadlineTimer m_quitDeadline{QDeadlineTimer::Forever};
    bool m_exportsAbandoned = false; // a run its folder held past the quit's deadline
    bool m_quitBegun = false;

    // Children, created in this order and deleted in reverse.
    Preferences *m_preferences = nullptr;
    LibraryStore *m_library = nullptr;
    PlayerController *m_player = nullptr;
    ConfigStore *m_config = nullptr;
    CacheCoordinator *m_cache = nullptr;

    bool m_showExportSheet = false;
    bool m_showInspector = false;
    bool m_theaterMode = false;
    std::optional<Toast> m_toast;
    bool m_requestConfigWindow = false;
    bool m_autoplayNextLoad = false;
    std::function<QWidget *()> m_configWindow;

    std::unique_ptr<PlaybackKeys> m_keys;
    std::unique_ptr<FrameActions> m_frameActions;
    std::unique_ptr<RecordingActions> m_recordingActions;
};
