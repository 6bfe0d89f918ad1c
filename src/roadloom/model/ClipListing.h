#pragma once

#include "roadcore/ClipCategory.h"
#include "roadcore/DashClip.h"
#include "roadloom/model/ClipSort.h"

#include <QHash>
#include <QList>
#include <QMultiHash>
#include <QString>

#include <optional>
#include <vector>

// The clip list of a source: filtering, ordering and counting over a list of recordings, without state.
namespace ClipListing {

// What filtering and ordering a long list needs, prepared once per list (off the GUI thread where the list
// is made there): each order as positions over the whole list, and the names case-folded for the search.
// A keystroke then walks one order and keeps what passes, in linear time.
struct Index {
    std::vector<qsizetype> byName;       // stable: equal names keep their list order
    std::vector<qsizetype> bySize;       // largest first, stable
    std::vector<qsizetype> neighbor;     // the neighbor order (oldest first)
    std::vector<qsizetype> neighborRank; // by position: its place in `neighbor`
    QStringList foldedNames;
    // Identifiers and catalog keys lead to a serial number given at indexing, and the serial to the
    // recording's position now: a removal then rewrites plain numbers, not the hashes.
    QMultiHash<QString, qsizetype> byID;
    QMultiHash<QString, qsizetype> byKey;
    std::vector<qsizetype> positionOfSerial; // -1 once removed
    std::vector<qsizetype> serialAt;         // by position

    // The positions of the recordings with that id or catalog key, ascending.
    QList<qsizetype> positionsOfID(const QString &id) const { return positionsOf(byID, id); }
    QList<qsizetype> positionsOfKey(const QString &key) const { return positionsOf(byKey, key); }

private:
    QList<qsizetype> positionsOf(const QMultiHash<QString, qsizetype> &hash, const QString &name) const;
};
Index index(const QList<DashClip> &clips);
// Takes the recording at `position` out of an index of its list.
void remove(Index &index, qsizetype position, const DashClip &clip);

// Positions in `clips` of the recordings that pass the category and the search, in the chosen order.
// `index`, when given, must be made from `clips`; without it every call sorts and folds anew.
QList<qsizetype> positions(const QList<DashClip> &clips, std::optional<ClipCategory> category,
                           const QString &searchText, ClipSort sort, const Index *index = nullptr);
QList<DashClip> filtered(const QList<DashClip> &clips, std::optional<ClipCategory> category,
                         const QString &searchText, ClipSort sort, const Index *index = nullptr);

// Recordings of that category; with none, all of them. Filters and search do not apply.
int count(const QList<DashClip> &clips, std::optional<ClipCategory> category);
// The categories present in `clips`, in declaration order.
QList<ClipCategory> presentCategories(const QList<DashClip> &clips);

} // namespace ClipListing
