#include "platform/FreeSpace.h"
#include "platform/Trash.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

TEST(FreeSpace, AnswersForAnExistingFolderAndNothingForAMissingOne)
{
    QTemporaryDir tmp;
    const auto available = FreeSpace::system().bytesAvailable(tmp.path());
    ASSERT_TRUE(available);
    EXPECT_GT(*available, 0);
    EXPECT_FALSE(FreeSpace::system().bytesAvailable(tmp.filePath("missing/deeper")));
}

TEST(Trash, MovesFilesIntoTheUsersTrashAndNamesWhatItCouldNotMove)
{
    // The test main points HOME into a temporary folder, so this is a Trash of our own.
    const QString home = QDir::homePath();
    const QString file = home + "/card/REC_20240501_100000_F.mp4";
    TestSupport::writeFile(file, "video");
    ASSERT_TRUE(Trash::system().moveToTrash({file}).ok());
    EXPECT_FALSE(QFile::exists(file));
    QStringList trashed;
    QDirIterator it(home, {"REC_20240501_100000_F.mp4"}, QDir::Files | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        trashed.append(it.next());
    ASSERT_EQ(trashed.size(), 1);
    EXPECT_TRUE(trashed.first().contains("/Trash/files/")) << trashed.first().toStdString();
    EXPECT_EQ(TestSupport::readFile(trashed.first()), "video");

    const Result<void> refused = Trash::system().moveToTrash({file});
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(),
              "“REC_20240501_100000_F.mp4” couldn't be moved to the Trash because it no longer exists.");
}

// A file where the Trash folder should be: Qt then "trashes" into a folder under the working folder, and the
// file must come back to where it was, with the reason.
TEST(Trash, ATrashBlockedByAFileGivesTheFileBack)
{
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString trash = data + "/Trash";
    QDir(trash).removeRecursively();
    TestSupport::writeFile(trash, "not a folder");
    QTemporaryDir working;
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(working.path()));

    const QString file = QDir::homePath() + "/card/REC_20240501_110000_F.mp4";
    TestSupport::writeFile(file, "video");
    const Result<void> refused = Trash::system().moveToTrash({file});
    QDir::setCurrent(previous);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error(), "“REC_20240501_110000_F.mp4” couldn't be moved to the Trash because the Trash "
                               "folder couldn't be made.");
    EXPECT_EQ(TestSupport::readFile(file), "video");
    EXPECT_TRUE(QDir(working.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot))
        << QDir(working.path())
               .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
               .join(' ')
               .toStdString();
    QFile::remove(trash);
}

} // namespace
