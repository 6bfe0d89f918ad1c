#include "roadloom/model/ConfigStore.h"
#include "roadloom/model/Observed.h"

#include "platform/AtomicFile.h"
#include "platform/Folders.h"
#include "platform/RegularFile.h"
#include "platform/StandardFolders.h"
#include "roadcore/ConfigSchema.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cstring>

namespace {

// Replaces the file in one rename, so a card pulled or full in the middle leaves the old file whole.
Result<void> writeAtomically(const QString &path, const QByteArray &bytes)
{
    return AtomicFile::write(path, bytes);
}

Result<void> makeFolder(const QString &path)
{
    if (const int error = Folders::make(path)) {
        return Failure{QStringLiteral("Couldn’t create the folder “%1”: %2")
                           .arg(path, QString::fromLocal8Bit(std::strerror(error)))};
    }
    return {};
}

// The card's file goes to the backup folder first; a failed copy (the file is gone, a backup from the same
// second exists, no space) does not stop the save, a backup folder that cannot be made does.
Result<void> writeWithBackup(const QString &path, const QByteArray &bytes, const QString &backupName)
{
    const QString folder = StandardFolders::configBackups();
    if (Result<void> made = makeFolder(folder); !made)
        return made;
    if (RegularFile::isRegular(path))
        QFile::copy(path, QDir(folder).filePath(backupName));
    return writeAtomically(path, bytes);
}

QFuture<void> nothingToDo()
{
    return QtFuture::makeReadyFuture();
}

} // namespace

ConfigStore::ConfigStore(QObject *parent)
    : QObject(parent), m_clock([] { return QDateTime::currentDateTimeUtc(); })
{
}

template <class Change> void ConfigStore::changingDirty(Change change)
{
    const bool wasDirty = isDirty();
    change();
    if (isDirty() != wasDirty)
        emit isDirtyChanged(!wasDirty);
}

void ConfigStore::setUrl(const QString &url)
{
    setObserved(this, m_url, url, &ConfigStore::urlChanged);
}

void ConfigStore::setFile(const std::optional<ConfigFile> &file)
{
    if (m_file == file)
        return;
    changingDirty([&] { m_file = file; });
    emit fileChanged(m_file);
}

void ConfigStore::setSaved(const std::optional<ConfigFile> &saved)
{
    if (m_saved == saved)
        return;
    changingDirty([&] { m_saved = saved; });
    emit savedChanged(m_saved);
}

void ConfigStore::setMessage(const QString &message, Alert::Style style)
{
    if (m_message == message && m_messageStyle == style)
        return;
    m_message = message;
    m_messageStyle = style;
    emit messageChanged(m_message);
}

bool ConfigStore::isDirty() const
{
    return m_file != m_saved;
}

QFuture<void> ConfigStore::open(const QString &path)
{
    const quint64 generation = ++m_openGeneration;
    return m_files.run(
        [path, before = m_beforeFileAccess] {
            if (before)
                before(path);
            return readForOpen(path);
        },
        [this, path, generation](const Result<ConfigFile> &read) {
            if (generation == m_openGeneration) // else a newer open answers
                openRead(path, read);
        });
}

QFuture<void> ConfigStore::openCameraFile(const QString &root)
{
    using Found = std::optional<std::pair<QString, Result<ConfigFile>>>;
    const quint64 generation = ++m_openGeneration;
    return m_files.run(
        [root, before = m_beforeFileAccess]() -> Found {
            if (before)
                before(root);
            const std::optional<QString> url = ConfigSchema::configURL(root);
            if (!url)
                return std::nullopt;
            return std::pair(*url, readForOpen(*url));
        },
        [this, generation](const Found &found) {
            // Another file opened meanwhile is the one the user wants.
            if (generation == m_openGeneration && found && !m_file)
                openRead(found->first, found->second);
        });
}

Result<ConfigFile> ConfigStore::readForOpen(const QString &path)
{
    Result<ConfigFile> read = readEditable(path);
    // A save that was killed, or whose card was pulled, left its temporary file beside the card's file.
    if (read)
        AtomicFile::removeLeftovers(path);
    return read;
}

void ConfigStore::openRead(const QString &path, const Result<ConfigFile> &read)
{
    ++m_openGeneration; // an open still under way answers too late
    if (!read) {
        setMessage(read.error(), Alert::Style::warning);
        return;
    }
    if (!mayDiscardEdits())
        return;
    setUrl(path);
    // Both documents change together, so observers never see the half-open state as dirty.
    const bool fileDiffers = m_file != *read;
    const bool savedDiffers = m_saved != *read;
    changingDirty([&] {
        m_file = *read;
        m_saved = *read;
    });
    if (fileDiffers)
        emit fileChanged(m_file);
    if (savedDiffers)
        emit savedChanged(m_saved);
    setMessage(QString());
}

Result<ConfigFile> ConfigStore::readEditable(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    // Measured before reading: a file of gigabytes is refused without being read.
    if (const QFileInfo info(path); info.isFile() && info.size() > maximumFileSize) {
        return Failure{QStringLiteral("“%1” can’t be edited here: it is %2 KB, and a camera’s settings file "
                                      "is at most %3 KB.")
                           .arg(name, QString::number((info.size() + 1023) / 1024),
                                QString::number(maximumFileSize / 1024))};
    }
    Result<ConfigFile> read = ConfigFile::read(path);
    if (read && read->lines.size() > maximumLines) {
        return Failure{QStringLiteral("“%1” can’t be edited here: it has %2 lines, and a camera’s settings "
                                      "file has at most %3.")
                           .arg(name, QString::number(read->lines.size()), QString::number(maximumLines))};
    }
    return read;
}

bool ConfigStore::mayDiscardEdits() const
{
    return !isDirty() || !m_file || !m_discardGuard || m_discardGuard();
}

Alert ConfigStore::discardAlert()
{
    Alert alert;
    alert.style = Alert::Style::warning;
    alert.messageText = QStringLiteral("The camera settings have unsaved changes.");
    alert.buttons = {QStringLiteral("Discard Changes"), QStringLiteral("Cancel")};
    alert.defaultButton = 1;
    return alert;
}

QString ConfigStore::value(const ConfigFile::Entry &entry) const
{
    if (m_file) {
        if (std::optional<QString> current = m_file->value(entry.section, entry.key))
            return *current;
    }
    return entry.value;
}

void ConfigStore::setValue(const ConfigFile::Entry &entry, const QString &text)
{
    if (!m_file)
        return;
    // An edit in place is always announced, even when the text was already there.
    changingDirty([&] { m_file->set(entry.section, entry.key, text); });
    emit fileChanged(m_file);
}

QFuture<void> ConfigStore::save()
{
    if (m_url.isEmpty() || !m_file || m_saving)
        return nothingToDo();
    setObserved(this, m_saving, true, &ConfigStore::isSavingChanged);
    const ConfigFile document = *m_file;
    return m_files.run(
        [url = m_url, bytes = document.bytes(), backup = backupFileName(m_url, m_clock()),
         before = m_beforeFileAccess] {
            if (before)
                before(url);
            return writeWithBackup(url, bytes, backup);
        },
        [this, url = m_url, document](const Result<void> &written) {
            setObserved(this, m_saving, false, &ConfigStore::isSavingChanged);
            if (!written)
                return setMessage(written.error(), Alert::Style::warning);
            // What was written; edits made while it was are still to save.
            if (m_url == url)
                setSaved(document);
            setMessage(savedMessage());
        });
}

QFuture<void> ConfigStore::importProfile(const QString &path)
{
    if (!m_file)
        return nothingToDo();
    return m_files.run(
        [path, before = m_beforeFileAccess] {
            if (before)
                before(path);
            return readEditable(path);
        },
        [this, path](const Result<ConfigFile> &other) {
            if (!other)
                return setMessage(other.error(), Alert::Style::warning);
            if (!m_file)
                return; // closed meanwhile
            ConfigFile merged = *m_file;
            const int changed = merged.merge(*other);
            setFile(merged);
            setMessage(importMessage(changed, QFileInfo(path).fileName()));
        });
}

QFuture<void> ConfigStore::exportProfile(const QString &path)
{
    if (!m_file)
        return nothingToDo();
    return m_files.run(
        [path, bytes = m_file->bytes(), before = m_beforeFileAccess] {
            if (before)
                before(path);
            return writeAtomically(path, bytes);
        },
        [this](const Result<void> &written) {
            if (!written)
                setMessage(written.error(), Alert::Style::warning);
        });
}

void ConfigStore::setClock(Clock clock)
{
    m_clock = std::move(clock);
}

QString ConfigStore::backupFileName(const QString &path, const QDateTime &time)
{
    QString stamp = time.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
    stamp.replace(QLatin1Char(':'), QLatin1Char('-'));
    return volumeName(path) + QLatin1Char('-') + stamp + QLatin1Char('-') + QFileInfo(path).fileName();
}

QString ConfigStore::volumeName(const QString &path)
{
    // Where desktop sessions and administrators mount removable cards; the card's folder must hold the file.
    static const QRegularExpression mounted(QStringLiteral("^/(?:(?:run/)?media/[^/]+|mnt)/([^/]+)/."));
    const QRegularExpressionMatch match = mounted.match(QDir::cleanPath(path));
    return match.hasMatch() ? match.captured(1) : QStringLiteral("local");
}

QString ConfigStore::importMessage(int changed, const QString &fileName)
{
    if (changed == 0)
        return QStringLiteral("No differing settings found in %1.").arg(fileName);
    return QStringLiteral("Applied %1 setting(s) from %2. Review, then Save to Card.")
        .arg(QString::number(changed), fileName);
}

QString ConfigStore::savedMessage()
{
    return QStringLiteral("Settings saved. Insert the card into the dashcam to apply them.");
}
