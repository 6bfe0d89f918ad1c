#include "roadloom/ui/shell/WindowDropTarget.h"

#include "roadloom/ui/shell/DropOverlay.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <utility>

WindowDropTarget::WindowDropTarget(QWidget *window, DropOverlay *overlay, QObject *parent)
    : QObject(parent), m_window(window), m_overlay(overlay)
{
    // Drops reach a widget only when it accepts them; the window's widgets all take part.
    window->setAcceptDrops(true);
    qApp->installEventFilter(this);
}

WindowDropTarget::~WindowDropTarget()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

QStringList WindowDropTarget::localPaths(const QMimeData *data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl &url : data->urls())
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            paths.append(url.toLocalFile());
    return paths;
}

bool WindowDropTarget::belongsToWindow(QObject *object) const
{
    if (!m_window || !object || !object->isWidgetType())
        return false;
    return static_cast<QWidget *>(object)->window() == m_window;
}

void WindowDropTarget::setHovering(bool hovering)
{
    if (hovering != std::exchange(m_hovering, hovering))
        emit hoveringChanged(hovering);
    if (!m_overlay)
        return;
    if (hovering) {
        m_overlay->raise();
        m_overlay->show();
    } else {
        m_overlay->hide();
    }
}

bool WindowDropTarget::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        if (!belongsToWindow(watched))
            break;
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (localPaths(drag->mimeData()).isEmpty()) {
            drag->ignore();
            return true;
        }
        drag->setDropAction(Qt::CopyAction);
        drag->accept();
        ++m_leaveGeneration; // the drag moved on to another widget of the window, not out of it
        setHovering(true);
        return true;
    }
    case QEvent::DragLeave: {
        if (!belongsToWindow(watched))
            break;
        // Moving between two widgets of the window leaves one before entering the next: hide only when
        // no widget was entered by the next turn.
        const int generation = ++m_leaveGeneration;
        QTimer::singleShot(0, this, [this, generation] {
            if (generation == m_leaveGeneration)
                setHovering(false);
        });
        return true;
    }
    case QEvent::Drop: {
        if (!belongsToWindow(watched))
            break;
        auto *drop = static_cast<QDropEvent *>(event);
        ++m_leaveGeneration;
        setHovering(false);
        const QStringList paths = localPaths(drop->mimeData());
        if (paths.isEmpty()) {
            drop->ignore();
            return true;
        }
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        emit pathsDropped(paths);
        return true;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
