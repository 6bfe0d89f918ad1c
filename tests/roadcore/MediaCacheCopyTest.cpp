#include "MediaCacheFixture.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using TestSupport::readFile;
using TestSupport::writeFile;

using MediaCacheCopyTest = MediaCacheFixture;

TEST_F(MediaCacheCopyTest, FingerprintsMatchIndependentlyComputedValues)
{
    // SHA-256 over the 8-byte big-endian size, the first 64 KiB and, above 64 KiB, the last 64 KiB; the first
    // 16 bytes in hex. Computed with Python's hashlib over the same pattern.
    const struct {
        qsizetype size;
        const char *expected;
    } vectors[] = {
        {0, "af5570f5a1810b7af78caf4bc70a660f"},      {65536, "be65d9e66ec261b613d78c3a59b995c5"},
        {65537, "9a1ecefb64a9f5a037535064e8c5fb6e"},  {131072, "5f867571dbf4fa9478da3538f46fdadf"},
        {200000, "b56d6fcd6b0b7707b5525afeb5af4087"},
    };
    for (const auto &vector : vectors) {
        const QString path = tmp.filePath(QString("pattern-%1").arg(vector.size));
        writeFile(path, pattern(vector.size));
        const Result<QString> print = MediaCache::fingerprint(path, vector.size);
        ASSERT_TRUE(print.ok()) << print.error().toStdString();
        EXPECT_EQ(*print, vector.expected) << vector.size;
    }
    const Result<QString> missing = MediaCache::fingerprint(tmp.filePath("none.mp4"), 10);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error(), "The file “none.mp4” couldn't be opened: No such file or directory.");
}

TEST_F(MediaCacheCopyTest, PlansByPolicyPriorityAndForcedRecordings)
{
    add("co", {{Channel::front, "c"}}, utc(2024, 4, 1));
    add("ev", {{Channel::front, "e"}, {Channel::rear, "er"}, {Channel::interior, "ei"}}, utc(2024, 3, 1),
        ClipCategory::event);
    add("ma", {{Channel::front, "m"}}, utc(2024, 2, 1), ClipCategory::manual);
    add("pa", {{Channel::front, "p"}}, std::nullopt, ClipCategory::parking);

    const struct {
        CachePolicy policy;
        std::optional<QString> prioritize;
        QSet<QString> forced;
        QStringList expected;
    } rows[] = {
        {CachePolicy::all, {}, {}, {"co_F", "ev_F", "ev_R", "ev_I", "ma_F", "pa_F"}},
        {CachePolicy::all, "ma#1", {}, {"ma_F", "co_F", "ev_F", "ev_R", "ev_I", "pa_F"}},
        {CachePolicy::all, "pa#1", {}, {"pa_F", "co_F", "ev_F", "ev_R", "ev_I", "ma_F"}},
        {CachePolicy::important, {}, {}, {"ev_F", "ev_R", "ev_I", "ma_F"}},
        {CachePolicy::important, "ma#1", {}, {"ma_F", "ev_F", "ev_R", "ev_I"}},
        // A priority key takes nothing by itself; forcing does.
        {CachePolicy::important, "co#1", {}, {"ev_F", "ev_R", "ev_I", "ma_F"}},
        {CachePolicy::important, "co#1", {"co#1"}, {"co_F", "ev_F", "ev_R", "ev_I", "ma_F"}},
        {CachePolicy::off, {}, {}, {}},
        {CachePolicy::off, "co#1", {}, {}},
        {CachePolicy::off, {}, {"pa#1", "ma#1"}, {"ma_F", "pa_F"}},
        {CachePolicy::off, "pa#1", {"pa#1", "ma#1"}, {"pa_F", "ma_F"}},
        {CachePolicy::off, {}, {"unknown#1"}, {}},
    };
    for (const auto &row : rows) {
        QStringList names;
        for (const CacheJob &job : cache->pendingJobs(row.policy, row.prioritize, row.forced))
            names.append(job.name.chopped(4));
        EXPECT_EQ(names, row.expected)
            << rawValue(row.policy).toStdString() << " " << row.prioritize.value_or("-").toStdString();
    }
    const QList<CacheJob> jobs = cache->pendingJobs(CachePolicy::all, QString("ev#5"));
    EXPECT_EQ(jobs[1], (CacheJob{"ev#5", Channel::rear, card + "/ev_R.mp4", 2, "ev_R.mp4"}));
}

TEST_F(MediaCacheCopyTest, SkipsMissingAndResizedFilesAndPlansAVanishedCopyAgain)
{
    const DashClip clip = add(
        "20240501_083000", {{Channel::front, "front"}, {Channel::rear, "rear"}, {Channel::interior, "in"}});
    QFile::remove(clip.files.at(Channel::front));
    writeFile(clip.files.at(Channel::rear), "rear, rewritten");
    QList<CacheJob> jobs = cache->pendingJobs(CachePolicy::all);
    ASSERT_EQ(jobs.size(), 1);
    EXPECT_EQ(jobs[0].channel, Channel::interior);
    ASSERT_TRUE(cache->perform(jobs[0]).ok());
    EXPECT_TRUE(cache->pendingJobs(CachePolicy::all).isEmpty());

    // The copy deleted by hand: planned and copied again, to the same place.
    const QString stored = *record(clip, Channel::interior).storedPath;
    ASSERT_TRUE(QFile::remove(root + "/" + stored));
    jobs = cache->pendingJobs(CachePolicy::all);
    ASSERT_EQ(jobs.size(), 1);
    ASSERT_TRUE(cache->perform(jobs[0]).ok());
    EXPECT_EQ(record(clip, Channel::interior).storedPath, stored);
    EXPECT_EQ(readFile(root + "/" + stored), "in");
}

TEST_F(MediaCacheCopyTest, CopiesIntoTheFingerprintsFolderAndRecordsIt)
{
    const DashClip clip =
        add("20240501_083000", {{Channel::front, pattern(300000)}, {Channel::rear, "rear"}});
    EXPECT_TRUE(isPending(clip.catalogKey()));
    cacheAll();
    const QString print = *MediaCache::fingerprint(clip.files.at(Channel::front), 300000);
    const auto front = record(clip, Channel::front);
    EXPECT_EQ(front.fingerprint, print);
    EXPECT_EQ(front.storedPath, "Files/" + print.left(2) + "/" + print + "/20240501_083000_F.mp4");
    EXPECT_EQ(readFile(root + "/" + *front.storedPath), pattern(300000));
    EXPECT_EQ(storedFiles().size(), 2); // no temporary file stays
    EXPECT_FALSE(isPending(clip.catalogKey()));

    QFile::remove(clip.files.at(Channel::front));
    const DashClip played = cache->resolveForPlayback(clip);
    EXPECT_EQ(played.channelStates.at(Channel::front), StorageState::cached);
    EXPECT_EQ(played.files.at(Channel::front), root + "/" + *front.storedPath);
}

TEST_F(MediaCacheCopyTest, EqualFilesAreStoredOnceAndLaterRecordingsPointAtTheFirstCopy)
{
    const DashClip first = add("20240501_083000", {{Channel::front, pattern(200000)}});
    cacheAll();
    const DashClip second =
        add("20240502_083000", {{Channel::front, pattern(200000)}, {Channel::rear, pattern(200000)}});
    cacheAll();
    const auto stored = record(first, Channel::front).storedPath;
    ASSERT_TRUE(stored);
    EXPECT_TRUE(stored->endsWith("/20240501_083000_F.mp4"));
    EXPECT_EQ(record(second, Channel::front).storedPath, stored);
    EXPECT_EQ(record(second, Channel::rear).storedPath, stored);
    EXPECT_EQ(storedFiles().size(), 1);
}

TEST_F(MediaCacheCopyTest, EqualFingerprintsWithOtherBytesAreStoredApart)
{
    // Pre-allocated files of one size: equal head and tail, different middles.
    QByteArray other = pattern(200000);
    other[100000] = char(other[100000] ^ 0x55);
    const DashClip clip = add("20240501_000000", {{Channel::front, pattern(200000)}, {Channel::rear, other}},
                              utc(2024, 5, 1), ClipCategory::parking);
    // Another recording of the same name and a front file of that size too; its own name is taken.
    QByteArray third = pattern(200000);
    third[100001] = char(third[100001] ^ 0x55);
    const DashClip again = add("20240501_000000", {{Channel::front, third}, {Channel::rear, "r"}},
                               utc(2024, 4, 30), ClipCategory::parking, card + "/other");
    ASSERT_EQ(*MediaCache::fingerprint(clip.files.at(Channel::front), 200000),
              *MediaCache::fingerprint(clip.files.at(Channel::rear), 200000));
    ASSERT_NE(clip.catalogKey(), again.catalogKey());
    cacheAll();

    const QString folder = record(clip, Channel::front).storedPath->section('/', 0, -2);
    const struct {
        const DashClip &clip;
        Channel channel;
        QString storedName;
        QByteArray bytes;
    } expected[] = {
        {clip, Channel::front, "20240501_000000_F.mp4", pattern(200000)},
        {clip, Channel::rear, "20240501_000000_R.mp4", other},
        {again, Channel::front, "20240501_000000_F 2.mp4", third},
    };
    for (const auto &row : expected) {
        const auto stored = record(row.clip, row.channel).storedPath;
        ASSERT_TRUE(stored);
        EXPECT_EQ(*stored, folder + "/" + row.storedName);
        EXPECT_EQ(readFile(root + "/" + *stored), row.bytes) << row.storedName.toStdString();
    }
    EXPECT_EQ(storedFiles().size(), 4);
}

// Only a name taken by another file is passed over for the next; any other reason the copy cannot take its
// name is the failure.
TEST_F(MediaCacheCopyTest, ANameTheCopyCannotTakeForAnotherReasonReportsThatReason)
{
    const DashClip clip = add("x", {{Channel::front, pattern(1000)}});
    const QList<CacheJob> jobs = cache->pendingJobs(CachePolicy::all);
    ASSERT_EQ(jobs.size(), 1);
    CacheJob job = jobs[0];
    job.name = QString(300, 'n') + ".mp4";
    const Result<void> done = cache->perform(job);
    ASSERT_FALSE(done.ok());
    EXPECT_EQ(done.failure().cause, "couldn't be written: File name too long");
    EXPECT_EQ(storedFiles(), QStringList{});
    EXPECT_TRUE(isPending(clip.catalogKey()));
}

// A clear of everything removes the empty folders; the one a copy has just made for its file is not empty
// for long.
TEST_F(MediaCacheCopyTest, AClearRightAfterACopyMadeItsFolderLeavesTheFolderToTheCopy)
{
    const DashClip clip = add("x", {{Channel::front, pattern(1000)}});
    const QList<CacheJob> jobs = cache->pendingJobs(CachePolicy::all);
    ASSERT_EQ(jobs.size(), 1);
    bool cleared = false;
    cache->setAfterFolderMade([&] { cleared = bool(cache->clear(false)); });
    const Result<void> done = cache->perform(jobs[0]);
    ASSERT_TRUE(done.ok()) << done.error().toStdString();
    EXPECT_TRUE(cleared);
    EXPECT_EQ(readFile(root + "/" + record(clip, Channel::front).storedPath.value_or("none")), pattern(1000));
}

TEST_F(MediaCacheCopyTest, ASourceChangedAfterPlanningOrAStoreThatFailsLeavesNothingAndRecordsNothing)
{
    const QString files = root + "/Files";
    const struct {
        const char *what;
        std::function<void(const QString &)> change;
        QString error;
        QString cause; // read after "A copy" or "3 copies"
    } rows[] = {
        {"shrunk", [](const QString &path) { QFile::resize(path, 150000); }, "Copy of x_F.mp4 is incomplete.",
         "came out incomplete"},
        {"grown", [](const QString &path) { writeFile(path, pattern(200001)); },
         "Copy of x_F.mp4 is incomplete.", "came out incomplete"},
        {"vanished", [](const QString &path) { QFile::remove(path); },
         "The file “x_F.mp4” couldn't be opened: No such file or directory.",
         "couldn't be made: No such file or directory"},
        // Its cause reads as a failed write, as on a full disk where other copies fail while writing.
        {"folder not made",
         [&](const QString &) {
             QDir(files).removeRecursively();
             writeFile(files, "");
         },
         "The folder for the copy of “x_F.mp4” couldn't be created: Not a directory.",
         "couldn't be written: Not a directory"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        cache.reset();
        QDir(root).removeRecursively();
        QDir(card).removeRecursively();
        cache = open();
        const DashClip clip = add("x", {{Channel::front, pattern(200000)}});
        const QList<CacheJob> jobs = cache->pendingJobs(CachePolicy::all);
        ASSERT_EQ(jobs.size(), 1);
        row.change(clip.files.at(Channel::front));
        const Result<void> done = cache->perform(jobs[0]);
        ASSERT_FALSE(done.ok());
        EXPECT_EQ(done.error(), row.error);
        EXPECT_EQ(done.failure().cause, row.cause);
        EXPECT_EQ(storedFiles(), QStringList{});
        EXPECT_FALSE(record(clip, Channel::front).storedPath);
        EXPECT_FALSE(record(clip, Channel::front).fingerprint);
    }
}

// A source of 8 GiB that takes no room (a sparse file), so a copy runs long enough to act on it midway.
class MediaCacheLongCopyTest : public MediaCacheFixture {
protected:
    static constexpr qint64 hugeSize = qint64(8) << 30;

    // Starts copying the huge recording's front file; answers once its temporary file exists, or false when
    // the file system copied it at once (a clone).
    bool startCopy()
    {
        stop = false;
        finished = false;
        QDir().mkpath(card);
        QFile source(card + "/huge_F.mp4");
        if (!source.open(QIODevice::WriteOnly) || !source.resize(hugeSize))
            return false;
        source.close();
        DashClip clip;
        clip.name = "huge";
        clip.files[Channel::front] = source.fileName();
        clip.byteSize = hugeSize;
        cache->registerClips({clip});
        key = clip.catalogKey();
        const QList<CacheJob> jobs = cache->pendingJobs(CachePolicy::all);
        if (jobs.size() != 1)
            return false;
        worker = std::thread([this, job = jobs[0]] {
            result = cache->perform(job, &stop);
            finished = true;
        });
        return TestSupport::waitFor([&] { return done() || !partials().isEmpty(); }, 20000) && !done();
    }
    ~MediaCacheLongCopyTest() override
    {
        stop = true;
        const TestSupport::Deadline deadline(60000, "joining a stopped copy");
        if (worker.joinable())
            worker.join();
    }
    bool done() const { return finished.load(); }
    QStringList partials() const { return storedFiles().filter(".partial-"); }
    Result<void> finish()
    {
        worker.join();
        return result;
    }

    QString key;
    std::thread worker;
    Result<void> result = Failure{"not run"};
    std::atomic<bool> stop = false;
    std::atomic<bool> finished = false;
};

TEST_F(MediaCacheLongCopyTest, ACopyInProgressKeepsItsFileWhileTheCatalogIsMaintainedAndStopsWhenAsked)
{
    if (!startCopy())
        GTEST_SKIP() << "the file system copied the file at once";
    const QStringList inProgress = partials();
    ASSERT_EQ(inProgress.size(), 1);
    // These run while the copy goes on: the copy does not hold the catalog, and pruning spares its file.
    cache->remove("unknown#1", false);
    cache->clear(true);
    EXPECT_EQ(cache->usage()->cachedFiles, 0);
    EXPECT_TRUE(isPending(key));
    EXPECT_EQ(partials(), inProgress);

    stop = true;
    const Result<void> stopped = finish();
    ASSERT_FALSE(stopped.ok());
    EXPECT_EQ(stopped.error(), "Copy of huge_F.mp4 is incomplete.");
    EXPECT_EQ(storedFiles(), QStringList{});
    EXPECT_TRUE(isPending(key));
}

TEST_F(MediaCacheLongCopyTest, ASourceThatShrinksOrVanishesMidwayEndsTheCopyWithNothingLeft)
{
    const struct {
        const char *what;
        std::function<void(const QString &)> change;
    } rows[] = {
        {"shrinks", [](const QString &path) { QFile::resize(path, 1 << 20); }},
        {"vanishes", [](const QString &path) { QFile::remove(path); }},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        QDir(card).removeRecursively();
        if (!startCopy())
            GTEST_SKIP() << "the file system copied the file at once";
        row.change(card + "/huge_F.mp4");
        const Result<void> ended = finish();
        ASSERT_FALSE(ended.ok());
        EXPECT_EQ(ended.error(), "Copy of huge_F.mp4 is incomplete.");
        EXPECT_EQ(storedFiles(), QStringList{});
        EXPECT_FALSE(catalog().at(key).files.at("F").storedPath);
    }
}

// A camera still writing the file: the copy stops where the growth is seen, not at the new end, and keeps
// nothing; the recording scanned again at its finished size is planned anew.
TEST_F(MediaCacheLongCopyTest, ASourceThatGrowsMidwayStopsTheCopyThereAndIsPlannedAgainWhenFinished)
{
    constexpr qint64 growth = qint64(256) << 20;
    if (!startCopy())
        GTEST_SKIP() << "the file system copied the file at once";
    const QString source = card + "/huge_F.mp4";
    ASSERT_TRUE(QFile::resize(source, hugeSize + growth));
    qint64 largest = 0;
    while (!done()) {
        for (const QString &partial : partials())
            largest = std::max(largest, QFileInfo(root + "/Files/" + partial).size());
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const Result<void> ended = finish();
    ASSERT_FALSE(ended.ok());
    EXPECT_EQ(ended.error(), "Copy of huge_F.mp4 is incomplete.");
    EXPECT_LT(largest, hugeSize);
    EXPECT_EQ(storedFiles(), QStringList{});
    EXPECT_FALSE(catalog().at(key).files.at("F").storedPath);

    DashClip finished;
    finished.name = "huge";
    finished.files[Channel::front] = source;
    finished.byteSize = hugeSize + growth;
    cache->registerClips({finished});
    const QList<CacheJob> jobs = cache->pendingJobs(CachePolicy::all);
    ASSERT_EQ(jobs.size(), 1);
    EXPECT_EQ(jobs[0].key, finished.catalogKey());
    EXPECT_EQ(jobs[0].size, hugeSize + growth);
}

TEST_F(MediaCacheCopyTest, AGrownSourceIsCopiedWholeOnceScannedAgain)
{
    DashClip clip = add("x", {{Channel::front, pattern(200000)}});
    const QList<CacheJob> jobs = cache->pendingJobs(CachePolicy::all);
    ASSERT_EQ(jobs.size(), 1);
    const QByteArray whole = pattern(300000);
    writeFile(clip.files.at(Channel::front), whole);
    ASSERT_FALSE(cache->perform(jobs[0]).ok());
    EXPECT_EQ(storedFiles(), QStringList{});

    clip.byteSize = whole.size();
    cache->registerClips({clip});
    cacheAll();
    const auto stored = record(clip, Channel::front).storedPath;
    ASSERT_TRUE(stored);
    EXPECT_EQ(readFile(root + "/" + *stored), whole);
    EXPECT_EQ(storedFiles().size(), 1);
}

TEST_F(MediaCacheCopyTest, AStopBeforeTheStartCopiesNothing)
{
    const DashClip clip = add("x", {{Channel::front, pattern(1000)}});
    const std::atomic<bool> stop = true;
    const Result<void> done = cache->perform(cache->pendingJobs(CachePolicy::all)[0], &stop);
    ASSERT_FALSE(done.ok());
    EXPECT_EQ(done.error(), "Copy of x_F.mp4 is incomplete.");
    EXPECT_EQ(storedFiles(), QStringList{});
    EXPECT_FALSE(record(clip, Channel::front).storedPath);
}

TEST_F(MediaCacheCopyTest, CopiesAreJournaledBesideTheCatalogAndFoldedInByASaveAnOpeningOrAQuit)
{
    const DashClip a = add("a", {{Channel::front, "af"}, {Channel::rear, "ar"}});
    const QByteArray written = readFile(root + "/catalog.json");
    cacheAll();
    // Each copy appended a line instead of rewriting the catalog.
    EXPECT_EQ(readFile(root + "/catalog.json"), written);
    EXPECT_EQ(readFile(root + "/catalog.journal").count('\n'), 2);
    EXPECT_TRUE(record(a, Channel::front).storedPath);
    EXPECT_TRUE(record(a, Channel::rear).storedPath);
    const auto folded = [&] {
        const auto saved = CatalogLoader::readText(readFile(root + "/catalog.json"));
        return !QFile::exists(root + "/catalog.journal") && saved &&
               saved->at(a.catalogKey()).files.at("F").storedPath &&
               saved->at(a.catalogKey()).files.at("R").storedPath;
    };
    EXPECT_FALSE(folded());

    // A whole save takes the copies in and ends the journal.
    add("b", {{Channel::front, "bf"}});
    EXPECT_TRUE(folded());

    // A cache opened after a kill folds the journal in at once.
    const DashClip c = add("c", {{Channel::front, "cf"}});
    cacheAll();
    ASSERT_TRUE(QFile::exists(root + "/catalog.journal"));
    cache.reset();
    cache = open();
    EXPECT_EQ(cache->usage()->cachedFiles, 4);
    EXPECT_TRUE(folded());
    EXPECT_TRUE(catalog().at(c.catalogKey()).files.at("F").storedPath);

    // And so does the application's quit.
    const DashClip d = add("d", {{Channel::front, "df"}});
    cacheAll();
    ASSERT_TRUE(QFile::exists(root + "/catalog.journal"));
    cache->foldJournal();
    EXPECT_TRUE(folded());
    EXPECT_TRUE(CatalogLoader::readText(readFile(root + "/catalog.json"))
                    ->at(d.catalogKey())
                    .files.at("F")
                    .storedPath);
}

TEST_F(MediaCacheCopyTest, AKillAtAnyMomentLeavesAWholeCatalogThatNamesOnlyCompleteCopies)
{
    QList<DashClip> clips;
    for (int i = 0; i < 40; ++i)
        clips.append(add(QString("rec%1").arg(i, 2, 10, QLatin1Char('0')),
                         {{Channel::front, pattern(20000 + i * 997)}, {Channel::rear, pattern(150000 + i)}}));
    cache.reset();
    for (int delayMs : {0, 3, 10, 25, 60}) {
        const QString copy = tmp.filePath(QString("kill-%1").arg(delayMs));
        ASSERT_TRUE(QDir().mkpath(copy));
        ASSERT_EQ(std::system(qPrintable(QString("cp -a '%1/.' '%2'").arg(root, copy))), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            MediaCache killed(copy, [] { return QList<MountEntry>{}; });
            for (const CacheJob &job : killed.pendingJobs(CachePolicy::all))
                (void)killed.perform(job);
            ::pause();
            ::_exit(0);
        }
        QThread::msleep(delayMs);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);

        const auto catalog = catalogOnDisk(copy);
        ASSERT_TRUE(catalog) << delayMs;
        EXPECT_EQ(catalog->size(), clips.size());
        for (const auto &[key, entry] : *catalog)
            for (const auto &[letter, file] : entry.files) {
                if (!file.storedPath)
                    continue;
                EXPECT_FALSE(file.storedPath->contains(".partial-")) << delayMs;
                EXPECT_EQ(readFile(copy + "/" + *file.storedPath), readFile(file.originalPath))
                    << delayMs << " " << file.storedPath->toStdString();
            }
        // What the kill cut off is copied by the next run, completing the cache.
        MediaCache again(copy, [] { return QList<MountEntry>{}; });
        for (const CacheJob &job : again.pendingJobs(CachePolicy::all))
            EXPECT_TRUE(again.perform(job).ok());
        EXPECT_EQ(again.usage()->cachedFiles, 80) << delayMs;
    }
}

} // namespace
