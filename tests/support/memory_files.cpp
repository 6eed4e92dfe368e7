// memory_files.cpp: named in-memory files (shared, immutable contents) and the file operations
// over a set of them.
#include "memory_files.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

struct MemoryHandle {
    std::shared_ptr<const std::vector<uint8_t>> bytes;
    int64_t position = 0;
};

} // namespace

struct MemoryFileOperations {
    static MemoryFileSet& Set(void* context) { return *static_cast<MemoryFileSet*>(context); }

    static void* Open(void* context, const char* name) {
        MemoryFileSet& set = Set(context);
        if (!name) return nullptr;
        auto it = set.files_.find(name);
        if (it == set.files_.end()) return nullptr;
        ++set.openCount_;
        return new MemoryHandle{it->second, 0};
    }

    static int Close(void* context, void* handle) {
        if (!handle) return -1;
        --Set(context).openCount_;
        delete static_cast<MemoryHandle*>(handle);
        return 0;
    }

    static int32_t Read(void* context, void* buffer, int32_t count, void* handle) {
        ++Set(context).calls_;
        auto* h = static_cast<MemoryHandle*>(handle);
        if (!h || !buffer || count <= 0) return 0;
        const int64_t size = static_cast<int64_t>(h->bytes->size());
        if (h->position >= size) return 0;
        const int64_t n = std::min<int64_t>(count, size - h->position);
        std::memcpy(buffer, h->bytes->data() + h->position, static_cast<size_t>(n));
        h->position += n;
        return static_cast<int32_t>(n);
    }

    static int Seek(void* context, void* handle, int32_t offset, int origin) {
        ++Set(context).calls_;
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

    static int32_t Tell(void* context, void* handle) {
        ++Set(context).calls_;
        auto* h = static_cast<MemoryHandle*>(handle);
        return h ? static_cast<int32_t>(h->position) : -1;
    }
};

MemoryFileSet::MemoryFileSet()
    : operations_{MemoryFileOperations::Open, MemoryFileOperations::Close,
                  MemoryFileOperations::Read, MemoryFileOperations::Seek,
                  MemoryFileOperations::Tell, this} {}

void MemoryFileSet::Install(const std::string& name, std::vector<uint8_t> bytes) {
    files_[name] = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
}

void MemoryFileSet::Clear() {
    files_.clear();
}

Module* MemoryFileSet::Load(const std::string& name, SampleLoader loader, LoadError* error) {
    return LoadModule(&operations_, name.c_str(), loader, error);
}

Module* LoadModuleBytes(std::vector<uint8_t> bytes, SampleLoader loader, LoadError* error,
                        int* leftOpen) {
    MemoryFileSet files;
    files.Install("song.xm", std::move(bytes));
    Module* module = files.Load("song.xm", loader, error);
    if (leftOpen) *leftOpen = files.OpenCount();
    return module;
}
