// What the views ask of the application model at 100,000 recordings: Next and Previous Recording (within
// 1 ms), the longest stall of the GUI thread while a recording goes to the Trash (within 16 ms), and marking
// a channel cached (no copy of the list: within 5 µs a mark).
#include "BenchModel.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <ctime>

namespace {

using benchmodel::recordingCount;

// The application model whose library lists 100,000 recordings of one folder.
struct Model : benchmodel::BenchModel {
    Model()
    {
        addLibraryFolder();
        const QList<DashClip> clips = benchmodel::manyClips();
        create(services([clips](const QStringList &) { return clips; }));
        waitForScan(library(), recordingCount);
    }
};

Model &shared()
{
    return benchmodel::shared<Model>();
}

void BM_GoToClip(benchmark::State &state)
{
    Model &m = shared();
    m.library().setSearchText(state.range(0) ? QStringLiteral("REC_2023_03") : QString());
    const QList<qsizetype> &shown = m.library().filteredPositions();
    m.library().setSelectedClipID(m.library().clips().at(shown.at(shown.size() / 2)).id);
    int offset = 1;
    for (auto _ : state) {
        m.model->goToClip(offset, false);
        offset = -offset;
    }
    state.counters["shown"] = double(shown.size());
    m.library().setSearchText(QString());
}
BENCHMARK(BM_GoToClip)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

qint64 threadCpuNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// The longest time the GUI thread spent in one turn of its event loop while each recording went to the
// Trash (the move itself and the catalog run on the store's thread): as wall time, which includes waiting
// for a CPU on a busy machine, and as the thread's own CPU time.
void BM_TrashStall(benchmark::State &state)
{
    Model &m = shared();
    double longestWall = 0, longestCpu = 0;
    for (auto _ : state) {
        const DashClip clip = m.library().clips().at(m.library().clips().size() / 2);
        m.library().setSelectedClipID(clip.id);
        qint64 worstWall = 0, worstCpu = 0;
        QFuture<void> done = m.library().trash(clip);
        QElapsedTimer wall;
        for (bool last = false; !last;) {
            last = done.isFinished();
            wall.start();
            const qint64 cpu = threadCpuNanoseconds();
            QCoreApplication::processEvents();
            worstCpu = std::max(worstCpu, threadCpuNanoseconds() - cpu);
            worstWall = std::max(worstWall, wall.nsecsElapsed());
        }
        longestWall = std::max(longestWall, double(worstWall) / 1e6);
        longestCpu = std::max(longestCpu, double(worstCpu) / 1e6);
        state.SetIterationTime(double(worstWall) / 1e9);
    }
    state.counters["longest_wall_ms"] = longestWall;
    state.counters["longest_cpu_ms"] = longestCpu;
    state.counters["recordings"] = double(m.library().clips().size());
}
BENCHMARK(BM_TrashStall)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

// Each iteration marks another channel of another recording, as a caching run does.
void BM_MarkCached(benchmark::State &state)
{
    Model &m = shared();
    const QList<DashClip> &clips = m.library().clips();
    // The coordinator hands the key over; making it is not the store's work.
    QStringList keys;
    for (qsizetype i = 0; i < 1000; ++i)
        keys.append(clips.at(i * 97 % clips.size()).catalogKey());
    qsizetype next = 0;
    for (auto _ : state) {
        m.library().markCached(keys.at(next % keys.size()),
                               next / keys.size() % 2 ? Channel::rear : Channel::front);
        ++next;
    }
}
BENCHMARK(BM_MarkCached)->Iterations(1000)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    benchmodel::endShared<Model>();
    return 0;
}
