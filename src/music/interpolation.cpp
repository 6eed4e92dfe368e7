// interpolation.cpp: builds the cubic and sinc weight tables (once, on first use).
#include "music/interpolation.h"

#include <cmath>
#include <mutex>

namespace {

// Step bands of the sinc tables: a voice takes the first band at or above its step, so that the
// cut-off never lies above what the step allows. Close bands keep the treble of notes played a
// little above the output rate.
constexpr double SINC_BANDS[] = {1.0, 1.25, 1.5, 1.75, 2.0, 2.5, 3.0, 3.5, 4.0, 5.0, 6.0, 7.0, 8.0};
constexpr int SINC_BAND_COUNT = sizeof SINC_BANDS / sizeof SINC_BANDS[0];

constexpr int SincTaps(double band) {
    // 8 taps per band step, rounded up to a multiple of four for the vector loop.
    const int taps = static_cast<int>(8.0 * band + 0.999);
    return (taps + 3) / 4 * 4;
}

constexpr int SincStorage() {
    int total = 0;
    for (double band : SINC_BANDS) total += SincTaps(band) * KERNEL_PHASES;
    return total;
}

// The cut-off as a share of the band the step allows: an 8-tap kernel needs room to roll off,
// and what it leaves above the cut-off is the aliasing.
constexpr double CUTOFF = 0.88;
// Kaiser window's shape: higher gives a deeper stop band and a wider transition.
constexpr double KAISER_BETA = 6.0;

alignas(16) float cubicWeights[4 * KERNEL_PHASES];
alignas(16) float sincWeights[SincStorage()];
Kernel cubicKernel;
Kernel sincKernels[SINC_BAND_COUNT];
std::once_flag built;

double BesselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 50; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}

// Scales a phase's weights to sum to 1, so that a constant passes unchanged.
void Normalise(float* w, int taps) {
    double sum = 0.0;
    for (int t = 0; t < taps; ++t) sum += w[t];
    for (int t = 0; t < taps; ++t) w[t] = static_cast<float>(w[t] / sum);
}

void Build() {
    for (int p = 0; p < KERNEL_PHASES; ++p) {
        const double f = static_cast<double>(p) / KERNEL_PHASES;
        float* w = cubicWeights + 4 * p;
        // Catmull-Rom weights of the points at -1, 0, 1, 2 for the position f.
        w[0] = static_cast<float>(((-0.5 * f + 1.0) * f - 0.5) * f);
        w[1] = static_cast<float>((1.5 * f - 2.5) * f * f + 1.0);
        w[2] = static_cast<float>(((-1.5 * f + 2.0) * f + 0.5) * f);
        w[3] = static_cast<float>((0.5 * f - 0.5) * f * f);
    }
    cubicKernel = Kernel{cubicWeights, 4};

    const double i0Beta = BesselI0(KAISER_BETA);
    float* at = sincWeights;
    for (int b = 0; b < SINC_BAND_COUNT; ++b) {
        const int taps = SincTaps(SINC_BANDS[b]);
        const double cutoff = CUTOFF / SINC_BANDS[b]; // share of the sample's Nyquist frequency
        const double half = taps / 2.0;
        for (int p = 0; p < KERNEL_PHASES; ++p) {
            const double f = static_cast<double>(p) / KERNEL_PHASES;
            float* w = at + taps * p;
            for (int t = 0; t < taps; ++t) {
                // Distance of point i - (taps / 2 - 1) + t from the position i + f.
                const double x = static_cast<double>(t - (taps / 2 - 1)) - f;
                const double r = x / half;
                const double window = std::fabs(r) >= 1.0
                                          ? 0.0
                                          : BesselI0(KAISER_BETA * std::sqrt(1.0 - r * r)) / i0Beta;
                const double arg = M_PI * cutoff * x;
                const double sinc = std::fabs(arg) < 1e-12 ? 1.0 : std::sin(arg) / arg;
                w[t] = static_cast<float>(cutoff * sinc * window);
            }
            Normalise(w, taps);
        }
        sincKernels[b] = Kernel{at, taps};
        at += taps * KERNEL_PHASES;
    }
}

} // namespace

const Kernel& CubicKernel() {
    std::call_once(built, Build);
    return cubicKernel;
}

const Kernel& SincKernel(double step) {
    std::call_once(built, Build);
    for (int b = 0; b < SINC_BAND_COUNT; ++b)
        if (step <= SINC_BANDS[b]) return sincKernels[b];
    return sincKernels[SINC_BAND_COUNT - 1];
}
