// The library store's costs: filtering and sorting a long clip list per keystroke (must fit one frame,
// about 16 ms), and a whole rescan of a large card (scan, register in the catalog, merge, publish).
#include "platform/Defaults.h"
#include "platform/Trash.h"
#include "platform/VolumeProvider.h"
#include "roadcore/ClipOrder.h"
#include "roadcore/LibraryScanner.h"
#include "roadcore/MediaCache.h"
#include "roadloom/model/CachePlanner.h"
#include "roadloom/model/ClipListing.h"
#include "roadloom/model/LibraryStore.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

namespace {

QList<DashClip> makeClips(int count)
{
    static const char *const prefixes[] = {"REC", "EVT", "PARK", "MAN", "MOT", "TL"};
    QRandomGenerator random(42);
    const QDateTime start(QDate(2023, 1, 1), QTime(0, 0), Qt::UTC);
    QList<DashClip> clips;
    clips.reserve(count);
    for (int i = 0; i < count; ++i) {
        DashClip clip;
        const QDateTime date = start.addSecs(qint64(i) * 60);
        const int kind = int(random.bounded(6));
        clip.name =
            QStringLiteral("%1_%2").arg(prefixes[kind], date.toString(QStringLiteral("yyyy_MM_dd_HH_mm_ss")));
        clip.id = QStringLiteral("/media/card/DCIM/") + clip.name + QStringLiteral("_F.MP4");
        clip.category = allClipCategories[size_t(kind)];
        clip.date = date;
        clip.byteSize = qint64(random.bounded(40'000'000, 200'000'000));
        clip.files = {{Channel::front, clip.id},
                      {Channel::rear, clip.id.chopped(6) + QStringLiteral("_R.MP4")}};
        clips.append(clip);
    }
    ClipOrder::sortNewestFirst(clips);
    return clips;
}

const QList<DashClip> &hundredThousand()
{
    static const QList<DashClip> clips = makeClips(100'000);
    return clips;
}

const ClipListing::Index &hundredThousandIndex()
{
    static const ClipListing::Index index = ClipListing::index(hundredThousand());
    return index;
}

// One keystroke: the positions of the shown recordings, as the list view asks for them.
void BM_FilterPositions(benchmark::State &state)
{
    const auto sort = ClipSort(state.range(0));
    const QString search = state.range(1) ? QStringLiteral("  2023_0") : QString();
    const auto category = state.range(2) ? std::optional(ClipCategory::event) : std::nullopt;
    const QList<DashClip> &clips = hundredThousand();
    const ClipListing::Index &index = hundredThousandIndex();
    qsizetype shown = 0;
    for (auto _ : state) {
        const QList<qsizetype> positions = ClipListing::positions(clips, category, search, sort, &index);
        shown = positions.size();
        benchmark::DoNotOptimize(positions.data());
    }
    state.counters["shown"] = double(shown);
    state.SetLabel(rawValue(sort).toStdString());
}
BENCHMARK(BM_FilterPositions)
    ->ArgsProduct({{int(ClipSort::newest), int(ClipSort::oldest), int(ClipSort::name), int(ClipSort::size)},
                   {0, 1},
                   {0, 1}})
    ->Unit(benchmark::kMillisecond);

// The same, copying every shown recording into a new list (what `filteredClips` returns).
void BM_FilteredClipsCopy(benchmark::State &state)
{
    const QList<DashClip> &clips = hundredThousand();
    const ClipListing::Index &index = hundredThousandIndex();
    for (auto _ : state) {
        const QList<DashClip> shown =
            ClipListing::filtered(clips, std::nullopt, QString(), ClipSort::name, &index);
        benchmark::DoNotOptimize(shown.data());
    }
}
BENCHMARK(BM_FilteredClipsCopy)->Unit(benchmark::kMillisecond);

// The index is made once per published rescan, on the scan thread.
void BM_ListingIndex(benchmark::State &state)
{
    const QList<DashClip> &clips = hundredThousand();
    for (auto _ : state)
        benchmark::DoNotOptimize(ClipListing::index(clips).byName.size());
}
BENCHMARK(BM_ListingIndex)->Unit(benchmark::kMillisecond);

// A keystroke without the index: sorting and case folding anew.
void BM_FilterWithoutIndex(benchmark::State &state)
{
    const QList<DashClip> &clips = hundredThousand();
    for (auto _ : state)
        benchmark::DoNotOptimize(
            ClipListing::positions(clips, std::nullopt, QString(), ClipSort::name).size());
}
BENCHMARK(BM_FilterWithoutIndex)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_SortNewestFirst(benchmark::State &state)
{
    QList<DashClip> clips = hundredThousand();
    for (auto _ : state) {
        QList<DashClip> copy = clips;
        ClipOrder::sortNewestFirst(copy);
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_SortNewestFirst)->Unit(benchmark::kMillisecond);

class BenchVolumes : public VolumeProvider {
public:
    QList<MountedVolume> volumes;
    QList<MountedVolume> mountedVolumes() const override { return volumes; }
};

struct CountingPlanner : CachePlanner {
    int starts = 0;
    void start() override { ++starts; }
};

// A card of 20,000 channel files: 10,000 recordings of front and rear in the camera's folders.
QString cardRoot()
{
    static QTemporaryDir dir;
    static const QString root = [] {
        const QString root = dir.filePath("CARD");
        const QDateTime start(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC);
        const QString folders[] = {root + "/DCIM/cont_rec", root + "/DCIM/evt_rec"};
        for (const QString &folder : folders)
            QDir().mkpath(folder);
        for (int i = 0; i < 10'000; ++i) {
            const QString stem =
                QStringLiteral("%1/REC_%2")
                    .arg(folders[i % 10 == 0],
                         start.addSecs(i * 60LL).toString(QStringLiteral("yyyyMMdd_HHmmss")));
            for (const char *channel : {"_F.MP4", "_R.MP4"}) {
                QFile file(stem + QLatin1String(channel));
                if (file.open(QIODevice::WriteOnly))
                    file.write("v");
            }
        }
        return root;
    }();
    return root;
}

// What a store does when the card is selected: scan, register in the catalog, merge with what the catalog
// knew of the card, prepare the listing, publish. The catalog is new (the first import, arg 0) or already
// knows the card (a later rescan, arg 1).
void BM_RescanCard(benchmark::State &state)
{
    const bool known = state.range(0);
    const QString root = cardRoot();
    QTemporaryDir work;
    BenchVolumes volumes;
    volumes.volumes = {{root, QStringLiteral("CARD"), false}};
    Defaults defaults(work.filePath(QStringLiteral("settings.ini")));
    MediaCache knownCache(work.filePath(QStringLiteral("known")));
    if (known)
        knownCache.registerClips(LibraryScanner::scan({root}));
    int round = 0;
    qsizetype listed = 0;
    qint64 guiNanoseconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<MediaCache> fresh;
        if (!known)
            fresh = std::make_unique<MediaCache>(work.filePath(QString::number(++round)));
        CountingPlanner planner;
        state.ResumeTiming();
        LibraryStore store(LibraryStore::Services{&volumes, &defaults, known ? &knownCache : fresh.get(),
                                                  &LibraryScanner::scan, &Trash::system()});
        store.setCachePlanner(&planner);
        // The GUI thread's share: the time spent handling events (merging results, publishing).
        while (planner.starts == 0) {
            QElapsedTimer busy;
            busy.start();
            QCoreApplication::processEvents();
            guiNanoseconds += busy.nsecsElapsed();
            QThread::usleep(200);
        }
        listed = store.clips().size();
    }
    state.counters["recordings"] = double(listed);
    state.counters["gui_ms"] =
        benchmark::Counter(double(guiNanoseconds) / 1e6, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_RescanCard)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The parts: the scan alone, and registering what it found in a catalog that knows the card.
void BM_ScanCard(benchmark::State &state)
{
    const QString root = cardRoot();
    for (auto _ : state)
        benchmark::DoNotOptimize(LibraryScanner::scan({root}).size());
}
BENCHMARK(BM_ScanCard)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_RegisterKnownCard(benchmark::State &state)
{
    QTemporaryDir work;
    MediaCache cache(work.filePath(QStringLiteral("cache")));
    const QList<DashClip> clips = LibraryScanner::scan({cardRoot()});
    cache.registerClips(clips);
    for (auto _ : state)
        benchmark::DoNotOptimize(cache.registerClips(clips).size());
}
BENCHMARK(BM_RegisterKnownCard)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The catalog's earlier imports of the card that the scan no longer finds (here: none).
void BM_CatalogExtras(benchmark::State &state)
{
    QTemporaryDir work;
    MediaCache cache(work.filePath(QStringLiteral("cache")));
    const QList<DashClip> clips = cache.registerClips(LibraryScanner::scan({cardRoot()}));
    QSet<QString> found;
    for (const DashClip &clip : clips)
        found.insert(clip.catalogKey());
    for (auto _ : state)
        benchmark::DoNotOptimize(cache.clips(MediaCacheScope::under({cardRoot()}), found).size());
}
BENCHMARK(BM_CatalogExtras)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
