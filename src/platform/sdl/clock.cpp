// clock.cpp: the millisecond clock of the SDL backend (monotonic, replaceable). Any thread.
#include "platform/platform.h"
#include "platform/posix/posix.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<const ClockSource*> installedClock{nullptr};
}

uint32_t TimeMs() {
    const ClockSource* clock = installedClock.load(std::memory_order_acquire);
    return clock ? clock->read(clock->context) : posix::MonotonicMs();
}

void SetClock(const ClockSource* clock) {
    installedClock.store(clock, std::memory_order_release);
}

} // namespace platform
