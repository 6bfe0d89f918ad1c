#include "platform/AtomicFile.h"
#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

namespace {

QStringList namesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

const char *targetVariable = "ROADLOOM_INTERRUPTED_SAVE";

// Run by the test below in a child process: a file-size limit kills the process in the middle of writing
// the temporary file, as a pulled card or a killed program would stop it.
TEST(AtomicFileChild, DISABLED_SaveKilledWhileWriting)
{
    const QString target = qEnvironmentVariable(targetVariable);
    if (target.isEmpty())
        GTEST_SKIP();
    const rlimit limit{64 * 1024, 64 * 1024};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    (void)AtomicFile::write(target, QByteArray(1024 * 1024, 'x'));
}

TEST(AtomicFile, NextSaveRemovesWhatAnInterruptedSaveLeft)
{
    QTemporaryDir card;
    const QString target = card.filePath("blackbox.cfg");
    TestSupport::writeFile(target, "[Rec]\nmode=1\n");

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(targetVariable, target);
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_also_run_disabled_tests", "--gtest_filter=AtomicFileChild.*"});
    ASSERT_TRUE(child.waitForFinished(60000));
    EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);
    EXPECT_EQ(TestSupport::readFile(target), "[Rec]\nmode=1\n");
    const QStringList left = namesIn(card.path());
    ASSERT_EQ(left.size(), 2) << left.join(" ").toStdString();
    EXPECT_TRUE(AtomicFile::isTemporaryOf(left[1], "blackbox.cfg")) << left[1].toStdString();

    // Things that only look like a leftover, and another file's leftover, stay.
    const QStringList kept{"blackbox.cfg.backup", "blackbox.cfg.roadloom-AbCd1",
                           "blackbox.cfg.roadloom-AbCd12x", "blackbox.cfg.roadloom-AbC!12",
                           "setup.cfg.roadloom-AbCd12"};
    for (const QString &name : kept)
        TestSupport::writeFile(card.filePath(name), "keep");
    QDir(card.path()).mkdir("blackbox.cfg.roadloom-Folder");
    QFile::link(target, card.filePath("blackbox.cfg.roadloom-Linked"));

    ASSERT_TRUE(AtomicFile::write(target, "[Rec]\nmode=2\n"));
    EXPECT_EQ(TestSupport::readFile(target), "[Rec]\nmode=2\n");
    QStringList expected = kept;
    expected << "blackbox.cfg"
             << "blackbox.cfg.roadloom-Folder"
             << "blackbox.cfg.roadloom-Linked";
    expected.sort();
    EXPECT_EQ(namesIn(card.path()), expected);
}

TEST(AtomicFile, KeepsThePermissionsAndReportsAFailure)
{
    QTemporaryDir dir;
    const QString target = dir.filePath("setup.cfg");
    TestSupport::writeFile(target, "a=1");
    QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    const QFile::Permissions before = QFile::permissions(target);
    ASSERT_TRUE(AtomicFile::write(target, "a=2"));
    EXPECT_EQ(TestSupport::readFile(target), "a=2");
    EXPECT_EQ(QFile::permissions(target), before);

    const Result<void> missing = AtomicFile::write(dir.filePath("gone/setup.cfg"), "a=3");
    ASSERT_FALSE(missing);
    EXPECT_TRUE(missing.error().startsWith("Couldn’t save “setup.cfg”: ")) << missing.error().toStdString();
    EXPECT_EQ(namesIn(dir.path()), QStringList{"setup.cfg"});
}

// The temporary name is the target's plus 16 bytes, so a target name near the file system's 255-byte limit
// gets no temporary file while the target itself stays writable, even for root.
TEST(AtomicFile, ASaveWithoutItsTemporaryFileFailsAndLeavesTheTargetAlone)
{
    QTemporaryDir dir;
    const QString name = QString(245, u'c') + ".cfg";
    const QString target = dir.filePath(name);
    const QByteArray before = "[Rec]\r\nmode=1\r\n\xff";
    TestSupport::writeFile(target, before);
    ASSERT_EQ(TestSupport::readFile(target), before);

    const Result<void> saved = AtomicFile::write(target, "[Rec]\nmode=2\n");
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error(), QStringLiteral("Couldn’t save “%1”: File name too long").arg(name));
    EXPECT_EQ(TestSupport::readFile(target), before);
    EXPECT_EQ(namesIn(dir.path()), QStringList{name});
}

} // namespace
