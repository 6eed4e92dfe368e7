// song.h: the demo's soundtrack, "Zarq-Neat.xm", written as code: its instruments, patterns in
// the composer's notation, and the order list arranged to the show's scenes.
#pragma once

#include <cstdint>
#include <vector>

#include "xm_writer.h"

namespace compose {

// The whole song as the writer takes it.
xmw::Song BuildSong();
// The file's bytes; the same on every run.
std::vector<uint8_t> ComposeSong();

// Where a part of the song should begin, to meet the show.
struct Landmark {
    const char* name;
    int orderPosition;
    double seconds; // intended start, from the first frame of music
};
std::vector<Landmark> SongLandmarks();

// The chord the song declares for a bar (16 rows) of a pattern.
struct BarChord {
    const char* name;
    int root;  // pitch class, 0 = C
    int third; // semitones from the root to the third: 3 minor, 4 major (the fifth is 7)
};
// For every pattern, the chord of each of its bars (a last, shorter bar counts as one).
std::vector<std::vector<BarChord>> SongHarmony();
// The pitch classes of the song's key.
std::vector<int> SongScale();

// The song's parts by instrument, as stems and checks group them. Melodic parts carry the
// tunes, and what they sound together must agree.
struct SongPart {
    const char* name;
    std::vector<int> instruments;
    bool melodic;
};
std::vector<SongPart> SongParts();

// The hook: the two-bar figure the song keeps coming back to. Its rhythm is the rows, counted
// from its first note, on which its notes start; its contour the direction of each step
// between them (+1 up, -1 down, 0 the same note).
struct Figure {
    std::vector<int> onsets;
    std::vector<int> contour;
    int rows; // the figure's length
};
Figure SongHook();

// Notes meant as passing dissonances against another tune: pattern, row and channel.
struct PassingNote {
    int pattern;
    int row;
    int channel;
};
std::vector<PassingNote> SongPassingNotes();

} // namespace compose
