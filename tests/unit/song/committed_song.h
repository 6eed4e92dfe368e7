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

// A stored sample as the checks measure it: its frames, the rate at which a note plays it, and
// how long a note on it rings.
struct SampleData {
    std::vector<int16_t> frames;
    int relativeNote = 0;
    int finetune = 0;
    bool loops = false;
    // Frames per second at which `note` (1-96) reads the sample (linear frequencies).
    double Rate(int note) const;
};

struct InstrumentData {
    std::vector<SampleData> samples;
    uint8_t sampleMap[96] = {};
    // The envelope ends a note by itself: on, neither sustain nor loop, its last point silent.
    bool envelopeEnds = false;
    // Seconds a note rings when nothing stops it; infinite when its sample loops and its envelope
    // does not end it.
    double RingSeconds(int note) const;
};

struct Song {
    bool loaded = false;
    int channels = 0;
    int restartPosition = 0;
    std::vector<int> orders; // pattern of each order position
    std::vector<Pattern> patterns;
    std::vector<InstrumentData> instruments; // instrument n at n - 1

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

// What sounds on a channel: the note (0 none), its instrument, and the played row it started on.
struct Voice {
    uint8_t note = 0;
    uint8_t instrument = 0;
    int64_t startRow = -1;
    double startSeconds = 0;
};

// One row of the song as played once from its start (breaks and pattern loops followed), with
// what sounds on every channel over it. A note sounds from its start until a new note, a
// key-off, a cut, volume 0 on its channel or the end of its ring (RingSeconds).
struct PlayedRow {
    int order;
    int pattern;
    int row;
    double start;   // seconds from the start of the song
    double seconds; // the row's length
    std::vector<Voice> voices;
};
const std::vector<PlayedRow>& PlayedRows();

// The committed song rendered with only the notes of `instruments` (the other channels' cells
// cleared, the order list's tempo, breaks, loops and global volume kept), from the start to its
// first wrap: interleaved stereo at the rendering's rate.
std::vector<int16_t> RenderPart(const std::vector<int>& instruments);

// The committed song's records, loaded on first use.
const Song& Committed();
// The same, rendered as well (on first use; the rendering is the slow part).
const Song& CommittedRendering();
// The committed file's bytes.
std::vector<uint8_t> CommittedBytes();
std::string CommittedPath();

} // namespace song_check
