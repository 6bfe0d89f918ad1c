// Opening a cache whose stored files no record names (their records lost to a crash): every one is compared
// with its original, all its bytes, before it is given back. The time of that first opening against the
// opening of the same cache with its records in place, and against `cat` of the same files twice (the
// comparison reads the copy and the original). With "cold" the page cache is dropped before each (as root;
// it slows every other program on the machine for a while).
//
//   bench_MediaCacheAdoptionBench [FOLDER] [FILES] [MB PER FILE] [cold]   (default: temporary folder, 2000,
//   1)
#include "roadcore/CatalogEntry.h"
#include "roadcore/CatalogLoader.h"
#include "roadcore/MediaCache.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

double seconds(const QElapsedTimer &clock)
{
    return double(clock.nsecsElapsed()) / 1e9;
}

// Drops what the page cache holds of the files, where the system lets it.
void dropPageCache(bool cold)
{
    if (!cold)
        return;
    QProcess::execute(QStringLiteral("sync"), {});
    QFile drop(QStringLiteral("/proc/sys/vm/drop_caches"));
    if (drop.open(QIODevice::WriteOnly))
        drop.write("3\n");
}

double openAndCount(const QString &root, int *adopted)
{
    QElapsedTimer clock;
    clock.start();
    MediaCache cache(root, [] { return QList<MountEntry>{}; });
    const auto usage = cache.usage();
    const double took = seconds(clock);
    *adopted = 0;
    for (const DashClip &clip : cache.clips(MediaCacheScope::all()))
        *adopted += int(clip.cachedChannels.size());
    return usage ? took : -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString base = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
    const int files = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2000;
    const qint64 bytes = (argc > 3 ? std::max(1, std::atoi(argv[3])) : 1) * (qint64(1) << 20);
    const bool cold = argc > 4 && QByteArray(argv[4]) == "cold";
    QTemporaryDir dir(base + QStringLiteral("/adoption-bench-XXXXXX"));
    if (!dir.isValid())
        return 1;
    const QString root = dir.filePath(QStringLiteral("cache"));

    QList<DashClip> clips;
    QByteArray content(bytes, 'x');
    for (int i = 0; i < files; ++i) {
        DashClip clip;
        clip.name = QStringLiteral("REC_%1").arg(i, 6, 10, QLatin1Char('0'));
        clip.id = clip.name;
        const QString path = dir.filePath(QStringLiteral("card/") + clip.name + QStringLiteral("_F.MP4"));
        QDir().mkpath(QFileInfo(path).path());
        content.replace(0, clip.name.size(), clip.name.toLatin1());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != bytes)
            return 1;
        clip.files[Channel::front] = path;
        clip.byteSize = bytes;
        clips.append(clip);
    }
    {
        MediaCache cache(root);
        cache.registerClips(clips);
        for (const CacheJob &job : cache.pendingJobs(CachePolicy::all))
            if (!cache.perform(job))
                return 1;
        cache.foldJournal();
    }
    const QByteArray named = [&] {
        QFile file(root + QStringLiteral("/catalog.json"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    auto catalog = CatalogLoader::readText(named);
    if (!catalog)
        return 1;
    for (auto &[key, entry] : *catalog)
        for (auto &[letter, record] : entry.files) {
            record.storedPath.reset();
            record.fingerprint.reset();
        }
    const QByteArray unnamed = CatalogEntry::writeCatalog(*catalog);
    const auto writeCatalog = [&](const QByteArray &text) {
        QFile file(root + QStringLiteral("/catalog.json"));
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    };

    std::printf("%d stored files of %lld MiB, each with its original in place\n", files,
                static_cast<long long>(bytes >> 20));
    for (int round = 0; round < 3; ++round) {
        int adopted = 0;
        if (!writeCatalog(named))
            return 1;
        dropPageCache(cold);
        const double withRecords = openAndCount(root, &adopted);
        if (!writeCatalog(unnamed))
            return 1;
        dropPageCache(cold);
        const double without = openAndCount(root, &adopted);
        if (adopted != files)
            return 1;
        dropPageCache(cold);
        QElapsedTimer clock;
        clock.start();
        QProcess cat;
        cat.setStandardOutputFile(QProcess::nullDevice());
        cat.start(QStringLiteral("sh"),
                  {QStringLiteral("-c"),
                   QStringLiteral("cat \"$0\"/card/* \"$0\"/cache/Files/*/*/* >/dev/null"), dir.path()});
        cat.waitForFinished(-1);
        const double reading = seconds(clock);
        std::printf("round %d: opening with records %.2f s, every file unnamed %.2f s (%.1f ms a file, "
                    "%.0f MB/s of both sides), cat of the same %.2f s\n",
                    round + 1, withRecords, without, 1000 * without / files,
                    2.0 * double(bytes) * files / without / 1e6, reading);
        std::fflush(stdout);
    }
    return 0;
}
