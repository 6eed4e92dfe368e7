// interpolation.h: the weight tables a voice reads its sample through when it is mixed with the
// cubic spline or the windowed sinc. A table holds, for each of 2^phaseBits positions between
// two points, the weights of `taps` neighbouring points: tap t weighs point i - (taps / 2 - 1) + t
// for a position between points i and i + 1. The tables are constant data (kernel_tables.cpp,
// written by scripts/make_kernel_tables.py), so any thread may read them.
#pragma once

#include <cstdint>

// The widest kernel there is (the sinc's for the fastest steps).
constexpr int MAX_KERNEL_TAPS = 64;
// Weights are fixed-point with KERNEL_ONE for 1, so that a voice's points weigh up in integers:
// exact, and the same on every processor, with or without vector instructions.
constexpr int32_t KERNEL_BITS = 14;
constexpr int32_t KERNEL_ONE = 1 << KERNEL_BITS;

struct Kernel {
    const int16_t* weights; // 2^phaseBits x taps, 16-byte aligned; each phase sums to KERNEL_ONE
    int32_t taps;           // a multiple of eight
    int32_t phaseBits;      // the position's fraction is taken to this many bits
};

// The 4-point spline through the two points either side (Catmull-Rom: it passes through every
// point and keeps the slope continuous), held as 8 taps of which the outer four weigh nothing,
// so that every kernel is read by one loop.
const Kernel& CubicKernel();

// The windowed sinc for a voice that moves `step` sample points per output frame. Up to a step of
// 1 it has 8 taps and cuts just below the sample's own Nyquist frequency; for faster steps it cuts
// below the output's (1 / step of the sample's band) and widens in proportion, up to 64 taps
// (steps beyond 8 keep the widest kernel, whose band then lets some aliasing through).
const Kernel& SincKernel(double step);

// The tables themselves (kernel_tables.cpp): the sinc's by step band, sincBands[b] the largest
// step band b serves.
extern const Kernel cubicKernel;
extern const int32_t SINC_KERNEL_COUNT;
extern const double sincBands[];
extern const Kernel sincKernels[];
