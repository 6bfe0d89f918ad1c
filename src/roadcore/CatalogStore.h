#pragma once

#include "roadcore/CatalogEntry.h"
#include "roadcore/CatalogJournal.h"
#include "roadcore/CatalogLoader.h"

#include <QSet>
#include <QString>

#include <atomic>
#include <optional>

// The media cache's catalog as it lives on disk: "catalog.json", the journal of the copies recorded since it
// was written, and what was set aside beside them because it could not be read or applied. Reads them and
// folds the journal in, keeps what cannot be read rather than overwrite it, knows which stored files what was
// set aside may name, and writes every change through one save that says whether it reached the disk. Not
// safe on several threads: the media cache holds its lock around every call, except `markUnsaved`.
class CatalogStore {
public:
    CatalogStore(QString root, CatalogLoader::Options reading);

    static QString catalogFileName();
    static QString journalFileName();

    // Reads the catalog and its journal; false when `*stop` turned true first or either could not be read
    // now, and nothing was set aside, written or changed. Folds the journal into the catalog file at once.
    bool load(const std::atomic<bool> *stop);

    CatalogEntry::Catalog &entries() { return m_entries; }
    const CatalogEntry::Catalog &entries() const { return m_entries; }

    // Writes the whole catalog, which takes in the journal. False when it did not reach the disk: the catalog
    // stays unsaved, so the next save or the fold writes it again.
    bool save();
    // Records one copy already set in the entries: a line appended to the journal, or the whole catalog
    // while one is due. False when neither reached the disk; the copy is then written by the next save that
    // does, and `isUnrecorded` names it until then.
    bool saveCopy(const CatalogJournal::Record &record);
    bool isUnrecorded(const QString &key, const QString &letter) const;
    // A change made in memory only (a file found moved), written by the next save. Safe on any thread.
    void markUnsaved() { m_unsaved = true; }
    bool isUnsaved() const { return m_unsaved; }
    // An unreadable catalog file is still in place: it may name what memory does not.
    bool isUnreadableInPlace() const { return m_catalogUnreadable; }
    // Writes what the catalog file lacks, if anything; for the application's quit. False when that failed.
    bool fold();
    // Whether a save may write at all: an unreadable catalog file in place is moved aside first, and while
    // that fails nothing is written.
    bool canSave();

    // Whether a sweep must leave the stored file at `relative` (cleaned) although no record names it: a
    // journal set aside may name it, or a catalog kept as unreadable, which may name any file and then
    // spares those that no record named before the sweep (`namedBefore` false).
    bool spares(const QString &relative, bool namedBefore) const;
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

    const QString m_root;
    const CatalogLoader::Options m_reading;
    CatalogEntry::Catalog m_entries;
    CatalogJournal m_journal;
    bool m_catalogUnreadable = false; // an unreadable catalog file is still in place
    bool m_toldUnkept = false;
    std::optional<QString> m_setAsideCatalog;
    // The catalog in memory holds what the file does not. Set by the threads of a listing.
    std::atomic<bool> m_unsaved = false;
    // Copies whose record reached no file: "key/letter".
    QSet<QString> m_unrecorded;
    bool m_keepJournal = false; // one that could not be applied nor moved aside
    // An unreadable catalog was kept: records may be missing from the catalog, naming any stored file.
    bool m_spareAll = false;
    // The stored files named by journals set aside: their records may be missing from the catalog.
    CatalogJournal::Names m_spared;
};
