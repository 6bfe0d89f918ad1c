#include "platform/ThreadGroup.h"

#include "fixtures/RefusedThreads.h"

#include <gtest/gtest.h>

#include <atomic>

TEST(ThreadGroup, RunsWorkOnItsThreadsUnlessStartsAreRefused)
{
    std::atomic<int> ran = 0;
    {
        ThreadGroup threads;
        EXPECT_TRUE(threads.start([&] { ++ran; }));
        EXPECT_TRUE(threads.start([&] { ++ran; }));
    } // joined here
    EXPECT_EQ(ran, 2);

    {
        const RefusedThreads refuse;
        ThreadGroup threads;
        EXPECT_FALSE(threads.start([&] { ++ran; }));
        threads.join();
        EXPECT_EQ(ran, 2) << "refused work is the caller's";
    }
    ThreadGroup threads;
    EXPECT_TRUE(threads.start([&] { ++ran; }));
    threads.join();
    EXPECT_EQ(ran, 3);
}
