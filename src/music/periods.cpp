// periods.cpp: note periods for both frequency tables, playback frequencies, and the voice's step
// for a track's frequency (which the rule set's frequency law gives). Runs inside MixBlock on
// the thread that renders the player.
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

} // namespace

// Doubles reach int32 only through here.
int32_t TruncateToInt32(double value) {
    if (!(value > -2147483648.0)) return INT32_MIN;
    if (value >= 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(value);
}

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

void FrequencyStep(const Player* player, MusicChannel* channel) {
    Voice* voice = channel->voice;
    const int32_t rate = player->mixer.mixRate;
    if (voice == nullptr || rate <= 0) return;
    const int32_t frequency = player->ruleSet->frequencyLaw(player, channel);
    voice->increment = frequency / rate;
    voice->incrementFraction = static_cast<uint32_t>(
        (static_cast<uint64_t>(frequency % rate) << 32) / static_cast<uint32_t>(rate));
}
