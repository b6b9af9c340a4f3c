#include "app/frameclock.h"

float FrameClock::Tick(Reader readMilliseconds) {
    if (!started) {
        lastFrameTime = (float)readMilliseconds();
        started = true;
    }
    float now = (float)readMilliseconds();
    float dt = (now - lastFrameTime) * 0.001f;
    lastFrameTime = now;
    return dt;
}
