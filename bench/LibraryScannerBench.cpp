// Times LibraryScanner::scan on synthetic camera cards of 10,000, 20,000 and 40,000 files against a bare
// recursive listing of the same tree (std::filesystem and QDirIterator), and against the same listing that
// also reads each file's size and dates. Target: scan within 1.5 times the bare listing, linear in the size.
// Columns: wall times of the fastest run; "scan cpu" is the processor time of all the scan's threads.
// Then the same trees as whole processes: this program started again to scan a tree ("--scan"), against
// find listing it (-type f), and against find also reading each file's size and dates (-printf), in
// alternating rounds, each timed from its start to its exit; and both on an empty tree, their start-up.
//
//   bench_LibraryScannerBench [rounds]
#include "BenchSupport.h"
#include "roadcore/LibraryScanner.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace {

struct Folder {
    const char *path;
    const char *prefix;
    bool channelFolders; // front and rear files in subfolders F and R
    int share;           // percent of the recordings
};

// A card laid out as the cameras do: most recordings continuous, in channel subfolders.
constexpr Folder folders[] = {
    {"cont_rec", "REC", true, 60},
    {"evt_rec", "EVT", true, 15},
    {"parking_rec", "PARK", true, 15},
    {"manual_rec", "MAN", false, 5},
    {"motion_timelapse_rec", "TL", false, 5},
};

void touch(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0)
        ::close(fd);
}

// Two channel files for each of `recordings` recordings, one minute apart.
void buildCard(const QString &card, int recordings)
{
    QDir().mkpath(card + "/SETTING");
    touch(card + "/SETTING/blackbox.cfg");
    const QDateTime start(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC);
    int made = 0;
    for (size_t f = 0; f < std::size(folders); ++f) {
        const Folder &folder = folders[f];
        const int count = f + 1 == std::size(folders) ? recordings - made : recordings * folder.share / 100;
        const QString base = card + '/' + folder.path;
        const QString front = folder.channelFolders ? base + "/F" : base;
        const QString rear = folder.channelFolders ? base + "/R" : base;
        QDir().mkpath(front);
        QDir().mkpath(rear);
        for (int i = 0; i < count; ++i, ++made) {
            const QString stem = QString::fromLatin1(folder.prefix) + '_' +
                                 start.addSecs(60LL * made).toString(QStringLiteral("yyyyMMdd_HHmmss"));
            touch(front + '/' + stem + "_F.mp4");
            touch(rear + '/' + stem + "_R.mp4");
        }
    }
}

double processCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

struct Timing {
    double wallMs = 1e300; // the fastest run (the tree is in the page cache after the first)
    double cpuMs = 1e300;  // processor time of all threads in that run
};

Timing best(int rounds, const std::function<qsizetype()> &run, qsizetype &found)
{
    Timing fastest;
    for (int i = 0; i < rounds; ++i) {
        const double cpu = processCpuMs();
        QElapsedTimer timer;
        timer.start();
        found = run();
        const double wall = timer.nsecsElapsed() / 1e6;
        if (wall < fastest.wallMs)
            fastest = {wall, processCpuMs() - cpu};
    }
    return fastest;
}

// One side of a whole-process comparison, `rounds` times: wall and processor milliseconds of each run.
struct Runs {
    std::vector<double> wall, cpu;
    bool add(const benchsupport::ProcessRun &run)
    {
        wall.push_back(run.wall * 1e3);
        cpu.push_back(run.cpu * 1e3);
        return run.ok;
    }
};

// Our scan as a whole process against find, over the same tree.
bool compareProcesses(const QString &tree, int rounds, const char *label)
{
    const QStringList scan{QCoreApplication::applicationFilePath(), "--scan", tree};
    const QStringList find{"find", tree, "-type", "f"};
    const QStringList findStat{"find", tree, "-type", "f", "-printf", "%p %s %T@ %B@\n"};
    Runs ours, theirs, ours2, theirs2;
    if (!benchsupport::alternate(
            rounds, [&] { return ours.add(benchsupport::runProcess(scan)); },
            [&] { return theirs.add(benchsupport::runProcess(find)); }) ||
        !benchsupport::alternate(
            rounds, [&] { return ours2.add(benchsupport::runProcess(scan)); },
            [&] { return theirs2.add(benchsupport::runProcess(findStat)); })) {
        std::fprintf(stderr, "a process failed on %s\n", qPrintable(tree));
        return false;
    }
    std::printf("%8s  scan %s ms (cpu %s), find %s ms (cpu %s): ratio %s;  scan %s ms, find -printf %s ms: "
                "ratio %s\n",
                label, benchsupport::spread(ours.wall, "%.1f").constData(),
                benchsupport::spread(ours.cpu, "%.0f").constData(),
                benchsupport::spread(theirs.wall, "%.1f").constData(),
                benchsupport::spread(theirs.cpu, "%.0f").constData(),
                benchsupport::spread(benchsupport::ratios(ours.wall, theirs.wall), "%.2f").constData(),
                benchsupport::spread(ours2.wall, "%.1f").constData(),
                benchsupport::spread(theirs2.wall, "%.1f").constData(),
                benchsupport::spread(benchsupport::ratios(ours2.wall, theirs2.wall), "%.2f").constData());
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--scan") {
        const qsizetype found = LibraryScanner::scan({QString::fromLocal8Bit(argv[2])}).size();
        std::printf("%lld recordings\n", static_cast<long long>(found));
        return 0;
    }
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    std::vector<std::unique_ptr<QTemporaryDir>> trees; // kept for the whole-process comparison

    std::printf("%6s %10s %10s %10s %10s %10s %8s %9s %10s %10s %9s\n", "files", "fs ms", "QDirIt ms",
                "fs+stat ms", "scan ms", "scan cpu", "scan/fs", "scan/QDir", "scan/stat", "cpu/fs cpu",
                "us/file");
    for (const int files : {10000, 20000, 40000}) {
        trees.push_back(std::make_unique<QTemporaryDir>());
        const QTemporaryDir &dir = *trees.back();
        if (!dir.isValid())
            return 1;
        const QString card = dir.path() + "/CARD";
        buildCard(card, files / 2);

        // A find-like listing: every regular file's path, as text the program could use.
        qsizetype listed = 0, iterated = 0, statted = 0, recordings = 0;
        const auto listStd = [&card] {
            std::vector<QString> paths;
            namespace fs = std::filesystem;
            std::error_code error;
            for (fs::recursive_directory_iterator it(card.toStdString(), error), end; !error && it != end;
                 it.increment(error))
                if (it->is_regular_file(error))
                    paths.push_back(QString::fromStdString(it->path().native()));
            return qsizetype(paths.size());
        };
        const auto listQt = [&card] {
            QStringList paths;
            QDirIterator it(card, QDir::Files | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
            while (it.hasNext())
                paths.append(it.next());
            return paths.size();
        };
        // The same listing that also reads each file's size and dates, as the scan must.
        const auto listStat = [&card] {
            std::vector<std::pair<QString, qint64>> paths;
            namespace fs = std::filesystem;
            std::error_code error;
            for (fs::recursive_directory_iterator it(card.toStdString(), error), end; !error && it != end;
                 it.increment(error)) {
                struct statx sx {};
                if (it->is_regular_file(error) && ::statx(AT_FDCWD, it->path().c_str(), 0,
                                                          STATX_SIZE | STATX_BTIME | STATX_MTIME, &sx) == 0)
                    paths.emplace_back(QString::fromStdString(it->path().native()), qint64(sx.stx_size));
            }
            return qsizetype(paths.size());
        };
        const auto scan = [&card] { return LibraryScanner::scan({card}).size(); };

        listStd(); // warm the page cache
        const Timing fs = best(rounds, listStd, listed);
        const Timing qt = best(rounds, listQt, iterated);
        const Timing withStat = best(rounds, listStat, statted);
        const Timing scanned = best(rounds, scan, recordings);
        std::printf("%6d %10.2f %10.2f %10.2f %10.2f %10.2f %8.2f %9.2f %10.2f %10.2f %9.3f\n", files,
                    fs.wallMs, qt.wallMs, withStat.wallMs, scanned.wallMs, scanned.cpuMs,
                    scanned.wallMs / fs.wallMs, scanned.wallMs / qt.wallMs, scanned.wallMs / withStat.wallMs,
                    scanned.cpuMs / fs.cpuMs, scanned.wallMs * 1000 / files);
        if (listed != files + 1 || iterated != files + 1 || statted != files + 1 || recordings != files / 2) {
            std::fprintf(stderr, "unexpected counts: %lld listed, %lld iterated, %lld recordings\n",
                         (long long)listed, (long long)iterated, (long long)recordings);
            return 1;
        }
    }

    std::printf("\nwhole processes, %d alternating rounds each; wall ms, median (min-max):\n", rounds);
    QTemporaryDir empty;
    if (!compareProcesses(empty.path(), rounds, "empty"))
        return 1;
    for (size_t i = 0; i < trees.size(); ++i)
        if (!compareProcesses(trees[i]->path() + "/CARD", rounds, QByteArray::number(10000 << i).constData()))
            return 1;
    return 0;
}
