#include "platform/BackgroundThread.h"

#include <algorithm>
#include <cerrno>
#include <thread>

#include <sched.h>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace BackgroundThread {

void lowerCurrentPriority()
{
    // On Linux a nice value and an I/O priority belong to each thread, named by its id.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    constexpr int backgroundNice = 10;
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, tid);
    // Never raise it: a process started at a lower priority keeps it.
    if (errno == 0 && now < backgroundNice)
        ::setpriority(PRIO_PROCESS, tid, backgroundNice);
    constexpr int ioprioClassShift = 13;
    constexpr int bestEffortClass = 2;
    constexpr int lowestBestEffortLevel = 7;
    constexpr int whoProcess = 1;
    ::syscall(SYS_ioprio_set, whoProcess, static_cast<int>(tid),
              (bestEffortClass << ioprioClassShift) | lowestBestEffortLevel);
}

unsigned helperThreads(unsigned most)
{
    // A process may be held to fewer processors than the machine has (taskset, containers).
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    unsigned processors = std::max(1u, std::thread::hardware_concurrency());
    if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0)
        processors = std::max(1, CPU_COUNT(&allowed));
    return std::min(most, processors - 1);
}

} // namespace BackgroundThread
