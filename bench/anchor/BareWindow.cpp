// The benchmarks' anchors: the least a Qt program does. Built twice: linked with Qt Widgets it shows an
// empty window, prints (milliseconds since the epoch) when the window first painted and quits; linked with
// QtCore alone (BARE_CORE) it starts the application object and quits, as a program that hands something
// over and leaves would.
#ifdef BARE_CORE
#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return 0;
}
#else
#include <QApplication>
#include <QDateTime>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

class Window : public QWidget {
protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter(this).fillRect(rect(), palette().window());
        if (!m_painted) {
            m_painted = true;
            std::printf("%lld\n", static_cast<long long>(QDateTime::currentMSecsSinceEpoch()));
            std::fflush(stdout);
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
    }

private:
    bool m_painted = false;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    Window window;
    window.resize(1440, 900);
    window.show();
    return app.exec();
}
#endif
