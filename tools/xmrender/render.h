// render.h: renders a loaded module through the player, block by block, with block positions and
// the song's first wrap. Single-threaded; allocates nothing once rendering has started.
#pragma once

#include <cstdint>
#include <cstdio>

#include "music/mixer.h"
#include "music/player.h"

struct Module;

// One rendered block, handed out in render order from playback start.
struct RenderedBlock {
    int64_t index;         // 0 for the first block of the pre-fill
    const int16_t* frames; // interleaved stereo, frameCount frames
    int32_t frameCount;
    BlockPosition position; // where the song stood after the block
};

// Receives each block; returning false stops the render (reported as a failure).
using RenderSink = bool (*)(const RenderedBlock& block, void* context);

struct RenderLimits {
    int64_t blocks;    // render exactly this many blocks; 0: until the song first wraps
    int64_t maxBlocks; // cap for the wrap search; 0: 20 minutes of blocks
};

struct RenderSummary {
    int64_t blocks;    // blocks handed to the sink
    bool wrapped;      // the song came back to a place it had already entered
    int64_t wrapBlock; // block in which the wrap's row tick fell, or -1
    int32_t wrapOrder; // order position and row at which it came back
    int32_t wrapRow;
};

// Output rate and block size of every render.
constexpr int32_t RENDER_RATE = 44100;

// Renders a loaded module from playback start with a player of its own at RENDER_RATE and the
// given rules and listener's controls, one block after another: the same blocks, in the same order,
// as the output's ring pre-fill and thread render them. False when no player can be made or the
// sink refuses a block.
bool RenderModule(const Module* module, PlayerRules rules, const RenderLimits& limits,
                  RenderSink sink, void* context, RenderSummary* summary,
                  const MixControls& controls = MixControls{});

// The 44-byte header of a 16-bit stereo PCM WAV file of `frames` frames at `rate`.
void MakeWavHeader(uint8_t header[44], uint32_t frames, int32_t rate);

// Renders the song file `songPath` into the WAV file `wavPath` (and, when `positionsPath` is
// not null, one CSV line per block there). seconds > 0 renders whole blocks until at least that
// long; otherwise until the first wrap (capped). `progress` prints a progress line on standard
// error. `rules` are the player's (the demo's by default, so that the bytes are the demo's). On
// failure returns false with a message in `error` (at most errorSize bytes).
struct RenderFileResult {
    int64_t frames;
    bool wrapped;
};
bool RenderFileToWav(const char* songPath, const char* wavPath, const char* positionsPath,
                     double seconds, RenderFileResult* result, char* error, size_t errorSize,
                     bool progress, PlayerRules rules = PlayerRules::Demo,
                     const MixControls& controls = MixControls{});
