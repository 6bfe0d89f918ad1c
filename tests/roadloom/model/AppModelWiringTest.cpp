#include "AppModelHarness.h"

#include "platform/Trash.h"
#include "roadloom/model/CacheCoordinator.h"
#include "roadloom/model/ConfigStore.h"

#include "roadcore/CatalogLoader.h"

#include <QFile>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

using namespace AppHarness;
using TestSupport::waitFor;

namespace {

class RecordingTrash : public Trash {
public:
    Result<void> moveToTrash(const QStringList &paths) override
    {
        QMutexLocker lock(&m_mutex);
        m_moved.append(paths);
        return {};
    }
    QList<QStringList> moved() const
    {
        QMutexLocker lock(&m_mutex);
        return m_moved;
    }

private:
    mutable QMutex m_mutex;
    QList<QStringList> m_moved;
};

// Lets held work go when the quit has not ended within the limit, so that a quit that waits for it fails
// the test rather than hanging it.
class Watchdog {
public:
    Watchdog(std::chrono::milliseconds limit, std::function<void()> rescue)
        : m_thread([this, limit, rescue = std::move(rescue)] {
              std::unique_lock lock(m_mutex);
              if (!m_ended.wait_for(lock, limit, [this] { return m_quitEnded; })) {
                  m_fired = true;
                  rescue();
              }
          })
    {
    }
    ~Watchdog() { end(); }
    // The quit ended; true when the watchdog had to let the work go first.
    bool end()
    {
        {
            std::lock_guard lock(m_mutex);
            m_quitEnded = true;
        }
        m_ended.notify_all();
        if (m_thread.joinable())
            m_thread.join();
        return m_fired;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_quitEnded = false;
    bool m_fired = false;
    std::thread m_thread; // last: starts once the rest is made
};

class AppModelWiringTest : public ModelTest {
protected:
    QByteArray catalogOnDisk() const
    {
        QFile file(QDir(cache.root()).filePath("catalog.json"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("absent");
    }
    static void write(const QString &path, const QByteArray &bytes = "x")
    {
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    bool listed(const QString &id) const
    {
        const QList<DashClip> clips = model->library().clips();
        return std::any_of(clips.begin(), clips.end(), [&](const DashClip &c) { return c.id == id; });
    }
};

TEST_F(AppModelWiringTest, ARescanThatPublishesPlansWithThePlayingRecordingFirst)
{
    const DashClip older = recording("REC_A", at(1));
    const DashClip newer = recording("REC_B", at(2));
    make({older, newer});
    ASSERT_TRUE(waitFor([&] { return cacheBackend.log().contains(QStringLiteral("plan")); }));
    EXPECT_EQ(cacheBackend.plans().constLast().prioritize, std::nullopt);

    load(newer);
    const qsizetype plans = cacheBackend.plans().size();
    model->library().rescan();
    ASSERT_TRUE(waitFor([&] { return cacheBackend.plans().size() > plans && !model->cache().isRunning(); }));
    EXPECT_EQ(cacheBackend.plans().constLast().prioritize, model->player().clip()->catalogKey());
}

TEST_F(AppModelWiringTest, MoveToTrashMovesOnlyTheOriginalFilesAndForgetsTheRecording)
{
    RecordingTrash bin;
    adjust = [&](AppModel::Services &s) {
        s.trash = nullptr;
        s.library.trash = &bin;
    };
    const QString front = dir.filePath("card/REC_A_F.mp4");
    const QString storedRear = QDir(cache.root()).filePath("REC_A_R.mp4");
    write(front);
    write(storedRear);
    const DashClip clip = recording("REC_A", at(1), {{Channel::front, front}, {Channel::rear, storedRear}});
    const DashClip other = recording("REC_B", at(2));
    make({clip, other});
    ASSERT_TRUE(listed(clip.id));
    const qsizetype usages = cacheBackend.log().count(QStringLiteral("usage"));

    alerts.answer = 0;
    scan.byRoot[card()] = {other};
    model->trash(clip);
    ASSERT_TRUE(waitFor([&] { return !listed(clip.id); }));
    EXPECT_EQ(bin.moved(), QList<QStringList>{QStringList{front}});
    EXPECT_TRUE(listed(other.id));
    EXPECT_TRUE(waitFor([&] { return cacheBackend.log().count(QStringLiteral("usage")) > usages; }));

    // A refused confirmation leaves everything alone.
    alerts.answer = 1;
    model->trash(other);
    QCoreApplication::processEvents();
    EXPECT_EQ(bin.moved().size(), 1);
    EXPECT_TRUE(listed(other.id));
}

TEST_F(AppModelWiringTest, AnUnreadableCatalogIsToldOnceWithWhereItWasKept)
{
    const QString kept = "/data/Media Cache/catalog.json.unreadable-20260101T101010Z";
    cacheBackend.setAsideCatalog = kept;
    make({});
    ASSERT_TRUE(waitFor([&] { return model->toast().has_value(); }));
    EXPECT_EQ(model->toast()->message,
              "The catalog could not be read and was kept as "
              "\u201Ccatalog.json.unreadable-20260101T101010Z\u201D. Recordings return as their cards are "
              "opened.");
    EXPECT_EQ(model->toast()->systemImage, AppModel::errorSymbol);
    EXPECT_EQ(model->toast()->revealURL, kept);
    // Told once: later usage refreshes say nothing more.
    model->show("other", "camera.fill");
    // Counted before the refresh: its read may be done before the next line runs.
    const qsizetype usages = cacheBackend.log().count("usage");
    model->cache().refreshUsage();
    ASSERT_TRUE(waitFor([&] { return cacheBackend.log().count("usage") > usages; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(model->toast()->message, "other");
}

TEST_F(AppModelWiringTest, AnUnreadableCatalogThatCouldNotBeKeptIsToldWithNothingToReveal)
{
    cacheBackend.setAsideCatalog = QString();
    make({});
    ASSERT_TRUE(waitFor([&] { return model->toast().has_value(); }));
    EXPECT_EQ(model->toast()->message,
              "The catalog could not be read and could not be kept. Nothing is cached "
              "until it can be.");
    EXPECT_EQ(model->toast()->revealURL, std::nullopt);
}

TEST_F(AppModelWiringTest, NothingWritesTheCatalogAfterTheQuitsFold)
{
    make({});
    const DashClip late = recording("REC_LATE", at(3));
    scan.byRoot[card()] = {late};
    scan.holdCall = scan.calls + 1;
    model->library().rescan();
    ASSERT_TRUE(waitFor([&] { return scan.holding.load(); }));

    // The scan ends while the quit waits for it.
    std::thread ending([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        scan.release.release();
    });
    model->finishCatalogWrites();
    cache.foldJournal();
    const QByteArray folded = catalogOnDisk();
    ending.join();
    ASSERT_TRUE(waitFor([&] { return !model->library().isScanning(); }));
    model->player().load(late, false);
    ASSERT_TRUE(waitFor([&] { return front().hasFile() || model->player().loadError(); }));

    EXPECT_EQ(catalogOnDisk(), folded);
    EXPECT_FALSE(services->calls().contains("resolve REC_LATE"))
        << "the player resolves nothing after the quit";
}

TEST_F(AppModelWiringTest, TheQuitAbandonsAScanItsFileSystemHoldsAndThatScanWritesNothing)
{
    make({});
    const DashClip late = recording("REC_LATE", at(3));
    scan.byRoot[card()] = {late};
    scan.holdCall = scan.calls + 1;
    const int ended = scan.finished;
    model->library().rescan();
    ASSERT_TRUE(waitFor([&] { return scan.holding.load(); }));

    // A file system that does not answer: only the watchdog lets the scan go, when the quit waits for it.
    Watchdog watchdog(LibraryStore::quitScanWait + std::chrono::seconds(20), [&] { scan.release.release(); });
    const bool allEnded = model->finishCatalogWrites();
    ASSERT_FALSE(watchdog.end()) << "the quit waited for a scan that does not end";
    EXPECT_FALSE(allEnded) << "the scan's thread still runs";
    EXPECT_EQ(scan.finished.load(), ended);
    cache.foldJournal();
    const QByteArray folded = catalogOnDisk();

    // The file system answers after the fold: the scan ends and records nothing.
    scan.release.release();
    ASSERT_TRUE(waitFor([&] { return scan.finished.load() > ended && !model->library().isScanning(); }));
    EXPECT_EQ(catalogOnDisk(), folded);
    EXPECT_EQ(cache.isCatalogued(late.catalogKey()), MediaCache::CatalogAnswer::notCatalogued);
}

// The cache's calls share the catalog with the library's reads of it: a quit that waited for them before
// telling those to stop would wait for a whole reading.
TEST_F(AppModelWiringTest, TheQuitTellsEveryWriterToStopBeforeItWaitsForAny)
{
    const QString root = dir.filePath("Long Catalog");
    {
        MediaCache filler(root);
        QList<DashClip> many;
        for (int i = 0; i < 400; ++i)
            many.append(recording(QStringLiteral("REC_%1").arg(i), at(i % 60, i / 60)));
        filler.registerClips(many);
        ASSERT_TRUE(filler.foldJournal());
    }
    // Its first reading goes slowly, piece by piece, until it is told to stop; later ones go at once.
    std::atomic<int> readings = 0;
    std::atomic<bool> hurry = false;
    qint64 lastBytes = 0; // one reading at a time
    CatalogLoader::Options reading;
    reading.pieceBytes = 32;
    reading.afterPiece = [&](qint64 bytes) {
        if (readings == 0 || bytes <= lastBytes)
            ++readings;
        lastBytes = bytes;
        if (readings == 1 && !hurry)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    };
    // Read slowly it takes longer than the watchdog waits.
    ASSERT_GT(QFileInfo(QDir(root).filePath("catalog.json")).size(), 32 * 1500);
    MediaCache slow(root, &MountTable::current, reading);

    // The card folder is gone: the check of its copies reads the catalog. Another folder is listed first,
    // and its scan is held until that reading has begun, so that the check, not the listing, holds it.
    const QString online = dir.filePath("online");
    ASSERT_TRUE(QDir().mkpath(online));
    scan.holdCall = 1;
    adjust = [&](AppModel::Services &s) {
        s.library.cache = &slow;
        defaults.setValue(QStringLiteral("libraryFolders"), QStringList{card(), online});
        QDir(card()).removeRecursively();
    };
    settleAtMake = false;
    make({});
    ASSERT_TRUE(waitFor([&] { return readings.load() == 1 && scan.holding.load(); }));
    scan.release.release(); // its listing waits for the catalog behind the check
    // A plan of the cache asks the catalog, behind the listing.
    std::atomic<bool> planning = false;
    cacheBackend.plan = [&](const ScriptedCache::PlanCall &) {
        planning = true;
        slow.usage(); // waits for the catalog
        return QList<CacheJob>();
    };
    model->cache().cacheNow(recording("REC_0", at(0)));
    ASSERT_TRUE(waitFor([&] { return planning.load(); }));

    Watchdog watchdog(LibraryStore::quitScanWait + std::chrono::seconds(20), [&] { hurry = true; });
    EXPECT_TRUE(model->finishCatalogWrites());
    EXPECT_FALSE(watchdog.end())
        << "the quit waited for the plan before it told the check of the copies to stop";
    model.reset(); // before the catalog it reads
}

// The quit does not wait for a call that a file system holds, held here at the seam nearest to it.
class QuitBoundTest;
struct HeldCall {
    const char *name;
    void (QuitBoundTest::*hold)(); // starts the call and waits until it is held
    bool holdsCache;               // held inside the media cache, whose fold for the quit then gives up
};

class QuitBoundTest : public AppModelWiringTest, public testing::WithParamInterface<HeldCall> {
public:
    const DashClip clip = recording("REC_A", at(1));
    void heldAt(CallHold &hold, const std::function<void()> &start)
    {
        hold.armed = true;
        start();
        ASSERT_TRUE(waitFor([&] { return hold.holding.load(); }));
    }
    // The recording is catalogued, then its file goes: finding it again reads the mounts.
    void makeWithAMovedFile()
    {
        const QString file = dir.filePath("card/REC_A_F.mp4");
        write(file);
        make({recording("REC_A", at(1), {{Channel::front, file}})});
        ASSERT_TRUE(QFile::remove(file));
    }
    void registering()
    {
        make({});
        scan.byRoot[card()] = {clip};
        heldAt(mountsHold, [&] { model->library().rescan(); });
    }
    void listing()
    {
        makeWithAMovedFile();
        heldAt(mountsHold, [&] { model->library().setSelectedSourceID(LibrarySource::allMedia().id()); });
    }
    void refreshing()
    {
        makeWithAMovedFile();
        heldAt(mountsHold, [&] { model->library().refreshCacheState(); });
    }
    void copying()
    {
        cacheBackend.pending = {
            {clip.catalogKey(), Channel::front, clip.files.at(Channel::front), 1000, "F"}};
        cacheBackend.holdCopies = true;
        make({});
        ASSERT_TRUE(cacheBackend.waitForCopy());
    }
    void playing()
    {
        make({clip});
        heldAt(services->resolveHold, [&] { model->player().load(clip, false); });
    }
    void exporting()
    {
        make({clip});
        heldAt(services->resolveHold, [&] { model->exportTelemetry(TelemetryFormat::gpx, clip); });
    }
};

TEST_P(QuitBoundTest, TheQuitEndsByItsDeadlineWhateverTheFileSystemHolds)
{
    (this->*GetParam().hold)();
    // A file system that does not answer: only the watchdog lets the call go, when the quit waits for it.
    Watchdog watchdog(std::chrono::seconds(20), [&] {
        mountsHold.release();
        services->resolveHold.release();
        cacheBackend.release(100);
    });
    model->beginQuit(QDeadlineTimer(std::chrono::milliseconds(200)));
    const bool allEnded = model->finishCatalogWrites();
    const MediaCache::QuitFold fold = cache.foldJournalForQuit(model->quitDeadline());
    ASSERT_FALSE(watchdog.end()) << "the quit waited";
    EXPECT_FALSE(allEnded) << "the held call's thread still runs";
    EXPECT_EQ(fold, GetParam().holdsCache ? MediaCache::QuitFold::skipped : MediaCache::QuitFold::written);

    // Let go, the abandoned call runs on in the harness's members (the program would have ended): it ends
    // before they go.
    mountsHold.release();
    services->resolveHold.release();
    cacheBackend.release(100);
    EXPECT_TRUE(model->library().finishCatalogWrites(QDeadlineTimer(std::chrono::seconds(60))));
    EXPECT_TRUE(model->cache().finish(QDeadlineTimer(std::chrono::seconds(60))));
}

const HeldCall heldCalls[] = {
    {"registeringAScansRecordings", &QuitBoundTest::registering, true},
    {"listingAScopeWithAMovedFile", &QuitBoundTest::listing, true},
    {"refreshingTheCacheState", &QuitBoundTest::refreshing, true},
    {"copyingIntoTheCache", &QuitBoundTest::copying, false},
    {"resolvingForThePlayer", &QuitBoundTest::playing, false},
    {"resolvingForAnExport", &QuitBoundTest::exporting, false},
};
INSTANTIATE_TEST_SUITE_P(HeldCalls, QuitBoundTest, testing::ValuesIn(heldCalls),
                         [](const testing::TestParamInfo<HeldCall> &info) { return info.param.name; });

TEST_F(AppModelWiringTest, OpeningAConfigurationFileRaisesTheRequest)
{
    make({});
    const QString path = dir.filePath("elsewhere/CONFIG.CFG");
    write(path, "[video]\nresolution=1080P\n");
    EXPECT_FALSE(model->requestConfigWindow());
    model->library().open({path});
    ASSERT_TRUE(waitFor([&] { return model->requestConfigWindow(); }));
    ASSERT_TRUE(model->config().file().has_value());
}

} // namespace
