// timeGetTime: the multimedia clock, which --fixed-dt ties to presented frames. Apart from
// the kernel services because it reads the frame state, which knows windows.
#include "platform/win32/host.h"

#include <chrono>
#include <cmath>

DWORD WINAPI timeGetTime() {
    double fixedDt = fw::GetRunOptions().fixedDt;
    if (fixedDt >= 0.0) {
        // Reproducible runs: the clock moves only when a frame is presented.
        return (DWORD)(uint64_t)std::llround((double)fw::PresentedFrameCount() * fixedDt * 1000.0);
    }
    // Milliseconds since the process first asked, wrapping at 2^32 as the Windows clock
    // does. Counting from process start rather than boot keeps the float readings of the
    // frame clock exact to the millisecond for the first 4.6 hours of a run.
    static const auto start = std::chrono::steady_clock::now();
    auto elapsed = std::chrono::steady_clock::now() - start;
    return (DWORD)(uint64_t)std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
}
