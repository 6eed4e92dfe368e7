// synth.h: deterministic sound synthesis for the soundtrack's instruments. Only + - * / on
// doubles and integer arithmetic: no library maths, no clocks, a seeded generator of our own,
// so that every build of the composer writes the same bytes.
#pragma once

#include <cstdint>
#include <vector>

namespace compose {

// ---- Arithmetic we can trust to give the same bits everywhere ----

// sin(2 pi turns); any real argument.
double SineTurns(double turns);
// e^x for |x| up to a few hundred.
double Exp(double x);
// 2^x.
double Pow2(double x);
// Soft saturation, odd, slope 1 at 0, tending to +-1.
double SoftClip(double x);

// xorshift generator; the same seed gives the same sequence on every machine.
struct Noise {
    uint32_t state;
    explicit Noise(uint32_t seed) : state(seed ? seed : 0x9e3779b9u) {}
    uint32_t Next();
    // Uniform in [-1, 1).
    double Bipolar();
};

// One-pole filters. coefficient in (0, 1]: the share of the new input taken per frame.
struct OnePole {
    double state = 0;
    double Low(double in, double coefficient);
    double High(double in, double coefficient); // in minus its low-passed copy
};

// ---- Sample data ----

// A rendered sample before it is stored: frames in [-1, 1].
using Wave = std::vector<double>;

// Scales so that the largest magnitude is `peak` (0 < peak <= 1). A silent wave stays silent.
void Normalise(Wave& wave, double peak);
// Rounds to 16-bit and 8-bit signed values (half away from zero), clamped.
std::vector<int16_t> ToPcm16(const Wave& wave);
std::vector<int8_t> ToPcm8(const Wave& wave);
// Fades the last `frames` frames linearly to silence, so a one-shot ends without a click.
void FadeTail(Wave& wave, uint32_t frames);

// ---- The instruments' voices. Rates are frames per second of the stored sample. ----

// Drums, one-shot, at `rate`.
Wave Kick(double rate, uint32_t seed);
Wave Snare(double rate, uint32_t seed);
Wave Clap(double rate, uint32_t seed);
Wave HiHat(double rate, double seconds, uint32_t seed);
Wave Crash(double rate, uint32_t seed);

// Tones whose period is exactly `cycle` frames (a power-of-two multiple of 32).
// Resonant saw-and-square bass whose brightness falls over `attackCycles` cycles, followed by
// `loopCycles` unchanging cycles.
Wave Bass(uint32_t cycle, uint32_t attackCycles, uint32_t loopCycles);
// Rich lead: two saws detuned against each other, `harmonics` partials each, an edge that
// softens over `attackCycles` cycles, then a loop of `beatCycles` cycles (the last
// cycle * beatCycles frames) over which the saws drift apart and back exactly once.
Wave Lead(uint32_t cycle, uint32_t harmonics, uint32_t attackCycles, uint32_t beatCycles);
// Plucked string (delay-line model) with exactly `cycle` frames per period.
Wave Pluck(uint32_t cycle, uint32_t frames, uint32_t seed);
// Struck bell, one-shot, `frames` long: a fundamental of `cycle` frames and the inharmonic
// partials of a bell, all dying away, the fundamental by 40 dB over `ringFrames`.
Wave Bell(uint32_t cycle, uint32_t frames, double ringFrames);
// Warm pad: pairs of slightly detuned partials, `frames` long; meant for a ping-pong loop.
Wave Pad(uint32_t cycle, uint32_t frames, uint32_t seed);
// Band-passed noise that breathes slowly, `frames` long; meant for a ping-pong loop.
Wave Wind(uint32_t frames, uint32_t seed);

} // namespace compose
