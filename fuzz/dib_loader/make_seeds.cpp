// make_seeds.cpp: dib_fuzz_seeds DIR writes one small bitmap of every kind the loader accepts
// (each depth, core and info headers, bare and with file header, top-down, bit fields, RLE) as
// a starting corpus for the fuzzer.
#include <cstdio>
#include <string>

#include "bmp_builder.h"

namespace {

bool Write(const std::string& dir, const char* name, const BmpLayout& layout) {
    const std::vector<uint8_t> bytes = BuildBmp(layout);
    const std::string path = dir + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

BmpLayout Indexed(uint16_t bits, int width, int height) {
    BmpLayout s;
    s.bits = bits;
    s.width = width;
    s.height = height;
    s.table = RampTable(1 << bits, 4);
    const int rowBytes = (bits * width + 31) / 32 * 4;
    for (int i = 0; i < rowBytes * height; ++i) s.pixels.push_back(uint8_t(i * 37));
    return s;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: dib_fuzz_seeds DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    bool ok = true;
    ok &= Write(dir, "1bit.bmp", Indexed(1, 9, 3));
    ok &= Write(dir, "4bit.bmp", Indexed(4, 5, 2));
    ok &= Write(dir, "8bit.bmp", Indexed(8, 3, 3));
    BmpLayout bare = Indexed(8, 4, 2);
    bare.fileHeader = false;
    bare.coloursUsed = 16;
    bare.table.resize(16 * 4);
    ok &= Write(dir, "8bit-bare.bmp", bare);
    BmpLayout core;
    core.headerSize = 12;
    core.bits = 8;
    core.width = 2;
    core.table = RampTable(256, 3);
    core.pixels = {1, 2, 0, 0};
    ok &= Write(dir, "core.bmp", core);
    BmpLayout rgb;
    rgb.width = 3;
    rgb.height = -2;
    rgb.pixels.assign(24, 0x5A);
    ok &= Write(dir, "24bit-top-down.bmp", rgb);
    BmpLayout fields;
    fields.bits = 16;
    fields.compression = 3;
    fields.width = 2;
    fields.masks = {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
    fields.pixels = {0xE0, 0x07, 0x1F, 0x00};
    ok &= Write(dir, "16bit-fields.bmp", fields);
    BmpLayout x32;
    x32.bits = 32;
    x32.pixels = {1, 2, 3, 4};
    ok &= Write(dir, "32bit.bmp", x32);
    BmpLayout rle8 = Indexed(8, 4, 3);
    rle8.compression = 1;
    rle8.pixels = {6, 5, 0, 0, 0, 2, 1, 0, 0, 3, 7, 8, 9, 0, 0, 1};
    ok &= Write(dir, "rle8.bmp", rle8);
    BmpLayout rle4 = Indexed(4, 6, 1);
    rle4.compression = 2;
    rle4.pixels = {3, 0x12, 0, 3, 0x45, 0x60, 0, 1};
    ok &= Write(dir, "rle4.bmp", rle4);
    if (!ok) std::fprintf(stderr, "dib_fuzz_seeds: cannot write into %s\n", dir.c_str());
    return ok ? 0 : 1;
}
