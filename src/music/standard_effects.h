// standard_effects.h: what a track keeps for the standard rules' effect column, beside the
// fields both rule sets share.
#pragma once

#include <cstdint>

struct MusicChannel;
struct Player;

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
    uint8_t restartSeen;          // see StandardRestartEffects
    uint32_t randomState;         // the tremolo's random waveform
    int32_t vibratoOffset;        // the period offset of the vibrato's last tick
};

// What a restarted note (its envelopes reset: a note with an instrument, a delayed note) does to
// the effect column's counters: tremor and multi-retrigger start over. The note side calls it
// where it restarts the envelopes; until then the effect column notices the restart itself.
void StandardRestartEffects(MusicChannel* channel);
// One tick of the standard rules' tone portamento, for the volume column's Mx too.
void StandardTonePortamento(const Player* player, MusicChannel* channel);
