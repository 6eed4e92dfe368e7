// standard_effects.h: what a track keeps for the standard rules' effect column, beside the
// fields both rule sets share.
#pragma once

#include <cstdint>

struct StandardEffectState {
    uint8_t unused; // nothing of its own yet
};
