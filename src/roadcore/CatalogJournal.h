#pragma once

#include "roadcore/CatalogEntry.h"

#include "platform/UniqueFd.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QSet>
#include <QString>

#include <functional>

// The copies recorded since the catalog file was last written, kept beside it in "catalog.journal" so that
// recording one copy appends a line instead of rewriting the whole catalog. Every line records one copy as
// a compact JSON object and stands alone: a line that does not read is passed over, and only a line ended
// by a line feed counts, so a line cut off by a crash is no record.
//
// A record names no catalog file: it is checked against the catalog it is applied to, so a journal is never
// lost because the catalog file was copied to new inodes or its disk mounted under another number, and a
// stale journal left by a crash right after a rewrite adds nothing that is not stored.
class CatalogJournal {
public:
    struct Record {
        QString key;
        QString letter; // of the channel
        QString fingerprint;
        QString storedPath;

        friend bool operator==(const Record &, const Record &) = default;
    };
    static QByteArray line(const Record &record);

    struct Reading {
        QList<Record> records;
        // Bytes up to the end of the last whole line: appending goes on from there.
        qsizetype goodBytes = 0;
        int skippedLines = 0; // whole lines that did not read
    };
    static Reading read(QByteArrayView journal);

    // The stored files a journal names, for a sweep that must spare them: the stored paths of its records
    // and, of a line that does not read, any "Files/..." text in it and the copy folder that text names: a
    // garbled line may still name its file, or at least the folder of its fingerprint. Cleaned paths.
    struct Names {
        QSet<QString> paths;
        QSet<QString> folders; // "Files/<2>/<fingerprint>"
        void unite(const Names &other)
        {
            paths.unite(other.paths);
            folders.unite(other.folders);
        }
        // Whether the stored file at `relative` (a cleaned path) is named.
        bool covers(const QString &relative) const;
    };
    static Names named(QByteArrayView journal);

    enum class Applied {
        recorded, // the copy is now the record's
        already,  // the record names that copy already
        gone,     // the stored file is not there (any more): nothing to record
        unplaced, // the stored file is there but the catalog has no record free to take it
    };
    // Records the copy in the entry and channel it names when its stored file exists (`isStored`, given the
    // usable relative path) and the record has no other stored copy that exists.
    static Applied apply(CatalogEntry::Catalog &catalog, const Record &record,
                         const std::function<bool(const QString &storedPath)> &isStored);

    explicit CatalogJournal(QString path) : m_path(std::move(path)) {}

    // Goes on from a journal read at start: its whole lines stay and a torn last line is cut before the
    // next record is appended.
    void resume(qsizetype goodBytes, int records);
    // Appends the record and flushes it to disk; false when that failed, and the journal is closed.
    bool append(const Record &record);
    int records() const { return m_records; }
    // The catalog file holds every record now: the journal is closed and deleted.
    void remove();

private:
    const QString m_path;
    UniqueFd m_fd;         // open once a record was appended this run
    qsizetype m_bytes = 0; // of whole lines; appending goes on here
    int m_records = 0;
};
