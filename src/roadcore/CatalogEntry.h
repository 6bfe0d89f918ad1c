#pragma once

#include "roadcore/CatalogFiles.h"
#include "roadcore/ClipCategory.h"
#include "roadcore/SlimOptional.h"

#include "platform/StringOrder.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QString>

#include <atomic>
#include <map>
#include <optional>

// One recording the media cache has registered, with where each channel file was last seen, how to find it
// again and where its stored copy lies. Private to the media cache.
struct CatalogEntry {
    using File = CatalogFileRecord;
    using Letter = CatalogLetter;
    using Files = CatalogFiles;

    QString key; // name, "#", total byte size
    QString name;
    ClipCategory category = ClipCategory::other;
    SlimOptional<QDateTime> date;
    Files files; // by channel letter; other member names are carried along
    QDateTime importedAt;

    // Appends the entry object, compact, members in name order, optional members left out.
    void writeJson(QByteArray &out) const;

    friend bool operator==(const CatalogEntry &, const CatalogEntry &) = default;

    // Catalog keys in the order of the catalog file: code points, which is byte order for ASCII keys.
    struct KeyOrder {
        bool operator()(const QString &a, const QString &b) const { return StringOrder::less(a, b); }
    };
    using Catalog = std::map<QString, CatalogEntry, KeyOrder>;

    // The contents of "catalog.json": one compact JSON array of the entries in key order; read back by
    // CatalogLoader.
    static QByteArray writeCatalog(const Catalog &catalog);
};
