#pragma once

#include "roadcore/DashClip.h"

#include <QList>

#include <vector>

// The one order of recordings by time. Ascending, it is the neighbor order (previous and next recording,
// the selection after a Trash): by date, a recording without a date counting as the distant past, equal
// dates by name in the standard string order. Descending, it is the library's order: newest first, undated
// last, equal dates by name descending. Both are stable: equal recordings keep their list order.
namespace ClipOrder {

// Positions in `clips` in the neighbor order (ascending) or newest first (descending).
std::vector<qsizetype> positions(const QList<DashClip> &clips, bool newestFirst);

void sortNewestFirst(QList<DashClip> &clips);

} // namespace ClipOrder
