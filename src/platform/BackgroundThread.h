#pragma once

// Scheduling of work the user does not wait for.
namespace BackgroundThread {

// Lowers the calling thread's CPU and disk priority, so that playback and the interface keep theirs while it
// works. Failures are ignored: the work then runs at normal priority.
void lowerCurrentPriority();

} // namespace BackgroundThread
