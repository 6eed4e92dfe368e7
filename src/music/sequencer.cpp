// sequencer.cpp: the row and tick driver (order list, rows, tempo, flow control, per-track row and
// tick processing, voice update with the partner trigger, the wrap watch). Runs inside MixBlock
// on the thread that renders the player.
#include "music/sequencer.h"

#include "music/mixer.h"
#include "music/module.h"
#include "music/player.h"
#include "music/sequencer_internal.h"

#include <algorithm>
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

int32_t RowCount(const Module* module, int32_t orderPosition) {
    const Pattern* pattern = PatternAt(module, orderPosition);
    return pattern ? pattern->rowCount : 0;
}

} // namespace

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

Selection Select(const Module* module, const MusicChannel& channel) {
    if (channel.instrumentIndex >= module->instrumentCount || module->instruments == nullptr)
        return {&emptyInstrument, &silentSample};
    const Instrument* instrument = &module->instruments[channel.instrumentIndex];
    uint8_t slot = instrument->sampleMap[std::min<int>(channel.noteIndex, 95)];
    const Sample* sample = slot < MAX_INSTRUMENT_SAMPLES ? instrument->samples[slot] : nullptr;
    return {instrument, sample ? sample : &silentSample};
}

namespace {

// D's row: the parameter read as two decimal digits; beyond row 63 it is row 0.
int32_t BreakRow(int32_t x, int32_t y) {
    return 10 * x + y > 63 ? 0 : 10 * x + y;
}

// E6y (y > 0) on a track: counts the loop's passes; true while it still jumps back.
bool CountLoopPass(MusicChannel* channel, int32_t y) {
    channel->loopCount = channel->loopCount == 0 ? y : channel->loopCount - 1;
    return channel->loopCount != 0;
}

// True when a track other than `channel` is inside a pattern loop (has passes still to play).
bool AnotherLoopRuns(const Player* player, const MusicChannel* channel) {
    for (int c = 0; c < player->module->channelCount; ++c) {
        if (&player->channels[c] != channel && player->channels[c].loopCount != 0) return true;
    }
    return false;
}

// F: up to 31 sets the ticks per row, from 32 on the tempo.
void SetSpeedOrTempo(Player* player, int32_t parameter) {
    if (parameter <= 31)
        player->speed = parameter;
    else
        SetBpm(player, parameter);
}

// The standard rules' flow commands, as the original tracker runs them: B, D, a pattern loop's
// jump and EEx only set marks that the row's end reads (StandardRowEnd), and B, D and the loop
// share one break row.
void StandardFlowControl(Player* player, MusicChannel* channel, const PatternCell& cell) {
    const Module* module = player->module;
    StandardFlow& flow = player->flow;
    const int32_t p = cell.effectParameter, x = p >> 4, y = p & 15;
    switch (cell.effect) {
    case 0x0B:
        // B also clears the break row: a D on an earlier track loses its row, one on a later
        // track keeps it.
        flow.jumpOrder = p;
        flow.breakRow = 0;
        flow.orderJump = true;
        break;
    case 0x0D:
        flow.breakRow = BreakRow(x, y);
        flow.orderJump = true;
        break;
    case 0x0E:
        if (x == 6) {
            if (y == 0) {
                channel->loopRow = player->row;
            } else if (module->exclusiveLoops) {
                // One loop at a time: a loop cannot start while another track's still runs, and
                // its jump goes to its own start row whatever B or D the row holds.
                if (channel->loopCount == 0 && AnotherLoopRuns(player, channel)) break;
                if (CountLoopPass(channel, y)) {
                    flow.loopTarget = channel->loopRow;
                    flow.exclusiveLoopJump = true;
                }
            } else {
                const bool jumps = CountLoopPass(channel, y);
                // The jump goes through the break row, so a loop's jump on a row with a D takes
                // the song to the next order position at the loop's start row (when the loop
                // comes on a later track than the D; a B earlier on the row keeps row 0), and
                // the row stays the break row after the loop's last pass: a pattern that then
                // runs to its end starts the next one at the loop's start row, not row 0.
                if (jumps) {
                    if (flow.jumpOrder < 0) flow.breakRow = channel->loopRow;
                    flow.loopJump = true;
                }
            }
        } else if (x == 14) {
            // The last EEy of the row counts: y + 1 row periods, the row read only in the first.
            flow.delayRows = y + 1;
        }
        break;
    case 0x0F:
        // F00 leaves the speed as it is, as the original tracker plays it (the demo's rules
        // take it as speed 0: one tick per row).
        if (p != 0) SetSpeedOrTempo(player, p);
        break;
    case 0x21:
        // X6x: y more ticks in each of the row's periods, summed over the tracks. An extension
        // that the original tracker does not have (it ignores X6x); only files made by a tracker
        // that has it hold it, and the mature players honour it there.
        if (x == 6) flow.fineDelayTicks += y;
        break;
    default: break;
    }
}

} // namespace

void FlowControl(Player* player, MusicChannel* channel, const PatternCell& cell, bool* jumpSeen) {
    if (player->rules == PlayerRules::Standard) {
        StandardFlowControl(player, channel, cell);
        return;
    }
    const Module* module = player->module;
    const int32_t p = cell.effectParameter, x = p >> 4, y = p & 15;
    switch (cell.effect) {
    case 0x0B:
        player->nextOrderPosition = p >= module->songLength ? 0 : p;
        player->nextRow = 0;
        *jumpSeen = true;
        break;
    case 0x0D:
        player->nextRow = BreakRow(x, y);
        if (!*jumpSeen) player->nextOrderPosition = player->orderPosition + 1;
        if (player->nextOrderPosition >= module->songLength) player->nextOrderPosition = 0;
        break;
    case 0x0E:
        if (x == 6) {
            if (y == 0) {
                channel->loopRow = player->row;
            } else {
                if (CountLoopPass(channel, y)) player->row = channel->loopRow - 1;
            }
        } else if (x == 14) {
            player->patternDelayTicks = y * player->speed;
        }
        break;
    case 0x0F: SetSpeedOrTempo(player, p); break;
    default: break;
    }
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
        player->channels[c] = MusicChannel{};
        player->channels[c].voice = &player->voices[c];
    }
}

namespace {

// The end of a row period under the standard rules, as the original tracker moves on. While a
// pattern delay lasts the row is held (no row is read, the position shown stays the delayed
// row). A loop's jump moves the row at once, even inside a delay: the delay's later periods pass
// on the loop's start row without reading it, and the song goes on at the row after it. B and D
// wait for the delay's end; then the next order position starts at the break row. True while the
// delay holds the row.
bool StandardRowEnd(Player* player) {
    const Module* module = player->module;
    StandardFlow& flow = player->flow;
    int32_t row = player->row + 1;
    int32_t order = player->orderPosition;
    if (flow.delayRows > 0) {
        flow.delayRowsLeft = flow.delayRows;
        flow.delayRows = 0;
    }
    const bool held = flow.delayRowsLeft > 0 && --flow.delayRowsLeft > 0;
    if (held) row -= 1;
    if (flow.loopJump) {
        flow.loopJump = false;
        row = flow.breakRow;
    }
    if (flow.exclusiveLoopJump) {
        // The loop's jump wins over the row's B and D, which are dropped.
        flow.exclusiveLoopJump = false;
        row = flow.loopTarget;
        flow.orderJump = false;
        flow.jumpOrder = -1;
        flow.breakRow = 0;
    }
    if (held) {
        player->row = row;
        return true;
    }
    player->nextOrderPosition = -1;
    if (row >= RowCount(module, order) || flow.orderJump) {
        row = flow.breakRow;
        flow.breakRow = 0;
        order = flow.jumpOrder >= 0 ? flow.jumpOrder : order + 1;
        if (order >= module->songLength) order = module->restartPosition;
        // A break row the new pattern does not have (D's row, or a loop's start row from a
        // longer pattern) starts it at row 0.
        if (row >= RowCount(module, order)) row = 0;
        flow.jumpOrder = -1;
        flow.orderJump = false;
        player->nextOrderPosition = order;
    }
    player->nextRow = row;
    return false;
}

// Moves to the next row (or order position) at a row tick: the position the last row's end
// chose, entered in the wrap watch when it is a new order position.
void EnterNextRow(Player* player) {
    const bool entering = !player->watch.started || player->nextOrderPosition >= 0;
    player->watch.started = true;
    if (player->nextOrderPosition >= 0) player->orderPosition = player->nextOrderPosition;
    if (player->nextRow >= 0) player->row = player->nextRow;
    player->playingRow = player->row;
    if (entering) WatchEntry(player);
}

// The standard rules' tick: rows last speed + X6x ticks; a pattern delay's later periods read no
// row (their ticks work on the delayed row's cells, as the demo's rules' delay does).
void StandardTick(Player* player) {
    StandardFlow& flow = player->flow;
    if (player->tick == 0) {
        EnterNextRow(player);
        flow.fineDelayTicks = 0;
        flow.periodTick = 0;
        StandardProcessRow(player);
        player->nextRow = -1;
        player->nextOrderPosition = -1;
    } else {
        StandardProcessTick(player);
    }
    player->tick += 1;
    flow.periodTick += 1;
    if (flow.periodTick >= player->speed + flow.fineDelayTicks) {
        flow.periodTick = 0;
        // Held by a pattern delay, the ticks go on counting (the row's effects see one long row,
        // as under the demo's rules); otherwise the next tick reads a row.
        if (!StandardRowEnd(player)) player->tick = 0;
    }
}

} // namespace

void SequencerTick(Player* player) {
    const Module* module = player->module;
    const int32_t tick = player->tick;
    if (player->rules == PlayerRules::Standard) {
        StandardTick(player);
    } else {
        if (tick == 0) {
            EnterNextRow(player);
            ProcessRow(player);
            if (player->nextRow == -1) {
                player->nextRow = player->row + 1;
                if (player->nextRow >= RowCount(module, player->orderPosition)) {
                    int32_t next = player->orderPosition + 1;
                    player->nextOrderPosition =
                        next >= module->songLength ? module->restartPosition : next;
                    player->nextRow = 0;
                }
            }
        } else {
            ProcessTick(player);
        }
        player->tick += 1;
        if (player->tick >= player->speed + player->patternDelayTicks) {
            player->patternDelayTicks = 0;
            player->tick = 0;
        }
    }
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

void ProcessRow(Player* player) {
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
            channel->notePeriod =
                NotePeriod(module, channel->realNote, SampleFinetune(player, selected.sample));
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

        FlowControl(player, channel, cell, &jumpSeen);
        EffectRow(player, channel, cell, selected.instrument, selected.sample, before);
        AutoVibrato(channel, selected.instrument);
        UpdateVoice(player, channel, selected.sample);
    }
}

void ProcessTick(Player* player) {
    const Module* module = player->module;
    const PatternCell* cells = player->currentRowCells ? player->currentRowCells : emptyRow;
    const int32_t tracks = TrackCount(module);
    for (int32_t c = 0; c < tracks; ++c) {
        const PatternCell& cell = cells[c];
        MusicChannel* channel = &player->channels[c];
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
        EffectTick(player, channel, cell, selected.instrument, selected.sample);
        AutoVibrato(channel, selected.instrument);
        UpdateVoice(player, channel, selected.sample);
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
    }
    if (channel->updateFlags & UPDATE_VOLUME) VolumeStep(player, channel);
    if (channel->updateFlags & UPDATE_PANNING) PanningStep(player, channel);
    if (channel->updateFlags & UPDATE_FREQUENCY) FrequencyStep(player, channel);
    if ((channel->updateFlags & UPDATE_REWIND) && channel->voice) {
        channel->voice->position = 0;
        channel->voice->positionFraction = 0;
        channel->voice->startOffset = 0;
    }
}
