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
    result.byID.reserve(size_t(clips.size()));
    result.byKey.reserve(size_t(clips.size()));
    result.positionOfSerial.resize(size_t(clips.size()));
    result.serialAt.resize(size_t(clips.size()));
    for (qsizetype i = 0; i < clips.size(); ++i) {
        const DashClip &clip = clips[i];
        result.byID.emplace_back(qHash(clip.id), i);
        result.byKey.emplace_back(qHash(clip.catalogKey()), i);
        result.positionOfSerial[size_t(i)] = i;
        result.serialAt[size_t(i)] = i;
    }
    std::sort(result.byID.begin(), result.byID.end());
    std::sort(result.byKey.begin(), result.byKey.end());
    if (names.joinable())
        names.join();
    if (others.joinable())
        others.join();
    return result;
}

namespace {

// The positions of the serials filed under the text's hash whose recording passes `same`, ascending.
template <class Same>
QList<qsizetype> positionsOf(const Index &index, const std::vector<std::pair<size_t, qsizetype>> &lookup,
                             const QString &text, Same same)
{
    QList<qsizetype> result;
    const size_t hash = qHash(text);
    const auto from = std::lower_bound(lookup.begin(), lookup.end(), std::pair{hash, qsizetype(-1)});
    for (auto it = from; it != lookup.end() && it->first == hash; ++it)
        if (const qsizetype position = index.positionOfSerial[size_t(it->second)];
            position >= 0 && same(position))
            result.append(position);
    std::sort(result.begin(), result.end());
    return result;
}

} // namespace

QList<qsizetype> Index::positionsOfID(const QList<DashClip> &clips, const QString &id) const
{
    return positionsOf(*this, byID, id, [&](qsizetype i) { return i < clips.size() && clips[i].id == id; });
}

QList<qsizetype> Index::positionsOfKey(const QList<DashClip> &clips, const QString &key) const
{
    return positionsOf(*this, byKey, key,
                       [&](qsizetype i) { return i < clips.size() && clips[i].catalogKey() == key; });
}

void remove(Index &index, qsizetype position)
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
    const qsizetype serial = index.serialAt[size_t(position)];
    index.serialAt.erase(index.serialAt.begin() + position);
    index.positionOfSerial[size_t(serial)] = -1;
    for (qsizetype &p : index.positionOfSerial)
        p -= p > position;
}

QList<qsizetype> positions(const QList<DashClip> &clips, std::optional<ClipCategory> category,
                           const QString &searchText, ClipSort sort, const Index *index)
{
    if (index && index->serialAt.size() != size_t(clips.size()))
        index = nullptr;
    const QString search = trimmedOfSpacesAndTabs(searchText);
    const auto passes = [&](qsizetype i) {
        const DashClip &clip = clips[i];
        if (category && clip.category != *category)
            return false;
        if (search.isEmpty())
            return true;
        return clip.name.contains(search, Qt::CaseInsensitive);
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
