// volume_column.cpp: the volume column for every rule set: set volume and panning, the slides
// and fine slides, vibrato and tone portamento, with the rule set's differences (its
// VolumeColumnRules, and its own vibrato and tone portamento for Vx and Mx). Runs inside
// MixBlock on the thread that renders the player.
#include "music/player.h"
#include "music/sequencer_internal.h"

void VolumeColumnRow(Player* player, MusicChannel* channel, uint8_t v) {
    const VolumeColumnRules& rules = player->ruleSet->volumeColumn;
    const int32_t y = v & 15;
    switch (v >> 4) {
    case 0x1:
    case 0x2:
    case 0x3:
    case 0x4:
        channel->volume = v - 0x10;
        channel->updateFlags |= UPDATE_VOLUME;
        break;
    case 0x5:
        if (v == 0x50) {
            channel->volume = 64;
            channel->updateFlags |= UPDATE_VOLUME;
        }
        break;
    case 0x6:
        if (!rules.slidesOnRowTick) break;
        [[fallthrough]];
    case 0x8:
        channel->volume = std::max(channel->volume - y, 0);
        channel->updateFlags |= UPDATE_VOLUME;
        break;
    case 0x7:
        if (!rules.slidesOnRowTick) break;
        [[fallthrough]];
    case 0x9:
        channel->volume = std::min(channel->volume + y, 64);
        channel->updateFlags |= UPDATE_VOLUME;
        break;
    case 0xA:
        if (y != 0 || !rules.zeroKeepsVibrato) channel->vibratoSpeed = static_cast<uint8_t>(y);
        break;
    case 0xB:
        if (rules.depthOnRowTick) channel->vibratoDepth = static_cast<uint8_t>(y);
        break;
    case 0xC:
        channel->panning = y * 16;
        channel->updateFlags |= UPDATE_PANNING;
        break;
    case 0xD:
    case 0xE:
        if (rules.slidesOnRowTick) VolumeColumnTick(player, channel, v);
        break;
    case 0xF:
        if (y != 0) channel->portaSpeed = static_cast<uint8_t>(y * 16);
        channel->portaTarget = channel->notePeriod;
        channel->updateFlags &= ~UPDATE_TRIGGER;
        break;
    default: break;
    }
}

void VolumeColumnTick(Player* player, MusicChannel* channel, uint8_t v) {
    const RuleSet& rules = *player->ruleSet;
    const int32_t y = v & 15;
    switch (v >> 4) {
    case 0x6:
        channel->volume = std::max(channel->volume - y, 0);
        channel->updateFlags |= UPDATE_VOLUME;
        break;
    case 0x7:
        channel->volume = std::min(channel->volume + y, 64);
        channel->updateFlags |= UPDATE_VOLUME;
        break;
    case 0xB:
        if (y != 0 || !rules.volumeColumn.zeroKeepsVibrato)
            channel->vibratoDepth = static_cast<uint8_t>(y);
        rules.vibratoTick(player, channel);
        break;
    case 0xD:
        // Where the slides stop at the sides, the slide is subtracted as the byte 256 - y, so
        // that a left slide of 0 (the byte 0) takes the panning to hard left.
        if (rules.volumeColumn.limitedPanningSlides)
            channel->panning = y == 0 ? 0 : std::max(channel->panning - y, 0);
        else
            channel->panning -= y;
        channel->updateFlags |= UPDATE_PANNING;
        break;
    case 0xE:
        if (rules.volumeColumn.limitedPanningSlides)
            channel->panning = std::min(channel->panning + y, 255);
        else
            channel->panning += y;
        channel->updateFlags |= UPDATE_PANNING;
        break;
    case 0xF: rules.tonePortamento(player, channel); break;
    default: break;
    }
}
