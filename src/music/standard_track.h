// standard_track.h: what a track keeps for the standard rules alone, beside what every rule set
// keeps in MusicChannel (sequencer.h). Only the standard rules' files read or write it.
#pragma once

#include <cstdint>

struct Instrument;

// The note side: notes, instruments, key-off, envelopes, fade-out, the volume column.
struct StandardNoteState {
    // The instrument whose envelopes, fade-out and auto-vibrato play: the one the last started
    // note took. A cell's instrument number alone only selects the instrument for the next note
    // (instrumentNumber); null before the first note (the empty instrument then).
    const Instrument* instrument;
    uint8_t instrumentNumber; // 1-128, 0 none
    uint8_t lastNote;         // the last note 1-96 started, which a note delay without a note plays
    uint8_t offsetMemory;     // 9xx's parameter memory
    int32_t defaultVolume;    // volume and panning of the sample the last note chose, which an
    int32_t defaultPanning;   // instrument number puts back
    int32_t envelopeVolume;   // what the envelopes give this tick, 16.16 (64 and 32 without one)
    int32_t envelopePanning;
    int32_t autoVibratoAmplitude; // 8.8
    int32_t autoVibratoSweep;     // 8.8 added per tick until the depth is reached, 0 done
    uint8_t autoVibratoPosition;
};

// The effect column.
struct StandardEffectState {
    // The volume the track sounds at, when tremolo set it apart from the track's volume
    // (`outVolumeHeld`): it stays until something sets the volume, on the row tick too.
    int32_t outVolume;
    int32_t lastVolume; // the track's volume when the effect column last ran
    uint8_t outVolumeHeld;
    // Tone portamento: 0 none, 1 towards a higher period (or done), 2 towards a lower one.
    uint8_t portaDirection;
    uint8_t glissando;            // E3x
    uint8_t fineVolumeUpMemory;   // EAx
    uint8_t fineVolumeDownMemory; // EBx
    uint8_t tremorMemory;         // Txy
    uint8_t tremorPosition;       // bit 7: on; bits 0-6: ticks left in the phase
    uint8_t tremorMuted;          // an off phase holds the track silent
    uint8_t retrigCounter;        // Rxy
    uint32_t randomState;         // the tremolo's random waveform
    int32_t vibratoOffset;        // the period offset of the vibrato's last tick
};

struct StandardTrack {
    StandardNoteState note;
    StandardEffectState effects;
    // The hand-over from the note side to the effect column: the note side restarted the note
    // (an instrument number, a delayed note) since the effect column last ran, so the effect
    // column starts its counters over (StandardRestartEffects) when it next runs.
    uint8_t noteRestarted;
};
