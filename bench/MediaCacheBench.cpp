// Registering, listing, loading and saving a catalog of 1,000, 10,000 and 100,000 recordings of two channel
// files each. Every cost should grow linearly: the per-recording figure stays flat across the sizes.
#include "roadcore/MediaCache.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

QList<DashClip> makeRecordings(const QString &card, int count)
{
    QList<DashClip> clips;
    clips.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QString folder = card + QString("/cont_rec%1").arg(i / 1000);
        if (i % 1000 == 0)
            QDir().mkpath(folder);
        DashClip clip;
        clip.name = QString("2024%1_%2").arg(i / 86400, 4, 10, QChar('0')).arg(i % 86400, 6, 10, QChar('0'));
        clip.id = clip.name;
        clip.category = ClipCategory::continuous;
        clip.date = QDateTime::fromSecsSinceEpoch(1700000000 + qint64(i) * 60, Qt::UTC);
        for (Channel channel : {Channel::front, Channel::rear}) {
            const QString path = folder + "/" + clip.name + "_" + rawValue(channel) + ".mp4";
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write("x") != 1)
                std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            clip.files[channel] = path;
            clip.byteSize += 1;
        }
        clips.append(clip);
    }
    return clips;
}

double msSince(QElapsedTimer &timer)
{
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    timer.restart();
    return ms;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::printf("%10s %12s %12s %12s %12s %14s\n", "recordings", "register ms", "list ms", "load ms",
                "save ms", "catalog bytes");
    for (int count : {1000, 10000, 100000}) {
        QTemporaryDir tmp;
        // The many small card files on a memory file system when there is one: the figures are the cache's
        // own work, and removing 200,000 files from a busy disk takes minutes.
        QTemporaryDir memory(QStringLiteral("/dev/shm/roadloom-bench-XXXXXX"));
        const QString card = (memory.isValid() ? memory.path() : tmp.path()) + "/CARD";
        const QList<DashClip> clips = makeRecordings(card, count);
        QElapsedTimer timer;
        // Best of three runs on a fresh cache each, for a busy machine; the largest size runs once.
        double registerMs = 1e300, listMs = 1e300, loadMs = 1e300, saveMs = 1e300;
        const int runs = count < 100000 ? 3 : 1;
        QString root;
        for (int run = 0; run < runs; ++run) {
            root = tmp.filePath(QString("Media Cache %1").arg(run));
            {
                MediaCache cache(root);
                timer.start();
                const auto registered = cache.registerClips(clips);
                registerMs = qMin(registerMs, msSince(timer));
                const auto listed = cache.clips(MediaCache::Scope::all());
                listMs = qMin(listMs, msSince(timer));
                if (registered.size() != count || listed.size() != count)
                    std::fprintf(stderr, "wrong counts\n");
            }
            timer.start();
            MediaCache reopened(root);
            loadMs = qMin(loadMs, msSince(timer));
            // One recording resolved: almost all of it is writing the whole catalog.
            reopened.resolveForPlayback(clips.first());
            saveMs = qMin(saveMs, msSince(timer));
        }
        std::printf("%10d %12.1f %12.1f %12.1f %12.1f %14lld\n", count, registerMs, listMs, loadMs, saveMs,
                    QFileInfo(root + "/catalog.json").size());
        std::printf("%10s %12.2f %12.2f %12.2f %12.2f   (us per recording)\n", "", registerMs * 1000 / count,
                    listMs * 1000 / count, loadMs * 1000 / count, saveMs * 1000 / count);
        std::fflush(stdout);
    }
    return 0;
}
