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

} // namespace
