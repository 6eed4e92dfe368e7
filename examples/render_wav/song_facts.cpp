// song_facts.cpp: the neatxm library from C++17 (neatxm.hpp): prints a song's facts, the first
// row of its first pattern, then plays its first ten seconds as float stereo and prints, for
// each second, where it stands and how many notes started; at last it seeks back to 5 s.
//
//   song_facts SONG
#include <neatxm.hpp>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SONG\n", argv[0]);
        return 2;
    }
    try {
        neatxm::Song song = neatxm::Song::LoadFile(argv[1]);
        const neatxm_song_info info = song.Info();
        std::printf("\"%s\" (%s, %s): %d channels, speed %d, %d BPM, %.1f s until it wraps\n",
                    song.Title().c_str(), info.format == NEATXM_FORMAT_MOD ? "MOD" : "XM",
                    song.Tracker().c_str(), info.channels, info.default_speed, info.default_bpm,
                    info.length_seconds);
        for (int i = 0; i < info.instruments; ++i)
            std::printf("  instrument %2d: %s\n", i + 1, song.InstrumentName(i).c_str());
        std::printf("  pattern %d, row 0:", song.Order(0));
        for (const neatxm_cell& cell : song.Row(song.Order(0), 0))
            std::printf(" %3d/%-3d", cell.note, cell.instrument);
        std::printf("\n");

        neatxm_player_config config = neatxm::Player::Config();
        config.rate = 48000;
        config.interpolation = NEATXM_INTERPOLATION_SINC;
        // The song may go out of scope first: the player keeps it.
        neatxm::Player player(song, config);
        std::vector<float> second(2 * static_cast<size_t>(config.rate)); // interleaved stereo
        for (int s = 1; s <= 10; ++s) {
            player.Render(second);
            int notes = 0;
            for (const neatxm_event& event : player.TakeEvents())
                notes += event.kind == NEATXM_EVENT_NOTE;
            const neatxm_position at = player.Position();
            std::printf("%2d s: order %d, pattern %d, row %d, %d notes started\n", s, at.order,
                        at.pattern, at.row, notes);
        }
        player.SeekSeconds(5.0);
        std::printf("back at %.1f s: order %d, row %d\n", player.Position().seconds,
                    player.Position().order, player.Position().row);
    } catch (const neatxm::Error& error) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error.what());
        return 1;
    }
    return 0;
}
