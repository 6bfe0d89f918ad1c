#include "platform/FileSystemWork.h"
#include "platform/LoneThreads.h"
#include "platform/QuestionPool.h"

#include "fixtures/TestSupport.h"

#include <QObject>
#include <QSemaphore>

#include <gtest/gtest.h>

// The quit ends the program without its teardown while a question to a file system is still under way:
// both ways of asking one must say so for as long as it runs, and no longer.
TEST(FileSystemWork, AQuestionUnderWayIsCountedUntilItReturns)
{
    QObject owner;
    QSemaphore held;
    LoneThreads lone(&owner);
    QuestionPool pool(&owner);
    bool answered = false;
    lone.run(
        [&] {
            held.acquire();
            return 1;
        },
        [&](int) { answered = true; });
    pool.ask(
        QStringLiteral("a"),
        [&] {
            held.acquire();
            return 2;
        },
        [](int) {});
    EXPECT_EQ(FileSystemWork::underWay.load(), 2);
    held.release();
    ASSERT_TRUE(TestSupport::waitFor([&] { return FileSystemWork::underWay.load() == 1; }));
    EXPECT_TRUE(FileSystemWork::anyUnderWay()); // the other one still waits
    held.release();
    EXPECT_TRUE(TestSupport::waitFor([&] { return !FileSystemWork::anyUnderWay(); }));
    EXPECT_TRUE(TestSupport::waitFor([&] { return answered && !pool.hasPending(); }));
}
