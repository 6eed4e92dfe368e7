// file_access.cpp: the standard-library and in-memory file operations and the module stream
// over a caller's set. Any thread; nothing here is shared between loads.
#include "music/file_access.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

void SetFileCallbacks(FileCallbacks* set, FileOpenFn open, FileCloseFn close, FileReadFn read,
                      FileSeekFn seek, FileTellFn tell, void* context) {
    if (!set) return;
    if (!open || !close || !read || !seek || !tell) {
        *set = FileCallbacks{};
        return;
    }
    *set = FileCallbacks{open, close, read, seek, tell, context};
}

bool FileCallbacksComplete(const FileCallbacks* set) {
    return set && set->open && set->close && set->read && set->seek && set->tell;
}

namespace {

void* StandardOpen(void*, const char* name) {
    return std::fopen(name, "rb");
}
int StandardClose(void*, void* handle) {
    return std::fclose(static_cast<FILE*>(handle));
}
int32_t StandardRead(void*, void* buffer, int32_t count, void* handle) {
    // A negative count would become a huge size_t.
    if (count <= 0) return 0;
    return static_cast<int32_t>(
        std::fread(buffer, 1, static_cast<size_t>(count), static_cast<FILE*>(handle)));
}
int StandardSeek(void*, void* handle, int32_t offset, int origin) {
    return std::fseek(static_cast<FILE*>(handle), offset, origin);
}
int32_t StandardTell(void*, void* handle) {
    return static_cast<int32_t>(std::ftell(static_cast<FILE*>(handle)));
}

void* MemoryOpenRefused(void*, const char*) {
    return nullptr;
}
int MemoryCloseNothing(void*, void*) {
    return 0;
}
int32_t MemoryFileRead(void*, void* buffer, int32_t count, void* handle) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (count <= 0 || file->position >= file->size) return 0;
    const uint64_t left = file->size - file->position;
    const uint64_t n = left < static_cast<uint64_t>(count) ? left : static_cast<uint64_t>(count);
    std::memcpy(buffer, file->data + file->position, static_cast<size_t>(n));
    file->position += n;
    return static_cast<int32_t>(n);
}
// Origins 0 (start), 1 (current), 2 (end); positions past the end are allowed (reads there give
// nothing), a negative one fails and leaves the position unchanged.
int MemoryFileSeek(void*, void* handle, int32_t offset, int origin) {
    auto* file = static_cast<MemoryFile*>(handle);
    int64_t base = 0;
    if (origin == 1)
        base = static_cast<int64_t>(file->position);
    else if (origin == 2)
        base = static_cast<int64_t>(file->size);
    else if (origin != 0)
        return -1;
    const int64_t target = base + offset;
    if (target < 0) return -1;
    file->position = static_cast<uint64_t>(target);
    return 0;
}
int32_t MemoryFileTell(void*, void* handle) {
    const uint64_t position = static_cast<MemoryFile*>(handle)->position;
    return position > INT32_MAX ? INT32_MAX : static_cast<int32_t>(position);
}

} // namespace

const FileCallbacks standardFileCallbacks = {StandardOpen, StandardClose, StandardRead,
                                             StandardSeek, StandardTell,  nullptr};
const FileCallbacks memoryFileCallbacks = {MemoryOpenRefused, MemoryCloseNothing, MemoryFileRead,
                                           MemoryFileSeek,    MemoryFileTell,     nullptr};

ModuleStream MemoryStream(MemoryFile* file) {
    return ModuleStream{&memoryFileCallbacks, file};
}

ModuleStream* OpenModuleStream(const FileCallbacks* files, const char* name) {
    if (!FileCallbacksComplete(files)) return nullptr;
    auto* stream = static_cast<ModuleStream*>(std::calloc(1, sizeof(ModuleStream)));
    if (!stream) return nullptr;
    stream->files = files;
    stream->handle = files->open(files->context, name);
    if (!stream->handle) {
        std::free(stream);
        return nullptr;
    }
    return stream;
}

void CloseModuleStream(ModuleStream* stream) {
    if (!stream) return;
    stream->files->close(stream->files->context, stream->handle);
    std::free(stream);
}

int32_t StreamRead(void* buffer, int32_t count, ModuleStream* stream) {
    if (!stream) return 0;
    return stream->files->read(stream->files->context, buffer, count, stream->handle);
}

int StreamSeek(ModuleStream* stream, int32_t offset, int origin) {
    if (!stream) return -1;
    return stream->files->seek(stream->files->context, stream->handle, offset, origin);
}

int32_t StreamTell(ModuleStream* stream) {
    if (!stream) return 0;
    return stream->files->tell(stream->files->context, stream->handle);
}
