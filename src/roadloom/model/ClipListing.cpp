#include "roadloom/model/ClipListing.h"

#include "platform/NameOrder.h"
#include "platform/StringOrder.h"

#include <QCollatorSortKey>

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
    const QList<DashClip> &view = clips;
    std::vector<std::pair<qint64, qsizetype>> order;
    order.reserve(size_t(view.size()));
    for (qsizetype i = 0; i < view.size(); ++i)
        order.emplace_back(dateKey(view[i]), i);
    std::stable_sort(order.begin(), order.end(), [&](const auto &a, const auto &b) {
        if (a.first != b.first)
            return descending ? a.first > b.first : a.first < b.first;
        const int byName = StringOrder::compare(view[a.second].name, view[b.second].name);
        return descending ? byName > 0 : byName < 0;
    });
    QList<DashClip> sorted;
    sorted.reserve(clips.size());
    for (const auto &entry : order)
        sorted.append(std::move(clips[entry.second]));
    clips = std::move(sorted);
}

std::vector<qsizetype> nameOrder(const QList<DashClip> &clips)
{
    // Collation keys compare without asking the collator again: one key per name, not one per comparison.
    const QCollator collator = NameOrder::collator();
    std::vector<QCollatorSortKey> keys;
    keys.reserve(size_t(clips.size()));
    for (const DashClip &clip : clips)
        keys.push_back(collator.sortKey(clip.name));
    std::vector<qsizetype> order(size_t(clips.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](qsizetype a, qsizetype b) { return keys[size_t(a)].compare(keys[size_t(b)]) < 0; });
    return order;
}

std::vector<qsizetype> sizeOrder(const QList<DashClip> &clips)
{
    std::vector<qsizetype> order(size_t(clips.size()));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](qsizetype a, qsizetype b) { return clips[a].byteSize > clips[b].byteSize; });
    return order;
}

} // namespace

Index index(const QList<DashClip> &clips)
{
    Index result;
    result.byName = nameOrder(clips);
    result.bySize = sizeOrder(clips);
    result.foldedNames.reserve(clips.size());
    for (const DashClip &clip : clips)
        result.foldedNames.append(clip.name.toCaseFolded());
    return result;
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
                           const QString &searchText, ClipSort sort, const Index *index)
{
    if (index && index->foldedNames.size() != clips.size())
        index = nullptr;
    const QString search = trimmedSearch(searchText);
    const QString foldedSearch = search.toCaseFolded();
    const auto passes = [&](qsizetype i) {
        const DashClip &clip = clips[i];
        if (category && clip.category != *category)
            return false;
        if (search.isEmpty())
            return true;
        return index ? index->foldedNames[i].contains(foldedSearch)
                     : clip.name.contains(search, Qt::CaseInsensitive);
    };

    // Test in list order (memory order), then walk the chosen order: random access would miss the cache.
    std::vector<char> keep(size_t(clips.size()));
    for (qsizetype i = 0; i < clips.size(); ++i)
        keep[size_t(i)] = passes(i);

    std::vector<qsizetype> made;
    const std::vector<qsizetype> *order = nullptr;
    if (sort == ClipSort::name)
        order = index ? &index->byName : &(made = nameOrder(clips));
    else if (sort == ClipSort::size)
        order = index ? &index->bySize : &(made = sizeOrder(clips));

    QList<qsizetype> result;
    result.reserve(clips.size());
    if (order) {
        for (qsizetype i : *order)
            if (keep[size_t(i)])
                result.append(i);
    } else {
        for (qsizetype i = 0; i < clips.size(); ++i)
            if (keep[size_t(i)])
                result.append(i);
        if (sort == ClipSort::oldest)
            std::reverse(result.begin(), result.end());
    }
    return result;
}

QList<DashClip> filtered(const QList<DashClip> &clips, std::optional<ClipCategory> category,
                         const QString &searchText, ClipSort sort, const Index *index)
{
    QList<DashClip> result;
    const QList<qsizetype> order = positions(clips, category, searchText, sort, index);
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
