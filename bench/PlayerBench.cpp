// Time to the first frame and exact-seek latency of our mpv player, against the mpv program on the same
// file. Usage: bench_PlayerBench [FILE] (default: a generated 10 s 1080p clip at 30 fps with sound).
#include "platform/gui/MpvPlayer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int rounds = 7;

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool runProgram(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, arguments);
    return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

// Seconds from starting the mpv program until it reports its first frame shown (optionally after seeking
// to `start`). It is stopped there: at exit it would drain its sound buffer, which says nothing about
// getting a picture on screen.
double mpvProgram(const QString &file, const QString &start)
{
    QStringList arguments = {"--no-config", "--vo=null",     "--ao=null",
                             "--frames=1",  "--hr-seek=yes", "--msg-level=all=error,cplayer=v"};
    if (!start.isEmpty())
        arguments << "--start=" + start;
    arguments << file;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(QStringLiteral("mpv"), arguments);
    QByteArray output;
    double shown = -1;
    while (shown < 0 && process.waitForReadyRead(30000)) {
        output += process.readAll();
        if (output.contains("playback restart complete"))
            shown = timer.nsecsElapsed() / 1e9;
    }
    process.kill();
    process.waitForFinished(10000);
    return shown;
}

// The mpv program, paused on the file, driven through its JSON socket: seconds for each exact seek until
// mpv reports the playback restart (the frame at the target is shown).
std::vector<double> mpvProgramSeeks(const QString &file, const QStringList &targets)
{
    QTemporaryDir dir;
    const QByteArray socketPath = QFile::encodeName(dir.filePath("mpv.sock"));
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(QStringLiteral("mpv"), {"--no-config", "--idle=yes", "--pause", "--vo=null", "--ao=null",
                                          "--hr-seek=yes", "--keep-open=yes", "--msg-level=all=no",
                                          "--input-ipc-server=" + QString::fromUtf8(socketPath), file});
    std::vector<double> times;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.constData(), sizeof(address.sun_path) - 1);
    QElapsedTimer waited;
    waited.start();
    bool connected = false;
    while (!connected && waited.elapsed() < 10000) {
        connected = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0;
        if (!connected)
            QThread::msleep(5);
    }
    QByteArray pending;
    // Reads until a line holds the text; false on a closed socket or after 30 s.
    auto readUntil = [&](const QByteArray &text) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 30000) {
            const qsizetype at = pending.indexOf(text);
            if (at >= 0) {
                pending.remove(0, at + text.size());
                return true;
            }
            pollfd poll{fd, POLLIN, 0};
            if (::poll(&poll, 1, 100) <= 0)
                continue;
            char buffer[4096];
            const ssize_t got = ::read(fd, buffer, sizeof(buffer));
            if (got <= 0)
                return false;
            pending.append(buffer, got);
        }
        return false;
    };
    auto send = [&](const QByteArray &line) {
        return ::write(fd, line.constData(), line.size()) == line.size();
    };
    // Ready once the file answers with its duration.
    bool ready = false;
    for (int attempt = 0; connected && !ready && attempt < 200; ++attempt) {
        send(R"({"command":["get_property","video-params/w"],"request_id":1})"
             "\n");
        ready = readUntil(R"("request_id":1)") && !pending.startsWith(R"(,"error":"property unavailable")") &&
                pending.contains("success");
        pending.clear();
        if (!ready)
            QThread::msleep(10);
    }
    // Let the first frame settle, as the other side does.
    QThread::msleep(200);
    for (const QString &target : targets) {
        if (!ready)
            break;
        // Drop whatever mpv said before this seek.
        for (pollfd poll{fd, POLLIN, 0}; ::poll(&poll, 1, 0) > 0;) {
            char buffer[4096];
            if (::read(fd, buffer, sizeof(buffer)) <= 0)
                break;
        }
        pending.clear();
        QElapsedTimer timer;
        timer.start();
        send(R"({"command":["seek",")" + target.toUtf8() +
             R"(","absolute+exact"]})"
             "\n");
        if (!readUntil(R"("event":"playback-restart")"))
            break;
        times.push_back(timer.nsecsElapsed() / 1e9);
    }
    ::close(fd);
    process.kill();
    process.waitForFinished(10000);
    return times;
}

// Runs the event loop until the signal fires; seconds from the start of the action.
template <class Signal>
double timeUntil(MpvPlayer &player, Signal signal, const std::function<void()> &action)
{
    QEventLoop loop;
    QElapsedTimer timer;
    bool done = false;
    const auto connection = QObject::connect(&player, signal, &loop, [&] {
        done = true;
        loop.quit();
    });
    QTimer::singleShot(30000, &loop, &QEventLoop::quit);
    timer.start();
    action();
    if (!done)
        loop.exec();
    QObject::disconnect(connection);
    return done ? timer.nsecsElapsed() / 1e9 : -1;
}

MpvPlayerOptions headless()
{
    MpvPlayerOptions options;
    options.videoOutput = "null";
    options.audioOutput = "null";
    return options;
}

void report(const char *what, double ours, double theirs)
{
    std::printf("%-44s ours %8.1f ms   mpv %8.1f ms   ratio %.2f\n", what, ours * 1e3, theirs * 1e3,
                theirs > 0 ? ours / theirs : 0.0);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    QString file = app.arguments().value(1);
    if (file.isEmpty()) {
        file = dir.filePath("bench.mp4");
        if (!runProgram(QStringLiteral("ffmpeg"), {"-hide_banner",
                                                   "-loglevel",
                                                   "error",
                                                   "-nostdin",
                                                   "-y",
                                                   "-f",
                                                   "lavfi",
                                                   "-i",
                                                   "testsrc2=size=1920x1080:rate=30:duration=10",
                                                   "-f",
                                                   "lavfi",
                                                   "-i",
                                                   "sine=frequency=440:duration=10",
                                                   "-c:v",
                                                   "libx264",
                                                   "-preset",
                                                   "veryfast",
                                                   "-g",
                                                   "30",
                                                   "-pix_fmt",
                                                   "yuv420p",
                                                   "-c:a",
                                                   "aac",
                                                   "-shortest",
                                                   file})) {
            std::fprintf(stderr, "cannot make the clip with ffmpeg\n");
            return 1;
        }
    }
    const QString middle = QStringLiteral("5.5");

    std::vector<double> mpvFirst, mpvSeeked, mpvSeeks, coldFirst, warmFirst, seeks;
    for (int round = 0; round < rounds; ++round) {
        mpvFirst.push_back(mpvProgram(file, {}));
        mpvSeeked.push_back(mpvProgram(file, middle));

        // A new player: start mpv, open the file, decode the first frame.
        QElapsedTimer timer;
        timer.start();
        auto player = std::make_unique<MpvPlayer>(headless());
        const double opened = timeUntil(*player, &VideoPlayer::ready, [&] { player->load(file); });
        coldFirst.push_back(opened < 0 ? -1 : timer.nsecsElapsed() / 1e9);

        // The same player opening the file again, as the application's long-lived players do.
        warmFirst.push_back(timeUntil(*player, &VideoPlayer::ready, [&] { player->load(file); }));
        QEventLoop settle;
        QTimer::singleShot(200, &settle, &QEventLoop::quit);
        settle.exec();
        // Exact seeks into the middle of a group of pictures, alternating so each one decodes.
        seeks.push_back(timeUntil(*player, &VideoPlayer::tick, [&] { player->seek(5.5); }));
        seeks.push_back(timeUntil(*player, &VideoPlayer::tick, [&] { player->seek(4.5); }));

        const std::vector<double> theirs = mpvProgramSeeks(file, {"5.5", "4.5"});
        if (theirs.size() != 2)
            mpvSeeks.push_back(-1);
        mpvSeeks.insert(mpvSeeks.end(), theirs.begin(), theirs.end());
    }
    for (const auto *list : {&mpvFirst, &mpvSeeked, &mpvSeeks, &coldFirst, &warmFirst, &seeks}) {
        if (std::any_of(list->begin(), list->end(), [](double v) { return v < 0; })) {
            std::fprintf(stderr, "a run failed (is mpv installed?)\n");
            return 1;
        }
    }
    if (qEnvironmentVariableIsSet("PLAYER_BENCH_VERBOSE")) {
        for (size_t i = 0; i < seeks.size(); ++i)
            std::printf("seek ours %.1f ms, mpv %.1f ms\n", seeks[i] * 1e3, mpvSeeks[i] * 1e3);
    }
    const double mpvFirstFrame = median(mpvFirst);
    const double mpvSeek = median(mpvSeeked) - mpvFirstFrame;
    std::printf("file: %s, %d rounds, medians\n", qPrintable(file), rounds);
    report("first frame (new player vs mpv program)", median(coldFirst), mpvFirstFrame);
    report("first frame (reused player)", median(warmFirst), mpvFirstFrame);
    report("exact seek, paused (vs mpv program, same seek)", median(seeks), median(mpvSeeks));
    report("exact seek (vs extra cost of mpv --start=5.5)", median(seeks), mpvSeek);
    report("first frame + seek (vs mpv --start=5.5)", median(coldFirst) + median(seeks), median(mpvSeeked));
    return 0;
}
