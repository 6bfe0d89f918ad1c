// Times LibraryScanner::scan on synthetic camera cards of 10,000, 20,000 and 40,000 files against a bare
// recursive listing of the same tree (std::filesystem and QDirIterator), and against the same listing that
// also reads each file's size and dates. Target: scan within 1.5 times the bare listing, linear in the size.
// In process, the four take turns within each round, in reverse order every other round, so that each goes
// before and after each other one alike; "scan cpu" is the processor time of all the scan's threads. Then the
// same trees as whole processes: this program started again to scan a tree ("--scan"), against find listing
// it (-type f), and against find also reading each file's size and dates (-printf), in alternating rounds,
// each timed from its start to its exit; and both on an empty tree, their start-up. Ratios are per round, as
// min / median / max.
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

// The milliseconds of each round of one side: wall time, and processor time of all threads.
struct Timing {
    std::vector<double> wallMs, cpuMs;
    qsizetype found = 0;

    void run(const std::function<qsizetype()> &work)
    {
        const double cpu = processCpuMs();
        QElapsedTimer timer;
        timer.start();
        found = work();
        wallMs.push_back(timer.nsecsElapsed() / 1e6);
        cpuMs.push_back(processCpuMs() - cpu);
    }
};

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
    // One untimed run of each side first, so that neither meets a cold cache in its first round.
    for (const QStringList *command : {&scan, &find, &findStat}) {
        if (!benchsupport::runProcess(*command).ok) {
            std::fprintf(stderr, "%s failed\n", qPrintable(command->join(' ')));
            return false;
        }
    }
    if (!benchsupport::alternate(
            rounds, [&] { return ours.add(benchsupport::runProcess(scan)); },
            [&] { return theirs.add(benchsupport::runProcess(find)); }) ||
        !benchsupport::alternate(
            rounds, [&] { return ours2.add(benchsupport::runProcess(scan)); },
            [&] { return theirs2.add(benchsupport::runProcess(findStat)); })) {
        std::fprintf(stderr, "a process failed on %s\n", qPrintable(tree));
        return false;
    }
    std::printf("%8s  scan %s ms (cpu %s), find %s ms (cpu %s)\n", label,
                benchsupport::minMedianMax(ours.wall, "%.1f").constData(),
                benchsupport::minMedianMax(ours.cpu, "%.0f").constData(),
                benchsupport::minMedianMax(theirs.wall, "%.1f").constData(),
                benchsupport::minMedianMax(theirs.cpu, "%.0f").constData());
    std::printf("          scan / find: wall %s, cpu %s\n",
                benchsupport::ratioSpread(ours.wall, theirs.wall).constData(),
                benchsupport::ratioSpread(ours.cpu, theirs.cpu).constData());
    std::printf("          scan %s ms, find -printf %s ms; scan / find -printf: wall %s\n",
                benchsupport::minMedianMax(ours2.wall, "%.1f").constData(),
                benchsupport::minMedianMax(theirs2.wall, "%.1f").constData(),
                benchsupport::ratioSpread(ours2.wall, theirs2.wall).constData());
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

    std::printf("in process, %d rounds (%s); ms are medians, ratios per round min / median / max:\n", rounds,
                benchsupport::loadAverage().constData());
    for (const int files : {10000, 20000, 40000}) {
        trees.push_back(std::make_unique<QTemporaryDir>());
        const QTemporaryDir &dir = *trees.back();
        if (!dir.isValid())
            return 1;
        const QString card = dir.path() + "/CARD";
        buildCard(card, files / 2);

        // A find-like listing: every regular file's path, as text the program could use.
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

        Timing fs, qt, withStat, scanned;
        const std::pair<Timing *, const std::function<qsizetype()>> sides[] = {
            {&fs, listStd}, {&qt, listQt}, {&withStat, listStat}, {&scanned, scan}};
        constexpr int sideCount = int(std::size(sides));
        // One untimed run of each side first: the page cache warm, and each side's first allocations done.
        for (const auto &side : sides)
            side.second();
        for (int round = 0; round < rounds; ++round)
            for (int k = 0; k < sideCount; ++k) {
                const auto &[timing, work] = sides[round % 2 == 0 ? k : sideCount - 1 - k];
                timing->run(work);
            }
        const auto ms = [](const std::vector<double> &v) { return benchsupport::median(v); };
        std::printf("%6d files: fs %.2f, QDirIterator %.2f, fs+stat %.2f, scan %.2f (cpu %.2f) ms; %.3f us a "
                    "file\n",
                    files, ms(fs.wallMs), ms(qt.wallMs), ms(withStat.wallMs), ms(scanned.wallMs),
                    ms(scanned.cpuMs), ms(scanned.wallMs) * 1000 / files);
        std::printf("       scan / fs %s, scan / QDirIterator %s, scan / fs+stat %s, scan cpu / fs cpu %s\n",
                    benchsupport::ratioSpread(scanned.wallMs, fs.wallMs).constData(),
                    benchsupport::ratioSpread(scanned.wallMs, qt.wallMs).constData(),
                    benchsupport::ratioSpread(scanned.wallMs, withStat.wallMs).constData(),
                    benchsupport::ratioSpread(scanned.cpuMs, fs.cpuMs).constData());
        const qsizetype listed = fs.found, iterated = qt.found, statted = withStat.found,
                        recordings = scanned.found;
        if (listed != files + 1 || iterated != files + 1 || statted != files + 1 || recordings != files / 2) {
            std::fprintf(stderr, "unexpected counts: %lld listed, %lld iterated, %lld recordings\n",
                         (long long)listed, (long long)iterated, (long long)recordings);
            return 1;
        }
    }

    std::printf("\nwhole processes, %d alternating rounds each (%s); ms min / median / max:\n", rounds,
                benchsupport::loadAverage().constData());
    QTemporaryDir empty;
    if (!compareProcesses(empty.path(), rounds, "empty"))
        return 1;
    for (size_t i = 0; i < trees.size(); ++i)
        if (!compareProcesses(trees[i]->path() + "/CARD", rounds, QByteArray::number(10000 << i).constData()))
            return 1;
    return 0;
}
