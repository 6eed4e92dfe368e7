// memory_files.h: a set of file operations over byte buffers held in memory, so that tests, tools
// and fuzzers load modules without touching the disk. Not thread-safe: one test at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Makes `bytes` readable under `name` (replacing an earlier file of that name) and installs the
// memory file operations as the current set.
void InstallMemoryFile(const std::string& name, std::vector<uint8_t> bytes);
// Installs the memory file operations without adding a file.
void InstallMemoryFileCallbacks();
// Forgets every memory file. Handles still open stay valid until closed.
void ClearMemoryFiles();
// Handles opened and not yet closed; a load that forgets to close its stream shows up here.
int OpenMemoryFileCount();
// Reads, seeks and tells so far (for checks that a loader does not loop over its input).
int64_t MemoryFileCallCount();

// The five operations, for tests that install them one by one.
void* MemoryOpen(const char* name);
int MemoryClose(void* handle);
int32_t MemoryRead(void* buffer, int32_t count, void* handle);
// Origins 0 (start), 1 (current) and 2 (end). Positions past the end are allowed (reads there
// return 0); a negative position fails with -1 and leaves the position unchanged.
int MemorySeek(void* handle, int32_t offset, int origin);
int32_t MemoryTell(void* handle);
