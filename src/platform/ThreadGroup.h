#pragma once

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

private:
    std::vector<std::thread> m_threads;
};
