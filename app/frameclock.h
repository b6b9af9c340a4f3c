// The frame clock: seconds between frames from the millisecond timer. Both readings are
// held as floats, so dt moves in steps of the float spacing of the millisecond count
// (1 ms below 2^24 ms of uptime, 2 ms up to 2^25 ms, ...). Neither clamped nor smoothed.
#pragma once

#include "platform/windows.h"

class FrameClock {
public:
    using Reader = DWORD (*)();

    // Seconds since the previous call. The first call reads the clock twice, so its dt is
    // the (near zero) time between those two readings.
    float Tick(Reader readMilliseconds = timeGetTime);

private:
    bool started = false;
    float lastFrameTime = 0.0f; // milliseconds, as read on the previous frame
};
