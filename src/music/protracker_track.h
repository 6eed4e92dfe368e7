// protracker_track.h: what a track keeps for ProTracker's rules alone, beside what every rule
// set keeps in MusicChannel (sequencer.h). Only rules_protracker.cpp and protracker_effects.cpp
// read or write it.
#pragma once

#include <cstdint>

struct Sample;

struct ProTrackerTrack {
    // The sample the last instrument number chose, with its volume and finetune: a note plays
    // it; until one comes the track goes on with what it plays (channel->sample).
    const Sample* chosen;
    int8_t finetune;      // -8..7, of the chosen sample (E5x changes it)
    uint8_t offsetMemory; // 9xx
    // Where a note starts in the chosen sample: 9xx moves it on (with or without a note, and
    // twice beside a note: the note plays from the first move, later notes from the second)
    // and only an instrument number puts it back to 0. At or past the sample's end it stays
    // at the end (noteStart = the sample's length).
    uint32_t noteStart;
    uint8_t vibratoCommand;  // 4xy's speed (high nibble) and depth (low), each kept apart
    uint8_t tremoloCommand;  // 7xy's, the same way
    uint8_t vibratoPosition; // 0-63
    uint8_t tremoloPosition; // 0-63
    uint8_t glissando;       // E3x
    uint8_t panned;          // an 8xx set the track's panning (else the Amiga's side)
    uint8_t swapPending;     // this row's instrument number came without a note (or beside a
                             // tone portamento's): the chosen sample waits for the voice's loop
    // The sample handed to the voice to take over at its loop's end (Voice::pendingSample),
    // until the voice has taken it; null when none waits.
    const Sample* swapTo;
    // EFx: the speed (0 = off) at which the loop's bytes are inverted, the count towards the
    // next byte, and the last byte inverted (from the loop's start; an instrument number sets
    // it back to the start).
    uint8_t invertSpeed;
    uint8_t invertCount;
    uint32_t invertAt;
    // The period of a note delayed by EDx past its row's end (0 = none): the note never
    // starts, but the next row plays the playing sample at its period.
    int32_t delayedPeriod;
};
