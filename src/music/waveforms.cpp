// waveforms.cpp: the vibrato and tremolo waveforms every rule set reads. Runs inside MixBlock on
// the thread that renders the player.
#include "music/sequencer_internal.h"

// |sin(2 i pi / 64)| x 256, truncated, with pi taken as 3.141592: the peak is 255.
const uint8_t vibratoSineTable[32] = {0,   25,  49,  74,  97,  120, 142, 162, 181, 197, 212,
                                      225, 236, 244, 251, 254, 255, 254, 251, 244, 236, 225,
                                      212, 197, 181, 162, 142, 120, 97,  74,  49,  25};

int32_t WaveMagnitude(int32_t waveform, int32_t phase, int32_t rampSign) {
    switch (waveform & 3) {
    case 0: return vibratoSineTable[phase & 31];
    case 1: {
        const int32_t ramp = (phase & 31) * 8;
        return rampSign < 0 ? 255 - ramp : ramp;
    }
    default: return 255;
    }
}
