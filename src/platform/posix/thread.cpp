// thread.cpp: sleeping, thread priority and the monotonic millisecond count. Any thread.
#include "platform/platform.h"
#include "platform/posix/posix.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

void SleepMs(uint32_t ms) {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

bool RaiseCurrentThreadPriority() {
    // The lowest nice value the system grants to this one thread (Linux keeps a nice value per
    // thread). A real-time class would be closer to "time critical", but a fault in a real-time
    // thread can freeze a small machine, and the mixer needs only to win against the show.
    pid_t tid = static_cast<pid_t>(syscall(SYS_gettid));
    for (int nice = -20; nice < 0; nice += 5) {
        if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0) return true;
    }
    return false;
}

namespace posix {

static uint64_t NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

uint32_t MonotonicMs() {
    static const uint64_t start = NowMs();
    return static_cast<uint32_t>(NowMs() - start);
}

void PrintMessageToStderr(const char* text, const char* caption) {
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    std::fflush(stderr);
}

} // namespace posix
} // namespace platform
