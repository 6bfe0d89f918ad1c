#include "platform/BackgroundThread.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace BackgroundThread {

void lowerCurrentPriority()
{
    // On Linux a nice value and an I/O priority belong to each thread, named by its id.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    ::setpriority(PRIO_PROCESS, tid, 10);
    constexpr int ioprioClassShift = 13;
    constexpr int bestEffortClass = 2;
    constexpr int lowestBestEffortLevel = 7;
    constexpr int whoProcess = 1;
    ::syscall(SYS_ioprio_set, whoProcess, static_cast<int>(tid),
              (bestEffortClass << ioprioClassShift) | lowestBestEffortLevel);
}

} // namespace BackgroundThread
