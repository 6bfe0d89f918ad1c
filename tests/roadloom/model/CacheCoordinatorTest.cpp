#include "roadloom/model/CacheCoordinator.h"

#include "ScriptedCache.h"

#include "fixtures/TestSupport.h"
#include "platform/Defaults.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {

CacheJob job(const QString &name, qint64 size = 100, Channel channel = Channel::front)
{
    return {QStringLiteral("key-") + name, channel, QStringLiteral("/card/") + name, size, name};
}

QList<CacheJob> jobs(int count)
{
    QList<CacheJob> list;
    for (int i = 1; i <= count; ++i)
        list.append(job(QStringLiteral("F%1.MP4").arg(i, 2, 10, QLatin1Char('0'))));
    return list;
}

DashClip clipWithKey(const QString &name)
{
    DashClip clip;
    clip.id = name;
    clip.name = name;
    return clip;
}

class CacheCoordinatorTest : public testing::Test {
protected:
    QTemporaryDir tmp;
    Defaults defaults{tmp.filePath("defaults.ini")};
    ScriptedCache cache;
    ScriptedFreeSpace freeSpace;
    std::optional<QString> playing;

    std::unique_ptr<CacheCoordinator> make()
    {
        auto coordinator = std::make_unique<CacheCoordinator>(
            CacheCoordinator::Services{&cache, &freeSpace, &defaults, [this] { return playing; }});
        // The usage fetched at creation arrives first.
        EXPECT_TRUE(TestSupport::waitFor([&] { return coordinator->usage().has_value(); }));
        return coordinator;
    }

    static bool waitIdle(CacheCoordinator &coordinator)
    {
        return TestSupport::waitFor([&] { return !coordinator.isRunning(); }, 10000);
    }

    QStringList copies() const { return cache.log().filter(QStringLiteral("copy ")); }
};

TEST_F(CacheCoordinatorTest, FreeSpaceGuardPausesWhenSizeAndReserveReachTheFreeSpace)
{
    const struct {
        std::optional<qint64> available;
        bool copied;
    } cases[] = {
        {100 + CacheCoordinator::freeSpaceReserve, false},
        {100 + CacheCoordinator::freeSpaceReserve - 1, false},
        {100 + CacheCoordinator::freeSpaceReserve + 1, true},
        {std::nullopt, true}, // unreadable: no guard
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.available ? *c.available : -1);
        ScriptedCache fresh;
        fresh.pending = {job("A.MP4", 100)};
        freeSpace.available = c.available;
        CacheCoordinator coordinator({&fresh, &freeSpace, &defaults, {}});
        coordinator.start();
        EXPECT_TRUE(coordinator.isRunning());
        ASSERT_TRUE(waitIdle(coordinator));
        EXPECT_EQ(fresh.log().contains("copy A.MP4"), c.copied);
        EXPECT_EQ(coordinator.isPaused(), !c.copied);
        EXPECT_EQ(coordinator.lastError(),
                  c.copied ? std::nullopt
                           : std::optional<QString>("Caching paused: not enough free disk space."));
        EXPECT_EQ(coordinator.lastErrorDetail(),
                  c.copied ? std::nullopt
                           : std::optional<QString>("Not enough free disk space to cache A.MP4."));
        EXPECT_EQ(coordinator.totalFiles(), 0);
    }
}

TEST_F(CacheCoordinatorTest, FailedCopyIsReportedAndTheRunGoesOn)
{
    cache.pending = {job("A.MP4", 10), job("B.MP4", 20), job("C.MP4", 40)};
    cache.failures["B.MP4"] = "The file “B.MP4” couldn't be opened: No such file or directory.";
    auto coordinator = make();
    QSignalSpy done(coordinator.get(), &CacheCoordinator::completedFilesChanged);
    QSignalSpy bytes(coordinator.get(), &CacheCoordinator::completedBytesChanged);
    QSignalSpy cached(coordinator.get(), &CacheCoordinator::channelCached);
    QSignalSpy progress(coordinator.get(), &CacheCoordinator::progressChanged);
    coordinator->start();
    ASSERT_TRUE(waitIdle(*coordinator));

    EXPECT_EQ(copies(), QStringList({"copy A.MP4", "copy B.MP4", "copy C.MP4"}));
    EXPECT_EQ(coordinator->lastError(),
              "B.MP4: The file “B.MP4” couldn't be opened: No such file or directory.");
    EXPECT_EQ(coordinator->lastErrorDetail(), coordinator->lastError());
    ASSERT_EQ(cached.size(), 2);
    EXPECT_EQ(cached.at(0).at(0).toString(), "key-A.MP4");
    EXPECT_EQ(cached.at(1).at(0).toString(), "key-C.MP4");
    QList<int> files;
    for (const auto &args : done)
        files.append(args.at(0).toInt());
    EXPECT_EQ(files, QList<int>({1, 2, 0}));
    QList<qint64> copied;
    for (const auto &args : bytes)
        copied.append(args.at(0).toLongLong());
    EXPECT_EQ(copied, QList<qint64>({10, 50, 0}));
    ASSERT_GE(progress.size(), 2);
    EXPECT_DOUBLE_EQ(progress.at(0).at(0).toDouble(), 10.0 / 70.0);
    EXPECT_DOUBLE_EQ(progress.at(1).at(0).toDouble(), 50.0 / 70.0);
    EXPECT_EQ(coordinator->progress(), 0.0);
    EXPECT_EQ(coordinator->currentName(), std::nullopt);
    // A new run clears the last error.
    coordinator->start();
    EXPECT_EQ(coordinator->lastError(), std::nullopt);
    EXPECT_EQ(coordinator->lastErrorDetail(), std::nullopt);
    ASSERT_TRUE(waitIdle(*coordinator));
}

TEST_F(CacheCoordinatorTest, RefusalsThePauseAndFailedCopiesAreToldTogetherEachUntilWhatResolvesIt)
{
    const QString refused = "the media cache's catalog couldn't be read or written.";
    const QString removal = "Cached copies couldn't be removed: " + refused;
    cache.pending = {job("A.MP4"), job("B.MP4"), job("C.MP4", 1000)};
    for (const QString name : {"A.MP4", "B.MP4"}) {
        cache.failures[name] = name + " is gone.";
        cache.causes[name] = "couldn't be made: it is gone";
    }
    freeSpace.available = CacheCoordinator::freeSpaceReserve + 500; // room for A and B, not for C
    cache.holdCopies = true;
    auto coordinator = make();
    coordinator->start();
    ASSERT_TRUE(cache.waitForCopy());
    cache.release(); // A fails
    ASSERT_TRUE(cache.waitForCopy());
    cache.catalogUnreadable = true; // refused in the middle of the run
    QSignalSpy usage(coordinator.get(), &CacheCoordinator::usageChanged);
    coordinator->removeCopy(clipWithKey("R"));
    ASSERT_TRUE(TestSupport::waitFor([&] { return usage.size() == 1; }));
    cache.catalogUnreadable = false;
    cache.release(); // B fails, and C finds too little room
    ASSERT_TRUE(waitIdle(*coordinator));
    EXPECT_EQ(coordinator->lastError(), QStringList({removal, "Caching paused: not enough free disk space.",
                                                     "2 copies couldn't be made: it is gone."})
                                            .join('\n'));
    EXPECT_EQ(coordinator->lastErrorDetail(),
              QStringList({"The cached copies of “R” couldn't be removed: " + refused,
                           "Not enough free disk space to cache C.MP4.", "A.MP4 is gone.", "B.MP4 is gone."})
                  .join('\n'));

    // A new run takes the pause and the copies it tries again, not the refusal; a removal that goes
    // through takes it.
    cache.holdCopies = false;
    cache.failures.clear();
    freeSpace.available = std::nullopt;
    coordinator->setIsPaused(false);
    ASSERT_TRUE(waitIdle(*coordinator));
    EXPECT_EQ(coordinator->lastError(), removal);
    coordinator->removeCopy(clipWithKey("R"));
    ASSERT_TRUE(TestSupport::waitFor([&] { return !coordinator->lastError(); }));
}

TEST_F(CacheCoordinatorTest, CopiesWhoseRecordFailedAreWrittenAgainAfterGrowingPausesUntilItWorks)
{
    cache.plan = [planned = false](const ScriptedCache::PlanCall &) mutable {
        return std::exchange(planned, true) ? QList<CacheJob>{} : QList<CacheJob>{job("A.MP4"), job("B.MP4")};
    };
    cache.failures["A.MP4"] = "The copy of “A.MP4” couldn't be recorded: the media cache's catalog couldn't "
                              "be written.";
    cache.writes = {MediaCacheWrite::failed, MediaCacheWrite::failed, MediaCacheWrite::written};
    CacheCoordinator::Services services{&cache, &freeSpace, &defaults, {}};
    services.firstRetryPause = std::chrono::milliseconds(0);
    CacheCoordinator coordinator(services);
    QSignalSpy recorded(&coordinator, &CacheCoordinator::copiesRecorded);
    coordinator.start();
    // Each failed write asks for the next one on its own, without a listing or another copy; the one that
    // works is announced once and starts a run.
    ASSERT_TRUE(TestSupport::waitFor([&] { return recorded.size() == 1; }));
    ASSERT_TRUE(waitIdle(coordinator));
    EXPECT_EQ(cache.log().count("write"), 3);
    EXPECT_EQ(cache.log().count("plan"), 2);
    EXPECT_EQ(recorded.size(), 1);
}

TEST(RetryPause, DoublesFromTheFirstUpToTheLongestAndStartsAgainAfterASuccess)
{
    using std::chrono::milliseconds;
    RetryPause pause(milliseconds(1000), milliseconds(5000));
    QList<qint64> pauses;
    for (int i = 0; i < 5; ++i)
        pauses.append(pause.next().count());
    EXPECT_EQ(pauses, QList<qint64>({1000, 2000, 4000, 5000, 5000}));
    pause.reset();
    EXPECT_EQ(pause.next(), milliseconds(1000));
}

TEST_F(CacheCoordinatorTest, UsageIsFetchedAfterEveryFifthCopyAndAtTheEnd)
{
    cache.pending = jobs(12);
    auto coordinator = make();
    QSignalSpy usage(coordinator.get(), &CacheCoordinator::usageChanged);
    coordinator->start();
    ASSERT_TRUE(waitIdle(*coordinator));

    QStringList expected{"usage", "plan"};
    for (int i = 1; i <= 12; ++i) {
        expected.append(QStringLiteral("copy F%1.MP4").arg(i, 2, 10, QLatin1Char('0')));
        if (i % 5 == 0)
            expected.append("usage");
    }
    expected.append("usage");
    EXPECT_EQ(cache.log(), expected);
    EXPECT_EQ(usage.size(), 3);
    // One at a time, on a thread of their own that yields to the rest of the program.
    EXPECT_EQ(cache.mostInFlight(), 1);
    EXPECT_EQ(cache.copyThreads().size(), 1);
    EXPECT_FALSE(cache.copyThreads().contains(QThread::currentThread()));
    ASSERT_EQ(cache.copyNiceness().size(), 1);
    EXPECT_GE(*cache.copyNiceness().begin(), 10);
}

TEST_F(CacheCoordinatorTest, InALargeCacheTheUsageIsFetchedAfterMoreCopies)
{
    // 2,000 stored copies: a usage walk every 20 copies, so that the walks cost about as much as the copies.
    cache.cachedFiles = 2000;
    cache.pending = jobs(45);
    auto coordinator = make();
    coordinator->start();
    ASSERT_TRUE(waitIdle(*coordinator));
    QStringList expected{"usage", "plan"};
    for (int i = 1; i <= 45; ++i) {
        expected.append(QStringLiteral("copy F%1.MP4").arg(i, 2, 10, QLatin1Char('0')));
        if (i % 20 == 0)
            expected.append("usage");
    }
    expected.append("usage");
    EXPECT_EQ(cache.log(), expected);
}

TEST_F(CacheCoordinatorTest, EmptyPlanEndsAtOnceAfterOneUsageRefresh)
{
    auto coordinator = make();
    QSignalSpy running(coordinator.get(), &CacheCoordinator::isRunningChanged);
    coordinator->start();
    ASSERT_TRUE(waitIdle(*coordinator));
    EXPECT_EQ(cache.log(), QStringList({"usage", "plan", "usage"}));
    EXPECT_EQ(running.size(), 2);
    EXPECT_EQ(coordinator->totalBytes(), 0);
    EXPECT_EQ(coordinator->progress(), 0.0);
}

TEST_F(CacheCoordinatorTest, PauseDuringACopyFinishesItThenEndsTheRun)
{
    cache.pending = jobs(3);
    cache.holdCopies = true;
    auto coordinator = make();
    QSignalSpy cached(coordinator.get(), &CacheCoordinator::channelCached);
    coordinator->start();
    ASSERT_TRUE(cache.waitForCopy());
    EXPECT_EQ(coordinator->currentName(), "F01.MP4");
    coordinator->setIsPaused(true);
    cache.release();
    ASSERT_TRUE(waitIdle(*coordinator));

    EXPECT_EQ(copies(), QStringList({"copy F01.MP4"}));
    EXPECT_EQ(cached.size(), 1);
    EXPECT_TRUE(coordinator->isPaused());
    EXPECT_EQ(coordinator->completedFiles(), 0);
    EXPECT_EQ(coordinator->totalFiles(), 0);
    EXPECT_EQ(coordinator->currentName(), std::nullopt);

    // Resuming starts a new run over what is left.
    cache.holdCopies = false;
    coordinator->setIsPaused(false);
    EXPECT_TRUE(coordinator->isRunning());
    ASSERT_TRUE(waitIdle(*coordinator));
    EXPECT_EQ(copies(), QStringList({"copy F01.MP4", "copy F02.MP4", "copy F03.MP4"}));
}

TEST_F(CacheCoordinatorTest, PausedCachingWaitsForTheUserAndCacheNowResumesIt)
{
    // Paused by the user, or by the free-space guard: a rescan's start keeps it paused and its error
    // shown; Cache Now resumes, and pauses again with the reason while the disk is still short.
    for (const bool lowDisk : {false, true}) {
        SCOPED_TRACE(lowDisk);
        ScriptedCache fresh;
        fresh.pending = {job("A.MP4", 100)};
        freeSpace.available = lowDisk ? std::optional<qint64>(10) : std::nullopt;
        CacheCoordinator coordinator({&fresh, &freeSpace, &defaults, {}});
        if (lowDisk)
            coordinator.start();
        else
            coordinator.setIsPaused(true);
        ASSERT_TRUE(waitIdle(coordinator));
        ASSERT_TRUE(coordinator.isPaused());
        const std::optional<QString> error = coordinator.lastError();
        EXPECT_EQ(error.has_value(), lowDisk);

        coordinator.start();
        EXPECT_FALSE(coordinator.isRunning());
        EXPECT_EQ(coordinator.lastError(), error);

        coordinator.cacheNow(clipWithKey("A"));
        EXPECT_TRUE(coordinator.isRunning());
        ASSERT_TRUE(waitIdle(coordinator));
        EXPECT_EQ(coordinator.isPaused(), lowDisk);
        EXPECT_EQ(coordinator.lastError(), error) << "the reason it cannot is said again";
        EXPECT_EQ(fresh.log().contains("copy A.MP4"), !lowDisk);

        freeSpace.available = std::nullopt;
        coordinator.cacheNow(clipWithKey("A"));
        ASSERT_TRUE(waitIdle(coordinator));
        EXPECT_FALSE(coordinator.isPaused());
        EXPECT_EQ(coordinator.lastError(), std::nullopt);
        EXPECT_TRUE(fresh.log().contains("copy A.MP4"));
        EXPECT_EQ(fresh.plans().last().alsoInclude, QSet<QString>{clipWithKey("A").catalogKey()});
    }
}

TEST_F(CacheCoordinatorTest, CacheNowDuringARunPlansAgainAfterTheCurrentFile)
{
    cache.pending = jobs(3);
    cache.holdCopies = true;
    const CacheJob forced = job("X.MP4", 500);
    cache.plan = [&](const ScriptedCache::PlanCall &call) {
        QList<CacheJob> plan;
        if (call.alsoInclude.contains(clipWithKey("X").catalogKey()))
            plan.append(forced);
        return plan + cache.pending;
    };
    auto coordinator = make();
    QSignalSpy totals(coordinator.get(), &CacheCoordinator::totalFilesChanged);
    coordinator->start();
    ASSERT_TRUE(cache.waitForCopy());
    coordinator->cacheNow(clipWithKey("X"));
    cache.release(10);
    ASSERT_TRUE(waitIdle(*coordinator));

    ASSERT_EQ(cache.plans().size(), 2);
    EXPECT_EQ(cache.plans().at(1).alsoInclude, QSet<QString>{clipWithKey("X").catalogKey()});
    EXPECT_EQ(copies(), QStringList({"copy F01.MP4", "copy X.MP4", "copy F02.MP4", "copy F03.MP4"}));
    QList<int> seen;
    for (const auto &args : totals)
        seen.append(args.at(0).toInt());
    // Three planned; then one done plus the two left and the forced one; then the end.
    EXPECT_EQ(seen, QList<int>({3, 4, 0}));
}

TEST_F(CacheCoordinatorTest, StartsInOneTurnMakeOneRunAndEachFileIsCopiedOnce)
{
    cache.pending = jobs(4);
    auto coordinator = make();
    QSignalSpy running(coordinator.get(), &CacheCoordinator::isRunningChanged);
    coordinator->start();
    coordinator->start();
    coordinator->cacheNow(clipWithKey("Y"));
    ASSERT_TRUE(waitIdle(*coordinator));
    EXPECT_EQ(running.size(), 2); // on once, off once
    EXPECT_EQ(copies(), QStringList({"copy F01.MP4", "copy F02.MP4", "copy F03.MP4", "copy F04.MP4"}));
    EXPECT_EQ(cache.mostInFlight(), 1);
}

TEST_F(CacheCoordinatorTest, PlanAsksForThePolicyThePlayingRecordingAndTheForcedOnes)
{
    playing = "playing-key";
    auto coordinator = make();
    const struct {
        const char *policy;
        CachePolicy expected;
    } cases[] = {{"important", CachePolicy::important},
                 {"off", CachePolicy::off},
                 {"all", CachePolicy::all},
                 {"nonsense", CachePolicy::all}};
    for (const auto &c : cases) {
        // Changing the policy starts a run by itself.
        defaults.setValue(CachePolicies::defaultsKey, QString::fromLatin1(c.policy));
        ASSERT_TRUE(
            TestSupport::waitFor([&] { return !cache.plans().isEmpty() && !coordinator->isRunning(); }));
        EXPECT_EQ(cache.plans().last().policy, c.expected) << c.policy;
        EXPECT_EQ(cache.plans().last().prioritize, "playing-key");
    }
    const qsizetype plansBefore = cache.plans().size();
    defaults.setValue("speedUnit", "mph");
    QCoreApplication::processEvents();
    EXPECT_EQ(cache.plans().size(), plansBefore);

    // A removed copy takes the recording out of the forced ones.
    const DashClip forced = clipWithKey("Z");
    coordinator->cacheNow(forced);
    ASSERT_TRUE(waitIdle(*coordinator));
    EXPECT_EQ(cache.plans().last().alsoInclude, QSet<QString>{forced.catalogKey()});
    QSignalSpy removed(coordinator.get(), &CacheCoordinator::copiesRemoved);
    QSignalSpy usage(coordinator.get(), &CacheCoordinator::usageChanged);
    coordinator->removeCopy(forced);
    ASSERT_TRUE(TestSupport::waitFor([&] { return usage.size() == 1; }));
    EXPECT_EQ(removed.size(), 1);
    EXPECT_EQ(cache.log().mid(cache.log().size() - 2),
              QStringList({"remove " + forced.catalogKey(), "usage"}));
    coordinator->start();
    ASSERT_TRUE(waitIdle(*coordinator));
    EXPECT_TRUE(cache.plans().last().alsoInclude.isEmpty());
}

TEST_F(CacheCoordinatorTest, WhileTheCatalogCannotBeReadNoUsageIsShownAndNoRemovalAnnounced)
{
    auto coordinator = make();
    cache.catalogUnreadable = true;
    QSignalSpy removed(coordinator.get(), &CacheCoordinator::copiesRemoved);
    QSignalSpy usage(coordinator.get(), &CacheCoordinator::usageChanged);
    coordinator->removeCopy(clipWithKey("A"));
    ASSERT_TRUE(TestSupport::waitFor([&] { return usage.size() == 1; }));
    EXPECT_EQ(removed.size(), 0);
    ASSERT_TRUE(coordinator->lastError());
    EXPECT_TRUE(coordinator->lastError()->contains(QStringLiteral("couldn't be removed")));
    EXPECT_FALSE(coordinator->usage());
    // A clear that could not run says so where the cache's state is shown.
    coordinator->clear(false);
    EXPECT_TRUE(TestSupport::waitFor(
        [&] { return coordinator->lastError()->contains(QStringLiteral("couldn't be cleared")); }));

    cache.catalogUnreadable = false;
    coordinator->removeCopy(clipWithKey("A"));
    ASSERT_TRUE(TestSupport::waitFor([&] { return usage.size() == 2; }));
    EXPECT_EQ(removed.size(), 1);
    EXPECT_TRUE(coordinator->usage());
}

TEST_F(CacheCoordinatorTest, DestroyingTheCoordinatorStopsTheCopyInFlight)
{
    cache.pending = jobs(2);
    cache.copyUntilStopped = true;
    auto coordinator = make();
    coordinator->start();
    ASSERT_TRUE(cache.waitForCopy());
    QElapsedTimer timer;
    timer.start();
    coordinator.reset();
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_TRUE(cache.sawStop());
    EXPECT_EQ(copies(), QStringList({"copy F01.MP4"}));
}

} // namespace
