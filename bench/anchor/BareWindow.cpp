// The benchmarks' anchors: the least a Qt program does. Built twice: linked with Qt Widgets it shows an
// empty window filled with its background, for the start-up benchmark's plugin (FrameStamp.cpp) to note its
// first frame and quit it; linked with QtCore alone (BARE_CORE) it starts the application object and quits,
// as a program that hands something over and leaves would.
#ifdef BARE_CORE
#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    return 0;
}
#else
#include <QApplication>
#include <QPainter>
#include <QWidget>

namespace {

class Window : public QWidget {
protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), palette().window()); }
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
