#include "LibraryTestSupport.h"

#include "fixtures/RefusedThreads.h"
#include "fixtures/TestSupport.h"
#include "platform/Defaults.h"
#include "platform/StringOrder.h"
#include "platform/Trash.h"
#include "roadcore/MediaCache.h"

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QAbstractListModel>
#include <QCoreApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <algorithm>

// What a list view and the sidebar see of the store: row-sized changes, the filtered rows kept with one
// signal per change, and the offline state read without a disk.
namespace {

class AcceptingTrash : public Trash {
public:
    Result<void> moveToTrash(const QStringList &) override { return {}; }
};

DashClip recording(const QString &name, std::optional<int> minute, ClipCategory category, qint64 size)
{
    DashClip c;
    c.id = QStringLiteral("/trip/") + name + QStringLiteral("_F.mp4");
    c.name = name;
    c.category = category;
    if (minute)
        c.date = QDateTime(QDate(2024, 5, 1), QTime(10, *minute), Qt::UTC);
    c.files = {{Channel::front, c.id}};
    c.byteSize = size;
    return c;
}

QStringList names(const LibraryStore &store)
{
    QStringList result;
    for (qsizetype i : store.filteredPositions())
        result.append(store.clips().at(i).name);
    return result;
}

// A list model written from the store's header comment alone: what the clip list will do.
class ShownClips : public QAbstractListModel {
public:
    explicit ShownClips(LibraryStore &store) : m_store(store)
    {
        connect(&store, &LibraryStore::filteredPositionsChanged, this, [this] {
            beginResetModel();
            endResetModel();
        });
        connect(&store, &LibraryStore::clipsUpdated, this, [this](const QList<qsizetype> &indices) {
            for (qsizetype index : indices)
                if (const qsizetype row = m_store.filteredRow(index); row >= 0)
                    emit dataChanged(this->index(int(row)), this->index(int(row)));
        });
        connect(&store, &LibraryStore::clipAboutToBeRemoved, this, [this](qsizetype index) {
            m_removing = m_store.filteredRow(index) >= 0;
            if (m_removing)
                beginRemoveRows({}, int(m_store.filteredRow(index)), int(m_store.filteredRow(index)));
        });
        connect(&store, &LibraryStore::clipRemoved, this, [this] {
            if (m_removing)
                endRemoveRows();
        });
    }
    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_store.filteredPositions().size());
    }
    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::DisplayRole || index.row() >= rowCount())
            return {};
        const DashClip &clip = m_store.clips().at(m_store.filteredPositions().at(index.row()));
        return clip.name + (clip.cachedChannels.empty() ? QString() : QStringLiteral(" (cached)"));
    }
    QStringList shown() const
    {
        QStringList result;
        for (int row = 0; row < rowCount(); ++row)
            result.append(data(index(row), Qt::DisplayRole).toString());
        return result;
    }

private:
    LibraryStore &m_store;
    bool m_removing = false;
};

class LibraryStoreSignalsTest : public testing::Test {
protected:
    QTemporaryDir dir;
    Defaults defaults{dir.filePath("settings.ini")};
    FakeVolumes volumes;
    MediaCache cache{dir.filePath("Media Cache"), [] { return QList<MountEntry>{}; }};
    ScriptedScan scan;
    AcceptingTrash trash;
    std::unique_ptr<LibraryStore> store;

    QString trip() const { return dir.filePath("trip"); }

    // The trip folder with these recordings (newest first, as a scan gives them).
    LibraryStore &make(const QList<DashClip> &clips)
    {
        EXPECT_TRUE(QDir().mkpath(trip()));
        defaults.setValue("libraryFolders", QStringList{trip()});
        scan.byRoot[trip()] = clips;
        store = std::make_unique<LibraryStore>(
            LibraryStore::Services{&volumes, &defaults, &cache, scan.function(), &trash});
        EXPECT_TRUE(TestSupport::waitFor([&] { return store->selectedSourceID().has_value(); }));
        QCoreApplication::processEvents();
        EXPECT_TRUE(TestSupport::waitFor([&] { return !store->isScanning() && !store->clips().isEmpty(); }));
        QCoreApplication::processEvents();
        return *store;
    }
    void TearDown() override { store.reset(); }

    // The positions as computed from scratch, and every id found where it is.
    void expectConsistent()
    {
        const QList<qsizetype> fresh = ClipListing::positions(store->clips(), store->categoryFilter(),
                                                              store->searchText(), store->sort());
        EXPECT_EQ(store->filteredPositions(), fresh);
        for (qsizetype i = 0; i < store->clips().size(); ++i) {
            EXPECT_EQ(store->indexOf(store->clips().at(i).id), i);
            EXPECT_EQ(store->filteredRow(i), fresh.indexOf(i));
        }
    }
};

const QList<DashClip> tripClips{
    recording("EVT_1005", 5, ClipCategory::event, 500),
    recording("REC_1004", 4, ClipCategory::continuous, 900),
    recording("REC_1003", 3, ClipCategory::continuous, 100),
    recording("EVT_1002", 2, ClipCategory::event, 700),
    recording("REC_1001", 1, ClipCategory::continuous, 300),
    recording("REC_undated", {}, ClipCategory::continuous, 200),
};

TEST_F(LibraryStoreSignalsTest, ACachedChannelIsOneRowAndATrashIsItsRemovedIndexNeverAReset)
{
    make(tripClips);
    store->setSort(ClipSort::size);
    ShownClips list(*store);
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy listResets(&list, &QAbstractItemModel::modelReset);
    QSignalSpy rowsChanged(&list, &QAbstractItemModel::dataChanged);
    QSignalSpy rowsRemoved(&list, &QAbstractItemModel::rowsRemoved);
    QSignalSpy resets(store.get(), &LibraryStore::clipsChanged);
    QSignalSpy filtered(store.get(), &LibraryStore::filteredPositionsChanged);
    QSignalSpy updated(store.get(), &LibraryStore::clipsUpdated);
    QSignalSpy removed(store.get(), &LibraryStore::clipRemoved);

    store->markCached(store->clips().at(2).catalogKey(), Channel::rear);
    store->markCached(store->clips().at(2).catalogKey(), Channel::rear); // already cached: nothing
    store->markCached("unknown#0", Channel::front);
    ASSERT_EQ(updated.size(), 1);
    EXPECT_EQ(updated.at(0).at(0).value<QList<qsizetype>>(), QList<qsizetype>{2});
    EXPECT_EQ(store->clips().at(2).cachedChannels, std::set<Channel>{Channel::rear});
    ASSERT_EQ(rowsChanged.size(), 1);
    EXPECT_EQ(rowsChanged.at(0).at(0).toModelIndex().row(), 5) << "REC_1003 is the smallest";

    // Before the removal the row is still there to be taken out of a list model; after it, gone.
    qsizetype countBefore = -1, rowBefore = -2;
    QObject::connect(store.get(), &LibraryStore::clipAboutToBeRemoved, store.get(), [&](qsizetype index) {
        countBefore = store->clips().size();
        rowBefore = store->filteredRow(index);
    });
    store->setSelectedClipID(store->clips().at(3).id);
    QFuture<void> done = store->trash(store->clips().at(3));
    ASSERT_TRUE(TestSupport::waitFor([&] { return done.isFinished(); }));
    ASSERT_EQ(removed.size(), 1);
    EXPECT_EQ(removed.at(0).at(0).value<qsizetype>(), 3);
    EXPECT_EQ(countBefore, 6);
    EXPECT_EQ(rowBefore, 1) << "EVT_1002 is the second largest";
    EXPECT_EQ(store->clips().size(), 5);
    EXPECT_EQ(names(*store), (QStringList{"REC_1004", "EVT_1005", "REC_1001", "REC_undated", "REC_1003"}));
    EXPECT_EQ(resets.size(), 0);
    EXPECT_EQ(filtered.size(), 0);
    EXPECT_EQ(listResets.size(), 0);
    ASSERT_EQ(rowsRemoved.size(), 1);
    EXPECT_EQ(rowsRemoved.at(0).at(1).toInt(), 1);
    EXPECT_EQ(list.shown(),
              (QStringList{"REC_1004", "EVT_1005", "REC_1001", "REC_undated", "REC_1003 (cached)"}));
    EXPECT_EQ(store->selectedClipID(), store->clips().at(2).id) << "the next newer: REC_1003";
    expectConsistent();

    // A marked row after the removal is found at its new place.
    store->markCached(store->clips().at(4).catalogKey(), Channel::front);
    EXPECT_EQ(updated.last().at(0).value<QList<qsizetype>>(), QList<qsizetype>{4});
}

TEST_F(LibraryStoreSignalsTest, ARescanResetsTheListOnlyWhenItsResultDiffers)
{
    make(tripClips);
    QSignalSpy resets(store.get(), &LibraryStore::clipsChanged);
    QSignalSpy filtered(store.get(), &LibraryStore::filteredPositionsChanged);
    const auto rescan = [&] {
        QFuture<void> done = store->rescan();
        ASSERT_TRUE(TestSupport::waitFor([&] { return done.isFinished(); }));
    };
    const struct {
        const char *what;
        std::function<void()> before;
        int resets;
    } steps[] = {
        {"the same list", [] {}, 0},
        {"a row changed in place since",
         [&] { store->markCached(tripClips.at(0).catalogKey(), Channel::rear); }, 1},
        {"the same list again", [] {}, 0},
        {"a new recording",
         [&] { scan.byRoot[trip()].prepend(recording("EVT_1006", 6, ClipCategory::event, 1)); }, 1},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.what);
        resets.clear();
        filtered.clear();
        step.before();
        rescan();
        EXPECT_EQ(resets.size(), step.resets);
        EXPECT_EQ(filtered.size(), step.resets);
        // The list is what the scan found, without the mark the catalog does not know.
        QStringList listed, scanned;
        for (const DashClip &clip : store->clips()) {
            listed.append(clip.name);
            EXPECT_TRUE(clip.cachedChannels.empty()) << clip.name.toStdString();
        }
        for (const DashClip &clip : scan.byRoot[trip()])
            scanned.append(clip.name);
        EXPECT_EQ(listed, scanned);
    }
}

TEST_F(LibraryStoreSignalsTest, FilteredRowsFollowCategorySearchAndSortWithOneSignalEach)
{
    make(tripClips);
    QSignalSpy filtered(store.get(), &LibraryStore::filteredPositionsChanged);
    const struct {
        std::function<void()> change;
        int announced;
        QStringList shown;
    } steps[] = {
        {[&] { store->setCategoryFilter(ClipCategory::event); }, 1, {"EVT_1005", "EVT_1002"}},
        {[&] { store->setCategoryFilter(ClipCategory::event); }, 0, {"EVT_1005", "EVT_1002"}},
        {[&] { store->setSort(ClipSort::oldest); }, 1, {"EVT_1002", "EVT_1005"}},
        {[&] { store->setCategoryFilter(std::nullopt); },
         1,
         {"REC_undated", "REC_1001", "EVT_1002", "REC_1003", "REC_1004", "EVT_1005"}},
        {[&] { store->setSearchText(" \trec_100\t"); }, 1, {"REC_1001", "REC_1003", "REC_1004"}},
        // Typing on or taking back a key that keeps the same recordings leaves the list as it is.
        {[&] { store->setSearchText("REC_10"); }, 0, {"REC_1001", "REC_1003", "REC_1004"}},
        {[&] { store->setSort(ClipSort::size); }, 1, {"REC_1004", "REC_1001", "REC_1003"}},
        {[&] { store->setSearchText("rec_100"); }, 0, {"REC_1004", "REC_1001", "REC_1003"}},
        {[&] { store->setSearchText("rec_1001"); }, 1, {"REC_1001"}},
        {[&] { store->setSort(ClipSort::name); }, 0, {"REC_1001"}},
        {[&] { store->setSearchText("nothing"); }, 1, {}},
        {[&] { store->setCategoryFilter(ClipCategory::event); }, 0, {}},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.shown.join(",").toStdString());
        filtered.clear();
        step.change();
        ASSERT_EQ(filtered.size(), step.announced);
        EXPECT_EQ(names(*store), step.shown);
        if (step.announced) {
            EXPECT_EQ(filtered.last().at(0).value<QList<qsizetype>>(), store->filteredPositions());
        }
        expectConsistent();
    }
    EXPECT_TRUE(store->filteredPositions().isEmpty());
}

TEST_F(LibraryStoreSignalsTest, NeighborsAreTheShownRecordingsOldestFirstWhateverTheSort)
{
    // Equal dates order by name; the search hides some recordings in between.
    QList<DashClip> clips = tripClips;
    clips.insert(2, recording("REC_1003b", 3, ClipCategory::continuous, 50));
    make(clips);
    for (const QString &search : {QString(), QStringLiteral("REC")}) {
        for (ClipSort sort : allClipSorts) {
            store->setSearchText(search);
            store->setSort(sort);
            // Independently: the shown recordings sorted by (date, name), undated first.
            QList<DashClip> order;
            for (qsizetype i : store->filteredPositions())
                order.append(store->clips().at(i));
            std::stable_sort(order.begin(), order.end(), [](const DashClip &a, const DashClip &b) {
                if (a.date != b.date)
                    return !a.date || (b.date && *a.date < *b.date);
                return StringOrder::compare(a.name, b.name) < 0;
            });
            for (qsizetype at = 0; at < order.size(); ++at) {
                for (int offset : {-2, -1, 1, 2}) {
                    const qsizetype target = at + offset;
                    const std::optional<QString> expected = target >= 0 && target < order.size()
                                                                ? std::optional(order.at(target).id)
                                                                : std::nullopt;
                    EXPECT_EQ(store->neighbor(order.at(at).id, offset), expected)
                        << order.at(at).name.toStdString() << " " << offset << " "
                        << rawValue(sort).toStdString();
                }
            }
        }
    }
    store->setSearchText("EVT");
    EXPECT_EQ(store->neighbor(tripClips.at(1).id, 1), std::nullopt) << "a hidden recording has no neighbors";
}

TEST_F(LibraryStoreSignalsTest, TheOfflineStateIsStoredAndCheckedAgainAfterAVolumeChange)
{
    const QString other = dir.filePath("other");
    ASSERT_TRUE(QDir().mkpath(other));
    make(tripClips);
    store->addFolder(other);
    QCoreApplication::processEvents();
    ASSERT_TRUE(TestSupport::waitFor([&] { return !store->isScanning(); }));
    const auto offline = [&] {
        QStringList names;
        for (const LibrarySource &folder : store->folders())
            if (store->isOffline(folder))
                names.append(folder.name);
        return names;
    };
    EXPECT_EQ(offline(), QStringList{});

    QSignalSpy revisions(store.get(), &LibraryStore::availabilityRevisionChanged);
    ASSERT_TRUE(QDir(other).removeRecursively());
    EXPECT_EQ(offline(), QStringList{}) << "read from the store, not from the disk";
    volumes.change({});
    ASSERT_TRUE(TestSupport::waitFor([&] { return revisions.size() == 1; }));
    EXPECT_EQ(offline(), QStringList{"other"});
    EXPECT_EQ(revisions.last().at(0).toInt(), store->availabilityRevision());

    ASSERT_TRUE(QDir().mkpath(other));
    volumes.change({});
    ASSERT_TRUE(TestSupport::waitFor([&] { return revisions.size() == 2; }));
    EXPECT_EQ(offline(), QStringList{});
}

TEST_F(LibraryStoreSignalsTest, ALongRescanIsDeliveredWhenNoThreadStarts)
{
    // Long enough for the index and the fingerprint to want threads of their own.
    QList<DashClip> clips;
    for (int i = 0; i < 10000; ++i)
        clips.append(recording(QStringLiteral("REC_%1").arg(i, 5, 10, QLatin1Char('0')), std::nullopt,
                               ClipCategory::continuous, i));
    const RefusedThreads refuse;
    make(clips);
    EXPECT_FALSE(store->isScanning());
    EXPECT_EQ(store->clips().size(), clips.size());
    EXPECT_EQ(store->filteredPositions().size(), clips.size());
    const qsizetype found = store->indexOf(clips.at(4321).id);
    ASSERT_GE(found, 0);
    EXPECT_EQ(store->clips().at(found).name, clips.at(4321).name);

    // A changed list is told from the one shown by its fingerprint, taken in place too.
    scan.byRoot[trip()].prepend(recording("REC_new", std::nullopt, ClipCategory::continuous, 1));
    QFuture<void> done = store->rescan();
    ASSERT_TRUE(TestSupport::waitFor([&] { return done.isFinished(); }));
    EXPECT_FALSE(store->isScanning());
    EXPECT_EQ(store->clips().size(), clips.size() + 1);
}

} // namespace
