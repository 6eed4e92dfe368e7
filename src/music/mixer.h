// mixer.h: the software mixer's records and operations. Runs on the thread that renders the
// player at the time (with an output: the starter while it pre-fills the ring, afterwards the
// output thread only).
#pragma once

#include <cstdint>

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
};

// Frames per block at `rate` Hz: a fiftieth of a second, rounded up to a multiple of four
// ((rate / 50 + 3) & ~3: 884 at 44100 Hz). Every player, tool and device ring counts in these.
constexpr int32_t BlockFrames(int32_t rate) {
    return (rate / 50 + 3) & ~3;
}

// Renders ring block fillBlock of the player: ticks falling due, voices mixed, 16-bit PCM in the
// ring, the block's position entry; then advances fillBlock (wrapping after the last block).
void MixBlock(Player* player);
void MixVoices(Player* player, float* destination, int32_t frames);
void MixVoice(const MixerState& mixer, Voice* voice, float* destination, int32_t frames);
void ConvertToPcm16(int16_t* destination, const float* source, int32_t frames);
