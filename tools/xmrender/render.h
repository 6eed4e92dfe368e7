// render.h: renders a loaded module through the player, block by block, with block positions and
// the song's first wrap. Single-threaded; allocates nothing once rendering has started.
#pragma once

#include <cstdint>
#include <cstdio>

#include "music/mix_controls.h"
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
    int64_t blocks = 0;    // render exactly this many blocks; 0: until the song first wraps
    int64_t maxBlocks = 0; // cap for the wrap search; 0: 20 minutes of blocks
    // With blocks 0: play the song this many times and stop exactly at the end of the last
    // pass (its last block is short); 0: whole blocks to the first wrap as above.
    int32_t repeat = 0;
    MixControls controls{}; // the listener's controls for the render
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
                  RenderSink sink, void* context, RenderSummary* summary);

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
// What a render may do beside the mix: the repeat count (RenderLimits::repeat; it takes the
// place of `seconds`) and a folder for the stems (one 32-bit float WAV file per track,
// channel01.wav on, as long as the mix; null for none).
struct RenderExtras {
    int32_t repeat = 0;
    const char* stemsDir = nullptr;
    // The rules were named (--rules): a MOD song under the demo's rules is then refused rather
    // than played by the standard rules.
    bool rulesGiven = false;
    MixControls controls{}; // the listener's controls, for the mix and every stem
};
bool RenderFileToWav(const char* songPath, const char* wavPath, const char* positionsPath,
                     double seconds, RenderFileResult* result, char* error, size_t errorSize,
                     bool progress, PlayerRules rules = PlayerRules::Demo,
                     const RenderExtras* extras = nullptr);

// A player of track `track` alone, for its stem: the song plays exactly as in a player of the
// whole song, but after every tick the voices of the other tracks are silenced, so the frames
// are that track's share of the mix (the tracks' stems add up to the mix in float, but for
// rounding). Null when the track lies outside the song or no player can be made.
Player* CreateStemPlayer(const Module* module, PlayerRules rules, int32_t track);

// The 58-byte header of a 32-bit float stereo WAV file of `frames` frames at `rate`.
constexpr size_t FLOAT_WAV_HEADER = 58;
void MakeFloatWavHeader(uint8_t header[FLOAT_WAV_HEADER], uint32_t frames, int32_t rate);
