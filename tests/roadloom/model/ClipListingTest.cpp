#include "roadloom/model/ClipListing.h"
#include "roadcore/ClipOrder.h"

#include "fixtures/RefusedThreads.h"
#include "platform/NameOrder.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <QTimeZone>

namespace {

DashClip clip(const QString &name, std::optional<QDateTime> date = std::nullopt,
              ClipCategory category = ClipCategory::continuous, qint64 size = 0)
{
    DashClip c;
    c.id = "id:" + name;
    c.name = name;
    c.date = date;
    c.category = category;
    c.byteSize = size;
    return c;
}

QDateTime at(int minute)
{
    return QDateTime(QDate(2024, 5, 1), QTime(10, minute), Qt::UTC);
}

QStringList names(const QList<DashClip> &clips)
{
    QStringList result;
    for (const DashClip &c : clips)
        result.append(c.name);
    return result;
}

// Both paths (a prepared index and sorting anew) must agree.
QStringList listed(const QList<DashClip> &clips, ClipSort sort, const QString &search = {},
                   std::optional<ClipCategory> category = std::nullopt)
{
    const ClipListing::Index index = ClipListing::index(clips);
    const QList<DashClip> withIndex = ClipListing::filtered(clips, category, search, sort, &index);
    EXPECT_EQ(names(withIndex), names(ClipListing::filtered(clips, category, search, sort)));
    return names(withIndex);
}

TEST(ClipListing, OrdersSameDatedRecordingsByEachSort)
{
    QList<DashClip> clips{clip("A", at(5)), clip("B", at(5))};
    ClipOrder::sortNewestFirst(clips);
    EXPECT_EQ(names(clips), (QStringList{"B", "A"}));
    EXPECT_EQ(listed(clips, ClipSort::newest), (QStringList{"B", "A"}));
    EXPECT_EQ(listed(clips, ClipSort::name), (QStringList{"A", "B"}));
    EXPECT_EQ(listed(clips, ClipSort::oldest), (QStringList{"A", "B"}));
}

TEST(ClipListing, StoreOrderIsNewestFirstWithUndatedLastAndNamesByCodePoint)
{
    QList<DashClip> clips{clip("undated"),  clip("b", at(1)),   clip("a", at(1)), clip("new", at(9)),
                          clip("Z", at(1)), clip(u8"é", at(1)), clip("undated2")};
    ClipOrder::sortNewestFirst(clips);
    EXPECT_EQ(names(clips), (QStringList{"new", u8"é", "b", "a", "Z", "undated2", "undated"}));
    QStringList neighbors;
    for (qsizetype i : ClipOrder::positions(clips, false))
        neighbors.append(clips[i].name);
    EXPECT_EQ(neighbors, (QStringList{"undated", "undated2", "Z", "a", "b", u8"é", "new"}));
    // Oldest first is the store's order reversed, ties included.
    EXPECT_EQ(listed(clips, ClipSort::oldest),
              (QStringList{"undated", "undated2", "Z", "a", "b", u8"é", "new"}));
}

TEST(ClipListing, NameOrderReadsNumbersByValueAndIgnoresCaseEvenWithoutALocale)
{
    const QList<DashClip> clips{clip("clip10"), clip("Clip3"), clip("clip2"), clip("CLIP2"), clip("apple")};
    const QStringList expected{"apple", "clip2", "CLIP2", "Clip3", "clip10"};
    EXPECT_EQ(listed(clips, ClipSort::name), expected);

    const QLocale saved;
    QLocale::setDefault(QLocale::c());
    EXPECT_LT(NameOrder::collator().compare(u"clip2", u"clip10"), 0);
    EXPECT_EQ(NameOrder::collator().compare(u"Clip", u"clip"), 0);
    EXPECT_EQ(listed(clips, ClipSort::name), expected);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(listed(clips, ClipSort::name), expected);
    QLocale::setDefault(saved);
}

TEST(ClipListing, SearchTrimsSpacesAndTabsAndMatchesNamesInAnyCase)
{
    const QList<DashClip> clips{clip("REC_front_1"), clip("FRONT"), clip("rear"), clip("Fr ont")};
    const struct {
        QString search;
        QStringList names;
    } cases[] = {
        {"  front ", {"REC_front_1", "FRONT"}},
        {"\tFront\t", {"REC_front_1", "FRONT"}},
        {"   ", {"REC_front_1", "FRONT", "rear", "Fr ont"}},
        {"", {"REC_front_1", "FRONT", "rear", "Fr ont"}},
        {"r o", {"Fr ont"}},
        {"front\n", {}}, // line breaks are part of the text
        {"zzz", {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(listed(clips, ClipSort::newest, c.search), c.names) << c.search.toStdString();
}

TEST(ClipListing, SizeSortIsLargestFirstAndStable)
{
    const QList<DashClip> clips{clip("a", {}, ClipCategory::event, 5), clip("b", {}, ClipCategory::event, 9),
                                clip("c", {}, ClipCategory::event, 5), clip("d", {}, ClipCategory::event, 9)};
    EXPECT_EQ(listed(clips, ClipSort::size), (QStringList{"b", "d", "a", "c"}));
}

TEST(ClipListing, CountsIgnoreFiltersAndCategoriesComeInDeclarationOrder)
{
    const QList<DashClip> clips{clip("p", {}, ClipCategory::parking), clip("e1", {}, ClipCategory::event),
                                clip("c", {}, ClipCategory::continuous), clip("e2", {}, ClipCategory::event)};
    EXPECT_EQ(ClipListing::count(clips, std::nullopt), 4);
    EXPECT_EQ(ClipListing::count(clips, ClipCategory::event), 2);
    EXPECT_EQ(ClipListing::count(clips, ClipCategory::manual), 0);
    EXPECT_EQ(ClipListing::presentCategories(clips),
              (QList<ClipCategory>{ClipCategory::continuous, ClipCategory::event, ClipCategory::parking}));
    EXPECT_TRUE(ClipListing::presentCategories({}).isEmpty());

    EXPECT_EQ(listed(clips, ClipSort::name, "E", ClipCategory::event), (QStringList{"e1", "e2"}));
    EXPECT_EQ(listed(clips, ClipSort::oldest, "", ClipCategory::event), (QStringList{"e2", "e1"}));
    EXPECT_EQ(listed(clips, ClipSort::newest, "p", ClipCategory::event), QStringList());
}

// The rows a list shows, made the plain way: a header whenever the local day of the next shown recording
// differs from the one before.
std::vector<qint32> rowsByHand(const QList<DashClip> &clips, const QList<qsizetype> &positions,
                               std::vector<qint32> &headerDays)
{
    std::vector<qint32> rows;
    headerDays.clear();
    for (qsizetype position : positions) {
        const std::optional<QDateTime> &date = clips[position].date;
        const qint32 day = date && date->isValid() ? qint32(date->toLocalTime().date().toJulianDay())
                                                   : ClipListing::undatedDay;
        if (headerDays.empty() || headerDays.back() != day) {
            headerDays.push_back(day);
            rows.push_back(-qint32(headerDays.size()));
        }
        rows.push_back(qint32(position));
    }
    return rows;
}

// Checks `shown` against the list's positions and the rows made by hand.
void expectShown(const QList<DashClip> &clips, const ClipListing::Shown &shown,
                 const QList<qsizetype> &positions, const std::string &where)
{
    EXPECT_EQ(shown.positions, positions) << where;
    std::vector<qint32> headerDays;
    EXPECT_EQ(shown.rows, rowsByHand(clips, positions, headerDays)) << where;
    EXPECT_EQ(shown.headerDays, headerDays) << where;
    ASSERT_EQ(shown.rowOfPosition.size(), size_t(clips.size())) << where;
    ASSERT_EQ(shown.rowOfShown.size(), size_t(positions.size())) << where;
    for (qsizetype i = 0; i < clips.size(); ++i)
        EXPECT_EQ(shown.rowOfPosition[size_t(i)], positions.indexOf(i)) << where << " position " << i;
    for (size_t place = 0; place < shown.rowOfShown.size(); ++place)
        EXPECT_EQ(shown.rows[size_t(shown.rowOfShown[place])], positions[qsizetype(place)]) << where;
}

// Recordings around local midnight, on one day in several runs under Name and Size, and undated ones.
QList<DashClip> dayRuns()
{
    const QDateTime midnight(QDate(2024, 3, 10), QTime(0, 0), QTimeZone::systemTimeZone());
    QList<DashClip> clips{
        clip("night_a", midnight.addSecs(-60), ClipCategory::continuous, 5),
        clip("night_b", midnight.addSecs(60), ClipCategory::event, 9),
        clip("Morning", midnight.addSecs(8 * 3600), ClipCategory::continuous, 1),
        clip("noon", midnight.addSecs(12 * 3600), ClipCategory::parking, 7),
        clip("week later", midnight.addDays(7), ClipCategory::event, 3),
        clip("undated1", std::nullopt, ClipCategory::continuous, 8),
        clip("Undated2", std::nullopt, ClipCategory::event, 2),
        clip("year before", midnight.addYears(-1), ClipCategory::manual, 6),
    };
    ClipOrder::sortNewestFirst(clips);
    return clips;
}

TEST(ClipListing, ShownRowsAreRunsOfOneLocalDayForEveryFilterAndSort)
{
    const QList<DashClip> clips = dayRuns();
    const ClipListing::Index index = ClipListing::index(clips);
    ASSERT_EQ(index.days.size(), size_t(clips.size()));
    for (qsizetype i = 0; i < clips.size(); ++i) {
        const std::optional<QDateTime> &date = clips[i].date;
        EXPECT_EQ(index.days[size_t(i)],
                  date ? qint32(date->toLocalTime().date().toJulianDay()) : ClipListing::undatedDay)
            << clips[i].name.toStdString();
    }
    const QList<std::optional<ClipCategory>> categories{std::nullopt, ClipCategory::continuous,
                                                        ClipCategory::event, ClipCategory::manual,
                                                        ClipCategory::motion};
    for (ClipSort sort : allClipSorts)
        for (const std::optional<ClipCategory> &category : categories)
            for (const QString &search : {QString(), QString("n"), QString("UNDATED"), QString("zzz")}) {
                const std::string where = rawValue(sort).toStdString() + " " +
                                          (category ? rawValue(*category).toStdString() : "all") + " '" +
                                          search.toStdString() + "'";
                const QList<qsizetype> positions =
                    ClipListing::positions(clips, category, search, sort, &index);
                expectShown(clips, ClipListing::shown(positions, clips.size(), index.days), positions, where);
            }
    // Under Size one day heads several runs.
    const QList<qsizetype> bySize = ClipListing::positions(clips, std::nullopt, {}, ClipSort::size, &index);
    const ClipListing::Shown shown = ClipListing::shown(bySize, clips.size(), index.days);
    EXPECT_GT(shown.headerDays.size(), 5u);
}

TEST(ClipListing, IndexCountsEachCategoryAsTheListDoesAcrossRemovals)
{
    QList<DashClip> clips = dayRuns();
    ClipListing::Index index = ClipListing::index(clips);
    const auto expectCounts = [&](const std::string &where) {
        EXPECT_EQ(ClipListing::counted(index, std::nullopt), clips.size()) << where;
        for (ClipCategory category : allClipCategories)
            EXPECT_EQ(ClipListing::counted(index, category), ClipListing::count(clips, category))
                << where << " " << rawValue(category).toStdString();
        EXPECT_EQ(ClipListing::presentIn(index), ClipListing::presentCategories(clips)) << where;
    };
    expectCounts("whole");
    // The only manual one goes first, then the rest one by one from the middle; the days follow.
    while (!clips.isEmpty()) {
        qsizetype position = clips.size() / 2;
        for (qsizetype i = 0; i < clips.size(); ++i)
            if (clips[i].category == ClipCategory::manual)
                position = i;
        const std::string where = "after removing " + clips[position].name.toStdString();
        ClipListing::remove(index, position, clips.at(position).category);
        clips.removeAt(position);
        expectCounts(where);
        EXPECT_EQ(index.days, ClipListing::localDays(clips)) << where;
    }
    EXPECT_TRUE(ClipListing::presentIn(index).isEmpty());
}

TEST(ClipListing, IndexFindsRecordingsByIdAndKeyAcrossRemovals)
{
    // Two recordings share an id and two a key (same name and size); positions follow removals.
    QList<DashClip> clips{clip("a", {}, ClipCategory::event, 1), clip("b", {}, ClipCategory::event, 2),
                          clip("a", {}, ClipCategory::event, 1), clip("c", {}, ClipCategory::event, 3),
                          clip("d", {}, ClipCategory::event, 4)};
    clips[4].id = clips[1].id;
    ClipListing::Index index = ClipListing::index(clips);
    EXPECT_EQ(index.positionsOfKey(clips, "a#1"), (QList<qsizetype>{0, 2}));
    EXPECT_EQ(index.positionsOfID(clips, "id:b"), (QList<qsizetype>{1, 4}));
    EXPECT_EQ(index.positionsOfID(clips, "id:c"), QList<qsizetype>{3});
    for (const QString &absent : {QString("id:z"), QString(), QString("a#1")})
        EXPECT_TRUE(index.positionsOfID(clips, absent).isEmpty()) << absent.toStdString();
    EXPECT_TRUE(index.positionsOfKey(clips, "a#2").isEmpty());

    const auto removeAt = [&](qsizetype position) {
        ClipListing::remove(index, position, clips.at(position).category);
        clips.removeAt(position);
    };
    removeAt(0);
    EXPECT_EQ(index.positionsOfKey(clips, "a#1"), QList<qsizetype>{1});
    EXPECT_EQ(index.positionsOfID(clips, "id:b"), (QList<qsizetype>{0, 3}));
    EXPECT_EQ(index.positionsOfID(clips, "id:c"), QList<qsizetype>{2});
    removeAt(3);
    EXPECT_EQ(index.positionsOfID(clips, "id:b"), QList<qsizetype>{0});
    // The orders kept by the index follow too: b, a, c are left.
    EXPECT_EQ(ClipListing::positions(clips, std::nullopt, "", ClipSort::name, &index),
              (QList<qsizetype>{1, 0, 2}));
    EXPECT_EQ(ClipListing::positions(clips, std::nullopt, "", ClipSort::size, &index),
              (QList<qsizetype>{2, 0, 1}));
}

} // namespace

TEST(ClipListing, ALongListIsIndexedInPlaceWhenNoThreadStarts)
{
    // Long enough for the orders to be made on threads of their own.
    QList<DashClip> clips;
    for (int i = 0; i < 10000; ++i)
        clips.append(clip(QStringLiteral("REC_%1").arg((i * 7919) % 10000, 5, 10, QLatin1Char('0')),
                          i % 5 ? std::optional(at(i % 60).addDays(i / 60)) : std::nullopt,
                          ClipCategory(i % int(allClipCategories.size())), (i * 31) % 977));
    const ClipListing::Index threaded = ClipListing::index(clips);
    const ClipListing::Index inPlace = [&] {
        const RefusedThreads refuse;
        return ClipListing::index(clips);
    }();
    EXPECT_EQ(inPlace.byName, threaded.byName);
    EXPECT_EQ(inPlace.bySize, threaded.bySize);
    EXPECT_EQ(inPlace.neighbor, threaded.neighbor);
    EXPECT_EQ(inPlace.neighborRank, threaded.neighborRank);
    EXPECT_EQ(inPlace.days, threaded.days);
    EXPECT_EQ(inPlace.byID, threaded.byID);
    EXPECT_EQ(inPlace.categoryCounts, threaded.categoryCounts);
    ASSERT_EQ(inPlace.byName.size(), size_t(clips.size()));
    EXPECT_EQ(clips.at(inPlace.byName.front()).name, QStringLiteral("REC_00000"));
}

TEST(ClipListing, ALongListIsSearchedInPartsAsOneAndInPlaceWhenNoThreadStarts)
{
    // Long enough to be searched in parts on threads, and not a multiple of the parts.
    QList<DashClip> clips;
    for (int i = 0; i < 20003; ++i) {
        const QString number = QStringLiteral("%1").arg(i, 5, 10, QLatin1Char('0'));
        const QString name = i % 997 == 0 ? "\u212Aelvin_" + number : (i % 3 ? "REC_" : "Front_") + number;
        clips.append(clip(name, std::nullopt, i % 4 ? ClipCategory::continuous : ClipCategory::event));
    }
    const ClipListing::Index index = ClipListing::index(clips);
    const struct {
        QString search;
        std::optional<ClipCategory> category;
    } cases[] = {
        {"rec_1", std::nullopt},
        {"KELVIN", std::nullopt},
        {"0", ClipCategory::event},
        {"front_20001", std::nullopt},
        {"_2000", ClipCategory::continuous},
    };
    for (const auto &c : cases) {
        QList<qsizetype> expected;
        for (qsizetype i = 0; i < clips.size(); ++i)
            if ((!c.category || clips[i].category == *c.category) &&
                clips[i].name.contains(c.search, Qt::CaseInsensitive))
                expected.append(i);
        ASSERT_FALSE(expected.isEmpty()) << c.search.toStdString();
        EXPECT_EQ(ClipListing::positions(clips, c.category, c.search, ClipSort::newest, &index), expected)
            << c.search.toStdString();
        const RefusedThreads refuse;
        EXPECT_EQ(ClipListing::positions(clips, c.category, c.search, ClipSort::newest, &index), expected)
            << c.search.toStdString();
    }
}
