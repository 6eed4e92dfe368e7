// memory_files.h: named files held in memory and a set of file operations over them, so that
// tests, benchmarks and fuzzers load modules through LoadModule without touching the disk. Each
// set is an object of its own, handed to the operations as their context: nothing is shared
// between sets. One set on one thread at a time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "music/file_access.h"
#include "music/module.h"

class MemoryFileSet {
  public:
    MemoryFileSet();
    MemoryFileSet(const MemoryFileSet&) = delete;
    MemoryFileSet& operator=(const MemoryFileSet&) = delete;

    // Makes `bytes` readable under `name`, replacing an earlier file of that name.
    void Install(const std::string& name, std::vector<uint8_t> bytes);
    // Forgets every file. Handles still open stay valid until closed.
    void Clear();
    // Handles opened and not yet closed; a load that forgets to close its stream shows up here.
    int OpenCount() const { return openCount_; }
    // Reads, seeks and tells so far (for checks that a loader does not loop over its input).
    int64_t CallCount() const { return calls_; }

    // The five operations over this set's files, with the set as their context. Origins 0
    // (start), 1 (current) and 2 (end); positions past the end are allowed (reads there return
    // 0), a negative one fails with -1 and leaves the position unchanged.
    const FileCallbacks* Operations() const { return &operations_; }
    // Loads the file `name` of this set (see LoadModule).
    Module* Load(const std::string& name, SampleLoader loader = nullptr,
                 LoadError* error = nullptr);

  private:
    friend struct MemoryFileOperations;
    std::map<std::string, std::shared_ptr<const std::vector<uint8_t>>> files_;
    int openCount_ = 0;
    int64_t calls_ = 0;
    FileCallbacks operations_;
};

// Loads `bytes` as a module through a set of memory files of its own (so through the loader's
// open and close too). With `leftOpen`, how many handles the load left open (0 when it closed
// its stream).
Module* LoadModuleBytes(std::vector<uint8_t> bytes, SampleLoader loader = nullptr,
                        LoadError* error = nullptr, int* leftOpen = nullptr);
