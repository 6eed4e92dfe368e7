// frame_timer.cpp: milliseconds between frames, from the platform clock. Main thread.
#include "shell/frame_timer.h"

#include "platform/platform.h"
#include "shell/shell_state.h"

#include <cstdint>

void StartFrameTimer() {
    shell.lastTick = platform::TimeMs();
}

float TickFrameTimer() {
    // The difference is taken in uint32 arithmetic, so the tick across the clock's wrap after
    // 2^32 ms gives the true small delta instead of a negative one of 49.7 days.
    uint32_t now = platform::TimeMs();
    uint32_t elapsed = now - shell.lastTick;
    shell.lastTick = now;
    return static_cast<float>(elapsed);
}
