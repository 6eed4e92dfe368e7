// song_facts.cpp: the neatxm library from C++ (neatxm.hpp): prints a song's facts and where it
// stands after each second of its first ten, rendered as float stereo.
//
//   song_facts SONG.xm
#include <neatxm.hpp>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SONG.xm\n", argv[0]);
        return 2;
    }
    try {
        neatxm::Song song = neatxm::Song::LoadFile(argv[1]);
        neatxm_song_info info = song.Info();
        std::printf("\"%s\" (%s): %d channels, speed %d, %d BPM, %.1f s until it wraps\n",
                    song.Title().c_str(), song.Tracker().c_str(), info.channels, info.default_speed,
                    info.default_bpm, info.length_seconds);
        for (int i = 0; i < info.instruments; ++i) {
            std::printf("  instrument %2d: %s\n", i + 1, song.InstrumentName(i).c_str());
        }

        constexpr int kRate = 48000;
        neatxm::Player player(song, kRate);
        std::vector<float> second(2 * kRate); // interleaved stereo
        for (int s = 1; s <= 10; ++s) {
            player.Render(second);
            neatxm_position at = player.Position();
            std::printf("%2d s: order %d, pattern %d, row %d\n", s, at.order, at.pattern, at.row);
        }
    } catch (const neatxm::Error& error) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error.what());
        return 1;
    }
    return 0;
}
