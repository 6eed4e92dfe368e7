// module.h: the loaded song (Module, Pattern, PatternCell, Instrument, Sample) and the XM loader's
// entry points. The records are plain and zero-initialised; the loader fills them once, and
// afterwards only the playback fields change (on the thread that renders music).
#pragma once

#include <cstdint>

struct Module;
struct ModuleStream;

using ModuleHandler = void (*)(Module* module);
// Places a sample's plain (not delta-coded) values of the stated width at the start of `buffer`.
using SampleLoader = int (*)(void* buffer, uint32_t storedBytes, int bits, int instrumentIndex,
                             int sampleIndex);

struct PatternCell {
    uint8_t note;         // 0 none, 1-96 notes, 255 key-off
    uint8_t instrument;   // 0 none, 1-128
    uint8_t volumeColumn; // raw volume-column byte
    uint8_t effect;
    uint8_t effectParameter;
};
static_assert(sizeof(PatternCell) == 5);

struct Pattern {
    int32_t rowCount;
    PatternCell* cells; // rowCount x channelCount, row-major
};

struct Sample {
    int16_t* data;       // length + 8 frames; null when length is 0
    uint32_t length;     // frames
    uint32_t loopStart;  // first frame of the loop (0 when not looping)
    uint32_t loopLength; // frames in the loop (length when not looping)
    uint8_t volume;      // 0-64
    int8_t finetune;
    int32_t panning;  // 0-255
    uint8_t bits;     // 16 for every loaded sample
    uint8_t loopKind; // 1 no loop, 2 forward, 4 ping-pong
    int8_t relativeNote;
};

enum LoopKind : uint8_t { LOOP_NONE = 1, LOOP_FORWARD = 2, LOOP_PINGPONG = 4 };

struct EnvelopePoint {
    uint16_t x; // ticks
    uint16_t y; // value
};

struct Instrument {
    int32_t sampleCount; // 0-16
    Sample* samples[16]; // slots from sampleCount on point at silentSample
    uint8_t sampleMap[96];
    EnvelopePoint volumeEnvelope[12];
    EnvelopePoint panningEnvelope[12];
    uint8_t volumePointCount;
    uint8_t panningPointCount;
    uint8_t volumeSustain;
    uint8_t volumeLoopStart;
    uint8_t volumeLoopEnd;
    uint8_t panningSustain;
    uint8_t panningLoopStart;
    uint8_t panningLoopEnd;
    uint8_t volumeEnvelopeFlags; // bit 0 on, bit 1 sustain, bit 2 loop
    uint8_t panningEnvelopeFlags;
    uint8_t vibratoType;
    uint8_t vibratoSweep;
    uint8_t vibratoDepth;
    uint8_t vibratoRate;
    uint16_t fadeout; // file value x 2
};

enum EnvelopeFlag : uint8_t { ENVELOPE_ON = 1, ENVELOPE_SUSTAIN = 2, ENVELOPE_LOOP = 4 };

struct Module {
    Pattern* patterns;
    Instrument* instruments;
    int32_t tickFramesLeft; // mixer: output frames until the next tick
    int32_t tickFrames;     // SetBpm: output frames per tick
    int16_t songLength;
    int16_t restartPosition;
    int16_t channelCount;
    int32_t usedPatternCount;
    int32_t patternCount;
    int16_t instrumentCount;
    uint16_t flags; // bit 0: linear frequency table
    int16_t defaultSpeed;
    int16_t defaultBpm;
    uint8_t orders[256];
    uint8_t initialGlobalVolume;
    // Playback fields (the sequencer's), reset by playback start.
    int32_t globalVolume;
    uint8_t globalVolumeSlideMemory;
    int32_t tick;
    int32_t speed;
    int32_t bpm;
    int32_t row;
    int32_t orderPosition;
    int32_t patternDelayTicks;
    int32_t nextRow;
    int32_t nextOrderPosition;
    int32_t elapsedMs; // mixer: milliseconds rendered since playback start
    ModuleHandler startHandler;
    ModuleHandler tickHandler;
    SampleLoader sampleLoader;
};

enum ModuleFlag : uint16_t { MODULE_LINEAR_FREQUENCIES = 1 };

// The shared sample with every field zero; never freed.
extern Sample silentSample;

// Loads an XM file through the installed file operations; null when it cannot be opened or
// parsed (nothing is left allocated then).
Module* LoadModule(const char* name, SampleLoader sampleLoader);
// Fills a zeroed Module from an open stream; 1 on success, 0 on failure.
int ParseXm(Module* module, ModuleStream* stream);
// Stops playback (whatever song is playing) and frees the song. 1, or 0 for null.
int FreeModule(Module* module);
