// sequencer_internal.h: what the sequencer's files share with each other and with nothing else
// but their tests: the row and tick driver (sequencer.cpp), the primitives every rule set uses
// (periods.cpp, waveforms.cpp, envelope_shapes.cpp, volume_column.cpp, and the memories, slides
// and retrigger table below), and the demo's rules (rules_demo.cpp, demo_effects.cpp,
// demo_envelopes.cpp). The standard rules' own functions are in rules_standard.h. Runs inside
// MixBlock, on the thread that renders the player.
#pragma once

#include <algorithm>
#include <cstdint>

#include "music/rule_set.h"
#include "music/sequencer.h"

struct EnvelopePoint;
struct Instrument;
struct Module;
struct PatternCell;
struct Sample;

// The all-zero instrument selected when a cell names one the song does not have.
extern const Instrument emptyInstrument;

// ==== sequencer.cpp: the row and tick driver ====
// Row tick and later tick for every track, through the player's rule set.
void ProcessRow(Player* player);
void ProcessTick(Player* player);
// Tracks the sequencer drives (the file's channel count, at most MAX_CHANNELS).
int32_t TrackCount(const Module* module);
// An empty row, read in place of a row that lies outside its pattern.
extern const PatternCell emptyRow[MAX_CHANNELS];
// The cells of the row the player stands at (emptyRow outside the pattern).
const PatternCell* RowCells(const Player* player);
// Rows in the pattern at an order position (0 when there is none).
int32_t RowCount(const Module* module, int32_t orderPosition);
// True for notes 1-96 (not key-off, not the values valid files do not write).
bool IsNote(uint8_t note);
// True when the cell makes a tone-portamento row (its note is a target, not a new note).
bool IsTonePortamentoRow(const PatternCell& cell);
// Moves to the next row (or order position) at a row tick: the position the last row's end
// chose, entered in the wrap watch when it is a new order position.
void EnterNextRow(Player* player);
// The flow commands' shared arithmetic: D's row, a pattern loop's pass, F's speed or tempo.
int32_t BreakRow(int32_t x, int32_t y);
bool CountLoopPass(MusicChannel* channel, int32_t y);
void SetSpeedOrTempo(Player* player, int32_t parameter);
// Pushes what changed on this tick into the track's voice, triggering onto the partner voice.
void UpdateVoice(Player* player, MusicChannel* channel, const Sample* sample);
// The finetune a sample plays with in this player: its own, until an E5 command changed it.
int32_t SampleFinetune(const Player* player, const Sample* sample);
void SetSampleFinetune(Player* player, const Sample* sample, int32_t finetune);

// ==== periods.cpp: periods and frequencies ====
int32_t AmigaPeriod(int32_t note, int32_t finetune);
// Period of a 0-based note for the song's frequency table.
int32_t NotePeriod(const Module* module, int32_t realNote, int32_t finetune);
// Playback frequency in Hz of an effective period (period + delta) for the song's table.
int32_t PeriodFrequency(const Module* module, int32_t period, int32_t periodDelta);
// A double taken to int32, held at its limits (a period driven far out of range by the
// unlimited slides must not turn into an undefined conversion).
int32_t TruncateToInt32(double value);
// The voice's step for the track's period and delta at the player's rate (the rule set's
// frequency law).
void FrequencyStep(const Player* player, MusicChannel* channel);

// ==== Parameter memories, slides and the retrigger table ====
// A parameter of 0 takes the one remembered.
inline void Remember(uint8_t* memory, uint8_t parameter) {
    if (parameter != 0) *memory = parameter;
}
// The slide rule: up by the high nibble, else down by the low one; a slide stops at its own
// end of [low, high].
inline int32_t Slide(int32_t value, uint8_t memory, int32_t low, int32_t high) {
    const int32_t x = memory >> 4, y = memory & 15;
    if (x != 0) return std::min(value + x, high);
    if (y != 0) return std::max(value - y, low);
    return value;
}
// Rxy's volume change: x picks it (x = 6 is about two thirds, as the rule set works it out).
inline int32_t RetrigVolume(int32_t v, int32_t x, bool twoThirdsByShifts) {
    switch (x) {
    case 0x1: return v - 1;
    case 0x2: return v - 2;
    case 0x3: return v - 4;
    case 0x4: return v - 8;
    case 0x5: return v - 16;
    case 0x6: return twoThirdsByShifts ? (v >> 1) + (v >> 3) + (v >> 4) : 2 * v / 3;
    case 0x7: return v >> 1;
    case 0x9: return v + 1;
    case 0xA: return v + 2;
    case 0xB: return v + 4;
    case 0xC: return v + 8;
    case 0xD: return v + 16;
    case 0xE: return v + (v >> 1);
    case 0xF: return v + v;
    default: return v;
    }
}

// ==== waveforms.cpp: vibrato and tremolo waveforms and their phase ====
extern const uint8_t vibratoSineTable[32];
// The waveform's magnitude (0-255) at a phase of -32..31: 0 sine, 1 ramp, 2 and 3 square.
// `rampSign` is the phase whose sign turns the ramp down (the phase itself, as a rule).
int32_t WaveMagnitude(int32_t waveform, int32_t phase, int32_t rampSign);
// The phase moved on by `speed`: 64 steps a period, from -32 to 31.
inline int8_t AdvancePhase(int32_t phase, int32_t speed) {
    return static_cast<int8_t>(((phase + speed + 32) & 63) - 32);
}

// ==== envelope_shapes.cpp: an instrument's envelopes as the stepping reads them ====
struct EnvelopeShape {
    const EnvelopePoint* points;
    int32_t pointCount; // at most MAX_ENVELOPE_POINTS are used
    uint8_t flags;      // ENVELOPE_ON, ENVELOPE_SUSTAIN, ENVELOPE_LOOP
    uint8_t sustain;
    uint8_t loopStart;
    uint8_t loopEnd;
};
constexpr int32_t MAX_ENVELOPE_POINTS = 12;
EnvelopeShape VolumeShape(const Instrument* instrument);
EnvelopeShape PanningShape(const Instrument* instrument);
// The points the stepping uses.
inline int32_t UsedPoints(const EnvelopeShape& shape) {
    return std::min<int32_t>(shape.pointCount, MAX_ENVELOPE_POINTS);
}
// Heads the envelope from point k (at `offset` ticks past it) towards point k + 1.
void StartSegment(EnvelopeState* state, const EnvelopePoint* points, int32_t k, int32_t offset);
// Puts an envelope at tick `position` (the effect that sets the envelope position) inside its
// points; false, with the state untouched, when the position lies past the last point (or the
// envelope has one point): each rule set holds the envelope at its end in its own way.
bool PlaceEnvelope(EnvelopeState* state, const EnvelopeShape& shape, int32_t position);

// ==== volume_column.cpp: the volume column, with the rule set's differences ====
void VolumeColumnRow(Player* player, MusicChannel* channel, uint8_t volumeColumn);
void VolumeColumnTick(Player* player, MusicChannel* channel, uint8_t volumeColumn);

// ==== The demo's rules ====
// rules_demo.cpp: the demo's instrument and sample, its levels laws.
Selection Select(const Module* module, const MusicChannel& channel);
void VolumeStep(const Player* player, MusicChannel* channel);
void PanningStep(const Player* player, MusicChannel* channel);
// demo_envelopes.cpp: envelopes, fade-out, the instrument reset and auto-vibrato.
// Both envelopes from their start, the key pressed again, the fade-out and auto-vibrato reset;
// volume and panning stay.
void RestartEnvelopes(MusicChannel* channel);
// RestartEnvelopes with the sample's volume and panning, and the vibrato, tremolo and tremor
// phases reset.
void ResetChannelForInstrument(MusicChannel* channel, const Sample* sample);
// One tick of an envelope; sets `updateBit` in the channel's flags.
void EnvelopeStep(MusicChannel* channel, EnvelopeState* state, const EnvelopeShape& shape,
                  uint8_t updateBit);
// Both envelopes of the instrument for one tick; keyOffSilences applies the row tick's rule
// that a released key without a volume envelope is silent.
void StepEnvelopes(MusicChannel* channel, const Instrument* instrument, bool keyOffSilences);
// The table's envelope operation: StepEnvelopes and the fade-out after key-off.
void DemoEnvelopes(MusicChannel* channel, const Instrument* instrument, bool rowTick);
// Lxx: the volume envelope's position (at or past the last point: its end).
void SetDemoEnvelopePosition(MusicChannel* channel, const Instrument* instrument, int32_t p);
void AutoVibrato(MusicChannel* channel, const Instrument* instrument);
// demo_effects.cpp: the effect column.
void Vibrato(MusicChannel* channel);
void AdvanceVibrato(MusicChannel* channel);
void Tremolo(MusicChannel* channel);
void Tremor(MusicChannel* channel);
void TonePortamento(MusicChannel* channel);
// The row-tick and later-tick halves of every effect except the flow-control ones (B, D, E6,
// EE, F), which the rule set's flow operation carries out.
void EffectRow(Player* player, MusicChannel* channel, const PatternCell& cell,
               const Selection& playing, const RowLevels& before);
void EffectTick(Player* player, MusicChannel* channel, const PatternCell& cell,
                const Selection& playing);
