#include "core/zqhost.h"

#if defined(_WIN32)

#include <windows.h>

namespace zqhost {

namespace {

// The thread that loads the program runs its static initialisation: asking here pins the
// main thread before WinMain could start any other.
DWORD MainThreadId() {
    static const DWORD id = GetCurrentThreadId();
    return id;
}
[[maybe_unused]] const DWORD pinnedAtLoad = MainThreadId();

} // namespace

bool OnProcessMainThread() {
    return GetCurrentThreadId() == MainThreadId();
}

void YieldThread() {
    SwitchToThread();
}

void GuardAcrossFork(void (*)(), void (*)()) {}

bool BreakIntoDebugger() {
    if (!IsDebuggerPresent())
        return false;
    DebugBreak();
    return true;
}

} // namespace zqhost

#else

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

namespace zqhost {

namespace {

// Reads TracerPid from /proc without the heap: a stop for a debugger that is not there
// would kill the process with SIGTRAP.
bool DebuggerAttached() {
    const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char status[4096];
    const ssize_t length = read(fd, status, sizeof status - 1);
    close(fd);
    if (length <= 0)
        return false;
    status[length] = '\0';
    const char* tracer = std::strstr(status, "TracerPid:");
    return tracer && std::strtol(tracer + 10, nullptr, 10) != 0;
}

} // namespace

bool OnProcessMainThread() {
    return gettid() == getpid();
}

void YieldThread() {
    sched_yield();
}

void GuardAcrossFork(void (*prepare)(), void (*release)()) {
    pthread_atfork(prepare, release, release);
}

bool BreakIntoDebugger() {
    if (!DebuggerAttached())
        return false;
    std::raise(SIGTRAP);
    return true;
}

} // namespace zqhost

#endif
