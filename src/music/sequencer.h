// sequencer.h: the per-track playback state (MusicChannel), the row and tick driver, pitch,
// envelopes and voice levels, and the effect commands. Everything here runs inside MixBlock,
// on the one thread that renders music at the time; no locks.
#pragma once

#include <cstdint>

struct Module;
struct Sample;
struct Instrument;
struct Voice;

enum UpdateFlag : uint8_t {
    UPDATE_FREQUENCY = 0x01,
    UPDATE_VOLUME = 0x02,
    UPDATE_PANNING = 0x04,
    UPDATE_TRIGGER = 0x08,
    UPDATE_REWIND = 0x20,
};

struct MusicChannel {
    uint8_t noteIndex;
    uint8_t updateFlags;
    Voice* voice;
    Sample* sample;
    int32_t period;
    int32_t volume;
    int32_t panning;
    int32_t volumeDelta;
    int32_t periodDelta;
    int32_t volumeEnvelopeTick;
    int32_t volumeEnvelopePoint;
    int32_t volumeEnvelopeFixed;
    int32_t volumeEnvelopeValue;
    int32_t volumeEnvelopeSlope;
    uint8_t volumeEnvelopeDone;
    int32_t panningEnvelopeTick;
    int32_t panningEnvelopePoint;
    int32_t panningEnvelopeFixed;
    int32_t panningEnvelopeValue;
    int32_t panningEnvelopeSlope;
    uint8_t panningEnvelopeDone;
    int32_t fadeoutVolume;
    int32_t autoVibratoPosition;
    int32_t autoVibratoSweep;
    uint8_t keyOff;
    uint8_t instrumentIndex;
    uint8_t realNote;
    int32_t notePeriod;
    uint8_t lastEffect;
    int32_t sampleOffsetMemory;
    uint8_t portaDownMemory;
    uint8_t portaUpMemory;
    uint8_t extraFinePortaDownMemory;
    uint8_t extraFinePortaUpMemory;
    uint8_t volumeSlideMemory;
    uint8_t panningSlideMemory;
    uint8_t retrigVolumeMemory;
    uint8_t retrigIntervalMemory;
    int32_t portaTarget;
    uint8_t portaSpeed;
    int8_t vibratoPosition;
    uint8_t vibratoSpeed;
    uint8_t vibratoDepth;
    int8_t tremoloPosition;
    uint8_t tremoloSpeed;
    uint8_t tremoloDepth;
    uint8_t tremorCounter;
    uint8_t tremorOnTicks;
    uint8_t tremorOffTicks;
    int32_t loopRow;
    int32_t loopCount;
    uint8_t waveControl;
    uint8_t fineVolumeSlideMemory;
    uint8_t finePortaUpMemory;
    uint8_t finePortaDownMemory;
};

constexpr int MAX_CHANNELS = 32;
extern MusicChannel channels[MAX_CHANNELS];

// The tick entry point, installed by the loader as the Module's tickHandler.
void SequencerTick(Module* module);
// Stores the tempo and sets tickFrames for the current mix rate.
void SetBpm(Module* module, int32_t bpm);
// Zeroes the first channelCount channel records and points track c at voice c.
void ResetChannels(Module* module);
