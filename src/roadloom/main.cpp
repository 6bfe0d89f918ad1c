#include "platform/gui/SingleInstance.h"
#include "roadcore/MediaCache.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/ui/shell/AppServices.h"
#include "roadloom/ui/shell/MainWindow.h"
#include "roadloom/ui/shell/RoadloomApp.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char **argv)
{
    // Files and folders given to a later launch go to the running instance, which shows them. Asked before
    // the application connects to the display, so that handing over stays quick.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const QStringList paths = SingleInstance::absolutePaths(arguments);
    if (SingleInstance().handOver(paths))
        return 0;

    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Roadloom"));
    QApplication::setApplicationName(QStringLiteral("Roadloom"));
    QApplication::setApplicationDisplayName(QStringLiteral("Roadloom"));
    QGuiApplication::setDesktopFileName(QStringLiteral("roadloom"));
    // Its listening thread ends before the application object goes.
    SingleInstance instance;
    instance.listen();

    AppServices services;
    AppModel &model = AppModel::createShared(services.modelServices());
    RoadloomApp roadloom(model);
    QObject::connect(&roadloom, &RoadloomApp::quitting, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    QObject::connect(&instance, &SingleInstance::pathsReceived, &roadloom, &RoadloomApp::openPaths);
    roadloom.openWindow(RoadloomApp::mainID);
    // The launch's own paths open once the window shows.
    if (!paths.isEmpty())
        QTimer::singleShot(0, &roadloom, [&roadloom, paths] { roadloom.openPaths(paths); });
    const int code = app.exec();
    // Copies recorded only in the journal go into the catalog file before the program ends.
    MediaCache::shared().foldJournal();
    return code;
}
