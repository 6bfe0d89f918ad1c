#include "platform/InstanceLock.h"
#include "platform/InstanceMessage.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <climits>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

using Outcome = InstanceLock::Outcome;

const char *lockVariable = "ROADLOOM_TEST_LOCK";
const char *addressVariable = "ROADLOOM_TEST_ADDRESS";
const char *unprivilegedVariable = "ROADLOOM_TEST_UNPRIVILEGED";

// Lets the superuser meet file permissions as any user does (a mode of 0444 or 0555 refuses it writing),
// until the guard goes.
class WithoutFileOverride {
public:
    WithoutFileOverride()
    {
        ::syscall(SYS_capget, &m_header, m_saved);
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
            reduced[capability / 32].effective &= ~(1u << (capability % 32));
        ::syscall(SYS_capset, &m_header, reduced);
    }
    ~WithoutFileOverride() { ::syscall(SYS_capset, &m_header, m_saved); }
    WithoutFileOverride(const WithoutFileOverride &) = delete;
    WithoutFileOverride &operator=(const WithoutFileOverride &) = delete;

private:
    __user_cap_header_struct m_header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_saved[2]{};
};

// Whether a launch came to this listener, which never answers, since last asked.
bool knocked(const UniqueFd &listener)
{
    return UniqueFd(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC)).get() >= 0;
}

// Run by the tests below in child processes, as separate launches: waits for a line on its input, claims
// the lock without waiting, says how that went, publishes the given address when it holds the lock, and
// keeps it until its input ends.
TEST(InstanceLockChild, DISABLED_ClaimWhenToldAndHold)
{
    const std::string lockPath = qgetenv(lockVariable).toStdString();
    if (lockPath.empty())
        GTEST_SKIP();
    std::optional<WithoutFileOverride> unprivileged;
    if (qEnvironmentVariableIsSet(unprivilegedVariable))
        unprivileged.emplace();
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
    const std::string message = InstanceMessage::encode({"/media/card"});

    const QString dataFolder = dir.filePath("data/Roadloom");

    std::unique_ptr<QProcess> startLaunch(const QByteArray &address = {}, bool unprivileged = false)
    {
        auto child = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(lockVariable, QString::fromStdString(lockPath));
        if (!address.isEmpty())
            environment.insert(addressVariable, address);
        if (unprivileged)
            environment.insert(unprivilegedVariable, "1");
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

TEST_F(InstanceLockTest, LaunchesAtTheSameInstantLeaveOneHolderWhateverTheLockFilesState)
{
    struct State {
        const char *name;
        std::function<void()> make;
        bool unprivileged = false;
    };
    const QByteArray file = QFile::encodeName(QString::fromStdString(lockPath));
    const std::vector<State> states = {
        {"a lock file", [] {}},
        {"a folder in the lock file's place",
         [&] { ASSERT_TRUE(QDir().mkpath(QString::fromStdString(lockPath))); }},
        {"a read-only lock file",
         [&] {
             ASSERT_TRUE(QDir().mkpath(dataFolder));
             ASSERT_TRUE(UniqueFd(::creat(file.constData(), 0444)));
         },
         true},
        {"a read-only data folder without the file",
         [&] {
             ASSERT_TRUE(QDir().mkpath(dataFolder));
             ASSERT_EQ(::chmod(QFile::encodeName(dataFolder).constData(), 0555), 0);
         },
         true},
    };
    for (const State &state : states) {
        SCOPED_TRACE(state.name);
        QDir(dataFolder).removeRecursively();
        state.make();
        std::vector<std::unique_ptr<QProcess>> launches;
        for (int i = 0; i < 6; ++i)
            launches.push_back(startLaunch("/nowhere/roadloom.socket", state.unprivileged));
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
        // The holder could not write where it listens: the lock really was taken without writing.
        if (state.unprivileged) {
            EXPECT_LE(QFileInfo(QFile::decodeName(file)).size(), 0);
        }
        for (const auto &launch : launches) {
            launch->closeWriteChannel();
            EXPECT_TRUE(launch->waitForFinished(30000));
        }
        ::chmod(QFile::encodeName(dataFolder).constData(), 0755);
    }
}

TEST_F(InstanceLockTest, AHolderKilledIsTakenOverAtOnce)
{
    const std::string address = QFile::encodeName(dir.filePath("instance.socket")).toStdString();
    const UniqueFd listener = InstanceMessage::listen(address);
    ASSERT_TRUE(listener);
    const std::unique_ptr<QProcess> holder = startLaunch(QByteArray::fromStdString(address));
    holder->write("g");
    ASSERT_EQ(claimIn(*holder), "held");
    // The paths go where the holder said it listens; unanswered there, this launch must not run beside it.
    EXPECT_EQ(InstanceLock::claim(lockPath, message, 0, 100).outcome, Outcome::busy);
    EXPECT_TRUE(knocked(listener));

    holder->kill(); // SIGKILL: no clean-up of its own
    ASSERT_TRUE(holder->waitForFinished(30000));
    // One try, no waiting: the system dropped the lock with the process.
    const InstanceLock::Claim claim = InstanceLock::claim(lockPath, message, 0, 100);
    EXPECT_EQ(claim.outcome, Outcome::held);
    EXPECT_TRUE(claim.lock.holds());
    // The dead holder's address is not handed to anyone.
    EXPECT_EQ(InstanceLock::claim(lockPath, message, 0, 100).outcome, Outcome::busy);
    EXPECT_FALSE(knocked(listener));
    InstanceMessage::remove(address);
}

TEST_F(InstanceLockTest, ALockFileOfAnotherUserNamesNoSocket)
{
    const std::string elsewhere = QFile::encodeName(dir.filePath("elsewhere.socket")).toStdString();
    const UniqueFd listener = InstanceMessage::listen(elsewhere);
    ASSERT_TRUE(listener);
    ASSERT_TRUE(QDir().mkpath(dataFolder));
    ASSERT_TRUE(UniqueFd(::creat(lockPath.c_str(), 0644)));
    if (::chown(lockPath.c_str(), 65534, 65534) != 0)
        GTEST_SKIP() << "giving a file to another user needs the superuser";
    InstanceLock::Claim holder = InstanceLock::claim(lockPath, {}, 0);
    ASSERT_EQ(holder.outcome, Outcome::held);
    ASSERT_TRUE(holder.lock.publish(elsewhere));

    EXPECT_EQ(InstanceLock::claim(lockPath, message, 0, 100).outcome, Outcome::busy);
    EXPECT_FALSE(knocked(listener));
    InstanceMessage::remove(elsewhere);
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

    // Where the file cannot be made, the launcher locked the data folder: that is what is kept.
    ASSERT_EQ(::unlink(lockPath.c_str()), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(dataFolder).constData(), 0555), 0);
    const WithoutFileOverride unprivileged;
    const int folder = ::open(QFile::encodeName(dataFolder).constData(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(::flock(folder, LOCK_EX | LOCK_NB), 0);
    lock = InstanceLock::inherited(lockPath);
    EXPECT_EQ(lock.descriptor(), folder);
    EXPECT_EQ(InstanceLock::claim(lockPath, {}, 0, 100).outcome, Outcome::busy);
}

TEST(InstanceLock, AnAddressIsReadOnlyOnceWrittenWhole)
{
    EXPECT_EQ(InstanceLock::addressIn("/run/user/1/roadloom-0f.socket\n"), "/run/user/1/roadloom-0f.socket");
    const std::string longest = "/" + std::string(PATH_MAX - 2, 'a');
    EXPECT_EQ(InstanceLock::addressIn(longest + "\n"), longest);
    const std::vector<std::pair<const char *, std::string>> none = {
        {"empty", ""},
        {"half written", "/run/user/1/road"},
        {"relative", "roadloom.socket\n"},
        {"two lines", "/a.socket\n/b.socket\n"},
        {"a NUL inside", std::string("/a\0b.socket\n", 12)},
        {"longer than a path", "/" + std::string(PATH_MAX - 1, 'a') + "\n"},
    };
    for (const auto &[name, text] : none)
        EXPECT_EQ(InstanceLock::addressIn(text), std::nullopt) << name;
}

} // namespace
