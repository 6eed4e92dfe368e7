// dib_loader_fuzz.cpp: feeds arbitrary bytes to the bitmap conversion; every accepted picture
// must be fully readable at the size it claims, and nothing may leak.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "image/dib_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Small pictures keep the runs fast; the cap itself is exercised all the same.
    dibLoader.maxResultBytes = 1 << 20;
    const char* failure = nullptr;
    RgbImage* image = DecodeDib(data, size, &failure);
    if (!image) {
        if (!failure) std::abort(); // a refusal always says why
        return 0;
    }
    if (image->width <= 0 || image->height <= 0) std::abort();
    // Touch every byte so the sanitizer sees any short allocation.
    const size_t bytes = size_t(image->width) * size_t(image->height) * 3;
    unsigned sum = 0;
    for (size_t i = 0; i < bytes; ++i) sum += image->pixels[i];
    volatile unsigned sink = sum;
    (void)sink;
    FreeRgbImage(image);
    return 0;
}
