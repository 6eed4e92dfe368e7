// posix.h: pieces shared by the backends that run on a POSIX system (sdl/ and null/).
#pragma once

#include <cstdint>

namespace platform::posix {

// Milliseconds of the monotonic system clock since the first call, truncated to 32 bits.
uint32_t MonotonicMs();
// A message box where none can be shown: "caption: text" on standard error.
void PrintMessageToStderr(const char* text, const char* caption);

} // namespace platform::posix
