// byte_reader.cpp: the loaders' bounds-checked reader over a module stream. Any thread.
#include "music/byte_reader.h"

#include <algorithm>
#include <cstring>

#include "music/file_access.h"

void StartReading(ByteReader& r, ModuleStream* stream) {
    r.stream = stream;
    r.windowStart = 0;
    r.windowSize = 0;
    r.position = 0;
}

bool SeekTo(ByteReader& r, int64_t offset) {
    if (offset < 0 || offset > INT32_MAX) return false;
    r.position = offset;
    return true;
}

bool Skip(ByteReader& r, int64_t count) {
    return SeekTo(r, r.position + count);
}

namespace {

// Refills the window at the position; false at the end of the file or on a failing seek.
bool Refill(ByteReader& r) {
    if (StreamSeek(r.stream, static_cast<int32_t>(r.position), 0) != 0) return false;
    const int32_t got = StreamRead(r.window, sizeof r.window, r.stream);
    r.windowStart = r.position;
    r.windowSize = got > 0 ? std::min<int32_t>(got, sizeof r.window) : 0;
    return r.windowSize > 0;
}

} // namespace

bool ReadBytes(ByteReader& r, void* destination, int64_t count) {
    auto* out = static_cast<uint8_t*>(destination);
    while (count > 0) {
        const int64_t offset = r.position - r.windowStart;
        if (offset < 0 || offset >= r.windowSize) {
            if (r.position > INT32_MAX) return false;
            // Large blocks (sample data) go straight to the destination.
            if (count >= static_cast<int64_t>(sizeof r.window)) {
                if (StreamSeek(r.stream, static_cast<int32_t>(r.position), 0) != 0) return false;
                const int32_t want = static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX));
                const int32_t got = StreamRead(out, want, r.stream);
                if (got <= 0 || got > want) return false;
                out += got;
                count -= got;
                r.position += got;
                continue;
            }
            if (!Refill(r)) return false;
            continue;
        }
        const int64_t n = std::min<int64_t>(count, r.windowSize - offset);
        std::memcpy(out, r.window + offset, static_cast<size_t>(n));
        out += n;
        count -= n;
        r.position += n;
    }
    return true;
}

bool U8(ByteReader& r, uint8_t& v) {
    return ReadBytes(r, &v, 1);
}

bool S8(ByteReader& r, int8_t& v) {
    return ReadBytes(r, &v, 1);
}

bool U16(ByteReader& r, uint16_t& v) {
    uint8_t b[2];
    if (!ReadBytes(r, b, 2)) return false;
    v = static_cast<uint16_t>(b[0] | b[1] << 8);
    return true;
}

bool U32(ByteReader& r, uint32_t& v) {
    uint8_t b[4];
    if (!ReadBytes(r, b, 4)) return false;
    v = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
        static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
    return true;
}

bool U16BE(ByteReader& r, uint16_t& v) {
    uint8_t b[2];
    if (!ReadBytes(r, b, 2)) return false;
    v = static_cast<uint16_t>(b[0] << 8 | b[1]);
    return true;
}

bool U32BE(ByteReader& r, uint32_t& v) {
    uint8_t b[4];
    if (!ReadBytes(r, b, 4)) return false;
    v = static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
        static_cast<uint32_t>(b[2]) << 8 | static_cast<uint32_t>(b[3]);
    return true;
}

bool Text(ByteReader& r, char* destination, int32_t size) {
    destination[size] = '\0';
    return ReadBytes(r, destination, size);
}

bool HasBytes(ByteReader& r, int64_t count) {
    if (count <= 0) return true;
    const int64_t last = r.position + count - 1;
    if (last > INT32_MAX) return false;
    if (last >= r.windowStart && last < r.windowStart + r.windowSize) return true;
    uint8_t byte;
    if (StreamSeek(r.stream, static_cast<int32_t>(last), 0) != 0) return false;
    return StreamRead(&byte, 1, r.stream) == 1;
}

int64_t BytesLeft(ByteReader& r, int64_t most) {
    int64_t held = 0, beyond = most + 1;
    while (beyond - held > 1) {
        const int64_t middle = held + (beyond - held) / 2;
        (HasBytes(r, middle) ? held : beyond) = middle;
    }
    return held;
}

int64_t ReadUpTo(ByteReader& r, uint8_t* destination, int64_t count) {
    if (HasBytes(r, count)) return ReadBytes(r, destination, count) ? count : 0;
    int64_t got = 0;
    while (got < count && U8(r, destination[got])) ++got;
    return got;
}
