// notation.h: the composer's text notation for pattern cells and tracks, and the song records
// it builds. A cell is written like a tracker row, e.g. "C-4 02 v30 A0F":
//   note        C-4, C#4 ... B-7;  === releases the key (key-off)
//   instrument  two hex digits, 01-80
//   volume      v00-v40 set volume; v-y / v+y slide down / up on every tick;
//               vdy / vuy fine slide down / up once; vsy vibrato speed; vvy vibrato depth;
//               vpy panning y*16; vly / vry panning slide left / right; vgy tone portamento
//   effect      one letter or digit and two hex digits: 0-9 and A-F as usual, G=10h ... X=21h
// Any of the four may be left out, in any order. A track is cells separated by '|', one per
// row; "." is an empty row and ".N" N empty rows. "@II" in front of a cell sets the instrument
// given from there on to notes that name none (except on tone-portamento rows, which glide).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace compose {

struct NotationError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

constexpr uint8_t KEY_OFF_NOTE = 97; // how the file writes a released key

struct Cell {
    uint8_t note = 0; // 1-96, KEY_OFF_NOTE, 0 none
    uint8_t instrument = 0;
    uint8_t volume = 0; // raw volume-column byte
    uint8_t effect = 0;
    uint8_t parameter = 0;
    bool Empty() const { return !note && !instrument && !volume && !effect && !parameter; }
    bool operator==(const Cell&) const = default;
};

using Track = std::vector<Cell>; // one channel, one cell per row

// Throws NotationError naming the offending text.
Cell ParseCell(std::string_view text);
Track ParseTrack(std::string_view text);
// The cell written back in the notation ("." for an empty cell).
std::string FormatCell(const Cell& cell);

// Track helpers. Transposing moves notes only (not key-offs); a note pushed out of C-0..B-7
// throws.
Track Transpose(Track track, int semitones);
Track Repeat(const Track& track, int times);
Track Join(std::initializer_list<Track> parts);
// The track with `effect`/`parameter` set on row `row` (extending it with empty rows).
Track WithEffect(Track track, size_t row, uint8_t effect, uint8_t parameter);

} // namespace compose
