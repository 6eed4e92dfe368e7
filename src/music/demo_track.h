// demo_track.h: what a track keeps for the demo's rules alone, beside what every rule set keeps
// in MusicChannel (sequencer.h). Only the demo's rules' files read or write it; their functions
// are declared in sequencer_internal.h.
#pragma once

#include <cstdint>

struct DemoTrack {
    uint8_t noteIndex;       // the cell's note, 0-based, that picks the instrument's sample
    uint8_t instrumentIndex; // the cell's instrument, 0-based
    int32_t sampleOffsetMemory;
    int32_t autoVibratoPosition;
    int32_t autoVibratoSweep; // ticks of the sweep so far
    uint8_t tremorCounter;
    uint8_t tremorOnTicks;
    uint8_t tremorOffTicks;
    uint8_t fineVolumeSlideMemory; // EAx and EBx share it
};
