// The clip list at 100,000 recordings, against a plain QListView over a QStringListModel of the same names
// with uniform sizes: showing a new list (model rebuild, layout, first paint) within twice the peer's reset;
// a search keystroke (filter, rebuild, relayout, paint) within 16 ms; painting a full viewport within 4 ms;
// the list's own memory within 32 bytes a recording. The keystroke's anchor is a plain QListView over a
// QSortFilterProxyModel filtering the same names for the same text, timed in alternating turns with ours.
// The same keystroke is also typed into the real column's search field, against a search field over the
// proxy's list, both given the event loop's turns that lay out and paint. Our search shares a long list with
// threads of its own while the proxy filters on one, so both keystroke comparisons give the processor time of
// all the process's threads beside the wall time, each as min / median / max of the per-round ratio.
#include "BenchModel.h"
#include "BenchSupport.h"
#include "roadloom/model/ClipListing.h"
#include "roadloom/model/LibraryStore.h"
#include "roadloom/ui/library/ClipListModel.h"
#include "roadloom/ui/library/ClipListView.h"
#include "roadloom/ui/library/ClipRowDelegate.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListView>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QStringListModel>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

#include <time.h>

namespace {

using benchmodel::recordingCount;
const QSize viewportSize(320, 800);

// A window paints only once the platform has exposed it, which takes a turn of the event loop: without it a
// repaint does nothing and a figure would leave its paint out.
void exposed(QWidget *window)
{
    QElapsedTimer waited;
    waited.start();
    while (!(window->windowHandle() && window->windowHandle()->isExposed()) && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

QListView *makeView(QAbstractItemModel *model)
{
    auto *view = new QListView;
    view->setModel(model);
    view->setFrameShape(QFrame::NoFrame);
    view->resize(viewportSize);
    view->show();
    exposed(view);
    return view;
}

// The layout the view would run on its next turn of the loop, then one paint of what shows.
void layOutAndPaint(QListView *view)
{
    view->doItemsLayout();
    view->viewport()->repaint();
}

double processCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + now.tv_nsec / 1e9;
}

// The milliseconds of each turn of ours and of the anchor: wall time, and processor time of all threads.
struct Sides {
    std::vector<double> ourWall, theirWall, ourCpu, theirCpu;

    // Runs `work` and notes its times on our side or the anchor's; the wall time in seconds.
    template <typename Work> double timed(bool ours, Work &&work)
    {
        const double cpu = processCpuSeconds();
        QElapsedTimer timer;
        timer.start();
        work();
        const double wall = double(timer.nsecsElapsed()) / 1e9;
        (ours ? ourWall : theirWall).push_back(wall * 1e3);
        (ours ? ourCpu : theirCpu).push_back((processCpuSeconds() - cpu) * 1e3);
        return wall;
    }

    // Both sides' medians, and min / median / max of the per-round ratios ours / anchor.
    void report(benchmark::State &state) const
    {
        state.counters["ourMs"] = benchsupport::median(ourWall);
        state.counters["proxyMs"] = benchsupport::median(theirWall);
        state.counters["ourCpuMs"] = benchsupport::median(ourCpu);
        state.counters["proxyCpuMs"] = benchsupport::median(theirCpu);
        const auto spread = [&](const char *name, const std::vector<double> &a,
                                const std::vector<double> &b) {
            std::vector<double> r = benchsupport::roundRatios(a, b).values;
            std::sort(r.begin(), r.end());
            const std::string key(name);
            state.counters[key + "Min"] = r.empty() ? 0 : r.front();
            state.counters[key] = benchsupport::median(r);
            state.counters[key + "Max"] = r.empty() ? 0 : r.back();
        };
        spread("ratio", ourWall, theirWall);
        spread("cpuRatio", ourCpu, theirCpu);
        state.SetLabel(("ours / proxy per round, min / median / max: wall " +
                        benchsupport::ratioSpread(ourWall, theirWall) + ", processor time " +
                        benchsupport::ratioSpread(ourCpu, theirCpu))
                           .toStdString());
    }
};

// A library store listing 100,000 recordings of one folder, and the clip list over it.
struct Fixture {
    benchmodel::BenchModel surroundings;
    std::unique_ptr<LibraryStore> library;
    ClipListModel *model = nullptr;
    QListView *view = nullptr;
    QStringListModel peerModel;
    QListView *peer = nullptr;
    QStringListModel proxySource;
    QSortFilterProxyModel proxy;
    QListView *proxyView = nullptr;
    QStringList names;
    QElapsedTimer sinceNewList;
    int lists = 0;

    Fixture()
    {
        surroundings.addLibraryFolder();
        const QList<DashClip> clips = benchmodel::manyClips();
        // Each scan finds one recording grown, so every rescan publishes a new list.
        auto scans = std::make_shared<std::atomic<int>>(0);
        library =
            std::make_unique<LibraryStore>(surroundings.libraryServices([clips, scans](const QStringList &) {
                QList<DashClip> found = clips;
                found.first().byteSize += ++*scans;
                return found;
            }));
        // The clock starts when the store announces the new list, before the clip list hears of it.
        QObject::connect(library.get(), &LibraryStore::clipsChanged, [this] {
            sinceNewList.start();
            ++lists;
        });
        library->setSelectedSourceID(library->sources().value(1).id());
        benchmodel::BenchModel::waitForScan(*library, recordingCount);
        model = new ClipListModel(*library);
        view = makeView(model);
        view->setItemDelegate(new ClipRowDelegate(view));
        view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
        view->setUniformItemSizes(true); // as the clip list sets it
        layOutAndPaint(view);
        for (const DashClip &clip : library->clips())
            names.append(clip.name);
        peer = makeView(&peerModel);
        peer->setUniformItemSizes(true);
        proxySource.setStringList(names);
        proxy.setSourceModel(&proxySource);
        proxy.setFilterCaseSensitivity(Qt::CaseInsensitive); // as the store's search
        proxyView = makeView(&proxy);
        proxyView->setUniformItemSizes(true);
        layOutAndPaint(proxyView);
    }
    ~Fixture()
    {
        delete proxyView;
        delete peer;
        delete view;
        delete model;
    }
};

Fixture &shared()
{
    return benchmodel::shared<Fixture>();
}

void BM_PeerReset(benchmark::State &state)
{
    Fixture &f = shared();
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        f.peerModel.setStringList(f.names);
        layOutAndPaint(f.peer);
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        f.peerModel.setStringList({});
    }
}
BENCHMARK(BM_PeerReset)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

// A rescan publishes the list again: from the store's announcement to the list's first paint.
void BM_NewList(benchmark::State &state)
{
    Fixture &f = shared();
    for (auto _ : state) {
        const int before = f.lists;
        f.library->rescan();
        // Waits for the scan off the GUI thread, then times what the GUI thread does with its result.
        while (f.library->isScanning() || f.lists == before)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        layOutAndPaint(f.view);
        state.SetIterationTime(double(f.sinceNewList.nsecsElapsed()) / 1e9);
    }
    state.counters["rows"] = f.model->rowCount();
}
BENCHMARK(BM_NewList)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

// What a user types, a key at a time, then clears: the keys the keystroke figures cycle through.
const QStringList &typedTexts()
{
    static const QStringList texts{QStringLiteral("R"),
                                   QStringLiteral("RE"),
                                   QStringLiteral("REC_2023_0"),
                                   QStringLiteral("REC_2023_03"),
                                   QStringLiteral("REC_2023_03_1"),
                                   QString()};
    return texts;
}

void BM_SearchKeystroke(benchmark::State &state)
{
    Fixture &f = shared();
    const QStringList &texts = typedTexts();
    int i = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        f.library->setSearchText(texts.at(i++ % texts.size()));
        layOutAndPaint(f.view);
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
    }
    f.library->setSearchText(QString());
}
BENCHMARK(BM_SearchKeystroke)->Iterations(60)->UseManualTime()->Unit(benchmark::kMillisecond);

// The keystroke against its anchor: the proxy filtering the same names for the same text, its view laid out
// and painted; the two take turns going first. The iteration's time is ours; the counters give both medians
// and the ratios' spread.
void BM_SearchKeystrokeVsProxy(benchmark::State &state)
{
    Fixture &f = shared();
    const QStringList &texts = typedTexts();
    Sides sides;
    int i = 0;
    for (auto _ : state) {
        const QString &text = texts.at(i % texts.size());
        const auto ourTurn = [&] {
            return sides.timed(true, [&] {
                f.library->setSearchText(text);
                layOutAndPaint(f.view);
            });
        };
        const auto proxyTurn = [&] {
            sides.timed(false, [&] {
                f.proxy.setFilterFixedString(text);
                layOutAndPaint(f.proxyView);
            });
        };
        double our = 0;
        if (i++ % 2 == 0) {
            our = ourTurn();
            proxyTurn();
        } else {
            proxyTurn();
            our = ourTurn();
        }
        state.SetIterationTime(our);
    }
    f.library->setSearchText(QString());
    f.proxy.setFilterFixedString(QString());
    sides.report(state);
}
BENCHMARK(BM_SearchKeystrokeVsProxy)->Iterations(60)->UseManualTime()->Unit(benchmark::kMillisecond);

// The same keystrokes without the view's layout and paint: the store's filter and the model's rebuild.
void BM_SearchKeystrokeModelOnly(benchmark::State &state)
{
    Fixture &f = shared();
    const QStringList &texts = typedTexts();
    int i = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        f.library->setSearchText(texts.at(i++ % texts.size()));
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
    }
    f.library->setSearchText(QString());
    layOutAndPaint(f.view);
}
BENCHMARK(BM_SearchKeystrokeModelOnly)->Iterations(60)->UseManualTime()->Unit(benchmark::kMillisecond);

// The store's own part of a keystroke: filtering 100,000 names (not the list's cost).
void BM_StoreFilterOnly(benchmark::State &state)
{
    Fixture &f = shared();
    const QStringList &texts = typedTexts();
    const ClipListing::Index index = ClipListing::index(f.library->clips());
    int i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(ClipListing::positions(
            f.library->clips(), std::nullopt, texts.at(i++ % texts.size()), ClipSort::newest, &index));
}
BENCHMARK(BM_StoreFilterOnly)->Iterations(60)->Unit(benchmark::kMillisecond);

// The list model's own part: the runs rebuilt over the shown positions.
void BM_ModelRebuildOnly(benchmark::State &state)
{
    Fixture &f = shared();
    for (auto _ : state)
        emit f.library->filteredPositionsChanged(f.library->filteredPositions());
}
BENCHMARK(BM_ModelRebuildOnly)->Iterations(30)->Unit(benchmark::kMillisecond);

void BM_LayoutOnly(benchmark::State &state)
{
    Fixture &f = shared();
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        f.view->doItemsLayout();
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
    }
}
BENCHMARK(BM_LayoutOnly)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_PaintViewport(benchmark::State &state)
{
    Fixture &f = shared();
    layOutAndPaint(f.view);
    f.view->verticalScrollBar()->setValue(f.view->verticalScrollBar()->maximum() / 2);
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        f.view->viewport()->repaint();
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
    }
    state.counters["rowsShown"] = double(viewportSize.height()) / ClipRowDelegate::rowHeight;
}
BENCHMARK(BM_PaintViewport)->Iterations(100)->UseManualTime()->Unit(benchmark::kMillisecond);

// The keystroke as the user makes it: a key typed into the real clip list column's search field (the store's
// filter, the list model's reset, the column's title, count, page and selection), then the event loop's turns
// that lay out the list and paint what changed, with a recording selected as after a scan. The anchor is a
// search field above a plain QListView over a QSortFilterProxyModel of the same names, typed into and
// given the same turns. The user types "rec_2023_03_1" and takes it back key by key; the sides alternate
// which goes first.
struct Column {
    benchmodel::BenchModel surroundings;
    std::unique_ptr<ClipListView> view;
    QStringListModel names;
    QSortFilterProxyModel proxy;
    std::unique_ptr<QWidget> anchor;
    QLineEdit *anchorField = nullptr;
    QListView *anchorList = nullptr;

    Column()
    {
        surroundings.addLibraryFolder();
        const QList<DashClip> clips = benchmodel::manyClips();
        surroundings.create(surroundings.services([clips](const QStringList &) { return clips; }));
        LibraryStore &library = surroundings.library();
        if (!library.selectedSourceID())
            library.setSelectedSourceID(library.sources().value(1).id());
        benchmodel::BenchModel::waitForScan(library, recordingCount);
        view = std::make_unique<ClipListView>(*surroundings.model);
        view->resize(viewportSize.width(), viewportSize.height() + 100);
        view->show();
        exposed(view.get());

        QStringList texts;
        for (const DashClip &clip : library.clips())
            texts.append(clip.name);
        names.setStringList(texts);
        proxy.setSourceModel(&names);
        proxy.setFilterCaseSensitivity(Qt::CaseInsensitive);
        anchor = std::make_unique<QWidget>();
        auto *layout = new QVBoxLayout(anchor.get());
        anchorField = new QLineEdit(anchor.get());
        anchorList = new QListView(anchor.get());
        anchorList->setModel(&proxy);
        anchorList->setFrameShape(QFrame::NoFrame);
        anchorList->setUniformItemSizes(true);
        layout->addWidget(anchorField);
        layout->addWidget(anchorList, 1);
        QObject::connect(anchorField, &QLineEdit::textChanged, &proxy,
                         &QSortFilterProxyModel::setFilterFixedString);
        anchor->resize(view->size());
        anchor->show();
        exposed(anchor.get());
    }
};

void typeKey(QWidget *field, int key, const QString &text)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(field, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(field, &release);
}

void BM_SearchFieldKeystrokeVsProxy(benchmark::State &state)
{
    Column &c = benchmodel::shared<Column>();
    const QString typed = QStringLiteral("rec_2023_03_1");
    QLineEdit *field = c.view->searchField();
    Sides sides;
    std::vector<double> changing;
    int i = 0;
    for (auto _ : state) {
        const int step = i % (2 * int(typed.size()));
        const bool adding = step < typed.size();
        const int key = adding ? int(typed.at(step).toUpper().unicode()) : Qt::Key_Backspace;
        const QString text = adding ? typed.mid(step, 1) : QString();
        // Two turns of the event loop: the list's layout waits for the first; a view that learns of its new
        // rows from a layout asks for its paint in the second.
        const auto timed = [&](QWidget *into) {
            return sides.timed(into == field, [&] {
                typeKey(into, key, text);
                QCoreApplication::processEvents();
                QCoreApplication::processEvents();
            });
        };
        const qsizetype shownBefore = c.surroundings.library().filteredPositions().size();
        double our = 0;
        if (i++ % 2 == 0) {
            our = timed(field);
            timed(c.anchorField);
        } else {
            timed(c.anchorField);
            our = timed(field);
        }
        // A key that keeps the same recordings leaves the list as it is: those that change it are told apart.
        if (c.surroundings.library().filteredPositions().size() != shownBefore)
            changing.push_back(our * 1e3);
        state.SetIterationTime(our);
    }
    const bool same = field->text() == c.anchorField->text() &&
                      c.surroundings.library().filteredPositions().size() == c.proxy.rowCount();
    if (!same)
        state.SkipWithError("the two sides show different lists");
    sides.report(state);
    state.counters["ourMaxMs"] = *std::max_element(sides.ourWall.begin(), sides.ourWall.end());
    std::sort(changing.begin(), changing.end());
    state.counters["changingMs"] = changing.empty() ? 0 : benchsupport::median(changing);
    state.counters["changingMaxMs"] = changing.empty() ? 0 : changing.back();
    state.counters["shown"] = double(c.proxy.rowCount());
}
BENCHMARK(BM_SearchFieldKeystrokeVsProxy)->Iterations(78)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_Memory(benchmark::State &state)
{
    Fixture &f = shared();
    for (auto _ : state)
        benchmark::DoNotOptimize(f.model->memoryBytes());
    state.counters["bytesPerRecording"] = double(f.model->memoryBytes()) / recordingCount;
}
BENCHMARK(BM_Memory)->Iterations(1);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    benchmodel::endShared<Column>();
    benchmodel::endShared<Fixture>();
    return 0;
}
