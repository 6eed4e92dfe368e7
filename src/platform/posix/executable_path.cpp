// executable_path.cpp: where the running program's executable is, on a POSIX system. Any thread.
#include "platform/platform.h"

#include <unistd.h>

namespace platform {

bool ExecutablePath(char* out, size_t size) {
    if (!out || size == 0) return false;
    // Linux names the executable of every process in /proc; elsewhere the link is missing and
    // the program simply has no folder of its own to look in.
    ssize_t length = readlink("/proc/self/exe", out, size);
    if (length <= 0 || static_cast<size_t>(length) >= size) return false; // missing or cut short
    out[length] = '\0';
    return true;
}

} // namespace platform
