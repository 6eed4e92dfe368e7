// load_failure.cpp: the loaders' failure records and zeroed allocations. Any thread.
#include "music/load_failure.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

bool Fail(LoadError* error, LoadErrorCode code, const char* format, ...) {
    error->code = code;
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(error->message, sizeof error->message, format, arguments);
    va_end(arguments);
    return false;
}

void Succeed(LoadError* error) {
    error->code = LOAD_OK;
    error->message[0] = '\0';
}

void* Zeroed(int64_t bytes) {
    if (bytes <= 0 || static_cast<uint64_t>(bytes) > SIZE_MAX) return nullptr;
    return std::calloc(1, static_cast<size_t>(bytes));
}
