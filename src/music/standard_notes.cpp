// standard_notes.cpp: the note side of the standard rules, as the original tracker plays it:
// notes and instruments, key-off, note delay and sample offset, and the tick's hand-over to the
// voice. Envelopes, fade-out and auto-vibrato lie in standard_envelopes.cpp, the rest of the
// effect column in standard_effects.cpp. Runs inside MixBlock on the thread that renders the
// player.
//
// A track keeps two instruments apart: the number its cells selected last (for the next note)
// and the instrument the last started note took, whose envelopes, fade-out and auto-vibrato play
// until another note starts. An instrument number without a note, or with a tone portamento's
// note, only puts back the playing sample's default volume and panning and restarts the playing
// instrument's envelopes.
#include "music/mixer.h"
#include "music/module.h"
#include "music/player.h"
#include "music/rules_standard.h"
#include "music/sequencer_internal.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr uint8_t KEY_OFF = 255;
constexpr uint8_t ALL_LEVELS = UPDATE_FREQUENCY | UPDATE_VOLUME | UPDATE_PANNING;

// What the notes of an instrument number the song does not have play: nothing, with volume 0
// and centred panning as defaults (which an instrument number then puts back).
const Sample emptySample = [] {
    Sample sample{};
    sample.panning = 128;
    return sample;
}();

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

// An instrument number puts back the default volume and panning of the sample the last note
// chose.
void ResetVolumes(MusicChannel* channel) {
    channel->volume = channel->standard.note.defaultVolume;
    channel->panning = channel->standard.note.defaultPanning;
}

// An instrument number (with a note or without) restarts the playing instrument, and the
// vibrato and tremolo phases unless their waveform keeps them; the effect column hears of it.
void RestartInstrument(MusicChannel* channel) {
    if ((channel->waveControl & 0x0F) < 4) channel->vibratoPosition = 0;
    if ((channel->waveControl >> 4) < 4) channel->tremoloPosition = 0;
    channel->standard.noteRestarted = 1;
    RestartPlayingInstrument(channel);
}

struct Trigger {
    bool offset;       // the cell's effect is 9xx
    uint8_t parameter; // its parameter
};

// Starts a note (0: the last one again; key-off releases instead). The note takes the selected
// instrument and its sample. A note that the sample's relative note moves beyond the table
// changes the sample but starts nothing and keeps the instrument and the volume defaults.
void StartNote(Player* player, MusicChannel* channel, uint8_t note, Trigger trigger) {
    StandardNoteState& state = channel->standard.note;
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
        MoveVolumeEnvelope(channel, instrument);
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

// Tone portamento's target and direction, set by a note on a tone-portamento row (3xx, 5xy or
// the volume column's Mx, whatever the effect column holds beside Mx: 9xx, Kxx and ED0 too).
void AimPortamento(MusicChannel* channel) {
    StandardEffectState& s = channel->standard.effects;
    channel->portaTarget = channel->notePeriod;
    if (channel->portaTarget == channel->period)
        s.portaDirection = 0;
    else
        s.portaDirection = channel->portaTarget > channel->period ? 1 : 2;
}

// The row's note and instrument (not on a delayed row: the note delay reads them on its tick).
void ReadNote(Player* player, MusicChannel* channel, const PatternCell& cell) {
    StandardNoteState& state = channel->standard.note;
    const uint8_t instrument = cell.instrument;
    if (instrument != 0) {
        state.instrumentNumber = instrument;
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
            if (cell.note == KEY_OFF) channel->standard.effects.tremorMuted = 0;
        }
        return;
    }
    if (note != 0) {
        if (IsTonePortamentoRow(cell)) {
            PreparePortamento(player, channel, note);
            AimPortamento(channel);
        } else
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

// EDx on its tick: the row's note starts now (the last note again when the row has none, a
// key-off releases), the instrument number puts back the defaults, and the envelopes restart
// in every case, even after a key-off (which so loses its release and fade-out). Of the volume
// column only a set volume or set panning applies.
} // namespace

void NoteDelay(Player* player, MusicChannel* channel, const PatternCell& cell) {
    StandardNoteState& state = channel->standard.note;
    if (cell.instrument != 0) {
        state.instrumentNumber = cell.instrument;
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

void StandardKeyOff(MusicChannel* channel) {
    channel->keyOff = 1;
    const Instrument* instrument = StandardPlayingInstrument(*channel);
    if (instrument->volumeEnvelopeFlags & ENVELOPE_ON) {
        // A volume envelope held at its sustain point goes on from that point at the next tick.
        EnvelopeState& envelope = channel->volumeEnvelope;
        const int32_t n = UsedPoints(VolumeShape(instrument));
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

// A track whose effect column is a note delay or Kxx runs no effect: a silence that tremor left
// holds over the row (a volume set there included), unless a note starts: on the delay's tick
// after a delay, at once beside Kxx (K00 is a key-off in the note's place).
void HoldTremorSilence(MusicChannel* channel, const PatternCell& cell, int32_t tick) {
    if (!channel->standard.effects.tremorMuted) return;
    const bool delay = IsNoteDelay(cell);
    const int32_t start = delay ? cell.effectParameter & 15 : 0;
    const bool noteStarts = IsNote(cell.note) && (delay || cell.effectParameter != 0);
    if (noteStarts && tick >= start) return;
    channel->volumeDelta = -channel->volume;
    channel->updateFlags |= UPDATE_VOLUME;
}

Selection StandardNoteRow(Player* player, MusicChannel* channel, const PatternCell& cell) {
    // A delayed row's note, instrument and volume column wait for the delay's tick.
    if (!IsNoteDelay(cell) || (cell.effectParameter & 15) == 0) {
        ReadNote(player, channel, cell);
        VolumeColumnRow(player, channel, cell.volumeColumn);
    }
    return StandardPlaying(player, *channel);
}

const Instrument* StandardPlayingInstrument(const MusicChannel& channel) {
    const Instrument* instrument = channel.standard.note.instrument;
    return instrument ? instrument : &emptyInstrument;
}

Selection StandardPlaying(const Player* player, const MusicChannel& channel) {
    (void)player;
    return {StandardPlayingInstrument(channel), PlayingSample(channel)};
}

void StandardFinishTrack(Player* player, MusicChannel* channel, const Sample* sample) {
    channel->updateFlags |= ALL_LEVELS;
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
