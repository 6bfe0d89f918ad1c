#include "platform/FileSystemWork.h"
#include "platform/InstanceLock.h"
#include "platform/InstanceMessage.h"
#include "platform/StandardFolders.h"
#include "platform/StartupGate.h"
#include "platform/gui/SingleInstance.h"
#include "roadcore/MediaCache.h"
#include "roadloom/model/AppModel.h"
#include "roadloom/ui/shell/AppServices.h"
#include "roadloom/ui/shell/MainWindow.h"
#include "roadloom/ui/shell/RoadloomApp.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QMessageBox>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>

#include <unistd.h>

namespace {

// How long a launch waits for the holder of the data folder to listen: a holder that is starting listens
// once it has its display, which a loaded machine can take seconds over.
constexpr int holderWaitMs = 10'000;
// How long past the quit's deadline the program may take to end of itself.
constexpr std::chrono::milliseconds quitGrace{1000};

bool displayAvailable()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.startsWith("offscreen") || platform.startsWith("minimal"))
        return false;
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

int anotherIsRunning(int argc, char **argv)
{
    // Also what a launch says when the holder's quit outlasts the wait: its paths were not taken.
    const QString text =
        QStringLiteral("Another Roadloom is already running and did not respond, or is still "
                       "quitting. Quit it or wait for it to end, then open Roadloom again.");
    std::fprintf(stderr, "roadloom: %s\n", qPrintable(text));
    if (displayAvailable()) {
        QApplication app(argc, argv);
        QMessageBox::warning(nullptr, QStringLiteral("Roadloom"), text);
    }
    return 1;
}

// A quit that abandoned work a file system holds ends the program here, at once: without the destructors
// of the objects and statics that work may still reach, and without the sanitizers' leak check, which stops
// every thread and would wait for that one forever. The lock goes first, so that the next program starts
// even while the system still finishes the held call; the process ends before that call returns to it.
[[noreturn]] void endAbandoning(int code, InstanceLock &lock)
{
    lock = InstanceLock();
    std::fflush(nullptr);
    std::_Exit(code);
}

// What the quit does not wait for itself (the teardown of what the program used, the fold on a data folder
// that stopped answering) ends here once the quit's deadline is well past: the lock goes and the process
// ends, as a kill would end it, which the catalog survives.
void endByTheLatest(QDeadlineTimer deadline, int lockDescriptor)
{
    try {
        std::thread([deadline, lockDescriptor] {
            std::this_thread::sleep_for(std::chrono::milliseconds(deadline.remainingTime()) + quitGrace);
            if (lockDescriptor >= 0)
                ::close(lockDescriptor);
            std::fprintf(stderr, "roadloom: the quit outlasted its deadline; ending now\n");
            std::_Exit(0);
        }).detach();
    } catch (const std::system_error &) {
        // No thread to spare: the quit's own bounded waits still end it.
    }
}

// The application itself, once this program holds the data folder.
int runApplication(int argc, char **argv, const QStringList &paths, const QString &lockPath,
                   InstanceLock &lock)
{
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Roadloom"));
    QApplication::setApplicationName(QStringLiteral("Roadloom"));
    QApplication::setApplicationDisplayName(QStringLiteral("Roadloom"));
    QGuiApplication::setDesktopFileName(QStringLiteral("roadloom"));
    // Its listening thread ends before the application object goes, and before the quit's work.
    SingleInstance instance(SingleInstance::socketPathFor(lockPath));

    // The library's catalog is read once the window's first frame is on the screen (MainWindow opens the
    // gate).
    StartupGate::close();
    AppServices services;
    AppModel &model = AppModel::createShared(services.modelServices());
    RoadloomApp roadloom(model);
    QObject::connect(&roadloom, &RoadloomApp::quitting, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    // Listening only once paths handed over have somewhere to go: an answered launch has exited.
    roadloom.serve(instance);
    // Later launches find the socket through the lock file, whatever their runtime folder.
    if (instance.listen())
        lock.publish(QFile::encodeName(instance.socketPath()).toStdString());
    roadloom.openWindow(RoadloomApp::mainID);
    // The launch's own paths open once the window shows.
    if (!paths.isEmpty())
        QTimer::singleShot(0, &roadloom, [&roadloom, paths] { roadloom.openPaths(paths); });
    const int code = app.exec();
    // Answers no launch from here on (a quit closed it already): one meanwhile waits for the lock and opens
    // its paths itself.
    instance.close();
    // A quit before the window's first frame: the work held back for it is let go rather than waited out.
    StartupGate::open();
    // The quit began with `quitting`, or with the event loop's end (a session that ends).
    model.beginQuit();
    endByTheLatest(model.quitDeadline(), lock.descriptor());
    // Every wait from here on shares the quit's one deadline (AppModel::quitWait from its first step), so
    // that the program and its lock are gone soon after it whatever a file system does. Copies recorded
    // only in the journal go into the catalog file before the program ends and its lock goes; nothing
    // writes the catalog after that.
    const bool allEnded = model.finishCatalogWrites();
    const bool folded =
        MediaCache::shared().foldJournalForQuit(model.quitDeadline()) != MediaCache::QuitFold::skipped;
    // A question to a volume, a folder or an opened path that its file system holds keeps a thread too,
    // outside the model.
    if (!allEnded || !folded || FileSystemWork::anyUnderWay())
        endAbandoning(code, lock);
    return code;
}

} // namespace

int main(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const QStringList paths = SingleInstance::absolutePaths(arguments);

    // One program works on the data folder at a time, decided before anything of it (or the settings) is
    // read: the `roadloom` command may have taken the lock and passed it on; otherwise it is taken here, or
    // the paths go to its holder. Decided before the application connects to the display, so that handing
    // over stays quick.
    const std::string nativeLockPath =
        InstanceLock::fileIn(QFile::encodeName(StandardFolders::dataRoot()).toStdString());
    const QString lockPath = QFile::decodeName(QByteArray::fromStdString(nativeLockPath));
    // The launch the `roadloom` command may have begun already, taken out of the environment either way.
    const std::string launch = InstanceMessage::launchIdentity();
    InstanceLock lock = InstanceLock::inherited(nativeLockPath);
    if (!lock.holds()) {
        InstanceLock::Claim claim = InstanceLock::claim(
            nativeLockPath, SingleInstance::encode(paths, launch).toStdString(), holderWaitMs);
        switch (claim.outcome) {
        case InstanceLock::Outcome::handedOver:
            return 0;
        case InstanceLock::Outcome::busy:
            return anotherIsRunning(argc, argv);
        case InstanceLock::Outcome::unguarded:
            // No instance answered at the data folder's socket either.
            std::fprintf(stderr, "roadloom: %s; another Roadloom could run beside this one\n",
                         claim.error.c_str());
            break;
        case InstanceLock::Outcome::held:
            lock = std::move(claim.lock);
            break;
        }
    }

    return runApplication(argc, argv, paths, lockPath, lock);
}
