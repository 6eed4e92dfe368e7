// standard_effects.cpp: the effect column under the standard rules, as the original tracker plays
// it. Runs inside MixBlock on the thread that renders the player.
#include "music/module.h"
#include "music/player.h"
#include "music/sequencer_internal.h"

void StandardEffectRow(Player* player, MusicChannel* channel, const PatternCell& cell,
                       const Instrument* instrument, const Sample* sample,
                       const RowLevels& before) {
    EffectRow(player, channel, cell, instrument, sample, before);
}

void StandardEffectTick(Player* player, MusicChannel* channel, const PatternCell& cell,
                        const Instrument* instrument, const Sample* sample) {
    EffectTick(player, channel, cell, instrument, sample);
}
