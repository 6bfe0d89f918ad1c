#pragma once

#include <atomic>
#include <functional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

// Threads that are always joined, even when the work is left early or throws.
class ThreadGroup {
public:
    ThreadGroup() = default;
    ThreadGroup(const ThreadGroup &) = delete;
    ThreadGroup &operator=(const ThreadGroup &) = delete;
    ~ThreadGroup() { join(); }

    // False when no thread could be started: the caller then does the work itself.
    bool start(std::function<void()> work)
    {
        if (s_refusing.load(std::memory_order_relaxed) > 0)
            return false;
        try {
            m_threads.emplace_back(std::move(work));
            return true;
        } catch (const std::system_error &) {
            return false;
        }
    }
    void join()
    {
        for (std::thread &thread : m_threads)
            thread.join();
        m_threads.clear();
    }

    // While one lives, no group in the process starts a thread, as when the system has none left: tests
    // show the work is then done in place.
    class RefuseStarts {
    public:
        RefuseStarts() { ++s_refusing; }
        ~RefuseStarts() { --s_refusing; }
        RefuseStarts(const RefuseStarts &) = delete;
        RefuseStarts &operator=(const RefuseStarts &) = delete;
    };

private:
    static inline std::atomic<int> s_refusing{0};
    std::vector<std::thread> m_threads;
};
