// The raw fallback scan of a large recording without any other telemetry source, against `cat FILE >
// /dev/null`, both with the file in the page cache. Target: at most 1.25 times cat. The 1 GiB file is made
// in /tmp (video-like noise with a sentence every 64 KiB) and deleted afterwards.
// Usage: bench_RawScanBench [MEBIBYTES]
#include "roadcore/TelemetryReader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

bool catToNull(const QString &path)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start("cat", {path});
    return process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
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
    const qint64 mebibytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1024;
    QTemporaryDir dir("/tmp/roadloom-rawscan-XXXXXX");
    if (!dir.isValid())
        return 1;
    const QString path = dir.filePath("recording.bin");
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        QByteArray block(1 << 20, Qt::Uninitialized);
        quint64 state = 0x9E3779B97F4A7C15ull;
        qint64 sentences = 0;
        for (qint64 m = 0; m < mebibytes; ++m) {
            for (qsizetype i = 0; i + 8 <= block.size(); i += 8) {
                state ^= state << 13;
                state ^= state >> 7;
                state ^= state << 17;
                std::memcpy(block.data() + i, &state, 8);
            }
            for (qsizetype at = 1000; at + 200 < block.size(); at += 65536, ++sentences) {
                const QByteArray line = QString::asprintf("\n$GPRMC,%06lld.00,A,4807.038,N,01131.000,E,22.4,"
                                                          "84.4,010125,,,A*6A\ngsensor,1,2,3\n",
                                                          sentences % 240000)
                                            .toLatin1();
                std::memcpy(block.data() + at, line.constData(), size_t(line.size()));
            }
            if (file.write(block) != block.size())
                return 1;
        }
    }
    std::printf("file: %lld MiB in %s\n", mebibytes, qPrintable(dir.path()));

    catToNull(path); // into the page cache
    double cat = 1e300, scan = 1e300;
    qsizetype found = 0;
    // Taken in turns, so that a busy machine slows both alike.
    for (int round = 0; round < 9; ++round) {
        cat = std::min(cat, bestSeconds(1, [&] { catToNull(path); }));
        scan = std::min(scan, bestSeconds(1, [&] { found = TelemetryReader::scanRecords(path).size(); }));
    }
    const double bytes = double(mebibytes) * 1048576;
    std::printf("raw scan: %.3f s (%.2f GB/s, %lld records); cat: %.3f s (%.2f GB/s) -> %.2f times cat "
                "(target <= 1.25)\n",
                scan, bytes / scan / 1e9, qlonglong(found), cat, bytes / cat / 1e9, scan / cat);
    return 0; // the folder and the file go with `dir`
}
