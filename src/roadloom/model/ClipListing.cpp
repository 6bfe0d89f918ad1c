#include "roadloom/model/ClipListing.h"

#include "roadloom/model/CaselessMatch.h"

#include "platform/NameOrder.h"
#include "platform/TextTrim.h"
#include "platform/ThreadGroup.h"
#include "roadcore/ClipOrder.h"

#include <QCollatorSortKey>
#include <QHash>
#include <QTimeZone>

#include <algorithm>
#include <numeric>

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

// The zone's offset is asked once per hour of time, not once per recording.
std::vector<qint32> localDays(const QList<DashClip> &clips)
{
    std::vector<qint32> days(size_t(clips.size()), undatedDay);
    QHash<qint64, qint64> offsetOfHour;
    constexpr qint64 msPerHour = 3'600'000, msPerDay = 86'400'000;
    constexpr qint64 unixEpochJulianDay = 2'440'588;
    const QTimeZone local = QTimeZone::systemTimeZone();
    for (qsizetype i = 0; i < clips.size(); ++i) {
        const std::optional<QDateTime> &date = clips[i].date;
        if (!date || !date->isValid())
            continue;
        const qint64 ms = date->toMSecsSinceEpoch();
        const qint64 hour = ms >= 0 ? ms / msPerHour : (ms - msPerHour + 1) / msPerHour;
        auto found = offsetOfHour.constFind(hour);
        if (found == offsetOfHour.cend())
            found = offsetOfHour.insert(hour, qint64(local.offsetFromUtc(*date)) * 1000);
        const qint64 localMs = ms + *found;
        const qint64 day = localMs >= 0 ? localMs / msPerDay : (localMs - msPerDay + 1) / msPerDay;
        days[size_t(i)] = qint32(day + unixEpochJulianDay);
    }
    return days;
}

Index index(const QList<DashClip> &clips)
{
    Index result;
    const auto orders = [&] {
        result.days = localDays(clips);
        result.bySize = sizeOrder(clips);
        result.neighbor = ClipOrder::positions(clips, false);
        result.neighborRank.resize(result.neighbor.size());
        for (size_t rank = 0; rank < result.neighbor.size(); ++rank)
            result.neighborRank[size_t(result.neighbor[rank])] = qsizetype(rank);
    };
    // The orders depend on nothing else made here: for a long list they are made on threads of their own
    // while this one fills the lookups; a thread that cannot start leaves its part to this one.
    const auto names = [&] { result.byName = nameOrder(clips); };
    ThreadGroup threads; // joined also when filling the lookups throws
    const bool parallel = clips.size() >= 10000;
    if (!parallel || !threads.start(names))
        names();
    if (!parallel || !threads.start(orders))
        orders();
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
        ++result.categoryCounts[size_t(clip.category)];
    }
    std::sort(result.byID.begin(), result.byID.end());
    std::sort(result.byKey.begin(), result.byKey.end());
    threads.join();
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

void remove(Index &index, qsizetype position, ClipCategory category)
{
    if (position >= 0 && size_t(position) < index.days.size())
        index.days.erase(index.days.begin() + position);
    int &counted = index.categoryCounts[size_t(category)];
    counted -= counted > 0;
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
    // Test in list order (memory order), then walk the chosen order: random access would miss the cache.
    std::vector<char> keep(size_t(clips.size()));
    const auto test = [&](qsizetype from, qsizetype to) {
        const CaselessMatch match(search); // one a thread: it counts what it hands to Qt
        // Each name's characters lie apart on the heap, mostly out of cache by the next keystroke, and the
        // test waits on them: asking for the name some places ahead overlaps those waits, which are most of
        // a long list's test.
        constexpr qsizetype ahead = 16;
        for (qsizetype i = from; i < to; ++i) {
            if (!search.isEmpty() && i + ahead < to)
                __builtin_prefetch(clips[i + ahead].name.constData());
            const DashClip &clip = clips[i];
            keep[size_t(i)] = (!category || clip.category == *category) && match.in(clip.name);
        }
    };
    // A long list's search is shared with threads of its own, so that the waits on memory overlap across
    // cores. A thread that cannot start leaves its part here.
    constexpr qsizetype parts = 4, longList = 20000;
    const qsizetype share =
        clips.size() >= longList && !search.isEmpty() ? (clips.size() + parts - 1) / parts : clips.size();
    {
        ThreadGroup threads;
        for (qsizetype from = share; from < clips.size(); from += share) {
            const qsizetype to = std::min(from + share, clips.size());
            if (!threads.start([&test, from, to] { test(from, to); }))
                test(from, to);
        }
        test(0, std::min(share, clips.size()));
    }

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

Shown shown(QList<qsizetype> positions, qsizetype count, const std::vector<qint32> &days)
{
    Shown result;
    result.rowOfPosition.assign(size_t(std::max<qsizetype>(count, 0)), -1);
    result.rows.reserve(size_t(positions.size()) + 16);
    result.rowOfShown.reserve(size_t(positions.size()));
    for (qsizetype place = 0; place < positions.size(); ++place) {
        const qsizetype position = positions[place];
        if (position >= 0 && position < count)
            result.rowOfPosition[size_t(position)] = place;
        const qint32 day =
            position >= 0 && size_t(position) < days.size() ? days[size_t(position)] : undatedDay;
        if (result.headerDays.empty() || result.headerDays.back() != day) {
            result.headerDays.push_back(day);
            result.rows.push_back(-qint32(result.headerDays.size()));
        }
        result.rowOfShown.push_back(qint32(result.rows.size()));
        result.rows.push_back(qint32(position));
    }
    result.positions = std::move(positions);
    return result;
}

size_t Shown::memoryBytes() const
{
    return (rows.capacity() + rowOfShown.capacity() + headerDays.capacity()) * sizeof(qint32);
}

int counted(const Index &index, std::optional<ClipCategory> category)
{
    if (!category)
        return int(index.serialAt.size());
    return index.categoryCounts[size_t(*category)];
}

QList<ClipCategory> presentIn(const Index &index)
{
    QList<ClipCategory> result;
    for (ClipCategory category : allClipCategories)
        if (index.categoryCounts[size_t(category)] > 0)
            result.append(category);
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
