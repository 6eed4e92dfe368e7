// main.cpp: the composer program. Writes the soundtrack, "Zarq-Neat.xm", into the working
// directory or to the path given; with --part, a copy holding only one part's notes (a stem to
// render and listen to alone): compose [--part drums|bass|lead|pads|plucks|bells|fx] [OUT.xm]
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <set>
#include <string>

#include "song.h"

namespace {

// Clears every cell whose channel is playing an instrument outside `keep` (following each
// channel's instrument through the order list), keeping the effects that steer the whole song:
// jumps, breaks, tempo, global volume, pattern loops and delays.
void KeepOnly(xmw::Song& song, const std::set<int>& keep) {
    std::vector<int> current(size_t(song.channels), 0);
    std::set<int> done;
    for (uint8_t p : song.orders) {
        if (!done.insert(p).second) continue;
        xmw::Pattern& pattern = song.patterns[p];
        for (int row = 0; row < pattern.rows; ++row)
            for (int ch = 0; ch < song.channels; ++ch) {
                PatternCell& c = pattern.At(row, ch);
                if (c.instrument) current[size_t(ch)] = c.instrument;
                if (keep.count(current[size_t(ch)])) continue;
                bool flow = c.effect == 0xB || c.effect == 0xD || c.effect == 0xF ||
                            c.effect == 0x10 || c.effect == 0x11 ||
                            (c.effect == 0xE &&
                             ((c.effectParameter >> 4) == 6 || (c.effectParameter >> 4) == 0xE));
                PatternCell kept{};
                if (flow) {
                    kept.effect = c.effect;
                    kept.effectParameter = c.effectParameter;
                }
                c = kept;
            }
    }
}

} // namespace

int main(int argc, char** argv) {
    const char* part = nullptr;
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--part") == 0) {
        part = argv[2];
        first = 3;
    }
    if (argc > first + 1) {
        std::fprintf(stderr, "usage: compose [--part NAME] [OUT.xm]\n");
        return 2;
    }
    const char* path = argc == first + 1 ? argv[first] : "Zarq-Neat.xm";
    std::vector<uint8_t> bytes;
    try {
        if (!part) {
            bytes = compose::ComposeSong();
        } else {
            std::set<int> keep;
            for (const compose::SongPart& p : compose::SongParts())
                if (std::string(p.name) == part)
                    keep.insert(p.instruments.begin(), p.instruments.end());
            if (keep.empty()) {
                std::fprintf(stderr, "compose: no part %s\n", part);
                return 2;
            }
            xmw::Song song = compose::BuildSong();
            KeepOnly(song, keep);
            bytes = xmw::WriteXm(song);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "compose: %s\n", error.what());
        return 1;
    }
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "compose: cannot write %s\n", path);
        return 1;
    }
    std::printf("%s: %zu bytes\n", path, bytes.size());
    return 0;
}
