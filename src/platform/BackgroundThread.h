#pragma once

// Scheduling of work the user does not wait for.
namespace BackgroundThread {

// Lowers the calling thread's CPU and disk priority, so that playback and the interface keep theirs while it
// works. Failures are ignored: the work then runs at normal priority.
void lowerCurrentPriority();

// How many helper threads a piece of background work may start besides the calling one: one fewer than the
// processors this process may run on, at most `most`. With the calling thread the work may fill every
// processor; the helpers' lowered priority is what keeps the window's share.
unsigned helperThreads(unsigned most);

} // namespace BackgroundThread
