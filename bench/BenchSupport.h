#pragma once

// Small measures the benchmarks share.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace benchsupport {

// The middle value (the upper of the two middles of an even count); 0 for none. Any container of doubles.
template <typename Values> double median(Values values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Kilobytes of a field of /proc/self/status ("VmRSS", "VmHWM"); -1 when it can't be read.
inline qint64 statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// One whole process from its start to its exit, as the kernel accounts the reaped child.
struct ProcessRun {
    bool ok = false;    // started, and exited with status 0
    double wall = 0;    // seconds from just before the start to just after the exit
    double cpu = 0;     // user and system seconds, all its threads
    qint64 peakKiB = 0; // its largest resident size, when asked for
};

// Runs `command` (its first word looked up on PATH) with empty input and its output sent to `output`;
// errors stay on our standard error. A child started from this process would report at least this
// process's own peak (the kernel keeps the larger across exec), so `peak` starts it through GNU time, whose
// own small start-up then counts on every side alike.
inline ProcessRun runProcess(QStringList command, const char *output = "/dev/null", bool peak = false)
{
    char peakFile[] = "/tmp/bench-peak-XXXXXX";
    if (peak) {
        const int fd = mkstemp(peakFile);
        if (fd < 0)
            return {};
        close(fd);
        command = QStringList{"/usr/bin/time", "-f", "%M", "-o", QString::fromLatin1(peakFile)} + command;
    }
    std::vector<QByteArray> words;
    for (const QString &word : command)
        words.push_back(QFile::encodeName(word));
    std::vector<char *> argv;
    for (QByteArray &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ProcessRun run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned == 0) {
        int status = 0;
        rusage usage{};
        while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
        }
        run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        run.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                  double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    if (peak) {
        QFile file(QString::fromLatin1(peakFile));
        if (file.open(QIODevice::ReadOnly))
            run.peakKiB = file.readAll().trimmed().split('\n').last().toLongLong();
        file.remove();
    }
    return run;
}

// "median (min-max)" of some figures: on a shared machine the spread says how far to trust the median.
inline QByteArray spread(std::vector<double> values, const char *format = "%.3f")
{
    if (values.empty())
        return "none";
    std::sort(values.begin(), values.end());
    const auto one = [format](double v) { return QString::asprintf(format, v).toLatin1(); };
    return one(values[values.size() / 2]) + " (" + one(values.front()) + "-" + one(values.back()) + ")";
}

// The per-round ratios a[i] / b[i]; a round whose denominator is 0 has no ratio and is left out, since a 0
// would pull the median down: `leftOut` counts those rounds.
struct RoundRatios {
    std::vector<double> values;
    int leftOut = 0;
};

inline RoundRatios roundRatios(const std::vector<double> &a, const std::vector<double> &b)
{
    RoundRatios result;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
        if (b[i] > 0)
            result.values.push_back(a[i] / b[i]);
        else
            ++result.leftOut;
    }
    return result;
}

// a[i] / b[i], pair by pair: a pair shares the machine's load of its moment. Rounds without a ratio are left
// out, and a line says how many.
inline std::vector<double> ratios(const std::vector<double> &a, const std::vector<double> &b)
{
    RoundRatios result = roundRatios(a, b);
    if (result.leftOut > 0)
        std::printf("    (%d of %zu rounds left out of a ratio: their denominator was 0)\n", result.leftOut,
                    std::min(a.size(), b.size()));
    return std::move(result.values);
}

// "min / median / max" of some figures.
inline QByteArray minMedianMax(std::vector<double> values, const char *format = "%.2f")
{
    if (values.empty())
        return "none";
    std::sort(values.begin(), values.end());
    const auto one = [format](double v) { return QString::asprintf(format, v).toLatin1(); };
    return one(values.front()) + " / " + one(values[values.size() / 2]) + " / " + one(values.back());
}

// "min / median / max" of the per-round ratios a[i] / b[i], with the number of rounds left out, if any.
inline QByteArray ratioSpread(const std::vector<double> &a, const std::vector<double> &b,
                              const char *format = "%.2f")
{
    const RoundRatios r = roundRatios(a, b);
    QByteArray text = minMedianMax(r.values, format);
    if (r.leftOut > 0)
        text += QString::asprintf(" (%d of %zu rounds left out: a denominator of 0)", r.leftOut,
                                  std::min(a.size(), b.size()))
                    .toLatin1();
    return text;
}

// The machine's load averages over 1, 5 and 15 minutes and its processor count, to print beside figures
// taken on a shared machine.
inline QByteArray loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    const QList<QByteArray> fields =
        file.open(QIODevice::ReadOnly) ? file.readAll().split(' ') : QList<QByteArray>();
    const QByteArray load = fields.size() >= 3 ? fields[0] + ' ' + fields[1] + ' ' + fields[2] : "unknown";
    return "load " + load + " on " + QByteArray::number(qlonglong(sysconf(_SC_NPROCESSORS_ONLN))) +
           " processors";
}

// Runs the two sides `rounds` times, alternating which goes first (A B, B A, ...), so that a drift in the
// machine's load meets both alike; false as soon as a side fails.
template <typename SideA, typename SideB> bool alternate(int rounds, SideA &&a, SideB &&b)
{
    for (int round = 0; round < rounds; ++round) {
        if (round % 2 == 0 ? !(a() && b()) : !(b() && a()))
            return false;
    }
    return true;
}

} // namespace benchsupport
