// The application over a catalog of 100,000 recordings, each run in a fresh process built as main() builds it
// (the shared media cache and the model are never destroyed, the main window is). Run it on a display
// (`xvfb-run -a`):
// - start to the recordings listed in All Media (limit 1 s), against the same start without a catalog;
// - resident memory once listed and 3 s later, per catalogued recording (limit 1.5 KB), against the process
//   without a catalog;
// - quitting at moments while the catalog loads (limit 0.5 s from the quit to the process's end), against
//   quitting without a catalog.
//
//   bench_LibraryCatalogBench [RECORDINGS]      (default 100000)
//   bench_LibraryCatalogBench --prepare FOLDER RECORDINGS, then --child FOLDER RECORDINGS -1: one run alone
#include "BenchSupport.h"
#include "platform/FileBookmark.h"
#include "roadcore/CatalogEntry.h"
#include "roadcore/MediaCache.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/model/CacheBackend.h"
#include "roadloom/model/LibraryStore.h"
#include "roadloom/ui/shell/AppServices.h"
#include "roadloom/ui/shell/RoadloomApp.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// Resident and peak resident memory of this process in KiB.
std::pair<qint64, qint64> residentKiB()
{
    return {benchsupport::statusKiB("VmRSS"), benchsupport::statusKiB("VmHWM")};
}

// A catalog as years of imports leave it: two channel files a recording, each with its bookmark, on a card
// that is not mounted now.
void writeCatalog(const QString &root, int count)
{
    QDir().mkpath(root);
    const QDateTime start(QDate(2021, 1, 1), QTime(0, 0), Qt::UTC);
    CatalogEntry::Catalog catalog;
    for (int i = 0; i < count; ++i) {
        const QDateTime date = start.addSecs(qint64(i) * 60);
        CatalogEntry entry;
        entry.name = QStringLiteral("REC_") + date.toString(QStringLiteral("yyyy_MM_dd_HH_mm_ss"));
        entry.key = entry.name + QStringLiteral("#200000000");
        entry.category = i % 10 == 0 ? ClipCategory::event : ClipCategory::continuous;
        entry.date = date;
        entry.importedAt = date.addDays(1);
        for (const char *letter : {"F", "R"}) {
            CatalogEntry::File file;
            file.originalPath = QStringLiteral("/media/me/GONE/DCIM/Movie/") + entry.name + QLatin1Char('_') +
                                QLatin1String(letter) + QStringLiteral(".MP4");
            file.importedPath = file.originalPath;
            FileBookmark::Contents mark;
            mark.uuid = QStringLiteral("1234-ABCD");
            mark.source = QStringLiteral("/dev/sdz1");
            mark.mountPoint = QStringLiteral("/media/me/GONE");
            mark.relativePath = file.originalPath.mid(mark.mountPoint.size() + 1);
            mark.inode = quint64(1000 + i);
            mark.size = 100'000'000;
            file.bookmark = FileBookmark::encode(mark);
            file.size = 100'000'000;
            file.modified = date.addSecs(60);
            entry.files.emplace(QLatin1String(letter), std::move(file));
        }
        catalog.emplace(entry.key, std::move(entry));
    }
    QFile out(root + QStringLiteral("/catalog.json"));
    if (out.open(QIODevice::WriteOnly))
        out.write(CatalogEntry::writeCatalog(catalog));
}

// Child: the model as main() makes it over the cache at `root`. Prints when the catalog was listed (or the
// quit asked, with `quitAfter` ms), the memory then and 3 s later.
int child(int argc, char **argv, const QString &root, int expected, int quitAfter)
{
    QApplication app(argc, argv);
    // Never destroyed, as the shared cache and model of the application.
    auto *cache = new MediaCache(root);
    auto *services = new AppServices;
    auto *backend = CacheBackend::over(*cache).release();
    AppModel::Services modelServices = services->modelServices();
    modelServices.library.cache = cache;
    modelServices.cacheBackend = backend;
    auto *model = new AppModel(std::move(modelServices));
    // The windows go at the end of main(), as there.
    RoadloomApp roadloom(*model);
    roadloom.openWindow(RoadloomApp::mainID);
    LibraryStore &library = model->library();
    qint64 listed = 0;
    std::pair<qint64, qint64> atListing, later;
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        if (quitAfter >= 0 || listed || library.clips().size() < expected || library.isScanning())
            return;
        listed = now();
        atListing = residentKiB();
        QTimer::singleShot(3000, &app, [&] {
            later = residentKiB();
            std::printf("%lld %lld %lld %lld %lld\n", static_cast<long long>(listed),
                        static_cast<long long>(atListing.first), static_cast<long long>(atListing.second),
                        static_cast<long long>(later.first), static_cast<long long>(later.second));
            std::fflush(stdout);
            QCoreApplication::quit();
        });
    });
    poll.start();
    if (quitAfter >= 0)
        QTimer::singleShot(quitAfter, &app, [] {
            std::printf("%lld\n", static_cast<long long>(now()));
            std::fflush(stdout);
            QCoreApplication::quit();
        });
    QTimer::singleShot(120'000, &app, &QCoreApplication::quit);
    return app.exec();
}

struct Run {
    QList<qint64> fields;
    qint64 started = 0, ended = 0;
};

Run runChild(const QProcessEnvironment &environment, const QStringList &arguments)
{
    Run run;
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    run.started = now();
    process.start(QCoreApplication::applicationFilePath(), arguments);
    process.waitForFinished(150'000);
    run.ended = now();
    for (const QByteArray &field : process.readAllStandardOutput().simplified().split(' '))
        run.fields.append(field.toLongLong());
    return run;
}

int measure(int argc, char **argv, int count)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir work;
    const QString full = work.filePath(QStringLiteral("full"));
    const QString empty = work.filePath(QStringLiteral("empty"));
    const QString single = work.filePath(QStringLiteral("single"));
    writeCatalog(full, count);
    writeCatalog(single, 1);
    QDir().mkpath(empty);
    std::printf("catalog of %d recordings: %lld bytes\n", count,
                static_cast<long long>(QFileInfo(full + QStringLiteral("/catalog.json")).size()));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        environment.insert(QString::fromLatin1(name), work.filePath(QString::fromLatin1(name)));

    // Alternating: with the catalog, without, and with one recording, which shows the player as the full
    // catalog's first recording does (the video stage's GL driver is a fixed cost, not one per recording).
    QList<double> listings, emptyListings, rssPer, laterPer, peakPer, rssEmpty, rssSingle, laterSingle;
    QList<double> rssFull, laterFull;
    for (int run = 0; run < 3; ++run) {
        {
            const Run r = runChild(environment,
                                   {QStringLiteral("--child"), single, QStringLiteral("1"), QStringLiteral("-1")});
            if (r.fields.size() < 5 || r.fields.at(0) == 0) {
                std::printf("a listing run did not finish\n");
                return 1;
            }
            rssSingle.append(double(r.fields.at(1)));
            laterSingle.append(double(r.fields.at(3)));
        }
        for (const bool withCatalog : {true, false}) {
            const Run r =
                runChild(environment, {QStringLiteral("--child"), withCatalog ? full : empty,
                                       QString::number(withCatalog ? count : 0), QStringLiteral("-1")});
            if (r.fields.size() < 5 || r.fields.at(0) == 0) {
                std::printf("a listing run did not finish\n");
                return 1;
            }
            if (withCatalog) {
                rssFull.append(double(r.fields.at(1)));
                laterFull.append(double(r.fields.at(3)));
                listings.append(double(r.fields.at(0) - r.started));
                rssPer.append(double(r.fields.at(1)) * 1024 / count);
                peakPer.append(double(r.fields.at(2)) * 1024 / count);
                laterPer.append(double(r.fields.at(3)) * 1024 / count);
            } else {
                emptyListings.append(double(r.fields.at(0) - r.started));
                rssEmpty.append(double(r.fields.at(1)) / 1024);
            }
        }
    }
    std::printf("start to %d recordings listed: median %.0f ms (limit 1000); without a catalog %.0f ms\n",
                count, benchsupport::median(listings), benchsupport::median(emptyListings));
    std::printf("resident memory, whole process, per recording: %.0f bytes listed, %.0f bytes 3 s later, "
                "peak %.0f bytes (limit 1536); the process without a catalog: %.0f MiB\n",
                benchsupport::median(rssPer), benchsupport::median(laterPer), benchsupport::median(peakPer),
                benchsupport::median(rssEmpty));
    std::printf("resident memory each recording adds, against a catalog of one (%.0f MiB, %.0f MiB 3 s later): "
                "%.0f bytes listed, %.0f bytes 3 s later\n",
                benchsupport::median(rssSingle) / 1024, benchsupport::median(laterSingle) / 1024,
                (benchsupport::median(rssFull) - benchsupport::median(rssSingle)) * 1024 / (count - 1),
                (benchsupport::median(laterFull) - benchsupport::median(laterSingle)) * 1024 / (count - 1));

    // Quitting at moments of the load, and without a catalog.
    QList<double> quits, emptyQuits;
    double worst = 0;
    for (int run = 0; run < 2; ++run) {
        for (int after : {0, 100, 300, 600, 1000, 1500}) {
            for (const bool withCatalog : {true, false}) {
                const Run r =
                    runChild(environment, {QStringLiteral("--child"), withCatalog ? full : empty,
                                           QString::number(withCatalog ? count : 0), QString::number(after)});
                if (r.fields.isEmpty() || r.fields.at(0) == 0) {
                    std::printf("a quit run did not finish\n");
                    return 1;
                }
                const double took = double(r.ended - r.fields.at(0));
                (withCatalog ? quits : emptyQuits).append(took);
                if (withCatalog)
                    worst = std::max(worst, took);
            }
        }
    }
    std::printf("quit to exit while the catalog loads: median %.0f ms, worst %.0f ms (limit 500); without a "
                "catalog: median %.0f ms\n",
                benchsupport::median(quits), worst, benchsupport::median(emptyQuits));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::setOrganizationName(QStringLiteral("Roadloom"));
    QCoreApplication::setApplicationName(QStringLiteral("Roadloom"));
    if (argc >= 4 && qstrcmp(argv[1], "--prepare") == 0) {
        QCoreApplication app(argc, argv);
        writeCatalog(QString::fromLocal8Bit(argv[2]), atoi(argv[3]));
        return 0;
    }
    if (argc >= 5 && qstrcmp(argv[1], "--child") == 0)
        return child(argc, argv, QString::fromLocal8Bit(argv[2]), atoi(argv[3]), atoi(argv[4]));
    return measure(argc, argv, argc > 1 ? std::max(2, atoi(argv[1])) : 100'000);
}
