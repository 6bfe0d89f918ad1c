#include "roadloom/ui/ShellHarness.h"

#include "fixtures/ModalDialogs.h"
#include "platform/gui/MessageAlerts.h"
#include "roadloom/model/ConfigStore.h"
#include "roadloom/ui/device/ConfigRow.h"
#include "roadloom/ui/device/DeviceSettingsWindow.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>

using namespace AppHarness;
using namespace ShellHarness;

namespace {

using DeviceSettingsQuitTest = ShellTest;

// Quitting with unsaved camera settings asks first; Cancel keeps the application and the edits.
TEST_F(DeviceSettingsQuitTest, QuittingWithUnsavedSettingsAsksFirst)
{
    makeApp();
    const QString path = card() + "/SETTING/blackbox.cfg";
    TestSupport::writeFile(path, "[Audio]\r\nmic_in=1\r\n");
    auto *window = qobject_cast<DeviceSettingsWindow *>(app->openWindow(RoadloomApp::deviceSettingsID));
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->windowTitle(), "Device Settings");
    ASSERT_TRUE(TestSupport::finish(model->config().open(path)));
    ASSERT_EQ(window->rows().size(), 1);
    QSignalSpy quitting(app.get(), &RoadloomApp::quitting);

    // Clean: no question.
    EXPECT_TRUE(model->config().mayDiscardEdits());
    static_cast<QAbstractButton *>(window->rows().constFirst()->control())->click();
    ASSERT_TRUE(model->config().isDirty());

    alerts.answer = 1; // Cancel
    EXPECT_FALSE(app->requestQuit());
    ASSERT_EQ(alerts.shown.size(), 1);
    EXPECT_EQ(alerts.shown[0].messageText, "The camera settings have unsaved changes.");
    EXPECT_EQ(alerts.shown[0].buttons, (QStringList{"Discard Changes", "Cancel"}));
    EXPECT_EQ(alerts.windows[0], window) << "over the window whose edits they are";
    EXPECT_EQ(quitting.count(), 0);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(model->config().isDirty());

    // Closing the last window is a quit too.
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(alerts.shown.size(), 2);

    alerts.answer = 0; // Discard Changes
    EXPECT_TRUE(app->requestQuit());
    EXPECT_EQ(quitting.count(), 1);
    EXPECT_EQ(TestSupport::readFile(path), "[Audio]\r\nmic_in=1\r\n");
}

// The question about unsaved settings sits over the Device Settings window whenever it is open, whichever
// window asked (a .cfg dropped on the main window, a quit from there); with it closed or gone, over the
// active window.
TEST_F(DeviceSettingsQuitTest, TheUnsavedQuestionBelongsToTheDeviceSettingsWindow)
{
    makeApp();
    const QString path = card() + "/SETTING/blackbox.cfg";
    const QString other = dir.filePath("profile.cfg");
    TestSupport::writeFile(path, "[Audio]\r\nmic_in=1\r\n");
    TestSupport::writeFile(other, "[Audio]\r\nmic_in=0\r\n");
    MainWindow &main = openMain();
    auto *window = qobject_cast<DeviceSettingsWindow *>(app->openWindow(RoadloomApp::deviceSettingsID));
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(TestSupport::finish(model->config().open(path)));
    static_cast<QAbstractButton *>(window->rows().constFirst()->control())->click();
    ASSERT_TRUE(model->config().isDirty());
    alerts.answer = 1; // Cancel

    enum class State { open, closed, gone };
    for (State state : {State::open, State::closed, State::gone}) {
        SCOPED_TRACE(int(state));
        if (state == State::closed)
            window->hide();
        if (state == State::gone)
            delete window;
        main.activateWindow();
        alerts.windows.clear();
        ASSERT_TRUE(TestSupport::finish(model->library().open({other}))); // as a drop on the main window
        ASSERT_EQ(alerts.windows.size(), 1);
        EXPECT_EQ(alerts.windows[0], state == State::open ? static_cast<QWidget *>(window) : nullptr);
        // The drop asked for the window too: the quit's question sits over it.
        EXPECT_FALSE(app->requestQuit());
        ASSERT_EQ(alerts.windows.size(), 2);
        window = qobject_cast<DeviceSettingsWindow *>(alerts.windows[1]);
        ASSERT_NE(window, nullptr);
        EXPECT_TRUE(window->isVisible());
    }
    window->hide();
    alerts.windows.clear();
    EXPECT_FALSE(app->requestQuit());
    EXPECT_EQ(alerts.windows, QList<QWidget *>{nullptr});
    EXPECT_EQ(model->config().url(), path);
    EXPECT_TRUE(model->config().isDirty());
}

// The real message box: a child of the Device Settings window, not of the active main window, and wide
// enough to keep its sentence on one line.
TEST_F(DeviceSettingsQuitTest, TheRealQuestionSitsOverTheWindowOnOneLine)
{
    MessageAlerts realAlerts;
    adjust = [&](AppModel::Services &services) { services.alerts = &realAlerts; };
    makeApp();
    const QString path = card() + "/SETTING/blackbox.cfg";
    TestSupport::writeFile(path, "[Audio]\r\nmic_in=1\r\n");
    MainWindow &main = openMain();
    auto *window = qobject_cast<DeviceSettingsWindow *>(app->openWindow(RoadloomApp::deviceSettingsID));
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(TestSupport::finish(model->config().open(path)));
    static_cast<QAbstractButton *>(window->rows().constFirst()->control())->click();
    main.activateWindow();

    QWidget *parent = nullptr;
    QString text;
    int width = 0, needed = 0, height = 0, lineHeight = 0;
    const auto answering = ModalDialogs::whenShown<QMessageBox>([&](QMessageBox *box) {
        parent = box->parentWidget() ? box->parentWidget()->window() : nullptr;
        text = box->text();
        auto *label = box->findChild<QLabel *>("qt_msgbox_label");
        ASSERT_NE(label, nullptr);
        width = label->width();
        needed = label->fontMetrics().horizontalAdvance(text);
        height = label->height();
        lineHeight = label->fontMetrics().height();
        for (QAbstractButton *button : box->buttons())
            if (button->text() == "Cancel")
                button->click();
    });
    EXPECT_FALSE(model->config().mayDiscardEdits());
    EXPECT_EQ(text, "The camera settings have unsaved changes.");
    EXPECT_EQ(parent, window);
    EXPECT_GE(width, needed);
    EXPECT_LT(height, 2 * lineHeight) << "on one line";
    EXPECT_TRUE(model->config().isDirty());
}

} // namespace
