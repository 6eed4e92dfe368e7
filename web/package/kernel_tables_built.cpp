// kernel_tables_built.cpp: the package's cubic and sinc weight tables (interpolation.h), built
// in memory when the package first makes a player instead of shipped in the wasm file: the
// native library keeps them as constant data (src/music/kernel_tables.cpp), which would make the
// package four times its size. The arithmetic is scripts/make_kernel_tables.py's, step for step,
// so the weights are the same numbers. A wasm instance runs one thread, so the writable tables
// here are filled once before any player reads them.
#include <cmath>
#include <cstdlib>

#include "music/interpolation.h"

namespace {

constexpr int FINE_PHASE_BITS = 10;
constexpr int PHASE_BITS = 9;
constexpr double CUTOFF = 0.88;
constexpr double KAISER_BETA = 8.0;
constexpr int BAND_COUNT = 13;
constexpr double BANDS[BAND_COUNT] = {1.0, 1.25, 1.5, 1.75, 2.0, 2.5, 3.0,
                                      3.5, 4.0,  5.0, 6.0,  7.0, 8.0};

constexpr int SincTaps(double band) {
    return (static_cast<int>(8.0 * band + 0.999) + 7) / 8 * 8;
}
constexpr int PhaseBits(double band) {
    return SincTaps(band) == 8 ? FINE_PHASE_BITS : PHASE_BITS;
}
constexpr int TableSize(double band) {
    return (1 << PhaseBits(band)) * SincTaps(band);
}
constexpr int AllSincWeights() {
    int total = 0;
    for (double band : BANDS) total += TableSize(band);
    return total;
}

alignas(16) int16_t cubicWeights[(1 << FINE_PHASE_BITS) * 8];
alignas(16) int16_t sincWeights[AllSincWeights()];
bool built = false;

double BesselI0(double x) {
    double total = 1.0;
    double term = 1.0;
    for (int k = 1; k < 50; ++k) {
        const double half = x / (2.0 * k);
        term *= half * half;
        total += term;
        if (term < total * 1e-17) break;
    }
    return total;
}

long Round(double v) {
    return v >= 0 ? static_cast<long>(std::floor(v + 0.5))
                  : -static_cast<long>(std::floor(-v + 0.5));
}

// Weights scaled to sum to KERNEL_ONE and rounded; what the rounding leaves over goes to the
// largest weight (the first of equals), so that a constant passes exactly.
void Store(const double* w, int taps, int16_t* out) {
    double total = 0;
    for (int t = 0; t < taps; ++t) total += w[t];
    long sum = 0;
    int largest = 0;
    long values[MAX_KERNEL_TAPS];
    for (int t = 0; t < taps; ++t) {
        values[t] = Round(w[t] / total * KERNEL_ONE);
        sum += values[t];
        if (std::labs(values[t]) > std::labs(values[largest])) largest = t;
    }
    values[largest] += KERNEL_ONE - sum;
    for (int t = 0; t < taps; ++t) out[t] = static_cast<int16_t>(values[t]);
}

void BuildCubic() {
    const int phases = 1 << FINE_PHASE_BITS;
    for (int p = 0; p < phases; ++p) {
        const double f = static_cast<double>(p) / phases;
        double w[8] = {};
        w[2] = ((-0.5 * f + 1.0) * f - 0.5) * f;
        w[3] = (1.5 * f - 2.5) * f * f + 1.0;
        w[4] = ((-1.5 * f + 2.0) * f + 0.5) * f;
        w[5] = (0.5 * f - 0.5) * f * f;
        Store(w, 8, cubicWeights + p * 8);
    }
}

void BuildSinc(double band, int16_t* out) {
    const int taps = SincTaps(band);
    const double cutoff = CUTOFF / band;
    const double half = taps / 2.0;
    const double i0Beta = BesselI0(KAISER_BETA);
    const int phases = 1 << PhaseBits(band);
    const double pi = std::acos(-1.0);
    for (int p = 0; p < phases; ++p) {
        const double f = static_cast<double>(p) / phases;
        double w[MAX_KERNEL_TAPS];
        for (int t = 0; t < taps; ++t) {
            const double x = (t - (taps / 2 - 1)) - f;
            const double r = x / half;
            const double window =
                std::fabs(r) >= 1.0 ? 0.0 : BesselI0(KAISER_BETA * std::sqrt(1.0 - r * r)) / i0Beta;
            const double arg = pi * cutoff * x;
            const double s = std::fabs(arg) < 1e-12 ? 1.0 : std::sin(arg) / arg;
            w[t] = cutoff * s * window;
        }
        Store(w, taps, out + p * taps);
    }
}

// Where band b's table starts in sincWeights.
constexpr int Offset(int band) {
    int offset = 0;
    for (int b = 0; b < band; ++b) offset += TableSize(BANDS[b]);
    return offset;
}

} // namespace

// Fills the tables; the glue calls it before it makes a player (again: nothing happens).
void BuildKernelTables() {
    if (built) return;
    BuildCubic();
    for (int b = 0; b < BAND_COUNT; ++b) BuildSinc(BANDS[b], sincWeights + Offset(b));
    built = true;
}

const Kernel cubicKernel = {cubicWeights, 8, FINE_PHASE_BITS};
const int32_t SINC_KERNEL_COUNT = BAND_COUNT;
const double sincBands[] = {1.0, 1.25, 1.5, 1.75, 2.0, 2.5, 3.0, 3.5, 4.0, 5.0, 6.0, 7.0, 8.0};
const Kernel sincKernels[] = {
    {sincWeights + Offset(0), SincTaps(BANDS[0]), PhaseBits(BANDS[0])},
    {sincWeights + Offset(1), SincTaps(BANDS[1]), PhaseBits(BANDS[1])},
    {sincWeights + Offset(2), SincTaps(BANDS[2]), PhaseBits(BANDS[2])},
    {sincWeights + Offset(3), SincTaps(BANDS[3]), PhaseBits(BANDS[3])},
    {sincWeights + Offset(4), SincTaps(BANDS[4]), PhaseBits(BANDS[4])},
    {sincWeights + Offset(5), SincTaps(BANDS[5]), PhaseBits(BANDS[5])},
    {sincWeights + Offset(6), SincTaps(BANDS[6]), PhaseBits(BANDS[6])},
    {sincWeights + Offset(7), SincTaps(BANDS[7]), PhaseBits(BANDS[7])},
    {sincWeights + Offset(8), SincTaps(BANDS[8]), PhaseBits(BANDS[8])},
    {sincWeights + Offset(9), SincTaps(BANDS[9]), PhaseBits(BANDS[9])},
    {sincWeights + Offset(10), SincTaps(BANDS[10]), PhaseBits(BANDS[10])},
    {sincWeights + Offset(11), SincTaps(BANDS[11]), PhaseBits(BANDS[11])},
    {sincWeights + Offset(12), SincTaps(BANDS[12]), PhaseBits(BANDS[12])},
};
