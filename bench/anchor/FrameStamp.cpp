// A Qt plugin that the start-up benchmark loads into both programs it compares (through
// QT_QPA_GENERIC_PLUGINS), so that each is timed at the same moment: when the first window's first frame is
// on the screen, as the application itself knows it (FirstFrame). It appends that moment (milliseconds
// since the epoch) to the file named by ROADLOOM_FRAME_STAMP and quits the program.
#include "platform/gui/FirstFrame.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEvent>
#include <QFile>
#include <QGenericPlugin>
#include <QWidget>

namespace {

class Stamp : public QObject {
public:
    Stamp() { QCoreApplication::instance()->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Show || !watched->isWidgetType() ||
            !static_cast<QWidget *>(watched)->isWindow())
            return false;
        QCoreApplication::instance()->removeEventFilter(this);
        FirstFrame::watch(static_cast<QWidget *>(watched), [] {
            const qint64 at = QDateTime::currentMSecsSinceEpoch();
            QFile file(qEnvironmentVariable("ROADLOOM_FRAME_STAMP"));
            if (file.open(QIODevice::Append))
                file.write(QByteArray::number(at) + '\n');
            file.close();
            QCoreApplication::quit();
        });
        return false;
    }
};

} // namespace

class FrameStampPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "FrameStamp.json")
public:
    QObject *create(const QString &, const QString &) override { return new Stamp; }
};

#include "FrameStamp.moc"
