#pragma once

#include "roadcore/ClipCategory.h"
#include "roadcore/DashClip.h"
#include "roadloom/model/ClipSort.h"

#include <QCollatorSortKey>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

// The clip list of a source: filtering, ordering and counting over a list of recordings, without state.
namespace ClipListing {

// Collation keys of the recordings' names, one per recording in list order; comparing them is the name
// order without asking the collator again, which keeps sorting a long list by name within a frame.
using NameKeys = std::vector<QCollatorSortKey>;
NameKeys nameKeys(const QList<DashClip> &clips);

// The search text with spaces and tabs removed at both ends (line breaks stay).
QString trimmedSearch(const QString &searchText);

// Positions in `clips` of the recordings that pass the category and the search, in the chosen order.
// `keys`, when given, must belong to `clips`; without them the name order asks a collator.
QList<qsizetype> positions(const QList<DashClip> &clips, std::optional<ClipCategory> category,
                           const QString &searchText, ClipSort sort, const NameKeys *keys = nullptr);
QList<DashClip> filtered(const QList<DashClip> &clips, std::optional<ClipCategory> category,
                         const QString &searchText, ClipSort sort, const NameKeys *keys = nullptr);

// Recordings of that category; with none, all of them. Filters and search do not apply.
int count(const QList<DashClip> &clips, std::optional<ClipCategory> category);
// The categories present in `clips`, in declaration order.
QList<ClipCategory> presentCategories(const QList<DashClip> &clips);

// The store's order: newest first, undated last, equal dates by name descending in the standard string
// order. Stable.
void sortNewestFirst(QList<DashClip> &clips);
// The order for stepping to the previous or next recording: oldest first, undated first, equal dates by
// name ascending in the standard string order. Stable.
void sortNeighborOrder(QList<DashClip> &clips);

} // namespace ClipListing
