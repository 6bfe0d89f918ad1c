#pragma once

#include <chrono>

// Holds back background work that would take the processors from the first window while it is being shown
// (reading a large catalog fills every core). The application closes the gate before it starts that work
// and opens it once its window's first frame is on the screen; a gate never closed is open, so libraries,
// tests and tools built without a window never wait.
namespace StartupGate {

void close();
void open();
// Blocks the calling thread until the gate is open, or at most `limit` (a window that never paints must
// not keep the work back for good). Never call it on the thread that paints.
void wait(std::chrono::milliseconds limit);

} // namespace StartupGate
