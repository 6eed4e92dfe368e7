// synth.cpp: deterministic sound synthesis for the soundtrack's instruments. Every formula
// here uses only + - * / on doubles (and floor/ldexp, which are exact), evaluated in a fixed
// order, so the rendered samples are bit-identical on every IEEE machine.
#include "synth.h"

#include <cmath>

namespace compose {

namespace {

constexpr double TWO_PI = 6.283185307179586;
constexpr double LN2 = 0.6931471805599453;

// Sine of x in [0, pi/2] by its Taylor series to x^17; the error is below 1e-13 there.
double SineQuadrant(double x) {
    double x2 = x * x;
    double term = x;
    double sum = x;
    for (int k = 1; k <= 8; ++k) {
        term = -term * x2 / double((2 * k) * (2 * k + 1));
        sum += term;
    }
    return sum;
}

} // namespace

double SineTurns(double turns) {
    double r = turns - std::floor(turns); // [0, 1)
    double sign = 1.0;
    if (r >= 0.5) {
        sign = -1.0;
        r -= 0.5;
    }
    if (r > 0.25) r = 0.5 - r;
    return sign * SineQuadrant(r * TWO_PI);
}

double Exp(double x) {
    if (x < -700.0) return 0.0;
    double n = std::floor(x / LN2 + 0.5);
    double r = x - n * LN2; // |r| <= ln2 / 2
    double term = 1.0;
    double sum = 1.0;
    for (int k = 1; k <= 16; ++k) {
        term = term * r / double(k);
        sum += term;
    }
    return std::ldexp(sum, int(n));
}

double Pow2(double x) {
    return Exp(x * LN2);
}

double SoftClip(double x) {
    if (x >= 3.0) return 1.0;
    if (x <= -3.0) return -1.0;
    double x2 = x * x;
    return x * (27.0 + x2) / (27.0 + 9.0 * x2);
}

uint32_t Noise::Next() {
    uint32_t x = state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    state = x;
    return x;
}

double Noise::Bipolar() {
    return double(int32_t(Next())) / 2147483648.0;
}

double OnePole::Low(double in, double coefficient) {
    state += (in - state) * coefficient;
    return state;
}

double OnePole::High(double in, double coefficient) {
    return in - Low(in, coefficient);
}

void Normalise(Wave& wave, double peak) {
    double largest = 0;
    for (double v : wave) largest = std::fmax(largest, std::fabs(v));
    if (largest == 0) return;
    double scale = peak / largest;
    for (double& v : wave) v *= scale;
}

namespace {

double RoundHalfAway(double v) {
    return v >= 0 ? std::floor(v + 0.5) : -std::floor(-v + 0.5);
}

} // namespace

std::vector<int16_t> ToPcm16(const Wave& wave) {
    std::vector<int16_t> out(wave.size());
    for (size_t i = 0; i < wave.size(); ++i) {
        double v = RoundHalfAway(wave[i] * 32767.0);
        out[i] = int16_t(std::fmin(32767.0, std::fmax(-32768.0, v)));
    }
    return out;
}

std::vector<int8_t> ToPcm8(const Wave& wave) {
    std::vector<int8_t> out(wave.size());
    for (size_t i = 0; i < wave.size(); ++i) {
        double v = RoundHalfAway(wave[i] * 127.0);
        out[i] = int8_t(std::fmin(127.0, std::fmax(-128.0, v)));
    }
    return out;
}

void FadeTail(Wave& wave, uint32_t frames) {
    if (frames > wave.size()) frames = uint32_t(wave.size());
    size_t start = wave.size() - frames;
    for (uint32_t k = 0; k < frames; ++k)
        wave[start + k] *= double(frames - 1 - k) / double(frames);
}

// ---- Drums ----

Wave Kick(double rate, uint32_t seed) {
    Noise noise(seed);
    OnePole click;
    // Short and pitched at 60 Hz, between the bass's roots (A-1 at 55 Hz, C-2 at 65 Hz), so the
    // two do not mask each other; the click carries it through small speakers.
    Wave wave(size_t(0.3 * rate));
    double phase = 0;
    for (size_t i = 0; i < wave.size(); ++i) {
        double t = double(i) / rate;
        double frequency = 60.0 + 130.0 * Exp(-t / 0.028) + 70.0 * Exp(-t / 0.004);
        phase += frequency / rate;
        double body = SineTurns(phase) * Exp(-t / 0.12);
        double tick = click.Low(noise.Bipolar(), 0.5) * Exp(-t / 0.003);
        wave[i] = SoftClip(1.6 * body + 0.7 * tick);
    }
    FadeTail(wave, uint32_t(0.01 * rate));
    return wave;
}

Wave Snare(double rate, uint32_t seed) {
    Noise noise(seed);
    OnePole low, high;
    Wave wave(size_t(0.32 * rate));
    double phase1 = 0, phase2 = 0;
    for (size_t i = 0; i < wave.size(); ++i) {
        double t = double(i) / rate;
        phase1 += (180.0 + 70.0 * Exp(-t / 0.012)) / rate;
        phase2 += (330.0 + 40.0 * Exp(-t / 0.012)) / rate;
        double body =
            0.7 * SineTurns(phase1) * Exp(-t / 0.055) + 0.3 * SineTurns(phase2) * Exp(-t / 0.035);
        double hiss = low.Low(high.High(noise.Bipolar(), 0.12), 0.55) * Exp(-t / 0.1);
        wave[i] = SoftClip(1.2 * body + 1.1 * hiss);
    }
    FadeTail(wave, uint32_t(0.02 * rate));
    return wave;
}

Wave Clap(double rate, uint32_t seed) {
    Noise noise(seed);
    OnePole low, high;
    Wave wave(size_t(0.36 * rate));
    const double bursts[3] = {0.0, 0.011, 0.023};
    for (size_t i = 0; i < wave.size(); ++i) {
        double t = double(i) / rate;
        double envelope = 0;
        for (double start : bursts)
            if (t >= start) envelope += Exp(-(t - start) / 0.005);
        if (t >= 0.031) envelope += 0.75 * Exp(-(t - 0.031) / 0.11);
        double band = low.Low(high.High(noise.Bipolar(), 0.09), 0.4);
        wave[i] = band * envelope;
    }
    FadeTail(wave, uint32_t(0.02 * rate));
    return wave;
}

namespace {

// Six square waves at unrelated frequencies: the metallic core of hats and cymbals.
double Metal(double t) {
    static const double frequencies[6] = {317.0, 421.3, 563.8, 719.1, 948.6, 1227.4};
    double sum = 0;
    for (double f : frequencies) {
        double x = f * 1.9 * t;
        sum += (x - std::floor(x)) < 0.5 ? 1.0 : -1.0;
    }
    return sum / 6.0;
}

} // namespace

Wave HiHat(double rate, double seconds, uint32_t seed) {
    Noise noise(seed);
    OnePole high1, high2;
    Wave wave(size_t(seconds * rate));
    for (size_t i = 0; i < wave.size(); ++i) {
        double t = double(i) / rate;
        double raw = 0.55 * Metal(t) + 0.45 * noise.Bipolar();
        double bright = high2.High(high1.High(raw, 0.45), 0.45);
        wave[i] = bright * Exp(-t / (seconds * 0.28));
    }
    FadeTail(wave, uint32_t(0.004 * rate));
    return wave;
}

Wave Crash(double rate, uint32_t seed) {
    Noise noise(seed);
    OnePole high, low;
    Wave wave(size_t(1.3 * rate));
    for (size_t i = 0; i < wave.size(); ++i) {
        double t = double(i) / rate;
        double raw = 0.35 * Metal(t * 1.37) + 0.65 * noise.Bipolar();
        double shaped = low.Low(high.High(raw, 0.3), 0.8);
        double attack = t < 0.002 ? t / 0.002 : 1.0;
        wave[i] = shaped * attack * Exp(-t / 0.42);
    }
    FadeTail(wave, uint32_t(0.1 * rate));
    return wave;
}

// ---- Tones ----

namespace {

// One period of sine, `cycle` entries, so that harmonic h at frame i is table[(h * i) % cycle].
std::vector<double> SineTable(uint32_t cycle) {
    std::vector<double> table(cycle);
    for (uint32_t i = 0; i < cycle; ++i) table[i] = SineTurns(double(i) / double(cycle));
    return table;
}

// Adds one cycle made of harmonic amplitudes `amplitudes` (index h = harmonic h, 0 unused).
void AppendCycle(Wave& wave, const std::vector<double>& table,
                 const std::vector<double>& amplitudes) {
    uint32_t cycle = uint32_t(table.size());
    for (uint32_t i = 0; i < cycle; ++i) {
        double sum = 0;
        for (uint32_t h = 1; h < amplitudes.size(); ++h)
            sum += amplitudes[h] * table[(uint64_t(h) * i) % cycle];
        wave.push_back(sum);
    }
}

} // namespace

Wave Bass(uint32_t cycle, uint32_t attackCycles, uint32_t loopCycles) {
    std::vector<double> table = SineTable(cycle);
    uint32_t harmonics = cycle / 2 - 1;
    if (harmonics > 90) harmonics = 90;
    Wave wave;
    std::vector<double> amplitudes(harmonics + 1);
    for (uint32_t c = 0; c < attackCycles + loopCycles; ++c) {
        double age = double(c < attackCycles ? c : attackCycles);
        // The cut-off harmonic falls from bright to a warm 4th harmonic.
        double cutoff = 4.0 + 36.0 * Exp(-age / (0.22 * double(attackCycles)));
        for (uint32_t h = 1; h <= harmonics; ++h) {
            double hd = double(h);
            double base = (h % 2 ? 1.0 : 0.55) / hd;
            double ratio = hd / cutoff;
            double low = 1.0 / (1.0 + ratio * ratio * ratio * ratio);
            double peak = (hd - cutoff) / 1.8;
            double resonance = 1.0 + 1.2 * Exp(-peak * peak);
            amplitudes[h] = base * low * resonance;
        }
        amplitudes[1] += 0.1; // a little sub weight; the kick owns the lowest octave
        AppendCycle(wave, table, amplitudes);
    }
    return wave;
}

Wave Lead(uint32_t cycle, uint32_t harmonics, uint32_t attackCycles, uint32_t beatCycles) {
    // Two saws, one a little flat and one a little sharp: over the loop of `beatCycles` written
    // cycles they run exactly one cycle less and one more, so the loop repeats seamlessly and the
    // pair beats once per loop while their average stays at the written pitch.
    uint32_t loop = cycle * beatCycles;
    std::vector<double> table = SineTable(loop);
    if (harmonics > cycle / 2 - 2) harmonics = cycle / 2 - 2;
    uint32_t attack = cycle * attackCycles;
    Wave wave(attack + loop);
    std::vector<double> amplitudes(harmonics + 1);
    for (uint32_t i = 0; i < attack + loop; ++i) {
        // The edge softens over the attack and then stays put, so the loop's cycles are alike.
        if (i % cycle == 0 && i <= attack) {
            double age = double(i / cycle);
            double edge = 10.0 + 16.0 * Exp(-age / (0.3 * double(attackCycles)));
            for (uint32_t h = 1; h <= harmonics; ++h) {
                double ratio = double(h) / edge;
                amplitudes[h] = 1.0 / double(h) / (1.0 + ratio * ratio);
            }
        }
        double sum = 0;
        for (uint32_t h = 1; h <= harmonics; ++h) {
            uint64_t flat = uint64_t(h) * (beatCycles - 1) * i % loop;
            uint64_t sharp = uint64_t(h) * (beatCycles + 1) * i % loop;
            sum += amplitudes[h] * (table[flat] + table[sharp]);
        }
        wave[i] = sum;
    }
    return wave;
}

Wave Pluck(uint32_t cycle, uint32_t frames, uint32_t seed) {
    Noise noise(seed);
    OnePole soften;
    Wave wave(frames);
    double mean = 0;
    for (uint32_t i = 0; i <= cycle && i < frames; ++i) {
        wave[i] = soften.Low(noise.Bipolar(), 0.55);
        mean += wave[i];
    }
    mean /= double(cycle + 1);
    for (uint32_t i = 0; i <= cycle && i < frames; ++i) wave[i] -= mean;
    // A symmetric three-tap average delays by exactly one period, so the pitch stays true.
    for (uint32_t i = cycle + 1; i < frames; ++i)
        wave[i] = 0.9985 *
                  (0.25 * wave[i - cycle - 1] + 0.5 * wave[i - cycle] + 0.25 * wave[i - cycle + 1]);
    FadeTail(wave, frames / 8);
    return wave;
}

Wave Bell(uint32_t cycle, uint32_t frames, double ringFrames) {
    // Partials of a struck bell: ratio to the fundamental, level, and how long each rings as a
    // share of the fundamental's ring. The strike's partials (2.76, 5.4, 8.93) sound nearly as
    // loud as the fundamental at first and fade sooner, the octave hums on under them.
    static const double partials[5][3] = {{1.00, 1.00, 1.00},
                                          {2.00, 0.22, 0.80},
                                          {2.76, 0.78, 0.45},
                                          {5.40, 0.62, 0.35},
                                          {8.93, 0.80, 0.30}};
    Wave wave(frames, 0.0);
    // A fundamental that falls 40 dB over `ringFrames` (e^-4.6).
    const double tau = ringFrames / 4.6;
    const double attack = double(cycle) * 0.75;
    for (const auto& p : partials) {
        double step = p[0] / double(cycle), decay = tau * p[2];
        for (uint32_t i = 0; i < frames; ++i) {
            double t = double(i);
            double rise = t < attack ? t / attack : 1.0;
            wave[i] += p[1] * rise * Exp(-t / decay) * SineTurns(step * t);
        }
    }
    FadeTail(wave, frames / 10);
    return wave;
}

Wave Pad(uint32_t cycle, uint32_t frames, uint32_t seed) {
    Noise noise(seed);
    Wave wave(frames, 0.0);
    const int partials = 14;
    for (int h = 1; h <= partials; ++h) {
        double hd = double(h);
        double ratio = hd / 5.0;
        double level = 1.0 / hd / (1.0 + ratio * ratio);
        for (int side = -1; side <= 1; side += 2) {
            double spread = 0.0032 * (0.6 + 0.4 * (noise.Bipolar() * 0.5 + 0.5));
            double step = hd * (1.0 + double(side) * spread) / double(cycle);
            double start = noise.Bipolar() * 0.5 + 0.5;
            for (uint32_t i = 0; i < frames; ++i)
                wave[i] += level * SineTurns(start + double(i) * step);
        }
    }
    return wave;
}

Wave Wind(uint32_t frames, uint32_t seed) {
    Noise noise(seed);
    Wave wave(frames);
    double low = 0, band = 0;
    for (uint32_t i = 0; i < frames; ++i) {
        double sweep = SineTurns(double(i) / double(frames) * 1.5);
        double tuning = 2.0 * SineTurns((0.035 + 0.02 * sweep) * 0.5);
        double damping = 0.35;
        double in = noise.Bipolar();
        low += tuning * band;
        double high = in - low - damping * band;
        band += tuning * high;
        double breathe = 0.75 + 0.25 * SineTurns(double(i) / double(frames) * 3.0);
        wave[i] = band * breathe;
    }
    return wave;
}

} // namespace compose
