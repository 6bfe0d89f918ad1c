// The data log and the inspector column with a recording of 100,000 raw records (20 to 80 characters),
// drawn offscreen, each figure as median and worst of its runs:
// - opening the data log until its first paint (limit 100 ms);
// - one filter keystroke: the model update and the repaint (limit 16 ms);
// - scrolling the table by a page and repainting (limit 16 ms);
// - one playhead tick of the inspector column with every section present, repaint included (limit 2 ms).
// Build in Release: `cmake --preset release && cmake --build --preset release --target bench_DataLogBench`.
#include "BenchModel.h"
#include "roadloom/ui/inspector/ClipInspector.h"
#include "roadloom/ui/inspector/DataLogSheet.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

Telemetry bigTelemetry()
{
    Telemetry t;
    t.source = QStringLiteral("MP4 text track");
    t.sourceChannel = Channel::front;
    for (int i = 0; i < 100'000; ++i) {
        QString text = QStringLiteral("$GPRMC,%1,A,5231.%2,N,01324.3,E,20.0").arg(100000 + i).arg(i % 97);
        text = text.left(20 + i % 61);
        text += QString(std::max<qsizetype>(0, 20 - text.size()), QLatin1Char('0'));
        t.records.append({i * 0.01, text});
    }
    for (int i = 0; i < 3000; ++i) {
        GPSFix fix;
        fix.time = i * 0.2;
        fix.latitude = 52.5 + i * 1e-5;
        fix.longitude = 13.4;
        fix.speedKnots = 20;
        fix.timestamp = QDateTime(QDate(2024, 5, 1), QTime(10, 0), Qt::UTC).addMSecs(i * 200);
        fix.mode = QStringLiteral("A");
        fix.altitude = 34;
        t.gps.append(fix);
    }
    for (int i = 0; i < 60'000; ++i)
        t.sensor.append({i * 0.01, 0.01 * (i % 7), -0.98, 0.1});
    for (int i = 0; i < 600; ++i)
        t.vehicle.append(
            {i * 1.0, {QString::number(i % 3), QStringLiteral("12"), QString(), QStringLiteral("4")}});
    t.other = {{1, QStringLiteral("GPVTG"), {QStringLiteral("42.0"), QStringLiteral("T")}}};
    t.sentenceCounts = {{QStringLiteral("RMC"), 3000}, {QStringLiteral("G-sensor"), 60000}};
    return t;
}

// The application model whose players read a recording of 100,000 raw records.
struct Model : benchmodel::BenchModel {
    Model()
    {
        AppModel::Services s = services();
        const Telemetry telemetry = bigTelemetry();
        s.playerServices.resolve = [](const DashClip &clip) { return clip; };
        s.playerServices.readTelemetry = [telemetry](const ChannelFiles &) { return telemetry; };
        s.playerServices.inspect = [](const QString &) {
            MediaInfo info;
            info.container = QStringLiteral("MPEG-4");
            info.overallBitrate = 12e6;
            info.tracks = {
                {QStringLiteral("Video"), QStringLiteral("H.264"), {QStringLiteral("1920×1080")}, {}, {}}};
            info.vendorBoxes = {{QStringLiteral("moov/udta/gps0"), 100, QStringLiteral("00 01 02"), {}}};
            return info;
        };
        create(std::move(s));
    }

    void load()
    {
        DashClip clip;
        clip.id = clip.name = QStringLiteral("REC_2024_05_01_10_00_00");
        clip.date = QDateTime(QDate(2024, 5, 1), QTime(10, 0), Qt::UTC);
        clip.files = {{Channel::front, QStringLiteral("/card/A_F.mp4")},
                      {Channel::rear, QStringLiteral("/card/A_R.mp4")}};
        PlayerController &player = model->player();
        player.load(clip, false);
        auto &front = static_cast<FakeVideoPlayer &>(player.front());
        while (!front.hasFile())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        VideoFacts facts;
        facts.duration = 1000;
        facts.hasVideo = true;
        facts.size = QSize(64, 36);
        facts.frameRate = 30;
        front.fireReady(facts);
        static_cast<FakeVideoPlayer &>(player.rear()).fireReady(facts);
        while (!player.hasMedia() || player.isLoadingTelemetry() || player.mediaInfo().empty())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
};

// Lets the windows paint what changed, as they would on screen.
void repaint()
{
    QCoreApplication::processEvents();
}

// The GUI thread's processor time: on a machine shared with other work, wall time also counts the waits
// for a processor.
double threadMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

struct Timer {
    QElapsedTimer wall;
    double cpu = 0;
    void start()
    {
        wall.start();
        cpu = threadMs();
    }
    void restart() { start(); }
};

struct Figures {
    QList<double> ms, cpu;
    void add(const Timer &timer)
    {
        ms.append(timer.wall.nsecsElapsed() / 1e6);
        cpu.append(threadMs() - timer.cpu);
    }
    static QString of(QList<double> sorted, double limit)
    {
        std::sort(sorted.begin(), sorted.end());
        const double median = sorted[sorted.size() / 2], worst = sorted.last();
        return QStringLiteral("median %1 ms, worst %2 ms%3")
            .arg(median, 0, 'f', 2)
            .arg(worst, 0, 'f', 2)
            .arg(worst <= limit ? QString() : QStringLiteral(" OVER"));
    }
    QString text(double limit) const
    {
        return QStringLiteral("wall %1; processor %2 (limit %3 ms, %4 runs)")
            .arg(of(ms, limit), of(cpu, limit))
            .arg(limit)
            .arg(ms.size());
    }
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Model model;
    model.load();
    QWidget window;
    window.resize(1200, 800);
    ClipInspector inspector(*model.model, &window);
    inspector.resize(300, 800);
    window.show();
    QTextStream out(stdout);

    Figures opening, keystroke, scrolling, tick;
    for (int run = 0; run < 15; ++run) {
        Timer timer;
        timer.start();
        inspector.openDataLog();
        DataLogSheet *sheet = inspector.dataLog();
        QCoreApplication::processEvents();
        repaint();
        opening.add(timer);

        // Typing "a,5231.4" one key at a time, then deleting it again.
        const QString typed = QStringLiteral("a,5231.4");
        for (int i = 1; i <= typed.size() * 2; ++i) {
            const int length = i <= typed.size() ? i : typed.size() * 2 - i;
            timer.restart();
            sheet->filterField()->setText(typed.left(length));
            repaint();
            keystroke.add(timer);
        }
        QScrollBar *bar = sheet->table()->verticalScrollBar();
        for (int page = 0; page < 20; ++page) {
            timer.restart();
            bar->setValue(bar->value() + bar->pageStep() * (run % 2 ? 1 : 997));
            repaint();
            scrolling.add(timer);
        }
        sheet->close(); // deletes itself
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    for (int i = 0; i < 600; ++i) {
        Timer timer;
        timer.start();
        model.model->player().setCurrentTime(i / 30.0 * 7);
        repaint();
        tick.add(timer);
    }
    out << "Data log, 100,000 records:\n";
    out << "  open to first paint: " << opening.text(100) << "\n";
    out << "  filter keystroke:    " << keystroke.text(16) << "\n";
    out << "  page of scrolling:   " << scrolling.text(16) << "\n";
    out << "Inspector tick with every section: " << tick.text(2) << "\n";
    return 0;
}
