// mixer.h: the software mixer's records and operations. Runs on the thread that renders the
// player at the time (with an output: the starter while it pre-fills the ring, afterwards the
// output thread only).
#pragma once

#include <cstdint>

#include "music/mix_controls.h"

struct Player;
struct Sample;

struct Voice {
    int32_t voiceNumber;
    int32_t mixVolume;    // 0-255, from which the side volumes are derived
    int32_t mixPanning;   // 0-255
    uint32_t startOffset; // frame at which the next triggered note starts
    const Sample* sample; // null: silent and skipped
    int32_t volumeLeft;   // target volume of the first channel, 0-255
    int32_t volumeRight;  // target volume of the second channel, 0-255
    uint32_t position;    // 32.32 play position: integer part
    uint32_t positionFraction;
    uint32_t incrementFraction; // 32.32 step per output frame: fractional part
    int32_t increment;          // integer part
    int32_t direction;          // 1 forwards, 2 backwards (inside a ping-pong loop)
    int32_t rampTargetLeft;
    int32_t rampTargetRight;
    int32_t currentLeft; // volume in effect x 256
    int32_t currentRight;
    float rampStepLeft; // gain change per frame during a ramp (gain 1.0 = volume 255)
    float rampStepRight;
    int32_t rampFrames; // frames left in the running ramp; 0 = none
    // The sample that takes over when this one's forward loop comes round or its end is
    // reached (null: none): the new sample then plays its loop, from its loop start on, and a
    // sample without a loop stops the voice there. Only the ProTracker rules set it.
    const Sample* pendingSample;
};

// Voices mixed: two per track (a new note starts on the partner voice, track c's voices are c
// and c + 32, while the old one ramps out).
constexpr int MIXED_VOICES = 64;

// One entry per ring block: where the song stood after the block was rendered. Packed into
// 6 bytes as the ring's position table.
#pragma pack(push, 1)
struct BlockPosition {
    uint8_t order;
    uint8_t row;
    int32_t timeMs;
};
#pragma pack(pop)
static_assert(sizeof(BlockPosition) == 6);

// Frames per block at the highest rate a player works at (384000 Hz).
constexpr int32_t MAX_BLOCK_FRAMES = 7680;

// Output sizes, buffers and constants of one player, set when the player is created.
struct MixerState {
    int32_t mixRate;           // Hz
    int32_t blockFrames;       // frames per ring block (884 at 44100 Hz)
    int32_t ringFrames;        // frames in the whole ring (100 blocks for the output)
    int16_t* outputRing;       // ringFrames stereo int16 frames
    float* mixBuffer;          // ringFrames stereo float frames, 16-byte aligned
    void* mixBufferAllocation; // the allocation mixBuffer lies in
    BlockPosition* blockPositions;
    int32_t fillBlock;     // block the next MixBlock renders
    int32_t rampLength;    // frames per volume ramp: mixRate * 128 / 44100
    float rampReciprocal;  // 1 / rampLength
    float secondsPerFrame; // 1 / mixRate
    // The 16-bit limiter's gain at the end of the last block (0 before the first block: 1), and
    // each frame's gain within the block being converted.
    float limiterGain;
    float limiterGains[MAX_BLOCK_FRAMES];
    // The level (dB) the last block was scaled by and its factor: the level rarely changes
    // between blocks, and the power is a measurable part of a block's fixed cost (0 dB, which
    // the player starts from, is never scaled).
    float shapedDb;
    float shapedFactor;
};

// Frames per block at `rate` Hz: a fiftieth of a second, rounded up to a multiple of four
// ((rate / 50 + 3) & ~3: 884 at 44100 Hz). Every player, tool and device ring counts in these.
constexpr int32_t BlockFrames(int32_t rate) {
    return (rate / 50 + 3) & ~3;
}

// Renders ring block fillBlock of the player: ticks falling due, voices mixed, 16-bit PCM in the
// ring, the block's position entry; then advances fillBlock (wrapping after the last block). The
// player's controls (mix_controls.h) are read once, at the block's start, and hold for the whole
// block; the rule set's level, the gain and the separation act on the block's float mix.
void MixBlock(Player* player);
// Mixes every voice into `destination` with the interpolation the player's controls ask for now,
// leaving out the voices of muted tracks (which still move on).
void MixVoices(Player* player, float* destination, int32_t frames);
// Adds `frames` frames of one voice into `destination` (interleaved stereo) and moves it on. An
// inaudible voice adds nothing but moves, loops, ramps and ends exactly as an audible one.
void MixVoice(const MixerState& mixer, Voice* voice, float* destination, int32_t frames,
              Interpolation interpolation = Interpolation::Linear, bool audible = true);
void ConvertToPcm16(int16_t* destination, const float* source, int32_t frames);
// As ConvertToPcm16, through a limiter whose gain only falls below 1 where a frame would
// otherwise round to full scale or beyond: it falls shortly before such a frame (within the
// block) and recovers over about 200 ms. Output never reaches +-32767; where the input never
// rounds to that, the output is the same as ConvertToPcm16's. `gain` carries the limiter's
// gain from block to block (start at 1); `gains` holds `frames` values of scratch.
void ConvertToPcm16Limited(int16_t* destination, const float* source, int32_t frames, int32_t rate,
                           float* gain, float* gains);
