// mix_controls.h: what a listener sets on a player while it plays: the interpolation, the stereo
// separation, the master gain, the volume ramp, channel mutes and solos and the 16-bit limiter.
// The record lives in the player; the renderer reads it at the start of each block, so a change
// takes effect from the next frame rendered. Every field's default leaves the output as the
// player's rule set renders it without controls.
#pragma once

#include <cstdint>

struct Player;

// How a voice reads between the sample's points. Linear is the original tracker's and the default.
enum class Interpolation : uint8_t { None = 0, Linear = 1, Cubic = 2, Sinc = 3 };

// The ranges the setters accept (the API refuses values outside them).
constexpr int32_t MIN_SEPARATION = 0;
constexpr int32_t MAX_SEPARATION = 200;
constexpr float MIN_GAIN_DB = -60.0f;
constexpr float MAX_GAIN_DB = 24.0f;
constexpr int32_t MAX_RAMP_MS = 100;

struct MixControls {
    Interpolation interpolation = Interpolation::Linear;
    // Percent: 0 mono, 100 as the rules pan, 200 widened; below 0: the rule set's own (a new
    // player starts at the rule set's value, which is 60 for MOD songs: see RuleSet).
    int32_t separation = -1;
    float gainDb = 0.0f;  // master gain on top of the rule set's level
    int32_t rampMs = -1;  // volume ramp length in ms; -1: the rule set's own
    uint32_t muted = 0;   // bit c: track c is silent
    uint32_t solo = 0;    // nonzero: only the tracks whose bit is set sound
    bool limiter = false; // soft-limit 16-bit output instead of clipping it
};
