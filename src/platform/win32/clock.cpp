// clock.cpp: the millisecond clock over the multimedia timer, sleeping and thread priority on
// Windows. Any thread.
#include "platform/platform.h"

#include <windows.h>

#include <mmsystem.h>

#include <atomic>

namespace platform {
namespace {

struct ClockState {
    std::atomic<const ClockSource*> replacement{nullptr};
};
ClockState clockState;

// The system count is taken relative to its first reading, so that the clock starts near 0 as
// on the other backends: the frame timer turns it into single-precision floats, which would lose
// whole milliseconds on a machine that has been up for hours. Differences stay wrap-safe in
// uint32_t arithmetic either way.
uint32_t StartSystemClock() {
    // The count advances in steps of the system's timer period, which is 10 to 16 ms unless a
    // program asks for less; the show scales its animation by the time between frames, so it
    // needs every millisecond. The period also makes the output thread's short sleeps as short
    // as asked. The system ends the request with the process.
    timeBeginPeriod(1);
    return timeGetTime();
}

// Fixed once, by whichever thread comes first.
uint32_t ClockOrigin() {
    static const uint32_t origin = StartSystemClock();
    return origin;
}

uint32_t SystemTimeMs() {
    uint32_t origin = ClockOrigin(); // before the reading: the first call reads in there too
    return timeGetTime() - origin;
}

} // namespace

uint32_t TimeMs() {
    const ClockSource* clock = clockState.replacement.load(std::memory_order_acquire);
    return clock ? clock->read(clock->context) : SystemTimeMs();
}

void SetClock(const ClockSource* clock) {
    clockState.replacement.store(clock, std::memory_order_release);
}

void SleepMs(uint32_t ms) {
    ClockOrigin(); // the timer period above
    Sleep(ms);
}

bool RaiseCurrentThreadPriority() {
    return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL) != 0;
}

} // namespace platform
