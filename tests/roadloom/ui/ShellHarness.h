#pragma once

// The application's windows on the model test harness: a RoadloomApp over a scripted AppModel.
#include "roadloom/model/AppModelHarness.h"

#include "roadloom/ui/shell/MainWindow.h"
#include "roadloom/ui/shell/RoadloomApp.h"

#include <QApplication>

#include <memory>

namespace ShellHarness {

class ShellTest : public AppHarness::ModelTest {
protected:
    std::unique_ptr<RoadloomApp> app;

    RoadloomApp &makeApp(const QList<DashClip> &clips = {})
    {
        make(clips);
        app = std::make_unique<RoadloomApp>(*model);
        return *app;
    }
    MainWindow &openMain()
    {
        auto *window = qobject_cast<MainWindow *>(app->openWindow(RoadloomApp::mainID));
        EXPECT_NE(window, nullptr);
        return *window;
    }
    void TearDown() override
    {
        app.reset();
        QGuiApplication::setQuitOnLastWindowClosed(true);
        AppHarness::ModelTest::TearDown();
    }
};

} // namespace ShellHarness
