// rules_standard.cpp: the standard rules as a table: the format as the original tracker plays
// it. Here: its timing and flow control (B, D, a loop's jump and EEx leave marks that the row's
// end reads; X6x lengthens the row), the effect column's split between the note side and the
// effects, and its laws for volume, panning and frequency. The note side lies in
// standard_notes.cpp, the envelopes in standard_envelopes.cpp, the effect column in
// standard_effects.cpp. Runs inside MixBlock on the thread that renders the player.
#include "music/rules_standard.h"
#include "music/mixer.h"
#include "music/module.h"
#include "music/player.h"
#include "music/sequencer_internal.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// ---- Timing and flow ----

// True when a track other than `channel` is inside a pattern loop (has passes still to play).
bool AnotherLoopRuns(const Player* player, const MusicChannel* channel) {
    for (int c = 0; c < player->module->channelCount; ++c) {
        if (&player->channels[c] != channel && player->channels[c].loopCount != 0) return true;
    }
    return false;
}

// The standard rules' flow commands, as the original tracker runs them: B, D, a pattern loop's
// jump and EEx only set marks that the row's end reads (StandardRowEnd), and B, D and the loop
// share one break row.
void StandardFlowControl(Player* player, MusicChannel* channel, const PatternCell& cell,
                         bool* jumpSeen) {
    (void)jumpSeen; // B and D leave marks instead
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

// The standard rules' tick: rows last speed + X6x ticks; a pattern delay's later periods read no
// row (their ticks work on the delayed row's cells, as the demo's rules' delay does).
void StandardAdvance(Player* player) {
    StandardFlow& flow = player->flow;
    if (player->tick == 0) {
        EnterNextRow(player);
        flow.fineDelayTicks = 0;
        flow.periodTick = 0;
        ProcessRow(player);
        player->nextRow = -1;
        player->nextOrderPosition = -1;
    } else {
        ProcessTick(player);
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

void StandardResetFlow(Player* player) {
    player->flow = StandardFlow{};
}

// ---- The effect column, between the note side and the effects ----

void StandardEffectRowOrNote(Player* player, MusicChannel* channel, const PatternCell& cell,
                             const Selection& playing, const RowLevels& before) {
    if (!NoteSideEffect(cell))
        StandardEffectRow(player, channel, cell, playing, before);
    else if (IsNoteDelay(cell) || cell.effect == 0x14)
        HoldTremorSilence(channel, cell, 0);
}

// Note delay and Kxx count the ticks of each row period: inside a pattern delay they act again
// in every repetition of the row.
void StandardEffectTickOrNote(Player* player, MusicChannel* channel, const PatternCell& cell,
                              Selection* playing) {
    const int32_t tick = player->flow.periodTick;
    if (IsNoteDelay(cell)) {
        if (tick == (cell.effectParameter & 15)) {
            NoteDelay(player, channel, cell);
            *playing = StandardPlaying(player, *channel);
        }
        HoldTremorSilence(channel, cell, tick);
    } else if (cell.effect == 0x14) {
        if (tick == cell.effectParameter) StandardKeyOff(channel);
        HoldTremorSilence(channel, cell, tick);
    } else if (!NoteSideEffect(cell)) {
        StandardEffectTick(player, channel, cell, *playing);
    }
}

// ---- The laws ----

// The original tracker's panning law: each side gets the volume times the square root of its
// share, so that a centred voice is as loud as one panned hard to a side; 0 is left (the first
// output channel), 255 right.
void SideVolumes(Voice* voice) {
    const double right = std::sqrt(voice->mixPanning / 256.0);
    const double left = std::sqrt((256 - voice->mixPanning) / 256.0);
    voice->volumeLeft = static_cast<int32_t>(std::lround(voice->mixVolume * left));
    voice->volumeRight = static_cast<int32_t>(std::lround(voice->mixVolume * right));
}

// The envelope (32 centred) moves the panning at most as far as the nearer side.
void StandardPanningStep(const Player* player, MusicChannel* channel) {
    (void)player;
    const int64_t p = std::clamp(channel->panning, 0, 255);
    const int64_t e = std::clamp(channel->standard.note.envelopePanning, 0, 64 * 65536);
    const int64_t final = std::clamp<int64_t>(
        p + (e - 32 * 65536) * (128 - std::llabs(p - 128)) / (32 * 65536), 0, 255);
    Voice* voice = channel->voice;
    if (voice == nullptr) return;
    voice->mixPanning = static_cast<int32_t>(final);
    SideVolumes(voice);
}

// The original tracker's linear table: the period counts down from 9216 (a 16-bit subtraction)
// in octaves of 768, each octave halving the frequency by a shift of 14 - octave, taken to five
// bits. Periods above 9216 (slides go to 31999) so wrap around: the frequency falls towards
// nothing, then jumps back to the top and falls again, as the tracker plays them. A period of 0
// (modulo 65536) stands the sample still.
int32_t StandardLinearFrequency(int64_t period) {
    const uint32_t wrapped = static_cast<uint32_t>(period & 0xFFFF);
    if (wrapped == 0) return 0;
    const uint32_t counted = (9216u - wrapped) & 0xFFFFu;
    const uint32_t shift = (14u - counted / 768u) & 31u;
    // 8363 Hz at period 4608 (C-4 of an untuned sample): 8363 x 2^8 at shift 0.
    const double top = 8363.0 * 256.0 * std::pow(2.0, static_cast<double>(counted % 768u) / 768.0);
    return static_cast<int32_t>(top / static_cast<double>(1u << shift));
}

int32_t StandardFrequency(const Player* player, const MusicChannel* channel) {
    if (player->module->flags & MODULE_LINEAR_FREQUENCIES)
        return StandardLinearFrequency(channel->period - channel->periodDelta);
    return std::max(PeriodFrequency(player->module, channel->period, channel->periodDelta), 100);
}

} // namespace

// The volume (0-64), the envelope's value with its fraction (0-64), the fade-out and the global
// volume (0-64), at the same scale as the demo's rules (255 at twice full).
void StandardVolumeStep(const Player* player, MusicChannel* channel) {
    const StandardNoteState& note = channel->standard.note;
    const double volume = std::clamp(channel->volume + channel->volumeDelta, 0, 64) / 64.0;
    const double envelope = std::clamp(note.envelopeVolume, 0, 64 * 65536) / (64.0 * 65536);
    const double fade = std::clamp(channel->fadeoutVolume, 0, 65536) / 65536.0;
    const double global = std::clamp(player->globalVolume, 0, 64) / 64.0;
    Voice* voice = channel->voice;
    if (voice == nullptr) return;
    voice->mixVolume = static_cast<int32_t>(std::lround(volume * envelope * fade * global * 127.5));
    SideVolumes(voice);
}

const RuleSet standardRules = {
    .advance = StandardAdvance,
    .resetFlow = StandardResetFlow,
    .flowControl = StandardFlowControl,
    .noteRow = StandardNoteRow,
    .playing = StandardPlaying,
    .effectRow = StandardEffectRowOrNote,
    .effectTick = StandardEffectTickOrNote,
    .envelopes = StandardEnvelopes,
    .envelopesBeforeEffects = false,
    .autoVibrato = StandardAutoVibrato,
    .finishTrack = StandardFinishTrack,
    .vibratoTick = StandardVibratoTick,
    .tonePortamento = StandardTonePortamento,
    .volumeColumn = {.slidesOnRowTick = false,
                     .depthOnRowTick = false,
                     .zeroKeepsVibrato = true,
                     .limitedPanningSlides = true},
    .retrigTwoThirdsByShifts = true,
    .volumeLaw = StandardVolumeStep,
    .panningLaw = StandardPanningStep,
    .frequencyLaw = StandardFrequency,
    .defaultSeparation = 100,
    // The voices sum at the original tracker's level at its default amplification (a voice at
    // full volume, centred, at half of full scale on each side); the mix sits 3 dB below that.
    // The headroom is what the real songs of the corpus need to clip no more often than the
    // peer players at their defaults do (bench/loudness); demo-rule output keeps no headroom.
    .levelDb = -3.0f,
    // No sample is changed as the song plays: the song's own records play.
    .makeOwnSamples = nullptr,
    .restoreOwnSamples = nullptr,
    .freeOwnSamples = nullptr,
};
