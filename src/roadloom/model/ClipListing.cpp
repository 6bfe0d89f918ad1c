#include "roadloom/model/ClipListing.h"

#include "platform/NameOrder.h"
#include "platform/StringOrder.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace ClipListing {

namespace {

// A recording without a date counts as the distant past.
qint64 dateKey(const DashClip &clip)
{
    return clip.date ? clip.date->toMSecsSinceEpoch() : std::numeric_limits<qint64>::min();
}

// Sorts by (date, name) through a decorated copy: QDateTime comparisons are too slow for long lists.
void sortByDateAndName(QList<DashClip> &clips, bool descending)
{
    std::vector<std::pair<qint64, qsizetype>> order;
    order.reserve(size_t(clips.size()));
    for (qsizetype i = 0; i < clips.size(); ++i)
        order.emplace_back(dateKey(clips[i]), i);
    std::stable_sort(order.begin(), order.end(), [&](const auto &a, const auto &b) {
        if (a.first != b.first)
            return descending ? a.first > b.first : a.first < b.first;
        const int byName = StringOrder::compare(clips[a.second].name, clips[b.second].name);
        return descending ? byName > 0 : byName < 0;
    });
    QList<DashClip> sorted;
    sorted.reserve(clips.size());
    for (const auto &entry : order)
        sorted.append(std::move(clips[entry.second]));
    clips = std::move(sorted);
}

} // namespace

NameKeys nameKeys(const QList<DashClip> &clips)
{
    const QCollator collator = NameOrder::collator();
    NameKeys keys;
    keys.reserve(size_t(clips.size()));
    for (const DashClip &clip : clips)
        keys.push_back(collator.sortKey(clip.name));
    return keys;
}

QString trimmedSearch(const QString &searchText)
{
    const auto blank = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
    qsizetype begin = 0, end = searchText.size();
    while (begin < end && blank(searchText[begin]))
        ++begin;
    while (end > begin && blank(searchText[end - 1]))
        --end;
    return searchText.mid(begin, end - begin);
}

QList<qsizetype> positions(const QList<DashClip> &clips, std::optional<ClipCategory> category,
                           const QString &searchText, ClipSort sort, const NameKeys *keys)
{
    const QString search = trimmedSearch(searchText);
    QList<qsizetype> result;
    result.reserve(clips.size());
    for (qsizetype i = 0; i < clips.size(); ++i) {
        const DashClip &clip = clips[i];
        if (category && clip.category != *category)
            continue;
        if (!search.isEmpty() && !clip.name.contains(search, Qt::CaseInsensitive))
            continue;
        result.append(i);
    }

    switch (sort) {
    case ClipSort::newest:
        break;
    case ClipSort::oldest:
        std::reverse(result.begin(), result.end());
        break;
    case ClipSort::name:
        if (keys && qsizetype(keys->size()) == clips.size()) {
            std::stable_sort(result.begin(), result.end(),
                             [keys](qsizetype a, qsizetype b) { return (*keys)[a].compare((*keys)[b]) < 0; });
        } else {
            const QCollator collator = NameOrder::collator();
            std::stable_sort(result.begin(), result.end(), [&](qsizetype a, qsizetype b) {
                return collator.compare(clips[a].name, clips[b].name) < 0;
            });
        }
        break;
    case ClipSort::size:
        std::stable_sort(result.begin(), result.end(),
                         [&](qsizetype a, qsizetype b) { return clips[a].byteSize > clips[b].byteSize; });
        break;
    }
    return result;
}

QList<DashClip> filtered(const QList<DashClip> &clips, std::optional<ClipCategory> category,
                         const QString &searchText, ClipSort sort, const NameKeys *keys)
{
    QList<DashClip> result;
    const QList<qsizetype> order = positions(clips, category, searchText, sort, keys);
    result.reserve(order.size());
    for (qsizetype i : order)
        result.append(clips[i]);
    return result;
}

int count(const QList<DashClip> &clips, std::optional<ClipCategory> category)
{
    if (!category)
        return int(clips.size());
    return int(std::count_if(clips.begin(), clips.end(),
                             [&](const DashClip &clip) { return clip.category == *category; }));
}

QList<ClipCategory> presentCategories(const QList<DashClip> &clips)
{
    bool present[allClipCategories.size()] = {};
    for (const DashClip &clip : clips)
        present[size_t(clip.category)] = true;
    QList<ClipCategory> result;
    for (ClipCategory category : allClipCategories)
        if (present[size_t(category)])
            result.append(category);
    return result;
}

void sortNewestFirst(QList<DashClip> &clips)
{
    sortByDateAndName(clips, true);
}

void sortNeighborOrder(QList<DashClip> &clips)
{
    sortByDateAndName(clips, false);
}

} // namespace ClipListing
