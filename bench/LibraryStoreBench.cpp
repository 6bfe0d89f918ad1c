// The library store's costs: filtering and sorting a long clip list per keystroke (must fit one frame,
// about 16 ms), and a whole rescan of a large card (scan, register in the catalog, merge, publish).
#include "roadloom/model/ClipListing.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QRandomGenerator>

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
    ClipListing::sortNewestFirst(clips);
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
        ClipListing::sortNewestFirst(copy);
        benchmark::DoNotOptimize(copy.data());
    }
}
BENCHMARK(BM_SortNewestFirst)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
