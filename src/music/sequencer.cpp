// sequencer.cpp: the row and tick driver (order list, rows, tempo, flow control, per-track row and
// tick processing, voice update with the partner trigger). Music thread (inside MixBlock).
#include "music/sequencer.h"

#include "music/mixer.h"
#include "music/module.h"

#include <algorithm>

MusicChannel channels[MAX_CHANNELS];
Instrument emptyInstrument;

namespace {

// The cells read by the last row tick; the later ticks of that row work on them.
const PatternCell* currentRowCells = nullptr;
// Read in place of a row that lies outside its pattern.
const PatternCell emptyRow[MAX_CHANNELS] = {};

// Tracks the sequencer drives: the table has MAX_CHANNELS records whatever the file claims.
int32_t TrackCount(const Module* module) {
    return std::clamp<int32_t>(module->channelCount, 0, MAX_CHANNELS);
}

const Pattern* PatternAt(const Module* module, int32_t orderPosition) {
    if (orderPosition < 0 || orderPosition >= 256 || module->patterns == nullptr) return nullptr;
    int32_t index = module->orders[orderPosition];
    if (index >= module->patternCount) return nullptr;
    return &module->patterns[index];
}

int32_t RowCount(const Module* module, int32_t orderPosition) {
    const Pattern* pattern = PatternAt(module, orderPosition);
    return pattern ? pattern->rowCount : 0;
}

// A row at or beyond the end of its pattern (a break naming a row the next pattern lacks, a loop
// row remembered from a longer pattern, a pattern of no rows) is played as an empty row; the
// end-of-pattern check then moves on to the next order position. Nothing beyond the pattern is
// read.
const PatternCell* RowCells(const Module* module) {
    const Pattern* pattern = PatternAt(module, module->orderPosition);
    if (pattern == nullptr || pattern->cells == nullptr || module->row < 0 ||
        module->row >= pattern->rowCount)
        return emptyRow;
    return pattern->cells + static_cast<int64_t>(module->row) * module->channelCount;
}

// Notes 97-254 are not written by valid files; they are taken as no note, so that the note
// index always stays inside the 96-entry sample map.
bool IsNote(uint8_t note) {
    return note >= 1 && note <= 96;
}

struct Selection {
    const Instrument* instrument;
    Sample* sample;
};

Selection Select(const Module* module, const MusicChannel& channel) {
    if (channel.instrumentIndex >= module->instrumentCount || module->instruments == nullptr)
        return {&emptyInstrument, &silentSample};
    const Instrument* instrument = &module->instruments[channel.instrumentIndex];
    uint8_t slot = instrument->sampleMap[std::min<int>(channel.noteIndex, 95)];
    Sample* sample = slot <= 15 ? instrument->samples[slot] : nullptr;
    return {instrument, sample ? sample : &silentSample};
}

void FlowControl(Module* module, MusicChannel* channel, const PatternCell& cell, bool* jumpSeen) {
    const int32_t p = cell.effectParameter, x = p >> 4, y = p & 15;
    switch (cell.effect) {
    case 0x0B:
        module->nextOrderPosition = p >= module->songLength ? 0 : p;
        module->nextRow = 0;
        *jumpSeen = true;
        break;
    case 0x0D:
        module->nextRow = 10 * x + y > 63 ? 0 : 10 * x + y;
        if (!*jumpSeen) module->nextOrderPosition = module->orderPosition + 1;
        if (module->nextOrderPosition >= module->songLength) module->nextOrderPosition = 0;
        break;
    case 0x0E:
        if (x == 6) {
            if (y == 0) {
                channel->loopRow = module->row;
            } else {
                channel->loopCount = channel->loopCount == 0 ? y : channel->loopCount - 1;
                if (channel->loopCount != 0) module->row = channel->loopRow - 1;
            }
        } else if (x == 14) {
            module->patternDelayTicks = y * module->speed;
        }
        break;
    case 0x0F:
        if (p <= 31)
            module->speed = p;
        else
            SetBpm(module, p);
        break;
    default: break;
    }
}

} // namespace

const PatternCell* CurrentRowCells() {
    return currentRowCells;
}

void SetBpm(Module* module, int32_t bpm) {
    // A tempo below 1 (a file may hold 0) would divide by zero; it is taken as 1. The tick
    // always lasts at least one frame, so the mixer makes progress whatever the tempo and rate.
    bpm = std::max(bpm, 1);
    module->bpm = bpm;
    double frames = ((1000.0 / ((2.0 * bpm) / 5.0)) * mixer.mixRate) / 1000.0;
    module->tickFrames = frames >= 1.0 ? static_cast<int32_t>(std::min(frames, 2147483647.0)) : 1;
}

void ResetChannels(Module* module) {
    currentRowCells = nullptr;
    const int32_t tracks = TrackCount(module);
    for (int32_t c = 0; c < tracks; ++c) {
        channels[c] = MusicChannel{};
        channels[c].voice = &voices[c];
    }
}

void SequencerTick(Module* module) {
    if (module->tick == 0) {
        if (module->nextOrderPosition >= 0) module->orderPosition = module->nextOrderPosition;
        if (module->nextRow >= 0) module->row = module->nextRow;
        ProcessRow(module);
        if (module->nextRow == -1) {
            module->nextRow = module->row + 1;
            if (module->nextRow >= RowCount(module, module->orderPosition)) {
                int32_t next = module->orderPosition + 1;
                module->nextOrderPosition =
                    next >= module->songLength ? module->restartPosition : next;
                module->nextRow = 0;
            }
        }
    } else {
        ProcessTick(module);
    }
    module->tick += 1;
    if (module->tick >= module->speed + module->patternDelayTicks) {
        module->patternDelayTicks = 0;
        module->tick = 0;
    }
}

bool IsTonePortamentoRow(const PatternCell& cell) {
    // A volume-column tone portamento (Fy) also makes the row a tone-portamento row: its note is
    // the slide's target and starts nothing, as with effects 3 and 5, instead of jumping to the
    // target at once and leaving the slide nothing to do.
    return cell.effect == 3 || cell.effect == 5 || cell.volumeColumn >= 0xF0;
}

void ProcessRow(Module* module) {
    module->nextOrderPosition = -1;
    module->nextRow = -1;
    bool jumpSeen = false;
    const PatternCell* cells = RowCells(module);
    currentRowCells = cells;
    const int32_t tracks = TrackCount(module);
    for (int32_t c = 0; c < tracks; ++c) {
        const PatternCell& cell = cells[c];
        MusicChannel* channel = &channels[c];
        const bool tonePortamento = IsTonePortamentoRow(cell);
        const bool hasNote = IsNote(cell.note);
        if (cell.instrument != 0 && !tonePortamento) channel->instrumentIndex = cell.instrument - 1;
        if (hasNote && !tonePortamento) channel->noteIndex = cell.note - 1;
        Selection selected = Select(module, *channel);
        if (selected.instrument != &emptyInstrument && !tonePortamento)
            channel->sample = selected.sample;

        const RowLevels before{channel->volume, channel->period, channel->panning};
        if (channel->lastEffect == 7 && cell.effect != 7)
            channel->volume = before.volume + channel->volumeDelta;
        channel->lastEffect = cell.effect;
        channel->volumeDelta = 0;
        channel->updateFlags = 0;

        if (hasNote) {
            channel->realNote = static_cast<uint8_t>(cell.note + selected.sample->relativeNote - 1);
            channel->notePeriod = NotePeriod(module, channel->realNote, selected.sample->finetune);
            if (!tonePortamento) channel->period = channel->notePeriod;
            channel->updateFlags = UPDATE_TRIGGER;
        }
        channel->periodDelta = 0;
        channel->updateFlags |= UPDATE_FREQUENCY | UPDATE_VOLUME;
        if (cell.instrument != 0) ResetChannelForInstrument(channel, selected.sample);
        if (cell.volumeColumn != 0) VolumeColumnRow(channel, cell.volumeColumn);
        if (cell.note == 255 || cell.effect == 0x14) channel->keyOff = 1;

        StepEnvelopes(channel, selected.instrument, true);
        if (channel->keyOff) {
            channel->fadeoutVolume =
                std::max(channel->fadeoutVolume - selected.instrument->fadeout, 0);
            channel->updateFlags |= UPDATE_VOLUME;
        }

        FlowControl(module, channel, cell, &jumpSeen);
        EffectRow(module, channel, cell, selected.instrument, selected.sample, before);
        AutoVibrato(channel, selected.instrument);
        UpdateVoice(channel, selected.sample, module);
    }
}

void ProcessTick(Module* module) {
    const PatternCell* cells = currentRowCells ? currentRowCells : emptyRow;
    const int32_t tracks = TrackCount(module);
    for (int32_t c = 0; c < tracks; ++c) {
        const PatternCell& cell = cells[c];
        MusicChannel* channel = &channels[c];
        Selection selected = Select(module, *channel);
        channel->volumeDelta = 0;
        channel->periodDelta = 0;
        channel->updateFlags = 0;
        StepEnvelopes(channel, selected.instrument, false);
        if (channel->keyOff) {
            channel->fadeoutVolume =
                std::max(channel->fadeoutVolume - selected.instrument->fadeout, 0);
            channel->updateFlags |= UPDATE_VOLUME;
        }
        VolumeColumnTick(channel, cell.volumeColumn);
        EffectTick(module, channel, cell, selected.instrument, selected.sample);
        AutoVibrato(channel, selected.instrument);
        UpdateVoice(channel, selected.sample, module);
    }
}

void UpdateVoice(MusicChannel* channel, Sample* sample, Module* module) {
    if (channel->period == -channel->periodDelta) channel->updateFlags &= ~UPDATE_FREQUENCY;
    if (channel->updateFlags & UPDATE_TRIGGER) {
        const int32_t n = channel->voice ? channel->voice->voiceNumber : 0;
        Voice* voice = &voices[n];
        if (voice->sample != nullptr) {
            const int32_t partnerNumber = n <= 31 ? n + 32 : n - 32;
            Voice* partner = &voices[partnerNumber];
            *partner = *voice;
            partner->voiceNumber = partnerNumber;
            voice->mixVolume = 0;
            voice->volumeLeft = 0;
            voice->volumeRight = 0;
            voice = partner;
        }
        channel->voice = voice;
        voice->sample = sample;
        if (voice->startOffset >= sample->loopStart + sample->loopLength) voice->startOffset = 0;
        voice->position = voice->startOffset;
        voice->positionFraction = 0;
        voice->direction = 1;
        voice->startOffset = 0;
        voice->currentLeft = 0;
        voice->currentRight = 0;
        voice->rampFrames = 0;
    }
    if (channel->updateFlags & UPDATE_VOLUME) VolumeStep(channel, module);
    if (channel->updateFlags & UPDATE_PANNING) PanningStep(channel);
    if (channel->updateFlags & UPDATE_FREQUENCY) FrequencyStep(channel, module);
    if ((channel->updateFlags & UPDATE_REWIND) && channel->voice) {
        channel->voice->position = 0;
        channel->voice->positionFraction = 0;
        channel->voice->startOffset = 0;
    }
}
