#include "roadloom/ui/shell/AppServices.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cerrno>

namespace {

// The player's check before it plays a file: why the open fails, as the system says. Tests run as root,
// which opens any file whatever its mode, so the failures here are ones root gets too.
TEST(AppServices, TheOpenCheckGivesTheSystemsReason)
{
    QTemporaryDir dir;
    const QString readable = dir.filePath("A_F.mp4");
    TestSupport::writeFile(readable, "movie");
    const QString loop = dir.filePath("B_F.mp4");
    ASSERT_TRUE(QFile::link(loop, loop));
    const QString underAFile = readable + "/C_F.mp4";

    const PlayerServices services = AppServices::playerServices();
    ASSERT_TRUE(services.openError);
    const struct {
        QString path;
        int error;
    } rows[] = {
        {readable, 0},
        {dir.filePath("gone_F.mp4"), ENOENT},
        {underAFile, ENOTDIR},
        {loop, ELOOP},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.path.toStdString());
        EXPECT_EQ(services.openError(row.path), row.error);
    }
}

} // namespace
