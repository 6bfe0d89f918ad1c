#include "platform/StartupGate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace std::chrono_literals;

TEST(StartupGate, WorkWaitsForTheOpeningOrItsLimitOnly)
{
    // Never closed: nothing waits.
    auto start = std::chrono::steady_clock::now();
    StartupGate::wait(10s);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);

    StartupGate::close();
    std::atomic<bool> passed = false;
    std::thread worker([&] {
        StartupGate::wait(30s);
        passed = true;
    });
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(passed);
    StartupGate::open();
    worker.join();
    EXPECT_TRUE(passed);

    // A window that never paints holds the work back for the limit only.
    StartupGate::close();
    start = std::chrono::steady_clock::now();
    StartupGate::wait(50ms);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 50ms);
    StartupGate::open();
    start = std::chrono::steady_clock::now();
    StartupGate::wait(10s);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "opened again after the limit";
}
