#include "roadloom/ui/ShellHarness.h"

#include "roadloom/model/ConfigStore.h"
#include "roadloom/ui/device/ConfigRow.h"
#include "roadloom/ui/device/DeviceSettingsWindow.h"

#include <QAbstractButton>
#include <QSignalSpy>

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
    model->config().open(path);
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

} // namespace
