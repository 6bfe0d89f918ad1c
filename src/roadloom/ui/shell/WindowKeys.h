#pragma once

#include "roadloom/ui/widgets/Shortcuts.h"

#include <QList>
#include <QObject>
#include <QString>

class QAction;
class QWidget;
class RoadloomApp;

// The keys of a window beside the main one: Quit and Settings act there as in the main window, "Roadloom"
// brings the main window forward, also after it was closed, and Close closes the window. Lives as long as
// the window.
class WindowKeys : public QObject {
    Q_OBJECT
public:
    WindowKeys(RoadloomApp &app, QWidget &window);

    // By object name: "quit", "settings", "mainWindow", "close"; none for another name.
    QAction *action(const QString &name) const;
    QList<QAction *> actions() const { return m_actions; }

private:
    QAction *add(const QString &name, const QString &text, Shortcuts::Command command);

    QWidget &m_window;
    QList<QAction *> m_actions;
};
