// demo_effects.cpp: the demo's effect column, its row-tick and later-tick halves (flow control
// lies with the demo's table in rules_demo.cpp, the volume column in volume_column.cpp). Runs
// inside MixBlock on the thread that renders the player.
#include "music/mixer.h"
#include "music/module.h"
#include "music/player.h"
#include "music/sequencer_internal.h"

#include <algorithm>
#include <cmath>

namespace {

void VolumeSlide(MusicChannel* channel) {
    channel->volume = Slide(channel->volume, channel->volumeSlideMemory, 0, 64);
    channel->updateFlags |= UPDATE_VOLUME;
}

void Arpeggio(const Player* player, MusicChannel* channel, const PatternCell& cell,
              const Sample* sample) {
    const Module* module = player->module;
    const int32_t phase = player->tick % 3;
    const int32_t n = phase == 1 ? cell.effectParameter >> 4 : cell.effectParameter & 15;
    if (phase != 0) {
        if (module->flags & MODULE_LINEAR_FREQUENCIES)
            channel->periodDelta = 64 * n;
        else {
            const int32_t finetune = SampleFinetune(player, sample);
            channel->periodDelta = AmigaPeriod(channel->realNote + n, finetune) -
                                   AmigaPeriod(channel->realNote, finetune);
        }
    }
    channel->updateFlags |= UPDATE_FREQUENCY;
}

void SampleOffset(MusicChannel* channel, const Sample* sample) {
    const uint32_t offset = static_cast<uint32_t>(channel->demo.sampleOffsetMemory) * 256u;
    if (offset < sample->loopStart + sample->loopLength) {
        if (channel->voice) channel->voice->startOffset = offset;
    } else {
        channel->updateFlags &= ~UPDATE_TRIGGER;
        channel->updateFlags |= UPDATE_REWIND;
    }
}

void MultiRetrigger(const Player* player, MusicChannel* channel) {
    const int32_t y = channel->retrigIntervalMemory, x = channel->retrigVolumeMemory;
    if (y == 0 || player->tick % y != 0) return;
    if (x != 0) {
        const int32_t v =
            RetrigVolume(channel->volume, x, player->ruleSet->retrigTwoThirdsByShifts);
        channel->volume = std::clamp(v, 0, 64);
        channel->updateFlags |= UPDATE_VOLUME;
    }
    channel->updateFlags |= UPDATE_TRIGGER;
}

constexpr uint8_t LOW_UPDATE_BITS =
    UPDATE_FREQUENCY | UPDATE_VOLUME | UPDATE_PANNING | UPDATE_TRIGGER;

void ExtendedRow(Player* player, MusicChannel* channel, const PatternCell& cell,
                 const Sample* sample, const RowLevels& before) {
    const uint8_t x = cell.effectParameter >> 4, y = cell.effectParameter & 15;
    switch (x) {
    case 0x1:
        Remember(&channel->finePortaUpMemory, y);
        channel->period -= 4 * channel->finePortaUpMemory;
        break;
    case 0x2:
        Remember(&channel->finePortaDownMemory, y);
        channel->period += 4 * channel->finePortaDownMemory;
        break;
    case 0x4: channel->waveControl = (channel->waveControl & 0xF0) | y; break;
    case 0x5:
        // The new finetune holds for the sample from here on, in this player only: the song
        // itself is never written.
        SetSampleFinetune(player, sample, y);
        break;
    case 0x7:
        channel->waveControl = static_cast<uint8_t>((channel->waveControl & 0x0F) | (y << 4));
        break;
    case 0x8:
        channel->panning = y * 16;
        channel->updateFlags |= UPDATE_PANNING;
        break;
    case 0xA:
        Remember(&channel->demo.fineVolumeSlideMemory, y);
        channel->volume = std::min(channel->volume + channel->demo.fineVolumeSlideMemory, 64);
        channel->updateFlags |= UPDATE_VOLUME;
        break;
    case 0xB:
        Remember(&channel->demo.fineVolumeSlideMemory, y);
        channel->volume = std::max(channel->volume - channel->demo.fineVolumeSlideMemory, 0);
        channel->updateFlags |= UPDATE_VOLUME;
        break;
    case 0xD:
        channel->volume = before.volume;
        channel->period = before.period;
        channel->panning = before.panning;
        channel->updateFlags &= ~LOW_UPDATE_BITS;
        break;
    default: break; // E0, E3, EF do nothing; E6 and EE are flow commands
    }
}

void ExtendedTick(Player* player, MusicChannel* channel, const PatternCell& cell,
                  const Sample* sample) {
    const uint8_t x = cell.effectParameter >> 4, y = cell.effectParameter & 15;
    switch (x) {
    case 0x9:
        if (y != 0 && player->tick % y == 0)
            channel->updateFlags |= UPDATE_TRIGGER | UPDATE_FREQUENCY | UPDATE_VOLUME;
        break;
    case 0xC:
        if (player->tick == y) {
            channel->volume = 0;
            channel->updateFlags |= UPDATE_VOLUME;
        }
        break;
    case 0xD:
        if (player->tick == y) {
            ResetChannelForInstrument(channel, sample);
            channel->period = channel->notePeriod;
            channel->updateFlags |= UPDATE_FREQUENCY;
            if (cell.volumeColumn != 0) VolumeColumnRow(player, channel, cell.volumeColumn);
            channel->updateFlags |= UPDATE_TRIGGER;
        } else {
            channel->updateFlags &= ~LOW_UPDATE_BITS;
        }
        break;
    default: break;
    }
}

} // namespace

void Vibrato(MusicChannel* channel) {
    const int32_t m =
        WaveMagnitude(channel->waveControl & 3, channel->vibratoPosition, channel->vibratoPosition);
    const int32_t delta = ((m * channel->vibratoDepth) >> 7) * 4;
    channel->periodDelta = channel->vibratoPosition >= 0 ? -delta : delta;
    channel->updateFlags |= UPDATE_FREQUENCY;
}

void AdvanceVibrato(MusicChannel* channel) {
    channel->vibratoPosition = AdvancePhase(channel->vibratoPosition, channel->vibratoSpeed);
}

void Tremolo(MusicChannel* channel) {
    // Waveform 3 is sine here, where vibrato takes it as square.
    const int32_t waveform = (channel->waveControl >> 4) & 3;
    const int32_t m = WaveMagnitude(waveform == 3 ? 0 : waveform, channel->tremoloPosition,
                                    channel->tremoloPosition);
    const int32_t d = (m * channel->tremoloDepth) >> 6;
    if (channel->tremoloPosition >= 0)
        channel->volumeDelta = channel->volume + d > 64 ? 64 - channel->volume : d;
    else
        channel->volumeDelta = std::max(-d, -channel->volume);
    channel->tremoloPosition = AdvancePhase(channel->tremoloPosition, channel->tremoloSpeed);
    channel->updateFlags |= UPDATE_VOLUME;
}

void Tremor(MusicChannel* channel) {
    if (channel->demo.tremorCounter >= channel->demo.tremorOnTicks)
        channel->volumeDelta = -channel->volume;
    channel->demo.tremorCounter += 1;
    if (channel->demo.tremorCounter == channel->demo.tremorOnTicks + channel->demo.tremorOffTicks)
        channel->demo.tremorCounter = 0;
    channel->updateFlags |= UPDATE_VOLUME;
}

void TonePortamento(MusicChannel* channel) {
    const int32_t step = 4 * channel->portaSpeed;
    if (channel->period < channel->portaTarget)
        channel->period = std::min(channel->period + step, channel->portaTarget);
    else if (channel->period > channel->portaTarget)
        channel->period = std::max(channel->period - step, channel->portaTarget);
    channel->updateFlags |= UPDATE_FREQUENCY;
}

void EffectRow(Player* player, MusicChannel* channel, const PatternCell& cell,
               const Selection& playing, const RowLevels& before) {
    const Instrument* instrument = playing.instrument;
    const Sample* sample = playing.sample;
    const uint8_t p = cell.effectParameter, x = p >> 4, y = p & 15;
    switch (cell.effect) {
    case 0x1: Remember(&channel->portaUpMemory, p); break;
    case 0x2: Remember(&channel->portaDownMemory, p); break;
    case 0x3:
        if (p != 0) channel->portaSpeed = p;
        channel->portaTarget = channel->notePeriod;
        channel->updateFlags &= ~(UPDATE_TRIGGER | UPDATE_FREQUENCY);
        break;
    case 0x4:
        if (x != 0) channel->vibratoSpeed = x;
        if (y != 0) channel->vibratoDepth = y;
        Vibrato(channel);
        break;
    case 0x5:
        channel->portaTarget = channel->notePeriod;
        Remember(&channel->volumeSlideMemory, p);
        channel->updateFlags &= ~(UPDATE_TRIGGER | UPDATE_FREQUENCY);
        break;
    case 0x6:
        Remember(&channel->volumeSlideMemory, p);
        Vibrato(channel);
        break;
    case 0x7:
        if (x != 0) channel->tremoloSpeed = x;
        if (y != 0) channel->tremoloDepth = y;
        break;
    case 0x8:
        channel->panning = p;
        channel->updateFlags |= UPDATE_PANNING;
        break;
    case 0x9:
        if (p != 0) channel->demo.sampleOffsetMemory = p;
        SampleOffset(channel, sample);
        break;
    case 0xA: Remember(&channel->volumeSlideMemory, p); break;
    case 0xC:
        channel->volume = p;
        channel->updateFlags |= UPDATE_VOLUME;
        break;
    case 0xE: ExtendedRow(player, channel, cell, sample, before); break;
    case 0x10:
        player->globalVolume = std::min<int32_t>(p, 64);
        channel->updateFlags |= UPDATE_VOLUME;
        break;
    case 0x11: Remember(&player->globalVolumeSlideMemory, p); break;
    case 0x15: SetDemoEnvelopePosition(channel, instrument, p); break;
    case 0x19:
        if (p != 0) {
            channel->panningSlideMemory = p;
            channel->updateFlags |= UPDATE_PANNING;
        }
        break;
    case 0x1B:
        if (p != 0) {
            channel->retrigVolumeMemory = x;
            channel->retrigIntervalMemory = y;
        }
        break;
    case 0x1D:
        if (p != 0) {
            channel->demo.tremorOnTicks = x + 1;
            channel->demo.tremorOffTicks = y + 1;
        }
        Tremor(channel);
        break;
    case 0x21:
        if (x == 1) {
            Remember(&channel->extraFinePortaUpMemory, y);
            channel->period -= channel->extraFinePortaUpMemory;
        } else if (x == 2) {
            Remember(&channel->extraFinePortaDownMemory, y);
            channel->period += channel->extraFinePortaDownMemory;
        }
        break;
    default: break; // 0, B, D, F, K and the unused numbers: nothing here
    }
}

void EffectTick(Player* player, MusicChannel* channel, const PatternCell& cell,
                const Selection& playing) {
    const Sample* sample = playing.sample;
    switch (cell.effect) {
    case 0x0:
        if (cell.effectParameter != 0) Arpeggio(player, channel, cell, sample);
        break;
    case 0x1:
        channel->period = std::max(channel->period - 4 * channel->portaUpMemory, 56);
        channel->updateFlags |= UPDATE_FREQUENCY;
        break;
    case 0x2:
        channel->period += 4 * channel->portaDownMemory;
        channel->updateFlags |= UPDATE_FREQUENCY;
        break;
    case 0x3: TonePortamento(channel); break;
    case 0x4:
        Vibrato(channel);
        AdvanceVibrato(channel);
        break;
    case 0x5:
        TonePortamento(channel);
        VolumeSlide(channel);
        break;
    case 0x6:
        Vibrato(channel);
        AdvanceVibrato(channel);
        VolumeSlide(channel);
        break;
    case 0x7: Tremolo(channel); break;
    case 0xA: VolumeSlide(channel); break;
    case 0xE: ExtendedTick(player, channel, cell, sample); break;
    case 0x11:
        player->globalVolume = Slide(player->globalVolume, player->globalVolumeSlideMemory, 0, 64);
        break;
    case 0x19:
        channel->panning = Slide(channel->panning, channel->panningSlideMemory, 0, 255);
        channel->updateFlags |= UPDATE_PANNING;
        break;
    case 0x1B: MultiRetrigger(player, channel); break;
    case 0x1D: Tremor(channel); break;
    default: break;
    }
}
