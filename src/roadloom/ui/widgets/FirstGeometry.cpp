#include "roadloom/ui/widgets/FirstGeometry.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

QRect FirstGeometry::fit(const QRect &available, const QSize &wanted, const QSize &minimum,
                         const QMargins &frame)
{
    if (!available.isValid() || available.isEmpty())
        return QRect(QPoint(0, 0), wanted);
    const QMargins margins = frame.isNull() ? typicalFrame : frame;
    const QSize room = available.size().shrunkBy(margins);
    const QSize size = wanted.boundedTo(room).expandedTo(minimum);
    const QSize outside = size.grownBy(margins);
    // Centred; a window larger than the screen keeps its top left corner (and title bar) on it.
    const QPoint corner(available.left() + std::max(0, (available.width() - outside.width()) / 2),
                        available.top() + std::max(0, (available.height() - outside.height()) / 2));
    return QRect(corner + QPoint(margins.left(), margins.top()), size);
}

FirstGeometry::FirstGeometry(QWidget &window, const QSize &wanted, Minimum minimum)
    : QObject(&window), m_window(window), m_wanted(wanted), m_minimum(window.minimumSize()), m_yields(minimum)
{
    window.installEventFilter(this);
}

void FirstGeometry::place()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    place(screen ? screen->availableGeometry() : QRect());
}

void FirstGeometry::place(const QRect &available, const QMargins &frame)
{
    limitMinimum(available, frame);
    const QRect first = fit(available, m_wanted, m_window.minimumSize(), frame);
    m_window.resize(first.size());
    m_placedSize = first.size();
    if (available.isValid()) {
        const QMargins margins = frame.isNull() ? typicalFrame : frame;
        m_window.move(first.topLeft() - QPoint(margins.left(), margins.top()));
        m_waiting = frame.isNull();
        m_tries = 0;
    }
}

void FirstGeometry::limitMinimum(const QRect &available, const QMargins &frame)
{
    if (m_yields == Minimum::kept || !available.isValid() || available.isEmpty())
        return;
    const QSize room = available.size().shrunkBy(frame.isNull() ? typicalFrame : frame);
    m_window.setMinimumSize(m_minimum.boundedTo(room.expandedTo(QSize(1, 1))));
}

bool FirstGeometry::eventFilter(QObject *watched, QEvent *event)
{
    if (m_waiting && watched == &m_window &&
        (event->type() == QEvent::Move || event->type() == QEvent::Resize ||
         event->type() == QEvent::WindowActivate))
        QMetaObject::invokeMethod(this, &FirstGeometry::fitToFrame, Qt::QueuedConnection);
    return QObject::eventFilter(watched, event);
}

void FirstGeometry::fitToFrame()
{
    if (!m_waiting)
        return;
    const QRect outside = m_window.frameGeometry(), inside = m_window.geometry();
    const QMargins frame(inside.left() - outside.left(), inside.top() - outside.top(),
                         outside.right() - inside.right(), outside.bottom() - inside.bottom());
    // Without a window manager no frame ever comes: a few events are enough to tell.
    if (frame.isNull() && ++m_tries < 8)
        return;
    m_waiting = false;
    if (frame.isNull())
        return;
    QScreen *screen = m_window.screen();
    // A size set since (restored, dragged, set by a caller) stays.
    if (!screen || frame == typicalFrame || m_window.size() != m_placedSize)
        return;
    limitMinimum(screen->availableGeometry(), frame);
    const QRect first = fit(screen->availableGeometry(), m_wanted, m_window.minimumSize(), frame);
    if (first.size() != m_window.size()) {
        m_window.resize(first.size());
        m_window.move(first.topLeft() - QPoint(frame.left(), frame.top()));
    }
}
