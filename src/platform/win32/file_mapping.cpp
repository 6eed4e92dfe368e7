// file_mapping.cpp: read-only mapping of a whole file on Windows. Any thread.
#include "platform/platform.h"

#include <windows.h>

namespace platform {

bool MapFileReadOnly(const char* path, MappedFile* out) {
    if (!out) return false;
    *out = MappedFile{};
    if (!path) return false;

    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;

    LARGE_INTEGER size{};
    // An empty file has nothing to map (the system refuses it too); a file larger than the
    // address space cannot be viewed whole.
    if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0 ||
        static_cast<unsigned long long>(size.QuadPart) > SIZE_MAX) {
        CloseHandle(file);
        return false;
    }

    HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (!mapping) {
        CloseHandle(file);
        return false;
    }
    const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    // The view keeps the mapping and the file alive on its own, so both handles can go now and
    // the view's address is all that unmapping needs.
    CloseHandle(mapping);
    CloseHandle(file);
    if (!view) return false;

    out->data = static_cast<const uint8_t*>(view);
    out->size = static_cast<size_t>(size.QuadPart);
    out->handle = const_cast<void*>(view);
    return true;
}

void UnmapFile(MappedFile* file) {
    if (!file) return;
    if (file->handle) UnmapViewOfFile(file->handle);
    *file = MappedFile{};
}

} // namespace platform
