#include "platform/StartupGate.h"

#include <condition_variable>
#include <mutex>

namespace StartupGate {

namespace {

struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool closed = false;
};

Gate &gate()
{
    static Gate instance;
    return instance;
}

} // namespace

void close()
{
    std::lock_guard lock(gate().mutex);
    gate().closed = true;
}

void open()
{
    {
        std::lock_guard lock(gate().mutex);
        if (!gate().closed)
            return;
        gate().closed = false;
    }
    gate().opened.notify_all();
}

void wait(std::chrono::milliseconds limit)
{
    std::unique_lock lock(gate().mutex);
    gate().opened.wait_for(lock, limit, [] { return !gate().closed; });
}

} // namespace StartupGate
