// file_access.h: the five replaceable file operations through which the music player reads a
// module, and the thin module stream over them. The operations are a record the caller owns and
// hands to the loader; nothing is installed program-wide. Any thread.
#pragma once

#include <cstdint>

// Every operation is handed the set's `context` first: the caller's own state (a table of
// files in memory, an archive), so that no caller needs a global to reach it. The handle `open`
// returns is handed to the other four.
using FileOpenFn = void* (*)(void* context, const char* name);
using FileCloseFn = int (*)(void* context, void* handle);
using FileReadFn = int32_t (*)(void* context, void* buffer, int32_t count, void* handle);
using FileSeekFn = int (*)(void* context, void* handle, int32_t offset, int origin);
using FileTellFn = int32_t (*)(void* context, void* handle);

struct FileCallbacks {
    FileOpenFn open;
    FileCloseFn close;
    FileReadFn read;
    FileSeekFn seek;
    FileTellFn tell;
    void* context; // the caller's; the loader only hands it on
};

// Fills `set` with the five operations and their context; if any operation is null, the whole
// set becomes empty (an incomplete set would call through a null operation half-way through a
// load).
void SetFileCallbacks(FileCallbacks* set, FileOpenFn open, FileCloseFn close, FileReadFn read,
                      FileSeekFn seek, FileTellFn tell, void* context = nullptr);
// True when the set is given and all five operations are in it.
bool FileCallbacksComplete(const FileCallbacks* set);
// The standard-library operations (fopen "rb", fclose, fread, fseek, ftell); no context.
extern const FileCallbacks standardFileCallbacks;

struct ModuleStream {
    const FileCallbacks* files;
    void* handle;
};

// Opens `name` through a complete set of operations; null when the set is incomplete or the
// open fails.
ModuleStream* OpenModuleStream(const FileCallbacks* files, const char* name);
void CloseModuleStream(ModuleStream* stream);
int32_t StreamRead(void* buffer, int32_t count, ModuleStream* stream);
int StreamSeek(ModuleStream* stream, int32_t offset, int origin);
int32_t StreamTell(ModuleStream* stream);

// A read-only view of bytes in memory as a file: the handle the memory operations work on.
struct MemoryFile {
    const uint8_t* data;
    uint64_t size;
    uint64_t position;
};
// Operations over a MemoryFile whose address is the handle (no context); `open` is not used (a
// stream over memory is made with MemoryStream) and fails.
extern const FileCallbacks memoryFileCallbacks;
// A stream over `file`, which must outlive it. Never fails.
ModuleStream MemoryStream(MemoryFile* file);
