#include "roadcore/CatalogStore.h"

#include "platform/FileIO.h"
#include "platform/FileSize.h"
#include "platform/LogCategories.h"
#include "platform/RegularFile.h"
#include "platform/UniqueFd.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>

#include <unistd.h>

namespace {

struct OnDisk {
    bool stopped = false;
    bool failed = false; // the catalog or its journal could not be read now
    bool unreadable = false;
    CatalogEntry::Catalog catalog;
    bool journal = false; // there was one
    qsizetype journalBytes = 0;
    int journalRecords = 0;
    int recorded = 0; // of its records, taken into the catalog
    // One of its lines did not read, or names a stored file that no record of the catalog names.
    bool unplaced = false;
};

struct WholeFile {
    bool absent = false;
    bool failed = false; // no descriptor, an I/O error, or no regular file
    QByteArray bytes;
};

WholeFile readWhole(const QString &path)
{
    WholeFile file;
    const RegularFile::Opening opening = RegularFile::openDescriptor(path);
    const UniqueFd &fd = opening.fd;
    if (!fd) {
        file.absent = !opening.special && opening.error == ENOENT;
        file.failed = !file.absent;
        return file;
    }
    constexpr qsizetype chunk = 64 << 10;
    for (;;) {
        const qsizetype have = file.bytes.size();
        file.bytes.resize(have + chunk);
        const qint64 n = FileIO::readAt(fd.get(), file.bytes.data() + have, chunk, have);
        file.bytes.resize(have + std::max<qsizetype>(qsizetype(n), 0));
        file.failed = n < 0;
        if (n < chunk)
            return file;
    }
}

// The catalog file, absent counting as empty, and the copies its journal recorded since it was written.
OnDisk readOnDisk(const QString &root, const CatalogLoader::Options &options, const std::atomic<bool> *stop)
{
    OnDisk disk;
    CatalogLoader::FileReading reading =
        CatalogLoader::readFile(root + QLatin1Char('/') + CatalogStore::catalogFileName(), options, stop);
    if (stop && stop->load()) {
        disk.stopped = true;
        return disk;
    }
    if (reading.failed) {
        disk.failed = true;
        return disk;
    }
    if (!reading.absent && !reading.catalog)
        disk.unreadable = true;
    else if (reading.catalog)
        disk.catalog = std::move(*reading.catalog);
    // A journal that cannot be read now is no missing one: it would be cut or deleted by the next record.
    const WholeFile journal = readWhole(root + QLatin1Char('/') + CatalogStore::journalFileName());
    disk.failed = journal.failed;
    if (journal.absent || journal.failed)
        return disk;
    disk.journal = true;
    const CatalogJournal::Reading read = CatalogJournal::read(journal.bytes);
    disk.journalBytes = read.goodBytes;
    disk.journalRecords = int(read.records.size());
    const auto isStored = [&](const QString &storedPath) {
        return regularFileSize(root + QLatin1Char('/') + storedPath).has_value();
    };
    QStringList unplaced;
    for (const CatalogJournal::Record &record : read.records) {
        switch (CatalogJournal::apply(disk.catalog, record, isStored)) {
        case CatalogJournal::Applied::recorded:
            ++disk.recorded;
            break;
        case CatalogJournal::Applied::unplaced:
            unplaced.append(QDir::cleanPath(record.storedPath));
            break;
        case CatalogJournal::Applied::already:
        case CatalogJournal::Applied::gone:
            break;
        }
    }
    // A line that did not read may have named any stored file.
    disk.unplaced = read.skippedLines > 0;
    if (!unplaced.isEmpty() && !disk.unplaced) {
        QSet<QString> referenced;
        for (const auto &[key, entry] : disk.catalog)
            for (const auto &[letter, file] : entry.files)
                if (const auto relative = file.usableStoredPath())
                    referenced.insert(QDir::cleanPath(*relative));
        disk.unplaced = std::any_of(unplaced.begin(), unplaced.end(),
                                    [&](const QString &path) { return !referenced.contains(path); });
    }
    return disk;
}

// "<path>.<what>-<time>", or with "-<n>" when an earlier file of the same second holds that name.
std::optional<QString> freeSetAsideName(const QString &path, const char *what)
{
    const QString base = path + QLatin1Char('.') + QLatin1String(what) + QLatin1Char('-') +
                         QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    for (int n = 1; n <= 1000; ++n) {
        const QString target = n == 1 ? base : base + QLatin1Char('-') + QString::number(n);
        if (!QFileInfo::exists(target) && !QFileInfo(target).isSymLink())
            return target;
    }
    return std::nullopt;
}

} // namespace

CatalogStore::CatalogStore(QString root, CatalogLoader::Options reading)
    : m_root(std::move(root)), m_reading(std::move(reading)),
      m_journal(m_root + QLatin1Char('/') + journalFileName())
{
}

QString CatalogStore::catalogFileName()
{
    return QStringLiteral("catalog.json");
}

QString CatalogStore::journalFileName()
{
    return QStringLiteral("catalog.journal");
}

QString CatalogStore::catalogPath() const
{
    return m_root + QLatin1Char('/') + catalogFileName();
}

QString CatalogStore::journalPath() const
{
    return m_root + QLatin1Char('/') + journalFileName();
}

bool CatalogStore::load(const std::atomic<bool> *stop)
{
    OnDisk disk = readOnDisk(m_root, m_reading, stop);
    if (disk.stopped)
        return false;
    // No verdict on the files: nothing is set aside, written or swept until a read succeeds.
    if (disk.failed) {
        qCWarning(logCache) << "The catalog or its journal could not be read now:" << m_root;
        return false;
    }
    m_catalogUnreadable = disk.unreadable;
    // Kept aside at once, so that the user can be told where it is now and it stays there.
    canSave();
    m_entries = std::move(disk.catalog);
    m_journal.resume(disk.journalBytes, disk.journalRecords);
    // Never deleted unread: when it cannot be moved aside it stays, appended to, until it can.
    if (disk.journal && disk.unplaced)
        m_keepJournal = !setAsideJournal();
    readSetAside();
    // Folded in at once, so that copies do not live in the journal alone for long.
    if (disk.journal && !m_keepJournal) {
        if (disk.recorded > 0)
            save();
        else if (!m_catalogUnreadable)
            m_journal.remove();
    }
    return true;
}

void CatalogStore::readSetAside()
{
    const QDir dir(m_root);
    m_spareAll = m_catalogUnreadable || !dir.entryList({catalogFileName() + QLatin1String(".unreadable-*")},
                                                       QDir::AllEntries | QDir::Hidden | QDir::System)
                                             .isEmpty();
    m_spared = {};
    m_sparedRecords.clear();
    QStringList journals = dir.entryList({journalFileName() + QLatin1String(".unapplied-*")},
                                         QDir::Files | QDir::Hidden | QDir::System);
    if (m_keepJournal)
        journals.append(journalFileName());
    for (const QString &name : std::as_const(journals)) {
        const WholeFile journal = readWhole(dir.filePath(name));
        if (journal.failed)
            m_spareAll = true; // it may name any file
        else {
            m_spared.unite(CatalogJournal::named(journal.bytes));
            m_sparedRecords.append(CatalogJournal::read(journal.bytes).records);
        }
    }
}

void CatalogStore::removeSetAsideJournals()
{
    const QDir dir(m_root);
    for (const QString &name : dir.entryList({journalFileName() + QLatin1String(".unapplied-*")},
                                             QDir::Files | QDir::Hidden | QDir::System))
        QFile::remove(dir.filePath(name));
    readSetAside();
}

bool CatalogStore::setAsideJournal()
{
    if (const auto target = freeSetAsideName(journalPath(), "unapplied");
        target && QFile::rename(journalPath(), *target)) {
        m_journal.resume(0, 0);
        return true;
    }
    qCWarning(logCache) << "A catalog journal that could not be applied could not be kept:" << journalPath();
    return false;
}

bool CatalogStore::setAsideUnreadableCatalog()
{
    const QString path = catalogPath();
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return true;
    if (const auto target = freeSetAsideName(path, "unreadable"); target && QFile::rename(path, *target)) {
        qCWarning(logCache) << "The catalog could not be read and was kept as" << *target;
        m_setAsideCatalog = *target;
        return true;
    }
    return false;
}

bool CatalogStore::canSave()
{
    if (!m_catalogUnreadable)
        return true;
    if (setAsideUnreadableCatalog()) {
        m_catalogUnreadable = false;
        return true;
    }
    // The user learns once that nothing can be recorded until the file can be moved.
    if (!std::exchange(m_toldUnkept, true)) {
        qCWarning(logCache) << "The catalog could not be read and could not be kept aside:" << catalogPath();
        m_setAsideCatalog = QString();
    }
    return false;
}

void CatalogStore::remember(const QString &key)
{
    if (!m_before || m_before->count(key))
        return;
    const auto entry = m_entries.find(key);
    m_before->emplace(key,
                      entry == m_entries.end() ? std::nullopt : std::optional<CatalogEntry>(entry->second));
}

const CatalogEntry::File *CatalogStore::record(const QString &key, const QString &letter) const
{
    const auto entry = m_entries.find(key);
    if (entry == m_entries.end())
        return nullptr;
    const auto file = entry->second.files.find(letter);
    return file == entry->second.files.end() ? nullptr : &file->second;
}

CatalogEntry::File *CatalogStore::findRecord(const QString &key, const QString &letter)
{
    return const_cast<CatalogEntry::File *>(std::as_const(*this).record(key, letter));
}

void CatalogStore::put(CatalogEntry entry)
{
    remember(entry.key);
    m_unsaved = true;
    QString key = entry.key;
    m_entries.insert_or_assign(std::move(key), std::move(entry));
}

void CatalogStore::putRecord(const QString &key, const QString &letter, const CatalogEntry::File &record)
{
    CatalogEntry::File *file = findRecord(key, letter);
    if (!file || *file == record)
        return;
    remember(key);
    m_unsaved = true;
    *file = record;
}

void CatalogStore::dropCopy(const QString &key, const QString &letter)
{
    CatalogEntry::File *file = findRecord(key, letter);
    if (!file || !file->storedPath)
        return;
    remember(key);
    m_unsaved = true;
    file->storedPath.reset();
}

void CatalogStore::forget(const QString &key)
{
    if (!m_entries.count(key))
        return;
    remember(key);
    m_unsaved = true;
    m_entries.erase(key);
}

void CatalogStore::beginChange()
{
    m_before.emplace();
    m_unsavedBefore = m_unsaved;
}

bool CatalogStore::saveChange()
{
    if (!m_before)
        return true;
    const bool changed = std::any_of(m_before->begin(), m_before->end(), [&](const auto &item) {
        const auto now = m_entries.find(item.first);
        return item.second ? now == m_entries.end() || now->second != *item.second : now != m_entries.end();
    });
    // An unchanged catalog is not rewritten, and what it did not change is not left unsaved.
    if (!changed) {
        m_before.reset();
        m_unsaved = m_unsavedBefore;
        return true;
    }
    if (save()) {
        m_before.reset();
        return true;
    }
    undoChange();
    return false;
}

void CatalogStore::undoChange()
{
    if (!m_before)
        return;
    for (auto &[key, entry] : *m_before) {
        if (entry)
            m_entries.insert_or_assign(key, std::move(*entry));
        else
            m_entries.erase(key);
    }
    m_before.reset();
    m_unsaved = m_unsavedBefore;
}

bool CatalogStore::save()
{
    // Whatever fails below, the catalog in memory holds what the file lacks.
    m_unsaved = true;
    if (!canSave())
        return false;
    QDir().mkpath(m_root);
    // A failed write keeps the previous catalog.
    QSaveFile file(catalogPath());
    bool written = file.open(QIODevice::WriteOnly);
    if (written) { // a large catalog takes long to encode: not for a folder that takes no file
        const QByteArray bytes = CatalogEntry::writeCatalog(m_entries);
        written = file.write(bytes) == bytes.size() && file.commit();
    }
    if (!written) {
        qCWarning(logCache) << "The catalog could not be written:" << catalogPath() << file.errorString();
        return false;
    }
    m_unsaved = false;
    // The new catalog holds every copy of the journal. A journal left by a crash right here is read again
    // at the next start, where its records find their copies recorded or their stored files gone.
    if (!m_keepJournal)
        m_journal.remove();
    return true;
}

bool CatalogStore::saveCopy(const CatalogJournal::Record &record)
{
    CatalogEntry::File *file = findRecord(record.key, record.letter);
    Q_ASSERT(file);
    remember(record.key);
    file->fingerprint = record.fingerprint;
    file->storedPath = record.storedPath;
    // Folding the journal in after a number of copies that grows with the catalog keeps a caching run's
    // writing linear in its copies.
    const int longest = std::max(1000, int(m_entries.size() / 4));
    // What is only in memory (files followed to their new places, an earlier failed save) needs the whole
    // catalog.
    if (m_unsaved || m_catalogUnreadable || m_journal.records() >= longest)
        return save();
    if (m_journal.append(record))
        return true;
    qCWarning(logCache) << "The catalog journal could not be written:" << journalPath();
    return save();
}

MediaCacheWrite CatalogStore::writeUnsaved()
{
    if (!m_unsaved)
        return MediaCacheWrite::nothingUnsaved;
    return save() ? MediaCacheWrite::written : MediaCacheWrite::failed;
}

bool CatalogStore::fold()
{
    if (m_journal.records() > 0 || m_unsaved)
        return save();
    return true;
}
