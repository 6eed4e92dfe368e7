// memory_files.cpp: named in-memory files (shared, immutable contents) and the file operations
// over them.
#include "memory_files.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <memory>

namespace {

struct MemoryHandle {
    std::shared_ptr<const std::vector<uint8_t>> bytes;
    int64_t position = 0;
};

struct MemoryFileTable {
    std::map<std::string, std::shared_ptr<const std::vector<uint8_t>>> files;
    int openCount = 0;
    int64_t calls = 0;
};

MemoryFileTable& Files() {
    static MemoryFileTable files;
    return files;
}

} // namespace

void* MemoryOpen(const char* name) {
    if (!name) return nullptr;
    auto it = Files().files.find(name);
    if (it == Files().files.end()) return nullptr;
    ++Files().openCount;
    return new MemoryHandle{it->second, 0};
}

int MemoryClose(void* handle) {
    if (!handle) return -1;
    --Files().openCount;
    delete static_cast<MemoryHandle*>(handle);
    return 0;
}

int32_t MemoryRead(void* buffer, int32_t count, void* handle) {
    ++Files().calls;
    auto* h = static_cast<MemoryHandle*>(handle);
    if (!h || !buffer || count <= 0) return 0;
    const int64_t size = static_cast<int64_t>(h->bytes->size());
    if (h->position >= size) return 0;
    const int64_t n = std::min<int64_t>(count, size - h->position);
    std::memcpy(buffer, h->bytes->data() + h->position, static_cast<size_t>(n));
    h->position += n;
    return static_cast<int32_t>(n);
}

int MemorySeek(void* handle, int32_t offset, int origin) {
    ++Files().calls;
    auto* h = static_cast<MemoryHandle*>(handle);
    if (!h) return -1;
    int64_t base = 0;
    if (origin == 1)
        base = h->position;
    else if (origin == 2)
        base = static_cast<int64_t>(h->bytes->size());
    else if (origin != 0)
        return -1;
    const int64_t target = base + offset;
    if (target < 0 || target > INT32_MAX) return -1;
    h->position = target;
    return 0;
}

int32_t MemoryTell(void* handle) {
    ++Files().calls;
    auto* h = static_cast<MemoryHandle*>(handle);
    return h ? static_cast<int32_t>(h->position) : -1;
}

void InstallMemoryFile(const std::string& name, std::vector<uint8_t> bytes) {
    Files().files[name] = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
}

void ClearMemoryFiles() {
    Files().files.clear();
}

int OpenMemoryFileCount() {
    return Files().openCount;
}

int64_t MemoryFileCallCount() {
    return Files().calls;
}

const FileCallbacks* MemoryFiles() {
    static const FileCallbacks operations = {MemoryOpen, MemoryClose, MemoryRead, MemorySeek,
                                             MemoryTell};
    return &operations;
}

Module* LoadMemoryModule(const std::string& name, SampleLoader loader, LoadError* error) {
    return LoadModule(MemoryFiles(), name.c_str(), loader, error);
}
