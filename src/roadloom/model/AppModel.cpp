#include "roadloom/model/AppModel.h"

#include "platform/Defaults.h"
#include "platform/Panels.h"
#include "platform/StandardFolders.h"
#include "platform/StringOrder.h"
#include "platform/gui/DialogImagePrinter.h"
#include "platform/gui/DialogPanels.h"
#include "platform/gui/FileRevealer.h"
#include "platform/gui/ImagePrinter.h"
#include "platform/gui/MessageAlerts.h"
#include "roadcore/ConfigSchema.h"
#include "roadcore/MediaCache.h"
#include "roadloom/model/CacheBackend.h"
#include "roadloom/model/CacheCoordinator.h"
#include "roadloom/model/ConfigStore.h"
#include "roadloom/model/Preferences.h"
#include "roadloom/model/PrintReport.h"

#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QInputMethodQueryEvent>
#include <QMimeDatabase>
#include <QSaveFile>
#include <QTimer>
#include <QtConcurrent>

#include <algorithm>
#include <cmath>

namespace {

QString fileName(const QString &path)
{
    return QFileInfo(path).fileName();
}

QFuture<void> finished()
{
    return QtFuture::makeReadyFuture();
}

// A text field, text view or spin box has the keyboard: typed keys belong to it.
bool isTextObject(QObject *object)
{
    if (!object)
        return false;
    QInputMethodQueryEvent query(Qt::ImEnabled);
    QCoreApplication::sendEvent(object, &query);
    if (query.value(Qt::ImEnabled).toBool())
        return true;
    return object->inherits("QLineEdit") || object->inherits("QTextEdit") ||
           object->inherits("QPlainTextEdit") || object->inherits("QAbstractSpinBox");
}

} // namespace

// Model

AppModel &AppModel::shared()
{
    static AppModel *instance = new AppModel();
    return *instance;
}

AppModel::AppModel(QObject *parent) : AppModel(Services(), parent) {}

AppModel::AppModel(Services services, QObject *parent)
    : QObject(parent), m_services(std::move(services)),
      m_playerServices(m_services.playerServices.value_or(PlayerServices::standard()))
{
    m_defaults = m_services.defaults ? m_services.defaults : &Defaults::standard();
    if (!m_services.library.defaults)
        m_services.library.defaults = m_defaults;
    m_panels = m_services.panels;
    if (!m_panels) {
        m_ownPanels = std::make_unique<DialogPanels>();
        m_panels = m_ownPanels.get();
    }
    m_alerts = m_services.alerts;
    if (!m_alerts) {
        m_ownAlerts = std::make_unique<MessageAlerts>();
        m_alerts = m_ownAlerts.get();
    }
    m_printer = m_services.printer;
    if (!m_printer) {
        m_ownPrinter = std::make_unique<DialogImagePrinter>();
        m_printer = m_ownPrinter.get();
    }
    m_revealer = m_services.revealer;
    if (!m_revealer) {
        m_ownRevealer = std::make_unique<DesktopFileRevealer>();
        m_revealer = m_ownRevealer.get();
    }

    m_defaults->registerDefaults({{QStringLiteral("autoPlayNext"), true},
                                  {QStringLiteral("speedUnit"), QStringLiteral("kmh")},
                                  {QStringLiteral("snapshotFolder"), StandardFolders::snapshots()}});
    m_preferences = new Preferences(*m_defaults, this);

    // The library store selects its first source now; its first rescan waits for the event loop.
    m_library = new LibraryStore(m_services.library, this);
    m_player =
        new PlayerController(m_services.players ? m_services.players : PlayerController::standardPlayers(),
                             m_playerServices, this);
    m_config = new ConfigStore(this);
    m_library->setConfigStore(m_config);
    connect(m_library, &LibraryStore::configWindowRequested, this, [this] { setRequestConfigWindow(true); });
    connect(m_library, &LibraryStore::trashRefused, this, &AppModel::trashRefused);

    CacheBackend *backend = m_services.cacheBackend;
    if (!backend) {
        m_ownCacheBackend =
            CacheBackend::over(m_services.library.cache ? *m_services.library.cache : MediaCache::shared());
        backend = m_ownCacheBackend.get();
    }
    CacheCoordinator::Services cacheServices;
    cacheServices.cache = backend;
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

    m_player->onFinished = [model = QPointer<AppModel>(this)] {
        if (model && model->defaults().boolean(QStringLiteral("autoPlayNext")))
            model->goToClip(1, true);
    };
    if (QCoreApplication *app = QCoreApplication::instance()) {
        app->installEventFilter(this);
        connect(app, &QCoreApplication::aboutToQuit, this, &AppModel::cancelExports);
    }
}

AppModel::~AppModel()
{
    if (QCoreApplication *app = QCoreApplication::instance())
        app->removeEventFilter(this);
    cancelExports();
    m_pool.waitForDone();
    m_player->onFinished = nullptr;
    m_library->setCachePlanner(nullptr);
    m_library->setConfigStore(nullptr);
    delete m_cache;
    delete m_config;
    delete m_player;
    delete m_library;
    delete m_preferences;
}

void AppModel::setShowExportSheet(bool show)
{
    if (m_showExportSheet == show)
        return;
    m_showExportSheet = show;
    emit showExportSheetChanged(show);
}

void AppModel::setShowInspector(bool show)
{
    if (m_showInspector == show)
        return;
    m_showInspector = show;
    emit showInspectorChanged(show);
}

void AppModel::setTheaterMode(bool on)
{
    if (m_theaterMode == on)
        return;
    m_theaterMode = on;
    emit theaterModeChanged(on);
}

void AppModel::setRequestConfigWindow(bool request)
{
    if (m_requestConfigWindow == request)
        return;
    m_requestConfigWindow = request;
    emit requestConfigWindowChanged(request);
}

void AppModel::setToast(const std::optional<Toast> &toast)
{
    if (m_toast == toast)
        return;
    m_toast = toast;
    emit toastChanged(m_toast);
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

QList<DashClip> AppModel::neighbourOrder(QList<DashClip> clips)
{
    std::stable_sort(clips.begin(), clips.end(), [](const DashClip &a, const DashClip &b) {
        // An undated recording counts as the distant past.
        if (a.date.has_value() != b.date.has_value())
            return !a.date.has_value();
        if (a.date && *a.date != *b.date)
            return *a.date < *b.date;
        return StringOrder::less(a.name, b.name);
    });
    return clips;
}

void AppModel::goToClip(int offset, std::optional<bool> autoplay)
{
    const std::optional<QString> selected = m_library->selectedClipID();
    if (!selected)
        return;
    const QList<DashClip> clips = m_library->clips();
    const bool listed =
        std::any_of(clips.begin(), clips.end(), [&](const DashClip &c) { return c.id == *selected; });
    if (!listed)
        return;
    const QList<DashClip> order = neighbourOrder(m_library->filteredClips());
    const auto it =
        std::find_if(order.begin(), order.end(), [&](const DashClip &c) { return c.id == *selected; });
    if (it == order.end())
        return;
    const qsizetype target = (it - order.begin()) + offset;
    if (target < 0 || target >= order.size())
        return;
    m_autoplayNextLoad = autoplay.value_or(m_player->isPlaying());
    m_library->setSelectedClipID(order[target].id);
}

void AppModel::openDeviceSettings()
{
    if (!m_config->file()) {
        const std::optional<QString> sourceID = m_library->selectedSourceID();
        for (const LibrarySource &source : m_library->sources()) {
            if (!sourceID || source.id() != *sourceID)
                continue;
            if (!source.urls.isEmpty())
                if (const std::optional<QString> url = ConfigSchema::configURL(source.urls.constFirst()))
                    m_config->open(*url);
            break;
        }
    }
    setRequestConfigWindow(true);
}

// Keys

bool AppModel::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress)
        return handleKey(watched, static_cast<QKeyEvent *>(event));
    return QObject::eventFilter(watched, event);
}

bool AppModel::handleKey(QObject *receiver, QKeyEvent *event)
{
    if (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    // The main window's title follows the loaded recording, so the window itself is what counts.
    if (!m_mainWindow || QGuiApplication::focusWindow() != m_mainWindow)
        return false;
    // Act once, where the key reaches the focused object: not on its way through the window, and not
    // in a popup menu that took the keyboard.
    QObject *focus = QGuiApplication::focusObject();
    if (receiver != focus || isTextObject(focus))
        return false;
    if (!m_player->hasMedia())
        return false;
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    switch (event->key()) {
    case Qt::Key_Right:
        m_player->seek(m_player->currentTime() + (shift ? 1 : 5));
        return true;
    case Qt::Key_Left:
        m_player->seek(m_player->currentTime() - (shift ? 1 : 5));
        return true;
    case Qt::Key_Space:
        m_player->togglePlay();
        return true;
    default:
        break;
    }
    if (event->key() == Qt::Key_Comma || event->text() == QLatin1String(",")) {
        m_player->step(-1);
        return true;
    }
    if (event->key() == Qt::Key_Period || event->text() == QLatin1String(".")) {
        m_player->step(1);
        return true;
    }
    return false;
}

// Frame actions

VideoPlayer &AppModel::mainStagePlayer() const
{
    return m_player->swapped() && m_player->hasRear() ? m_player->rear() : m_player->front();
}

Result<QByteArray> AppModel::pngData(const QImage &image)
{
    QByteArray data;
    QBuffer buffer(&data);
    if (image.isNull() || !buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG"))
        return Failure{QStringLiteral("The file couldn\u2019t be saved.")};
    return data;
}

QString AppModel::snapshotFileName(const QString &clipName, Channel channel, double seconds)
{
    QString name = clipName;
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    const double millis = std::isfinite(seconds) ? std::round(seconds * 1000) : 0.0;
    return name + QLatin1Char('_') + rawValue(channel) + QLatin1Char('_') +
           QString::number(static_cast<qint64>(millis)) + QStringLiteral(".png");
}

QString AppModel::snapshotFolder() const
{
    const QVariant stored = m_defaults->value(QStringLiteral("snapshotFolder"));
    const QString path = stored.typeId() == QMetaType::QString ? stored.toString() : QString();
    return path.isEmpty() ? QDir::homePath() : path;
}

void AppModel::snapshot(std::optional<Channel> channel)
{
    const std::optional<DashClip> clip = m_player->clip();
    if (!clip)
        return;
    Channel shown = Channel::front;
    VideoPlayer *player = &m_player->front();
    if (channel) {
        shown = *channel;
        player = shown == Channel::front ? &m_player->front() : &m_player->rear();
    } else if (m_player->swapped() && m_player->hasRear()) {
        shown = Channel::rear;
        player = &m_player->rear();
    }
    const Result<QImage> image = m_player->frameImage(*player);
    if (!image)
        return showError(image.error());

    const QString folder = snapshotFolder();
    if (!QDir().mkpath(folder))
        return showError(QStringLiteral("The folder \u201C%1\u201D couldn\u2019t be created.").arg(folder));
    const QString path = QDir(folder).filePath(snapshotFileName(clip->name, shown, m_player->currentTime()));
    const Result<QByteArray> data = pngData(*image);
    if (!data)
        return showError(data.error());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(*data) != data->size()) {
        return showError(QStringLiteral("The file \u201C%1\u201D couldn\u2019t be saved: %2")
                             .arg(fileName(path), file.errorString()));
    }
    file.close();
    show(QStringLiteral("Snapshot saved"), QStringLiteral("camera.fill"), path);
}

void AppModel::copyFrame()
{
    const Result<QImage> image = m_player->frameImage(mainStagePlayer());
    if (!image)
        return showError(image.error());
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setImage(*image);
    show(QStringLiteral("Frame copied"), QStringLiteral("doc.on.clipboard.fill"));
}

void AppModel::printFrame()
{
    const std::optional<DashClip> clip = m_player->clip();
    if (!clip)
        return;
    const Result<QImage> front = m_player->frameImage(m_player->front());
    if (!front)
        return showError(front.error());
    std::optional<QImage> rear;
    if (m_player->hasRear())
        if (Result<QImage> image = m_player->frameImage(m_player->rear()))
            rear = *image;
    const double t = m_player->currentTime();
    const Telemetry &telemetry = m_player->telemetry();
    const PrintReport report{*clip, t, *front, rear, telemetry.gpsAt(t), telemetry.sensorAt(t), speedUnit()};
    const QImage page = report.render(2.0);
    if (page.isNull())
        return;
    m_printer->print(page, clip->name);
}

// Recording actions

QString AppModel::uniqueURL(const QString &path)
{
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return path;
    const QFileInfo info(path);
    const QString folder = info.path();
    const QString base = info.completeBaseName();
    const QString ext = info.suffix();
    for (qint64 n = 2;; ++n) {
        QString name = base + QLatin1Char(' ') + QString::number(n);
        if (!ext.isEmpty())
            name += QLatin1Char('.') + ext;
        const QString candidate = QDir(folder).filePath(name);
        if (!QFileInfo::exists(candidate) && !QFileInfo(candidate).isSymLink())
            return candidate;
    }
}

QFuture<void> AppModel::saveOriginals(const std::optional<DashClip> &clip)
{
    const std::optional<DashClip> recording = clip ? clip : m_player->clip();
    if (!recording)
        return finished();
    const std::optional<QString> folder =
        m_panels->chooseFolder(QStringLiteral("Save ") + recording->name, QStringLiteral("Save Here"));
    if (!folder)
        return finished();

    struct Outcome {
        std::optional<QString> lastSaved;
        std::optional<QString> error;
    };
    const QStringList urls = recording->allURLs();
    return QtConcurrent::run(
               &m_pool,
               [urls, folder = *folder] {
                   Outcome outcome;
                   for (const QString &url : urls) {
                       const QString destination = uniqueURL(QDir(folder).filePath(fileName(url)));
                       QFile source(url);
                       if (!source.copy(destination)) {
                           outcome.error =
                               QStringLiteral("\u201C%1\u201D couldn\u2019t be copied to "
                                              "\u201C%2\u201D: %3")
                                   .arg(fileName(url), QFileInfo(folder).fileName(), source.errorString());
                           return outcome;
                       }
                       outcome.lastSaved = destination;
                   }
                   return outcome;
               })
        .then(this, [this, count = urls.size()](const Outcome &outcome) {
            if (outcome.error)
                return showError(*outcome.error);
            show(QStringLiteral("Saved %1 file(s)").arg(count), QStringLiteral("square.and.arrow.down.fill"),
                 outcome.lastSaved);
        });
}

QString AppModel::mimeType(TelemetryFormat format)
{
    const QMimeType type = QMimeDatabase().mimeTypeForFile(QStringLiteral("export.") + rawValue(format),
                                                           QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault())
        return QStringLiteral("text/plain");
    return type.name();
}

QFuture<void> AppModel::exportTelemetry(TelemetryFormat format, const std::optional<DashClip> &clip)
{
    const std::optional<DashClip> recording = clip ? clip : m_player->clip();
    if (!recording)
        return finished();
    const std::optional<DashClip> &loaded = m_player->clip();
    if (loaded && loaded->id == recording->id && !m_player->isLoadingTelemetry()) {
        writeExport(m_player->telemetry(), format, *recording);
        return finished();
    }
    // Not the loaded recording, or its telemetry is still being read: read it again from the files the
    // media cache finds now (moved or only cached files included).
    return QtConcurrent::run(
               &m_pool,
               [services = m_playerServices, recording = *recording] {
                   const DashClip resolved = services.resolve ? services.resolve(recording) : recording;
                   return services.readTelemetry ? services.readTelemetry(resolved.files) : Telemetry();
               })
        .then(this, [this, format, recording = *recording](const Telemetry &telemetry) {
            writeExport(telemetry, format, recording);
        });
}

void AppModel::writeExport(const Telemetry &telemetry, TelemetryFormat format, const DashClip &clip)
{
    if (telemetry.isEmpty())
        return show(QStringLiteral("No GPS or G-sensor data in this clip"), QStringLiteral("location.slash"));
    const std::optional<QString> destination =
        m_panels->save(clip.name + QLatin1Char('.') + rawValue(format), mimeType(format));
    if (!destination)
        return;
    const QByteArray text =
        TelemetryExporter::exportText(telemetry, format, clip.name, clip.date, speedUnit()).toUtf8();
    QSaveFile file(*destination);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        return showError(QStringLiteral("The file \u201C%1\u201D couldn\u2019t be saved: %2")
                             .arg(fileName(*destination), file.errorString()));
    }
    show(QStringLiteral("Exported ") + title(format), QStringLiteral("map.fill"), *destination);
}

Alert AppModel::trashAlert(const DashClip &clip)
{
    Alert alert;
    alert.style = Alert::Style::warning;
    const StorageState storage = clip.storage();
    if (storage == StorageState::cached || storage == StorageState::missing) {
        alert.messageText =
            QStringLiteral("Remove \u201C") + clip.name + QStringLiteral("\u201D from the library?");
        alert.informativeText =
            QStringLiteral("The original files are no longer available. Its cached copy will "
                           "be deleted and it can't be played again.");
        alert.buttons = {QStringLiteral("Remove"), QStringLiteral("Cancel")};
    } else {
        alert.messageText =
            QStringLiteral("Move \u201C") + clip.name + QStringLiteral("\u201D to the Trash?");
        alert.informativeText = QStringLiteral(
            "The recording's camera files will be moved to the Trash and its cached copy deleted.");
        alert.buttons = {QStringLiteral("Move to Trash"), QStringLiteral("Cancel")};
    }
    return alert;
}

void AppModel::trash(const DashClip &clip)
{
    if (m_alerts->run(trashAlert(clip)) != 0)
        return;
    // Unload first, so the player lets go of the files before they move.
    const std::optional<DashClip> &loaded = m_player->clip();
    if (loaded && loaded->id == clip.id)
        m_player->load(std::nullopt, false);
    if (m_services.trash)
        return m_services.trash(clip);
    // The library's future ends on this thread's loop; the usage follows once the files are gone.
    m_library->trash(clip).then(this, [cache = QPointer<CacheCoordinator>(m_cache)] {
        if (cache)
            cache->refreshUsage();
    });
}

void AppModel::trashRefused(const QString &clipID, const QString &reason)
{
    showError(reason);
    // The player let go of the recording before the move; it is still listed and selected, so show it again.
    if (m_player->clip() || m_library->selectedClipID() != clipID)
        return;
    const QList<DashClip> clips = m_library->clips();
    for (const DashClip &clip : clips)
        if (clip.id == clipID)
            return m_player->load(clip, false);
}
