// file_access.cpp: the installable file operations and the module stream over them. Any thread;
// the set is installed once at start-up, before anything is loaded.
#include "music/file_access.h"

#include <cstdio>
#include <cstdlib>

FileCallbacks fileCallbacks{};

void SetFileCallbacks(FileOpenFn open, FileCloseFn close, FileReadFn read, FileSeekFn seek,
                      FileTellFn tell) {
    if (!open || !close || !read || !seek || !tell) {
        fileCallbacks = FileCallbacks{};
        return;
    }
    fileCallbacks = FileCallbacks{open, close, read, seek, tell};
}

bool FileCallbacksInstalled() {
    return fileCallbacks.open && fileCallbacks.close && fileCallbacks.read && fileCallbacks.seek &&
           fileCallbacks.tell;
}

namespace {

void* StandardOpen(const char* name) {
    return std::fopen(name, "rb");
}
int StandardClose(void* handle) {
    return std::fclose(static_cast<FILE*>(handle));
}
int32_t StandardRead(void* buffer, int32_t count, void* handle) {
    // A negative count would become a huge size_t.
    if (count <= 0) return 0;
    return static_cast<int32_t>(
        std::fread(buffer, 1, static_cast<size_t>(count), static_cast<FILE*>(handle)));
}
int StandardSeek(void* handle, int32_t offset, int origin) {
    return std::fseek(static_cast<FILE*>(handle), offset, origin);
}
int32_t StandardTell(void* handle) {
    return static_cast<int32_t>(std::ftell(static_cast<FILE*>(handle)));
}

} // namespace

void SetStandardFileCallbacks() {
    SetFileCallbacks(StandardOpen, StandardClose, StandardRead, StandardSeek, StandardTell);
}

// Every stream operation also refuses to run while the set is incomplete, so that a stream
// opened before the set was cleared cannot call through a null operation.
ModuleStream* OpenModuleStream(const char* name) {
    if (!FileCallbacksInstalled()) return nullptr;
    auto* stream = static_cast<ModuleStream*>(std::calloc(1, sizeof(ModuleStream)));
    if (!stream) return nullptr;
    stream->handle = fileCallbacks.open(name);
    if (!stream->handle) {
        std::free(stream);
        return nullptr;
    }
    return stream;
}

void CloseModuleStream(ModuleStream* stream) {
    if (!stream) return;
    if (fileCallbacks.close) fileCallbacks.close(stream->handle);
    std::free(stream);
}

int32_t StreamRead(void* buffer, int32_t count, ModuleStream* stream) {
    if (!stream || !fileCallbacks.read) return 0;
    return fileCallbacks.read(buffer, count, stream->handle);
}

int StreamSeek(ModuleStream* stream, int32_t offset, int origin) {
    if (!stream || !fileCallbacks.seek) return -1;
    return fileCallbacks.seek(stream->handle, offset, origin);
}

int32_t StreamTell(ModuleStream* stream) {
    if (!stream || !fileCallbacks.tell) return 0;
    return fileCallbacks.tell(stream->handle);
}
