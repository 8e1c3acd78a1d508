// What the stage table's lock needs of the system, behind one interface:
// posix/platform.cpp and windows/platform.cpp implement it.
#pragma once

namespace su55if::platform {

// Lets another thread run, the holder of the table perhaps.
void yieldProcessor();

// Has `prepare` run in the thread that forks, just before the fork, and
// `release` in the parent and in the child just after it, for as long as the
// library is loaded. To be called once, while no thread holds the table and
// with no lock of the library's held (it may wait for the C library's own).
// Does nothing where processes are not forked.
void aroundFork(void (*prepare)(), void (*release)());

}  // namespace su55if::platform
