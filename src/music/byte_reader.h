// byte_reader.h: the one bounds-checked reader every module loader reads its file through: a
// read-ahead window over a module stream, little-endian words for XM, big-endian ones for MOD,
// fixed-size text fields, and questions about the bytes the file still holds. Any thread; one
// reader belongs to one load.
//
// Every read either delivers all the bytes asked for or fails (false), so a loader never
// decodes a field the file does not hold. Positions are absolute file offsets; they are handed
// to the stream as 32-bit values, so nothing past 2 GB can be reached. Seeking only sets the
// position: a position beyond the end is allowed, and the next read there fails.
#pragma once

#include <cstdint>

struct ModuleStream;

struct ByteReader {
    ModuleStream* stream;
    // Packed pattern cells are read one byte at a time, which would otherwise cost one file
    // operation per byte.
    uint8_t window[4096];
    int64_t windowStart; // file offset of window[0]
    int32_t windowSize;  // valid bytes in the window
    int64_t position;    // offset of the next byte to read
};

// A reader at the start of `stream` with an empty window.
void StartReading(ByteReader& r, ModuleStream* stream);

// False (the position unchanged) for a negative offset or one past 2 GB.
bool SeekTo(ByteReader& r, int64_t offset);
bool Skip(ByteReader& r, int64_t count);

// Reads exactly `count` bytes; false (with the destination partly written) when the file ends
// first.
bool ReadBytes(ByteReader& r, void* destination, int64_t count);
bool U8(ByteReader& r, uint8_t& v);
bool S8(ByteReader& r, int8_t& v);
bool U16(ByteReader& r, uint16_t& v); // little-endian
bool U32(ByteReader& r, uint32_t& v); // little-endian
bool U16BE(ByteReader& r, uint16_t& v);
bool U32BE(ByteReader& r, uint32_t& v);
// A fixed-size text field into a buffer one byte longer, terminated; bytes kept as stored.
bool Text(ByteReader& r, char* destination, int32_t size);

// True when the file holds `count` more bytes from the current position (always for 0 or less).
// Found by reading the last of them, so that only the origins every file operation set supports
// are used; the position is unchanged.
bool HasBytes(ByteReader& r, int64_t count);
// The bytes left in the file from the position, up to `most` (found by halving, about one file
// operation per bit of `most`).
int64_t BytesLeft(ByteReader& r, int64_t most);
// Reads up to `count` bytes and returns how many the file held.
int64_t ReadUpTo(ByteReader& r, uint8_t* destination, int64_t count);
