#include "platform/Defaults.h"
#include "platform/StandardFolders.h"

#include "fixtures/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <thread>
#include <vector>

namespace {

TEST(Defaults, AnswersRegisteredValuesUntilSetAndPersistsRawStrings)
{
    QTemporaryDir dir;
    const QString ini = dir.filePath("settings.ini");
    {
        Defaults defaults(ini);
        defaults.registerDefaults({{"speedUnit", "kmh"}, {"autoPlayNext", true}});
        EXPECT_EQ(defaults.string("speedUnit"), "kmh");
        EXPECT_TRUE(defaults.boolean("autoPlayNext"));
        EXPECT_FALSE(defaults.contains("speedUnit"));

        QSignalSpy spy(&defaults, &Defaults::changed);
        defaults.setValue("speedUnit", "mph");
        defaults.setValue("speedUnit", "mph"); // unchanged: no second notice
        EXPECT_EQ(spy.count(), 1);
        defaults.setValue("libraryFolders", QStringList{"/a", "/b"});
    }
    Defaults reopened(ini);
    EXPECT_EQ(reopened.string("speedUnit"), "mph");
    EXPECT_EQ(reopened.stringList("libraryFolders"), (QStringList{"/a", "/b"}));
    reopened.remove("speedUnit");
    EXPECT_FALSE(reopened.value("speedUnit").isValid());
}

TEST(Defaults, IsSafeFromManyThreads)
{
    QTemporaryDir dir;
    Defaults defaults(dir.filePath("settings.ini"));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&defaults, t] {
            for (int i = 0; i < 200; ++i) {
                defaults.setValue(QStringLiteral("k%1").arg(t), i);
                (void)defaults.value(QStringLiteral("k%1").arg((t + 1) % 4));
            }
        });
    {
        const TestSupport::Deadline deadline(60000, "joining the writers");
        for (auto &thread : threads)
            thread.join();
    }
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(defaults.value(QStringLiteral("k%1").arg(t)).toInt(), 199);
}

TEST(StandardFolders, LieUnderThePrivateHome)
{
    const QString home = QDir::homePath();
    EXPECT_EQ(StandardFolders::mediaCacheRoot(), home + "/.local/share/Roadloom/Media Cache");
    EXPECT_EQ(StandardFolders::configBackups(), home + "/.local/share/Roadloom/Config Backups");
    EXPECT_EQ(StandardFolders::converted(), home + "/.cache/Roadloom/Converted");
    EXPECT_TRUE(StandardFolders::snapshots().endsWith("/Roadloom"));
    EXPECT_TRUE(StandardFolders::snapshots().startsWith(home));
}

} // namespace
