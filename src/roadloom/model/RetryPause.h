#pragma once

#include <algorithm>
#include <chrono>

// The pause before each try of something that keeps failing: `first`, then twice as long each time up to
// `longest`; after a success the first again.
class RetryPause {
public:
    using Duration = std::chrono::milliseconds;

    RetryPause(Duration first, Duration longest) : m_first(first), m_longest(longest), m_next(first) {}

    // The pause before the next try; the one after it is longer.
    Duration next()
    {
        const Duration pause = m_next;
        m_next = std::min(m_longest, std::max(m_next * 2, Duration(1)));
        return std::min(pause, m_longest);
    }
    void reset() { m_next = m_first; }

private:
    const Duration m_first;
    const Duration m_longest;
    Duration m_next;
};
