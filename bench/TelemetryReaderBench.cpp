// Telemetry reading on a large recording, against independent tools on the same files:
//  - read() of a 1 GiB MP4 whose timed-text track holds 10 records a second for 30 minutes, against
//    `exiftool -ee` (target: at least 20 times faster; bytes read far below the file's size);
//  - the raw scan of the same file against `cat FILE > /dev/null` with a warm page cache (target: at most
//    1.5 times).
// Usage: bench_TelemetryReaderBench [WORKDIR]   (default: $TMPDIR/roadloom-bench; the media is made once)
#include "roadcore/TelemetryReader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int minutes = 30;
constexpr int recordsPerSecond = 10;

bool run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        std::fprintf(stderr, "%s failed: %s\n", qPrintable(program),
                     process.readAllStandardError().constData());
        return false;
    }
    return true;
}

QString srtTime(int tenths)
{
    const int ms = tenths * 100;
    return QString::asprintf("%02d:%02d:%02d,%03d", ms / 3600000, ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
}

// A 10 s segment at about 4.8 Mbit/s, looped to 30 minutes (about 1 GiB), with the camera's lines as a
// mov_text track.
bool makeRecording(const QString &dir, const QString &movie)
{
    const QString srt = dir + "/track.srt";
    QFile file(srt);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QTextStream out(&file);
    for (int i = 0; i < minutes * 60 * recordsPerSecond; ++i) {
        const int s = i / recordsPerSecond;
        out << i + 1 << "\n"
            << srtTime(i) << " --> " << srtTime(i + 1) << "\n"
            << QString::asprintf("$GPRMC,%02d%02d%02d.%d0,A,4807.%03d,N,01131.%03d,E,22.4,84.4,010125,,,A*6A",
                                 12, s / 60, s % 60, i % 10, i % 1000, (i * 7) % 1000)
            << "\n"
            << QString::asprintf("gsensor,%d,%d,%d", i % 50, -(i % 30), 128) << "\n\n";
    }
    file.close();
    const QString segment = dir + "/segment.mp4";
    const QString ff = "ffmpeg";
    const QStringList quiet{"-hide_banner", "-loglevel", "error", "-nostdin", "-y"};
    return run(ff, quiet + QStringList{"-f", "lavfi", "-i", "testsrc2=size=1280x720:rate=30:duration=10",
                                       "-c:v", "libx264", "-preset", "ultrafast", "-b:v", "4800k", "-maxrate",
                                       "4800k", "-bufsize", "4800k", segment}) &&
           run(ff, quiet + QStringList{"-stream_loop", "-1", "-i", segment, "-i", srt, "-map", "0:v", "-map",
                                       "1", "-t", QString::number(minutes * 60), "-c:v", "copy", "-c:s",
                                       "mov_text", movie});
}

qint64 bytesReadSoFar()
{
    QFile io("/proc/self/io");
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n')) {
        if (line.startsWith("rchar: "))
            return line.mid(7).toLongLong();
    }
    return -1;
}

template <class F> double bestSeconds(int repeats, F &&work)
{
    double best = 1e300;
    for (int i = 0; i < repeats; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        best = std::min(best, timer.nsecsElapsed() / 1e9);
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::tempPath() + "/roadloom-bench";
    QDir().mkpath(dir);
    const QString movie = dir + "/telemetry_30min.mp4";
    if (!QFileInfo::exists(movie)) {
        std::printf("making %s ...\n", qPrintable(movie));
        if (!makeRecording(dir, movie))
            return 1;
    }
    const qint64 size = QFileInfo(movie).size();
    std::printf("file: %.2f GiB\n", size / 1073741824.0);

    // Reading the telemetry of the recording.
    qint64 before = bytesReadSoFar();
    Telemetry telemetry = TelemetryReader::read(std::map<Channel, QString>{{Channel::front, movie}});
    const qint64 readBytes = bytesReadSoFar() - before;
    const double ours = bestSeconds(3, [&] {
        telemetry = TelemetryReader::read(std::map<Channel, QString>{{Channel::front, movie}});
    });
    std::printf("read(files): %.3f s, %lld records, %lld GPS fixes, source \"%s\", %.2f MiB read (%.3f%% of "
                "the file)\n",
                ours, qlonglong(telemetry.records.size()), qlonglong(telemetry.gps.size()),
                qPrintable(telemetry.source), readBytes / 1048576.0, 100.0 * readBytes / size);
    const double exiftool = bestSeconds(1, [&] { run("exiftool", {"-ee", movie}); });
    std::printf("exiftool -ee: %.3f s -> ours is %.1f times faster (target >= 20)\n", exiftool,
                exiftool / ours);

    // The raw scan, with the page cache warm.
    run("sh", {"-c", "cat \"$0\" > /dev/null", movie});
    const double cat = bestSeconds(3, [&] { run("sh", {"-c", "cat \"$0\" > /dev/null", movie}); });
    qsizetype found = 0;
    const double scan = bestSeconds(3, [&] { found = TelemetryReader::scanRecords(movie).size(); });
    std::printf("raw scan: %.3f s (%.2f GB/s, %lld records); cat: %.3f s -> %.2f times cat (target <= 1.5)\n",
                scan, size / scan / 1e9, qlonglong(found), cat, scan / cat);
    return 0;
}
