// sequencer.cpp: the row and tick driver every rule set shares: the order list and rows, the tempo,
// the per-track row tick and later ticks as a fixed order of the rule set's operations, the voice
// update with the partner trigger, and the wrap watch. The rule sets' own timing, flow control,
// notes and effects lie in rules_demo.cpp and rules_standard.cpp (and the files they name). Runs
// inside MixBlock on the thread that renders the player.
#include "music/sequencer.h"

#include "music/mixer.h"
#include "music/module.h"
#include "music/player.h"
#include "music/sequencer_internal.h"

#include <cstring>

const Instrument emptyInstrument{};

// Read in place of a row that lies outside its pattern.
const PatternCell emptyRow[MAX_CHANNELS] = {};

// Tracks the sequencer drives: the table has MAX_CHANNELS records whatever the file claims.
int32_t TrackCount(const Module* module) {
    return std::clamp<int32_t>(module->channelCount, 0, MAX_CHANNELS);
}

namespace {

const Pattern* PatternAt(const Module* module, int32_t orderPosition) {
    if (orderPosition < 0 || orderPosition >= 256 || module->patterns == nullptr) return nullptr;
    int32_t index = module->orders[orderPosition];
    if (index >= module->patternCount) return nullptr;
    return &module->patterns[index];
}

} // namespace

int32_t RowCount(const Module* module, int32_t orderPosition) {
    const Pattern* pattern = PatternAt(module, orderPosition);
    return pattern ? pattern->rowCount : 0;
}

// A row at or beyond the end of its pattern (a break naming a row the next pattern lacks, a loop
// row remembered from a longer pattern, a pattern of no rows) is played as an empty row; the
// end-of-pattern check then moves on to the next order position. Nothing beyond the pattern is
// read.
const PatternCell* RowCells(const Player* player) {
    const Module* module = player->module;
    const Pattern* pattern = PatternAt(module, player->orderPosition);
    if (pattern == nullptr || pattern->cells == nullptr || player->row < 0 ||
        player->row >= pattern->rowCount)
        return emptyRow;
    return pattern->cells + static_cast<int64_t>(player->row) * module->channelCount;
}

// Notes 97-254 are not written by valid files; they are taken as no note, so that the note
// index always stays inside the 96-entry sample map.
bool IsNote(uint8_t note) {
    return note >= 1 && note <= 96;
}

// D's row: the parameter read as two decimal digits; beyond row 63 it is row 0.
int32_t BreakRow(int32_t x, int32_t y) {
    return 10 * x + y > 63 ? 0 : 10 * x + y;
}

// E6y (y > 0) on a track: counts the loop's passes; true while it still jumps back.
bool CountLoopPass(MusicChannel* channel, int32_t y) {
    channel->loopCount = channel->loopCount == 0 ? y : channel->loopCount - 1;
    return channel->loopCount != 0;
}

// F: up to 31 sets the ticks per row, from 32 on the tempo.
void SetSpeedOrTempo(Player* player, int32_t parameter) {
    if (parameter <= 31)
        player->speed = parameter;
    else
        SetBpm(player, parameter);
}

namespace {

// Called on every row tick that enters an order position (the first row tick, and every row
// tick after an order change, a jump or a break), at the position entered.
void WatchEntry(Player* player) {
    WrapWatch& watch = player->watch;
    const int32_t order = player->orderPosition, row = player->row;
    if (order < 0 || order > 255 || row < 0 || row > 255) return;
    uint8_t& bits = watch.entered[order][row / 8];
    const uint8_t bit = static_cast<uint8_t>(1u << (row % 8));
    if (bits & bit) {
        if (watch.wraps == 0) {
            watch.firstFrame = player->framesMixed;
            watch.firstOrder = order;
            watch.firstRow = row;
        }
        watch.wraps += 1;
        watch.lastFrame = player->framesMixed;
        std::memset(watch.entered, 0, sizeof watch.entered);
        NoteWrap(player);
    }
    watch.entered[order][row / 8] |= bit;
}

} // namespace

void SetBpm(Player* player, int32_t bpm) {
    // A tempo below 1 (a file may hold 0) would divide by zero; it is taken as 1. The tick
    // always lasts at least one frame, so the mixer makes progress whatever the tempo and rate.
    bpm = std::max(bpm, 1);
    player->bpm = bpm;
    double frames = ((1000.0 / ((2.0 * bpm) / 5.0)) * player->mixer.mixRate) / 1000.0;
    player->tickFrames = frames >= 1.0 ? static_cast<int32_t>(std::min(frames, 2147483647.0)) : 1;
}

void ResetChannels(Player* player) {
    player->currentRowCells = nullptr;
    const int32_t tracks = TrackCount(player->module);
    for (int32_t c = 0; c < tracks; ++c) {
        // The whole record, the rule set's own part included, starts at zero.
        std::memset(&player->channels[c], 0, sizeof(MusicChannel));
        player->channels[c].voice = &player->voices[c];
    }
}

void EnterNextRow(Player* player) {
    const bool entering = !player->watch.started || player->nextOrderPosition >= 0;
    player->watch.started = true;
    if (player->nextOrderPosition >= 0) player->orderPosition = player->nextOrderPosition;
    if (player->nextRow >= 0) player->row = player->nextRow;
    player->playingRow = player->row;
    if (entering) WatchEntry(player);
    player->events.orderEntered = entering;
}

void SequencerTick(Player* player) {
    const Module* module = player->module;
    const int32_t tick = player->tick;
    player->ruleSet->advance(player);
    const int32_t order = player->orderPosition;
    player->position = PlayerPosition{order,
                                      order >= 0 && order < 256 ? module->orders[order] : 0,
                                      player->playingRow,
                                      tick,
                                      player->speed,
                                      player->bpm};
}

bool IsTonePortamentoRow(const PatternCell& cell) {
    // A volume-column tone portamento (Fy) also makes the row a tone-portamento row: its note is
    // the slide's target and starts nothing, as with effects 3 and 5, instead of jumping to the
    // target at once and leaving the slide nothing to do.
    return cell.effect == 3 || cell.effect == 5 || cell.volumeColumn >= 0xF0;
}

// Every rule set's row tick runs the same steps on each track; the table fills them in.
void ProcessRow(Player* player) {
    const RuleSet& rules = *player->ruleSet;
    player->nextOrderPosition = -1;
    player->nextRow = -1;
    bool jumpSeen = false;
    const PatternCell* cells = RowCells(player);
    player->currentRowCells = cells;
    RecordRowEvents(player);
    const int32_t tracks = TrackCount(player->module);
    for (int32_t c = 0; c < tracks; ++c) {
        const PatternCell& cell = cells[c];
        MusicChannel* channel = &player->channels[c];
        const RowLevels before{channel->volume, channel->period, channel->panning};
        // Tremolo's change of the volume stays when the row ends the tremolo.
        if (channel->lastEffect == 7 && cell.effect != 7)
            channel->volume = before.volume + channel->volumeDelta;
        channel->lastEffect = cell.effect;
        channel->volumeDelta = 0;
        channel->periodDelta = 0;
        channel->updateFlags = 0;

        const Selection playing = rules.noteRow(player, channel, cell);
        if (rules.envelopesBeforeEffects) rules.envelopes(channel, playing.instrument, true);
        rules.flowControl(player, channel, cell, &jumpSeen);
        rules.effectRow(player, channel, cell, playing, before);
        if (!rules.envelopesBeforeEffects) rules.envelopes(channel, playing.instrument, true);
        rules.autoVibrato(channel, playing.instrument);
        rules.finishTrack(player, channel, playing.sample);
    }
}

void ProcessTick(Player* player) {
    const RuleSet& rules = *player->ruleSet;
    const PatternCell* cells = player->currentRowCells ? player->currentRowCells : emptyRow;
    const int32_t tracks = TrackCount(player->module);
    for (int32_t c = 0; c < tracks; ++c) {
        const PatternCell& cell = cells[c];
        MusicChannel* channel = &player->channels[c];
        channel->volumeDelta = 0;
        channel->periodDelta = 0;
        channel->updateFlags = 0;
        Selection playing = rules.playing(player, *channel);
        if (rules.envelopesBeforeEffects) rules.envelopes(channel, playing.instrument, false);
        VolumeColumnTick(player, channel, cell.volumeColumn);
        rules.effectTick(player, channel, cell, &playing);
        if (!rules.envelopesBeforeEffects) rules.envelopes(channel, playing.instrument, false);
        rules.autoVibrato(channel, playing.instrument);
        rules.finishTrack(player, channel, playing.sample);
    }
}

int32_t SampleFinetune(const Player* player, const Sample* sample) {
    if (sample->id > 0 && player->sampleFinetunes && sample->id <= player->module->sampleCount)
        return player->sampleFinetunes[sample->id];
    return sample->finetune;
}

void SetSampleFinetune(Player* player, const Sample* sample, int32_t finetune) {
    // Only the song's own samples take a new finetune: the shared silent sample stands for every
    // missing one and keeps 0.
    if (sample->id > 0 && player->sampleFinetunes && sample->id <= player->module->sampleCount)
        player->sampleFinetunes[sample->id] = static_cast<int8_t>(finetune);
}

void UpdateVoice(Player* player, MusicChannel* channel, const Sample* sample) {
    if (channel->period == -channel->periodDelta) channel->updateFlags &= ~UPDATE_FREQUENCY;
    if (channel->updateFlags & UPDATE_TRIGGER) {
        RecordNoteStarted(player, channel, sample);
        // Voice numbers stay below MIXED_VOICES: track c starts on voice c and moves only
        // between it and its partner c + 32.
        const int32_t n = channel->voice ? channel->voice->voiceNumber : 0;
        Voice* voice = &player->voices[n];
        if (voice->sample != nullptr) {
            const int32_t partnerNumber = n <= 31 ? n + 32 : n - 32;
            Voice* partner = &player->voices[partnerNumber];
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
        voice->pendingSample = nullptr; // a new note plays its own sample
    }
    if (channel->updateFlags & UPDATE_VOLUME) player->ruleSet->volumeLaw(player, channel);
    if (channel->updateFlags & UPDATE_PANNING) player->ruleSet->panningLaw(player, channel);
    if (channel->updateFlags & UPDATE_FREQUENCY) FrequencyStep(player, channel);
    if ((channel->updateFlags & UPDATE_REWIND) && channel->voice) {
        channel->voice->position = 0;
        channel->voice->positionFraction = 0;
        channel->voice->startOffset = 0;
    }
}
