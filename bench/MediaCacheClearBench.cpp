// Filling a cache with many small files, and "Clear Entire Cache" over it against `rm -rf` of the same files
// on the same disk, with the GUI thread watched for stalls while the clear runs off it.
//
//   bench_MediaCacheClearBench [FOLDER] [FILES] [fill]   (default: the temporary folder, 10000 files)
//
// The fill is measured twice in one run, with a fifth of the files and with all of them (two channels a
// recording, small files, every copy through `perform` as the coordinator makes it): its processor time
// should grow with the number of files, so the larger fill costs about five times the smaller. With "fill"
// the program stops there. Then each run clears a fresh copy of the full cache through the coordinator, as
// the settings do (the clear off the GUI thread, then the usage figures), and removes another fresh copy with
// `rm -rf`. Runs alternate; the best and the median of each are shown.
#include "GuiStallProbe.h"

#include "platform/Defaults.h"
#include "platform/FreeSpace.h"
#include "roadcore/MediaCache.h"
#include "roadloom/model/CacheBackend.h"
#include "roadloom/model/CacheCoordinator.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include <sys/resource.h>

namespace {

class AnySpace : public FreeSpace {
public:
    std::optional<qint64> bytesAvailable(const QString &) const override { return qint64(1) << 50; }
};

bool run(const QStringList &command)
{
    return QProcess::execute(command.first(), command.mid(1)) == 0;
}

double processorSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Fill {
    double cpu = 0, wall = 0;
    int stored = 0;
};

// Registers the recordings in a new cache at `root` and copies every file, as one caching run does.
std::optional<Fill> fill(const QString &root, const QList<DashClip> &clips)
{
    Fill result;
    QElapsedTimer clock;
    clock.start();
    const double cpu = processorSeconds();
    MediaCache cache(root);
    cache.registerClips(clips);
    for (const CacheJob &job : cache.pendingJobs(CachePolicy::all)) {
        if (!cache.perform(job))
            return std::nullopt;
    }
    result.cpu = processorSeconds() - cpu;
    result.wall = double(clock.nsecsElapsed()) / 1e9;
    result.stored = cache.usage()->cachedFiles;
    return result;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString base = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath();
    const int files = argc > 2 ? std::max(2, atoi(argv[2])) : 10000;
    QTemporaryDir dir(base + QStringLiteral("/clear-bench-XXXXXX"));
    if (!dir.isValid())
        return 1;

    // The originals and one filled cache.
    const QString template_ = dir.filePath(QStringLiteral("template"));
    QList<DashClip> clips;
    const QByteArray bytes(4096, 'x');
    for (int i = 0; i < files / 2; ++i) {
        DashClip clip;
        clip.name = QStringLiteral("REC_%1").arg(i, 6, 10, QLatin1Char('0'));
        clip.id = dir.filePath(QStringLiteral("card/") + clip.name);
        for (Channel channel : {Channel::front, Channel::rear}) {
            const QString path = clip.id + (channel == Channel::front ? "_F.MP4" : "_R.MP4");
            QDir().mkpath(QFileInfo(path).path());
            QFile file(path);
            // Each file its own content, so no two copies are shared.
            QByteArray content = bytes;
            content.replace(0, 16, (clip.name + (channel == Channel::front ? "F" : "R")).toLatin1());
            if (!file.open(QIODevice::WriteOnly) || file.write(content) < 0)
                return 1;
            clip.files[channel] = path;
        }
        clip.byteSize = 2 * bytes.size();
        clips.append(clip);
    }
    // The smaller fill first, so that the larger one does not find its files already in the page cache.
    const auto small =
        fill(dir.filePath(QStringLiteral("small")), clips.first(std::max<qsizetype>(1, clips.size() / 5)));
    const auto large = fill(template_, clips);
    if (!small || !large)
        return 1;
    QDir(dir.filePath(QStringLiteral("small"))).removeRecursively();
    std::printf("fill of %d files: %.2f s processor, %.2f s wall\n", small->stored, small->cpu, small->wall);
    std::printf("fill of %d files: %.2f s processor, %.2f s wall\n", large->stored, large->cpu, large->wall);
    std::printf("processor ratio: %.2f for %.2f times the files (linear anchor %.2f, target at most %.2f)\n",
                large->cpu / small->cpu, double(large->stored) / small->stored,
                double(large->stored) / small->stored, 1.2 * large->stored / small->stored);
    std::fflush(stdout);
    if (argc > 3 && std::strcmp(argv[3], "fill") == 0)
        return 0;

    std::vector<double> clears, removals;
    qint64 longestGap = 0;
    int stalls = 0;
    for (int runIndex = 0; runIndex < 3; ++runIndex) {
        const QString cleared = dir.filePath(QStringLiteral("cleared"));
        const QString removed = dir.filePath(QStringLiteral("removed"));
        if (!run({"cp", "-a", template_, cleared}) || !run({"cp", "-a", template_, removed}) ||
            !run({"sync"}))
            return 1;

        {
            Defaults defaults(dir.filePath(QStringLiteral("settings.ini")));
            AnySpace space;
            MediaCache cache(cleared);
            const std::unique_ptr<CacheBackend> backend = CacheBackend::over(cache);
            CacheCoordinator coordinator({backend.get(), &space, &defaults, [] { return std::nullopt; }});
            QEventLoop settle;
            QObject::connect(&coordinator, &CacheCoordinator::usageChanged, &settle, &QEventLoop::quit);
            settle.exec(); // the coordinator's first figures

            GuiStallProbe probe;
            QEventLoop done;
            QObject::connect(&coordinator, &CacheCoordinator::usageChanged, &done, &QEventLoop::quit);
            QElapsedTimer clock;
            probe.start();
            clock.start();
            coordinator.clear(false).then([&coordinator] { coordinator.refreshUsage(); });
            done.exec();
            clears.push_back(double(clock.nsecsElapsed()) / 1e6);
            probe.stop();
            longestGap = std::max(longestGap, probe.longestGap());
            stalls += probe.stalls();
            if (coordinator.usage()->cachedFiles != 0)
                return 1;
        }

        QElapsedTimer clock;
        clock.start();
        if (!run({"rm", "-rf", removed}))
            return 1;
        removals.push_back(double(clock.nsecsElapsed()) / 1e6);
        QDir(cleared).removeRecursively();
    }

    std::printf("clear of %d files: best %.0f ms, median %.0f ms\n", files,
                *std::min_element(clears.begin(), clears.end()), median(clears));
    std::printf("rm -rf of the same: best %.0f ms, median %.0f ms\n",
                *std::min_element(removals.begin(), removals.end()), median(removals));
    std::printf("ratio (medians): %.2f (target at most 2)\n", median(clears) / median(removals));
    std::printf("GUI thread: longest gap %lld ms, %d stalls over 50 ms\n", static_cast<long long>(longestGap),
                stalls);
    return 0;
}
