// Stored files that no record names (their records lost to a crash, or to a catalog set aside) are given
// back to a recording only when they are proven to be its file; the rest is kept or swept, never given to
// the wrong recording.
#include "MediaCacheFixture.h"

#include <QFile>

#include <functional>
#include <future>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

using TestSupport::readFile;
using TestSupport::writeFile;

class MediaCacheAdoptionTest : public MediaCacheFixture {
protected:
    // 200 KB of a pattern, with one byte in the middle changed by `change`: the fingerprint samples only the
    // first and last 64 KiB, so every variant has the same one.
    static QByteArray picture(char change = 0)
    {
        QByteArray bytes = pattern(200000);
        bytes[100000] = char(bytes[100000] ^ change);
        return bytes;
    }

    // Rewrites the catalog on disk as a crash that lost records leaves it; the cache is closed first.
    void rewriteCatalog(const std::function<void(CatalogEntry::Catalog &)> &change)
    {
        cache.reset();
        CatalogEntry::Catalog onDisk = catalog();
        change(onDisk);
        writeFile(root + "/catalog.json", CatalogEntry::writeCatalog(onDisk));
        QFile::remove(root + "/catalog.journal");
    }
    // The copy's record lost, and with it the fingerprint unless `keepFingerprint`.
    void loseRecords(const QList<std::pair<DashClip, Channel>> &files, bool keepFingerprint = false)
    {
        rewriteCatalog([&](CatalogEntry::Catalog &onDisk) {
            for (const auto &[clip, channel] : files) {
                CatalogEntry::File &file = onDisk.at(clip.catalogKey()).files.at(rawValue(channel));
                file.storedPath.reset();
                if (!keepFingerprint)
                    file.fingerprint.reset();
            }
        });
    }

    std::optional<QString> storedPath(const DashClip &clip, Channel channel) const
    {
        const auto path = record(clip, channel).storedPath;
        return path ? std::optional<QString>(*path) : std::nullopt;
    }

    void copy(const DashClip &clip, Channel channel)
    {
        for (const CacheJob &job : cache->pendingJobs(CachePolicy::all)) {
            if (job.key == clip.catalogKey() && job.channel == channel) {
                ASSERT_TRUE(cache->perform(job).ok());
            }
        }
        ASSERT_TRUE(storedPath(clip, channel));
    }

    // Opens the cache on the same folder and reads its catalog, which adopts what it can.
    void reopen()
    {
        cache = open();
        ASSERT_TRUE(cache->usage());
    }

    // A recording "REC" on a card of its own: on every card its front file has the same name.
    DashClip onCard(const QString &name, const QByteArray &front, const QByteArray &rear)
    {
        return add("REC", {{Channel::front, front}, {Channel::rear, rear}}, utc(2024, 5, 1),
                   ClipCategory::continuous, tmp.filePath(name));
    }

    // Reopens the cache with stored files read for proof through `reads`.
    void openProving(const CopyAdoption::Reads &reads)
    {
        cache = std::make_unique<MediaCache>(
            root, [] { return QList<MountEntry>{}; }, CatalogLoader::Options{}, reads);
    }

    void away(const QString &folder) { ASSERT_TRUE(QDir().rename(folder, folder + " away")); }
    void back(const QString &folder) { ASSERT_TRUE(QDir().rename(folder + " away", folder)); }
};

TEST_F(MediaCacheAdoptionTest, AFileSeveralRecordingsMayBeIsKeptForNoneUntilItsOriginalReturns)
{
    // Two cards, each with a recording whose front file has the same name and size, other pictures.
    const QString one = tmp.filePath("ONE"), two = tmp.filePath("TWO");
    const DashClip first = onCard("ONE", picture(), "rear");
    const DashClip second = onCard("TWO", picture(1), "longer rear");
    copy(first, Channel::front);
    loseRecords({{first, Channel::front}});
    const QStringList stored = storedFiles();
    ASSERT_EQ(stored.size(), 1);

    away(one);
    away(two);
    reopen();
    EXPECT_FALSE(storedPath(first, Channel::front));
    EXPECT_FALSE(storedPath(second, Channel::front));
    // Every sweep keeps it.
    EXPECT_TRUE(cache->clear(true));
    EXPECT_TRUE(cache->removeReplaceableCopies(second.catalogKey()));
    EXPECT_TRUE(cache->remove("unknown#0", false));
    EXPECT_EQ(storedFiles(), stored);
    EXPECT_FALSE(storedPath(second, Channel::front));

    back(one);
    reopen();
    EXPECT_EQ(storedPath(first, Channel::front), "Files/" + stored.first());
    EXPECT_FALSE(storedPath(second, Channel::front));

    // The second recording's front file is copied once its card is back.
    back(two);
    cacheAll();
    EXPECT_EQ(storedFiles().size(), 4);
    const auto secondCopy = storedPath(second, Channel::front);
    ASSERT_TRUE(secondCopy);
    EXPECT_EQ(readFile(root + "/" + *secondCopy), picture(1));
}

TEST_F(MediaCacheAdoptionTest, WithItsOriginalInPlaceOnlyACopyEqualInEveryByteIsAdopted)
{
    const DashClip x = add("x", {{Channel::front, picture()}, {Channel::rear, picture(2)}});
    cacheAll();
    const QString damaged = root + "/" + *storedPath(x, Channel::front);
    const QString whole = *storedPath(x, Channel::rear);
    // Both records lost, though the catalog kept their fingerprints: the original decides.
    loseRecords({{x, Channel::front}, {x, Channel::rear}}, true);
    writeFile(damaged, picture(4));

    reopen();
    EXPECT_EQ(storedPath(x, Channel::rear), whole);
    EXPECT_FALSE(storedPath(x, Channel::front));
    // Copied again beside it, never over it.
    cacheAll();
    const auto copied = storedPath(x, Channel::front);
    ASSERT_TRUE(copied);
    EXPECT_TRUE(copied->endsWith("/x_F 2.mp4")) << copied->toStdString();
    EXPECT_EQ(readFile(root + "/" + *copied), picture());
    EXPECT_EQ(readFile(damaged), picture(4));
    // No record names the damaged one: the next sweep takes it.
    EXPECT_TRUE(cache->remove("unknown#0", false));
    EXPECT_FALSE(QFile::exists(damaged));
    EXPECT_EQ(storedFiles().size(), 2);
}

TEST_F(MediaCacheAdoptionTest, WithItsOriginalAwayARecordsOwnFingerprintDecides)
{
    // Two recordings whose front files share a name and a size, stored apart by their fingerprints.
    const QString one = tmp.filePath("ONE"), two = tmp.filePath("TWO");
    QByteArray other = picture();
    other[10] = 'x';
    const DashClip first = onCard("ONE", picture(), "rear");
    const DashClip second = onCard("TWO", other, "longer rear");
    // A third that never had a copy and may be either.
    const QString three = tmp.filePath("THREE");
    onCard("THREE", picture(64), "the longest rear");
    copy(first, Channel::front);
    copy(second, Channel::front);
    const QString firstCopy = *storedPath(first, Channel::front);
    const QString secondCopy = *storedPath(second, Channel::front);
    loseRecords({{first, Channel::front}, {second, Channel::front}}, true);
    away(one);
    away(two);
    away(three);

    reopen();
    EXPECT_EQ(storedPath(first, Channel::front), firstCopy);
    EXPECT_EQ(storedPath(second, Channel::front), secondCopy);
}

TEST_F(MediaCacheAdoptionTest, AFileWhoseContentIsNotItsFoldersFingerprintIsNoCopy)
{
    const DashClip x = add("x", {{Channel::front, picture()}});
    cacheAll();
    const QString stored = root + "/" + *storedPath(x, Channel::front);
    loseRecords({{x, Channel::front}});
    // Of the catalogued name and size, in the folder of the file's fingerprint, but other bytes at its start.
    QByteArray impostor = picture();
    impostor[0] = 'x';
    writeFile(stored, impostor);
    away(card);

    reopen();
    EXPECT_FALSE(storedPath(x, Channel::front));
    EXPECT_TRUE(cache->remove("unknown#0", false));
    EXPECT_EQ(storedFiles(), QStringList{});
}

TEST_F(MediaCacheAdoptionTest, ARecordWithNeitherFingerprintNorOriginalTakesNoFileEvenAsTheOneItMayBe)
{
    const QString one = tmp.filePath("ONE"), two = tmp.filePath("TWO");
    const DashClip first = onCard("ONE", picture(), "rear");
    const DashClip second = onCard("TWO", picture(1), "longer rear");
    copy(first, Channel::front);
    const QString stored = *storedPath(first, Channel::front);
    loseRecords({{first, Channel::front}});
    // The other card in place proves the file is not its recording's, but one recording the catalog does not
    // know may be it as well: it is kept for none until its own card is back.
    away(one);
    reopen();
    EXPECT_FALSE(storedPath(first, Channel::front));
    EXPECT_TRUE(cache->remove("unknown#0", false));
    EXPECT_TRUE(QFile::exists(root + "/" + stored));
    back(one);
    reopen();
    EXPECT_EQ(storedPath(first, Channel::front), stored);
    EXPECT_FALSE(storedPath(second, Channel::front));
}

TEST_F(MediaCacheAdoptionTest, AFileGoesToNoRecordOnlyBecauseTheCatalogKnowsNoOtherItMayBe)
{
    // Card A's front file and the look-alike B's share a name and a size; A's was copied, B's not. Each case
    // ends with both cards away and B the one catalogued recording A's stored file may be.
    const struct {
        const char *what;
        std::function<DashClip(const DashClip &a)> lookAlike;
    } cases[] = {
        {"the catalog was lost",
         [this](const DashClip &) {
             cache.reset();
             QFile::remove(root + "/catalog.json");
             QFile::remove(root + "/catalog.journal");
             reopen();
             return onCard("B", picture(1), "longer rear");
         }},
        {"the other recording it may be went to the Trash",
         [this](const DashClip &a) {
             const DashClip b = onCard("B", picture(1), "longer rear");
             loseRecords({{a, Channel::front}});
             away(tmp.filePath("A"));
             away(tmp.filePath("B"));
             reopen();
             EXPECT_TRUE(cache->remove(a.catalogKey(), true));
             back(tmp.filePath("A"));
             back(tmp.filePath("B"));
             return b;
         }},
        {"an unreadable catalog was set aside",
         [this](const DashClip &) {
             cache.reset();
             writeFile(root + "/catalog.json", "[{\"key\":");
             QFile::remove(root + "/catalog.journal");
             reopen();
             const DashClip b = onCard("B", picture(1), "longer rear");
             EXPECT_TRUE(cache->takeSetAsideCatalog());
             return b;
         }},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        root = tmp.filePath(QString("cache %1").arg(++n));
        cache = open();
        const QString a = tmp.filePath("A"), b = tmp.filePath("B");
        QDir(a).removeRecursively();
        QDir(b).removeRecursively();
        const DashClip first = onCard("A", picture(), "rear");
        copy(first, Channel::front);
        const QString stored = root + "/" + *storedPath(first, Channel::front);
        const DashClip lookAlike = c.lookAlike(first);
        away(a);
        away(b);
        reopen();
        EXPECT_FALSE(storedPath(lookAlike, Channel::front));
        EXPECT_FALSE(cache->resolveForPlayback(lookAlike).cachedChannels.contains(Channel::front));
        EXPECT_TRUE(cache->remove("unknown#0", false));
        EXPECT_EQ(readFile(stored), picture());

        // Its own card back, B is copied from its own file.
        back(b);
        cacheAll();
        const auto copied = storedPath(lookAlike, Channel::front);
        ASSERT_TRUE(copied);
        EXPECT_EQ(readFile(root + "/" + *copied), picture(1));
        back(a);
    }
}

TEST_F(MediaCacheAdoptionTest, AReadableLineOfAJournalSetAsideProvesWhoseFileItIs)
{
    const DashClip x = add("x", {{Channel::front, picture()}});
    copy(x, Channel::front);
    const CatalogEntry::File file = record(x, Channel::front);
    loseRecords({{x, Channel::front}});
    writeFile(root + "/catalog.journal.unapplied-20240501T080000Z",
              CatalogJournal::line({x.catalogKey(), "F", *file.fingerprint, *file.storedPath}));
    away(card);
    reopen();
    EXPECT_EQ(storedPath(x, Channel::front), file.storedPath);
}

TEST_F(MediaCacheAdoptionTest, ANumberedCopyIsGivenBackToItsOwnRecording)
{
    const DashClip x = add("x", {{Channel::front, picture()}});
    const QString print = *MediaCache::fingerprint(x.files.at(Channel::front), 200000);
    const QString folder = "Files/" + print.left(2) + "/" + print;
    // The name was taken by a file of other bytes when the copy was made.
    writeFile(root + "/" + folder + "/x_F.mp4", picture(16));
    cache.reset();
    writeFile(root + "/catalog.journal.unapplied-20240501T080000Z",
              CatalogJournal::line({"elsewhere#1", "F", print, folder + "/x_F.mp4"}));
    reopen();
    cacheAll();
    ASSERT_EQ(storedPath(x, Channel::front), folder + "/x_F 2.mp4");
    loseRecords({{x, Channel::front}});
    reopen();
    EXPECT_EQ(storedPath(x, Channel::front), folder + "/x_F 2.mp4");
}

TEST_F(MediaCacheAdoptionTest, ACopyTheUserRemovedGoesThoughAJournalSetAsideNamesItAndStaysGone)
{
    const DashClip x = add("x", {{Channel::front, picture()}});
    const DashClip y = add("y", {{Channel::front, picture(8)}, {Channel::rear, "rear of y"}});
    cacheAll();
    cache->foldJournal();
    cache.reset();
    QByteArray journal;
    for (const DashClip &clip : {x, y})
        for (const auto &[channel, path] : clip.files) {
            const CatalogEntry::File file = record(clip, channel);
            journal += CatalogJournal::line(
                {clip.catalogKey(), rawValue(channel), *file.fingerprint, *file.storedPath});
        }
    writeFile(root + "/catalog.journal.unapplied-20240501T080000Z", journal);

    reopen();
    ASSERT_TRUE(cache->removeReplaceableCopies(x.catalogKey()));
    EXPECT_EQ(storedFiles().size(), 2);
    ASSERT_TRUE(cache->clear(true));
    EXPECT_EQ(storedFiles(), QStringList{});

    // Not given back by the next start: planned and copied anew.
    reopen();
    EXPECT_FALSE(storedPath(x, Channel::front));
    EXPECT_EQ(cache->pendingJobs(CachePolicy::all).size(), 3);
}

TEST_F(MediaCacheAdoptionTest, ACopyIsNeverInstalledOverAFileThatWhatWasSetAsideMayName)
{
    const DashClip x = add("x", {{Channel::front, picture()}});
    const QString folder = "Files/" + MediaCache::fingerprint(x.files.at(Channel::front), 200000)->left(2) +
                           "/" + *MediaCache::fingerprint(x.files.at(Channel::front), 200000);
    // Another recording's copy of the same fingerprint and name, whose record only a journal set aside holds.
    const QString spared = folder + "/x_F.mp4";
    writeFile(root + "/" + spared, picture(16));
    cache.reset();
    writeFile(root + "/catalog.journal.unapplied-20240501T080000Z",
              CatalogJournal::line({"elsewhere#1", "F", folder.section('/', 2), spared}));

    reopen();
    cacheAll();
    EXPECT_EQ(storedPath(x, Channel::front), folder + "/x_F 2.mp4");
    EXPECT_EQ(readFile(root + "/" + spared), picture(16));
    EXPECT_EQ(readFile(root + "/" + folder + "/x_F 2.mp4"), picture());
}

TEST_F(MediaCacheAdoptionTest, AfterAnUnreadableCatalogWasSetAsideItsCopiesAreTakenNotCopiedAgain)
{
    const DashClip x = add("x", {{Channel::front, picture()}, {Channel::rear, picture(32)}});
    cacheAll();
    const QStringList stored = storedFiles();
    cache.reset();
    writeFile(root + "/catalog.json", "[{\"key\":");
    QFile::remove(root + "/catalog.journal");

    reopen();
    cache->registerClips({x});
    ASSERT_TRUE(cache->takeSetAsideCatalog());
    cacheAll();
    EXPECT_EQ(storedFiles(), stored);
    EXPECT_EQ(storedPath(x, Channel::front), "Files/" + stored.filter("x_F").first());
    EXPECT_EQ(storedPath(x, Channel::rear), "Files/" + stored.filter("x_R").first());
}

// A proving pass reads whole files: it stops with the caller's flag, lets the other calls through and
// reads a file once while it stays unchanged.
TEST_F(MediaCacheAdoptionTest, AStopEndsAPassWithinAFileAndNothingHalfReadIsRemembered)
{
    const DashClip x = add("x", {{Channel::front, pattern(5 << 20)}});
    copy(x, Channel::front);
    const QString stored = *storedPath(x, Channel::front);
    loseRecords({{x, Channel::front}}); // only its bytes can prove it
    std::atomic<bool> stop{false};
    int chunks = 0, comparisons = 0;
    CopyAdoption::Reads reads;
    reads.compare = [&](const QString &a, const QString &b, const std::function<bool()> &proceed) {
        ++comparisons;
        return CopyAdoption::compareFiles(a, b, [&] {
            if (++chunks == 2)
                stop = true; // as the quit would, in the middle of the file
            return proceed();
        });
    };
    openProving(reads);
    EXPECT_TRUE(cache->remove("unknown#0", false, &stop));
    EXPECT_EQ(chunks, 2);
    EXPECT_FALSE(storedPath(x, Channel::front));
    EXPECT_TRUE(QFile::exists(root + "/" + stored));

    stop = false;
    EXPECT_TRUE(cache->remove("unknown#0", false, &stop));
    EXPECT_EQ(comparisons, 2);
    EXPECT_EQ(storedPath(x, Channel::front), stored);
}

TEST_F(MediaCacheAdoptionTest, OtherCallsGoOnWhileAComparisonIsHeldAndACopyRecordedMeanwhileStaysOne)
{
    const DashClip x = add("x", {{Channel::front, picture()}});
    copy(x, Channel::front);
    const QString stored = *storedPath(x, Channel::front);
    loseRecords({{x, Channel::front}});
    std::promise<void> entered, release;
    std::shared_future<void> released = release.get_future().share();
    CopyAdoption::Reads reads;
    reads.compare = [&](const QString &a, const QString &b, const std::function<bool()> &proceed) {
        entered.set_value();
        released.wait();
        return CopyAdoption::compareFiles(a, b, proceed);
    };
    openProving(reads);
    std::thread pass([&] { EXPECT_TRUE(cache->remove("unknown#0", false)); });
    entered.get_future().wait();
    EXPECT_EQ(cache->clips(MediaCacheScope::all()).size(), 1);
    // A sweep meanwhile leaves the file being read to that pass, and keeps it.
    EXPECT_TRUE(cache->remove("unknown#0", false));
    EXPECT_TRUE(QFile::exists(root + "/" + stored));
    // A copy planned and taken from the stored file while the pass holds it.
    cacheAll();
    EXPECT_EQ(storedPath(x, Channel::front), stored);
    release.set_value();
    pass.join();
    EXPECT_EQ(storedPath(x, Channel::front), stored);
    EXPECT_EQ(storedFiles().size(), 1);
}

TEST_F(MediaCacheAdoptionTest, APassReadsAFileOnceUntilItChanges)
{
    const DashClip x = add("x", {{Channel::front, picture()}});
    const QString print = *MediaCache::fingerprint(x.files.at(Channel::front), 200000);
    const QString stored = root + "/Files/" + print.left(2) + "/" + print + "/x_F.mp4";
    // Of x's name, size and fingerprint but not its bytes; kept by every sweep for a journal set aside.
    cache.reset();
    writeFile(root + "/catalog.journal.unapplied-20240501T080000Z",
              CatalogJournal::line({"elsewhere#1", "F", print, stored.mid(root.size() + 1)}));
    const auto write = [](const QString &path, time_t modified) {
        writeFile(path, picture(4));
        const struct timespec times[2] = {{0, UTIME_OMIT}, {modified, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
    };
    const struct {
        const char *what;
        std::function<void()> change;
    } cases[] = {
        {"its modification time", [&] { write(stored, 1700000060); }},
        {"its inode, the same bytes and time",
         [&] {
             write(stored + ".new", 1700000000);
             ASSERT_TRUE(QFile::remove(stored) && QFile::rename(stored + ".new", stored));
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        write(stored, 1700000000);
        int fingerprints = 0, comparisons = 0;
        CopyAdoption::Reads reads;
        reads.fingerprint = [&](const QString &path, qint64 size) {
            ++fingerprints;
            return MediaCache::fingerprint(path, size);
        };
        reads.compare = [&](const QString &a, const QString &b, const std::function<bool()> &proceed) {
            ++comparisons;
            return CopyAdoption::compareFiles(a, b, proceed);
        };
        openProving(reads);
        EXPECT_TRUE(cache->remove("unknown#0", false));
        EXPECT_TRUE(cache->clear(true));
        EXPECT_EQ(std::pair(fingerprints, comparisons), std::pair(1, 1));
        c.change();
        EXPECT_TRUE(cache->removeReplaceableCopies(x.catalogKey()));
        EXPECT_EQ(std::pair(fingerprints, comparisons), std::pair(2, 2));
        EXPECT_FALSE(storedPath(x, Channel::front));
        EXPECT_TRUE(QFile::exists(stored));
    }
}

} // namespace
