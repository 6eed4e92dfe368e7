// null_platform.h: extras of the null backend (no window, no sound), for tests and tools.
// Its clock is virtual: it starts at 0 and moves only when told to.
#pragma once

#include <cstdint>

namespace platform::null {

// Sets or advances the virtual clock that TimeMs returns while no other clock is installed.
void SetVirtualTime(uint32_t ms);
void AdvanceVirtualTime(uint32_t ms);

} // namespace platform::null
