// xm_writer.h: builds extended modules in code and serialises them to XM file bytes, for tests,
// fuzzing seeds and the song generator. Plain values in, packed and delta-coded bytes out.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "music/module.h"

namespace xmw {

// Note numbers as the file stores them: 1 is C-0, 97 is key-off.
constexpr uint8_t NOTE_KEY_OFF = 97;
// Note number of a name such as "C-4", "F#2" (octave 0-7); 0 for anything else.
uint8_t NoteNumber(const char* name);

struct Pattern {
    Pattern() = default;
    Pattern(int rows, int channels);

    int rows = 64;
    int channels = 0;
    std::vector<PatternCell> cells; // rows x channels, row-major

    // The cell of a row and channel (both from 0). A note of 255 is written as key-off (97).
    PatternCell& At(int row, int channel);
    const PatternCell& At(int row, int channel) const;

    // Escape hatches for malformed files.
    std::optional<uint32_t> rawHeaderLength;           // default 9 (8 in format 1.02)
    std::optional<uint16_t> rawPackedSize;             // default: the size of the packed cells
    std::optional<std::vector<uint8_t>> rawPackedData; // written in place of the packed cells
};

enum class Loop : uint8_t { None, Forward, PingPong };

struct Sample {
    std::string name;
    bool sixteenBit = false;
    // Plain values: -128..127 for 8-bit samples, -32768..32767 for 16-bit ones. The writer
    // delta-codes them.
    std::vector<int32_t> values;
    Loop loop = Loop::None;
    uint32_t loopStart = 0;  // frames
    uint32_t loopLength = 0; // frames
    uint8_t volume = 64;
    int8_t finetune = 0;
    uint8_t panning = 128;
    int8_t relativeNote = 0;
    // Stores an 8-bit sample with the 4-bit packing (reserved byte 0xAD): the table of deltas,
    // then one nibble per frame, low nibble first. Each frame takes the table entry that brings
    // the running value closest to the wanted one, so values whose steps are all in the table
    // come back exactly.
    bool packed4Bit = false;
    std::array<int8_t, 16> deltaTable{0,    1,   2,   4,   8,  16, 32, 64,
                                      -128, -64, -32, -16, -8, -4, -2, -1};

    // Escape hatches: raw header fields in bytes and raw data bytes (written in place of the
    // delta-coded values, whatever the header says).
    std::optional<uint32_t> rawLengthBytes;
    std::optional<uint32_t> rawLoopStartBytes;
    std::optional<uint32_t> rawLoopLengthBytes;
    std::optional<uint8_t> rawType;
    std::optional<uint8_t> rawReserved; // default 0 (0xAD when packed4Bit)
    std::optional<std::vector<uint8_t>> rawData;
};

struct Envelope {
    std::vector<std::pair<uint16_t, uint16_t>> points; // (tick, value), at most 12 written
    uint8_t sustain = 0;
    uint8_t loopStart = 0;
    uint8_t loopEnd = 0;
    uint8_t flags = 0;                    // ENVELOPE_ON | ENVELOPE_SUSTAIN | ENVELOPE_LOOP
    std::optional<uint8_t> rawPointCount; // default: points.size()
};

struct Instrument {
    std::string name;
    std::array<uint8_t, 96> sampleMap{}; // sample index (from 0) for notes 1-96
    Envelope volumeEnvelope;
    Envelope panningEnvelope;
    uint8_t vibratoType = 0;
    uint8_t vibratoSweep = 0;
    uint8_t vibratoDepth = 0;
    uint8_t vibratoRate = 0;
    uint16_t fadeout = 0; // as stored in the file
    std::vector<Sample> samples;

    // Escape hatches.
    std::optional<uint32_t> rawHeaderSize;  // default 263 with samples, 29 without
    std::optional<uint16_t> rawSampleCount; // default samples.size()
};

struct Song {
    std::string name = "untitled";
    std::string trackerName = "xm_writer";
    // 0x0102 and 0x0103 are written in the early layout (every instrument and sample header,
    // then the patterns, then all sample data; 1.02 with 8-byte pattern headers holding rows - 1
    // in one byte); any other version in the 1.04 layout.
    uint16_t version = 0x0104;
    uint16_t channels = 4;
    uint16_t restartPosition = 0;
    uint16_t flags = MODULE_LINEAR_FREQUENCIES;
    uint16_t speed = 6;
    uint16_t bpm = 125;
    std::vector<uint8_t> orders; // song length = orders.size() unless overridden
    std::vector<Pattern> patterns;
    std::vector<Instrument> instruments;

    // A pattern sized for this song's channel count.
    Pattern MakePattern(int rows = 64) const { return Pattern(rows, channels); }

    // Escape hatches.
    std::optional<uint32_t> rawHeaderSize; // default 276 (20 + 256 order bytes)
    std::optional<uint16_t> rawSongLength;
    std::optional<uint16_t> rawPatternCount; // patterns written stay those in `patterns`
    std::optional<uint16_t> rawInstrumentCount;
    std::optional<size_t> truncateTo; // cut the finished file to this many bytes
    std::vector<uint8_t> trailer;     // bytes after the last sample's data (a tracker's chunks)
};

// The bytes of one packed pattern cell, with the format's packing: all five fields present are
// written plain (5 bytes), otherwise a mask byte and only the non-zero fields.
std::vector<uint8_t> PackCell(const PatternCell& cell);
// The whole file.
std::vector<uint8_t> WriteXm(const Song& song);
// Writes the file to disk; false when it cannot be written.
bool SaveXm(const Song& song, const std::string& path);

// A small valid song: one instrument with one 8-bit forward-looping sample, one pattern of
// `rows` rows and one note on channel 0. A starting point for tests that change one thing.
Song MinimalSong(int rows = 64);

} // namespace xmw
