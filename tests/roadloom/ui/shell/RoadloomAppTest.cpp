#include "roadloom/ui/ShellHarness.h"

#include "fixtures/HandOver.h"
#include "platform/gui/SingleInstance.h"
#include "roadloom/model/ConfigStore.h"
#include "roadloom/ui/device/ConfigRow.h"
#include "roadloom/ui/device/DeviceSettingsWindow.h"
#include "roadloom/ui/widgets/FirstGeometry.h"

#include <QFile>
#include <QtConcurrent>

#include <QAbstractButton>
#include <QApplication>
#include <QSignalSpy>
#include <QTest>

using namespace AppHarness;
using namespace ShellHarness;
using TestSupport::waitFor;

namespace {

using RoadloomAppTest = ShellTest;

TEST_F(RoadloomAppTest, EachIdMakesOneWindowWithItsTitle)
{
    makeApp();
    const std::vector<std::pair<QString, QString>> windows = {
        {RoadloomApp::mainID, QStringLiteral("Roadloom")},
        {RoadloomApp::deviceSettingsID, QStringLiteral("Device Settings")},
        {RoadloomApp::settingsID, QStringLiteral("Settings")},
    };
    QSet<QWidget *> made;
    for (const auto &[id, title] : windows) {
        SCOPED_TRACE(id.toStdString());
        QWidget *first = app->openWindow(id);
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(first->windowTitle(), title);
        EXPECT_TRUE(first->isVisible());
        first->close();
        EXPECT_EQ(app->openWindow(id), first); // reopened, not made again
        EXPECT_TRUE(first->isVisible());
        made.insert(first);
    }
    EXPECT_EQ(made.size(), 3);
    EXPECT_EQ(app->openWindow(QStringLiteral("nonsense")), nullptr);
    EXPECT_EQ(model->mainWindow(), app->window(RoadloomApp::mainID)->windowHandle());
}

TEST_F(RoadloomAppTest, WindowsKeepTheirMinimumSizes)
{
    makeApp();
    const std::vector<std::pair<QString, QSize>> minimums = {
        {RoadloomApp::mainID, QSize(1000, 640)},
        {RoadloomApp::deviceSettingsID, QSize(560, 480)},
    };
    for (const auto &[id, minimum] : minimums) {
        SCOPED_TRACE(id.toStdString());
        QWidget *window = app->openWindow(id);
        window->resize(300, 200);
        EXPECT_EQ(window->size(), minimum);
        EXPECT_EQ(window->minimumSize(), minimum);
    }
}

// The first window fits the screen's available area with its frame (a typical one while it is not known),
// centred, and never below its minimum size, with its title bar on the screen.
TEST_F(RoadloomAppTest, TheFirstGeometryFitsTheScreenWithTheFrame)
{
    const QMargins unknown, openbox(1, 24, 1, 3);
    const QMargins typical = MainWindow::typicalFrame;
    const struct {
        QRect available;
        QMargins frame;
        QSize size;
    } cases[] = {
        {QRect(0, 0, 1920, 1080), unknown, QSize(1440, 900)},
        {QRect(0, 0, 1366, 768), unknown, QSize(1366, 768).shrunkBy(typical)},
        {QRect(0, 0, 1366, 768), openbox, QSize(1364, 741)},
        {QRect(0, 28, 1366, 740), openbox, QSize(1364, 713)}, // a panel on top
        {QRect(0, 0, 1000, 640), unknown, QSize(1000, 640)},  // never below the minimum
        {QRect(0, 0, 1000, 640), openbox, QSize(1000, 640)},
        {QRect(0, 0, 1440, 600), openbox, QSize(1438, 640)},
        {QRect(), unknown, QSize(1440, 900)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(QStringLiteral("%1x%2+%3 frame top %4")
                         .arg(c.available.width())
                         .arg(c.available.height())
                         .arg(c.available.top())
                         .arg(c.frame.top())
                         .toStdString());
        const QRect inside = MainWindow::firstGeometry(c.available, c.frame);
        EXPECT_EQ(inside.size(), c.size);
        if (!c.available.isValid())
            continue;
        const QRect outside = inside.marginsAdded(c.frame.isNull() ? typical : c.frame);
        if (c.size.width() > MainWindow::minimumContentSize.width() &&
            c.size.height() > MainWindow::minimumContentSize.height()) {
            EXPECT_TRUE(c.available.contains(outside)) << "with its frame on the screen";
        }
        EXPECT_GE(outside.top(), c.available.top()) << "the title bar on the screen";
        EXPECT_GE(outside.left(), c.available.left());
        if (outside.width() <= c.available.width()) {
            EXPECT_LE(
                std::abs((outside.left() - c.available.left()) - (c.available.right() - outside.right())), 1)
                << "centred";
        }
    }
}

TEST_F(RoadloomAppTest, AGeometryIsRestoredOnTheNextRun)
{
    makeApp();
    MainWindow &first = openMain();
    first.resize(1200, 700);
    first.close();
    app.reset();

    app = std::make_unique<RoadloomApp>(*model);
    MainWindow &second = openMain();
    EXPECT_EQ(second.size(), QSize(1200, 700));
}

TEST_F(RoadloomAppTest, ARaisedConfigRequestOpensTheOneDeviceSettingsWindow)
{
    makeApp();
    openMain();
    model->setRequestConfigWindow(true);
    ASSERT_TRUE(waitFor([&] { return app->window(RoadloomApp::deviceSettingsID) != nullptr; }));
    QWidget *window = app->window(RoadloomApp::deviceSettingsID);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(model->requestConfigWindow());

    window->close();
    model->openDeviceSettings();
    ASSERT_TRUE(waitFor([&] { return window->isVisible(); }));
    EXPECT_EQ(app->window(RoadloomApp::deviceSettingsID), window);
    EXPECT_FALSE(model->requestConfigWindow());
}

TEST_F(RoadloomAppTest, ClosingTheMainWindowBesideAnotherPausesAndKeepsRunning)
{
    const DashClip clip = recording("REC_A", at(1));
    makeApp({clip});
    MainWindow &main = openMain();
    app->openWindow(RoadloomApp::deviceSettingsID);
    load(clip);
    model->player().togglePlay();
    ASSERT_TRUE(model->player().isPlaying());

    QSignalSpy quitting(app.get(), &RoadloomApp::quitting);
    EXPECT_TRUE(main.close());
    EXPECT_FALSE(model->player().isPlaying());
    EXPECT_EQ(quitting.count(), 0);

    // A launch without files brings the closed main window back.
    app->openPaths({});
    EXPECT_TRUE(main.isVisible());
}

TEST_F(RoadloomAppTest, QuittingAsksTheGuardsFirst)
{
    makeApp();
    MainWindow &main = openMain();
    bool allow = false;
    int asked = 0;
    app->addQuitGuard([&] {
        ++asked;
        return allow;
    });
    QSignalSpy quitting(app.get(), &RoadloomApp::quitting);

    // The last window closing is a quit the guard refuses: the window stays.
    EXPECT_FALSE(main.close());
    EXPECT_TRUE(main.isVisible());
    EXPECT_FALSE(app->requestQuit());
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(quitting.count(), 0);

    allow = true;
    EXPECT_TRUE(main.close());
    EXPECT_EQ(quitting.count(), 1);
    EXPECT_FALSE(main.isVisible());
}

TEST_F(RoadloomAppTest, PathsHandedOverOpenTogetherAndBringTheMainWindowBack)
{
    makeApp();
    MainWindow &main = openMain();
    app->openWindow(RoadloomApp::settingsID);
    main.close();
    SingleInstance running(dir.filePath("instance.socket"));
    ASSERT_TRUE(running.listen());
    app->serve(running);

    const QString folder = dir.filePath("Trip 1");
    const QString video = dir.filePath("loose/REC_2024_05_01_10_00_00_F.mp4");
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(video).path()));
    QFile(video).open(QIODevice::WriteOnly);
    QFuture<bool> handed = QtConcurrent::run([path = dir.filePath("instance.socket"), folder, video] {
        return handOver(path, {folder, video});
    });
    ASSERT_TRUE(waitFor([&] { return handed.isFinished(); }));
    EXPECT_TRUE(handed.result());
    ASSERT_TRUE(waitFor([&] { return model->library().imported().has_value(); }));
    EXPECT_TRUE(main.isVisible());
    const QList<LibrarySource> folders = model->library().folders();
    EXPECT_TRUE(std::any_of(folders.begin(), folders.end(),
                            [&](const LibrarySource &s) { return s.urls == QStringList{folder}; }));
    EXPECT_EQ(model->library().imported()->urls, QStringList{video});
    // The opened file's source is selected last, as after a drop of both.
    EXPECT_EQ(model->library().selectedSourceID(), model->library().imported()->id());
}

TEST_F(RoadloomAppTest, AQuittingApplicationTakesNoMorePaths)
{
    makeApp();
    openMain();
    SingleInstance running(dir.filePath("instance.socket"));
    ASSERT_TRUE(running.listen());
    app->serve(running);
    ASSERT_TRUE(app->requestQuit());
    EXPECT_FALSE(running.isListening());
    EXPECT_FALSE(handOver(dir.filePath("instance.socket"), {dir.filePath("late")}, 500));
}

// With the main window closed, the other windows still quit, open the settings and bring the main window
// back, by their keys; with it open, each key fires once whichever window has the keyboard.
TEST_F(RoadloomAppTest, EveryWindowQuitsOpensTheSettingsAndBringsTheMainWindowBack)
{
    const auto activate = [](QWidget *window) {
        window->activateWindow();
        QApplication::setActiveWindow(window);
        return QTest::qWaitForWindowActive(window);
    };
    for (const QString &id : {RoadloomApp::deviceSettingsID, RoadloomApp::settingsID}) {
        SCOPED_TRACE(id.toStdString());
        makeApp();
        MainWindow &main = openMain();
        QWidget *other = app->openWindow(id);
        bool allow = false;
        int asked = 0;
        app->addQuitGuard([&] {
            ++asked;
            return allow;
        });
        QSignalSpy quitting(app.get(), &RoadloomApp::quitting);

        // Both windows open: Quit asks the guards once, from either window.
        for (QWidget *window : {static_cast<QWidget *>(&main), other}) {
            ASSERT_TRUE(activate(window));
            asked = 0;
            QTest::keyClick(window, Qt::Key_Q, Qt::ControlModifier);
            EXPECT_EQ(asked, 1) << window->windowTitle().toStdString();
        }

        ASSERT_TRUE(main.close());
        ASSERT_TRUE(activate(other));
        QTest::keyClick(other, Qt::Key_Comma, Qt::ControlModifier);
        QWidget *settings = app->window(RoadloomApp::settingsID);
        ASSERT_NE(settings, nullptr);
        EXPECT_TRUE(settings->isVisible());
        ASSERT_TRUE(activate(other));
        QTest::keyClick(other, Qt::Key_1, Qt::ControlModifier);
        EXPECT_TRUE(main.isVisible()) << "back by its key";

        ASSERT_TRUE(main.close());
        ASSERT_TRUE(activate(other));
        asked = 0;
        QTest::keyClick(other, Qt::Key_Q, Qt::ControlModifier);
        EXPECT_EQ(asked, 1) << "Quit goes through the guards";
        EXPECT_EQ(quitting.count(), 0);
        EXPECT_TRUE(other->isVisible());
        allow = true;
        QTest::keyClick(other, Qt::Key_Q, Qt::ControlModifier);
        EXPECT_EQ(quitting.count(), 1);
        EXPECT_FALSE(other->isVisible());
        app.reset();
        model.reset();
    }
}

// Qt gives the main window a new handle when the video stage's OpenGL canvas joins it; the key handling
// must follow, or the playback keys stop acting in the real program.
TEST_F(RoadloomAppTest, TheKeyHandlingFollowsTheMainWindowsNewHandle)
{
    makeApp();
    MainWindow &main = openMain();
    EXPECT_EQ(model->mainWindow(), main.windowHandle());
    model->setMainWindow(nullptr); // what the end of the old handle leaves behind
    QEvent changed(QEvent::WinIdChange);
    QCoreApplication::sendEvent(&main, &changed);
    EXPECT_EQ(model->mainWindow(), main.windowHandle());
}

// Device Settings opens no larger than the screen's available area with a frame around it.
TEST_F(RoadloomAppTest, SettingsAndDeviceSettingsOpenWithinTheScreen)
{
    makeApp();
    for (const QString &id : {RoadloomApp::settingsID, RoadloomApp::deviceSettingsID}) {
        SCOPED_TRACE(id.toStdString());
        QWidget *window = app->openWindow(id);
        ASSERT_NE(window, nullptr);
        auto *first = window->findChild<FirstGeometry *>();
        ASSERT_NE(first, nullptr);
        const QSize wanted =
            id == RoadloomApp::settingsID ? window->sizeHint() : DeviceSettingsWindow::firstSize;
        window->hide();
        const struct {
            QRect screen;
            QMargins frame; // none: not known yet
        } rows[] = {{QRect(0, 0, 1366, 640), {}},
                    {QRect(0, 0, 640, 640), {}},
                    {QRect(200, 28, 1280, 572), {}},
                    {QRect(0, 0, 640, 480), QMargins(1, 20, 1, 1)}};
        for (const auto &[screen, known] : rows) {
            SCOPED_TRACE(screen.height());
            const QMargins frame = known.isNull() ? FirstGeometry::typicalFrame : known;
            first->place(screen, known);
            // pos() is the frame's corner.
            EXPECT_TRUE(screen.contains(QRect(window->pos(), window->size().grownBy(frame))))
                << "the last row stays on the screen";
            EXPECT_EQ(window->size(),
                      wanted.boundedTo(screen.size().shrunkBy(frame)).expandedTo(window->minimumSize()));
        }
    }
}

// Ctrl+W closes Settings and Device Settings; with unsaved camera settings it asks first: Cancel keeps the
// window and the edits, Discard Changes drops them and closes.
TEST_F(RoadloomAppTest, ControlWClosesTheOtherWindowsAskingAboutUnsavedSettings)
{
    const auto activate = [](QWidget *window) {
        window->activateWindow();
        QApplication::setActiveWindow(window);
        return QTest::qWaitForWindowActive(window);
    };
    const auto closeKey = [](QWidget *window) { QTest::keyClick(window, Qt::Key_W, Qt::ControlModifier); };
    makeApp();
    MainWindow &main = openMain();
    const QString path = card() + "/SETTING/blackbox.cfg";
    TestSupport::writeFile(path, "[Audio]\r\nmic_in=1\r\n");
    for (const QString &id : {RoadloomApp::settingsID, RoadloomApp::deviceSettingsID}) {
        SCOPED_TRACE(id.toStdString());
        QWidget *window = app->openWindow(id);
        ASSERT_TRUE(activate(window));
        closeKey(window);
        EXPECT_FALSE(window->isVisible());
        EXPECT_TRUE(main.isVisible());
    }
    EXPECT_TRUE(alerts.shown.isEmpty());

    auto *device = qobject_cast<DeviceSettingsWindow *>(app->openWindow(RoadloomApp::deviceSettingsID));
    ASSERT_TRUE(TestSupport::finish(model->config().open(path)));
    ASSERT_EQ(device->rows().size(), 1);
    static_cast<QAbstractButton *>(device->rows().constFirst()->control())->click();
    ASSERT_TRUE(model->config().isDirty());
    ASSERT_TRUE(activate(device));
    alerts.answer = 1; // Cancel
    closeKey(device);
    ASSERT_EQ(alerts.shown.size(), 1);
    EXPECT_EQ(alerts.shown[0].messageText, "The camera settings have unsaved changes.");
    EXPECT_TRUE(device->isVisible());
    EXPECT_TRUE(model->config().isDirty());

    alerts.answer = 0; // Discard Changes
    closeKey(device);
    EXPECT_EQ(alerts.shown.size(), 2);
    EXPECT_FALSE(device->isVisible());
    EXPECT_FALSE(model->config().isDirty());
    EXPECT_TRUE(main.isVisible());
    EXPECT_EQ(TestSupport::readFile(path), "[Audio]\r\nmic_in=1\r\n");
}

} // namespace
