// dib_loader.h: reads a Windows bitmap (with or without its 14-byte file header) into a 24-bit
// bottom-up RGB picture ready for a GL_RGB texture upload. Any thread; not reentrant (one state).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

// Owned by the caller, who frees `pixels` and then the record with the standard free.
struct RgbImage {
    int32_t width;
    int32_t height;  // rows; always positive (top-down files are turned the right way up)
    uint8_t* pixels; // height rows of width * 3 bytes (red, green, blue), bottom row first
};

// How the loader tells the user about a failure; replaceable so tests can count the boxes and
// read their texts. Null means platform::ShowMessageBox.
using DibMessageFunction = int (*)(const char* text, const char* caption,
                                   platform::MessageButtons buttons, platform::MessageIcon icon);

struct DibLoaderState {
    DibMessageFunction showMessage = nullptr;
    // Largest result accepted, in bytes; 0 means the default of 64 MiB (a 4096 x 4096 picture
    // fits). Larger pictures are refused as "Out of memory." before anything is allocated.
    size_t maxResultBytes = 0;
};
extern DibLoaderState dibLoader;

// Colour-table entries of the bitmap header at `header` (12- or 40-byte header, whole).
uint16_t CountDibColors(const uint8_t* header);

// None when `path` is null or fopen cannot open it (silently); otherwise ReadDibFile's result.
RgbImage* LoadBitmapImage(const char* path);
// Maps the file and converts it; every failure shows exactly one message box and gives none.
RgbImage* ReadDibFile(const char* path);

// The conversion on bytes in memory (a whole file or a bare header with its pixels). On failure
// returns none and sets *failure to the text the user would be shown; shows nothing itself.
RgbImage* DecodeDib(const uint8_t* data, size_t size, const char** failure);

// Frees pixels and record; null is fine.
void FreeRgbImage(RgbImage* image);

// The texts of the failures.
inline constexpr const char* kDibOpenFailed = "Failed to open DIB file %s.\n";
inline constexpr const char* kDibUnknownFormat = "Unknown DIB file format.";
inline constexpr const char* kDibOutOfMemory = "Out of memory.";
inline constexpr const char* kDibConversionError = "Image file conversion error.";
