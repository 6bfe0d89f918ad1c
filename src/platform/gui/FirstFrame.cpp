#include "platform/gui/FirstFrame.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

#ifdef ROADLOOM_XCB
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#endif

namespace {

// Waits until the display server has handled every request sent so far, the flushed picture among them.
void roundTrip()
{
#ifdef ROADLOOM_XCB
    const auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (xcb_connection_t *connection = x11 ? x11->connection() : nullptr)
        std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
#endif
}

} // namespace

void FirstFrame::watch(QWidget *window, std::function<void()> presented)
{
    new FirstFrame(window, std::move(presented));
}

FirstFrame::FirstFrame(QWidget *window, std::function<void()> presented)
    : m_window(window), m_presented(std::move(presented))
{
    // The window's QWindow may not exist yet: every object's events are looked at until the frame is out.
    QCoreApplication::instance()->installEventFilter(this);
    connect(window, &QObject::destroyed, this, &QObject::deleteLater);
}

bool FirstFrame::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_window)
        return false;
    if (event->type() == QEvent::Paint && watched == m_window) {
        m_painted = true;
    } else if ((event->type() == QEvent::Expose || event->type() == QEvent::UpdateRequest) &&
               watched == m_window->windowHandle() && !m_checking) {
        // Handled after this event, which paints and flushes the window.
        m_checking = true;
        QMetaObject::invokeMethod(this, &FirstFrame::check, Qt::QueuedConnection);
    }
    return false;
}

void FirstFrame::check()
{
    m_checking = false;
    if (!m_window || !m_painted || !m_window->windowHandle() || !m_window->windowHandle()->isExposed())
        return;
    QCoreApplication::instance()->removeEventFilter(this);
    roundTrip();
    const auto presented = std::move(m_presented);
    deleteLater();
    presented();
}
