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

} // namespace compose
