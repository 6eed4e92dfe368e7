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

// ---- Internals shared by the sequencer's three files (and their tests) ----

struct PatternCell;
struct EnvelopePoint;

// The all-zero instrument selected when a cell names one the song does not have.
extern Instrument emptyInstrument;

// Row tick and later tick for every track.
void ProcessRow(Module* module);
void ProcessTick(Module* module);
// Pushes what changed on this tick into the track's voice, triggering onto the partner voice.
void UpdateVoice(MusicChannel* channel, Sample* sample, Module* module);
// The cells the last row tick read (channelCount of them; an empty row when the row lay outside
// its pattern). Null before the first row tick.
const PatternCell* CurrentRowCells();

// pitch_envelopes.cpp
int32_t AmigaPeriod(int32_t note, int32_t finetune);
// Period of a 0-based note for the song's frequency table.
int32_t NotePeriod(const Module* module, int32_t realNote, int32_t finetune);
// Playback frequency in Hz of an effective period (period + delta) for the song's table.
int32_t PeriodFrequency(const Module* module, int32_t period, int32_t periodDelta);
void ResetChannelForInstrument(MusicChannel* channel, const Sample* sample);
void EnvelopeStep(MusicChannel* channel, int32_t* tick, int32_t* point, int32_t* fixed,
                  int32_t* value, uint8_t* done, int32_t* slope, const EnvelopePoint* points,
                  int32_t pointCount, uint8_t flags, uint8_t sustain, uint8_t loopStart,
                  uint8_t loopEnd, uint8_t updateBit);
// Both envelopes of the instrument for one tick; keyOffSilences applies the row tick's rule
// that a released key without a volume envelope is silent.
void StepEnvelopes(MusicChannel* channel, const Instrument* instrument, bool keyOffSilences);
void AutoVibrato(MusicChannel* channel, const Instrument* instrument);
void VolumeStep(MusicChannel* channel, const Module* module);
void PanningStep(MusicChannel* channel);
void FrequencyStep(MusicChannel* channel, const Module* module);

// effects.cpp
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
void EffectRow(Module* module, MusicChannel* channel, const PatternCell& cell,
               const Instrument* instrument, Sample* sample, const RowLevels& before);
void EffectTick(Module* module, MusicChannel* channel, const PatternCell& cell,
                const Instrument* instrument, Sample* sample);
// True when the cell makes a tone-portamento row (its note is a target, not a new note).
bool IsTonePortamentoRow(const PatternCell& cell);
