// The device settings window at a 500-entry configuration file: opening the file builds the form within
// 100 ms; a keystroke in the filter field, and one in a text row, each take at most 16 ms and a text row's
// keystroke builds no row. A file of a million lines is answered (refused) within 1 s, and the largest file
// the window opens (2,000 lines, all entries) is timed too. Each time is from the event to the end of the
// event loop's turn that lays out and paints the result (offscreen).
#include "BenchModel.h"
#include "roadcore/ConfigSchema.h"
#include "roadloom/model/ConfigStore.h"
#include "roadloom/ui/device/ConfigRow.h"
#include "roadloom/ui/device/DeviceSettingsWindow.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

constexpr int entryCount = 500;

// Ten sections of fifty entries: every known key in turn (so every kind of row), with a third of the
// entries keys the schema does not know.
QByteArray makeFile()
{
    QStringList known = ConfigSchema::fields().keys();
    known.sort();
    QByteArray text = "; generated\r\n";
    for (int i = 0; i < entryCount; ++i) {
        if (i % 50 == 0)
            text += "[Section" + QByteArray::number(i / 50) + "]\r\n";
        if (i % 3 == 0) {
            text += "extra_setting_" + QByteArray::number(i) + "=value " + QByteArray::number(i) + "\r\n";
            continue;
        }
        const QString key = known.at(i % known.size());
        const ConfigSchema::Kind kind = ConfigSchema::field(key)->kind;
        QByteArray value = "abc";
        if (kind.type == ConfigSchema::Kind::Type::choice)
            value = kind.options.constFirst().value.toUtf8();
        else if (kind.type == ConfigSchema::Kind::Type::range)
            value = QByteArray::number(kind.lower);
        else if (kind.type == ConfigSchema::Kind::Type::toggle)
            value = "1";
        text += key.toUtf8() + "=" + value + "\r\n";
    }
    return text;
}

struct Fixture : benchmodel::BenchModel {
    std::unique_ptr<DeviceSettingsWindow> window;
    QString path = dir.filePath(QStringLiteral("blackbox.cfg"));

    Fixture()
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(makeFile()) < 0)
            std::abort();
        file.close();
        create(services());
        window = std::make_unique<DeviceSettingsWindow>(*model);
        window->resize(640, 720);
        window->show();
        settle();
    }
    ConfigStore &config() const { return model->config(); }
    static void settle()
    {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
    void open()
    {
        window->closeFile();
        settle();
        config().open(path);
        settle();
    }
};

Fixture &shared()
{
    return benchmodel::shared<Fixture>();
}

qint64 threadCpuNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// Wall time (which on a busy machine includes waiting for a CPU) and the GUI thread's own CPU time.
struct Span {
    QElapsedTimer wall;
    qint64 cpu = threadCpuNanoseconds();
    Span() { wall.start(); }
    double wallMs() const { return double(wall.nsecsElapsed()) / 1e6; }
    double cpuMs() const { return double(threadCpuNanoseconds() - cpu) / 1e6; }
};

void type(QWidget *widget, Qt::Key key, const QString &text)
{
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &press);
    QApplication::sendEvent(widget, &release);
}

void BM_OpenBuildsTheForm(benchmark::State &state)
{
    Fixture &f = shared();
    double longest = 0, longestCpu = 0, totalCpu = 0;
    for (auto _ : state) {
        f.window->closeFile();
        Fixture::settle();
        const Span span;
        f.config().open(f.path);
        Fixture::settle();
        const double ms = span.wallMs();
        longest = std::max(longest, ms);
        longestCpu = std::max(longestCpu, span.cpuMs());
        totalCpu += span.cpuMs();
        state.SetIterationTime(ms / 1e3);
    }
    state.counters["rows"] = double(f.window->rows().size());
    state.counters["longest_ms"] = longest;
    state.counters["longest_cpu_ms"] = longestCpu;
    state.counters["mean_cpu_ms"] = totalCpu / double(std::max<qint64>(1, state.iterations()));
}
BENCHMARK(BM_OpenBuildsTheForm)->Iterations(10)->UseManualTime()->Unit(benchmark::kMillisecond);

// Types "rec" and takes it back again, one key at a time.
void BM_FilterKeystroke(benchmark::State &state)
{
    Fixture &f = shared();
    f.open();
    QLineEdit *field = f.window->filterField();
    field->setFocus();
    const QString word = QStringLiteral("rec");
    int step = 0;
    double longest = 0, longestCpu = 0, totalCpu = 0;
    for (auto _ : state) {
        const int at = step % 6;
        const Span span;
        if (at < 3)
            type(field, Qt::Key(Qt::Key_A + (word[at].unicode() - 'a')), word.mid(at, 1));
        else
            type(field, Qt::Key_Backspace, QString());
        Fixture::settle();
        const double ms = span.wallMs();
        longest = std::max(longest, ms);
        longestCpu = std::max(longestCpu, span.cpuMs());
        totalCpu += span.cpuMs();
        state.SetIterationTime(ms / 1e3);
        ++step;
    }
    state.counters["longest_ms"] = longest;
    state.counters["longest_cpu_ms"] = longestCpu;
    state.counters["mean_cpu_ms"] = totalCpu / double(std::max<qint64>(1, state.iterations()));
    state.counters["builds"] = double(f.window->formBuilds());
}
BENCHMARK(BM_FilterKeystroke)->Iterations(60)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_TextRowKeystroke(benchmark::State &state)
{
    Fixture &f = shared();
    f.window->setFilter(QString());
    f.open();
    QLineEdit *field = nullptr;
    for (ConfigRow *row : f.window->rows())
        if (!field && row->entry().key.startsWith(QStringLiteral("extra_")))
            field = qobject_cast<QLineEdit *>(row->control());
    if (!field) {
        state.SkipWithError("no text row");
        return;
    }
    field->setFocus();
    const int builds = f.window->formBuilds();
    const QList<ConfigRow *> rows = f.window->rows();
    double longest = 0, longestCpu = 0, totalCpu = 0;
    int step = 0;
    for (auto _ : state) {
        const Span span;
        if (step++ % 2 == 0)
            type(field, Qt::Key_X, QStringLiteral("x"));
        else
            type(field, Qt::Key_Backspace, QString());
        Fixture::settle();
        const double ms = span.wallMs();
        longest = std::max(longest, ms);
        longestCpu = std::max(longestCpu, span.cpuMs());
        totalCpu += span.cpuMs();
        state.SetIterationTime(ms / 1e3);
    }
    if (f.window->formBuilds() != builds || f.window->rows() != rows)
        state.SkipWithError("a keystroke rebuilt the form");
    state.counters["longest_ms"] = longest;
    state.counters["longest_cpu_ms"] = longestCpu;
    state.counters["mean_cpu_ms"] = totalCpu / double(std::max<qint64>(1, state.iterations()));
    state.counters["dirty_at_end"] = f.config().isDirty() ? 1 : 0;
}
BENCHMARK(BM_TextRowKeystroke)->Iterations(60)->UseManualTime()->Unit(benchmark::kMillisecond);

// A file of a million lines opened in the window: the refusal is shown, without a row being built, within
// 1 s.
void BM_MillionLineFileAnswers(benchmark::State &state)
{
    Fixture &f = shared();
    const QString huge = f.dir.filePath(QStringLiteral("huge.cfg"));
    {
        QByteArray text;
        text.reserve(24'000'000);
        for (int i = 0; i < 1'000'000; ++i)
            text += "setting_" + QByteArray::number(i) + "=" + QByteArray::number(i % 10) + "\r\n";
        QFile file(huge);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) < 0)
            std::abort();
    }
    double longest = 0;
    int alertsBefore = int(f.alerts.shown.size());
    for (auto _ : state) {
        f.window->closeFile();
        Fixture::settle();
        const Span span;
        f.config().open(huge);
        Fixture::settle();
        const double ms = span.wallMs();
        longest = std::max(longest, ms);
        state.SetIterationTime(ms / 1e3);
    }
    if (f.config().file() || f.window->rows().size() != 0 || int(f.alerts.shown.size()) == alertsBefore)
        state.SkipWithError("the file was not refused with a message");
    state.counters["longest_ms"] = longest;
    state.counters["rows"] = double(f.window->rows().size());
}
BENCHMARK(BM_MillionLineFileAnswers)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

// The largest file the window still opens: an entry on every line it allows.
void BM_LargestOpenedFile(benchmark::State &state)
{
    Fixture &f = shared();
    const QString largest = f.dir.filePath(QStringLiteral("largest.cfg"));
    {
        QByteArray text = "[Section]\r\n";
        for (qsizetype i = 1; i < ConfigStore::maximumLines - 1; ++i)
            text += "setting_" + QByteArray::number(i) + "=" + QByteArray::number(i % 10) + "\r\n";
        QFile file(largest);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) < 0)
            std::abort();
    }
    double longest = 0;
    for (auto _ : state) {
        f.window->closeFile();
        Fixture::settle();
        const Span span;
        f.config().open(largest);
        Fixture::settle();
        const double ms = span.wallMs();
        longest = std::max(longest, ms);
        state.SetIterationTime(ms / 1e3);
    }
    state.counters["longest_ms"] = longest;
    state.counters["rows"] = double(f.window->rows().size());
}
BENCHMARK(BM_LargestOpenedFile)->Iterations(5)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    benchmodel::endShared<Fixture>();
    return 0;
}
