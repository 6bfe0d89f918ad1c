#pragma once

#include "roadcore/ConfigFile.h"

#include <QList>
#include <QString>
#include <QStringList>

// One section of the device settings form: a schema group ("Recording") or, for entries the schema does
// not place, "Other [section]"; its entries in file order.
struct ConfigGroup {
    QString title;
    QList<ConfigFile::Entry> entries;

    friend bool operator==(const ConfigGroup &, const ConfigGroup &) = default;
};

// The schema groups in the order the form shows them.
const QStringList &configGroupOrder();

// The entries that match the filter (by key, or by the schema title; case-insensitive; empty matches all),
// grouped: the schema groups first in their fixed order, then the "Other [section]" groups by code unit.
QList<ConfigGroup> grouped(const QList<ConfigFile::Entry> &entries, const QString &filter);
