#include "platform/InstanceLock.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using Outcome = InstanceLock::Outcome;

const char *lockVariable = "ROADLOOM_TEST_LOCK";
const char *addressVariable = "ROADLOOM_TEST_ADDRESS";

// Run by the tests below in child processes, as separate launches: waits for a line on its input, claims
// the lock without waiting, says how that went, publishes the given address when it holds the lock, and
// keeps it until its input ends.
TEST(InstanceLockChild, DISABLED_ClaimWhenToldAndHold)
{
    const std::string lockPath = qgetenv(lockVariable).toStdString();
    if (lockPath.empty())
        GTEST_SKIP();
    char go = 0;
    ASSERT_EQ(::read(STDIN_FILENO, &go, 1), 1);
    InstanceLock::Claim claim = InstanceLock::claim(lockPath, {}, 0, 100);
    if (claim.outcome == Outcome::held && qEnvironmentVariableIsSet(addressVariable))
        claim.lock.publish(qgetenv(addressVariable).toStdString());
    std::printf("claim: %s\n", claim.outcome == Outcome::held   ? "held"
                               : claim.outcome == Outcome::busy ? "busy"
                                                                : "other");
    std::fflush(stdout);
    while (::read(STDIN_FILENO, &go, 1) > 0) {
    }
}

class InstanceLockTest : public testing::Test {
protected:
    QTemporaryDir dir;
    const std::string lockPath =
        InstanceLock::fileIn(QFile::encodeName(dir.filePath("data/Roadloom")).toStdString());

    std::unique_ptr<QProcess> startLaunch(const QByteArray &address = {})
    {
        auto child = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(lockVariable, QString::fromStdString(lockPath));
        if (!address.isEmpty())
            environment.insert(addressVariable, address);
        child->setProcessEnvironment(environment);
        child->start(QCoreApplication::applicationFilePath(),
                     {"--gtest_also_run_disabled_tests", "--gtest_filter=InstanceLockChild.*"});
        EXPECT_TRUE(child->waitForStarted(10000));
        return child;
    }

    // The child's answer after it was told to claim.
    static QByteArray claimIn(QProcess &child)
    {
        const QByteArray prefix = "claim: ";
        for (;;) {
            while (!child.canReadLine())
                if (!child.waitForReadyRead(30000))
                    return {};
            if (const QByteArray line = child.readLine().trimmed(); line.startsWith(prefix))
                return line.mid(prefix.size());
        }
    }
};

TEST_F(InstanceLockTest, LaunchesAtTheSameInstantLeaveOneHolder)
{
    std::vector<std::unique_ptr<QProcess>> launches;
    for (int i = 0; i < 6; ++i)
        launches.push_back(startLaunch());
    // Each waits on its input, so they claim together once all are up.
    for (const auto &launch : launches)
        launch->write("g");
    for (const auto &launch : launches)
        launch->waitForBytesWritten(10000);
    QByteArrayList answers;
    for (const auto &launch : launches)
        answers.append(claimIn(*launch));
    EXPECT_EQ(answers.count("held"), 1) << answers.join(' ').toStdString();
    EXPECT_EQ(answers.count("busy"), 5) << answers.join(' ').toStdString();
    for (const auto &launch : launches) {
        launch->closeWriteChannel();
        EXPECT_TRUE(launch->waitForFinished(30000));
    }
}

TEST_F(InstanceLockTest, AHolderKilledIsTakenOverAtOnce)
{
    const std::unique_ptr<QProcess> holder = startLaunch("/nowhere/roadloom.socket");
    holder->write("g");
    ASSERT_EQ(claimIn(*holder), "held");
    EXPECT_EQ(InstanceLock::readAddress(lockPath), "/nowhere/roadloom.socket");
    // Nobody serves that address: the paths cannot go anywhere, and this launch must not run beside it.
    EXPECT_EQ(InstanceLock::claim(lockPath, "paths", 0, 100).outcome, Outcome::busy);

    holder->kill(); // SIGKILL: no clean-up of its own
    ASSERT_TRUE(holder->waitForFinished(30000));
    // One try, no waiting: the system dropped the lock with the process.
    const InstanceLock::Claim claim = InstanceLock::claim(lockPath, "paths", 0, 100);
    EXPECT_EQ(claim.outcome, Outcome::held);
    EXPECT_TRUE(claim.lock.holds());
    // The dead holder's address is not handed to anyone.
    EXPECT_EQ(InstanceLock::readAddress(lockPath), std::nullopt);
}

TEST_F(InstanceLockTest, TheApplicationKeepsTheLockALauncherPassedOnAndClosesOtherDescriptors)
{
    ASSERT_EQ(InstanceLock::claim(lockPath, {}, 0).outcome, Outcome::held); // made and released again
    // As the launcher leaves them across exec: one holding the lock, one that does not.
    const int passed = ::open(lockPath.c_str(), O_RDWR);
    ASSERT_EQ(::flock(passed, LOCK_EX | LOCK_NB), 0);
    const int stray = ::open(lockPath.c_str(), O_RDONLY);
    ASSERT_GE(stray, 0);

    InstanceLock lock = InstanceLock::inherited(lockPath);
    ASSERT_TRUE(lock.holds());
    EXPECT_EQ(lock.descriptor(), passed);
    // Not passed on again to the programs the application starts (ffmpeg), which could outlive it.
    EXPECT_EQ(::fcntl(passed, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    EXPECT_EQ(::fcntl(stray, F_GETFD), -1);
    EXPECT_EQ(InstanceLock::claim(lockPath, {}, 0, 100).outcome, Outcome::busy);

    lock = InstanceLock();
    EXPECT_EQ(InstanceLock::claim(lockPath, {}, 0).outcome, Outcome::held);
    EXPECT_FALSE(InstanceLock::inherited(lockPath).holds());
}

TEST(InstanceLock, AnAddressIsReadOnlyOnceWrittenWhole)
{
    EXPECT_EQ(InstanceLock::addressIn("/run/user/1/roadloom-0f.socket\n"), "/run/user/1/roadloom-0f.socket");
    const std::string longest = "/" + std::string(sizeof(sockaddr_un::sun_path) - 2, 'a');
    EXPECT_EQ(InstanceLock::addressIn(longest + "\n"), longest);
    const std::vector<std::pair<const char *, std::string>> none = {
        {"empty", ""},
        {"half written", "/run/user/1/road"},
        {"relative", "roadloom.socket\n"},
        {"two lines", "/a.socket\n/b.socket\n"},
        {"a NUL inside", std::string("/a\0b.socket\n", 12)},
        {"longer than a socket path", "/" + std::string(sizeof(sockaddr_un::sun_path) - 1, 'a') + "\n"},
    };
    for (const auto &[name, text] : none)
        EXPECT_EQ(InstanceLock::addressIn(text), std::nullopt) << name;
}

} // namespace
