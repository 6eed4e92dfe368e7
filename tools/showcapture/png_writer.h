// png_writer.h: encodes 8-bit RGB pictures as PNG files (zlib-compressed, no filtering), and
// reads back the PNGs it writes (for tests).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// `rgb` holds height rows of width * 3 bytes, top row first.
std::vector<uint8_t> EncodePng(const uint8_t* rgb, int width, int height);
bool WritePng(const std::string& path, const uint8_t* rgb, int width, int height);

// Decodes an 8-bit RGB, non-interlaced PNG (any row filter) into top-down rows; checks every
// chunk's CRC. False on anything else.
bool DecodePng(const std::vector<uint8_t>& png, int* width, int* height, std::vector<uint8_t>* rgb);
