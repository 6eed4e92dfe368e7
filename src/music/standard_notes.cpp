// standard_notes.cpp: the tracks' row tick and later ticks under the standard rules, as the
// original tracker plays them: notes and instruments, key-off, envelopes and fade-out,
// auto-vibrato, the volume column, note delay and sample offset; the rest of the effect column
// lies in standard_effects.cpp. Runs inside MixBlock on the thread that renders the player.
//
// A track keeps two instruments apart: the number its cells selected last (for the next note)
// and the instrument the last started note took, whose envelopes, fade-out and auto-vibrato play
// until another note starts. An instrument number without a note, or with a tone portamento's
// note, only puts back the playing sample's default volume and panning and restarts the playing
// instrument's envelopes.
#include "music/standard_notes.h"

#include "music/mixer.h"
#include "music/module.h"
#include "music/player.h"
#include "music/sequencer_internal.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr uint8_t KEY_OFF = 255;
constexpr int32_t MAX_ENVELOPE_POINTS = 12;
constexpr int32_t FULL_FADE = 65536; // fadeoutVolume at its start (Instrument::fadeout is x 2)
constexpr uint8_t ALL_LEVELS = UPDATE_FREQUENCY | UPDATE_VOLUME | UPDATE_PANNING;

// What the notes of an instrument number the song does not have play: nothing, with volume 0
// and centred panning as defaults (which an instrument number then puts back).
const Sample emptySample = [] {
    Sample sample{};
    sample.panning = 128;
    return sample;
}();

const Instrument* PlayingInstrument(const MusicChannel& channel) {
    const Instrument* instrument = channel.standardNote.instrument;
    return instrument ? instrument : &emptyInstrument;
}

const Sample* PlayingSample(const MusicChannel& channel) {
    return channel.sample ? channel.sample : &emptySample;
}

// The instrument a cell's number names. Numbers the song lacks, and instruments without a
// sample, stand for the empty instrument: no envelopes, no fade-out, silent notes.
const Instrument* NumberedInstrument(const Module* module, uint8_t number) {
    if (number == 0 || number > module->instrumentCount || module->instruments == nullptr)
        return &emptyInstrument;
    const Instrument* instrument = &module->instruments[number - 1];
    return instrument->sampleCount > 0 ? instrument : &emptyInstrument;
}

const Sample* NoteSample(const Instrument* instrument, uint8_t note) {
    const uint8_t slot = instrument->sampleMap[std::clamp<int>(note - 1, 0, 95)];
    const Sample* sample = slot < MAX_INSTRUMENT_SAMPLES ? instrument->samples[slot] : nullptr;
    if (!sample || sample == &silentSample) return &emptySample;
    // A stereo sample plays its two channels side by side.
    return sample->stereo ? sample->stereo : sample;
}

// A cell whose effect column this file plays: sample offset, key-off and note delay.
bool IsNoteDelay(const PatternCell& cell) {
    return cell.effect == 0xE && (cell.effectParameter >> 4) == 0xD;
}
bool OwnEffect(const PatternCell& cell) {
    return cell.effect == 0x9 || cell.effect == 0x14 || IsNoteDelay(cell);
}

// A point's value, held within 0-64 (a file may store any 16-bit value).
int32_t PointValue(const EnvelopePoint& point) {
    return std::min<int32_t>(point.y, 64);
}

// An instrument number puts back the default volume and panning of the sample the last note
// chose.
void ResetVolumes(MusicChannel* channel) {
    channel->volume = channel->standardNote.defaultVolume;
    channel->panning = channel->standardNote.defaultPanning;
}

// An instrument number (with a note or without) restarts the playing instrument: its enabled
// envelopes from their start, the key pressed again, the fade-out and auto-vibrato anew.
void RestartInstrument(MusicChannel* channel) {
    StandardNoteState& note = channel->standardNote;
    if ((channel->waveControl & 0x0F) < 4) channel->vibratoPosition = 0;
    if ((channel->waveControl >> 4) < 4) channel->tremoloPosition = 0;
    channel->tremorCounter = 0;
    channel->keyOff = 0;
    const Instrument* instrument = PlayingInstrument(*channel);
    // An envelope that is off keeps its place: only the enabled ones start again.
    if (instrument->volumeEnvelopeFlags & ENVELOPE_ON) {
        channel->volumeEnvelope.tick = 0;
        channel->volumeEnvelope.point = 0;
    }
    if (instrument->panningEnvelopeFlags & ENVELOPE_ON) {
        channel->panningEnvelope.tick = 0;
        channel->panningEnvelope.point = 0;
        if (instrument->panningPointCount > 0)
            channel->panningEnvelope.fixed = PointValue(instrument->panningEnvelope[0]) * 65536;
    }
    channel->fadeoutVolume = FULL_FADE;
    if (instrument->vibratoDepth > 0) {
        note.autoVibratoPosition = 0;
        if (instrument->vibratoSweep > 0) {
            note.autoVibratoAmplitude = 0;
            note.autoVibratoSweep = (instrument->vibratoDepth << 8) / instrument->vibratoSweep;
        } else {
            note.autoVibratoAmplitude = instrument->vibratoDepth << 8;
            note.autoVibratoSweep = 0;
        }
    }
}

void MoveEnvelope(EnvelopeState* state, const EnvelopeShape& shape);

struct Trigger {
    bool offset;       // the cell's effect is 9xx
    uint8_t parameter; // its parameter
};

// Starts a note (0: the last one again; key-off releases instead). The note takes the selected
// instrument and its sample. A note that the sample's relative note moves beyond the table
// changes the sample but starts nothing and keeps the instrument and the volume defaults.
void StartNote(Player* player, MusicChannel* channel, uint8_t note, Trigger trigger) {
    StandardNoteState& state = channel->standardNote;
    if (note == KEY_OFF) {
        StandardKeyOff(channel);
        return;
    }
    if (note == 0) note = state.lastNote;
    if (note == 0) return;
    state.lastNote = note;
    const Instrument* instrument = NumberedInstrument(player->module, state.instrumentNumber);
    const Sample* sample = NoteSample(instrument, note);
    channel->sample = sample;
    const int32_t realNote = note - 1 + sample->relativeNote;
    // Such a note leaves the playing instrument (its envelopes and fade-out speed) as it was.
    if (realNote < -1 || realNote >= 119) return;
    // A note without instrument number that changes the instrument starts its fade-out afresh
    // (a key-off stays in force) and moves the envelope onto the new instrument's.
    if (state.instrument && state.instrument != instrument) {
        channel->fadeoutVolume = FULL_FADE;
        if (instrument->volumeEnvelopeFlags & ENVELOPE_ON)
            MoveEnvelope(&channel->volumeEnvelope, VolumeShape(instrument));
    }
    state.instrument = instrument;
    // A note of an instrument the song lacks (or one without samples) leaves the defaults an
    // instrument number puts back as the last real sample set them.
    if (instrument != &emptyInstrument) {
        state.defaultVolume = sample->volume;
        state.defaultPanning = sample->panning;
    }
    if (realNote >= 0) {
        channel->realNote = static_cast<uint8_t>(realNote);
        channel->notePeriod = NotePeriod(player->module, realNote, SampleFinetune(player, sample));
        channel->period = channel->notePeriod;
    }
    channel->updateFlags |= UPDATE_TRIGGER;
    // 9xx sets its memory only on a note it starts (not on a tone portamento's, nor on a row
    // without a note); 900 starts at the remembered offset.
    uint32_t offset = 0;
    if (trigger.offset) {
        if (trigger.parameter != 0) state.offsetMemory = trigger.parameter;
        offset = static_cast<uint32_t>(state.offsetMemory) * 256u;
    }
    if (channel->voice) channel->voice->startOffset = offset;
}

// A tone portamento's note: the slide's target for the playing sample (its relative note and
// finetune, whatever sample the note would pick); nothing starts.
void PreparePortamento(Player* player, MusicChannel* channel, uint8_t note) {
    const Sample* sample = PlayingSample(*channel);
    const int32_t realNote = note - 1 + sample->relativeNote;
    if (realNote < 0 || realNote >= 120) return;
    channel->notePeriod = NotePeriod(player->module, realNote, SampleFinetune(player, sample));
}

// The row's note and instrument (not on a delayed row: the note delay reads them on its tick).
void ReadNote(Player* player, MusicChannel* channel, const PatternCell& cell) {
    StandardNoteState& state = channel->standardNote;
    const uint8_t instrument = cell.instrument;
    if (instrument != 0) {
        state.instrumentNumber = instrument;
        channel->instrumentIndex = static_cast<uint8_t>(instrument - 1);
    }
    uint8_t note = IsNote(cell.note) || cell.note == KEY_OFF ? cell.note : 0;
    // K00 is a key-off in the note's place: the cell's note does not start, and an instrument
    // number beside it acts as beside a key-off.
    if (cell.effect == 0x14 && cell.effectParameter == 0) note = KEY_OFF;
    if (note == KEY_OFF) {
        // Beside a key-off the instrument number puts back the volume and panning but neither
        // restarts the envelopes nor presses the key again.
        StandardKeyOff(channel);
        // Tremor's count goes on beside a key-off with an instrument number, as the original
        // tracker's own test song describes (the peer starts it over there). Beside a key-off
        // note the volume put back sounds until tremor's next silent tick; beside K00 the
        // silence holds over the row (see HoldTremorSilence).
        if (instrument != 0) {
            ResetVolumes(channel);
            if (cell.note == KEY_OFF) channel->standardEffects.tremorMuted = 0;
        }
        return;
    }
    if (note != 0) {
        if (IsTonePortamentoRow(cell))
            PreparePortamento(player, channel, note);
        else
            StartNote(player, channel, note, Trigger{cell.effect == 0x9, cell.effectParameter});
    }
    if (instrument != 0) {
        if (channel->sample == nullptr) {
            // On a track that has played no note yet the defaults are those of the sample the
            // instrument maps the middle of the keyboard to.
            const Sample* sample = NoteSample(NumberedInstrument(player->module, instrument), 49);
            state.defaultVolume = sample->volume;
            state.defaultPanning = sample->panning;
        }
        ResetVolumes(channel);
        RestartInstrument(channel);
    }
}

// The volume column on the row tick: set volume and panning, the fine slides, the vibrato's
// speed, the tone portamento's speed.
void StandardVolumeRow(MusicChannel* channel, uint8_t v) {
    const int32_t y = v & 15;
    switch (v >> 4) {
    case 0x1:
    case 0x2:
    case 0x3:
    case 0x4: channel->volume = v - 0x10; break;
    case 0x5:
        if (v == 0x50) channel->volume = 64;
        break;
    case 0x8: channel->volume = std::max(channel->volume - y, 0); break;
    case 0x9: channel->volume = std::min(channel->volume + y, 64); break;
    case 0xA:
        if (y != 0) channel->vibratoSpeed = static_cast<uint8_t>(y);
        break;
    case 0xC: channel->panning = y * 16; break;
    case 0xF:
        if (y != 0) channel->portaSpeed = static_cast<uint8_t>(y * 16);
        channel->portaTarget = channel->notePeriod;
        break;
    default: break;
    }
}

// The volume column on the later ticks: the slides, vibrato and tone portamento.
void StandardVolumeTick(MusicChannel* channel, uint8_t v) {
    const int32_t y = v & 15;
    switch (v >> 4) {
    case 0x6: channel->volume = std::max(channel->volume - y, 0); break;
    case 0x7: channel->volume = std::min(channel->volume + y, 64); break;
    case 0xB:
        if (y != 0) channel->vibratoDepth = static_cast<uint8_t>(y);
        Vibrato(channel);
        AdvanceVibrato(channel);
        break;
    case 0xD:
        // The tracker subtracts the slide as the byte 256 - y, and a left slide of 0 (the byte
        // 0) takes the panning to hard left.
        channel->panning = y == 0 ? 0 : std::max(channel->panning - y, 0);
        break;
    case 0xE: channel->panning = std::min(channel->panning + y, 255); break;
    case 0xF: TonePortamento(channel); break;
    default: break;
    }
}

// EDx on its tick: the row's note starts now (the last note again when the row has none, a
// key-off releases), the instrument number puts back the defaults, and the envelopes restart
// in every case, even after a key-off (which so loses its release and fade-out). Of the volume
// column only a set volume or set panning applies.
void NoteDelay(Player* player, MusicChannel* channel, const PatternCell& cell) {
    StandardNoteState& state = channel->standardNote;
    if (cell.instrument != 0) {
        state.instrumentNumber = cell.instrument;
        channel->instrumentIndex = static_cast<uint8_t>(cell.instrument - 1);
    }
    const uint8_t note = IsNote(cell.note) || cell.note == KEY_OFF ? cell.note : 0;
    // A delayed key-off puts back the sample's default volume (not its panning) first: with a
    // volume envelope the note so sounds again (restarted below), without one key-off silences
    // it.
    if (note == KEY_OFF) channel->volume = state.defaultVolume;
    StartNote(player, channel, note, Trigger{false, 0});
    if (cell.instrument != 0) ResetVolumes(channel);
    RestartInstrument(channel);
    const uint8_t v = cell.volumeColumn;
    if (v >= 0x10 && v <= 0x50) channel->volume = v - 0x10;
    // Beside a delayed key-off a set panning is lost (a set volume is not).
    if (v >= 0xC0 && v <= 0xCF && note != KEY_OFF) channel->panning = (v & 15) * 16;
}

// One tick of an envelope. `tick` is the tick about to be played, 0 at the restart (the
// effect that sets the envelope position leaves it at its parameter); reaching a point's tick sets
// the point's value and heads for the next point, or holds at the sustain point while the key
// is down (the tick runs on, so the point is not met again until key-off moves it back), or
// jumps from the loop's end to its start.
void EnvelopeTick(EnvelopeState* state, const EnvelopeShape& shape, bool keyOff) {
    const int32_t n = std::min<int32_t>(shape.pointCount, MAX_ENVELOPE_POINTS);
    if (n == 0) return;
    const EnvelopePoint* points = shape.points;
    int32_t point = std::clamp(state->point, 0, n - 1);
    if (state->tick != points[point].x) {
        state->fixed += state->slope;
    } else {
        state->fixed = PointValue(points[point]) * 65536;
        point += 1;
        if (shape.flags & ENVELOPE_LOOP) {
            // At the loop's end the envelope goes back to the loop's start, unless the end is
            // also the sustain point and the key is released.
            if (point - 1 == shape.loopEnd && shape.loopStart < n &&
                (!(shape.flags & ENVELOPE_SUSTAIN) || point - 1 != shape.sustain || !keyOff)) {
                point = shape.loopStart;
                state->tick = points[point].x;
                state->fixed = PointValue(points[point]) * 65536;
                point += 1;
            }
        }
        if (point >= n) {
            state->slope = 0;
        } else if ((shape.flags & ENVELOPE_SUSTAIN) && !keyOff && point - 1 == shape.sustain) {
            state->point = point - 1;
            state->slope = 0;
        } else {
            state->point = point;
            const int32_t dx = points[point].x - points[point - 1].x;
            const int32_t dy = PointValue(points[point]) - PointValue(points[point - 1]);
            state->slope = dx > 0 ? dy * 65536 / dx : 0;
        }
    }
    // Past its last point an envelope stays there: its position does not run on.
    if (state->slope != 0 || state->point != n - 1 || state->tick <= points[n - 1].x)
        state->tick += 1;
    state->fixed = std::clamp(state->fixed, 0, 64 * 65536);
    state->value = state->fixed >> 16;
}

// Moves an envelope onto another shape, keeping its position: a note without instrument number
// that changes the playing instrument goes on with the new instrument's envelope from where the
// old one stood (the position it played last, played again), at the new envelope's value there.
void MoveEnvelope(EnvelopeState* state, const EnvelopeShape& shape) {
    const int32_t n = std::min<int32_t>(shape.pointCount, MAX_ENVELOPE_POINTS);
    if (n == 0) return;
    const EnvelopePoint* points = shape.points;
    state->tick = std::max(state->tick - 1, 0);
    int32_t point = 0;
    while (point < n - 1 && points[point].x < state->tick) ++point;
    state->point = point;
    if (point == 0 || points[point].x < state->tick) {
        // Before the first point, or past the last: the point's value, held.
        state->fixed = PointValue(points[point]) * 65536;
        state->slope = 0;
        if (points[point].x < state->tick) state->tick = points[point].x + 1;
        return;
    }
    const int32_t dx = points[point].x - points[point - 1].x;
    const int32_t dy = PointValue(points[point]) - PointValue(points[point - 1]);
    state->slope = dx > 0 ? dy * 65536 / dx : 0;
    state->fixed = PointValue(points[point - 1]) * 65536 +
                   state->slope * (state->tick - 1 - points[point - 1].x);
}

// The instrument's auto-vibrato: its depth grows over `sweep` ticks while the key is down.
void AutoVibratoTick(MusicChannel* channel, const Instrument* instrument) {
    StandardNoteState& state = channel->standardNote;
    if (instrument->vibratoDepth == 0) return;
    int32_t amplitude = state.autoVibratoAmplitude;
    if (state.autoVibratoSweep > 0) {
        // After key-off a sweep that has not ended leaves the amplitude at one step of it.
        amplitude = state.autoVibratoSweep;
        if (!channel->keyOff) {
            amplitude += state.autoVibratoAmplitude;
            if ((amplitude >> 8) > instrument->vibratoDepth) {
                amplitude = instrument->vibratoDepth << 8;
                state.autoVibratoSweep = 0;
            }
            state.autoVibratoAmplitude = amplitude;
        }
    }
    state.autoVibratoPosition =
        static_cast<uint8_t>(state.autoVibratoPosition + instrument->vibratoRate);
    const int32_t q = state.autoVibratoPosition;
    int32_t wave;
    switch (instrument->vibratoType) {
    case 1: wave = q > 127 ? 64 : -64; break;
    case 2: wave = (((q >> 1) + 64) & 127) - 64; break;
    case 3: wave = (((-(q >> 1)) + 64) & 127) - 64; break;
    default:
        // The sine starts downwards, rounded to whole steps of 64.
        wave = -static_cast<int32_t>(std::lround(64.0 * std::sin(q * 3.14159265358979 / 128.0)));
        break;
    }
    channel->periodDelta += (wave * amplitude) >> 14;
}

// What every tick ends with: the fade-out after key-off, the envelopes, the auto-vibrato, and
// the levels pushed into the voice.
void FinishTick(Player* player, MusicChannel* channel) {
    StandardNoteState& state = channel->standardNote;
    const Instrument* instrument = PlayingInstrument(*channel);
    // The fade-out runs from the key-off's own tick, with or without a volume envelope (a
    // volume set after a key-off without envelope fades too), at the speed of the instrument
    // playing now: a note without instrument number that changes the instrument changes the
    // speed of a fade already running.
    if (channel->keyOff)
        channel->fadeoutVolume = std::max(channel->fadeoutVolume - instrument->fadeout, 0);
    const bool keyOff = channel->keyOff != 0;
    if (instrument->volumeEnvelopeFlags & ENVELOPE_ON) {
        EnvelopeTick(&channel->volumeEnvelope, VolumeShape(instrument), keyOff);
        state.envelopeVolume = channel->volumeEnvelope.fixed;
    } else {
        state.envelopeVolume = 64 * 65536;
    }
    if (instrument->panningEnvelopeFlags & ENVELOPE_ON) {
        // The panning envelope reaches the voice a tick later than the volume envelope: each
        // tick pans by the value the envelope had before its step.
        state.envelopePanning = channel->panningEnvelope.fixed;
        EnvelopeTick(&channel->panningEnvelope, PanningShape(instrument), keyOff);
    } else {
        state.envelopePanning = 32 * 65536;
    }
    AutoVibratoTick(channel, instrument);
    channel->updateFlags |= ALL_LEVELS;

    const Sample* sample = PlayingSample(*channel);
    if ((channel->updateFlags & UPDATE_TRIGGER) && channel->voice) {
        // An offset at or past the sample's end cuts the note; one past a loop's end (the
        // sample going on beyond its loop) starts inside the loop.
        Voice* voice = channel->voice;
        const uint32_t loopEnd = sample->loopStart + sample->loopLength;
        if (voice->startOffset >= sample->length) {
            voice->startOffset = 0;
            sample = &silentSample;
        } else if (voice->startOffset >= loopEnd && sample->loopKind != LOOP_NONE &&
                   sample->loopLength > 0) {
            voice->startOffset =
                sample->loopStart + (voice->startOffset - loopEnd) % sample->loopLength;
        }
    }
    UpdateVoice(player, channel, sample);
}

} // namespace

void StandardKeyOff(MusicChannel* channel) {
    channel->keyOff = 1;
    const Instrument* instrument = PlayingInstrument(*channel);
    if (instrument->volumeEnvelopeFlags & ENVELOPE_ON) {
        // A volume envelope held at its sustain point goes on from that point at the next tick.
        EnvelopeState& envelope = channel->volumeEnvelope;
        const int32_t n = std::min<int32_t>(instrument->volumePointCount, MAX_ENVELOPE_POINTS);
        if (n > 0) {
            const int32_t x = instrument->volumeEnvelope[std::clamp(envelope.point, 0, n - 1)].x;
            if (envelope.tick > x) envelope.tick = x;
        }
    } else {
        // Without a volume envelope key-off sets the volume to 0: a later volume command makes
        // the note sound again (fading out).
        channel->volume = 0;
    }
    // The panning envelope is not moved back to its sustain point: one that holds there stays
    // there after key-off.
}

namespace {

// A track whose effect column is a note delay or Kxx runs no effect: a silence that tremor left
// holds over the row (a volume set there included), unless a note starts: on the delay's tick
// after a delay, at once beside Kxx (K00 is a key-off in the note's place).
void HoldTremorSilence(MusicChannel* channel, const PatternCell& cell, int32_t tick) {
    if (!channel->standardEffects.tremorMuted) return;
    const bool delay = IsNoteDelay(cell);
    const int32_t start = delay ? cell.effectParameter & 15 : 0;
    const bool noteStarts = IsNote(cell.note) && (delay || cell.effectParameter != 0);
    if (noteStarts && tick >= start) return;
    channel->volumeDelta = -channel->volume;
    channel->updateFlags |= UPDATE_VOLUME;
}

} // namespace

void StandardProcessRow(Player* player) {
    const Module* module = player->module;
    player->nextOrderPosition = -1;
    player->nextRow = -1;
    bool jumpSeen = false;
    const PatternCell* cells = RowCells(player);
    player->currentRowCells = cells;
    const int32_t tracks = TrackCount(module);
    for (int32_t c = 0; c < tracks; ++c) {
        const PatternCell& cell = cells[c];
        MusicChannel* channel = &player->channels[c];
        const RowLevels before{channel->volume, channel->period, channel->panning};
        if (channel->lastEffect == 7 && cell.effect != 7)
            channel->volume = before.volume + channel->volumeDelta;
        channel->lastEffect = cell.effect;
        channel->volumeDelta = 0;
        channel->periodDelta = 0;
        channel->updateFlags = 0;

        // A delayed row's note, instrument and volume column wait for the delay's tick.
        if (!IsNoteDelay(cell) || (cell.effectParameter & 15) == 0) {
            ReadNote(player, channel, cell);
            StandardVolumeRow(channel, cell.volumeColumn);
        }
        FlowControl(player, channel, cell, &jumpSeen);
        if (!OwnEffect(cell))
            StandardEffectRow(player, channel, cell, PlayingInstrument(*channel),
                              PlayingSample(*channel), before);
        else if (IsNoteDelay(cell) || cell.effect == 0x14)
            HoldTremorSilence(channel, cell, 0);
        FinishTick(player, channel);
    }
}

void StandardProcessTick(Player* player) {
    const Module* module = player->module;
    const PatternCell* cells = player->currentRowCells ? player->currentRowCells : emptyRow;
    const int32_t tracks = TrackCount(module);
    // Note delay and Kxx count the ticks of each row period: inside a pattern delay they act
    // again in every repetition of the row.
    const int32_t tick = player->flow.periodTick;
    for (int32_t c = 0; c < tracks; ++c) {
        const PatternCell& cell = cells[c];
        MusicChannel* channel = &player->channels[c];
        channel->volumeDelta = 0;
        channel->periodDelta = 0;
        channel->updateFlags = 0;
        StandardVolumeTick(channel, cell.volumeColumn);
        if (IsNoteDelay(cell)) {
            if (tick == (cell.effectParameter & 15)) NoteDelay(player, channel, cell);
            HoldTremorSilence(channel, cell, tick);
        } else if (cell.effect == 0x14) {
            if (tick == cell.effectParameter) StandardKeyOff(channel);
            HoldTremorSilence(channel, cell, tick);
        } else if (!OwnEffect(cell)) {
            StandardEffectTick(player, channel, cell, PlayingInstrument(*channel),
                               PlayingSample(*channel));
        }
        FinishTick(player, channel);
    }
}
