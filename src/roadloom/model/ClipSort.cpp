#include "roadloom/model/ClipSort.h"

QString rawValue(ClipSort sort)
{
    switch (sort) {
    case ClipSort::newest:
        return QStringLiteral("newest");
    case ClipSort::oldest:
        return QStringLiteral("oldest");
    case ClipSort::name:
        return QStringLiteral("name");
    case ClipSort::size:
        return QStringLiteral("size");
    }
    return {};
}

std::optional<ClipSort> clipSortFromRaw(QStringView raw)
{
    for (ClipSort sort : allClipSorts)
        if (raw == rawValue(sort))
            return sort;
    return std::nullopt;
}
