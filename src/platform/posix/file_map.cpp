// file_map.cpp: read-only mapping of a whole file (mmap). Any thread.
#include "platform/platform.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool MapFileReadOnly(const char* path, MappedFile* out) {
    if (!path || !out) return false;
    *out = MappedFile{};
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    // Only regular, non-empty files: mmap of a zero length fails, and a pipe or device has no
    // size to map.
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) {
        close(fd);
        return false;
    }
    size_t size = static_cast<size_t>(st.st_size);
    void* data = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd); // the mapping keeps the file alive
    if (data == MAP_FAILED) return false;
    out->data = static_cast<const uint8_t*>(data);
    out->size = size;
    out->handle = data;
    return true;
}

void UnmapFile(MappedFile* file) {
    if (!file) return;
    if (file->handle) munmap(file->handle, file->size);
    *file = MappedFile{};
}

} // namespace platform
