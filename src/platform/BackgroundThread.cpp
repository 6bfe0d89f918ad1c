#include "platform/BackgroundThread.h"

#include <cerrno>

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

} // namespace BackgroundThread
