// file_access.h: the five replaceable file operations through which the music player reads a
// module, and the thin module stream over them. Any thread; the set is installed once at start-up.
#pragma once

#include <cstdint>

using FileOpenFn = void* (*)(const char* name);
using FileCloseFn = int (*)(void* handle);
using FileReadFn = int32_t (*)(void* buffer, int32_t count, void* handle);
using FileSeekFn = int (*)(void* handle, int32_t offset, int origin);
using FileTellFn = int32_t (*)(void* handle);

struct FileCallbacks {
    FileOpenFn open;
    FileCloseFn close;
    FileReadFn read;
    FileSeekFn seek;
    FileTellFn tell;
};

// The installed set; all null until a complete set is installed.
extern FileCallbacks fileCallbacks;

// Installs the five operations; if any is null, all five become null.
void SetFileCallbacks(FileOpenFn open, FileCloseFn close, FileReadFn read, FileSeekFn seek,
                      FileTellFn tell);
// True when all five operations are installed.
bool FileCallbacksInstalled();
// Installs the standard-library implementation (fopen "rb", fclose, fread, fseek, ftell).
void SetStandardFileCallbacks();

struct ModuleStream {
    void* handle;
};

ModuleStream* OpenModuleStream(const char* name);
void CloseModuleStream(ModuleStream* stream);
int32_t StreamRead(void* buffer, int32_t count, ModuleStream* stream);
int StreamSeek(ModuleStream* stream, int32_t offset, int origin);
int32_t StreamTell(ModuleStream* stream);
