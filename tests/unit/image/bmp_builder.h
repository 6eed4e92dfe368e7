// bmp_builder.h: writes small bitmap files in memory, for the loader tests and the fuzzer's
// seeds.
#pragma once

#include <cstdint>
#include <vector>

struct BmpLayout {
    uint32_t headerSize = 40; // 12, 40, or anything else to provoke a refusal
    int32_t width = 1;
    int32_t height = 1;
    uint16_t bits = 24;
    uint32_t compression = 0;
    uint32_t imageSize = 0;
    uint32_t coloursUsed = 0;
    bool fileHeader = true;
    std::vector<uint8_t> masks;  // bit-field masks, written right after the header
    std::vector<uint8_t> table;  // colour table bytes as they go into the file
    std::vector<uint8_t> pixels; // pixel data as it goes into the file
};

inline void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

inline std::vector<uint8_t> BuildBmp(const BmpLayout& s) {
    std::vector<uint8_t> out;
    const uint32_t headerBytes = s.headerSize == 12 ? 12 : (s.headerSize < 40 ? 40 : s.headerSize);
    const uint32_t pixelOffset =
        (s.fileHeader ? 14 : 0) + headerBytes + uint32_t(s.masks.size() + s.table.size());
    if (s.fileHeader) {
        out.push_back('B');
        out.push_back('M');
        Put32(out, pixelOffset + uint32_t(s.pixels.size()));
        Put32(out, 0);
        Put32(out, pixelOffset);
    }
    Put32(out, s.headerSize);
    if (s.headerSize == 12) {
        Put16(out, uint32_t(s.width));
        Put16(out, uint32_t(s.height));
        Put16(out, 1);
        Put16(out, s.bits);
    } else {
        Put32(out, uint32_t(s.width));
        Put32(out, uint32_t(s.height));
        Put16(out, 1);
        Put16(out, s.bits);
        Put32(out, s.compression);
        Put32(out, s.imageSize);
        Put32(out, 2835);
        Put32(out, 2835);
        Put32(out, s.coloursUsed);
        Put32(out, 0);
        while (out.size() < (s.fileHeader ? 14u : 0u) + headerBytes) out.push_back(0);
    }
    out.insert(out.end(), s.masks.begin(), s.masks.end());
    out.insert(out.end(), s.table.begin(), s.table.end());
    out.insert(out.end(), s.pixels.begin(), s.pixels.end());
    return out;
}

// Colour table of `count` entries, entry i = (blue i, green 2i, red 3i) (plus a reserved 0).
inline std::vector<uint8_t> RampTable(int count, int entryBytes) {
    std::vector<uint8_t> t;
    for (int i = 0; i < count; ++i) {
        t.push_back(uint8_t(i));
        t.push_back(uint8_t(2 * i));
        t.push_back(uint8_t(3 * i));
        if (entryBytes == 4) t.push_back(0);
    }
    return t;
}
