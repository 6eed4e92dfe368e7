// clock.cpp: the millisecond clock over the multimedia timer, sleeping and thread priority on
// Windows. Any thread.
#include "platform/platform.h"

#include <windows.h>

#include <mmsystem.h>

#include <atomic>

namespace platform {
namespace {

struct ClockState {
    std::atomic<ClockFunction> replacement{nullptr};
};
ClockState clockState;

// The system count is taken relative to its first reading, so that the clock starts near 0 as
// on the other backends: the frame timer turns it into single-precision floats, which would lose
// whole milliseconds on a machine that has been up for hours. Differences stay wrap-safe in
// uint32_t arithmetic either way.
uint32_t SystemTimeMs() {
    static const uint32_t origin = timeGetTime(); // fixed once, by whichever thread reads first
    return timeGetTime() - origin;
}

} // namespace

uint32_t TimeMs() {
    ClockFunction clock = clockState.replacement.load(std::memory_order_acquire);
    return clock ? clock() : SystemTimeMs();
}

void SetClock(ClockFunction clock) {
    clockState.replacement.store(clock, std::memory_order_release);
}

void SleepMs(uint32_t ms) {
    Sleep(ms);
}

bool RaiseCurrentThreadPriority() {
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL) != 0;
}

} // namespace platform
