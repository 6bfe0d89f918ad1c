#include "roadloom/model/LibrarySource.h"
#include "roadloom/model/ClipSort.h"
#include "roadloom/model/SourceCheck.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSet>
#include <QTemporaryDir>

namespace {

using Kind = LibrarySource::Kind;

TEST(LibrarySource, IdJoinsKindAndPlainPaths)
{
    EXPECT_EQ(LibrarySource::allMedia().id(), "catalog:");
    EXPECT_EQ(LibrarySource::allMedia().name, "All Media");

    const struct {
        LibrarySource source;
        QString id;
    } cases[] = {
        {{Kind::device, "CARD", {"/media/me/CARD"}}, "device:/media/me/CARD"},
        {{Kind::folder, "CARD", {"/media/me/CARD"}}, "folder:/media/me/CARD"},
        {{Kind::files, "Imported Files", {"/a/X_F.MP4", "/a/X_R.MP4"}}, "files:/a/X_F.MP4|/a/X_R.MP4"},
        {{Kind::folder, "Fahrt 50%", {"/home/ü/Fahrt 50%"}}, "folder:/home/ü/Fahrt 50%"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.source.id(), c.id);
}

TEST(LibrarySource, EqualityAndHashFollowKindNameAndPathOrder)
{
    const LibrarySource ab{Kind::files, "Imported Files", {"/a", "/b"}};
    const LibrarySource ba{Kind::files, "Imported Files", {"/b", "/a"}};
    const LibrarySource renamed{Kind::files, "Other", {"/a", "/b"}};
    EXPECT_NE(ab, ba);
    EXPECT_NE(ab.id(), ba.id());
    EXPECT_EQ(ab.id(), renamed.id());
    EXPECT_NE(ab, renamed);
    EXPECT_EQ(ab, (LibrarySource{Kind::files, "Imported Files", {"/a", "/b"}}));
    EXPECT_EQ(QSet<LibrarySource>({ab, ba, renamed, ab}).size(), 3);
}

TEST(SourceCheck, AFolderIsThereWhileSomethingIsAtItsPathAndHoldsTheCameraFileWhenItHasOne)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath("Trip");
    EXPECT_FALSE(SourceCheck::folder(folder).there);
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_TRUE(SourceCheck::folder(folder).there);
    EXPECT_EQ(SourceCheck::folder(folder).configURL, std::nullopt);
    EXPECT_EQ(SourceCheck::folder(folder).watchedPlaces.value(0), dir.path());
    TestSupport::writeFile(folder + "/SETTING/setup.cfg", "a=1\n");
    EXPECT_EQ(SourceCheck::folder(folder).configURL, folder + "/SETTING/setup.cfg");
    ASSERT_TRUE(QDir(folder).removeRecursively());
    EXPECT_FALSE(SourceCheck::folder(folder).there);

    TestSupport::writeFile(folder, "a file counts as something there");
    EXPECT_TRUE(SourceCheck::folder(folder).there);
}

} // namespace
