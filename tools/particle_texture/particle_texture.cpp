// particle_texture.cpp: the glow is brightest in the middle and falls smoothly to black at the
// inscribed circle, so the particles' crossed squares show no edges.
#include "particle_texture.h"

#include <cmath>

namespace {

void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

uint8_t GlowAt(int x, int y, int size) {
    const double half = size / 2.0;
    const double dx = (x + 0.5 - half) / half, dy = (y + 0.5 - half) / half;
    const double d = std::sqrt(dx * dx + dy * dy);
    if (d >= 1.0) return 0;
    const double a = 1.0 - d;
    // Smooth edge, bright core.
    const double v = a * a * (3.0 - 2.0 * a) * (0.55 + 0.45 * a * a);
    return uint8_t(std::lround(v * 255.0));
}

} // namespace

std::vector<uint8_t> MakeParticleBitmap(int size) {
    const uint32_t rowBytes = (uint32_t(size) * 3 + 3) & ~3u;
    const uint32_t pixelBytes = rowBytes * uint32_t(size);
    std::vector<uint8_t> out;
    out.reserve(54 + pixelBytes);
    out.push_back('B');
    out.push_back('M');
    Put32(out, 54 + pixelBytes); // file size
    Put32(out, 0);               // reserved
    Put32(out, 54);              // pixel data offset
    Put32(out, 40);              // info header
    Put32(out, uint32_t(size));
    Put32(out, uint32_t(size)); // bottom-up
    Put16(out, 1);              // planes
    Put16(out, 24);             // bits per pixel
    Put32(out, 0);              // no compression
    Put32(out, pixelBytes);
    Put32(out, 2835); // 72 dpi
    Put32(out, 2835);
    Put32(out, 0); // colours used
    Put32(out, 0); // colours important
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const uint8_t v = GlowAt(x, y, size);
            out.push_back(v); // blue, green, red
            out.push_back(v);
            out.push_back(v);
        }
        for (uint32_t pad = uint32_t(size) * 3; pad < rowBytes; ++pad) out.push_back(0);
    }
    return out;
}
