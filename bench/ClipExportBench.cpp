// ClipExporter::exportMovie against the ffmpeg program doing the same work, on a generated 120 s 1080p30
// H.264 + AAC source with a keyframe every 1.6 s, so the range 30-90 s starts between keyframes. ffmpeg is a
// whole program, so ours is one too: this program started again to export the range ("once"), each timed
// from its start to its exit. Each side runs with 4 threads; N rounds (5, or $ROADLOOM_BENCH_RUNS) alternate
// which side goes first, and the medians and the round-by-round ratios are compared, in wall time and, since
// a shared machine's load moves the wall time, in processor time too.
//   passthrough  vs  ffmpeg -ss 30 -i SRC -t 60 -c copy                      limit 1.5x
//   h2641080     vs  the same encoder, preset, CRF and threads                limit 1.1x
//   hevc1080     vs  the same                                                 limit 1.1x
// Arguments name the qualities to run (default: all three). The source is made once into
// /tmp/roadloom-bench-media (or $ROADLOOM_BENCH_MEDIA) and kept.
//
// With "once SRC START END QUALITY|ENCODER|copy OUT" it exports one range and stops: our side of the
// comparison, and a way to look at a file.
#include "BenchSupport.h"
#include "roadcore/ClipExporter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr double rangeStart = 30;
double rangeEnd = 90; // $ROADLOOM_BENCH_SECONDS shortens the range for a quick look

bool runProgram(const QStringList &arguments)
{
    QProcess ffmpeg;
    ffmpeg.setStandardInputFile(QProcess::nullDevice());
    ffmpeg.start(QStringLiteral("ffmpeg"), arguments);
    if (!ffmpeg.waitForFinished(-1) || ffmpeg.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg failed: %s\n", ffmpeg.readAllStandardError().constData());
        return false;
    }
    return true;
}

bool generate(const QString &path)
{
    if (QFileInfo(path).size() > 0)
        return true;
    std::printf("generating %s ...\n", qPrintable(path));
    std::fflush(stdout);
    const QString partial = path + QStringLiteral(".part.mp4");
    if (!runProgram({"-hide_banner",
                     "-loglevel",
                     "error",
                     "-y",
                     "-f",
                     "lavfi",
                     "-i",
                     "testsrc2=size=1920x1080:rate=30:duration=120",
                     "-f",
                     "lavfi",
                     "-i",
                     "sine=frequency=440:duration=120",
                     "-c:v",
                     "libx264",
                     "-preset",
                     "veryfast",
                     "-g",
                     "48",
                     "-keyint_min",
                     "48",
                     "-sc_threshold",
                     "0",
                     "-bf",
                     "2",
                     "-pix_fmt",
                     "yuv420p",
                     "-c:a",
                     "aac",
                     "-threads",
                     "4",
                     partial}))
        return false;
    return QFile::rename(partial, path);
}

struct Quality {
    const char *name;
    ExportPreset preset;
    QStringList cliVideo; // ffmpeg's video options for the same work
    double limit;
};

ExportPreset withThreads(ExportPreset preset)
{
    preset.threads = 4;
    return preset;
}

const std::vector<Quality> &qualities()
{
    static const std::vector<Quality> all = {
        {"passthrough", ExportPreset::passthrough(), {"-c", "copy"}, 1.5},
        {"h2641080",
         ExportPreset::encode("libx264", QSize(1920, 1080), 20),
         {"-c:v", "libx264", "-preset", "medium", "-crf", "20", "-c:a", "copy"},
         1.1},
        {"hevc1080",
         ExportPreset::encode("libx265", QSize(1920, 1080), 24, "hvc1"),
         {"-c:v", "libx265", "-preset", "medium", "-crf", "24", "-tag:v", "hvc1", "-x265-params",
          "log-level=error", "-c:a", "copy"},
         1.1},
    };
    return all;
}

int once(const QStringList &args)
{
    if (args.size() != 6) {
        std::fprintf(stderr, "usage: once SRC START END ENCODER|copy OUT\n");
        return 2;
    }
    ExportPreset preset;
    const auto quality = std::find_if(qualities().begin(), qualities().end(),
                                      [&](const Quality &q) { return args[4] == QLatin1String(q.name); });
    if (quality != qualities().end())
        preset = withThreads(quality->preset);
    else if (args[4] != QLatin1String("copy"))
        preset = ExportPreset::encode(args[4], QSize(1920, 1080), 23);
    const Result<void> result =
        ClipExporter::exportMovie(args[1], args[2].toDouble(), args[3].toDouble(), preset, args[5]);
    if (!result) {
        std::fprintf(stderr, "%s\n", qPrintable(result.error()));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (!args.isEmpty() && args.first() == QLatin1String("once"))
        return once(args);

    const QString folder = qEnvironmentVariableIsSet("ROADLOOM_BENCH_MEDIA")
                               ? qEnvironmentVariable("ROADLOOM_BENCH_MEDIA")
                               : QStringLiteral("/tmp/roadloom-bench-media");
    QDir().mkpath(folder);
    const QString source = QDir(folder).filePath(QStringLiteral("export-1080p30-120s.mp4"));
    if (!generate(source))
        return 1;
    const int runs = std::max(1, qEnvironmentVariableIntValue("ROADLOOM_BENCH_RUNS"));
    if (const int seconds = qEnvironmentVariableIntValue("ROADLOOM_BENCH_SECONDS"); seconds > 0)
        rangeEnd = rangeStart + std::min(seconds, 60);
    const int chosenRuns = qEnvironmentVariableIsSet("ROADLOOM_BENCH_RUNS") ? runs : 5;

    const QString ours = QDir(folder).filePath(QStringLiteral("ours.mov"));
    const QString theirs = QDir(folder).filePath(QStringLiteral("theirs.mov"));
    bool allWithin = true;
    const QString self = QCoreApplication::applicationFilePath();
    std::printf("whole processes, %d alternating rounds; median (min-max)\n", chosenRuns);
    for (const Quality &q : qualities()) {
        if (!args.isEmpty() && !args.contains(QLatin1String(q.name)))
            continue;
        const QStringList ourCommand{
            self, "once", source, QString::number(rangeStart), QString::number(rangeEnd), q.name, ours};
        QStringList theirCommand{"ffmpeg",
                                 "-hide_banner",
                                 "-loglevel",
                                 "error",
                                 "-y",
                                 "-threads",
                                 "4",
                                 "-ss",
                                 "30",
                                 "-i",
                                 source,
                                 "-t",
                                 QString::number(rangeEnd - rangeStart)};
        theirCommand << q.cliVideo << QStringList{"-threads", "4", theirs};
        std::vector<double> ourWall, ourCpu, theirWall, theirCpu;
        const auto side = [](const QStringList &command, std::vector<double> &wall,
                             std::vector<double> &cpu) {
            const benchsupport::ProcessRun run = benchsupport::runProcess(command);
            if (!run.ok)
                std::fprintf(stderr, "failed: %s\n", qPrintable(command.join(' ')));
            wall.push_back(run.wall);
            cpu.push_back(run.cpu);
            return run.ok;
        };
        if (!benchsupport::alternate(
                chosenRuns, [&] { return side(ourCommand, ourWall, ourCpu); },
                [&] { return side(theirCommand, theirWall, theirCpu); }))
            return 1;
        const std::vector<double> wallRatios = benchsupport::ratios(ourWall, theirWall);
        const double ratio = benchsupport::median(wallRatios);
        allWithin = allWithin && ratio <= q.limit;
        std::printf("%-12s wall: ours %s s, ffmpeg %s s, ratio %s (limit %.1f)%s\n", q.name,
                    benchsupport::spread(ourWall).constData(), benchsupport::spread(theirWall).constData(),
                    benchsupport::spread(wallRatios, "%.2f").constData(), q.limit,
                    ratio <= q.limit ? "" : "  OVER");
        std::printf("%-12s processor time: ours %s s, ffmpeg %s s, ratio %s\n", "",
                    benchsupport::spread(ourCpu, "%.2f").constData(),
                    benchsupport::spread(theirCpu, "%.2f").constData(),
                    benchsupport::spread(benchsupport::ratios(ourCpu, theirCpu), "%.2f").constData());
        std::fflush(stdout);
    }
    QFile::remove(ours);
    QFile::remove(theirs);
    return allWithin ? 0 : 1;
}
