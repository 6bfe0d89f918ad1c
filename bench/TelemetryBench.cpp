// Parsing and assembling the telemetry of one long recording: 1 million sentences, as a camera writes them
// (every 100 ms a G-sensor line, every second an RMC and a GGA sentence), against gpsbabel decoding the same
// sentences. Target: at least 100 MB/s on one core, and at least 5 times gpsbabel's speed.
#include "roadcore/TelemetryParser.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <ctime>

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

QString withChecksum(const QByteArray &body)
{
    quint8 sum = 0;
    for (char c : body)
        sum ^= quint8(c);
    return QString::fromLatin1("$" + body + format("*%02X", sum));
}

QByteArray nmeaAngle(double degrees, int degreeDigits)
{
    const double a = std::abs(degrees);
    const int whole = int(a);
    return format("%0*d%07.4f", degreeDigits, whole, (a - whole) * 60);
}

// With `perSecond`, one record holds a whole second (as a text-track sample does); otherwise a record holds
// 100 ms: a G-sensor line, and every tenth one also the RMC and GGA sentences.
QList<RawRecord> drive(qint64 sentences, bool perSecond, qint64 &bytes)
{
    QList<RawRecord> records;
    qint64 made = 0;
    bytes = 0;
    for (qint64 tenth = 0; made < sentences; ++tenth) {
        QString text;
        if (tenth % 10 == 0) {
            const qint64 s = tenth / 10;
            const QByteArray time = format("%02lld%02lld%02lld.00", (s / 3600) % 24, (s / 60) % 60, s % 60);
            const QByteArray date = format("%02lld0524", 1 + (s / 86400) % 28);
            const double lat = 48.1 + 0.0001 * std::sin(s / 600.0) + s * 1e-6;
            const double lon = 11.5 + s * 1.5e-6;
            const QByteArray latText = nmeaAngle(lat, 2), lonText = nmeaAngle(lon, 3);
            text += withChecksum("GPRMC," + time + ",A," + latText + ",N," + lonText + ",E," +
                                 format("%.1f,%.1f,", 30 + 10 * std::sin(s / 60.0), std::fmod(s, 360.0)) +
                                 date + ",,,A") +
                    "\r\n";
            text += withChecksum("GPGGA," + time + "," + latText + ",N," + lonText + ",E,1,09,0.9," +
                                 format("%.1f", 500 + std::fmod(s, 50.0)) + ",M,46.9,M,,") +
                    "\r\n";
            made += 2;
        }
        text += QString::asprintf("gsensor,%d,%d,%d\r\n", int(tenth % 23) - 11, int(tenth % 7) - 3,
                                  128 + int(tenth % 5));
        ++made;
        bytes += text.size(); // ASCII: one byte a character
        if (perSecond && tenth % 10 != 0 && !records.isEmpty())
            records.last().text += text;
        else
            records.append({qint64(records.size()), std::nullopt, text});
    }
    return records;
}

} // namespace

struct Measure {
    double seconds = 0; // processor time of the best of three runs
    double wall = 0;
};

Measure measure(const QList<RawRecord> &records, double duration)
{
    Measure best{1e9, 1e9};
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        const double before = threadSeconds();
        const Telemetry t = TelemetryParser::build(records, duration, "MP4 text track");
        best.seconds = std::min(best.seconds, threadSeconds() - before);
        best.wall = std::min(best.wall, timer.nsecsElapsed() / 1e9);
        if (t.gps.isEmpty())
            std::printf("no fixes?\n");
    }
    return best;
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qint64 sentences = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;
    qint64 bytes = 0;
    double slowest = 0;
    QList<RawRecord> lines;
    for (bool perSecond : {false, true}) {
        const QList<RawRecord> records = drive(sentences, perSecond, bytes);
        const Measure m = measure(records, sentences / 12.0);
        slowest = std::max(slowest, m.seconds);
        std::printf(
            "%s: %lld sentences in %lld records, %.1f MB: %.3f s processor time (wall %.3f s) = %.1f MB/s, "
            "%.0f sentences/s\n",
            perSecond ? "a record a second" : "a record every 100 ms", sentences, qint64(records.size()),
            bytes / 1e6, m.seconds, m.wall, bytes / 1e6 / m.seconds, sentences / m.seconds);
        if (!perSecond)
            lines = records;
    }

    const QString gpsbabel = QStandardPaths::findExecutable("gpsbabel");
    if (gpsbabel.isEmpty()) {
        std::printf("gpsbabel not installed: no comparison\n");
        return 0;
    }
    QTemporaryDir dir;
    QFile file(dir.filePath("drive.nmea"));
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    for (const RawRecord &r : lines)
        file.write(r.text.toLatin1());
    file.close();
    // The child's processor time, as the shell's time builtin reports it.
    QProcess process;
    process.start("bash", {"-c", "TIMEFORMAT=%U+%S; time \"$0\" -i nmea -f \"$1\" -o gpx -F /dev/null",
                           gpsbabel, file.fileName()});
    process.waitForFinished(-1);
    const QStringList parts = QString::fromLatin1(process.readAllStandardError()).trimmed().split('+');
    const double theirs = parts.size() == 2 ? parts[0].toDouble() + parts[1].toDouble() : qQNaN();
    std::printf("gpsbabel -i nmea -f FILE -o gpx -F /dev/null: %.3f s processor time = %.1f MB/s (exit %d)\n",
                theirs, bytes / 1e6 / theirs, process.exitCode());
    std::printf("ratio: ours (slower shape) %.1f times faster\n", theirs / slowest);
    return 0;
}
