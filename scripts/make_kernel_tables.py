#!/usr/bin/env python3
"""make_kernel_tables.py: writes src/music/kernel_tables.cpp, the weight tables the mixer reads
samples through with the cubic spline and the windowed sinc (see src/music/interpolation.h).

The tables are constant data of the library (it keeps no writable globals), made here once and
committed; run this again after changing a parameter below:

    scripts/make_kernel_tables.py [OUT.cpp]    (default: src/music/kernel_tables.cpp)
"""
import math
import os
import sys

KERNEL_ONE = 1 << 14
# Positions between two points the tables hold (as bits): the 8-tap kernels (the cubic and the
# sinc up to a step of 1) are read most and get the finest steps.
FINE_PHASE_BITS, PHASE_BITS = 10, 9
# Step bands: a voice takes the first band at or above its step, so that the cut-off never lies
# above what the step allows. Close bands keep the treble of notes played a little above the
# output rate.
SINC_BANDS = [1.0, 1.25, 1.5, 1.75, 2.0, 2.5, 3.0, 3.5, 4.0, 5.0, 6.0, 7.0, 8.0]
# The cut-off as a share of the band the step allows: the kernel needs room to roll off, and what
# it leaves above the cut-off is the aliasing.
CUTOFF = 0.88
# The Kaiser window's shape: higher gives a deeper stop band and a wider transition.
KAISER_BETA = 8.0


def sinc_taps(band):
    # 8 taps per band step, rounded up to a multiple of eight for the vector loop.
    return (int(8.0 * band + 0.999) + 7) // 8 * 8


def bessel_i0(x):
    total = term = 1.0
    for k in range(1, 50):
        term *= (x / (2.0 * k)) ** 2
        total += term
        if term < total * 1e-17:
            break
    return total


def lround(v):
    return int(math.floor(v + 0.5)) if v >= 0 else -int(math.floor(-v + 0.5))


def store(w):
    """Weights scaled to sum to KERNEL_ONE and rounded; what the rounding leaves over goes to the
    largest weight, so that a constant passes exactly."""
    total = sum(w)
    out = [lround(v / total * KERNEL_ONE) for v in w]
    largest = max(range(len(out)), key=lambda t: (abs(out[t]), -t))
    out[largest] += KERNEL_ONE - sum(out)
    return out


def cubic():
    table = []
    phases = 1 << FINE_PHASE_BITS
    for p in range(phases):
        f = p / phases
        # Catmull-Rom weights of the points at -1, 0, 1, 2 for the position f (taps 2-5 of 8).
        w = [0.0] * 8
        w[2] = ((-0.5 * f + 1.0) * f - 0.5) * f
        w[3] = (1.5 * f - 2.5) * f * f + 1.0
        w[4] = ((-1.5 * f + 2.0) * f + 0.5) * f
        w[5] = (0.5 * f - 0.5) * f * f
        table += store(w)
    return table


def sinc(band, phase_bits):
    taps = sinc_taps(band)
    cutoff = CUTOFF / band  # share of the sample's Nyquist frequency
    half = taps / 2.0
    i0_beta = bessel_i0(KAISER_BETA)
    phases = 1 << phase_bits
    table = []
    for p in range(phases):
        f = p / phases
        w = []
        for t in range(taps):
            # Distance of point i - (taps / 2 - 1) + t from the position i + f.
            x = (t - (taps // 2 - 1)) - f
            r = x / half
            window = 0.0 if abs(r) >= 1.0 else bessel_i0(KAISER_BETA * math.sqrt(1.0 - r * r)) / i0_beta
            arg = math.pi * cutoff * x
            s = 1.0 if abs(arg) < 1e-12 else math.sin(arg) / arg
            w.append(cutoff * s * window)
        table += store(w)
    return table, taps


def array(name, values):
    lines = [f"alignas(16) const int16_t {name}[{len(values)}] = {{"]
    for k in range(0, len(values), 16):
        lines.append("    " + ", ".join(str(v) for v in values[k:k + 16]) + ",")
    lines.append("};")
    return "\n".join(lines)


def main():
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "src", "music",
                                                               "kernel_tables.cpp")
    parts = ["// kernel_tables.cpp: the cubic and sinc weight tables (interpolation.h), written by",
             "// scripts/make_kernel_tables.py; change the script and run it again rather than this file.",
             "// clang-format off",
             '#include "music/interpolation.h"', "", "namespace {", ""]
    parts.append(array("CUBIC", cubic()))
    kernels = []
    for b, band in enumerate(SINC_BANDS):
        bits = FINE_PHASE_BITS if sinc_taps(band) == 8 else PHASE_BITS
        table, taps = sinc(band, bits)
        parts.append(array(f"SINC_{b}", table))
        kernels.append(f"    {{SINC_{b}, {taps}, {bits}}},")
    parts += ["", "} // namespace", "",
              f"const Kernel cubicKernel = {{CUBIC, 8, {FINE_PHASE_BITS}}};",
              f"const int32_t SINC_KERNEL_COUNT = {len(SINC_BANDS)};",
              "const double sincBands[] = {" + ", ".join(repr(b) for b in SINC_BANDS) + "};",
              "const Kernel sincKernels[] = {", *kernels, "};", "// clang-format on", ""]
    with open(out, "w") as f:
        f.write("\n".join(parts))


if __name__ == "__main__":
    main()
