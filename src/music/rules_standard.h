// rules_standard.h: what a track keeps for the standard rules alone (beside what every rule set
// keeps in MusicChannel), and what the standard rules' files (rules_standard.cpp,
// standard_notes.cpp, standard_effects.cpp, standard_envelopes.cpp) share with each other and
// with nothing else but their tests. Runs inside MixBlock, on the thread that renders the player.
#pragma once

#include <cstdint>

struct Instrument;
struct MusicChannel;
struct PatternCell;
struct Player;
struct Sample;
struct Selection;
struct RowLevels;

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

// fadeoutVolume at its start (Instrument::fadeout is x 2).
constexpr int32_t FULL_FADE = 65536;

// ---- standard_notes.cpp ----
// The row tick's note side (note, instrument, key-off, the volume column; a delayed row's wait).
void StandardNoteRow(Player* player, MusicChannel* channel, const PatternCell& cell);
// The instrument the track plays (its envelopes, fade-out, auto-vibrato; the empty instrument
// before the first note) and its sample.
const Instrument* StandardPlayingInstrument(const MusicChannel& channel);
Selection StandardPlaying(const Player* player, const MusicChannel& channel);
// Key-off as the original tracker gives it (note 97, K00, Kxx on its tick): releases the
// envelopes' sustain, and silences a track whose instrument has no volume envelope.
void StandardKeyOff(MusicChannel* channel);
// EDx on its tick.
void NoteDelay(Player* player, MusicChannel* channel, const PatternCell& cell);
// The note delay (EDx) and key-off (Kxx) commands the note side carries out.
bool IsNoteDelay(const PatternCell& cell);
bool NoteSideEffect(const PatternCell& cell);
// A silence tremor left, held over a row whose effect column is a note delay or Kxx.
void HoldTremorSilence(MusicChannel* channel, const PatternCell& cell, int32_t tick);
// The tick's end: the offset's limits, every level pushed into the voice.
void StandardFinishTrack(Player* player, MusicChannel* channel, const Sample* sample);

// ---- standard_envelopes.cpp ----
// The playing instrument restarted: its enabled envelopes from their start, the key pressed
// again, the fade-out and auto-vibrato anew (an instrument number, a delayed note, a retrigger).
void RestartPlayingInstrument(MusicChannel* channel);
// One tick of fade-out and both envelopes (the table's envelope operation).
void StandardEnvelopes(MusicChannel* channel, const Instrument* instrument, bool rowTick);
// The instrument's auto-vibrato for one tick.
void StandardAutoVibrato(MusicChannel* channel, const Instrument* instrument);
// A note without instrument number that changes the playing instrument moves the volume
// envelope onto the new instrument's.
void MoveVolumeEnvelope(MusicChannel* channel, const Instrument* instrument);
// Lxx: the volume envelope's position.
void SetStandardEnvelopePosition(MusicChannel* channel, const Instrument* instrument,
                                 int32_t position);

// ---- standard_effects.cpp ----
// What a restarted note does to the effect column's counters: tremor and multi-retrigger start
// over.
void StandardRestartEffects(MusicChannel* channel);
// The effect column on the row tick and on the later ticks (the note side's EDx, Kxx and 9xx
// aside).
void StandardEffectRow(Player* player, MusicChannel* channel, const PatternCell& cell,
                       const Selection& playing, const RowLevels& before);
void StandardEffectTick(Player* player, MusicChannel* channel, const PatternCell& cell,
                        const Selection& playing);
// One later tick of vibrato (4xy, 6xy and the volume column's Vx): the offset, then the phase.
void StandardVibratoTick(const Player* player, MusicChannel* channel);
// One tick of tone portamento (3xx, 5xy and the volume column's Mx).
void StandardTonePortamento(const Player* player, MusicChannel* channel);

// ---- rules_standard.cpp ----
// The volume law, for G and H that reach every track at once.
void StandardVolumeStep(const Player* player, MusicChannel* channel);
