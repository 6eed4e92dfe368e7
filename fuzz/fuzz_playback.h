// fuzz_playback.h: what the loader targets share: a check that stops the run, and a capped
// playback of a loaded song. A low rate keeps the playback cheap; pieces of an odd size split
// the blocks at changing places.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "music/module.h"
#include "music/player.h"

namespace fuzzing {

constexpr int32_t FUZZ_RATE = 8000;
constexpr int32_t PIECE_FRAMES = 997;

inline void Check(bool condition) {
    if (!condition) std::abort();
}

// Renders about `frames` frames of `player` in pieces of PIECE_FRAMES.
inline void PlayCapped(Player* player, int32_t frames) {
    std::vector<int16_t> pcm(2 * PIECE_FRAMES);
    for (int32_t done = 0; done < frames; done += PIECE_FRAMES)
        RenderPcm16(player, pcm.data(), PIECE_FRAMES);
}

// A load that failed says why; one that succeeded says nothing.
inline void CheckLoadReport(const Module* module, const LoadError& error) {
    if (!module)
        Check(error.code != LOAD_OK && error.message[0] != '\0');
    else
        Check(error.code == LOAD_OK && error.message[0] == '\0');
}

} // namespace fuzzing
