#pragma once

#include "roadcore/CatalogEntry.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// The copies recorded since the catalog file was last written, kept beside it in "catalog.journal" so
// that recording one copy appends a line instead of rewriting the whole catalog. Its first line names
// the catalog file it continues (`catalogIdentity`); every further line records one copy as a compact
// JSON object. Only lines ended by a line feed count: a line cut off by a crash is no record.
struct CatalogJournal {
    struct Record {
        QString key;
        QString letter; // of the channel
        QString fingerprint;
        QString storedPath;

        friend bool operator==(const Record &, const Record &) = default;
    };
    static QByteArray header(QByteArrayView catalogIdentity);
    static QByteArray line(const Record &record);
    struct Reading {
        QList<Record> records;
        // Bytes from the start up to the end of the last good line; 0 when the journal continues another
        // catalog file or its header is unreadable. Appending goes on from there.
        qsizetype goodBytes = 0;
    };
    // The records of a journal that continues the catalog file `catalogIdentity`, up to the first line that
    // is cut off or unreadable.
    static Reading read(QByteArrayView journal, QByteArrayView catalogIdentity);
    // Records a copy in the entry and channel it names; false when the catalog has no such record.
    static bool apply(CatalogEntry::Catalog &catalog, const Record &record);
};
