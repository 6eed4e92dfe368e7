// figures.h: the soundtrack's mix figures, measured on rendered 16-bit stereo: loudness, how much
// of the energy sits in the low end and the top, and how wide the stereo image is. The song's
// checks hold the targets; the song_figures tool prints the same figures as a table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace compose {

struct MixFigures {
    double rmsDb;       // RMS of both sides, dB relative to full scale
    double lowShare;    // share of the energy between 40 and 80 Hz, 0..1
    double highDb;      // energy above 2.5 kHz relative to the whole, dB
    double correlation; // left/right correlation, -1..1
    double sideDb;      // side (L-R) energy relative to mid (L+R) energy, dB
};

// Figures of `frameCount` interleaved stereo frames at `rate` Hz. Every figure stays the same
// when left and right are swapped, so a mirrored output measures the same.
MixFigures MeasureMix(const int16_t* frames, int64_t frameCount, int rate);

// A stretch of the song between two of the show's scene changes, in program-clock seconds
// (the song starts with the program). `full` marks the sections where the whole band plays,
// which the mix targets apply to.
struct SongSection {
    const char* name;
    double start;
    double end; // 0: until the end of the rendering
    bool full;
};
const std::vector<SongSection>& SongSections();

// The show's scene changes the song meets, in program-clock seconds, for marking pictures.
struct SceneChange {
    const char* name;
    double seconds;
};
const std::vector<SceneChange>& ShowSceneChanges();

// The figures of every section of a whole rendering, one table row each (Markdown).
std::string FiguresTable(const int16_t* frames, int64_t frameCount, int rate);

} // namespace compose
