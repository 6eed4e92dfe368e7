// rules_standard.h: what the standard rules' files (rules_standard.cpp, standard_notes.cpp,
// standard_effects.cpp, standard_envelopes.cpp) share with each other and with nothing else but
// their tests; a track's own part for these rules is in standard_track.h. Runs inside MixBlock,
// on the thread that renders the player.
#pragma once

#include <cstdint>

#include "music/module.h"
#include "music/standard_track.h"

struct Instrument;
struct MusicChannel;
struct Player;
struct Sample;
struct Selection;
struct RowLevels;

// fadeoutVolume at its start (Instrument::fadeout is x 2).
constexpr int32_t FULL_FADE = 65536;

// ---- standard_notes.cpp ----
// The row tick's note side (note, instrument, key-off, the volume column; a delayed row's wait).
Selection StandardNoteRow(Player* player, MusicChannel* channel, const PatternCell& cell);
// The instrument the track plays (its envelopes, fade-out, auto-vibrato; the empty instrument
// before the first note) and its sample.
const Instrument* StandardPlayingInstrument(const MusicChannel& channel);
Selection StandardPlaying(const Player* player, const MusicChannel& channel);
// Key-off as the original tracker gives it (note 97, K00, Kxx on its tick): releases the
// envelopes' sustain, and silences a track whose instrument has no volume envelope.
void StandardKeyOff(MusicChannel* channel);
// EDx on its tick.
void NoteDelay(Player* player, MusicChannel* channel, const PatternCell& cell);
// Note delay (EDx), and the effect column's commands the note side carries out: sample offset
// (9xx, but only as a part of the note it starts), key-off (Kxx) and note delay.
inline bool IsNoteDelay(const PatternCell& cell) {
    return cell.effect == 0xE && (cell.effectParameter >> 4) == 0xD;
}
inline bool NoteSideEffect(const PatternCell& cell) {
    return cell.effect == 0x9 || cell.effect == 0x14 || IsNoteDelay(cell);
}
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
