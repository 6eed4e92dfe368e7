// interpolation.cpp: the choice of weight table for a voice (the tables: kernel_tables.cpp).
#include "music/interpolation.h"

const Kernel& CubicKernel() {
    return cubicKernel;
}

const Kernel& SincKernel(double step) {
    int32_t band = 0;
    while (band + 1 < SINC_KERNEL_COUNT && step > sincBands[band]) ++band;
    return sincKernels[band];
}
