// clock.cpp: the millisecond clock of the SDL backend (monotonic, replaceable). Any thread.
#include "platform/platform.h"
#include "platform/posix/posix.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<ClockFunction> installedClock{nullptr};
}

uint32_t TimeMs() {
    ClockFunction clock = installedClock.load(std::memory_order_acquire);
    return clock ? clock() : posix::MonotonicMs();
}

void SetClock(ClockFunction clock) {
    installedClock.store(clock, std::memory_order_release);
}

} // namespace platform
