// sequencer_internal.h: what the sequencer's files (sequencer.cpp, effects.cpp, pitch.cpp,
// envelopes.cpp) share with each other and with nothing else but their tests. Runs inside
// MixBlock, on the thread that renders the player.
#pragma once

#include <cstdint>

#include "music/sequencer.h"

struct EnvelopePoint;
struct Instrument;
struct Module;
struct PatternCell;
struct Sample;

// The all-zero instrument selected when a cell names one the song does not have.
extern const Instrument emptyInstrument;

// Row tick and later tick for every track.
void ProcessRow(Player* player);
void ProcessTick(Player* player);
// The standard rules' row tick and later tick for every track (standard_notes.cpp).
void StandardProcessRow(Player* player);
void StandardProcessTick(Player* player);

// Tracks the sequencer drives (the file's channel count, at most MAX_CHANNELS).
int32_t TrackCount(const Module* module);
// An empty row, read in place of a row that lies outside its pattern.
extern const PatternCell emptyRow[MAX_CHANNELS];
// The cells of the row the player stands at (emptyRow outside the pattern).
const PatternCell* RowCells(const Player* player);
// True for notes 1-96 (not key-off, not the values valid files do not write).
bool IsNote(uint8_t note);
// The instrument a track has selected and the sample its note maps to (the empty instrument and
// the silent sample where the song has none).
struct Selection {
    const Instrument* instrument;
    const Sample* sample;
};
Selection Select(const Module* module, const MusicChannel& channel);
// A row's flow-control commands (B, D, E6x, EEx, F); jumpSeen carries B across the row's tracks.
void FlowControl(Player* player, MusicChannel* channel, const PatternCell& cell, bool* jumpSeen);
// Pushes what changed on this tick into the track's voice, triggering onto the partner voice.
void UpdateVoice(Player* player, MusicChannel* channel, const Sample* sample);
// The finetune a sample plays with in this player: its own, until an E5 command changed it.
int32_t SampleFinetune(const Player* player, const Sample* sample);
void SetSampleFinetune(Player* player, const Sample* sample, int32_t finetune);

// ---- pitch.cpp: periods and frequencies ----
int32_t AmigaPeriod(int32_t note, int32_t finetune);
// Period of a 0-based note for the song's frequency table.
int32_t NotePeriod(const Module* module, int32_t realNote, int32_t finetune);
// Playback frequency in Hz of an effective period (period + delta) for the song's table.
int32_t PeriodFrequency(const Module* module, int32_t period, int32_t periodDelta);
// The voice's step for the track's period and delta at the player's rate.
void FrequencyStep(const Player* player, MusicChannel* channel);

// ---- envelopes.cpp: envelopes, fade-out, auto-vibrato and the voice's levels ----
// One instrument envelope as the stepping reads it.
struct EnvelopeShape {
    const EnvelopePoint* points;
    int32_t pointCount; // at most 12 are used
    uint8_t flags;      // ENVELOPE_ON, ENVELOPE_SUSTAIN, ENVELOPE_LOOP
    uint8_t sustain;
    uint8_t loopStart;
    uint8_t loopEnd;
};
EnvelopeShape VolumeShape(const Instrument* instrument);
EnvelopeShape PanningShape(const Instrument* instrument);
// Both envelopes from their start, the key pressed again, the fade-out and auto-vibrato reset;
// volume and panning stay.
void RestartEnvelopes(MusicChannel* channel);
// RestartEnvelopes with the sample's volume and panning, and the vibrato, tremolo and tremor
// phases reset.
void ResetChannelForInstrument(MusicChannel* channel, const Sample* sample);
// One tick of an envelope; sets `updateBit` in the channel's flags.
void EnvelopeStep(MusicChannel* channel, EnvelopeState* state, const EnvelopeShape& shape,
                  uint8_t updateBit);
// Puts an envelope at tick `position` (the effect that sets the envelope position).
void PlaceEnvelope(EnvelopeState* state, const EnvelopeShape& shape, int32_t position);
// Both envelopes of the instrument for one tick; keyOffSilences applies the row tick's rule
// that a released key without a volume envelope is silent.
void StepEnvelopes(MusicChannel* channel, const Instrument* instrument, bool keyOffSilences);
void AutoVibrato(MusicChannel* channel, const Instrument* instrument);
void VolumeStep(const Player* player, MusicChannel* channel);
void PanningStep(const Player* player, MusicChannel* channel);

// ---- effects.cpp ----
extern const uint8_t vibratoSineTable[32];
void Vibrato(MusicChannel* channel);
void AdvanceVibrato(MusicChannel* channel);
void Tremolo(MusicChannel* channel);
void Tremor(MusicChannel* channel);
void TonePortamento(MusicChannel* channel);
void VolumeColumnRow(MusicChannel* channel, uint8_t volumeColumn);
void VolumeColumnTick(MusicChannel* channel, uint8_t volumeColumn);
// Levels of a track before its row-tick cell was applied (note delay puts them back).
struct RowLevels {
    int32_t volume;
    int32_t period;
    int32_t panning;
};
// The row-tick and later-tick halves of every effect except the flow-control ones (B, D, E6,
// EE, F), which the row driver carries out itself.
void EffectRow(Player* player, MusicChannel* channel, const PatternCell& cell,
               const Instrument* instrument, const Sample* sample, const RowLevels& before);
void EffectTick(Player* player, MusicChannel* channel, const PatternCell& cell,
                const Instrument* instrument, const Sample* sample);
// The standard rules' effect column, row-tick and later-tick halves (standard_effects.cpp).
void StandardEffectRow(Player* player, MusicChannel* channel, const PatternCell& cell,
                       const Instrument* instrument, const Sample* sample, const RowLevels& before);
void StandardEffectTick(Player* player, MusicChannel* channel, const PatternCell& cell,
                        const Instrument* instrument, const Sample* sample);
// True when the cell makes a tone-portamento row (its note is a target, not a new note).
bool IsTonePortamentoRow(const PatternCell& cell);
