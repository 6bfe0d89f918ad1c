#pragma once

#include <QMargins>
#include <QObject>
#include <QRect>
#include <QSize>

class QWidget;

// A window's first size and place on its screen: the size it wants, or less so that it fits the screen's
// available area together with its frame. The window manager tells the frame only once the window is
// mapped, so the window is placed with a typical frame first and fitted again to the real one.
class FirstGeometry : public QObject {
    Q_OBJECT
public:
    // Room for a window manager's title bar and borders while the window's own frame is not known yet.
    static constexpr QMargins typicalFrame{1, 30, 1, 1};
    // The window's inside, as setGeometry() takes it: `wanted`, or less so that it fits `available` with
    // `frame` (all zero: not known, `typicalFrame`), centred there; never below `minimum`, and then with its
    // title bar on the screen. Without an available area: `wanted` at the origin.
    static QRect fit(const QRect &available, const QSize &wanted, const QSize &minimum,
                     const QMargins &frame = {});

    // Whether the window's minimum size gives way to a screen too small for it, so that the whole window
    // shows (one whose content scrolls), or stays with its title bar on the screen.
    enum class Minimum { kept, yields };

    // Lives as long as the window; takes the window's minimum size as it is now.
    FirstGeometry(QWidget &window, const QSize &wanted, Minimum minimum = Minimum::kept);
    // Sizes the window and places it on the primary screen (or in `available`, with `frame` when it is
    // known), before it is shown.
    void place();
    void place(const QRect &available, const QMargins &frame = {});

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void fitToFrame();
    // The window's minimum for that room: its own, or less where the room is smaller and it yields.
    void limitMinimum(const QRect &available, const QMargins &frame);

    QWidget &m_window;
    QSize m_wanted;
    QSize m_minimum;
    Minimum m_yields = Minimum::kept;
    QSize m_placedSize;
    bool m_waiting = false; // placed before its frame was known
    int m_tries = 0;        // events seen without a frame
};
