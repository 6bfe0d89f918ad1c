#include "roadloom/ui/ShellHarness.h"

#include "fixtures/Screenshot.h"
#include "roadloom/ui/shell/AppActions.h"

#include <QAction>
#include <QToolBar>

using namespace AppHarness;
using namespace ShellHarness;
using TestSupport::waitFor;

namespace {

class AppActionsScreenshotTest : public ShellTest {
protected:
    void SetUp() override
    {
        ROADLOOM_REQUIRE_SCREENSHOTS();
        Screenshot::prepare();
    }
};

// The toolbar's buttons that wait for a recording are drawn faded until one loads, the others at once.
TEST_F(AppActionsScreenshotTest, ToolbarButtonsAreFadedUntilARecordingLoads)
{
    const DashClip clip = recording("REC_A", at(1));
    makeApp({clip, recording("REC_B", at(2))});
    MainWindow &main = openMain();
    // The listed recording selected at start loads; the window starts without one.
    ASSERT_TRUE(waitFor([&] { return model->player().clip().has_value(); }));
    model->library().setSelectedClipID(std::nullopt);
    ASSERT_TRUE(waitFor([&] { return !model->player().clip(); }));
    auto *actions = main.findChild<AppActions *>();
    ASSERT_NE(actions, nullptr);
    // Ink is the button text colour; a faded symbol is that colour at a third over the light toolbar.
    const auto ink = [](const QColor &c) { return c.lightness() < 100; };
    const auto faded = [](const QColor &c) { return c.lightness() > 130 && c.lightness() < 200; };
    const auto rect = [&](const char *name) {
        QWidget *button = actions->toolBar()->widgetForAction(actions->action(QString::fromLatin1(name)));
        return QRect(button->mapTo(&main, QPoint(0, 0)), button->size());
    };
    const QStringList waiting = {"toolbarSnapshot", "toolbarPrint", "toolbarExport"};
    const QStringList ready = {"toolbarOpen", "toolbarDeviceSettings", "toolbarTheater", "toolbarInspector"};

    for (const QSize &size : {Screenshot::large, Screenshot::small}) {
        SCOPED_TRACE(size.width());
        const QImage empty =
            Screenshot::capture(&main, size, QStringLiteral("toolbar-empty-%1").arg(size.width()));
        for (const QString &name : waiting) {
            EXPECT_EQ(Screenshot::count(empty, rect(name.toLatin1()), ink), 0) << name.toStdString();
            EXPECT_GT(Screenshot::count(empty, rect(name.toLatin1()), faded), 20) << name.toStdString();
        }
        for (const QString &name : ready)
            EXPECT_GT(Screenshot::count(empty, rect(name.toLatin1()), ink), 20) << name.toStdString();
    }

    model->library().setSelectedClipID(clip.id);
    ASSERT_TRUE(waitFor([&] {
        return model->player().clip() && model->player().clip()->id == clip.id && front().hasFile();
    }));
    front().fireReady(facts());
    ASSERT_TRUE(waitFor([&] { return model->player().hasMedia(); }));
    for (const QSize &size : {Screenshot::large, Screenshot::small}) {
        SCOPED_TRACE(size.width());
        const QImage loaded =
            Screenshot::capture(&main, size, QStringLiteral("toolbar-loaded-%1").arg(size.width()));
        for (const QString &name : waiting + ready)
            EXPECT_GT(Screenshot::count(loaded, rect(name.toLatin1()), ink), 20) << name.toStdString();
    }
}

} // namespace
