#pragma once

#include "roadcore/ClipCategory.h"
#include "roadcore/DashClip.h"
#include "roadloom/model/ClipSort.h"

#include <QHash>
#include <QList>
#include <QString>

#include <array>
#include <limits>
#include <optional>
#include <vector>

// The clip list of a source: filtering, ordering and counting over a list of recordings, without state.
namespace ClipListing {

// The day of a recording without a valid date.
inline constexpr qint32 undatedDay = std::numeric_limits<qint32>::min();
// The local Julian day of each recording, or `undatedDay`.
std::vector<qint32> localDays(const QList<DashClip> &clips);

// What filtering and ordering a long list needs, prepared once per list (off the GUI thread where the list
// is made there): each order as positions over the whole list. A keystroke then walks one order and keeps
// what passes, in linear time. Nothing here copies a text of the list: a long library keeps one copy of each
// recording, and the lookups hold hashes that lead to it.
struct Index {
    std::vector<qsizetype> byName;       // stable: equal names keep their list order
    std::vector<qsizetype> bySize;       // largest first, stable
    std::vector<qsizetype> neighbor;     // the neighbor order (oldest first)
    std::vector<qsizetype> neighborRank; // by position: its place in `neighbor`
    // Hashes of identifiers and catalog keys, ascending, each with a serial number given at indexing; the
    // serial leads to the recording's position now: a removal then rewrites plain numbers, not the lookups.
    std::vector<std::pair<size_t, qsizetype>> byID;
    std::vector<std::pair<size_t, qsizetype>> byKey;
    std::vector<qsizetype> positionOfSerial; // -1 once removed
    std::vector<qsizetype> serialAt;         // by position
    std::vector<qint32> days;                // by position: `localDays`
    std::array<int, allClipCategories.size()> categoryCounts{};

    // The positions in `clips`, the list the index was made from, of the recordings with that id or
    // catalog key, ascending.
    QList<qsizetype> positionsOfID(const QList<DashClip> &clips, const QString &id) const;
    QList<qsizetype> positionsOfKey(const QList<DashClip> &clips, const QString &key) const;
};
Index index(const QList<DashClip> &clips);
// Takes the recording at `position`, of that category, out of an index of its list.
void remove(Index &index, qsizetype position, ClipCategory category);

// The shown recordings as a list view lays them out: a header row before each run of recordings of one
// local day, then those recordings. Numbers only; made with the list off the GUI thread, so that a long
// list arrives ready to show.
struct Shown {
    QList<qsizetype> positions;           // in the list, in the shown order
    std::vector<qsizetype> rowOfPosition; // by position in the list: its place in `positions`, or -1
    std::vector<qint32> rows;             // by row: a position (>= 0) or -(header number + 1)
    std::vector<qint32> rowOfShown;       // by place in `positions`: its row
    std::vector<qint32> headerDays;       // by header: the local Julian day it heads, or `undatedDay`

    // Of the rows and headers (the positions are the store's own).
    size_t memoryBytes() const;
};
// `positions` of a list of `count` recordings with `days` by position (missing ones count as undated).
Shown shown(QList<qsizetype> positions, qsizetype count, const std::vector<qint32> &days);

// Positions in `clips` of the recordings that pass the category and the search, in the chosen order.
// `index`, when given, must be made from `clips`; without it every call sorts anew.
QList<qsizetype> positions(const QList<DashClip> &clips, std::optional<ClipCategory> category,
                           const QString &searchText, ClipSort sort, const Index *index = nullptr);
QList<DashClip> filtered(const QList<DashClip> &clips, std::optional<ClipCategory> category,
                         const QString &searchText, ClipSort sort, const Index *index = nullptr);

// Recordings of that category; with none, all of them. Filters and search do not apply.
int count(const QList<DashClip> &clips, std::optional<ClipCategory> category);
// The categories present in `clips`, in declaration order.
QList<ClipCategory> presentCategories(const QList<DashClip> &clips);
// The same from an index's counts, without a walk over the list.
int counted(const Index &index, std::optional<ClipCategory> category);
QList<ClipCategory> presentIn(const Index &index);

} // namespace ClipListing
