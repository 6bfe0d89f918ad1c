#include "roadloom/ui/ShellHarness.h"

#include "platform/StartupGate.h"

#include "roadloom/ui/shell/DropOverlay.h"
#include "roadloom/ui/shell/WindowDropTarget.h"
#include "roadloom/ui/widgets/Palette.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QSignalSpy>
#include <QSplitter>
#include <QSplitterHandle>
#include <QTest>
#include <QVBoxLayout>

#include <atomic>
#include <chrono>
#include <thread>

using namespace AppHarness;
using namespace ShellHarness;
using TestSupport::waitFor;

namespace {

class MainWindowTest : public ShellTest {
protected:
    // A text field deep in a column: it would take dropped text for itself.
    QLineEdit *innerField(MainWindow &window)
    {
        auto *field = new QLineEdit(window.clipListColumn());
        window.clipListColumn()->layout()->addWidget(field);
        field->show();
        QCoreApplication::processEvents();
        return field;
    }
    QString touch(const QString &name)
    {
        const QString path = dir.filePath(QStringLiteral("drop/") + name);
        EXPECT_TRUE(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        return path;
    }
    static bool send(QWidget *target, QEvent &event)
    {
        QCoreApplication::sendEvent(target, &event);
        return event.isAccepted();
    }
    QList<int> sideWidths(MainWindow &window) const
    {
        const QList<int> sizes = window.columns()->sizes();
        return {window.sidebarColumn()->isVisible() ? sizes.value(0) : 0,
                window.clipListColumn()->isVisible() ? sizes.value(1) : 0};
    }
};

TEST_F(MainWindowTest, ColumnsStartAtTheirIdealWidthsWithinTheirLimits)
{
    makeApp();
    MainWindow &window = openMain();
    const QList<int> sizes = window.columns()->sizes();
    EXPECT_EQ(sizes.value(0), MainWindow::sidebarWidths.ideal);
    EXPECT_EQ(sizes.value(1), MainWindow::clipListWidths.ideal);
    const std::vector<std::pair<QWidget *, MainWindow::ColumnWidths>> limits = {
        {window.sidebarColumn(), MainWindow::sidebarWidths},
        {window.clipListColumn(), MainWindow::clipListWidths},
        {window.inspectorColumn(), MainWindow::inspectorWidths},
    };
    for (const auto &[column, widths] : limits) {
        SCOPED_TRACE(column->objectName().toStdString());
        EXPECT_EQ(column->minimumWidth(), widths.minimum);
        EXPECT_EQ(column->maximumWidth(), widths.maximum);
    }
    EXPECT_FALSE(window.inspectorColumn()->isVisible());
}

TEST_F(MainWindowTest, ThreeDroppedFilesReachOneOpenInDragOrderPastATextField)
{
    makeApp();
    MainWindow &window = openMain();
    QLineEdit *field = innerField(window);
    // Names whose order differs from any sorted order.
    const QStringList paths = {touch("REC_2024_05_01_10_02_00_F.mp4"), touch("REC_2024_05_01_10_00_00_F.mp4"),
                               touch("REC_2024_05_01_10_01_00_F.mp4")};
    QMimeData data;
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls.append(QUrl::fromLocalFile(path));
    data.setUrls(urls);
    QSignalSpy dropped(window.dropTarget(), &WindowDropTarget::pathsDropped);

    const QPoint inside = field->rect().center();
    QDragEnterEvent enter(inside, Qt::CopyAction | Qt::LinkAction, &data, Qt::LeftButton, Qt::NoModifier);
    EXPECT_TRUE(send(field, enter));
    EXPECT_TRUE(window.dropOverlay()->isVisible());
    QDragMoveEvent move(inside, Qt::CopyAction | Qt::LinkAction, &data, Qt::LeftButton, Qt::NoModifier);
    EXPECT_TRUE(send(field, move));
    EXPECT_TRUE(window.dropOverlay()->isVisible());
    QDropEvent drop(inside, Qt::CopyAction | Qt::LinkAction, &data, Qt::LeftButton, Qt::NoModifier);
    EXPECT_TRUE(send(field, drop));

    EXPECT_FALSE(window.dropOverlay()->isVisible());
    EXPECT_TRUE(field->text().isEmpty()); // the field never saw the drop
    ASSERT_EQ(dropped.count(), 1);
    EXPECT_EQ(dropped.at(0).at(0).toStringList(), paths);
    ASSERT_TRUE(waitFor([&] { return model->library().imported().has_value(); }));
    EXPECT_EQ(model->library().imported()->urls, paths);
}

TEST_F(MainWindowTest, ADragWithoutLocalFilesIsRefused)
{
    makeApp();
    MainWindow &window = openMain();
    QLineEdit *field = innerField(window);
    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("http://example.invalid/clip.mp4"))});
    QMimeData text;
    text.setText(QStringLiteral("/not/a/url"));
    QSignalSpy dropped(window.dropTarget(), &WindowDropTarget::pathsDropped);
    for (QMimeData *data : {&web, &text}) {
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        EXPECT_FALSE(send(field, enter));
        EXPECT_FALSE(window.dropOverlay()->isVisible());
        QDropEvent drop(QPoint(5, 5), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        EXPECT_FALSE(send(field, drop));
    }
    EXPECT_EQ(dropped.count(), 0);
    EXPECT_TRUE(field->text().isEmpty());
}

TEST_F(MainWindowTest, LeavingTheWindowHidesTheOverlayButMovingBetweenWidgetsDoesNot)
{
    makeApp();
    MainWindow &window = openMain();
    QLineEdit *field = innerField(window);
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(touch("A_F.mp4"))});

    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    send(field, enter);
    QDragLeaveEvent leaveField;
    send(field, leaveField);
    QDragEnterEvent enterColumn(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    send(window.sidebarColumn(), enterColumn);
    QCoreApplication::processEvents();
    EXPECT_TRUE(window.dropOverlay()->isVisible());

    QDragLeaveEvent leaveWindow;
    send(window.sidebarColumn(), leaveWindow);
    EXPECT_TRUE(waitFor([&] { return !window.dropOverlay()->isVisible(); }));
}

TEST_F(MainWindowTest, TheaterModeHidesTheSideColumnsAndRestoresTheirWidths)
{
    makeApp();
    MainWindow &window = openMain();
    QSplitter *columns = window.columns();
    columns->setSizes({260, 330, 800});
    const QList<int> before = sideWidths(window);

    model->setTheaterMode(true);
    EXPECT_TRUE(window.isAnimatingTheater());
    ASSERT_TRUE(waitFor([&] { return !window.isAnimatingTheater(); }));
    EXPECT_FALSE(window.sidebarColumn()->isVisible());
    EXPECT_FALSE(window.clipListColumn()->isVisible());

    model->setTheaterMode(false);
    ASSERT_TRUE(waitFor([&] { return !window.isAnimatingTheater(); }));
    EXPECT_EQ(sideWidths(window), before);

    // A sidebar collapsed by hand comes back at its ideal width.
    columns->setSizes({0, 330, 1060});
    ASSERT_EQ(sideWidths(window).value(0), 0);
    model->setTheaterMode(true);
    ASSERT_TRUE(waitFor([&] { return !window.isAnimatingTheater(); }));
    model->setTheaterMode(false);
    ASSERT_TRUE(waitFor([&] { return !window.isAnimatingTheater(); }));
    EXPECT_EQ(sideWidths(window), (QList<int>{MainWindow::sidebarWidths.ideal, 330}));
    EXPECT_EQ(window.sidebarColumn()->minimumWidth(), MainWindow::sidebarWidths.minimum);
}

// The side columns give way evenly towards their minimums, before the detail column goes below its least.
TEST(MainWindowColumns, TheSideColumnsGiveWayBeforeTheDetailColumn)
{
    using W = std::array<int, 3>;
    const int least = 272;
    struct Case {
        const char *name;
        W wanted;
        int room;
        W fitted;
    };
    const Case cases[] = {
        {"room for all", {220, 310, 290}, 220 + 310 + 290 + 600, {220, 310, 290}},
        {"just room", {220, 310, 290}, 220 + 310 + 290 + least, {220, 310, 290}},
        {"even shares", {220, 310, 290}, 220 + 310 + 290 + least - 30, {210, 300, 280}},
        {"the smallest window", {220, 310, 290}, 190 + 270 + 250 + least, {190, 270, 250}},
        {"one at its minimum gives no more", {195, 310, 290}, 195 + 310 + 290 + least - 45, {190, 290, 270}},
        {"narrower than every minimum", {220, 310, 290}, 600, {190, 270, 250}},
        {"no inspector", {220, 310, 0}, 220 + 310 + least - 40, {200, 290, 0}},
        {"a collapsed sidebar stays collapsed", {0, 440, 290}, 440 + 290 + least - 20, {0, 430, 280}},
        {"wishes beyond the limits", {500, 100, 290}, 2000, {300, 270, 290}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const W fitted = MainWindow::fitColumns(c.wanted, c.room, least);
        EXPECT_EQ(fitted, c.fitted);
    }
}

// In the smallest window with the inspector the side columns stand at their minimums; a wider window gives
// them back the widths they had, the ideal ones or those the user dragged them to, and theater mode brings
// them back as the window's width allows.
TEST_F(MainWindowTest, ANarrowWindowNarrowsTheSideColumnsAndAWideOneGivesTheirWidthsBack)
{
    makeApp();
    model->setShowInspector(true);
    MainWindow &window = openMain();
    const auto widths = [&] {
        return QList<int>{window.sidebarColumn()->width(), window.clipListColumn()->width(),
                          window.inspectorColumn()->width()};
    };
    const auto resize = [&](int width) {
        window.resize(width, 800);
        QCoreApplication::processEvents();
    };
    resize(1440);
    EXPECT_EQ(widths(), (QList<int>{220, 310, 290}));
    resize(1000);
    EXPECT_EQ(widths(), (QList<int>{190, 270, 250}));
    EXPECT_GE(window.detailColumn()->width(), window.detailLeastWidth());
    EXPECT_GE(window.detailLeastWidth(), 260);
    resize(1440);
    EXPECT_EQ(widths(), (QList<int>{220, 310, 290}));

    // The user moves the sidebar's edge into the list: a narrow window takes the width back, a wide one
    // returns it.
    QSplitterHandle *handle = window.columns()->handle(1);
    const QPoint grip(handle->width() / 2, handle->height() / 2);
    QTest::mousePress(handle, Qt::LeftButton, {}, grip);
    QTest::mouseMove(handle, grip + QPoint(40, 0));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, grip + QPoint(40, 0));
    ASSERT_EQ(widths(), (QList<int>{260, 270, 290}));
    resize(1000);
    EXPECT_EQ(widths(), (QList<int>{190, 270, 250}));
    resize(1100);
    EXPECT_EQ(widths().value(0) + widths().value(1) + widths().value(2), 190 + 270 + 250 + 100);
    EXPECT_GE(window.detailColumn()->width(), window.detailLeastWidth());
    resize(1440);
    EXPECT_EQ(widths(), (QList<int>{260, 270, 290}));

    // Theater mode at the smallest width: back at the widths there is room for, the detail column whole.
    resize(1000);
    model->setTheaterMode(true);
    ASSERT_TRUE(waitFor([&] { return !window.isAnimatingTheater(); }));
    EXPECT_FALSE(window.sidebarColumn()->isVisible());
    model->setTheaterMode(false);
    ASSERT_TRUE(waitFor([&] { return !window.isAnimatingTheater(); }));
    EXPECT_EQ(widths(), (QList<int>{190, 270, 250}));
    EXPECT_GE(window.detailColumn()->width(), window.detailLeastWidth());
    resize(1440);
    EXPECT_EQ(widths(), (QList<int>{260, 270, 290}));

    // Hiding the inspector in the small window gives its room back to the side columns.
    resize(1000);
    EXPECT_EQ(widths(), (QList<int>{190, 270, 250}));
    model->setShowInspector(false);
    QCoreApplication::processEvents();
    EXPECT_EQ(widths().mid(0, 2), (QList<int>{260, 270}));
}

TEST_F(MainWindowTest, TheInspectorFollowsTheModelAndDraggingItClosedWritesFalse)
{
    makeApp();
    MainWindow &window = openMain();
    model->setShowInspector(true);
    QCoreApplication::processEvents();
    ASSERT_TRUE(window.inspectorColumn()->isVisible());
    const int width = window.detailSplit()->sizes().value(1);
    EXPECT_GE(width, MainWindow::inspectorWidths.minimum);
    EXPECT_LE(width, MainWindow::inspectorWidths.maximum);

    QSplitterHandle *handle = window.detailSplit()->handle(1);
    const QPoint grip(handle->width() / 2, handle->height() / 2);
    QTest::mousePress(handle, Qt::LeftButton, {}, grip);
    QTest::mouseMove(handle, grip + QPoint(width + 50, 0));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, grip + QPoint(width + 50, 0));
    EXPECT_FALSE(model->showInspector());
    EXPECT_FALSE(window.inspectorColumn()->isVisible());

    model->setShowInspector(true);
    EXPECT_TRUE(window.inspectorColumn()->isVisible());
    EXPECT_GE(window.detailSplit()->sizes().value(1), MainWindow::inspectorWidths.minimum);
}

TEST_F(MainWindowTest, TheSelectedRecordingLoadsIntoThePlayer)
{
    const DashClip older = recording("REC_A", at(1));
    const DashClip newer = recording("REC_B", at(2));
    makeApp({older, newer});
    openMain();
    model->library().setSelectedClipID(older.id);
    ASSERT_TRUE(waitFor([&] { return model->player().clip() && model->player().clip()->id == older.id; }));
}

// Work held at the start-up gate (the catalog's read) goes on only once the window's first frame is out:
// no widget of the window paints that frame while the work runs, and the work is not held for good.
TEST_F(MainWindowTest, WorkHeldForTheFirstFrameStartsOnlyAfterIt)
{
    makeApp();
    StartupGate::close();
    std::atomic<bool> passed = false;
    std::thread work([&passed] {
        StartupGate::wait(std::chrono::seconds(30));
        passed = true;
    });
    // Each paint of the first frame (painted in one go, before the event loop's next turn) notes whether the
    // work had passed; the first child's paint gives a gate opened before it time to let the work through.
    struct Paints : QObject {
        std::atomic<bool> &passed;
        bool started = false, over = false, childSeen = false, paintedWhilePassed = false;
        explicit Paints(std::atomic<bool> &p) : passed(p) {}
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            if (event->type() != QEvent::Paint || !watched->isWidgetType() || over)
                return false;
            if (!started) {
                started = true;
                QMetaObject::invokeMethod(
                    this, [this] { over = true; }, Qt::QueuedConnection);
            }
            if (!childSeen && !static_cast<QWidget *>(watched)->isWindow()) {
                childSeen = true;
                for (int i = 0; i < 200 && !passed; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            paintedWhilePassed = paintedWhilePassed || passed;
            return false;
        }
    } paints(passed);
    qApp->installEventFilter(&paints);
    openMain();
    const bool through = waitFor([&] { return passed.load(); });
    qApp->removeEventFilter(&paints);
    StartupGate::open();
    work.join();
    EXPECT_TRUE(through);
    EXPECT_TRUE(paints.childSeen);
    EXPECT_FALSE(paints.paintedWhilePassed);

    // A window gone before its first frame holds nothing back.
    StartupGate::close();
    delete new MainWindow(*model);
    const auto start = std::chrono::steady_clock::now();
    StartupGate::wait(std::chrono::seconds(10));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    StartupGate::open();
}

TEST_F(MainWindowTest, TheDropFrameIsDashedSixPixelsInsideTheWindowEdge)
{
    makeApp();
    MainWindow &window = openMain();
    window.resize(1000, 640);
    DropOverlay *overlay = window.dropOverlay();
    overlay->show();
    QCoreApplication::processEvents();
    ASSERT_EQ(overlay->size(), window.size());
    const QImage image = overlay->grab().toImage();
    const QColor accent = Palette::accent(overlay->palette());
    auto isAccent = [&](int x, int y) {
        const QColor c = image.pixelColor(x, y);
        return c.alpha() > 200 && std::abs(c.red() - accent.red()) < 40 &&
               std::abs(c.green() - accent.green()) < 40 && std::abs(c.blue() - accent.blue()) < 40;
    };
    // Along each straight edge: dashes of 10 with gaps of 6 on the line 6 to 9 pixels in; nothing outside
    // it, nothing further in.
    struct Edge {
        const char *name;
        std::function<QPoint(int along, int depth)> at;
        int length;
    };
    const int w = image.width(), h = image.height();
    const std::vector<Edge> edges = {
        {"left", [&](int a, int d) { return QPoint(d, a); }, h},
        {"right", [&](int a, int d) { return QPoint(w - 1 - d, a); }, h},
        {"top", [&](int a, int d) { return QPoint(a, d); }, w},
        {"bottom", [&](int a, int d) { return QPoint(a, h - 1 - d); }, w},
    };
    for (const Edge &edge : edges) {
        SCOPED_TRACE(edge.name);
        int on = 0, total = 0, outside = 0, inside = 0;
        for (int a = 40; a < edge.length - 40; ++a) {
            ++total;
            on += isAccent(edge.at(a, 7).x(), edge.at(a, 7).y());
            outside += isAccent(edge.at(a, 4).x(), edge.at(a, 4).y());
            inside += isAccent(edge.at(a, 11).x(), edge.at(a, 11).y());
        }
        EXPECT_NEAR(double(on) / total, 10.0 / 16, 0.08);
        EXPECT_EQ(outside, 0);
        EXPECT_EQ(inside, 0);
    }
    // The frame lets the mouse through to the window.
    EXPECT_TRUE(overlay->testAttribute(Qt::WA_TransparentForMouseEvents));
}

TEST_F(MainWindowTest, F11TogglesFullScreen)
{
    makeApp();
    MainWindow &window = openMain();
    QApplication::setActiveWindow(&window);
    QTest::keyClick(&window, Qt::Key_F11);
    EXPECT_TRUE(window.windowState() & Qt::WindowFullScreen);
    QTest::keyClick(&window, Qt::Key_F11);
    EXPECT_FALSE(window.windowState() & Qt::WindowFullScreen);
}

} // namespace
