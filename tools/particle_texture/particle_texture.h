// particle_texture.h: makes the particle texture, a soft round white glow on black, as the
// bytes of a 24-bit bitmap file with a 40-byte info header.
#pragma once

#include <cstdint>
#include <vector>

constexpr int kParticleTextureSize = 64;

std::vector<uint8_t> MakeParticleBitmap(int size = kParticleTextureSize);
