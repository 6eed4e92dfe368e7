// periods.cpp: note periods for both frequency tables, playback frequencies, and the three steps
// that carry a track's period, volume and panning into its voice. Runs inside MixBlock on the
// thread that renders the player.
#include "music/mixer.h"
#include "music/module.h"
#include "music/player.h"
#include "music/sequencer_internal.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// P(k) of the Amiga table: 13.375 x 2^((132 - k) / 12), truncated.
int32_t AmigaTablePeriod(int32_t k) {
    return static_cast<int32_t>(13.375 * std::pow(2.0, static_cast<double>(132 - k) / 12.0));
}

// Doubles reach int32 only through here: a period driven far out of range by the unlimited
// slides must not turn into an undefined conversion.
int32_t TruncateToInt32(double value) {
    if (!(value > -2147483648.0)) return INT32_MIN;
    if (value >= 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(value);
}

// The voice's side volumes for its volume and panning. The demo's rule gives the first output
// channel the volume times panning / 255, so that panning 255 sounds wholly there; the format
// (the standard rules) puts 0 at the left (first) and 255 at the right.
void SideVolumes(const Player* player, Voice* voice) {
    if (player->rules == PlayerRules::Standard) {
        // The original tracker's panning law: each side gets the volume times the square root
        // of its share, so that a centred voice is as loud as one panned hard to a side.
        const double right = std::sqrt(voice->mixPanning / 256.0);
        const double left = std::sqrt((256 - voice->mixPanning) / 256.0);
        voice->volumeLeft = static_cast<int32_t>(std::lround(voice->mixVolume * left));
        voice->volumeRight = static_cast<int32_t>(std::lround(voice->mixVolume * right));
        return;
    }
    voice->volumeLeft = voice->mixVolume * voice->mixPanning / 255;
    voice->volumeRight = voice->mixVolume * (255 - voice->mixPanning) / 255;
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

} // namespace

int32_t AmigaPeriod(int32_t note, int32_t finetune) {
    const int32_t p = AmigaTablePeriod(note);
    if (finetune < 0 && note != 0) return p - ((p - AmigaTablePeriod(note - 1)) * -finetune) / 128;
    return p + ((AmigaTablePeriod(note + 1) - p) * finetune) / 128;
}

int32_t NotePeriod(const Module* module, int32_t realNote, int32_t finetune) {
    if (module->flags & MODULE_LINEAR_FREQUENCIES) return 7680 - 64 * realNote - finetune / 2;
    return AmigaPeriod(realNote, finetune);
}

int32_t PeriodFrequency(const Module* module, int32_t period, int32_t periodDelta) {
    if (module->flags & MODULE_LINEAR_FREQUENCIES) {
        const double exponent =
            (static_cast<double>(4608 - static_cast<int64_t>(period)) + periodDelta) / 768.0;
        return TruncateToInt32(8363.0 * std::pow(2.0, exponent));
    }
    const int64_t effective = static_cast<int64_t>(period) + periodDelta;
    if (effective == 0) return INT32_MAX;
    return static_cast<int32_t>(14317056 / effective);
}

void VolumeStep(const Player* player, MusicChannel* channel) {
    if (player->rules == PlayerRules::Standard) {
        // The volume (0-64), the envelope's value with its fraction (0-64), the fade-out and the
        // global volume (0-64), at the same scale as the demo's rules (255 at twice full).
        const StandardNoteState& note = channel->standardNote;
        const double volume = std::clamp(channel->volume + channel->volumeDelta, 0, 64) / 64.0;
        const double envelope = std::clamp(note.envelopeVolume, 0, 64 * 65536) / (64.0 * 65536);
        const double fade = std::clamp(channel->fadeoutVolume, 0, 65536) / 65536.0;
        const double global = std::clamp(player->globalVolume, 0, 64) / 64.0;
        Voice* voice = channel->voice;
        if (voice == nullptr) return;
        voice->mixVolume =
            static_cast<int32_t>(std::lround(volume * envelope * fade * global * 127.5));
        SideVolumes(player, voice);
        return;
    }
    const double product = static_cast<double>(channel->volumeEnvelope.value) *
                           (channel->volume + channel->volumeDelta) * channel->fadeoutVolume *
                           player->globalVolume * static_cast<double>(7.4214767664670944e-9f);
    // The voice's volume range is 0-255; a channel volume that effect C set above 64 may ask for
    // more, and is held at the top of the range.
    const int32_t v = std::clamp(TruncateToInt32(product), 0, 255);
    Voice* voice = channel->voice;
    if (voice == nullptr) return;
    voice->mixVolume = v;
    SideVolumes(player, voice);
}

void PanningStep(const Player* player, MusicChannel* channel) {
    if (player->rules == PlayerRules::Standard) {
        // The envelope (32 centred) moves the panning at most as far as the nearer side.
        const int64_t p = std::clamp(channel->panning, 0, 255);
        const int64_t e = std::clamp(channel->standardNote.envelopePanning, 0, 64 * 65536);
        const int64_t final = std::clamp<int64_t>(
            p + (e - 32 * 65536) * (128 - std::llabs(p - 128)) / (32 * 65536), 0, 255);
        Voice* voice = channel->voice;
        if (voice == nullptr) return;
        voice->mixPanning = static_cast<int32_t>(final);
        SideVolumes(player, voice);
        return;
    }
    const int64_t p = channel->panning;
    const int64_t e = channel->panningEnvelope.value;
    const int64_t final =
        std::clamp<int64_t>(p + (e - 32) * ((128 - std::llabs(p - 128)) / 32), 0, 255);
    Voice* voice = channel->voice;
    if (voice == nullptr) return;
    voice->mixPanning = static_cast<int32_t>(final);
    SideVolumes(player, voice);
}

void FrequencyStep(const Player* player, MusicChannel* channel) {
    Voice* voice = channel->voice;
    const int32_t rate = player->mixer.mixRate;
    if (voice == nullptr || rate <= 0) return;
    const int32_t frequency =
        player->rules == PlayerRules::Standard &&
                (player->module->flags & MODULE_LINEAR_FREQUENCIES)
            ? StandardLinearFrequency(channel->period - channel->periodDelta)
            : std::max(PeriodFrequency(player->module, channel->period, channel->periodDelta), 100);
    voice->increment = frequency / rate;
    voice->incrementFraction = static_cast<uint32_t>(
        (static_cast<uint64_t>(frequency % rate) << 32) / static_cast<uint32_t>(rate));
}
