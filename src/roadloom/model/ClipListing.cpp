#include "roadloom/model/ClipListing.h"

#include "platform/NameOrder.h"
#include "platform/TextTrim.h"
#include "roadcore/ClipOrder.h"

#include <QCollatorSortKey>

#include <algorithm>
#include <numeric>
#include <thread>

namespace ClipListing {

namespace {

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
    const auto orders = [&] {
        result.bySize = sizeOrder(clips);
        result.neighbor = ClipOrder::positions(clips, false);
        result.neighborRank.resize(result.neighbor.size());
        for (size_t rank = 0; rank < result.neighbor.size(); ++rank)
            result.neighborRank[size_t(result.neighbor[rank])] = qsizetype(rank);
    };
    // The orders depend on nothing else made here: for a long list they are made on threads of their own
    // while this one fills the lookups.
    std::jthread names, others; // joined also when filling the lookups throws
    if (clips.size() >= 10000) {
        names = std::jthread([&] { result.byName = nameOrder(clips); });
        others = std::jthread(orders);
    } else {
        result.byName = nameOrder(clips);
        orders();
    }
    result.foldedNames.reserve(clips.size());
    result.byID.reserve(clips.size());
    result.byKey.reserve(clips.size());
    result.positionOfSerial.resize(size_t(clips.size()));
    result.serialAt.resize(size_t(clips.size()));
    for (qsizetype i = 0; i < clips.size(); ++i) {
        const DashClip &clip = clips[i];
        result.foldedNames.append(clip.name.toCaseFolded());
        result.byID.insert(clip.id, i);
        result.byKey.insert(clip.catalogKey(), i);
        result.positionOfSerial[size_t(i)] = i;
        result.serialAt[size_t(i)] = i;
    }
    if (names.joinable())
        names.join();
    if (others.joinable())
        others.join();
    return result;
}

QList<qsizetype> Index::positionsOf(const QMultiHash<QString, qsizetype> &hash, const QString &name) const
{
    QList<qsizetype> result;
    for (auto it = hash.constFind(name); it != hash.cend() && it.key() == name; ++it)
        result.append(positionOfSerial[size_t(it.value())]);
    std::sort(result.begin(), result.end());
    return result;
}

void remove(Index &index, qsizetype position, const DashClip &clip)
{
    const auto dropFrom = [position](std::vector<qsizetype> &order) {
        std::erase(order, position);
        for (qsizetype &i : order)
            i -= i > position;
    };
    dropFrom(index.byName);
    dropFrom(index.bySize);
    const qsizetype rank = index.neighborRank[size_t(position)];
    index.neighbor.erase(index.neighbor.begin() + rank);
    for (qsizetype &i : index.neighbor)
        i -= i > position;
    index.neighborRank.erase(index.neighborRank.begin() + position);
    for (qsizetype &r : index.neighborRank)
        r -= r > rank;
    index.foldedNames.removeAt(position);

    const qsizetype serial = index.serialAt[size_t(position)];
    index.byID.remove(clip.id, serial);
    index.byKey.remove(clip.catalogKey(), serial);
    index.serialAt.erase(index.serialAt.begin() + position);
    index.positionOfSerial[size_t(serial)] = -1;
    for (qsizetype &p : index.positionOfSerial)
        p -= p > position;
}

QList<qsizetype> positions(const QList<DashClip> &clips, std::optional<ClipCategory> category,
                           const QString &searchText, ClipSort sort, const Index *index)
{
    if (index && index->foldedNames.size() != clips.size())
        index = nullptr;
    const QString search = trimmedOfSpacesAndTabs(searchText);
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

} // namespace ClipListing
