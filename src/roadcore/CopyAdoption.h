#pragma once

#include "roadcore/CatalogEntry.h"

#include "platform/FileCopy.h"

#include <QSet>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class CatalogStore;

// Gives stored files that no record names (their record lost, or kept while a catalog was set aside) back to
// the records they are proven to be. Not thread-safe: the cache calls it under its lock.
class CopyAdoption {
public:
    // A stored file no record names, shaped like a copy: "Files/<2>/<fingerprint>/<name>".
    struct Unnamed {
        QString relative, fingerprint, name;
        qint64 size = 0;
    };
    // Whether the record's stored copy exists.
    using HasCopy = std::function<bool(const CatalogEntry::File &)>;

    // The regular file at `relative` under the cache root (no copy's temporary file) as an unnamed copy,
    // when it has a copy's shape and `referenced` (cleaned stored paths) does not name it.
    static std::optional<Unnamed> unnamed(const QString &relative, qint64 size,
                                          const QSet<QString> &referenced);
    // Whether both files read alike to their ends.
    static FileCopy::Comparison compareFiles(const QString &a, const QString &b,
                                             const std::function<bool()> &proceed);

    explicit CopyAdoption(QString root);

    // Gives each of `unnamed`, whose content's fingerprint is the name of its folder, to the channel files
    // without a copy that it is proven to be: their file name (or its " 2" form) and size, and all its bytes
    // equal to the original in place, or else the record's own fingerprint. A record with neither takes it
    // only when it is the one record of the catalog the file may be; where several may, the file is kept
    // undecided. True when one was given, and the catalog changed.
    bool adopt(CatalogStore &store, const std::vector<Unnamed> &unnamed, const HasCopy &hasCopy);
    // Stored files no record names that more than one recording may be: kept until one is proven.
    const QSet<QString> &undecided() const { return m_undecided; }
    void clearUndecided() { m_undecided.clear(); }

private:
    const QString m_root;
    QSet<QString> m_undecided;
};
