#pragma once

// Loads the X display's GL driver into the process without Qt: on a connection of its own, so that it may
// run on any thread while the GUI thread goes on. Loading the driver (for Mesa's software renderer, a
// library of some 100 MB to relocate) is most of what a process's first GL context costs; Qt's own
// check of whether GL may be used off the GUI thread makes such a context on the GUI thread.
namespace GLDriverPreload {

// False when there is no X display or no GLX to ask; nothing is left loaded or open that is not needed.
bool load();

} // namespace GLDriverPreload
