// interpolation.cpp: builds the cubic and sinc weight tables (each once, on first use).
#include "music/interpolation.h"

#include <cmath>
#include <cstdlib>
#include <mutex>

namespace {

// Step bands of the sinc tables: a voice takes the first band at or above its step, so that the
// cut-off never lies above what the step allows. Close bands keep the treble of notes played a
// little above the output rate.
constexpr double SINC_BANDS[] = {1.0, 1.25, 1.5, 1.75, 2.0, 2.5, 3.0, 3.5, 4.0, 5.0, 6.0, 7.0, 8.0};
constexpr int SINC_BAND_COUNT = sizeof SINC_BANDS / sizeof SINC_BANDS[0];

constexpr int SincTaps(double band) {
    // 8 taps per band step, rounded up to a multiple of eight for the vector loop.
    const int taps = static_cast<int>(8.0 * band + 0.999);
    return (taps + 7) / 8 * 8;
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
constexpr double KAISER_BETA = 8.0;

alignas(16) int16_t cubicWeights[8 * KERNEL_PHASES];
alignas(16) int16_t sincWeights[SincStorage()];
Kernel cubicKernel;
Kernel sincKernels[SINC_BAND_COUNT];
// Each table is built when it is first asked for.
std::once_flag cubicBuilt;
std::once_flag sincBuilt[SINC_BAND_COUNT];

double BesselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 50; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}

// A phase's weights scaled to sum to KERNEL_ONE and rounded; what the rounding leaves over goes
// to the largest weight, so that a constant passes exactly.
void Store(const double* w, int taps, int16_t* out) {
    double sum = 0.0;
    for (int t = 0; t < taps; ++t) sum += w[t];
    int32_t total = 0, largest = 0;
    for (int t = 0; t < taps; ++t) {
        out[t] = static_cast<int16_t>(std::lround(w[t] / sum * KERNEL_ONE));
        total += out[t];
        if (std::abs(out[t]) > std::abs(out[largest])) largest = t;
    }
    out[largest] = static_cast<int16_t>(out[largest] + (KERNEL_ONE - total));
}

void BuildCubic() {
    for (int p = 0; p < KERNEL_PHASES; ++p) {
        const double f = static_cast<double>(p) / KERNEL_PHASES;
        // Catmull-Rom weights of the points at -1, 0, 1, 2 for the position f (taps 2-5 of 8).
        double w[8] = {};
        w[2] = ((-0.5 * f + 1.0) * f - 0.5) * f;
        w[3] = (1.5 * f - 2.5) * f * f + 1.0;
        w[4] = ((-1.5 * f + 2.0) * f + 0.5) * f;
        w[5] = (0.5 * f - 0.5) * f * f;
        Store(w, 8, cubicWeights + 8 * p);
    }
    cubicKernel = Kernel{cubicWeights, 8};
}

void BuildSinc(int band) {
    int16_t* at = sincWeights;
    for (int b = 0; b < band; ++b) at += SincTaps(SINC_BANDS[b]) * KERNEL_PHASES;
    const int taps = SincTaps(SINC_BANDS[band]);
    const double cutoff = CUTOFF / SINC_BANDS[band]; // share of the sample's Nyquist frequency
    const double half = taps / 2.0;
    const double i0Beta = BesselI0(KAISER_BETA);
    for (int p = 0; p < KERNEL_PHASES; ++p) {
        const double f = static_cast<double>(p) / KERNEL_PHASES;
        double w[MAX_KERNEL_TAPS];
        for (int t = 0; t < taps; ++t) {
            // Distance of point i - (taps / 2 - 1) + t from the position i + f.
            const double x = static_cast<double>(t - (taps / 2 - 1)) - f;
            const double r = x / half;
            const double window =
                std::fabs(r) >= 1.0 ? 0.0 : BesselI0(KAISER_BETA * std::sqrt(1.0 - r * r)) / i0Beta;
            const double arg = M_PI * cutoff * x;
            const double sinc = std::fabs(arg) < 1e-12 ? 1.0 : std::sin(arg) / arg;
            w[t] = cutoff * sinc * window;
        }
        Store(w, taps, at + taps * p);
    }
    sincKernels[band] = Kernel{at, taps};
}

} // namespace

const Kernel& CubicKernel() {
    std::call_once(cubicBuilt, BuildCubic);
    return cubicKernel;
}

const Kernel& SincKernel(double step) {
    int band = 0;
    while (band + 1 < SINC_BAND_COUNT && step > SINC_BANDS[band]) ++band;
    std::call_once(sincBuilt[band], BuildSinc, band);
    return sincKernels[band];
}
