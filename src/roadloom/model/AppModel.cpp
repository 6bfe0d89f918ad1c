#include "roadloom/model/AppModel.h"
#include "roadloom/model/Observed.h"

#include "platform/Defaults.h"
#include "platform/Panels.h"
#include "platform/StandardFolders.h"
#include "roadloom/model/CacheCoordinator.h"
#include "roadloom/model/ConfigStore.h"
#include "roadloom/model/FrameActions.h"
#include "roadloom/model/PlaybackKeys.h"
#include "roadloom/model/Preferences.h"
#include "roadloom/model/RecordingActions.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>

// Model

namespace {
AppModel *sharedModel = nullptr;
}

AppModel &AppModel::createShared(Services services)
{
    Q_ASSERT(!sharedModel);
    // Kept for the whole run: views and queued work may still reach it while the application quits.
    sharedModel = new AppModel(std::move(services));
    return *sharedModel;
}

AppModel &AppModel::shared()
{
    Q_ASSERT(sharedModel);
    return *sharedModel;
}

AppModel::AppModel(Services services, QObject *parent)
    : QObject(parent), m_services(std::move(services)), m_defaults(m_services.defaults),
      m_panels(m_services.panels), m_alerts(m_services.alerts), m_printer(m_services.printer),
      m_revealer(m_services.revealer), m_playerServices(m_services.playerServices)
{
    Q_ASSERT(m_defaults && m_panels && m_alerts && m_printer && m_revealer && m_services.players &&
             m_services.cacheBackend && m_services.freeSpace);
    if (!m_services.library.defaults)
        m_services.library.defaults = m_defaults;

    m_defaults->registerDefaults({{QStringLiteral("autoPlayNext"), true},
                                  {QStringLiteral("speedUnit"), QStringLiteral("kmh")},
                                  {QStringLiteral("snapshotFolder"), StandardFolders::snapshots()}});
    m_preferences = new Preferences(*m_defaults, this);

    if (m_playerServices.resolve)
        m_playerServices.resolve = [gate = m_resolving,
                                    resolve = std::move(m_playerServices.resolve)](const DashClip &clip) {
            DashClip resolved = clip; // after the quit's stop: as given
            gate->run([&] { resolved = resolve(clip); });
            return resolved;
        };

    // The library store selects its first source now; its first rescan waits for the event loop.
    m_library = new LibraryStore(m_services.library, this);
    m_player = new PlayerController(m_services.players, m_playerServices, this);
    m_config = new ConfigStore(this);
    m_config->setBeforeFileAccess(m_services.beforeFileAccess);
    m_library->setBeforeFileAccess(m_services.beforeFileAccess);
    m_config->setDiscardGuard([this] {
        return m_alerts->run(ConfigStore::discardAlert(), m_configWindow ? m_configWindow() : nullptr) == 0;
    });
    m_library->setConfigStore(m_config);
    connect(m_library, &LibraryStore::configWindowRequested, this, [this] { setRequestConfigWindow(true); });
    connect(m_library, &LibraryStore::trashRefused, this, &AppModel::trashRefused);

    CacheCoordinator::Services cacheServices;
    cacheServices.cache = m_services.cacheBackend;
    cacheServices.freeSpace = m_services.freeSpace;
    cacheServices.defaults = m_defaults;
    cacheServices.playingKey = [player = QPointer<PlayerController>(m_player)]() -> std::optional<QString> {
        if (!player || !player->clip())
            return std::nullopt;
        return player->clip()->catalogKey();
    };
    m_cache = new CacheCoordinator(std::move(cacheServices), this);
    m_library->setCachePlanner(m_cache);
    connect(m_cache, &CacheCoordinator::channelCached, m_library, &LibraryStore::markCached);
    connect(m_cache, &CacheCoordinator::copiesRemoved, m_library, [this] { m_library->refreshCacheState(); });
    connect(m_cache, &CacheCoordinator::copiesRecorded, m_library,
            [this] { m_library->refreshCacheState(); });
    connect(m_cache, &CacheCoordinator::catalogSetAside, this, [this](const QString &path) {
        show(catalogSetAsideMessage(path), QString::fromLatin1(errorSymbol),
             path.isEmpty() ? std::nullopt : std::optional<QString>(path));
    });
    // The player's recording is a copy taken at load: copies and removals reach it here, or the inspector
    // would show the storage of the load until the next one.
    connect(m_cache, &CacheCoordinator::channelCached, m_player, [this](const QString &key, Channel channel) {
        const std::optional<DashClip> &loaded = m_player->clip();
        if (!loaded || loaded->catalogKey() != key || loaded->cachedChannels.contains(channel))
            return;
        std::set<Channel> cached = loaded->cachedChannels;
        cached.insert(channel);
        m_player->setCacheState(loaded->id, cached, loaded->channelStates);
    });
    connect(m_library, &LibraryStore::clipsUpdated, m_player, [this](const QList<qsizetype> &indices) {
        const std::optional<DashClip> &loaded = m_player->clip();
        if (!loaded)
            return;
        const QList<DashClip> clips = m_library->clips();
        for (qsizetype i : indices)
            if (i >= 0 && i < clips.size() && clips.at(i).id == loaded->id)
                return m_player->setCacheState(loaded->id, clips.at(i).cachedChannels,
                                               clips.at(i).channelStates);
    });

    m_player->onFinished = [model = QPointer<AppModel>(this)] {
        if (model && model->defaults().boolean(QStringLiteral("autoPlayNext")))
            model->goToClip(1, true);
    };
    m_keys = std::make_unique<PlaybackKeys>(*m_player);
    m_frameActions = std::make_unique<FrameActions>(*this, *m_printer, m_services.beforeFileAccess);
    m_recordingActions = std::make_unique<RecordingActions>(*this, *m_panels, *m_alerts, m_playerServices,
                                                            m_services.trash, m_services.beforeFileAccess);
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { beginQuit(); });
}

AppModel::~AppModel()
{
    cancelExports();
    m_keys.reset();
    m_recordingActions.reset(); // waits for its copies
    m_frameActions.reset();
    m_player->onFinished = nullptr;
    m_library->setCachePlanner(nullptr);
    m_library->setConfigStore(nullptr);
    delete m_cache;
    delete m_config;
    delete m_player;
    delete m_library;
    delete m_preferences;
}

void AppModel::beginQuit(QDeadlineTimer deadline)
{
    if (m_quitBegun)
        return;
    m_quitBegun = true;
    m_quitDeadline = deadline;
    // A run a file system holds past the deadline leaves its hidden movie, which the next export into that
    // folder removes.
    for (ClipExportJob *job : findChildren<ClipExportJob *>(Qt::FindDirectChildrenOnly)) {
        if (job->cancelAndWait(m_quitDeadline))
            continue;
        // Kept for its thread, which ends with the program.
        job->setParent(nullptr);
        m_exportsAbandoned = true;
    }
}

// Waiting for work that a file system holds could last for ever. Abandoning it at the deadline is no worse
// than the program being killed there: the catalog and its journal are written whole or not at all and
// survive a kill at any moment (a copy cut off leaves only its temporary file, removed at the next start),
// and once the journal is folded for the quit the media cache refuses every later write, so nothing
// abandoned writes after the fold; where an abandoned call holds the cache itself, the fold is skipped and
// the next start reads the journal.
bool AppModel::finishCatalogWrites()
{
    beginQuit();
    // Everything is told before anything is waited for: a copy or a plan may wait for the catalog behind a
    // listing that ends only once the library is told.
    m_cache->stop();
    m_library->stopCatalogWrites();
    const bool cacheEnded = m_cache->finish(m_quitDeadline);
    const bool libraryEnded = m_library->finishCatalogWrites(m_quitDeadline);
    const bool resolutionsEnded = m_resolving->close(m_quitDeadline);
    return cacheEnded && libraryEnded && resolutionsEnded && !m_exportsAbandoned;
}

void AppModel::setShowExportSheet(bool show)
{
    setObserved(this, m_showExportSheet, show, &AppModel::showExportSheetChanged);
}

void AppModel::setShowInspector(bool show)
{
    setObserved(this, m_showInspector, show, &AppModel::showInspectorChanged);
}

void AppModel::setTheaterMode(bool on)
{
    setObserved(this, m_theaterMode, on, &AppModel::theaterModeChanged);
}

void AppModel::setRequestConfigWindow(bool request)
{
    setObserved(this, m_requestConfigWindow, request, &AppModel::requestConfigWindowChanged);
}

void AppModel::setToast(const std::optional<Toast> &toast)
{
    setObserved(this, m_toast, toast, &AppModel::toastChanged);
}

SpeedUnit AppModel::speedUnit() const
{
    return m_defaults->string(QStringLiteral("speedUnit")) == QLatin1String("mph") ? SpeedUnit::mph
                                                                                   : SpeedUnit::kmh;
}

void AppModel::show(const QString &message, const QString &systemImage, const std::optional<QString> &reveal)
{
    Toast toast;
    toast.message = message;
    toast.systemImage = systemImage;
    toast.revealURL = reveal;
    const QUuid id = toast.id;
    setToast(toast);
    // Each message keeps its own timer; an older one's timer never removes a newer message.
    QTimer::singleShot(m_services.toastDuration, this, [this, id] {
        if (m_toast && m_toast->id == id)
            setToast(std::nullopt);
    });
}

// Previous and next recording

void AppModel::goToClip(int offset, std::optional<bool> autoplay)
{
    const std::optional<QString> selected = m_library->selectedClipID();
    if (!selected)
        return;
    const std::optional<QString> target = m_library->neighbor(*selected, offset);
    if (!target)
        return;
    m_autoplayNextLoad = autoplay.value_or(m_player->isPlaying());
    m_library->setSelectedClipID(*target);
}

QFuture<void> AppModel::openDeviceSettings()
{
    // The window shows at once; the card's file, looked for off the GUI thread, fills it when found.
    setRequestConfigWindow(true);
    if (m_config->file())
        return QtFuture::makeReadyFuture();
    const std::optional<QString> sourceID = m_library->selectedSourceID();
    for (const LibrarySource &source : m_library->sources())
        if (sourceID && source.id() == *sourceID && !source.urls.isEmpty())
            return m_config->openCameraFile(source.urls.constFirst());
    return QtFuture::makeReadyFuture();
}

// Keys, frame and recording actions

void AppModel::setMainWindow(QWindow *window)
{
    m_keys->setMainWindow(window);
}

QWindow *AppModel::mainWindow() const
{
    return m_keys->mainWindow();
}

QFuture<void> AppModel::snapshot(std::optional<Channel> channel)
{
    return m_frameActions->snapshot(channel);
}

void AppModel::copyFrame()
{
    m_frameActions->copyFrame();
}

void AppModel::printFrame()
{
    m_frameActions->printFrame();
}

QString AppModel::snapshotFolder() const
{
    return m_frameActions->snapshotFolder();
}

QString AppModel::catalogSetAsideMessage(const QString &path)
{
    if (path.isEmpty())
        return QStringLiteral("The catalog could not be read and could not be kept. Nothing is cached until "
                              "it can be.");
    return QStringLiteral("The catalog could not be read and was kept as \u201C%1\u201D. Recordings "
                          "return as their cards are opened.")
        .arg(QFileInfo(path).fileName());
}

QFuture<void> AppModel::clearMediaCache(bool keepingUnavailable)
{
    // Each step runs on the GUI thread, after the one before it has ended; none once the model is gone.
    QPointer<AppModel> alive(this);
    return m_cache->clear(keepingUnavailable)
        .then([alive] { return alive ? alive->m_library->refreshCacheState() : QtFuture::makeReadyFuture(); })
        .unwrap()
        .then([alive] {
            if (alive)
                alive->m_cache->refreshUsage();
        });
}

QFuture<void> AppModel::saveOriginals(const std::optional<DashClip> &clip)
{
    return m_recordingActions->saveOriginals(clip);
}

QFuture<void> AppModel::exportTelemetry(TelemetryFormat format, const std::optional<DashClip> &clip)
{
    return m_recordingActions->exportTelemetry(format, clip);
}

QFuture<void> AppModel::trash(const DashClip &clip)
{
    return m_recordingActions->trash(clip);
}

QString AppModel::uniqueURL(const QString &path)
{
    return RecordingActions::uniqueURL(path);
}

void AppModel::trashRefused(const QString &clipID, const QString &reason)
{
    showError(reason);
    // The player let go of the recording before the move; it is still listed and selected, so show it again.
    if (m_player->clip() || m_library->selectedClipID() != clipID)
        return;
    if (const qsizetype at = m_library->indexOf(clipID); at >= 0)
        m_player->load(m_library->clips().at(at), false);
}
