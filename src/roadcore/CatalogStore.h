#pragma once

#include "roadcore/CatalogEntry.h"
#include "roadcore/CatalogJournal.h"
#include "roadcore/CatalogLoader.h"
#include "roadcore/MediaCacheTypes.h"

#include <QSet>
#include <QString>

#include <atomic>
#include <map>
#include <optional>

// The media cache's catalog as it lives on disk: "catalog.json", the journal of the copies recorded since it
// was written, and what was set aside beside them because it could not be read or applied. Reads them and
// folds the journal in, keeps what cannot be read rather than overwrite it, knows which stored files what was
// set aside may name, and writes every change through one save that says whether it reached the disk. Not
// safe on several threads: the media cache holds its lock around every call.
class CatalogStore {
public:
    CatalogStore(QString root, CatalogLoader::Options reading);

    static QString catalogFileName();
    static QString journalFileName();

    // Reads the catalog and its journal; false when `*stop` turned true first or either could not be read
    // now, and nothing was set aside, written or changed. Folds the journal into the catalog file at once.
    bool load(const std::atomic<bool> *stop);

    const CatalogEntry::Catalog &entries() const { return m_entries; }
    // The file record of that letter in the entry of that key; null when either is not there.
    const CatalogEntry::File *record(const QString &key, const QString &letter) const;

    // Every change goes through the calls below, so that the store knows what the file lacks; the next
    // save writes it.
    // Adds the entry, or replaces the one of its key.
    void put(CatalogEntry entry);
    // Replaces one file record of an entry; nothing when the entry or the record is gone.
    void putRecord(const QString &key, const QString &letter, const CatalogEntry::File &record);
    // Drops the record's stored copy; its fingerprint stays.
    void dropCopy(const QString &key, const QString &letter);
    void forget(const QString &key);

    // A change of several records that reaches the disk whole or not at all: from `beginChange` on the store
    // remembers what each entry it changes was, and when `saveChange` does not reach the disk, the entries
    // are put back as they were before, as is what the store knew to be unsaved. A change that changed
    // nothing writes nothing. `undoChange` puts the entries back without writing, for a change refused
    // for another cause.
    void beginChange();
    bool saveChange();
    void undoChange();

    // Writes the whole catalog, which takes in the journal. False when it did not reach the disk: the catalog
    // stays unsaved, so the next save or the fold writes it again.
    bool save();
    // Sets the copy in its record, which must be there, and writes it: a line appended to the journal, or
    // the whole catalog while one is due. False when neither reached the disk; the copy is then written by
    // the next save that does.
    bool saveCopy(const CatalogJournal::Record &record);
    // Writes the catalog when it holds what the file lacks; for retrying while saves fail.
    MediaCacheWrite writeUnsaved();
    // An unreadable catalog file is still in place: it may name what memory does not.
    bool isUnreadableInPlace() const { return m_catalogUnreadable; }
    // Writes what the catalog file lacks, if anything; for the application's quit. False when that failed.
    bool fold();
    // Whether a save may write at all, so that a copy could be recorded: an unreadable catalog file in place
    // is moved aside first, and while that fails nothing is written.
    bool canSave();

    // What was set aside beside the catalog, for a sweep that must not delete a stored file whose record
    // may be there. The stored files named by journals set aside:
    const CatalogJournal::Names &setAsideNames() const { return m_spared; }
    // The readable lines of those journals: each names a record and its stored file.
    const QList<CatalogJournal::Record> &setAsideRecords() const { return m_sparedRecords; }
    // Whether a catalog kept as unreadable (or a journal that could not be read) may name any stored file.
    bool setAsideMayNameAny() const { return m_spareAll; }
    // Deletes the journals set aside, which a clear of everything no longer needs; a catalog kept as
    // unreadable stays, since it may name recordings of the library.
    void removeSetAsideJournals();
    // Where a catalog file that could not be read was kept ("catalog.json.unreadable-<time>"), or an empty
    // text when it could not be moved aside, given once. None when there is nothing (more) to tell.
    std::optional<QString> takeSetAsideCatalog() { return std::exchange(m_setAsideCatalog, std::nullopt); }

private:
    QString catalogPath() const;
    QString journalPath() const;
    // Moves an unreadable catalog file aside so that saving never destroys it; false when that failed.
    bool setAsideUnreadableCatalog();
    // Moves aside a journal whose records name stored files the catalog has no record for.
    bool setAsideJournal();
    // Learns what the files set aside in the root may name.
    void readSetAside();
    // Remembers the entry as it is, once per change.
    void remember(const QString &key);
    CatalogEntry::File *findRecord(const QString &key, const QString &letter);

    const QString m_root;
    const CatalogLoader::Options m_reading;
    CatalogEntry::Catalog m_entries;
    CatalogJournal m_journal;
    bool m_catalogUnreadable = false; // an unreadable catalog file is still in place
    bool m_toldUnkept = false;
    std::optional<QString> m_setAsideCatalog;
    bool m_unsaved = false; // the catalog in memory holds what the file does not
    // While a change is open: each entry it changed as it was before, none for one it added.
    std::optional<std::map<QString, std::optional<CatalogEntry>>> m_before;
    bool m_unsavedBefore = false;
    bool m_keepJournal = false; // one that could not be applied nor moved aside
    // An unreadable catalog was kept: records may be missing from the catalog, naming any stored file.
    bool m_spareAll = false;
    // The stored files named by journals set aside: their records may be missing from the catalog.
    CatalogJournal::Names m_spared;
    QList<CatalogJournal::Record> m_sparedRecords;
};
