// The operating system's services that the tracker uses, the only system-specific part of
// core/: which thread is the program's, waiting for a lock's holder, fork safety, stopping
// in a debugger, and the platform's library scopes. One definition per system (zqhost.cpp).
#pragma once

#if defined(_WIN32)
namespace zqhost {
// The system's DLLs allocate from heaps of their own, never through the program's
// operators, so every block that reaches the tracker is the program's.
inline bool InLibraryScope() {
    return false;
}
// WinMain is the CRT's to call: a process ended from inside cannot be told apart here.
inline bool ProgramRunning() {
    return false;
}
} // namespace zqhost
#else
// The library-scope marker and run state of the Linux platform layer: inline, because the
// tracker asks on every allocation.
#include "platform/win32/host.h"
namespace zqhost {
using fw::InLibraryScope;
using fw::ProgramRunning;
} // namespace zqhost
#endif

namespace zqhost {

// True on the process's main thread, where the program runs.
bool OnProcessMainThread();
// Lets another thread run (the holder of a contended spin lock).
void YieldThread();
// Calls prepare before a fork and release after it, in parent and child, so that a lock
// held by another thread at the fork is not left held in the child. Nothing where no fork
// exists.
void GuardAcrossFork(void (*prepare)(), void (*release)());
// Stops in an attached debugger and returns true; false, doing nothing, when none is
// attached. Uses no heap.
bool BreakIntoDebugger();

} // namespace zqhost
