// executable_path.cpp: where the running program's executable is, on Windows. Any thread.
#include "platform/platform.h"

#include <windows.h>

namespace platform {

bool ExecutablePath(char* out, size_t size) {
    if (!out || size == 0 || size > 0xFFFFFFFFu) return false;
    DWORD length = GetModuleFileNameA(nullptr, out, static_cast<DWORD>(size));
    // A path that does not fit comes back cut short, filling the whole buffer.
    return length > 0 && length < size;
}

} // namespace platform
