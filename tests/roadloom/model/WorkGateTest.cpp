#include "roadloom/model/WorkGate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

TEST(WorkGate, ClosingWaitsForTheWorkThroughAndLetsNoMoreThrough)
{
    WorkGate gate;
    std::atomic<bool> inside = false, leave = false, closed = false, ran = false;
    std::thread worker([&] {
        ran = gate.run([&] {
            inside = true;
            while (!leave)
                std::this_thread::yield();
        });
    });
    while (!inside)
        std::this_thread::yield();
    std::thread closer([&] {
        gate.close();
        closed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(closed) << "the work through has not ended";
    leave = true;
    closer.join();
    worker.join();
    EXPECT_TRUE(ran);

    bool later = false;
    EXPECT_FALSE(gate.run([&] { later = true; }));
    EXPECT_FALSE(later);
}
