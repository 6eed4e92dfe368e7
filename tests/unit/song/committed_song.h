// committed_song.h: the committed data/Zarq-Neat.xm as the song's checks see it, read once:
// its patterns and order list as plain records, and one rendering through the real playback
// path from playback start to the first wrap, with where the song stood after every block.
// Each is made once per test program.
// This file and committed_song.cpp are the checks' only contact with the player.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace song_check {

struct Cell {
    uint8_t note; // 1-96, 97 key-off, 0 none
    uint8_t instrument;
    uint8_t volume;
    uint8_t effect;
    uint8_t parameter;
};

struct Pattern {
    int rows;
    std::vector<Cell> cells; // rows x channels, row-major
};

struct Position {
    int order;
    int row;
};

struct Song {
    bool loaded = false;
    int channels = 0;
    int restartPosition = 0;
    std::vector<int> orders; // pattern of each order position
    std::vector<Pattern> patterns;

    bool rendered = false;
    int rate = 0;
    std::vector<int16_t> frames;     // interleaved stereo, from playback start
    std::vector<int64_t> blockStart; // first frame of each block
    std::vector<Position> blockEnd;  // where the song stood after each block
    bool wrapped = false;
    int64_t wrapBlock = -1; // the block in which the song came back to a place already played
    int wrapOrder = 0, wrapRow = 0;

    const Cell& At(int pattern, int row, int channel) const {
        return patterns[pattern].cells[size_t(row) * channels + channel];
    }
    double Seconds(int64_t frame) const { return double(frame) / rate; }
};

// The committed song's records, loaded on first use.
const Song& Committed();
// The same, rendered as well (on first use; the rendering is the slow part).
const Song& CommittedRendering();
// The committed file's bytes.
std::vector<uint8_t> CommittedBytes();
std::string CommittedPath();

} // namespace song_check
