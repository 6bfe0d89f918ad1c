#include "roadloom/ui/shell/WindowKeys.h"

#include "roadloom/ui/shell/RoadloomApp.h"

#include <QAction>
#include <QWidget>

using Shortcuts::Command;

WindowKeys::WindowKeys(RoadloomApp &app, QWidget &window) : QObject(&window), m_window(window)
{
    connect(add(QStringLiteral("quit"), QStringLiteral("Quit"), Command::quit), &QAction::triggered, &app,
            [&app] { app.requestQuit(); });
    connect(add(QStringLiteral("settings"), QStringLiteral("Settings…"), Command::settings),
            &QAction::triggered, &app, [&app] { app.openWindow(RoadloomApp::settingsID); });
    connect(add(QStringLiteral("mainWindow"), QStringLiteral("Roadloom"), Command::mainWindow),
            &QAction::triggered, &app, [&app] { app.openWindow(RoadloomApp::mainID); });
    connect(add(QStringLiteral("close"), QStringLiteral("Close"), Command::closeWindow), &QAction::triggered,
            &app, [&app, &window] { app.closeWindow(window); });
}

QAction *WindowKeys::add(const QString &name, const QString &text, Command command)
{
    auto *made = new QAction(text, this);
    made->setObjectName(name);
    made->setShortcuts(Shortcuts::keys(command));
    made->setShortcutContext(Qt::WindowShortcut);
    m_window.addAction(made);
    m_actions.append(made);
    return made;
}

QAction *WindowKeys::action(const QString &name) const
{
    for (QAction *each : m_actions)
        if (each->objectName() == name)
            return each;
    return nullptr;
}
