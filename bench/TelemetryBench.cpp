// Reading the telemetry of one long drive: 1.12 million sentences (about 30 MB), as a camera writes them
// (every 100 ms a G-sensor line, every second an RMC and a GGA sentence). Targets: at least 5 times
// gpsbabel's speed; at least 100 MB/s on one core for both record shapes (the parser called on records in
// memory); a whole-process peak of at most 4 times the input's size while parsing.
// First, whole processes in alternating rounds, both reading the same file of sentences, each alone and with
// both writing the track as GPX: the application's path (this program started again with --search, which
// reads the file as the application reads a file that is not a movie), with its peak memory; then, labelled
// as such, a reader that exists only here (--lines: the file cut into a camera's records and handed to the
// parser). Each line gives min / median / max of the per-round ratio. Then the parser alone, in memory.
// Usage: bench_TelemetryBench [SENTENCES] [ROUNDS]
#include "BenchSupport.h"
#include "roadcore/TelemetryExporter.h"
#include "roadcore/TelemetryParser.h"
#include "roadcore/TelemetryReader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

#include <malloc.h>

namespace {

// Processor time of this thread: fair on a machine that is busy with other work.
double threadSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + ts.tv_nsec / 1e9;
}

QByteArray format(const char *pattern, auto... values)
{
    return QString::asprintf(pattern, values...).toLatin1();
}

QByteArray withChecksum(const QByteArray &body)
{
    quint8 sum = 0;
    for (char c : body)
        sum ^= quint8(c);
    return "$" + body + format("*%02X", sum);
}

QByteArray nmeaAngle(double degrees, int degreeDigits)
{
    const double a = std::abs(degrees);
    const int whole = int(a);
    return format("%0*d%07.4f", degreeDigits, whole, (a - whole) * 60);
}

// With `perSecond`, one record holds a whole second (as a text-track sample does); otherwise a record holds
// 100 ms: a G-sensor line, and every tenth one also the RMC and GGA sentences. The records are pieces of one
// buffer, as a reader hands them over; `stream` is that buffer.
QList<RawRecord> drive(qint64 sentences, bool perSecond, QByteArray &stream)
{
    stream.clear();
    std::vector<qsizetype> starts;
    qint64 made = 0;
    for (qint64 tenth = 0; made < sentences; ++tenth) {
        if (!perSecond || tenth % 10 == 0)
            starts.push_back(stream.size());
        if (tenth % 10 == 0) {
            const qint64 s = tenth / 10;
            const QByteArray time = format("%02lld%02lld%02lld.00", (s / 3600) % 24, (s / 60) % 60, s % 60);
            const QByteArray date = format("%02lld0524", 1 + (s / 86400) % 28);
            const double lat = 48.1 + 0.0001 * std::sin(s / 600.0) + s * 1e-6;
            const double lon = 11.5 + s * 1.5e-6;
            const QByteArray latText = nmeaAngle(lat, 2), lonText = nmeaAngle(lon, 3);
            stream += withChecksum("GPRMC," + time + ",A," + latText + ",N," + lonText + ",E," +
                                   format("%.1f,%.1f,", 30 + 10 * std::sin(s / 60.0), std::fmod(s, 360.0)) +
                                   date + ",,,A") +
                      "\r\n";
            stream += withChecksum("GPGGA," + time + "," + latText + ",N," + lonText + ",E,1,09,0.9," +
                                   format("%.1f", 500 + std::fmod(s, 50.0)) + ",M,46.9,M,,") +
                      "\r\n";
            made += 2;
        }
        stream +=
            format("gsensor,%d,%d,%d\r\n", int(tenth % 23) - 11, int(tenth % 7) - 3, 128 + int(tenth % 5));
        ++made;
    }
    stream.squeeze();
    const TextRef whole(stream);
    QList<RawRecord> records;
    records.reserve(qsizetype(starts.size()));
    for (size_t i = 0; i < starts.size(); ++i) {
        const qsizetype end = i + 1 < starts.size() ? starts[i + 1] : stream.size();
        records.append({qint64(i), std::nullopt, whole.piece(starts[i], end - starts[i])});
    }
    return records;
}

} // namespace

struct Measure {
    double seconds = 0; // processor time of the best of seven runs
    double wall = 0;
};

Measure measure(const QList<RawRecord> &records, double duration)
{
    Measure best{1e9, 1e9};
    for (int run = 0; run < 7; ++run) {
        // The reader hands its records over: each run gets a list of its own.
        QList<RawRecord> own = records;
        own.detach();
        QElapsedTimer timer;
        timer.start();
        const double before = threadSeconds();
        const Telemetry t = TelemetryParser::build(std::move(own), duration, "MP4 text track");
        best.seconds = std::min(best.seconds, threadSeconds() - before);
        best.wall = std::min(best.wall, timer.nsecsElapsed() / 1e9);
        if (t.gps.isEmpty())
            std::printf("no fixes?\n");
    }
    return best;
}

namespace {

// Run in a child process of its own, so that its peak is that of making the records and parsing them
// alone: the whole process, as a user would see it, against the input's size.
int measureMemory(qint64 sentences, bool perSecond)
{
    QList<RawRecord> records;
    qint64 bytes = 0;
    {
        QByteArray stream;
        records = drive(sentences, perSecond, stream);
        bytes = stream.size();
    }
    malloc_trim(0);
    const qint64 held = benchsupport::statusKiB("VmRSS");
    const Telemetry t = TelemetryParser::build(std::move(records), sentences / 12.0, "MP4 text track");
    const qint64 peak = benchsupport::statusKiB("VmHWM");
    std::printf("%lld %lld %lld %lld\n", bytes, held, peak, qint64(t.gps.size()));
    return 0;
}

// The file's bytes cut as a camera's records come: each record ends with its G-sensor line, written every
// 100 ms, and the RMC and GGA sentences of each second go with the line after them. Only this benchmark reads
// a file so.
QList<RawRecord> lineRecords(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const TextRef whole(file.readAll());
    const QByteArrayView bytes = whole.bytes();
    QList<RawRecord> records;
    qsizetype start = 0;
    for (qsizetype at = 0; at < bytes.size();) {
        qsizetype end = bytes.indexOf('\n', at);
        end = end < 0 ? bytes.size() : end + 1;
        if (bytes.sliced(at, end - at).startsWith("gsensor") || end == bytes.size()) {
            records.append({qint64(records.size()), std::nullopt, whole.piece(start, end - start)});
            start = end;
        }
        at = end;
    }
    return records;
}

// Our side of the whole-process comparison: the file read and parsed, either as the application reads a file
// of bare sentences (searching it for them) or cut into its records; with `gpx` the track written out too.
int readFile(bool search, const QString &path, const QString &gpx)
{
    const Telemetry telemetry = search ? TelemetryReader::read(path)
                                       : TelemetryParser::build(lineRecords(path), std::nullopt, "NMEA");
    if (telemetry.gps.isEmpty())
        return 1;
    if (!gpx.isEmpty()) {
        QFile out(gpx);
        if (!out.open(QIODevice::WriteOnly) ||
            out.write(TelemetryExporter::gpx(telemetry, QStringLiteral("drive"), std::nullopt).toUtf8()) < 0)
            return 1;
    }
    std::printf("%lld fixes, %lld sensor samples\n", qint64(telemetry.gps.size()),
                qint64(telemetry.sensor.size()));
    return 0;
}

} // namespace

namespace {

struct Pair {
    const char *what;
    QStringList ours, theirs;
};

// One comparison, both sides whole processes in alternating rounds, printed with the per-round ratios.
bool compare(const Pair &pair, int rounds)
{
    std::vector<double> ourCpu, theirCpu, ourWall, theirWall, ourPeak, theirPeak;
    const auto side = [](const QStringList &command, std::vector<double> &cpu, std::vector<double> &wall,
                         std::vector<double> &peak) {
        const benchsupport::ProcessRun run = benchsupport::runProcess(command, "/dev/null", true);
        cpu.push_back(run.cpu);
        wall.push_back(run.wall);
        peak.push_back(run.peakKiB / 1024.0);
        if (!run.ok)
            std::printf("%s failed\n", qPrintable(command.join(' ')));
        return run.ok;
    };
    // One untimed run of each side first, so that neither meets a cold cache in its first round.
    for (const QStringList *command : {&pair.ours, &pair.theirs}) {
        if (!benchsupport::runProcess(*command).ok) {
            std::printf("%s failed\n", qPrintable(command->join(' ')));
            return false;
        }
    }
    if (!benchsupport::alternate(
            rounds, [&] { return side(pair.ours, ourCpu, ourWall, ourPeak); },
            [&] { return side(pair.theirs, theirCpu, theirWall, theirPeak); }))
        return false;
    std::printf(
        "  %s\n    faster than gpsbabel, per round, min / median / max: processor time %s times, wall %s "
        "times (target >= 5)\n",
        pair.what, benchsupport::ratioSpread(theirCpu, ourCpu).constData(),
        benchsupport::ratioSpread(theirWall, ourWall).constData());
    std::printf("    peak memory: ours %s MiB, gpsbabel %s MiB\n",
                benchsupport::minMedianMax(ourPeak, "%.0f").constData(),
                benchsupport::minMedianMax(theirPeak, "%.0f").constData());
    std::printf("    ours %s s processor time (wall %s s); gpsbabel %s s (wall %s s)\n",
                benchsupport::minMedianMax(ourCpu, "%.3f").constData(),
                benchsupport::minMedianMax(ourWall, "%.3f").constData(),
                benchsupport::minMedianMax(theirCpu, "%.3f").constData(),
                benchsupport::minMedianMax(theirWall, "%.3f").constData());
    std::fflush(stdout);
    return true;
}

// The whole-process comparisons with gpsbabel over a file of `lines`; false when a side fails.
bool compareWithGpsbabel(const QByteArray &lines, int rounds)
{
    const QString gpsbabel = QStandardPaths::findExecutable("gpsbabel");
    if (gpsbabel.isEmpty()) {
        std::printf("gpsbabel not installed: no comparison\n");
        return true;
    }
    QTemporaryDir dir;
    const QString path = dir.filePath("drive.nmea");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(lines) != lines.size())
        return false;
    file.close();
    const QString self = QCoreApplication::applicationFilePath();
    const QString checkOutput = dir.filePath("fixes.txt");
    for (const char *mode : {"--search", "--lines"}) {
        if (!benchsupport::runProcess({self, mode, path}, QFile::encodeName(checkOutput).constData()).ok) {
            std::printf("our program could not read the file (%s)\n", mode);
            return false;
        }
        QFile check(checkOutput);
        if (check.open(QIODevice::ReadOnly))
            std::printf("the file as our program reads it (%s): %s", mode, check.readAll().constData());
    }
    const QString gpx = dir.filePath("out.gpx");
    const QStringList toGPX{"-o", "gpx", "-F", gpx};
    const QStringList babel{gpsbabel, "-i", "nmea", "-f", path};
    const Pair application[] = {
        {"read the file", {self, "--search", path}, babel},
        {"read it and write GPX", {self, "--search", path, gpx}, babel + toGPX},
    };
    const Pair benchOnly[] = {
        {"read the file", {self, "--lines", path}, babel},
        {"read it and write GPX", {self, "--lines", path, gpx}, babel + toGPX},
    };
    std::printf("whole processes on a %.1f MB file of sentences, %d alternating rounds each (%s):\n",
                lines.size() / 1e6, rounds, benchsupport::loadAverage().constData());
    std::printf("the application's path (the search reader, as for a file that is not a movie; --search):\n");
    for (const Pair &pair : application)
        if (!compare(pair, rounds))
            return false;
    std::printf("a reader only this benchmark has, not the application's path (--lines: the file cut into a "
                "camera's records):\n");
    for (const Pair &pair : benchOnly)
        if (!compare(pair, rounds))
            return false;
    std::printf("(%s)\n", benchsupport::loadAverage().constData());
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 4 && QByteArray(argv[1]) == "--memory")
        return measureMemory(QByteArray(argv[2]).toLongLong(), QByteArray(argv[3]) == "second");
    if (argc >= 3 && (QByteArray(argv[1]) == "--search" || QByteArray(argv[1]) == "--lines"))
        return readFile(QByteArray(argv[1]) == "--search", QString::fromLocal8Bit(argv[2]),
                        argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString());
    const qint64 sentences = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1120000; // about 30 MB
    const int rounds = argc > 2 ? std::max(1, atoi(argv[2])) : 5;
    {
        QByteArray lines;
        drive(sentences, false, lines);
        if (!compareWithGpsbabel(lines, rounds))
            return 1;
    }

    std::printf("the parser alone, on records in memory:\n");
    for (bool perSecond : {false, true}) {
        QByteArray stream;
        const QList<RawRecord> records = drive(sentences, perSecond, stream);
        const qint64 bytes = stream.size();
        const Measure m = measure(records, sentences / 12.0);
        std::printf(
            "  %s: %lld sentences in %lld records, %.1f MB: %.3f s processor time (wall %.3f s) = %.1f MB/s, "
            "%.0f sentences/s\n",
            perSecond ? "a record a second" : "a record every 100 ms", sentences, qint64(records.size()),
            bytes / 1e6, m.seconds, m.wall, bytes / 1e6 / m.seconds, sentences / m.seconds);

        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {"--memory", QString::number(sentences), perSecond ? "second" : "tenth"});
        child.waitForFinished(-1);
        const QList<QByteArray> f = child.readAllStandardOutput().trimmed().split(' ');
        if (f.size() == 4) {
            const double input = f[0].toDouble(), held = f[1].toDouble() * 1024,
                         peak = f[2].toDouble() * 1024;
            std::printf(
                "    memory: whole process peak %.1f MiB = %.2f times the input's %.1f MB (target <= 4); "
                "%.1f MiB before parsing (the records handed over and the process itself)\n",
                peak / 1048576, peak / input, input / 1e6, held / 1048576);
        } else {
            std::printf("    memory: not measured (%s)\n", child.readAllStandardError().constData());
        }
    }
    return 0;
}
