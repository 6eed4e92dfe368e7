// standard_notes.cpp: the tracks' row tick and later ticks under the standard rules, as the
// original tracker plays them: notes and instruments, key-off, envelopes and fade-out, the volume
// column; the effect column lies in standard_effects.cpp. Runs inside MixBlock on the thread that
// renders the player.
#include "music/mixer.h"
#include "music/module.h"
#include "music/player.h"
#include "music/sequencer_internal.h"

#include <algorithm>

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
        StandardEffectRow(player, channel, cell, selected.instrument, selected.sample, before);
        AutoVibrato(channel, selected.instrument);
        UpdateVoice(player, channel, selected.sample);
    }
}

void StandardProcessTick(Player* player) {
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
        StandardEffectTick(player, channel, cell, selected.instrument, selected.sample);
        AutoVibrato(channel, selected.instrument);
        UpdateVoice(player, channel, selected.sample);
    }
}
