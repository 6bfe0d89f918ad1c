#pragma once

#include "roadcore/PrefixBytes.h"
#include "roadcore/SlimOptional.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>

// One channel file of a catalogued recording: where it was last seen, how to find it again and where its
// stored copy lies.
struct CatalogFileRecord {
    QString originalPath;               // where the file was last seen
    SlimOptional<QString> importedPath; // where it was first registered; never changed
    PrefixBytes bookmark;               // finds the file after a move or rename
    qint64 size = 0;                    // the test of whether a file found on disk is this one
    SlimOptional<QDateTime> modified;   // for information only
    SlimOptional<QString> fingerprint;  // of the content, once a copy was made or reused
    SlimOptional<QString> storedPath;   // of the stored copy, relative to the cache root

    // The stored path when the cache may use it: below "Files/", relative, without "..". The catalog
    // is a file the user can edit; anything else must not make the program play or reuse an arbitrary
    // file. The text is kept as read either way.
    std::optional<QString> usableStoredPath() const;

    // Appends the file object to JSON text.
    void writeJson(QByteArray &out) const;

    friend bool operator==(const CatalogFileRecord &, const CatalogFileRecord &) = default;
};
