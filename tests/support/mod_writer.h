// mod_writer.h: builds MOD files in memory for the tests and the fuzzers' seeds: a title, up to
// 31 sample headers (lengths and loops in words, as stored), the order table, a tag (or none:
// the 15-sample layout), patterns of 64 rows and the 8-bit sample data. Anything may be set to
// values a valid file would not hold.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace modw {

struct Sample {
    std::string name;
    uint16_t lengthWords = 0;
    uint8_t finetune = 0; // the stored byte (low nibble -8..7)
    uint8_t volume = 64;
    uint16_t loopStartWords = 0;
    uint16_t loopLengthWords = 1; // 1: no loop
    std::vector<int8_t> data;     // written as stored; shorter than the length leaves the rest 0
};

struct Cell {
    uint16_t period = 0; // 12 bits
    uint8_t sample = 0;  // 0-31
    uint8_t effect = 0;  // 0-15
    uint8_t parameter = 0;
};

struct Song {
    std::string title = "test";
    std::string tag = "M.K.";    // empty: the 15-sample layout
    int channels = 4;            // tracks per row in the stored patterns
    std::vector<Sample> samples; // up to 31 (15 without a tag)
    std::vector<uint8_t> orders{0};
    uint8_t songLength = 0; // 0: the order list's size
    uint8_t restart = 127;
    std::vector<std::vector<Cell>> patterns; // each 64 x channels cells, row-major (missing: 0)
    size_t truncateTo = SIZE_MAX;            // cut the file there
};

// A one-sample, one-pattern four-track song: sample 1 is 64 words of a square wave at volume 64,
// the pattern empty.
Song MinimalSong();
// Period of note `note` (0 = C-1 ... 35 = B-3) at finetune 0.
uint16_t Period(int note);
// Sets a cell of pattern `pattern` (grown as needed).
void Put(Song& song, int pattern, int row, int track, Cell cell);
std::vector<uint8_t> WriteMod(const Song& song);

} // namespace modw
