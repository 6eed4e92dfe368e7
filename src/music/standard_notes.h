// standard_notes.h: what a track keeps for the standard rules' note handling (notes, instruments,
// key-off, envelopes, fade-out, the volume column), beside the fields both rule sets share.
#pragma once

#include <cstdint>

struct Instrument;
struct MusicChannel;
struct Player;
struct Sample;

struct StandardNoteState {
    // The instrument whose envelopes, fade-out and auto-vibrato play: the one the last started
    // note took. A cell's instrument number alone only selects the instrument for the next note
    // (instrumentNumber); null before the first note (the empty instrument then).
    const Instrument* instrument;
    uint8_t instrumentNumber; // 1-128, 0 none
    uint8_t lastNote;         // the last note 1-96 started, which a note delay without a note plays
    uint8_t cellNote;         // the row's note and instrument, kept for a note delay
    uint8_t cellInstrument;
    uint8_t offsetMemory;   // 9xx's parameter memory
    int32_t defaultVolume;  // volume and panning of the sample the last note chose, which an
    int32_t defaultPanning; // instrument number puts back
    int32_t envelopeVolume; // what the envelopes give this tick, 16.16 (64 and 32 without one)
    int32_t envelopePanning;
    int32_t autoVibratoAmplitude; // 8.8
    int32_t autoVibratoSweep;     // 8.8 added per tick until the depth is reached, 0 done
    uint8_t autoVibratoPosition;
};

// Key-off as the original tracker gives it (note 97, K00, Kxx on its tick): releases the
// envelopes' sustain, and silences a track whose instrument has no volume envelope.
void StandardKeyOff(MusicChannel* channel);
