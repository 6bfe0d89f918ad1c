// Opening a cache whose stored files no record names (their records lost to a crash): every one is compared
// with its original, all its bytes, before it is given back. The time of that first opening (the proving
// pass) against the opening of the same cache with its records in place, against `cat` of the same files and
// against `cmp` of the same pairs, one process a pair started from a shell (a yardstick of what reading both
// sides costs, timed the same way), and the time from a stop request, made a third of the way into a pass,
// to the pass's return. With "cold" the page cache is dropped before each (as root; it slows every other
// program on the machine for a while). Medians and ranges over the rounds at the end.
//
//   bench_MediaCacheAdoptionBench [FOLDER] [FILES] [MB PER FILE] [cold] [ROUNDS]   (default: temporary
//   folder, 2000, 1, warm, 5)
#include "roadcore/CatalogEntry.h"
#include "roadcore/CatalogLoader.h"
#include "roadcore/MediaCache.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

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

// Runs `command` (with the folder as $0) in a shell; its time in seconds.
double timedShell(const QString &command, const QString &folder)
{
    QElapsedTimer clock;
    clock.start();
    QProcess shell;
    shell.setStandardOutputFile(QProcess::nullDevice());
    shell.start(QStringLiteral("sh"), {QStringLiteral("-c"), command, folder});
    shell.waitForFinished(-1);
    return seconds(clock);
}

// The time from setting the stop flag, `after` seconds into the first opening's pass, to its return.
double stopLatency(const QString &root, double after)
{
    MediaCache cache(root, [] { return QList<MountEntry>{}; });
    std::atomic<bool> stop{false};
    QElapsedTimer clock;
    std::thread pass([&] { cache.clips(MediaCacheScope::all(), {}, &stop); });
    std::this_thread::sleep_for(std::chrono::duration<double>(after));
    clock.start();
    stop = true;
    pass.join();
    return seconds(clock);
}

struct Figures {
    std::vector<double> values;
    void add(double value) { values.push_back(value); }
    // "median (min–max)"
    QByteArray text(double scale = 1, const char *unit = "s") const
    {
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        if (sorted.empty())
            return "-";
        const size_t n = sorted.size();
        const double median = n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
        return QByteArray::number(median * scale, 'f', 3) + ' ' + unit + " (" +
               QByteArray::number(sorted.front() * scale, 'f', 3) + "–" +
               QByteArray::number(sorted.back() * scale, 'f', 3) + ')';
    }
};

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
    const int rounds = argc > 5 ? std::max(1, std::atoi(argv[5])) : 5;
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

    // The pairs a pass compares, for cmp: each original and its stored file.
    {
        QFile pairs(dir.filePath(QStringLiteral("pairs")));
        if (!pairs.open(QIODevice::WriteOnly))
            return 1;
        const auto recorded = CatalogLoader::readText(named);
        if (!recorded)
            return 1;
        for (const auto &[key, entry] : *recorded)
            for (const auto &[letter, record] : entry.files)
                if (record.storedPath)
                    pairs.write(QFile::encodeName(record.originalPath) + '\n' +
                                QFile::encodeName(root + QLatin1Char('/') + *record.storedPath) + '\n');
    }

    std::printf("%d stored files of %lld MiB, each with its original in place, %s\n", files,
                static_cast<long long>(bytes >> 20), cold ? "cold" : "warm");
    Figures withRecordsFigures, passFigures, catFigures, cmpFigures, stopFigures;
    for (int round = 0; round < rounds; ++round) {
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
        const double reading =
            timedShell(QStringLiteral("cat \"$0\"/card/* \"$0\"/cache/Files/*/*/* >/dev/null"), dir.path());
        dropPageCache(cold);
        const double comparing = timedShell(
            QStringLiteral(
                "while read -r a && read -r b; do cmp -s \"$a\" \"$b\" || exit 1; done <\"$0\"/pairs"),
            dir.path());
        if (!writeCatalog(unnamed))
            return 1;
        dropPageCache(cold);
        const double stopping = stopLatency(root, without / 3);
        withRecordsFigures.add(withRecords);
        passFigures.add(without);
        catFigures.add(reading);
        cmpFigures.add(comparing);
        stopFigures.add(stopping);
        std::printf("round %d: opening with records %.2f s, every file unnamed %.2f s (%.1f ms a file, "
                    "%.0f MB/s of both sides), cat of the same %.2f s, cmp of the same pairs %.2f s, stop to "
                    "return %.1f ms\n",
                    round + 1, withRecords, without, 1000 * without / files,
                    2.0 * double(bytes) * files / without / 1e6, reading, comparing, 1000 * stopping);
        std::fflush(stdout);
    }
    std::printf(
        "median (range) over %d rounds: opening with records %s, proving pass %s, cat %s, cmp %s, stop "
        "to return %s\n",
        rounds, withRecordsFigures.text().constData(), passFigures.text().constData(),
        catFigures.text().constData(), cmpFigures.text().constData(),
        stopFigures.text(1000, "ms").constData());
    return 0;
}
