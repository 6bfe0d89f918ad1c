#pragma once

#include <QDeadlineTimer>

#include <chrono>
#include <condition_variable>
#include <mutex>

// Lets work through until it is closed, and lets the closer wait for the work already through: the quit
// stops the writers of a file this way without waiting for the rest of the work on their threads.
class WorkGate {
public:
    // Runs `work` on the calling thread unless the gate is closed; false when it did not run.
    template <class Work> bool run(Work &&work)
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_closed)
                return false;
            ++m_inside;
        }
        struct Leave {
            WorkGate &gate;
            ~Leave()
            {
                std::lock_guard lock(gate.m_mutex);
                if (--gate.m_inside == 0)
                    gate.m_left.notify_all();
            }
        } leave{*this};
        work();
        return true;
    }

    // Lets nothing through any more, then waits until the work already through has ended, or at most until
    // `deadline`; false when work is still through then (it runs on, unwaited for).
    bool close(QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever))
    {
        std::unique_lock lock(m_mutex);
        m_closed = true;
        const auto left = [this] { return m_inside == 0; };
        if (deadline.isForever()) {
            m_left.wait(lock, left);
            return true;
        }
        return m_left.wait_for(lock, std::chrono::milliseconds(deadline.remainingTime()), left);
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_left;
    int m_inside = 0;
    bool m_closed = false;
};
