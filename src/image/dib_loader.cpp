// dib_loader.cpp: Windows bitmap files to 24-bit bottom-up RGB, converted here rather than by
// the system. Any thread; the only state is the message function and the size cap.
//
// Sources: 1, 4, 8 bits per pixel through the colour table, 16 and 32 bits (5-5-5 / x-8-8-8 or
// explicit bit-field masks), 24 bits, RLE8 and RLE4; bottom-up or top-down. Everything is
// bounds-checked against the mapped file before a byte is read.
#include "image/dib_loader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

DibLoaderState dibLoader;

namespace {

constexpr uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3;

// Pictures whose result would exceed the cap are refused: an RLE stream can claim sizes that
// the file's own length does not bound, and the show's texture is small.
constexpr uint64_t kDefaultMaxResultBytes = 64ull << 20;

uint16_t Read16(const uint8_t* p) {
    return uint16_t(p[0] | p[1] << 8);
}
uint32_t Read32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

struct Rgb {
    uint8_t r, g, b;
};

// Everything the conversion needs, read from the headers.
struct DibSource {
    uint32_t width = 0;
    uint32_t rows = 0;    // |height|
    bool topDown = false; // negative height in an info header
    uint16_t bits = 0;
    uint32_t compression = kRgb;
    uint32_t imageSize = 0;
    Rgb palette[256] = {}; // indices past the table's end read as black
    uint32_t masks[3] = {};
    const uint8_t* pixels = nullptr;
    size_t pixelBytes = 0; // from the pixel data to the end of the file
};

// Shift and width of a contiguous colour mask, for scaling a field to 8 bits.
struct MaskField {
    int shift = 0;
    int width = 0;
};

MaskField DescribeMask(uint32_t mask) {
    MaskField f;
    if (mask == 0) return f;
    while (!(mask & 1)) mask >>= 1, ++f.shift;
    while (mask & 1) mask >>= 1, ++f.width;
    return f;
}

uint8_t ExtractChannel(uint32_t value, MaskField f) {
    if (f.width == 0) return 0;
    uint32_t v = (value >> f.shift) & ((f.width >= 32) ? 0xFFFFFFFFu : ((1u << f.width) - 1));
    if (f.width >= 8) return uint8_t(v >> (f.width - 8));
    // Replicate the high bits so that a full field gives 255.
    uint32_t out = 0;
    int filled = 0;
    while (filled < 8) {
        out = (out << f.width) | v;
        filled += f.width;
    }
    return uint8_t(out >> (filled - 8));
}

// Reads headers and colour table; returns null on success or the failure text.
const char* ParseDib(const uint8_t* data, size_t size, DibSource* src) {
    size_t headerAt = 0;
    bool fileHeader = size >= 2 && data[0] == 'B' && data[1] == 'M';
    uint32_t pixelOffset = 0;
    if (fileHeader) {
        if (size < 18) return kDibUnknownFormat;
        pixelOffset = Read32(data + 10);
        headerAt = 14;
    }
    // A file too short for its own header is no bitmap we know.
    if (size < headerAt + 4) return kDibUnknownFormat;
    const uint8_t* header = data + headerAt;
    uint32_t headerSize = Read32(header);
    if (headerSize != 12 && headerSize != 40) return kDibUnknownFormat;
    if (size - headerAt < headerSize) return kDibUnknownFormat;

    int64_t height;
    if (headerSize == 12) {
        src->width = Read16(header + 4);
        height = Read16(header + 6);
        src->bits = Read16(header + 10);
    } else {
        int32_t width = int32_t(Read32(header + 4));
        height = int32_t(Read32(header + 8));
        src->bits = Read16(header + 14);
        src->compression = Read32(header + 16);
        src->imageSize = Read32(header + 20);
        if (width < 0) return kDibConversionError;
        src->width = uint32_t(width);
    }
    src->topDown = height < 0;
    src->rows = uint32_t(height < 0 ? -height : height);

    uint32_t entries = CountDibColors(header);
    size_t entrySize = headerSize == 12 ? 3 : 4;
    size_t tableAt = headerAt + headerSize;
    // Bit-field masks sit between the info header and any colour table.
    if (headerSize == 40 && src->compression == kBitFields) {
        if (size - tableAt < 12) return kDibConversionError;
        for (int i = 0; i < 3; ++i) src->masks[i] = Read32(data + tableAt + 4 * i);
        tableAt += 12;
    }
    uint64_t tableBytes = uint64_t(entries) * entrySize;
    if (size - tableAt < tableBytes) return kDibConversionError;
    for (uint32_t i = 0; i < entries && i < 256; ++i) {
        const uint8_t* e = data + tableAt + i * entrySize;
        src->palette[i] = Rgb{e[2], e[1], e[0]};
    }

    size_t pixelAt = fileHeader ? pixelOffset : size_t(tableAt + tableBytes);
    if (pixelAt > size) return kDibConversionError;
    src->pixels = data + pixelAt;
    src->pixelBytes = size - pixelAt;
    return nullptr;
}

// Checks the combination of depth and compression and that every row is present.
const char* CheckSource(const DibSource& src) {
    // The system's converter reports no rows for an empty picture; so do we.
    if (src.width == 0 || src.rows == 0) return kDibConversionError;
    const uint64_t cap =
        dibLoader.maxResultBytes ? dibLoader.maxResultBytes : kDefaultMaxResultBytes;
    if (uint64_t(src.width) * src.rows * 3 > cap) return kDibOutOfMemory;
    switch (src.compression) {
    case kRgb:
        if (src.bits != 1 && src.bits != 4 && src.bits != 8 && src.bits != 16 && src.bits != 24 &&
            src.bits != 32)
            return kDibConversionError;
        break;
    case kRle8:
    case kRle4:
        if (src.bits != (src.compression == kRle8 ? 8 : 4) || src.topDown)
            return kDibConversionError;
        // A stated stream length longer than the file means the file was cut short.
        if (src.imageSize > src.pixelBytes) return kDibConversionError;
        return nullptr;
    case kBitFields:
        if (src.bits != 16 && src.bits != 32) return kDibConversionError;
        break;
    default: return kDibConversionError;
    }
    uint64_t rowBytes = (uint64_t(src.bits) * src.width + 31) / 32 * 4;
    if (rowBytes * src.rows > src.pixelBytes) return kDibConversionError;
    return nullptr;
}

void ConvertUncompressed(const DibSource& src, uint8_t* out) {
    size_t rowBytes = size_t((uint64_t(src.bits) * src.width + 31) / 32 * 4);
    MaskField fields[3];
    if (src.bits == 16 || src.bits == 32) {
        uint32_t masks[3] = {src.masks[0], src.masks[1], src.masks[2]};
        if (src.compression != kBitFields) {
            if (src.bits == 16)
                masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
            else
                masks[0] = 0xFF0000, masks[1] = 0x00FF00, masks[2] = 0x0000FF;
        }
        for (int i = 0; i < 3; ++i) fields[i] = DescribeMask(masks[i]);
    }
    for (uint32_t r = 0; r < src.rows; ++r) {
        const uint8_t* in = src.pixels + size_t(r) * rowBytes;
        uint32_t outRow = src.topDown ? src.rows - 1 - r : r;
        uint8_t* o = out + size_t(outRow) * src.width * 3;
        for (uint32_t x = 0; x < src.width; ++x, o += 3) {
            switch (src.bits) {
            case 1:
            case 4:
            case 8: {
                uint32_t bitPos = x * src.bits;
                unsigned byte = in[bitPos / 8];
                unsigned index = (byte >> (8 - src.bits - bitPos % 8)) & ((1u << src.bits) - 1);
                const Rgb& c = src.palette[index];
                o[0] = c.r, o[1] = c.g, o[2] = c.b;
                break;
            }
            case 24: o[0] = in[3 * x + 2], o[1] = in[3 * x + 1], o[2] = in[3 * x]; break;
            default: {
                uint32_t v = src.bits == 16 ? Read16(in + 2 * x) : Read32(in + 4 * x);
                o[0] = ExtractChannel(v, fields[0]);
                o[1] = ExtractChannel(v, fields[1]);
                o[2] = ExtractChannel(v, fields[2]);
            }
            }
        }
    }
}

// Run-length streams, bottom row first. Pixels the stream skips or never reaches stay black;
// runs past the right edge are cut; the stream ends at its end code or the end of the file.
void ConvertRle(const DibSource& src, uint8_t* out) {
    const bool four = src.compression == kRle4;
    const uint8_t* p = src.pixels;
    const uint8_t* end = src.pixels + src.pixelBytes;
    uint32_t x = 0, y = 0;
    auto put = [&](unsigned index) {
        if (x < src.width && y < src.rows) {
            uint8_t* o = out + (size_t(y) * src.width + x) * 3;
            const Rgb& c = src.palette[index];
            o[0] = c.r, o[1] = c.g, o[2] = c.b;
        }
        ++x;
    };
    while (end - p >= 2 && y < src.rows) {
        unsigned count = p[0], value = p[1];
        p += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count; ++i)
                put(four ? ((i & 1) ? value & 15 : value >> 4) : value);
            continue;
        }
        if (value == 0) { // end of line
            x = 0, ++y;
        } else if (value == 1) { // end of picture
            break;
        } else if (value == 2) { // move right and up
            if (end - p < 2) break;
            x += p[0], y += p[1];
            p += 2;
        } else { // `value` literal pixels, padded to a 16-bit boundary
            size_t bytes = four ? (value + 1) / 2 : value;
            size_t padded = (bytes + 1) & ~size_t(1);
            if (size_t(end - p) < bytes) break;
            for (unsigned i = 0; i < value; ++i)
                put(four ? ((i & 1) ? p[i / 2] & 15 : p[i / 2] >> 4) : p[i]);
            p += size_t(end - p) < padded ? size_t(end - p) : padded;
        }
    }
}

int ShowDibMessage(const char* text) {
    DibMessageFunction show =
        dibLoader.showMessage ? dibLoader.showMessage : &platform::ShowMessageBox;
    return show(text, "Error", platform::MessageButtons::Ok, platform::MessageIcon::None);
}

} // namespace

uint16_t CountDibColors(const uint8_t* header) {
    uint32_t headerSize = Read32(header);
    if (headerSize == 40) {
        uint32_t used = Read32(header + 32);
        if (used != 0) return uint16_t(used);
    }
    uint16_t bits = headerSize == 12 ? Read16(header + 10) : Read16(header + 14);
    switch (bits) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
    }
}

RgbImage* DecodeDib(const uint8_t* data, size_t size, const char** failure) {
    DibSource src;
    const char* error = data ? ParseDib(data, size, &src) : kDibUnknownFormat;
    if (!error) error = CheckSource(src);
    if (error) {
        if (failure) *failure = error;
        return nullptr;
    }
    size_t bytes = size_t(src.width) * src.rows * 3;
    auto* pixels = static_cast<uint8_t*>(std::calloc(bytes, 1));
    auto* image = static_cast<RgbImage*>(std::malloc(sizeof(RgbImage)));
    if (!pixels || !image) {
        std::free(pixels);
        std::free(image);
        if (failure) *failure = kDibOutOfMemory;
        return nullptr;
    }
    if (src.compression == kRle8 || src.compression == kRle4)
        ConvertRle(src, pixels);
    else
        ConvertUncompressed(src, pixels);
    image->width = int32_t(src.width);
    image->height = int32_t(src.rows);
    image->pixels = pixels;
    return image;
}

RgbImage* ReadDibFile(const char* path) {
    platform::MappedFile file;
    if (!path || !platform::MapFileReadOnly(path, &file)) {
        // Sized from the path, so a path of any length fits.
        const char* format = kDibOpenFailed;
        const char* slot = std::strstr(format, "%s");
        std::string text(format, size_t(slot - format));
        text += path ? path : "(null)";
        text += slot + 2;
        ShowDibMessage(text.c_str());
        return nullptr;
    }
    const char* failure = nullptr;
    RgbImage* image = DecodeDib(file.data, file.size, &failure);
    platform::UnmapFile(&file);
    if (!image) ShowDibMessage(failure);
    return image;
}

RgbImage* LoadBitmapImage(const char* path) {
    if (!path) return nullptr;
    std::FILE* probe = std::fopen(path, "r");
    if (!probe) return nullptr;
    std::fclose(probe);
    return ReadDibFile(path);
}

void FreeRgbImage(RgbImage* image) {
    if (!image) return;
    std::free(image->pixels);
    std::free(image);
}
