// frame_timer.cpp: milliseconds between frames, from the platform clock. Main thread.
#include "shell/frame_timer.h"

#include "platform/platform.h"

#include <cstdint>

namespace {
// The last tick, kept as the clock's exact 32-bit count rather than as a float: a float holds
// it to the millisecond only below 2^24 ms (4.7 hours) and is off by up to 256 ms near 2^32.
// The difference is taken in uint32 arithmetic, so the tick across the clock's wrap after
// 2^32 ms gives the true small delta instead of a negative one of 49.7 days.
uint32_t lastTick = 0;
} // namespace

void StartFrameTimer() {
    lastTick = platform::TimeMs();
}

float TickFrameTimer() {
    uint32_t now = platform::TimeMs();
    uint32_t elapsed = now - lastTick;
    lastTick = now;
    return static_cast<float>(elapsed);
}
