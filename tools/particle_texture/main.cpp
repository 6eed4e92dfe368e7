// main.cpp: particle_texture [OUT] writes the particle texture (default data/Data/Particle.bmp,
// relative to the working directory).
#include <cstdio>

#include "particle_texture.h"

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "data/Data/Particle.bmp";
    std::vector<uint8_t> bytes = MakeParticleBitmap();
    std::FILE* f = std::fopen(path, "wb");
    if (!f) {
        std::fprintf(stderr, "particle_texture: cannot write %s\n", path);
        return 1;
    }
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !ok) {
        std::fprintf(stderr, "particle_texture: write to %s failed\n", path);
        return 1;
    }
    std::printf("%s: %zu bytes\n", path, bytes.size());
    return 0;
}
