#pragma once

#include <QApplication>
#include <QWidget>

// The window a dialog belongs to: the given one, else the active window, so that a dialog opened from the
// model still sits over the window the user works in.
inline QWidget *dialogParent(QWidget *given)
{
    return given ? given : QApplication::activeWindow();
}
