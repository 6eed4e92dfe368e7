// seek_bench.cpp: what a seek costs. From a player that has just started, an exact seek mixes
// the song up to the target and a fast one runs the sequencer alone; each is timed to 30, 60 and
// 180 s into the demo's song and a long corpus song (skipped when the corpus is absent), both
// under the standard rules. Reports the time per seek.
// Run a Release build: bench_seek [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <string>

#include "music/file_access.h"
#include "music/module.h"
#include "music/player.h"
#include "music/seeking.h"

namespace {

constexpr int32_t RATE = 44100;

std::string SongPath(int which) {
    return which == 0 ? std::string(DEMO_DATA_DIR) + "/Zarq-Neat.xm"
                      : std::string(DEMO_SHARED_DIR) + "/xm-corpus/songs/dontyou.xm";
}

// range(0): the song (0 the demo's, 1 the corpus's); range(1): the target in seconds;
// range(2): the mode.
void Seek(benchmark::State& state) {
    const std::string path = SongPath(static_cast<int>(state.range(0)));
    Module* song = LoadModule(&standardFileCallbacks, path.c_str(), nullptr);
    if (!song) {
        state.SkipWithError(("cannot load " + path).c_str());
        return;
    }
    Player* player = CreatePlayer(song, RATE, PlayerRules::Standard);
    const int64_t target = state.range(1) * RATE;
    const SeekMode mode = static_cast<SeekMode>(state.range(2));
    for (auto _ : state) {
        // From the start each time: the player is reset before the exact seek would be able
        // to go on from where the last one left it.
        state.PauseTiming();
        ResetPlayback(player);
        state.ResumeTiming();
        benchmark::DoNotOptimize(SeekFrame(player, target, mode));
    }
    state.SetLabel(std::string(state.range(0) == 0 ? "demo song" : "dontyou.xm") +
                   (mode == SeekMode::Exact ? " exact" : " fast"));
    DestroyPlayer(player);
    FreeModule(song);
}
BENCHMARK(Seek)
    ->ArgsProduct({{0, 1}, {30, 60, 180}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.2);

} // namespace

BENCHMARK_MAIN();
