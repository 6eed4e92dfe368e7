// png_writer.cpp: a small PNG encoder and decoder over zlib; output is deterministic (fixed
// compression level, no timestamps).
#include "png_writer.h"

#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr uint8_t kSignature[8] = {137, 'P', 'N', 'G', 13, 10, 26, 10};

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

uint32_t Read32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size) {
    Put32(out, uint32_t(size));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    if (size) out.insert(out.end(), data, data + size);
    Put32(out, uint32_t(crc32(0, out.data() + start, uInt(out.size() - start))));
}

int Paeth(int a, int b, int c) {
    int p = a + b - c;
    int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

} // namespace

std::vector<uint8_t> EncodePng(const uint8_t* rgb, int width, int height) {
    const size_t rowBytes = size_t(width) * 3;
    std::vector<uint8_t> raw;
    raw.reserve((rowBytes + 1) * size_t(height));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0); // filter: none
        raw.insert(raw.end(), rgb + y * rowBytes, rgb + (y + 1) * rowBytes);
    }
    uLongf packedSize = compressBound(uLong(raw.size()));
    std::vector<uint8_t> packed(packedSize);
    compress2(packed.data(), &packedSize, raw.data(), uLong(raw.size()), 6);
    packed.resize(packedSize);

    std::vector<uint8_t> out(kSignature, kSignature + 8);
    std::vector<uint8_t> header;
    Put32(header, uint32_t(width));
    Put32(header, uint32_t(height));
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8-bit RGB, deflate, no filter set, no interlace
    PutChunk(out, "IHDR", header.data(), header.size());
    PutChunk(out, "IDAT", packed.data(), packed.size());
    PutChunk(out, "IEND", nullptr, 0);
    return out;
}

bool WritePng(const std::string& path, const uint8_t* rgb, int width, int height) {
    std::vector<uint8_t> png = EncodePng(rgb, width, height);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool written = std::fwrite(png.data(), 1, png.size(), f) == png.size();
    return std::fclose(f) == 0 && written;
}

bool DecodePng(const std::vector<uint8_t>& png, int* width, int* height,
               std::vector<uint8_t>* rgb) {
    if (png.size() < 8 || std::memcmp(png.data(), kSignature, 8) != 0) return false;
    std::vector<uint8_t> packed;
    int w = 0, h = 0;
    bool ended = false;
    for (size_t at = 8; !ended;) {
        if (png.size() - at < 12) return false;
        const uint32_t size = Read32(&png[at]);
        if (png.size() - at - 12 < size) return false;
        const uint8_t* type = &png[at + 4];
        const uint8_t* data = type + 4;
        if (uint32_t(crc32(0, type, size + 4)) != Read32(data + size)) return false;
        if (!std::memcmp(type, "IHDR", 4)) {
            if (size != 13 || data[8] != 8 || data[9] != 2 || data[12] != 0) return false;
            w = int(Read32(data));
            h = int(Read32(data + 4));
            if (w <= 0 || h <= 0 || w > 1 << 14 || h > 1 << 14) return false;
        } else if (!std::memcmp(type, "IDAT", 4)) {
            packed.insert(packed.end(), data, data + size);
        } else if (!std::memcmp(type, "IEND", 4)) {
            ended = true;
        }
        at += 12 + size;
    }
    if (w == 0) return false;
    const size_t rowBytes = size_t(w) * 3;
    std::vector<uint8_t> raw((rowBytes + 1) * size_t(h));
    uLongf rawSize = uLongf(raw.size());
    if (uncompress(raw.data(), &rawSize, packed.data(), uLong(packed.size())) != Z_OK ||
        rawSize != raw.size())
        return false;
    rgb->assign(rowBytes * size_t(h), 0);
    for (int y = 0; y < h; ++y) {
        const uint8_t filter = raw[y * (rowBytes + 1)];
        const uint8_t* in = &raw[y * (rowBytes + 1) + 1];
        uint8_t* out = rgb->data() + y * rowBytes;
        const uint8_t* up = y > 0 ? out - rowBytes : nullptr;
        for (size_t i = 0; i < rowBytes; ++i) {
            int a = i >= 3 ? out[i - 3] : 0, b = up ? up[i] : 0, c = (up && i >= 3) ? up[i - 3] : 0;
            int v;
            switch (filter) {
            case 0: v = in[i]; break;
            case 1: v = in[i] + a; break;
            case 2: v = in[i] + b; break;
            case 3: v = in[i] + (a + b) / 2; break;
            case 4: v = in[i] + Paeth(a, b, c); break;
            default: return false;
            }
            out[i] = uint8_t(v);
        }
    }
    *width = w;
    *height = h;
    return true;
}
