#include "roadloom/model/RecordingActions.h"

#include "platform/LogCategories.h"
#include "platform/Panels.h"
#include "roadcore/TelemetryExporter.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/model/CacheCoordinator.h"
#include "roadloom/model/OffThread.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QSaveFile>

#include <algorithm>

namespace {

QString fileName(const QString &path)
{
    return QFileInfo(path).fileName();
}

QFuture<void> finished()
{
    return QtFuture::makeReadyFuture();
}

} // namespace

RecordingActions::RecordingActions(AppModel &model, Panels &panels, Alerts &alerts, PlayerServices services,
                                   std::function<void(const DashClip &clip)> trash,
                                   FileAccess beforeFileAccess)
    : m_model(model), m_panels(panels), m_alerts(alerts), m_playerServices(std::move(services)),
      m_trash(std::move(trash)), m_beforeFileAccess(std::move(beforeFileAccess))
{
    // Save Original Files copies one file at a time.
    m_pool.setMaxThreadCount(1);
}

RecordingActions::~RecordingActions()
{
    m_pool.waitForDone();
}

QString RecordingActions::uniqueURL(const QString &path)
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

QFuture<void> RecordingActions::saveOriginals(const std::optional<DashClip> &clip)
{
    const std::optional<DashClip> recording = clip ? clip : m_model.player().clip();
    if (!recording)
        return finished();
    const std::optional<QString> folder =
        m_panels.chooseFolder(QStringLiteral("Save ") + recording->name, QStringLiteral("Save Here"));
    if (!folder)
        return finished();

    struct Outcome {
        std::optional<QString> lastSaved;
        std::optional<QString> error;
    };
    const QStringList urls = recording->allURLs();
    return OffThread::run(
        m_pool, this,
        [urls, folder = *folder, before = m_beforeFileAccess] {
            Outcome outcome;
            for (const QString &url : urls) {
                if (before)
                    before(url);
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
        },
        [this, count = urls.size()](const Outcome &outcome) {
            if (outcome.error)
                return m_model.showError(*outcome.error);
            m_model.show(QStringLiteral("Saved %1 file(s)").arg(count),
                         QStringLiteral("square.and.arrow.down.fill"), outcome.lastSaved);
        });
}

QString RecordingActions::mimeType(TelemetryFormat format)
{
    const QMimeType type = QMimeDatabase().mimeTypeForFile(QStringLiteral("export.") + rawValue(format),
                                                           QMimeDatabase::MatchExtension);
    if (!type.isValid() || type.isDefault())
        return QStringLiteral("text/plain");
    return type.name();
}

QFuture<void> RecordingActions::exportTelemetry(TelemetryFormat format, const std::optional<DashClip> &clip)
{
    const std::optional<DashClip> recording = clip ? clip : m_model.player().clip();
    if (!recording)
        return finished();
    const std::optional<DashClip> &loaded = m_model.player().clip();
    if (loaded && loaded->id == recording->id && m_model.player().isTelemetryRead())
        return writeExport(m_model.player().telemetry(), format, *recording);
    // Not the loaded recording, or its telemetry is still being read: read it again from the files the
    // media cache finds now (moved or only cached files included).
    // Finishes once the file is written too.
    auto written = std::make_shared<QPromise<void>>();
    written->start();
    OffThread::run(
        m_pool, this,
        [services = m_playerServices, recording = *recording] {
            const DashClip resolved = services.resolve ? services.resolve(recording) : recording;
            return services.readTelemetry ? services.readTelemetry(resolved.files) : Telemetry();
        },
        [this, format, recording = *recording, written](const Telemetry &telemetry) {
            writeExport(telemetry, format, recording).then([written] { written->finish(); });
        });
    return written->future();
}

QFuture<void> RecordingActions::writeExport(const Telemetry &telemetry, TelemetryFormat format,
                                            const DashClip &clip)
{
    if (telemetry.isEmpty()) {
        m_model.show(QStringLiteral("No GPS or G-sensor data in this clip"),
                     QStringLiteral("location.slash"));
        return finished();
    }
    const std::optional<QString> destination =
        m_panels.save(clip.name + QLatin1Char('.') + rawValue(format), mimeType(format));
    if (!destination)
        return finished();
    const QByteArray text =
        TelemetryExporter::exportText(telemetry, format, clip.name, clip.date, m_model.speedUnit()).toUtf8();
    // The chosen folder may be on a share or a card that stops answering: written off the GUI thread.
    return m_looks.run(
        [path = *destination, text, before = m_beforeFileAccess]() -> Result<void> {
            if (before)
                before(path);
            QSaveFile file(path);
            if (file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit())
                return {};
            qCWarning(logTelemetry) << "Export failed:" << path << file.errorString();
            return Failure{QStringLiteral("The file \u201C%1\u201D couldn\u2019t be saved: %2")
                               .arg(fileName(path), file.errorString())};
        },
        [model = &m_model, format, path = *destination](const Result<void> &written) {
            if (!written)
                return model->showError(written.error());
            model->show(QStringLiteral("Exported ") + title(format), QStringLiteral("map.fill"), path);
        });
}

Alert RecordingActions::trashAlert(const DashClip &clip)
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
    // Return right after the Delete key must not destroy anything: the destructive button wants a click.
    alert.defaultButton = 1;
    return alert;
}

QFuture<void> RecordingActions::trash(const DashClip &given)
{
    // The player keeps a recording as it was when loaded; a rescan since (the card back in) may have found
    // its files again. Ask about, and move, the recording as the library lists it now, unless the listing
    // still promises card files that are gone: offering the Trash for a last cached copy would hide that
    // it is deleted for good.
    const qsizetype at = m_model.library().indexOf(given.id);
    const DashClip listed = at >= 0 ? m_model.library().clips().at(at) : given;
    const auto onlyCached = [](const DashClip &c) {
        return c.storage() == StorageState::cached || c.storage() == StorageState::missing;
    };
    if (!onlyCached(given) || onlyCached(listed)) {
        confirmTrash(listed);
        return finished();
    }
    // Whether the card is back is the disk's to say, and a card may hang: asked off the GUI thread.
    QStringList files;
    for (const auto &file : listed.originalFiles)
        files.append(file.second);
    return m_looks.run(
        [files, before = m_beforeFileAccess] {
            return std::all_of(files.cbegin(), files.cend(), [&](const QString &file) {
                if (before)
                    before(file);
                return QFileInfo::exists(file);
            });
        },
        [this, given, listed](bool filesThere) { confirmTrash(filesThere ? listed : given); });
}

void RecordingActions::confirmTrash(const DashClip &clip)
{
    if (m_alerts.run(trashAlert(clip)) != 0)
        return;
    // Unload first, so the player lets go of the files before they move.
    const std::optional<DashClip> &loaded = m_model.player().clip();
    if (loaded && loaded->id == clip.id)
        m_model.player().load(std::nullopt, false);
    if (m_trash)
        return m_trash(clip);
    // The library's future ends on this thread's loop; the usage follows once the files are gone.
    m_model.library().trash(clip).then([cache = QPointer<CacheCoordinator>(&m_model.cache())] {
        if (cache)
            cache->refreshUsage();
    });
}
