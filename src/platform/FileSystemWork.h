#pragma once

#include <atomic>

// Work on threads that nobody waits for because it puts questions to a user's file system, which may never
// answer: the quit ends the program without waiting for what is still under way, rather than run the
// program's teardown beside it.
namespace FileSystemWork {

inline std::atomic<int> underWay{0};

// Held for as long as one such piece of work runs.
struct Running {
    Running() { ++underWay; }
    ~Running() { --underWay; }
    Running(const Running &) = delete;
    Running &operator=(const Running &) = delete;
};

inline bool anyUnderWay()
{
    return underWay.load() > 0;
}

} // namespace FileSystemWork
