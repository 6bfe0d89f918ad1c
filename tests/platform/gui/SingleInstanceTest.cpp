#include "platform/gui/SingleInstance.h"

#include "platform/InstanceLock.h"
#include "platform/InstanceMessage.h"

#include "fixtures/HandOver.h"
#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QtConcurrent>
#include <QtEndian>

#include <memory>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using TestSupport::ScopedEnv;
using TestSupport::waitFor;

namespace {

QByteArray framed(const QByteArray &body)
{
    QByteArray message(4, '\0');
    qToBigEndian<quint32>(quint32(body.size()), message.data());
    return message + body;
}

QByteArray streamed(const QStringList &list)
{
    QByteArray body;
    QDataStream stream(&body, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_6_0);
    stream << list;
    return body;
}

class SingleInstanceTest : public testing::Test {
protected:
    QTemporaryDir dir;
    QString socket() const { return dir.filePath(QStringLiteral("instance.socket")); }

    std::string lockPath() const
    {
        return InstanceLock::fileIn(QFile::encodeName(dir.filePath(QStringLiteral("data"))).toStdString());
    }
    // A later launch claiming the data folder from another thread while this one serves.
    QFuture<InstanceLock::Outcome>
    launch(const QStringList &paths, int waitMs, int answerMs = 3000,
           const std::string &identity = InstanceMessage::launchIdentity()) const
    {
        return QtConcurrent::run(
            [lock = lockPath(), message = SingleInstance::encode(paths, identity).toStdString(), waitMs,
             answerMs] { return InstanceLock::claim(lock, message, waitMs, answerMs).outcome; });
    }
    // This thread holds the data folder and serves its socket.
    InstanceLock holdAndServe(SingleInstance &instance) const
    {
        InstanceLock::Claim holder = InstanceLock::claim(lockPath(), {}, 0);
        EXPECT_EQ(holder.outcome, InstanceLock::Outcome::held);
        EXPECT_TRUE(instance.listen());
        EXPECT_TRUE(holder.lock.publish(QFile::encodeName(socket()).toStdString()));
        return std::move(holder.lock);
    }

    // Hands over from another thread while this one serves, as a second process would.
    bool handOverFromAnotherThread(const QStringList &paths)
    {
        QFuture<bool> done = QtConcurrent::run([path = socket(), paths] {
            SingleInstance later(path);
            return handOver(later.socketPath(), paths);
        });
        EXPECT_TRUE(waitFor([&] { return done.isFinished(); }));
        return done.isFinished() && done.result();
    }
};

TEST_F(SingleInstanceTest, MessagesCarryTheirPathsAndMalformedOnesReadAsNothing)
{
    const QStringList paths = {QStringLiteral("/media/card"), QStringLiteral("/home/u/Fahrt 1/ü_F.mp4"),
                               QString()};
    EXPECT_EQ(SingleInstance::decode(SingleInstance::encode(paths)), paths);
    EXPECT_EQ(SingleInstance::decode(SingleInstance::encode({})), QStringList());

    QByteArray hugeCount = streamed({QStringLiteral("a")});
    qToBigEndian<quint32>(0x7fffffff, hugeCount.data());
    const QByteArray good = SingleInstance::encode(paths);
    const std::vector<std::pair<const char *, QByteArray>> malformed = {
        {"empty", QByteArray()},
        {"header only", framed(QByteArray())},
        {"length beyond the data", good.left(good.size() - 1)},
        {"trailing bytes", good + "x"},
        {"count without strings", framed(hugeCount)},
        {"not a string list", framed(QByteArray("\x00\x00\x00\x01\xff\xff\xff\xf0", 8))},
        {"over 1 MiB", framed(streamed({QString(600 * 1024, QLatin1Char('a'))}))},
    };
    for (const auto &[name, message] : malformed)
        EXPECT_EQ(SingleInstance::decode(message), std::nullopt) << name;

    const std::string identity = InstanceMessage::launchIdentity();
    EXPECT_NE(InstanceMessage::launchIdentity(), identity);
    EXPECT_EQ(SingleInstance::read(SingleInstance::encode(paths, identity))->identity.toStdString(),
              identity);
    EXPECT_EQ(SingleInstance::read(SingleInstance::encode(paths))->identity,
              QByteArray()); // earlier versions'
    for (const std::string &wrong : {identity.substr(1), identity + "0", std::string(32, 'G')})
        EXPECT_EQ(SingleInstance::decode(SingleInstance::encode(paths, wrong)), std::nullopt) << wrong;
}

TEST_F(SingleInstanceTest, ArgumentsBecomeAbsolutePaths)
{
    const QString cwd = QDir::currentPath();
    EXPECT_EQ(SingleInstance::absolutePaths({QStringLiteral("card/DCIM"), QStringLiteral("/a/../b/c.mp4"),
                                             QStringLiteral("file:///x/y%20z.mp4"), QString(),
                                             QStringLiteral("file://host.invalid/x")}),
              (QStringList{cwd + QStringLiteral("/card/DCIM"), QStringLiteral("/b/c.mp4"),
                           QStringLiteral("/x/y z.mp4")}));
}

TEST_F(SingleInstanceTest, ALaterLaunchHandsItsPathsToTheRunningOne)
{
    SingleInstance first(socket());
    EXPECT_FALSE(handOver(first.socketPath(), {QStringLiteral("/nobody/listens")}, 200));
    ASSERT_TRUE(first.listen());
    QSignalSpy received(&first, &SingleInstance::pathsReceived);

    const QStringList paths = {QStringLiteral("/media/card"), QStringLiteral("/tmp/REC_F.mp4")};
    EXPECT_TRUE(handOverFromAnotherThread(paths));
    ASSERT_TRUE(waitFor([&] { return received.count() == 1; }));
    EXPECT_EQ(received.at(0).at(0).toStringList(), paths);

    // A second instance does not take the socket of a live one.
    SingleInstance second(socket());
    EXPECT_FALSE(second.listen());
    EXPECT_TRUE(handOverFromAnotherThread({}));
    ASSERT_TRUE(waitFor([&] { return received.count() == 2; }));
    EXPECT_TRUE(received.at(1).at(0).toStringList().isEmpty());
    EXPECT_TRUE(QFile::permissions(socket()) & QFile::ReadOwner);
    EXPECT_FALSE(QFile::permissions(socket()) & (QFile::ReadOther | QFile::WriteOther));
}

TEST_F(SingleInstanceTest, ALaunchIsAnsweredOnceTheGuiThreadHasTakenItsPaths)
{
    auto first = std::make_unique<SingleInstance>(socket());
    ASSERT_TRUE(first->listen());
    QSignalSpy received(first.get(), &SingleInstance::pathsReceived);
    const auto sent = [&](const QStringList &paths) {
        return QtConcurrent::run([path = socket(), paths] { return handOver(path, paths, 5000); });
    };

    QFuture<bool> busy = sent({QStringLiteral("/while/busy")});
    // The GUI thread is busy: the paths are read, but the launch waits until they are taken.
    QThread::msleep(300);
    EXPECT_FALSE(busy.isFinished());
    EXPECT_EQ(received.count(), 0);
    ASSERT_TRUE(waitFor([&] { return busy.isFinished(); }));
    EXPECT_TRUE(busy.result());
    ASSERT_EQ(received.count(), 1);
    EXPECT_EQ(received.at(0).at(0).toStringList(), QStringList{QStringLiteral("/while/busy")});

    // Read but not yet taken as the instance stops serving (a quit): the launch is not answered, so it
    // does not take the paths for opened.
    QFuture<bool> late = sent({QStringLiteral("/late")});
    QThread::msleep(300);
    first->close();
    ASSERT_TRUE(waitFor([&] { return late.isFinished(); }));
    EXPECT_FALSE(late.result());
    EXPECT_EQ(received.count(), 1);
    first.reset();
    QCoreApplication::processEvents();
    EXPECT_FALSE(handOver(socket(), {QStringLiteral("/gone")}, 200));
}

// The holder quits while a launch comes: the launch waits for the lock and becomes the next program, or,
// when the quit outlasts its wait, says the holder is busy; it is never told its paths were taken.
TEST_F(SingleInstanceTest, ALaunchDuringAQuitTakesOverOnceTheHolderIsGone)
{
    SingleInstance instance(socket());
    InstanceLock holder = holdAndServe(instance);
    QSignalSpy received(&instance, &SingleInstance::pathsReceived);

    // The launch's message arrives as the quit begins; the quit's work then holds the lock a while.
    QFuture<InstanceLock::Outcome> during = launch({QStringLiteral("/media/card")}, 20000);
    QThread::msleep(200);
    instance.close();
    EXPECT_EQ(InstanceLock::claim(lockPath(), {}, 300).outcome, InstanceLock::Outcome::busy)
        << "a launch that waits less than the quit lasts is told the holder is busy";
    EXPECT_FALSE(during.isFinished());

    holder = InstanceLock(); // the quitting program ends
    ASSERT_TRUE(waitFor([&] { return during.isFinished(); }, 20000));
    EXPECT_EQ(during.result(), InstanceLock::Outcome::held);
    QCoreApplication::processEvents();
    EXPECT_EQ(received.count(), 0);
}

// The GUI thread is busy when a quit is asked for (the keys of a window that does not answer), and a launch
// comes meanwhile: the quit acts first, and the launch is not answered but becomes the next program.
TEST_F(SingleInstanceTest, ALaunchBehindAQuitAskedForIsLeftToTheNextProgram)
{
    SingleInstance instance(socket());
    InstanceLock holder = holdAndServe(instance);
    QSignalSpy received(&instance, &SingleInstance::pathsReceived);

    // The window system's connection, where the key that asks for the quit waits to be read: typed before
    // the launch comes.
    int input[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, input), 0);
    QSocketNotifier keys(input[0], QSocketNotifier::Read);
    QObject::connect(&keys, &QSocketNotifier::activated, &instance, [&] {
        keys.setEnabled(false);
        instance.close();
    });
    ASSERT_EQ(::write(input[1], "q", 1), 1);
    QFuture<InstanceLock::Outcome> during = launch({QStringLiteral("/media/card")}, 20000);
    QThread::msleep(300); // the launch's paths are read and wait for the GUI thread
    QCoreApplication::processEvents();
    EXPECT_EQ(received.count(), 0);
    EXPECT_FALSE(during.isFinished());

    holder = InstanceLock(); // the quitting program ends
    ASSERT_TRUE(waitFor([&] { return during.isFinished(); }, 20000));
    EXPECT_EQ(during.result(), InstanceLock::Outcome::held);
    ::close(input[0]);
    ::close(input[1]);
}

// A GUI thread busy for many times what a launch waits for an answer: the launch is told it waits, its paths
// arrive once, and it ends as handed over; sent again once taken (the application the launcher became), it
// is answered without being taken again.
TEST_F(SingleInstanceTest, ALaunchIsTakenOnceHoweverLongTheGuiThreadIsBusy)
{
    SingleInstance instance(socket());
    InstanceLock holder = holdAndServe(instance);
    QSignalSpy received(&instance, &SingleInstance::pathsReceived);

    const std::string identity = InstanceMessage::launchIdentity();
    QFuture<InstanceLock::Outcome> busy = launch({QStringLiteral("/while/busy")}, 20000, 100, identity);
    QThread::msleep(1000);
    EXPECT_FALSE(busy.isFinished());
    ASSERT_TRUE(waitFor([&] { return busy.isFinished(); }));
    EXPECT_EQ(busy.result(), InstanceLock::Outcome::handedOver);
    QCoreApplication::processEvents();
    EXPECT_EQ(received.count(), 1);

    QFuture<InstanceLock::Outcome> again = launch({QStringLiteral("/while/busy")}, 0, 3000, identity);
    ASSERT_TRUE(waitFor([&] { return again.isFinished(); }));
    EXPECT_EQ(again.result(), InstanceLock::Outcome::handedOver);
    QCoreApplication::processEvents();
    EXPECT_EQ(received.count(), 1);
}

TEST_F(SingleInstanceTest, ALaunchWaitsForAHolderThatDoesNotListenYet)
{
    InstanceLock::Claim holder = InstanceLock::claim(lockPath(), {}, 0);
    ASSERT_EQ(holder.outcome, InstanceLock::Outcome::held);
    // The holder is still starting: it has the lock but named no socket yet.
    const QStringList paths = {QStringLiteral("/media/card")};
    QFuture<InstanceLock::Outcome> later = launch(paths, 20000);
    QThread::msleep(300);
    EXPECT_FALSE(later.isFinished());

    SingleInstance instance(socket());
    ASSERT_TRUE(instance.listen());
    QSignalSpy received(&instance, &SingleInstance::pathsReceived);
    ASSERT_TRUE(holder.lock.publish(QFile::encodeName(socket()).toStdString()));
    ASSERT_TRUE(waitFor([&] { return later.isFinished(); }, 20000));
    EXPECT_EQ(later.result(), InstanceLock::Outcome::handedOver);
    ASSERT_TRUE(waitFor([&] { return received.count() == 1; }));
    EXPECT_EQ(received.at(0).at(0).toStringList(), paths);

    // One that never listens keeps a launch for the time given, no longer.
    holder.lock.publish("/nowhere/roadloom.socket");
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(InstanceLock::claim(lockPath(), {}, 300).outcome, InstanceLock::Outcome::busy);
    EXPECT_GE(clock.elapsed(), 300);
    EXPECT_LT(clock.elapsed(), 5000);
}

TEST_F(SingleInstanceTest, ALaunchWithoutARuntimeFolderFindsTheHolderThroughTheLock)
{
    InstanceLock::Claim holder = InstanceLock::claim(lockPath(), {}, 0);
    ASSERT_EQ(holder.outcome, InstanceLock::Outcome::held);
    QString socketPath;
    {
        ScopedEnv runtime("XDG_RUNTIME_DIR", QFile::encodeName(dir.filePath(QStringLiteral("runtime"))));
        socketPath = SingleInstance::socketPathFor(QString::fromStdString(lockPath()));
    }
    SingleInstance instance(socketPath);
    ASSERT_TRUE(instance.listen());
    ASSERT_TRUE(holder.lock.publish(QFile::encodeName(socketPath).toStdString()));
    QSignalSpy received(&instance, &SingleInstance::pathsReceived);

    ScopedEnv unset("XDG_RUNTIME_DIR", QByteArray());
    QFuture<InstanceLock::Outcome> later = launch({QStringLiteral("/media/card")}, 0);
    ASSERT_TRUE(waitFor([&] { return later.isFinished(); }));
    EXPECT_EQ(later.result(), InstanceLock::Outcome::handedOver);
    EXPECT_TRUE(waitFor([&] { return received.count() == 1; }));
}

TEST_F(SingleInstanceTest, ALaunchFindsTheInstanceAtTheDataFoldersSocketWhateverItsLockFile)
{
    ScopedEnv runtime("XDG_RUNTIME_DIR", QFile::encodeName(dir.filePath(QStringLiteral("runtime"))));
    const QString lock = QString::fromStdString(lockPath());
    enum State { deleted, folder, unlockable };
    for (const State state : {deleted, folder, unlockable}) {
        SCOPED_TRACE(state == deleted  ? "deleted under the holder"
                     : state == folder ? "a folder in its place"
                                       : "nothing to lock, the data folder being a file");
        QDir(dir.filePath(QStringLiteral("data"))).removeRecursively();
        if (state == folder) {
            ASSERT_TRUE(QDir().mkpath(lock));
        } else if (state == unlockable) {
            TestSupport::writeFile(dir.filePath(QStringLiteral("data")), "not a folder");
        }
        InstanceLock::Claim holder = InstanceLock::claim(lockPath(), {}, 0);
        ASSERT_EQ(holder.outcome,
                  state == unlockable ? InstanceLock::Outcome::unguarded : InstanceLock::Outcome::held);
        SingleInstance instance(SingleInstance::socketPathFor(lock));
        ASSERT_TRUE(instance.listen());
        holder.lock.publish(QFile::encodeName(instance.socketPath()).toStdString());
        QSignalSpy received(&instance, &SingleInstance::pathsReceived);
        if (state == deleted) {
            ASSERT_TRUE(QFile::remove(lock));
        }

        QFuture<InstanceLock::Outcome> later = launch({QStringLiteral("/media/card")}, 0);
        ASSERT_TRUE(waitFor([&] { return later.isFinished(); }));
        EXPECT_EQ(later.result(), InstanceLock::Outcome::handedOver);
        EXPECT_TRUE(waitFor([&] { return received.count() == 1; }));
        QFile::remove(dir.filePath(QStringLiteral("data")));
    }
}

TEST_F(SingleInstanceTest, AHandOverArrivesThroughARuntimeFolderTooDeepForASocketAddress)
{
    QString deep = dir.filePath(QStringLiteral("runtime-"));
    deep += QString(100 - deep.size(), QLatin1Char('r'));
    ScopedEnv runtime("XDG_RUNTIME_DIR", QFile::encodeName(deep));
    const QString socketPath = SingleInstance::socketPathFor(QString::fromStdString(lockPath()));
    ASSERT_GE(size_t(socketPath.size()), sizeof(sockaddr_un::sun_path));

    InstanceLock::Claim holder = InstanceLock::claim(lockPath(), {}, 0);
    ASSERT_EQ(holder.outcome, InstanceLock::Outcome::held);
    SingleInstance instance(socketPath);
    ASSERT_TRUE(instance.listen());
    ASSERT_TRUE(holder.lock.publish(QFile::encodeName(socketPath).toStdString()));
    QSignalSpy received(&instance, &SingleInstance::pathsReceived);
    // A live instance keeps its socket there too.
    EXPECT_FALSE(SingleInstance(socketPath).listen());

    QFuture<InstanceLock::Outcome> later = launch({QStringLiteral("/media/card")}, 0);
    ASSERT_TRUE(waitFor([&] { return later.isFinished(); }));
    EXPECT_EQ(later.result(), InstanceLock::Outcome::handedOver);
    ASSERT_TRUE(waitFor([&] { return received.count() == 1; }));
    EXPECT_EQ(received.at(0).at(0).toStringList(), QStringList{QStringLiteral("/media/card")});
}

TEST_F(SingleInstanceTest, ASocketLeftByADeadInstanceIsTakenOver)
{
    // A socket file that nobody listens on any more, as a crashed instance leaves it.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(socket());
    ASSERT_LT(size_t(path.size()), sizeof(address.sun_path));
    memcpy(address.sun_path, path.constData(), size_t(path.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(socket()));

    SingleInstance revived(socket());
    EXPECT_FALSE(handOver(revived.socketPath(), {QStringLiteral("/x")}, 200));
    ASSERT_TRUE(revived.listen());
    QSignalSpy received(&revived, &SingleInstance::pathsReceived);
    EXPECT_TRUE(handOverFromAnotherThread({QStringLiteral("/x")}));
    EXPECT_TRUE(waitFor([&] { return received.count() == 1; }));
}

TEST_F(SingleInstanceTest, AnInstanceThatNeverAnswersDoesNotHoldTheLaunch)
{
    // Listening, but never taking the message or answering, as a hung instance would.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = QFile::encodeName(socket());
    ASSERT_LT(size_t(path.size()), sizeof(address.sun_path));
    memcpy(address.sun_path, path.constData(), size_t(path.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(fd, 4), 0);

    SingleInstance later(socket());
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(handOver(later.socketPath(), {QStringLiteral("/x")}, 300));
    EXPECT_GE(clock.elapsed(), 250);
    EXPECT_LT(clock.elapsed(), 3000);
    ::close(fd);
}

TEST_F(SingleInstanceTest, MalformedAndOversizedMessagesAreDropped)
{
    SingleInstance first(socket());
    ASSERT_TRUE(first.listen());
    QSignalSpy received(&first, &SingleInstance::pathsReceived);

    const std::vector<std::pair<const char *, QByteArray>> bad = {
        {"oversized", framed(QByteArray()).replace(0, 4, QByteArray("\x7f\xff\xff\xff", 4))},
        {"garbage", framed(QByteArray("\x00\x00\x00\x02zz", 6))},
    };
    for (const auto &[name, message] : bad) {
        SCOPED_TRACE(name);
        QLocalSocket sender;
        sender.connectToServer(socket());
        ASSERT_TRUE(sender.waitForConnected(2000));
        sender.write(message);
        sender.flush();
        // The instance hangs up without an answer.
        EXPECT_TRUE(waitFor([&] { return sender.state() == QLocalSocket::UnconnectedState; }));
        EXPECT_EQ(sender.bytesAvailable(), 0);
    }
    EXPECT_EQ(received.count(), 0);
    EXPECT_TRUE(handOverFromAnotherThread({QStringLiteral("/after")}));
    EXPECT_TRUE(waitFor([&] { return received.count() == 1; }));
}

} // namespace
