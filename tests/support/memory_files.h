// memory_files.h: named files held in memory and a set of file operations over them, so that
// tests, benchmarks and fuzzers load modules through LoadModule without touching the disk. Not
// thread-safe: one test at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "music/file_access.h"
#include "music/module.h"

// Makes `bytes` readable under `name` through MemoryFiles(), replacing an earlier file of that
// name. Nothing is installed program-wide: loads name the set themselves.
void InstallMemoryFile(const std::string& name, std::vector<uint8_t> bytes);
// Forgets every memory file. Handles still open stay valid until closed.
void ClearMemoryFiles();
// Handles opened and not yet closed; a load that forgets to close its stream shows up here.
int OpenMemoryFileCount();
// Reads, seeks and tells so far (for checks that a loader does not loop over its input).
int64_t MemoryFileCallCount();

// The five operations over the memory files, as one set to hand to LoadModule.
const FileCallbacks* MemoryFiles();
// Loads the memory file `name` (see LoadModule).
Module* LoadMemoryModule(const std::string& name, SampleLoader loader = nullptr,
                         LoadError* error = nullptr);

// The five operations, for tests that assemble a set one by one.
void* MemoryOpen(const char* name);
int MemoryClose(void* handle);
int32_t MemoryRead(void* buffer, int32_t count, void* handle);
// Origins 0 (start), 1 (current) and 2 (end). Positions past the end are allowed (reads there
// return 0); a negative position fails with -1 and leaves the position unchanged.
int MemorySeek(void* handle, int32_t offset, int origin);
int32_t MemoryTell(void* handle);
