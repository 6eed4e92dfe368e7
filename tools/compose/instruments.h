// instruments.h: the soundtrack's nine instruments, synthesised and laid out as the file
// stores them (samples, note maps, envelopes, auto-vibrato, fade-out).
#pragma once

#include <vector>

#include "xm_writer.h"

namespace compose {

// Instrument numbers as the patterns name them.
enum InstrumentNumber : int {
    KIT = 1,        // kick, snare, clap, hats and crash on one note map
    BASS = 2,       // resonant saw bass, forward loop
    LEAD = 3,       // two detuned saws in a long loop, two samples for low and high notes, vibrato
    PAD = 4,        // detuned pad, ping-pong loop, looping panning envelope
    PLUCK = 5,      // plucked string, 8-bit, one-shot
    WIND = 6,       // breathing noise for risers, 8-bit, ping-pong loop
    BELL = 7,       // soft bell, two samples, decaying volume envelope
    PLUCK_ECHO = 8, // the pluck again, softer and panned the other way, for echoes
    GATE = 9,       // bright pad gated in sixteenths by a looping volume envelope
};

// Kit notes: the note each drum sounds at its own pitch (C-4 is 49).
constexpr int KIT_KICK = 49;  // C-4
constexpr int KIT_SNARE = 51; // D-4
constexpr int KIT_CLAP = 53;  // E-4
constexpr int KIT_HAT = 55;   // F#4
constexpr int KIT_OPEN = 59;  // A#4
constexpr int KIT_CRASH = 62; // C#5

// All instruments in number order.
std::vector<xmw::Instrument> BuildInstruments();

} // namespace compose
