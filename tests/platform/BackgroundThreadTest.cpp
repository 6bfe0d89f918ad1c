#include "platform/BackgroundThread.h"

#include <gtest/gtest.h>

#include <cerrno>

#include <thread>

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// Runs `body` on a thread of its own held to the first `processors` processors this process may use, or
// returns false when there are not that many.
template <class Body> bool onProcessors(int processors, Body body)
{
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0 || CPU_COUNT(&allowed) < processors)
        return false;
    cpu_set_t held;
    CPU_ZERO(&held);
    for (int cpu = 0, taken = 0; cpu < CPU_SETSIZE && taken < processors; ++cpu) {
        if (CPU_ISSET(cpu, &allowed)) {
            CPU_SET(cpu, &held);
            ++taken;
        }
    }
    std::thread([&] {
        ::sched_setaffinity(0, sizeof held, &held);
        body();
    }).join();
    return true;
}

} // namespace

// Background work leaves one processor of those the process may run on to the window, whatever the machine
// has, and never starts more helpers than asked.
TEST(BackgroundThread, HelpersLeaveOneProcessorOfThoseAllowed)
{
    const struct {
        int processors;
        unsigned most, helpers;
    } cases[] = {{1, 3, 0}, {2, 3, 1}, {3, 3, 2}, {4, 3, 3}, {4, 1, 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.processors);
        unsigned helpers = 99;
        if (!onProcessors(c.processors, [&] { helpers = BackgroundThread::helperThreads(c.most); }))
            continue;
        EXPECT_EQ(helpers, c.helpers);
    }
}

// The lowered priority belongs to the calling thread alone and is never raised back.
TEST(BackgroundThread, LowersOnlyTheCallingThread)
{
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int mine = ::getpriority(PRIO_PROCESS, tid);
    int lowered = 0, again = 0;
    std::thread([&] {
        const auto own = static_cast<id_t>(::syscall(SYS_gettid));
        BackgroundThread::lowerCurrentPriority();
        lowered = ::getpriority(PRIO_PROCESS, own);
        ::setpriority(PRIO_PROCESS, own, 15);
        BackgroundThread::lowerCurrentPriority();
        again = ::getpriority(PRIO_PROCESS, own);
    }).join();
    EXPECT_GE(lowered, 10);
    EXPECT_EQ(again, 15) << "a lower priority set before stays";
    EXPECT_EQ(::getpriority(PRIO_PROCESS, tid), mine);
}
