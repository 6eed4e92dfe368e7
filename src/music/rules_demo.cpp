// rules_demo.cpp: the demo's rules as a table: its timing and flow control (rows move at once,
// a pattern delay adds ticks), its note side (the cell's instrument and note pick the sample at
// once), and its laws for volume, panning and frequency. Its effect column lies in
// demo_effects.cpp, its envelopes and auto-vibrato in demo_envelopes.cpp. Runs inside MixBlock
// on the thread that renders the player.
#include "music/mixer.h"
#include "music/module.h"
#include "music/player.h"
#include "music/sequencer_internal.h"

#include <algorithm>
#include <cstdlib>

Selection Select(const Module* module, const MusicChannel& channel) {
    const DemoTrack& demo = channel.demo;
    if (demo.instrumentIndex >= module->instrumentCount || module->instruments == nullptr)
        return {&emptyInstrument, &silentSample};
    const Instrument* instrument = &module->instruments[demo.instrumentIndex];
    uint8_t slot = instrument->sampleMap[std::min<int>(demo.noteIndex, 95)];
    const Sample* sample = slot < MAX_INSTRUMENT_SAMPLES ? instrument->samples[slot] : nullptr;
    return {instrument, sample ? sample : &silentSample};
}

namespace {

// ---- Timing and flow ----

// B, D and E6x move the next row at once; EEx adds ticks to the row; F00 is speed 0 (one tick
// per row).
void DemoFlowControl(Player* player, MusicChannel* channel, const PatternCell& cell,
                     bool* jumpSeen) {
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

// A row lasts speed ticks plus a pattern delay's; at the row tick the next row is chosen (the
// row after, or the next order position's first row, when no flow command chose one).
void DemoAdvance(Player* player) {
    const Module* module = player->module;
    if (player->tick == 0) {
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

void DemoResetFlow(Player* player) {
    player->patternDelayTicks = 0;
}

// ---- The note side ----

// The cell's instrument and note select the sample at once (not on a tone-portamento row, whose
// note is the slide's target); a note triggers it, an instrument number resets the track to the
// sample's levels and restarts the envelopes; then the volume column and key-off.
Selection DemoNoteRow(Player* player, MusicChannel* channel, const PatternCell& cell) {
    const Module* module = player->module;
    DemoTrack& demo = channel->demo;
    const bool tonePortamento = IsTonePortamentoRow(cell);
    const bool hasNote = IsNote(cell.note);
    if (cell.instrument != 0 && !tonePortamento) demo.instrumentIndex = cell.instrument - 1;
    if (hasNote && !tonePortamento) demo.noteIndex = cell.note - 1;
    const Selection selected = Select(module, *channel);
    if (selected.instrument != &emptyInstrument && !tonePortamento)
        channel->sample = selected.sample;
    if (hasNote) {
        channel->realNote = static_cast<uint8_t>(cell.note + selected.sample->relativeNote - 1);
        channel->notePeriod =
            NotePeriod(module, channel->realNote, SampleFinetune(player, selected.sample));
        if (!tonePortamento) channel->period = channel->notePeriod;
        channel->updateFlags = UPDATE_TRIGGER;
    }
    channel->updateFlags |= UPDATE_FREQUENCY | UPDATE_VOLUME;
    if (cell.instrument != 0) ResetChannelForInstrument(channel, selected.sample);
    if (cell.volumeColumn != 0) VolumeColumnRow(player, channel, cell.volumeColumn);
    if (cell.note == 255 || cell.effect == 0x14) channel->keyOff = 1;
    return selected;
}

void DemoEffectTick(Player* player, MusicChannel* channel, const PatternCell& cell,
                    Selection* playing) {
    EffectTick(player, channel, cell, *playing);
}

Selection DemoPlaying(const Player* player, const MusicChannel& channel) {
    return Select(player->module, channel);
}

void DemoVibratoTick(const Player* player, MusicChannel* channel) {
    (void)player;
    Vibrato(channel);
    AdvanceVibrato(channel);
}

void DemoTonePortamento(const Player* player, MusicChannel* channel) {
    (void)player;
    TonePortamento(channel);
}

// ---- The laws ----

// The first output channel gets the volume times panning / 255, so that panning 255 sounds
// wholly there.
void SideVolumes(Voice* voice) {
    voice->volumeLeft = voice->mixVolume * voice->mixPanning / 255;
    voice->volumeRight = voice->mixVolume * (255 - voice->mixPanning) / 255;
}

int32_t DemoFrequency(const Player* player, const MusicChannel* channel) {
    return std::max(PeriodFrequency(player->module, channel->period, channel->periodDelta), 100);
}

} // namespace

void VolumeStep(const Player* player, MusicChannel* channel) {
    const double product = static_cast<double>(channel->volumeEnvelope.value) *
                           (channel->volume + channel->volumeDelta) * channel->fadeoutVolume *
                           player->globalVolume * static_cast<double>(7.4214767664670944e-9f);
    // The voice's volume range is 0-255; a channel volume that effect C set above 64 may ask for
    // more, and is held at the top of the range.
    const int32_t v = std::clamp(TruncateToInt32(product), 0, 255);
    Voice* voice = channel->voice;
    if (voice == nullptr) return;
    voice->mixVolume = v;
    SideVolumes(voice);
}

void PanningStep(const Player* player, MusicChannel* channel) {
    (void)player;
    const int64_t p = channel->panning;
    const int64_t e = channel->panningEnvelope.value;
    const int64_t final =
        std::clamp<int64_t>(p + (e - 32) * ((128 - std::llabs(p - 128)) / 32), 0, 255);
    Voice* voice = channel->voice;
    if (voice == nullptr) return;
    voice->mixPanning = static_cast<int32_t>(final);
    SideVolumes(voice);
}

const RuleSet demoRules = {
    .advance = DemoAdvance,
    .resetFlow = DemoResetFlow,
    .flowControl = DemoFlowControl,
    .noteRow = DemoNoteRow,
    .playing = DemoPlaying,
    .effectRow = EffectRow,
    .effectTick = DemoEffectTick,
    .envelopes = DemoEnvelopes,
    .envelopesBeforeEffects = true,
    .autoVibrato = AutoVibrato,
    .finishTrack = UpdateVoice,
    .vibratoTick = DemoVibratoTick,
    .tonePortamento = DemoTonePortamento,
    .volumeColumn = {.slidesOnRowTick = true,
                     .depthOnRowTick = true,
                     .zeroKeepsVibrato = false,
                     .limitedPanningSlides = false},
    .retrigTwoThirdsByShifts = false,
    .volumeLaw = VolumeStep,
    .panningLaw = PanningStep,
    .frequencyLaw = DemoFrequency,
    .defaultSeparation = 100,
    .levelDb = 0.0f,
    // No sample is changed as the song plays: the song's own records play.
    .makeOwnSamples = nullptr,
    .restoreOwnSamples = nullptr,
    .freeOwnSamples = nullptr,
};
