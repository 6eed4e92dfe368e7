// figures_main.cpp: song_figures, the soundtrack's mix figures per section as a Markdown table.
// Reads a 16-bit stereo WAV file as xmrender writes it: song_figures SONG.wav
// "song_figures --scenes" lists the show's scene changes instead, one "seconds name" a line.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "figures.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--scenes") == 0) {
        for (const compose::SceneChange& change : compose::ShowSceneChanges())
            std::printf("%.1f %s\n", change.seconds, change.name);
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: song_figures SONG.wav | --scenes\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    // The plain 44-byte header of a 16-bit stereo PCM file; anything else is refused.
    auto u16 = [&bytes](size_t at) {
        return unsigned(uint8_t(bytes[at])) | unsigned(uint8_t(bytes[at + 1])) << 8;
    };
    if (bytes.size() < 44 || std::memcmp(bytes.data(), "RIFF", 4) ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) || u16(20) != 1 || u16(22) != 2 || u16(34) != 16 ||
        std::memcmp(bytes.data() + 36, "data", 4)) {
        std::fprintf(stderr, "song_figures: %s is not a 16-bit stereo PCM WAV file\n", argv[1]);
        return 1;
    }
    int rate = int(u16(24) | u16(26) << 16);
    std::vector<int16_t> frames((bytes.size() - 44) / 2);
    std::memcpy(frames.data(), bytes.data() + 44, frames.size() * 2);
    std::fputs(compose::FiguresTable(frames.data(), int64_t(frames.size() / 2), rate).c_str(),
               stdout);
    return 0;
}
