// MediaInspector::inspect against `ffprobe -show_format -show_streams` on MP4 files of 1/16, 1/4 and 1 GiB
// with the movie box at the end, as cameras write them. The three files hold the same 900 frames (30 s), so
// their headers are alike and only the media data grows: inspecting must not grow with it. Also counts the
// bytes the inspector reads (from /proc/self/io), which must stay far below the file size.
//
// The files are made once into /tmp/roadloom-bench-media (or $ROADLOOM_BENCH_MEDIA) and kept for later runs.
#include "roadcore/MediaInspector.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Sample {
    const char *name;
    const char *size; // noise frame size chosen so that 900 lossless frames give the file's size
};

bool generate(const QString &path, const char *frameSize)
{
    if (QFileInfo(path).size() > 0)
        return true;
    std::printf("generating %s ...\n", qPrintable(path));
    std::fflush(stdout);
    const QString partial = path + QStringLiteral(".part.mp4");
    QProcess ffmpeg;
    ffmpeg.setStandardInputFile(QProcess::nullDevice());
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-hide_banner", "-loglevel",
                                            "error",        "-y",
                                            "-f",           "rawvideo",
                                            "-pix_fmt",     "yuv420p",
                                            "-s",           frameSize,
                                            "-r",           "30",
                                            "-i",           "/dev/urandom",
                                            "-f",           "lavfi",
                                            "-i",           "sine=duration=30",
                                            "-frames:v",    "900",
                                            "-c:v",         "libx264",
                                            "-preset",      "ultrafast",
                                            "-qp",          "0",
                                            "-c:a",         "aac",
                                            "-shortest",    partial});
    if (!ffmpeg.waitForFinished(-1) || ffmpeg.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg failed: %s\n", ffmpeg.readAllStandardError().constData());
        return false;
    }
    return QFile::rename(partial, path);
}

qint64 bytesReadSoFar()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n')) {
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    }
    return -1;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double probeMilliseconds(const QString &path)
{
    QElapsedTimer timer;
    timer.start();
    QProcess ffprobe;
    ffprobe.setStandardInputFile(QProcess::nullDevice());
    ffprobe.start(QStringLiteral("ffprobe"), {"-v", "error", "-show_format", "-show_streams", path});
    ffprobe.waitForFinished(-1);
    ffprobe.readAll();
    return timer.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString folder = qEnvironmentVariableIsSet("ROADLOOM_BENCH_MEDIA")
                               ? qEnvironmentVariable("ROADLOOM_BENCH_MEDIA")
                               : QStringLiteral("/tmp/roadloom-bench-media");
    QDir().mkpath(folder);
    const Sample samples[] = {
        {"noise-64MiB.mp4", "240x132"}, {"noise-256MiB.mp4", "480x264"}, {"noise-1GiB.mp4", "960x528"}};
    constexpr int inspectRuns = 50;
    constexpr int probeRuns = 9;

    std::printf("%-18s %10s %8s %14s %14s %16s\n", "file", "MiB", "frames", "inspect ms", "ffprobe ms",
                "inspect read KiB");
    for (const Sample &sample : samples) {
        const QString path = folder + QLatin1Char('/') + QLatin1String(sample.name);
        if (!generate(path, sample.size))
            return 1;
        MediaInspector::inspect(path); // warm the page cache for both tools alike
        probeMilliseconds(path);

        std::vector<double> inspectTimes;
        qint64 readBytes = 0;
        int tracks = 0;
        for (int i = 0; i < inspectRuns; ++i) {
            const qint64 before = bytesReadSoFar();
            QElapsedTimer timer;
            timer.start();
            const MediaInfo info = MediaInspector::inspect(path);
            inspectTimes.push_back(timer.nsecsElapsed() / 1e6);
            readBytes = bytesReadSoFar() - before;
            tracks = int(info.tracks.size());
        }
        std::vector<double> probeTimes;
        for (int i = 0; i < probeRuns; ++i)
            probeTimes.push_back(probeMilliseconds(path));

        std::printf("%-18s %10.1f %8d %14.3f %14.3f %16.1f   (%d tracks)\n", sample.name,
                    QFileInfo(path).size() / 1048576.0, 900, median(inspectTimes), median(probeTimes),
                    readBytes / 1024.0, tracks);
    }
    return 0;
}
