#include "roadloom/model/CameraCard.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

namespace {

TEST(CameraCard, IsToldByWholeTopLevelNamesInAnyCase)
{
    const struct {
        QStringList names;
        bool card;
    } cases[] = {
        {{"dcim"}, true},
        {{"DCIM"}, true},
        {{"Normal"}, true},
        {{"setting", "misc"}, true},
        {{"MOTION_TIMELAPSE_REC"}, true},
        {{"blackbox"}, true},
        {{}, false},
        {{"DCIM2", "my_cont_rec", "Events", "Documents"}, false},
        {{"Setting.cfg"}, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CameraCard::hasMarker(c.names), c.card) << c.names.join(',').toStdString();
    EXPECT_EQ(CameraCard::markerNames().size(), 13);
}

TEST(CameraCard, LooksAtTheVolumesTopLevelOnly)
{
    QTemporaryDir dir;
    const QString folderCard = dir.filePath("a"), fileCard = dir.filePath("b"), deep = dir.filePath("c");
    ASSERT_TRUE(QDir().mkpath(folderCard + "/dcim"));
    TestSupport::writeFile(fileCard + "/Normal", "");
    ASSERT_TRUE(QDir().mkpath(deep + "/backup/DCIM"));

    EXPECT_TRUE(CameraCard::isCard(folderCard));
    EXPECT_TRUE(CameraCard::isCard(fileCard));
    EXPECT_FALSE(CameraCard::isCard(deep));
    EXPECT_FALSE(CameraCard::isCard(dir.filePath("missing")));
}

} // namespace
