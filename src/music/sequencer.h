// sequencer.h: the per-track playback state (MusicChannel: what every rule set keeps, and the
// part only the playing rule set uses) and the row and tick driver's entry points. Everything
// here runs inside MixBlock on the thread that renders the player at the time; no locks. What
// the sequencer's own files share lies in sequencer_internal.h, the rule tables in rule_set.h.
#pragma once

#include <cstdint>

#include "music/demo_track.h"
#include "music/protracker_track.h"
#include "music/standard_track.h"

struct Player;
struct Sample;
struct Voice;

enum UpdateFlag : uint8_t {
    UPDATE_FREQUENCY = 0x01,
    UPDATE_VOLUME = 0x02,
    UPDATE_PANNING = 0x04,
    UPDATE_TRIGGER = 0x08,
    UPDATE_REWIND = 0x20,
};

// Where a track stands on one of its instrument's envelopes.
struct EnvelopeState {
    int32_t tick;  // ticks since the note started (the envelope's x)
    int32_t point; // the point the envelope heads for
    int32_t fixed; // the value in 16.16
    int32_t value; // the value in whole steps (64 = full volume, 32 = centre)
    int32_t slope; // 16.16 change per tick towards `point`
    uint8_t done;  // the last point was reached (the demo's stepping stops there)
};

// One track. The first part is what every rule set keeps; `demo` and `standard` are what one
// rule set alone needs (only the player's own rule set reads or writes its part, so they share
// their storage). A reset zeroes the whole record.
struct MusicChannel {
    uint8_t updateFlags;
    Voice* voice;
    const Sample* sample;
    int32_t period;
    int32_t volume;
    int32_t panning;
    int32_t volumeDelta;
    int32_t periodDelta;
    EnvelopeState volumeEnvelope;
    EnvelopeState panningEnvelope;
    int32_t fadeoutVolume;
    uint8_t keyOff;
    uint8_t realNote;
    int32_t notePeriod;
    uint8_t lastEffect;
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
    int32_t loopRow;
    int32_t loopCount;
    uint8_t waveControl;
    uint8_t finePortaUpMemory;
    uint8_t finePortaDownMemory;
    union {
        DemoTrack demo;
        StandardTrack standard;
        ProTrackerTrack protracker;
    };
};

constexpr int MAX_CHANNELS = 32;

// The tick entry point, installed as the player's tickHandler.
void SequencerTick(Player* player);
// Stores the tempo and sets tickFrames for the player's rate.
void SetBpm(Player* player, int32_t bpm);
// Zeroes the first channelCount channel records and points track c at voice c.
void ResetChannels(Player* player);
