// Copying a recording into the media cache against `cp` of the same file on the same disk, and the cost of a
// fingerprint across file sizes.
//
//   bench_MediaCacheCopyBench [FOLDER] [MiB]      (default: the temporary folder, 1024 MiB)
//
// Each run starts cold: the source's pages are dropped from the page cache (posix_fadvise after a sync, which
// needs no privileges and leaves other programs' pages alone) and all dirty pages are written first. A copy
// by `perform` ends with its data on disk, so it is compared with `cp` alone and with `cp` followed by
// `sync` of the copy (the like-for-like figure); the block copy alone, without the final sync, is shown too.
// Runs alternate; the best and the median of each are shown.
#include "roadcore/MediaCache.h"

#include "platform/FileCopy.h"
#include "platform/UniqueFd.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

void dropFromPageCache(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

bool writeSource(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(8 << 20, Qt::Uninitialized);
    quint64 state = 88172645463325252ull;
    for (qint64 written = 0; written < size; written += block.size()) {
        for (qsizetype i = 0; i + 8 <= block.size(); i += 8) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            std::memcpy(block.data() + i, &state, 8);
        }
        const qint64 n = qMin<qint64>(block.size(), size - written);
        if (file.write(block.constData(), n) != n)
            return false;
    }
    file.flush();
    ::fsync(file.handle());
    return true;
}

bool run(const QString &program, const QStringList &arguments)
{
    return QProcess::execute(program, arguments) == 0;
}

void settle(const QString &source)
{
    ::sync();
    dropFromPageCache(source);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double best(const std::vector<double> &values)
{
    return *std::min_element(values.begin(), values.end());
}

// Microseconds per fingerprint of the file, cold (its pages dropped first) and warm.
std::pair<double, double> fingerprintMicros(const QString &path, qint64 size, int rounds)
{
    std::vector<double> cold, warm;
    QElapsedTimer timer;
    for (int i = 0; i < rounds; ++i) {
        dropFromPageCache(path);
        timer.start();
        const bool ok = MediaCache::fingerprint(path, size).ok();
        cold.push_back(double(timer.nsecsElapsed()) / 1e3);
        timer.start();
        const bool again = MediaCache::fingerprint(path, size).ok();
        warm.push_back(double(timer.nsecsElapsed()) / 1e3);
        if (!ok || !again)
            std::fprintf(stderr, "fingerprint failed\n");
    }
    return {median(cold), median(warm)};
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString base = args.size() > 1 ? args[1] : QDir::tempPath();
    const qint64 size = (args.size() > 2 ? args[2].toLongLong() : 1024) << 20;
    QTemporaryDir tmp(base + "/roadloom-copy-bench-XXXXXX");
    if (!tmp.isValid())
        return 1;
    const QString card = tmp.filePath("CARD");
    QDir().mkpath(card);
    const QString source = card + "/20240501_083000_F.mp4";
    if (!writeSource(source, size)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(source));
        return 1;
    }
    DashClip clip;
    clip.name = "20240501_083000";
    clip.files[Channel::front] = source;
    clip.byteSize = size;

    constexpr int runs = 3;
    std::vector<double> performMs, engineMs, cpMs, cpSyncMs;
    QElapsedTimer timer;
    for (int run = 0; run < runs; ++run) {
        // perform, on a fresh cache each time so that nothing is reused
        const QString root = tmp.filePath(QString("Cache %1").arg(run));
        {
            MediaCache cache(root);
            cache.registerClips({clip});
            const QList<CacheJob> jobs = cache.pendingJobs(CachePolicy::all);
            settle(source);
            timer.start();
            const Result<void> done = cache.perform(jobs.value(0));
            performMs.push_back(double(timer.nsecsElapsed()) / 1e6);
            if (!done.ok())
                std::fprintf(stderr, "perform: %s\n", qPrintable(done.error()));
        }
        QDir(root).removeRecursively();

        // the block copy alone, left in the page cache like cp's
        const QString target = tmp.filePath("cp-target");
        settle(source);
        timer.start();
        {
            const UniqueFd in(::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC));
            const UniqueFd out(
                ::open(QFile::encodeName(target).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
            if (FileCopy::copy(in.get(), out.get(), [] { return true; }).bytes != size)
                std::fprintf(stderr, "block copy failed\n");
        }
        engineMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        QFile::remove(target);

        // cp alone; the copy's dirty pages are written by the next settle, outside the timing
        settle(source);
        timer.start();
        if (!::run("cp", {source, target}))
            std::fprintf(stderr, "cp failed\n");
        cpMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        QFile::remove(target);

        // cp, then sync of the copy: its data on disk, as perform leaves it
        settle(source);
        timer.start();
        if (!::run("cp", {source, target}) || !::run("sync", {target}))
            std::fprintf(stderr, "cp or sync failed\n");
        cpSyncMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        QFile::remove(target);
    }
    const double mib = double(size) / (1 << 20);
    std::printf("copy of %.0f MiB in %s, cold source, best / median of %d\n", mib, qPrintable(base), runs);
    std::printf("  %-14s %9.0f ms %9.0f ms  %7.0f MiB/s\n", "perform", best(performMs), median(performMs),
                mib / best(performMs) * 1000);
    std::printf("  %-14s %9.0f ms %9.0f ms  %7.0f MiB/s\n", "block copy", best(engineMs), median(engineMs),
                mib / best(engineMs) * 1000);
    std::printf("  %-14s %9.0f ms %9.0f ms  %7.0f MiB/s\n", "cp", best(cpMs), median(cpMs),
                mib / best(cpMs) * 1000);
    std::printf("  %-14s %9.0f ms %9.0f ms  %7.0f MiB/s\n", "cp + sync", best(cpSyncMs), median(cpSyncMs),
                mib / best(cpSyncMs) * 1000);
    std::printf("  perform / (cp + sync) = %.2f (best), %.2f (median)\n", best(performMs) / best(cpSyncMs),
                median(performMs) / median(cpSyncMs));
    std::printf("  block copy / cp = %.2f (best), %.2f (median); perform / cp = %.2f (best)\n",
                best(engineMs) / best(cpMs), median(engineMs) / median(cpMs), best(performMs) / best(cpMs));

    // The fingerprint reads 128 KiB whatever the size.
    std::printf("\nfingerprint, median of 20 (us)\n  %10s %10s %10s\n", "MiB", "cold", "warm");
    for (const qint64 mibs : {qint64(1), qint64(64), size >> 20}) {
        const QString path = mibs == (size >> 20) ? source : tmp.filePath(QString("f%1").arg(mibs));
        if (path != source && !writeSource(path, mibs << 20))
            return 1;
        const auto [cold, warm] = fingerprintMicros(path, mibs << 20, 20);
        std::printf("  %10lld %10.0f %10.0f\n", mibs, cold, warm);
    }
    return 0;
}
