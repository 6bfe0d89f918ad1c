#pragma once

// Driving the player views on the application model's test harness: mouse events with explicit buttons
// and global positions, and the views' recording with two cameras.
#include "roadloom/model/AppModelHarness.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>

namespace ViewHarness {

// Sends one mouse event at a point of the widget, its global position as the screen would give it.
inline void mouse(QWidget *widget, QEvent::Type type, QPointF local, Qt::MouseButtons buttons,
                  Qt::MouseButton button = Qt::LeftButton, Qt::KeyboardModifiers modifiers = {})
{
    const QPointF global = widget->mapToGlobal(local);
    QMouseEvent event(type, local, local, global, button, buttons, modifiers);
    QApplication::sendEvent(widget, &event);
}

// A press, moves along the way and a release, in global coordinates counted from the press (the widget
// may move meanwhile, as the deck's handle does).
inline void drag(QWidget *widget, QPointF from, const QList<QPointF> &offsets)
{
    const QPointF globalStart = widget->mapToGlobal(from);
    mouse(widget, QEvent::MouseButtonPress, from, Qt::LeftButton);
    QPointF last = from;
    for (const QPointF &offset : offsets) {
        QCoreApplication::processEvents();
        last = widget->mapFromGlobal(globalStart + offset);
        QMouseEvent move(QEvent::MouseMove, last, last, globalStart + offset, Qt::NoButton, Qt::LeftButton,
                         {});
        QApplication::sendEvent(widget, &move);
    }
    QMouseEvent release(QEvent::MouseButtonRelease, last, last, widget->mapToGlobal(last), Qt::LeftButton,
                        Qt::NoButton, {});
    QApplication::sendEvent(widget, &release);
    QCoreApplication::processEvents();
}

// One click: press and release at a point.
inline void click(QWidget *widget, QPointF at)
{
    mouse(widget, QEvent::MouseButtonPress, at, Qt::LeftButton);
    mouse(widget, QEvent::MouseButtonRelease, at, Qt::NoButton);
}

// A double click as the window system delivers it: press, release, press, double click, release.
inline void doubleClick(QWidget *widget, QPointF at)
{
    click(widget, at);
    mouse(widget, QEvent::MouseButtonPress, at, Qt::LeftButton);
    mouse(widget, QEvent::MouseButtonDblClick, at, Qt::LeftButton);
    mouse(widget, QEvent::MouseButtonRelease, at, Qt::NoButton);
}

inline DashClip twoCameras(const QString &name, std::optional<QDateTime> date = AppHarness::at(0))
{
    return AppHarness::recording(
        name, date,
        {{Channel::front, QStringLiteral("/card/") + name + QStringLiteral("_F.mp4")},
         {Channel::rear, QStringLiteral("/card/") + name + QStringLiteral("_R.mp4")}});
}

} // namespace ViewHarness
