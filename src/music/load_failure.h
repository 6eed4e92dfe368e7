// load_failure.h: what every module loader reports and allocates the same way: the failure
// record (a code and a sentence) and zeroed allocations bounded by what a size_t holds. Any
// thread.
#pragma once

#include <cstdint>

#include "music/module.h"

// Records why the load failed and returns false, so that failure paths read
// `return Fail(...)`.
[[gnu::format(printf, 3, 4)]] bool Fail(LoadError* error, LoadErrorCode code, const char* format,
                                        ...);
void Succeed(LoadError* error);

// `bytes` zeroed bytes; null for 0 or less, for more than a size_t holds, or when out of memory.
void* Zeroed(int64_t bytes);
