#include "LibraryTestSupport.h"
#include "platform/Trash.h"

#include "platform/Defaults.h"
#include "roadcore/MediaCache.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

namespace {

using Kind = LibrarySource::Kind;

DashClip recording(const QString &name, const QString &file, int minute,
                   ClipCategory category = ClipCategory::continuous)
{
    DashClip c;
    c.id = file;
    c.name = name;
    c.category = category;
    c.date = QDateTime(QDate(2024, 5, 1), QTime(10, minute), Qt::UTC);
    c.files = {{Channel::front, file}};
    c.byteSize = 1000 + minute;
    return c;
}

QStringList names(const QList<DashClip> &clips)
{
    QStringList result;
    for (const DashClip &c : clips)
        result.append(c.name);
    return result;
}

class LibraryStoreTest : public testing::Test {
protected:
    QTemporaryDir dir;
    Defaults defaults{dir.filePath("settings.ini")};
    FakeVolumes volumes;
    MediaCache cache{dir.filePath("Media Cache")};
    ScriptedScan scan;
    HeldChecks checks;
    PlannerSpy planner;
    std::unique_ptr<LibraryStore> store; // last: ends before what it uses

    QString folder(const QString &name, const QStringList &topLevel = {})
    {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(QDir().mkpath(path));
        for (const QString &entry : topLevel)
            EXPECT_TRUE(QDir().mkpath(path + "/" + entry));
        return path;
    }
    // A library folder of four recordings of three categories, names that sort apart by case and number,
    // scanned.
    QString makeWithFourRecordings()
    {
        const QString trip = folder("Trip");
        scan.byRoot[trip] = {recording("clip10", trip + "/1", 1, ClipCategory::parking),
                             recording("clip2", trip + "/2", 2, ClipCategory::event),
                             recording("Front cam", trip + "/3", 3), recording("rear", trip + "/4", 4)};
        defaults.setValue("libraryFolders", QStringList{trip});
        make();
        settle();
        return trip;
    }
    MountedVolume card(const QString &name, const QString &label = {})
    {
        return {folder(name, {"DCIM"}), label, false};
    }

    // Waits for the first source, which the folders' and cards' answers choose.
    LibraryStore &make(MediaCache *over = nullptr)
    {
        store = std::make_unique<LibraryStore>(LibraryStore::Services{
            &volumes, &defaults, over ? over : &cache, scan.function(), &Trash::system()});
        store->setCachePlanner(&planner);
        EXPECT_TRUE(TestSupport::waitFor([&] { return store->selectedSourceID().has_value(); }));
        return *store;
    }
    // Runs the queued rescan, if any, to its end.
    void settle()
    {
        ASSERT_TRUE(TestSupport::waitFor([&] { return store->selectedSourceID().has_value(); }));
        QCoreApplication::processEvents();
        ASSERT_TRUE(TestSupport::waitFor([&] { return !store->isScanning(); }));
        QCoreApplication::processEvents();
    }
    void TearDown() override
    {
        scan.release.release(100); // a failed test must not leave a scan waiting
        checks.release.release(100);
        store.reset();
    }
};

TEST_F(LibraryStoreTest, StartUpPrefersACardThenAnExistingFolderThenAllMedia)
{
    const QString missing = dir.filePath("A"), existing = folder("B");
    defaults.setValue("libraryFolders", QStringList{missing, existing});
    volumes.volumes = {{folder("root", {"DCIM"}), "", true},
                       {folder("stick", {"Music"}), "STICK", false},
                       card("card1", "CARD"),
                       card("card2")};
    make();
    EXPECT_EQ(store->selectedSourceID(), "device:" + dir.filePath("card1"));
    EXPECT_EQ(store->devices(), (QList<LibrarySource>{{Kind::device, "CARD", {dir.filePath("card1")}},
                                                      {Kind::device, "card2", {dir.filePath("card2")}}}));
    ASSERT_EQ(store->folders().size(), 2);
    EXPECT_TRUE(TestSupport::waitFor([&] { return store->isOffline(store->folders()[0]); }));
    EXPECT_EQ(store->sources().size(), 5);
    EXPECT_EQ(store->sources().first(), LibrarySource::allMedia());
    settle();
    EXPECT_EQ(planner.starts, 1);

    volumes.volumes.clear();
    make();
    EXPECT_EQ(store->selectedSourceID(), "folder:" + existing);

    QDir(existing).removeRecursively();
    make();
    EXPECT_EQ(store->selectedSourceID(), "catalog:");
    EXPECT_EQ(store->folders().size(), 2); // missing folders stay listed
}

// The store is made, the window shows and other folders answer while one folder does not: the first source
// waits for it (an earlier folder may still be there), up to the start's wait.
TEST_F(LibraryStoreTest, TheFirstSourceIsChosenAsTheFoldersAnswerAndAStuckOneHoldsNothingElse)
{
    const QString stuck = folder("Stuck"), there = folder("There");
    TestSupport::writeFile(there + "/SETTING/blackbox.cfg", "[Setting]\n");
    defaults.setValue("libraryFolders", QStringList{stuck, there});
    checks.held = {stuck};
    for (const auto wait : {std::chrono::milliseconds(60000), std::chrono::milliseconds(100)}) {
        LibraryStore::Services services{&volumes, &defaults, &cache, scan.function(), &Trash::system()};
        services.firstChoiceWait = wait;
        store = std::make_unique<LibraryStore>(checks.over(services));
        const LibrarySource answered = store->folders().at(1);
        ASSERT_TRUE(TestSupport::waitFor([&] { return store->configURL(answered).has_value(); }));
        EXPECT_EQ(store->configURL(answered), there + "/SETTING/blackbox.cfg");
        EXPECT_FALSE(store->isOffline(store->folders().at(0))) << "shown as it was until it answers";
        if (wait.count() < 1000) {
            // The wait is over: the stuck folder counts as not there.
            ASSERT_TRUE(TestSupport::waitFor([&] { return store->selectedSourceID().has_value(); }));
            EXPECT_EQ(store->selectedSourceID(), answered.id());
            break;
        }
        ASSERT_TRUE(TestSupport::waitFor([&] { return checks.heldCalls == 1; }));
        volumes.change({}); // asks again, but not the folder still asked
        EXPECT_FALSE(TestSupport::waitFor([&] { return checks.heldCalls > 1; }, 200));
        EXPECT_EQ(store->selectedSourceID(), std::nullopt);
        ASSERT_TRUE(QDir(stuck).removeRecursively());
        checks.release.release();
        ASSERT_TRUE(TestSupport::waitFor([&] { return store->selectedSourceID().has_value(); }));
        EXPECT_EQ(store->selectedSourceID(), answered.id());
        EXPECT_TRUE(store->isOffline(store->folders().at(0)));
        ASSERT_TRUE(QDir().mkpath(stuck));
    }
}

// A selection made meanwhile (a launch's folder, a click) stays when the answers arrive.
TEST_F(LibraryStoreTest, TheFirstChoiceLeavesASelectionMadeMeanwhile)
{
    const QString gone = dir.filePath("Gone");
    defaults.setValue("libraryFolders", QStringList{gone, folder("There")});
    checks.held = {gone};
    store = std::make_unique<LibraryStore>(
        checks.over({&volumes, &defaults, &cache, scan.function(), &Trash::system()}));
    store->setSelectedSourceID("catalog:");
    checks.release.release();
    ASSERT_TRUE(TestSupport::waitFor([&] { return store->isOffline(store->folders().at(0)); }));
    settle();
    EXPECT_EQ(store->selectedSourceID(), "catalog:");
}

// A volume that stops answering while another card is mounted: the card is listed and selected, the stuck
// one is left out until it answers.
TEST_F(LibraryStoreTest, AVolumeChangeDoesNotWaitForAStuckVolume)
{
    const MountedVolume x = card("X"), stuck = card("Stuck");
    checks.held = {stuck.rootPath};
    store = std::make_unique<LibraryStore>(
        checks.over({&volumes, &defaults, &cache, scan.function(), &Trash::system()}));
    settle();
    volumes.change({x, stuck});
    ASSERT_TRUE(TestSupport::waitFor([&] { return store->selectedSourceID() == "device:" + x.rootPath; }));
    EXPECT_EQ(store->devices().size(), 1);
    checks.release.release();
    ASSERT_TRUE(TestSupport::waitFor([&] { return store->devices().size() == 2; }));
    EXPECT_EQ(store->selectedSourceID(), "device:" + x.rootPath) << "only the first new card is selected";
}

TEST_F(LibraryStoreTest, MountingSelectsTheNewCardAndLosingTheSelectedOneSelectsAllMedia)
{
    const QString trip = folder("Trip");
    defaults.setValue("libraryFolders", QStringList{trip});
    make();
    settle();
    EXPECT_EQ(store->selectedSourceID(), "folder:" + trip);

    const MountedVolume x = card("X"), y = card("Y");
    volumes.change({y, x});
    // The first in volume order, once the cards answer.
    EXPECT_TRUE(TestSupport::waitFor([&] { return store->selectedSourceID() == "device:" + y.rootPath; }));
    settle();
    EXPECT_EQ(planner.starts, 2);

    volumes.change({y, x}); // nothing new, nothing lost
    store->setSelectedSourceID("device:" + x.rootPath);
    settle();
    volumes.change({x}); // another card went away
    EXPECT_EQ(store->selectedSourceID(), "device:" + x.rootPath);

    const int revision = store->availabilityRevision();
    volumes.change({});
    EXPECT_EQ(store->selectedSourceID(), "catalog:");
    settle();
    EXPECT_EQ(store->availabilityRevision(), revision + 1);

    store->setSelectedSourceID("folder:/not/listed");
    volumes.change({}); // an unlisted selection stays
    EXPECT_EQ(store->selectedSourceID(), "folder:/not/listed");
}

TEST_F(LibraryStoreTest, WritingTheSameSourceStartsNoRescan)
{
    make();
    settle();
    const int revision = store->availabilityRevision();
    const int scans = planner.starts;
    QSignalSpy spy(store.get(), &LibraryStore::selectedSourceIDChanged);
    store->setSelectedSourceID("catalog:");
    settle();
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(store->availabilityRevision(), revision);
    EXPECT_EQ(planner.starts, scans);

    store->rescan(); // the explicit command rescans the same source
    settle();
    EXPECT_EQ(planner.starts, scans + 1);
}

TEST_F(LibraryStoreTest, AddingAndRemovingFoldersPersistsAndSelects)
{
    const MountedVolume x = card("X");
    volumes.volumes = {x};
    make();
    const QString trip = folder("Trip, June"), other = folder("Other");

    store->addFolder(x.rootPath + "/"); // a card's root selects the card
    EXPECT_TRUE(store->folders().isEmpty());
    EXPECT_EQ(store->selectedSourceID(), "device:" + x.rootPath);

    store->addFolder(trip);
    store->addFolder(other);
    store->addFolder(trip + "/."); // already listed: only selected
    EXPECT_EQ(store->folders(),
              (QList<LibrarySource>{{Kind::folder, "Trip, June", {trip}}, {Kind::folder, "Other", {other}}}));
    EXPECT_EQ(store->selectedSourceID(), "folder:" + trip);
    EXPECT_EQ(Defaults(dir.filePath("settings.ini")).stringList("libraryFolders"),
              (QStringList{trip, other}));

    const QList<LibrarySource> before = store->sources();
    store->remove(LibrarySource::allMedia());
    store->remove(store->devices().first());
    EXPECT_EQ(store->sources(), before);
    EXPECT_EQ(store->selectedSourceID(), "folder:" + trip);

    store->remove(store->folders()[1]); // not selected: the selection stays
    EXPECT_EQ(store->selectedSourceID(), "folder:" + trip);
    store->remove(store->folders()[0]);
    EXPECT_EQ(store->selectedSourceID(), "catalog:");
    EXPECT_TRUE(store->folders().isEmpty());
    EXPECT_TRUE(Defaults(dir.filePath("settings.ini")).stringList("libraryFolders").isEmpty());

    // A single saved folder with a comma reads back as one folder.
    store->addFolder(trip);
    make();
    EXPECT_EQ(store->folders(), (QList<LibrarySource>{{Kind::folder, "Trip, June", {trip}}}));
}

TEST_F(LibraryStoreTest, RescanMergesCatalogedRecordingsNewestFirstAndRepairsTheSelection)
{
    const QString trip = folder("Trip");
    scan.byRoot[trip] = {recording("B", trip + "/B_F.mp4", 5), recording("A", trip + "/A_F.mp4", 5),
                         recording("old", trip + "/old_F.mp4", 1, ClipCategory::event)};
    cache.registerClips({recording("gone", trip + "/gone_F.mp4", 3)});
    cache.registerClips({recording("elsewhere", dir.filePath("Tripod/x_F.mp4"), 4)});
    defaults.setValue("libraryFolders", QStringList{trip});
    make();
    settle();
    EXPECT_EQ(names(store->clips()), (QStringList{"B", "A", "gone", "old"}));
    EXPECT_EQ(store->clips()[2].id, "catalog:gone#1003");
    EXPECT_EQ(store->selectedClipID(), trip + "/B_F.mp4");

    // A recording still listed stays selected even when the filter hides it.
    store->setSelectedClipID(trip + "/A_F.mp4");
    store->setCategoryFilter(ClipCategory::event);
    store->rescan();
    settle();
    EXPECT_EQ(store->selectedClipID(), trip + "/A_F.mp4");

    // Gone from the list: the first recording the list shows.
    store->setSelectedClipID("vanished");
    store->rescan();
    settle();
    EXPECT_EQ(store->selectedClipID(), trip + "/old_F.mp4");

    store->setSearchText("nothing matches");
    store->setSelectedClipID("vanished");
    store->rescan();
    settle();
    EXPECT_EQ(store->selectedClipID(), std::nullopt);
}

// Recordings the cache forgot in a clear, with nothing left to play, leave the list at the refresh that
// follows: a few one by one, many as one new list.
TEST_F(LibraryStoreTest, RecordingsForgottenByAClearLeaveTheListAtOnce)
{
    for (const int forgotten : {3, 70}) {
        SCOPED_TRACE(forgotten);
        const QString trip = folder(QString("Trip%1").arg(forgotten));
        const QString kept = trip + "/kept_F.mp4";
        TestSupport::writeFile(kept, "abc");
        QList<DashClip> gone;
        for (int i = 0; i < forgotten; ++i)
            gone.append(recording(QString("gone%1").arg(i), trip + QString("/gone%1_F.mp4").arg(i), i % 60));
        cache.registerClips(gone);
        DashClip here = recording("kept", kept, 59);
        here.byteSize = 3;
        scan.byRoot[trip] = {here};
        defaults.setValue("libraryFolders", QStringList{trip});
        make();
        settle();
        ASSERT_EQ(store->clips().size(), forgotten + 1);
        const QString selected = store->clips().last().id;
        store->setSelectedClipID(selected);
        QSignalSpy removed(store.get(), &LibraryStore::clipRemoved);
        QSignalSpy reset(store.get(), &LibraryStore::clipsChanged);

        cache.clear(false);
        store->refreshCacheState();
        ASSERT_TRUE(TestSupport::waitFor([&] { return store->clips().size() == 1; }));
        EXPECT_EQ(store->clips().first().id, kept);
        EXPECT_EQ(removed.size() + reset.size(), forgotten > 64 ? 1 : forgotten);
        EXPECT_NE(store->selectedClipID(), std::optional<QString>(selected));
        store.reset();
    }
}

TEST_F(LibraryStoreTest, WhileTheCatalogCannotBeReadARefusedClearChangesNoRow)
{
    // The catalog replaced by a folder: every read of it fails.
    const QString root = dir.filePath("Unreadable cache");
    ASSERT_TRUE(QDir().mkpath(root + "/catalog.json"));
    MediaCache unreadable(root);
    const QString trip = folder("Trip");
    const QString here = trip + "/here_F.mp4";
    TestSupport::writeFile(here, "abc");
    DashClip present = recording("here", here, 2);
    present.byteSize = 3;
    scan.byRoot[trip] = {recording("away", trip + "/away_F.mp4", 1), present}; // one file away
    defaults.setValue("libraryFolders", QStringList{trip});
    make(&unreadable);
    settle();
    const QList<DashClip> before = store->clips();
    ASSERT_EQ(before.size(), 2);

    EXPECT_FALSE(unreadable.clear(false));
    QFuture<void> refreshed = store->refreshCacheState();
    ASSERT_TRUE(TestSupport::waitFor([&] { return refreshed.isFinished(); }));
    EXPECT_EQ(store->clips(), before);
}

TEST_F(LibraryStoreTest, AnOfflineFolderHasCachedCopiesOnlyWhileOneOfItsRecordingsHasOne)
{
    const QString trip = folder("Trip");
    const QString file = trip + "/clip_F.mp4";
    TestSupport::writeFile(file, "abc");
    DashClip clip = recording("clip", file, 1);
    clip.byteSize = 3;
    scan.byRoot[trip] = {clip};
    defaults.setValue("libraryFolders", QStringList{trip});
    make();
    settle();
    const LibrarySource source = store->folders().first();
    ASSERT_TRUE(cache.perform({clip.catalogKey(), Channel::front, file, 3, "clip_F.mp4"}).ok());

    ASSERT_TRUE(QDir().rename(trip, dir.filePath("Trip away"))); // the card taken out
    volumes.change({});
    ASSERT_TRUE(
        TestSupport::waitFor([&] { return store->isOffline(source) && store->hasCachedCopies(source); }));

    ASSERT_TRUE(cache.clear(false)); // with the card away: the copy and the recording go
    store->refreshCacheState();
    ASSERT_TRUE(TestSupport::waitFor([&] { return !store->hasCachedCopies(source); }));
    EXPECT_TRUE(store->isOffline(source));
}

TEST_F(LibraryStoreTest, AFolderAlreadyAwayAtStartShowsWhetherItHasCopiesToPlay)
{
    const QString trip = folder("Trip"), other = folder("Other");
    const QString file = trip + "/clip_F.mp4";
    TestSupport::writeFile(file, "abc");
    DashClip clip = recording("clip", file, 1);
    clip.byteSize = 3;
    scan.byRoot[trip] = {clip};
    scan.byRoot[other] = {recording("never cached", other + "/other_F.mp4", 2)};
    defaults.setValue("libraryFolders", QStringList{trip, other});
    make();
    settle();
    ASSERT_TRUE(cache.perform({clip.catalogKey(), Channel::front, file, 3, "clip_F.mp4"}).ok());
    store.reset(); // the program quits

    ASSERT_TRUE(QDir().rename(trip, dir.filePath("Trip away")));
    ASSERT_TRUE(QDir(other).removeRecursively());
    MediaCache restarted(dir.filePath("Media Cache"));
    const auto quit = qScopeGuard([&] { store.reset(); });
    make(&restarted);
    const LibrarySource away = store->folders().at(0), gone = store->folders().at(1);
    ASSERT_TRUE(store->isOffline(away) && store->isOffline(gone));
    ASSERT_TRUE(TestSupport::waitFor([&] { return store->hasCachedCopies(away); }));
    EXPECT_FALSE(store->hasCachedCopies(gone));
}

TEST_F(LibraryStoreTest, ListingCountsAndCategoriesFollowTheStore)
{
    makeWithFourRecordings();
    store->setSearchText("  front ");
    store->setCategoryFilter(ClipCategory::continuous);
    EXPECT_EQ(names(store->filteredClips()), (QStringList{"Front cam"}));
    EXPECT_EQ(store->count(std::nullopt), 4);
    EXPECT_EQ(store->count(ClipCategory::event), 1);
    EXPECT_EQ(store->presentCategories(),
              (QList<ClipCategory>{ClipCategory::continuous, ClipCategory::event, ClipCategory::parking}));

    store->setSearchText("  ");
    store->setCategoryFilter(std::nullopt);
    store->setSort(ClipSort::name);
    EXPECT_EQ(names(store->filteredClips()), (QStringList{"clip2", "clip10", "Front cam", "rear"}));
    store->setSort(ClipSort::size);
    EXPECT_EQ(names(store->filteredClips()), (QStringList{"rear", "Front cam", "clip2", "clip10"}));
    store->setSort(ClipSort::oldest);
    EXPECT_EQ(names(store->filteredClips()), (QStringList{"clip10", "clip2", "Front cam", "rear"}));
}

// A rescan's list arrives with its shown rows made off the GUI thread for the filter it started with; when
// the filter changed while it ran, the rows follow the filter as it is on arrival.
TEST_F(LibraryStoreTest, ARescanArrivesShownForTheFilterOnArrival)
{
    const QString trip = makeWithFourRecordings();
    struct Case {
        std::optional<ClipCategory> category;
        QString search;
        ClipSort sort;
        bool changeWhileScanning; // to the next case's filter
    };
    const QList<Case> cases{
        {std::nullopt, "", ClipSort::newest, false},
        {ClipCategory::event, "", ClipSort::name, false},
        {std::nullopt, "clip", ClipSort::size, false},
        {std::nullopt, " C ", ClipSort::oldest, true},
        {ClipCategory::continuous, "", ClipSort::name, false},
        {std::nullopt, "nothing", ClipSort::newest, true},
        {std::nullopt, "", ClipSort::size, false},
    };
    const auto apply = [&](const Case &c) {
        store->setCategoryFilter(c.category);
        store->setSearchText(c.search);
        store->setSort(c.sort);
    };
    for (qsizetype i = 0; i < cases.size(); ++i) {
        const Case &c = cases[i];
        apply(c);
        // A new list each time (another size), so that it is published, not kept as equal.
        scan.byRoot[trip][0].byteSize += 1;
        QSignalSpy shownChanges(store.get(), &LibraryStore::filteredPositionsChanged);
        scan.holdCall = scan.calls + 1;
        store->rescan();
        ASSERT_TRUE(TestSupport::waitFor([&] { return bool(scan.holding); })) << i;
        scan.holding = false;
        const Case &now = c.changeWhileScanning ? cases[i + 1] : c;
        if (c.changeWhileScanning)
            apply(now);
        const qsizetype before = shownChanges.count();
        scan.release.release();
        settle();
        EXPECT_EQ(shownChanges.count(), before + 1) << i; // one change for the new list
        const QList<qsizetype> expected =
            ClipListing::positions(store->clips(), now.category, now.search, now.sort);
        EXPECT_EQ(store->filteredPositions(), expected) << i;
        const ClipListing::Shown made =
            ClipListing::shown(expected, store->clips().size(), store->localDays());
        EXPECT_EQ(store->shown().rows, made.rows) << i;
        EXPECT_EQ(store->shown().rowOfPosition, made.rowOfPosition) << i;
        EXPECT_EQ(store->count(ClipCategory::event), 1) << i;
        EXPECT_EQ(
            store->presentCategories(),
            (QList<ClipCategory>{ClipCategory::continuous, ClipCategory::event, ClipCategory::parking}));
    }
}

TEST_F(LibraryStoreTest, WithoutASelectedSourceTheListEmptiesAndNothingScans)
{
    const QString trip = folder("Trip");
    scan.byRoot[trip] = {recording("A", trip + "/A_F.mp4", 5)};
    defaults.setValue("libraryFolders", QStringList{trip});
    make();
    settle();
    ASSERT_EQ(store->clips().size(), 1);
    const int revision = store->availabilityRevision();
    QSignalSpy scanning(store.get(), &LibraryStore::isScanningChanged);
    store->setSelectedSourceID(std::nullopt);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_TRUE(store->clips().isEmpty());
    EXPECT_EQ(scanning.count(), 0);
    EXPECT_EQ(store->availabilityRevision(), revision);
}

TEST_F(LibraryStoreTest, AResultForASourceNoLongerSelectedIsDropped)
{
    const QString trip = folder("Trip");
    scan.byRoot[trip] = {recording("A", trip + "/A_F.mp4", 5)};
    cache.registerClips({recording("cataloged", dir.filePath("x/c_F.mp4"), 1)});
    make(); // All Media: nothing saved, no card
    settle();
    ASSERT_EQ(names(store->clips()), (QStringList{"cataloged"}));

    scan.holdCall = 1;
    store->addFolder(trip);
    QCoreApplication::processEvents();
    ASSERT_TRUE(TestSupport::waitFor([&] { return bool(scan.holding); }));
    store->setSelectedSourceID("catalog:");
    settle();
    const int starts = planner.starts;
    scan.release.release();
    ASSERT_TRUE(TestSupport::waitFor([&] { return scan.finished == 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(names(store->clips()), (QStringList{"cataloged"}));
    EXPECT_FALSE(store->isScanning());
    EXPECT_EQ(planner.starts, starts);
}

// Two rescans of one source overlap; whichever order they finish in, the newer one's list stands and the
// scanning state ends with it.
TEST_F(LibraryStoreTest, OnlyTheNewestOfOverlappingRescansPublishes)
{
    const QString trip = folder("Trip");
    defaults.setValue("libraryFolders", QStringList{trip});
    scan.byRoot[trip] = {recording("first", trip + "/1", 1)};
    make();
    settle();

    // The older one finishes last.
    scan.holdCall = 2;
    scan.byRoot[trip] = {recording("older", trip + "/1", 1)};
    QFuture<void> older = store->rescan();
    ASSERT_TRUE(TestSupport::waitFor([&] { return bool(scan.holding); }));
    scan.byRoot[trip] = {recording("newer", trip + "/2", 2)};
    store->rescan();
    // The catalog adds what earlier scans of the place found.
    const QStringList newer{"newer", "first"};
    ASSERT_TRUE(TestSupport::waitFor([&] { return names(store->clips()) == newer; }));
    EXPECT_FALSE(store->isScanning());
    scan.release.release();
    ASSERT_TRUE(TestSupport::waitFor([&] { return older.isFinished(); }));
    EXPECT_EQ(names(store->clips()), newer);
    EXPECT_FALSE(store->isScanning());

    // The newer one finishes last: the older one's end neither publishes nor ends the scanning state.
    scan.holding = false;
    scan.holdCall = 5;
    scan.byRoot[trip] = {recording("older", trip + "/1", 1)};
    older = store->rescan();
    while (scan.finished < 4) // without running the event loop: its result waits to be delivered
        QThread::msleep(1);
    scan.byRoot[trip] = {recording("newest", trip + "/3", 3)};
    store->rescan();
    ASSERT_TRUE(TestSupport::waitFor([&] { return bool(scan.holding); }));
    ASSERT_TRUE(TestSupport::waitFor([&] { return older.isFinished(); }));
    EXPECT_EQ(names(store->clips()), newer);
    EXPECT_TRUE(store->isScanning());
    scan.release.release();
    settle();
    // A dropped result was still registered in the catalog.
    EXPECT_EQ(names(store->clips()), (QStringList{"newest", "newer", "older", "first"}));
}

} // namespace
