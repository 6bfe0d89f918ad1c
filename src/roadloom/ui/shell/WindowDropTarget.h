#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

class DropOverlay;
class QDropEvent;
class QMimeData;
class QWidget;

// Takes the drags aimed at any widget of one window before that widget sees them (so a text field does
// not swallow dropped files): a drag that carries a local file is accepted, the overlay shows while it
// hovers, and a drop hands all its local paths, in drag order, over at once. Installed on the application.
class WindowDropTarget : public QObject {
    Q_OBJECT
public:
    WindowDropTarget(QWidget *window, DropOverlay *overlay, QObject *parent = nullptr);
    ~WindowDropTarget() override;

    // The local paths a drag carries, in its order; empty when it carries none.
    static QStringList localPaths(const QMimeData *data);

signals:
    void pathsDropped(const QStringList &paths);
    void hoveringChanged(bool hovering);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool belongsToWindow(QObject *object) const;
    void setHovering(bool hovering);

    QPointer<QWidget> m_window;
    QPointer<DropOverlay> m_overlay;
    bool m_hovering = false;
    int m_leaveGeneration = 0;
};
