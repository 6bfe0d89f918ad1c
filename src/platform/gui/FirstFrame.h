#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QWidget;

// Calls back once a top-level widget's first frame is on the screen. Paint events say too little: the
// widgets paint into the window's backing store, which reaches the display only when it is flushed at the
// end of the expose's handling, and the display server draws it after that. So the call comes on the
// event loop's next turn after an expose that painted, once the display server has taken what was sent
// (a round trip on X11). Later frames do nothing; the watcher deletes itself after calling.
class FirstFrame : public QObject {
public:
    static void watch(QWidget *window, std::function<void()> presented);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    FirstFrame(QWidget *window, std::function<void()> presented);
    void check();

    QPointer<QWidget> m_window;
    std::function<void()> m_presented;
    bool m_painted = false;
    bool m_checking = false;
};
