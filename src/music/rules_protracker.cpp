// rules_protracker.cpp: ProTracker's rules as a table, for MOD songs: its clock and flow
// control (B, D, E6x and EEx as the tracker's own flags work them, on a row the tracker has
// just read), the Amiga's periods with the tracker's limits and finetune tables, the PAL
// Amiga's clock, and its hard left-right-right-left panning. Notes and effects lie in
// protracker_effects.cpp. Runs inside MixBlock on the thread that renders the player.
#include "music/rules_protracker.h"

#include <algorithm>
#include <cmath>

#include "music/mixer.h"
#include "music/module.h"
#include "music/player.h"
#include "music/sequencer_internal.h"

namespace {

// The PAL Amiga's clock: a period of p plays 3546895 / p samples a second.
constexpr double PAL_CLOCK = 3546895.0;

// Files the original tracker wrote, or trackers that keep its three octaves.
bool ClassicLimits(const Module* module) {
    switch (module->modVariant) {
    case ModVariant::Multichannel:
    case ModVariant::Fa0x:
    case ModVariant::Octalyser: return false;
    default: return true;
    }
}

// ---- The clock ----

// Octalyser's files and those with the FA0x tags play a loop's jump over a B or D on its row.
bool LoopWinsOverBreaks(const Module* module) {
    return module->modVariant == ModVariant::Octalyser || module->modVariant == ModVariant::Fa0x;
}

// The end of a row period, as the tracker moves on right after reading a row: the next row; a
// pattern delay holds it (the delay's periods read no row); a loop's jump moves to the loop's
// row; the end of the pattern or a B or D moves to the next order position at the break row.
// A loop's jump, B or D inside a pattern delay happens at once and the delay's row count then
// runs on the row it reached, as the tracker's own counting does (so a break inside a delay
// lands one row past its target). True while the delay holds the row.
bool ProTrackerRowEnd(Player* player) {
    const Module* module = player->module;
    StandardFlow& flow = player->flow;
    int32_t row = player->row + 1;
    int32_t order = player->orderPosition;
    if (flow.delayRows > 0) {
        flow.delayRowsLeft = flow.delayRows;
        flow.delayRows = 0;
    }
    bool held = false;
    if (flow.delayRowsLeft > 0 && --flow.delayRowsLeft > 0) {
        row -= 1;
        held = true;
    }
    if (flow.loopJump) {
        // Through the break row a B or D on the row may have changed, or straight to the loop's
        // own row where the loop wins over them.
        flow.loopJump = false;
        flow.loopJumped = true;
        row = LoopWinsOverBreaks(module) ? flow.loopTarget : flow.breakRow;
        flow.breakRow = 0;
    }
    // A loop's jump over B or D on its row: the loop wins where the file's tracker lets it (the
    // break and jump are dropped), else they go on through the break row the loop set.
    if (flow.loopJumped && LoopWinsOverBreaks(module)) {
        flow.orderJump = false;
        flow.jumpOrder = -1;
    }
    flow.loopJumped = false;
    bool newOrder = false;
    if (!held && flow.heldOrder >= 0) {
        // The end of a pattern delay whose row held a B or D.
        order = flow.heldOrder;
        row = flow.heldRow + 1;
        flow.heldOrder = -1;
        if (row >= RowCount(module, order)) {
            row = 0;
            order = order + 1 >= module->songLength ? module->restartPosition : order + 1;
        }
        newOrder = true;
    } else if (row >= RowCount(module, order) || flow.orderJump) {
        row = flow.breakRow;
        flow.breakRow = 0;
        flow.orderJump = false;
        order = flow.jumpOrder >= 0 ? flow.jumpOrder : order + 1;
        flow.jumpOrder = -1;
        if (order >= module->songLength) order = module->restartPosition;
        if (row >= RowCount(module, order)) row = 0;
        newOrder = true;
        if (held) {
            // The tracker moves at once; the delay's later periods count on from the row
            // reached (one row on at its end), while the row shown stays the delayed one.
            flow.heldOrder = order;
            flow.heldRow = row;
            row = player->row;
            order = player->orderPosition;
            newOrder = false;
        }
    }
    if (held) {
        player->row = row;
        return true;
    }
    player->nextOrderPosition = newOrder ? order : -1;
    player->nextRow = row;
    return false;
}

// The tempo is the song's at once; the tick that reads it keeps its length, and the ticks
// after it take the new one (ProTrackerAdvance hands it on).
void SetTempoFromNextTick(Player* player, int32_t bpm) {
    const int32_t frames = player->tickFrames;
    SetBpm(player, bpm);
    player->flow.nextTickFrames = player->tickFrames;
    player->tickFrames = frames;
}

void ProTrackerAdvance(Player* player) {
    StandardFlow& flow = player->flow;
    if (flow.nextTickFrames != 0) {
        player->tickFrames = flow.nextTickFrames;
        flow.nextTickFrames = 0;
    }
    if (player->tick == 0) {
        EnterNextRow(player);
        flow.periodTick = 0;
        ProcessRow(player);
        player->nextRow = -1;
        player->nextOrderPosition = -1;
    } else {
        // Inside a pattern delay the first tick of each later period runs the effects too.
        ProcessTick(player);
    }
    player->tick += 1;
    flow.periodTick += 1;
    if (flow.periodTick >= player->speed) {
        flow.periodTick = 0;
        if (!ProTrackerRowEnd(player)) player->tick = 0;
    }
}

void ProTrackerResetFlow(Player* player) {
    player->flow = StandardFlow{};
}

// B, D, E6x, EEx and F, as flags that the row's end reads.
void ProTrackerFlowControl(Player* player, MusicChannel* channel, const PatternCell& cell,
                           bool* jumpSeen) {
    (void)jumpSeen;
    StandardFlow& flow = player->flow;
    const int32_t p = cell.effectParameter, x = p >> 4, y = p & 15;
    switch (cell.effect) {
    case 0xB:
        // The order position to go to; a break row set earlier on the row is cleared.
        flow.jumpOrder = p;
        flow.breakRow = 0;
        flow.orderJump = true;
        break;
    case 0xD:
        // The row is two decimal digits; beyond 63 it is row 0. The 15-sample trackers' break
        // has no row: the next pattern starts at its top.
        flow.breakRow =
            player->module->modVariant == ModVariant::FifteenSamples ? 0 : BreakRow(x, y);
        flow.orderJump = true;
        break;
    case 0xE:
        if (x == 6) {
            if (y == 0) {
                channel->loopRow = player->row;
            } else if (CountLoopPass(channel, y)) {
                // The loop's row goes through the break row that D also sets.
                flow.breakRow = channel->loopRow;
                flow.loopTarget = channel->loopRow;
                flow.loopJump = true;
            }
        } else if (x == 14 && flow.delayRowsLeft == 0) {
            // EEy: the row lasts y + 1 row periods (not set again while a delay runs).
            flow.delayRows = y + 1;
        }
        break;
    case 0xF:
        // Below 32 the ticks per row, from 32 on the tempo; F00 is taken as no change. The
        // tracker before the tempo command reads every value as ticks per row.
        if (p != 0 && player->module->modVariant == ModVariant::Noisetracker)
            player->speed = p;
        else if (p >= 32 && player->module->tempoFromNextTick)
            SetTempoFromNextTick(player, p);
        else if (p != 0)
            SetSpeedOrTempo(player, p);
        break;
    default: break;
    }
}

// ---- The laws ----

void NoEnvelopes(MusicChannel* channel, const Instrument* instrument, bool rowTick) {
    (void)channel;
    (void)instrument;
    (void)rowTick;
}

void NoAutoVibrato(MusicChannel* channel, const Instrument* instrument) {
    (void)channel;
    (void)instrument;
}

// The Amiga's channels 1 and 4 go to the left, 2 and 3 to the right (and so on for more
// tracks); the listener's separation control narrows it. Other trackers' 8xx pans a track
// (channel->panning, linear).
int32_t TrackSide(const Player* player, const MusicChannel* channel) {
    const int32_t c = static_cast<int32_t>(channel - player->channels);
    return (c & 3) == 0 || (c & 3) == 3 ? 0 : 255;
}

void ProTrackerVolumeLaw(const Player* player, MusicChannel* channel) {
    Voice* voice = channel->voice;
    if (voice == nullptr) return;
    const int32_t volume = std::clamp(channel->volume + channel->volumeDelta, 0, 64);
    const int32_t global = std::clamp(player->globalVolume, 0, 64);
    voice->mixVolume = static_cast<int32_t>(std::lround(volume * global * 127.5 / 4096.0));
    if (!channel->protracker.panned) channel->panning = TrackSide(player, channel);
    const int32_t pan = std::clamp(channel->panning, 0, 255);
    voice->mixPanning = pan;
    voice->volumeLeft = static_cast<int32_t>(std::lround(voice->mixVolume * (255 - pan) / 255.0));
    voice->volumeRight = static_cast<int32_t>(std::lround(voice->mixVolume * pan / 255.0));
}

void ProTrackerPanningLaw(const Player* player, MusicChannel* channel) {
    ProTrackerVolumeLaw(player, channel);
}

int32_t ProTrackerFrequency(const Player* player, const MusicChannel* channel) {
    const int32_t period = channel->period + channel->periodDelta;
    (void)player;
    if (period <= 0) return 0;
    return static_cast<int32_t>(PAL_CLOCK / period);
}

} // namespace

// ---- Periods ----

int32_t ProTrackerPeriod(int32_t note, int32_t finetune) {
    // Finetune 0 is the tracker's own table, the periods its patterns store: 14 of its 36
    // entries lie one below the rounded semitone curve (F-2 is 320, not 321), which a song's
    // unisons and loops make audible. The other finetunes follow the curve: C-1 is 856 at
    // finetune 0 and each finetune step is an eighth of a semitone.
    static constexpr int16_t TABLE[36] = {
        856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453, 428, 404, 381, 360, 339, 320,
        302, 285, 269, 254, 240, 226, 214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113,
    };
    if (finetune == 0 && note >= 0 && note < 36) return TABLE[note];
    const double steps = note + finetune / 8.0;
    return static_cast<int32_t>(std::lround(856.0 * std::pow(2.0, -steps / 12.0)));
}

int32_t LowestPeriod(const Module* module) {
    return ClassicLimits(module) ? 113 : 28;
}

int32_t HighestPeriod(const Module* module) {
    return ClassicLimits(module) ? 856 : 3424;
}

int32_t SemitonePeriod(int32_t period, int32_t finetune) {
    // The first period of the table at or below `period`, as the tracker scans it.
    for (int32_t note = 0; note < 36; ++note) {
        const int32_t p = ProTrackerPeriod(note, finetune);
        if (p <= period) return p;
    }
    return ProTrackerPeriod(35, finetune);
}

int32_t ArpeggioPeriod(int32_t period, int32_t finetune, int32_t steps) {
    // The tracker looks the period up in the finetune's table and reads `steps` entries on;
    // past the table's last note it reads on into the table that follows in memory (the next
    // finetune's), as the tracker does.
    int32_t note = 0;
    while (note < 36 && ProTrackerPeriod(note, finetune) > period) ++note;
    if (note >= 36) return period;
    int32_t index = note + steps;
    int32_t table = finetune;
    while (index >= 36) {
        index -= 36;
        table = table == 7 ? -8 : table + 1;
        if (table == 0) return 0; // beyond the last table: memory past it, taken as silence
    }
    return ProTrackerPeriod(index, table);
}

const RuleSet protrackerRules = {
    .advance = ProTrackerAdvance,
    .resetFlow = ProTrackerResetFlow,
    .flowControl = ProTrackerFlowControl,
    .noteRow = ProTrackerNoteRow,
    .playing = ProTrackerPlaying,
    .effectRow = ProTrackerEffectRow,
    .effectTick = ProTrackerEffectTick,
    .envelopes = NoEnvelopes,
    .envelopesBeforeEffects = false,
    .autoVibrato = NoAutoVibrato,
    .finishTrack = ProTrackerFinishTrack,
    .vibratoTick = ProTrackerVibratoTick,
    .tonePortamento = ProTrackerTonePortamento,
    .volumeColumn = {.slidesOnRowTick = false,
                     .depthOnRowTick = false,
                     .zeroKeepsVibrato = true,
                     .limitedPanningSlides = true},
    .retrigTwoThirdsByShifts = true,
    .volumeLaw = ProTrackerVolumeLaw,
    .panningLaw = ProTrackerPanningLaw,
    .frequencyLaw = ProTrackerFrequency,
    // The Amiga pans every track hard to one side, which on headphones leaves each ear with
    // half the band. 60 % keeps a hard-panned track 80/20 between the ears (about 12 dB apart):
    // the stereo picture stays, and nothing sounds in one ear only.
    .defaultSeparation = 60,
    // Four hard-panned tracks put two on each side, each at most half of full scale there, so
    // the sum reaches full scale only when both sound at full volume: no headroom is taken.
    .levelDb = 0.0f,
    .makeOwnSamples = ProTrackerMakeOwnSamples,
    .restoreOwnSamples = ProTrackerRestoreOwnSamples,
    .freeOwnSamples = ProTrackerFreeOwnSamples,
};
