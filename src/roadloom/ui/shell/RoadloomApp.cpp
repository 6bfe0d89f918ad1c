#include "roadloom/ui/shell/RoadloomApp.h"

#include "platform/gui/SingleInstance.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/model/ConfigStore.h"
#include "roadloom/ui/device/DeviceSettingsWindow.h"
#include "roadloom/ui/settings/PreferencesWindow.h"
#include "roadloom/ui/shell/AppActions.h"
#include "roadloom/ui/shell/MainWindow.h"
#include "roadloom/ui/shell/WindowKeys.h"

#include <QApplication>
#include <QCloseEvent>

const QString RoadloomApp::mainID = QStringLiteral("main");
const QString RoadloomApp::deviceSettingsID = QStringLiteral("device-settings");
const QString RoadloomApp::settingsID = QStringLiteral("settings");

RoadloomApp::RoadloomApp(AppModel &model, QObject *parent) : QObject(parent), m_model(model)
{
    // The last window closing quits through the guards, not behind their back.
    QGuiApplication::setQuitOnLastWindowClosed(false);

    registerWindow(mainID, [](RoadloomApp &app) {
        auto *window = new MainWindow(app.model());
        new AppActions(app, *window); // the window's menu bar and toolbar
        connect(window, &MainWindow::deviceSettingsRequested, &app,
                [&app] { app.openWindow(deviceSettingsID); });
        connect(window, &MainWindow::settingsRequested, &app, [&app] { app.openWindow(settingsID); });
        return window;
    });
    registerWindow(deviceSettingsID, [](RoadloomApp &app) { return new DeviceSettingsWindow(app.model()); });
    // Unsaved camera settings live only in the model: quitting asks before they go.
    addQuitGuard([&model] { return model.config().mayDiscardEdits(); });
    registerWindow(settingsID, [](RoadloomApp &app) { return new PreferencesWindow(app.model()); });
}

RoadloomApp::~RoadloomApp()
{
    for (const QPointer<QWidget> &window : std::as_const(m_windows))
        delete window.data();
}

void RoadloomApp::registerWindow(const QString &id, WindowFactory factory)
{
    m_factories.insert(id, std::move(factory));
}

QWidget *RoadloomApp::window(const QString &id) const
{
    return m_windows.value(id).data();
}

MainWindow *RoadloomApp::mainWindow() const
{
    return qobject_cast<MainWindow *>(window(mainID));
}

QWidget *RoadloomApp::openWindow(const QString &id)
{
    QWidget *made = window(id);
    if (!made) {
        const auto factory = m_factories.constFind(id);
        if (factory == m_factories.cend() || !*factory)
            return nullptr;
        made = (*factory)(*this);
        if (!made)
            return nullptr;
        made->installEventFilter(this);
        m_windows.insert(id, made);
        // The main window's menu bar holds these; the others need them once the main window is closed.
        if (id != mainID)
            new WindowKeys(*this, *made);
        if (auto *main = qobject_cast<MainWindow *>(made)) {
            main->showRestored();
            if (QWindow *handle = main->windowHandle())
                m_model.setMainWindow(handle);
            return made;
        }
    }
    if (made->isMinimized())
        made->showNormal();
    made->show();
    made->raise();
    made->activateWindow();
    return made;
}

void RoadloomApp::closeWindow(QWidget &window)
{
    if (&window == this->window(deviceSettingsID)) {
        ConfigStore &config = m_model.config();
        if (!config.mayDiscardEdits())
            return;
        if (config.isDirty())
            config.setFile(config.saved());
    }
    window.close();
}

void RoadloomApp::addQuitGuard(QuitGuard guard)
{
    m_guards.append(std::move(guard));
}

bool RoadloomApp::requestQuit()
{
    if (m_quitting)
        return true;
    for (const QuitGuard &guard : std::as_const(m_guards))
        if (guard && !guard())
            return false;
    m_quitting = true;
    emit quitting();
    for (const QPointer<QWidget> &window : std::as_const(m_windows))
        if (window)
            window->close();
    // Quitting is decided: running exports stop and leave no incomplete movie; nothing is asked. The windows
    // go first: a run a file system holds is waited for until the quit's deadline.
    m_model.beginQuit();
    return true;
}

void RoadloomApp::openPaths(const QStringList &paths)
{
    openWindow(mainID);
    if (!paths.isEmpty())
        m_model.library().open(paths);
}

void RoadloomApp::serve(SingleInstance &instance)
{
    connect(&instance, &SingleInstance::pathsReceived, this, &RoadloomApp::openPaths);
    connect(this, &RoadloomApp::quitting, &instance, &SingleInstance::close);
}

bool RoadloomApp::anotherWindowOpen(QObject *closing) const
{
    for (const QPointer<QWidget> &window : std::as_const(m_windows))
        if (window && window != closing && window->isVisible())
            return true;
    return false;
}

bool RoadloomApp::windowClosing(QObject *window)
{
    if (m_quitting)
        return true;
    // The last window: closing it is quitting, which the guards may refuse.
    if (!anotherWindowOpen(window))
        return requestQuit();
    // Nobody watches the video once the main window is gone.
    if (window == this->window(mainID) && m_model.player().isPlaying())
        m_model.player().togglePlay();
    return true;
}

bool RoadloomApp::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::Close || !watched->isWidgetType())
        return QObject::eventFilter(watched, event);
    for (const QPointer<QWidget> &window : std::as_const(m_windows)) {
        if (window != watched)
            continue;
        if (windowClosing(watched))
            break;
        event->ignore();
        return true; // the window stays open
    }
    return QObject::eventFilter(watched, event);
}
