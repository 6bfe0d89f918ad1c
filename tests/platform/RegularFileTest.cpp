#include "platform/RegularFile.h"
#include "fixtures/TestSupport.h"
#include "platform/ByteSource.h"
#include "platform/MediaFile.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace {

// Nothing from a card or the user is opened unless it is a regular file, and no open waits: a named pipe
// named like a recording or a configuration file reads as nothing, with the reason in the file's name.
TEST(RegularFile, SpecialFilesAreTurnedAwayWithoutWaiting)
{
    QTemporaryDir dir;
    TestSupport::writeFile(dir.filePath("X_F.mp4"), "movie");
    TestSupport::makeFifo(dir.filePath("X_R.mp4"));
    QFile::link(dir.filePath("X_R.mp4"), dir.filePath("link_R.mp4"));
    QDir(dir.path()).mkdir("folder.mp4");

    struct Case {
        QString path;
        QString failure; // empty: opens
    };
    const Case cases[] = {
        {dir.filePath("X_F.mp4"), {}},
        {dir.filePath("X_R.mp4"), "“X_R.mp4” is not a regular file."},
        {dir.filePath("link_R.mp4"), "“link_R.mp4” is not a regular file."},
        {dir.filePath("folder.mp4"), "“folder.mp4” is not a regular file."},
        {"/dev/null", "“null” is not a regular file."},
        {dir.filePath("missing.mp4"), "Couldn’t open “missing.mp4”: No such file or directory"},
    };
    const TestSupport::Deadline deadline(20000, "opening special files");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        const Result<UniqueFd> fd = RegularFile::open(c.path);
        EXPECT_EQ(fd ? QString() : fd.error(), c.failure);
        EXPECT_EQ(RegularFile::isRegular(c.path), c.failure.isEmpty());
        const auto file = RegularFile::openFile(c.path);
        EXPECT_EQ(file ? (*file)->readAll() : QByteArray(), c.failure.isEmpty() ? "movie" : "");
        EXPECT_EQ(ByteSource::openFile(c.path) != nullptr, c.failure.isEmpty());
        const Result<MediaFile> media = MediaFile::open(c.path);
        if (!c.failure.isEmpty()) {
            EXPECT_EQ(media ? QString() : media.error(), c.failure);
        }
    }
}

} // namespace
