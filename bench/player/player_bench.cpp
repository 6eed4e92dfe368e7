// player_bench.cpp: the pull API's throughput on the demo's song: one player, and several
// players of the one loaded song shared out over one or two threads, each rendering 16-bit
// stereo in pieces of 1024 frames as an audio callback would. Reports the frames rendered per
// second over all players and how many times faster than real time that is.
// Run a Release build: bench_player [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "music/file_access.h"
#include "music/module.h"
#include "music/player.h"

namespace {

constexpr int32_t RATE = 44100;
constexpr int32_t PIECE = 1024;

// Renders one second of each player's song, continuing where the last call stopped.
void RenderOneSecond(const std::vector<Player*>& players, std::vector<int16_t>& buffer) {
    for (Player* player : players) {
        for (int32_t done = 0; done < RATE;) {
            const int32_t n = RATE - done < PIECE ? RATE - done : PIECE;
            done += RenderPcm16(player, buffer.data(), n);
        }
        benchmark::DoNotOptimize(buffer.data());
    }
}

// range(0) players of the demo's song, dealt out round-robin to range(1) threads.
void RenderDemoSong(benchmark::State& state) {
    const int playerCount = static_cast<int>(state.range(0));
    const int threadCount = static_cast<int>(state.range(1));
    const std::string path = std::string(DEMO_DATA_DIR) + "/Zarq-Neat.xm";
    LoadError error{};
    Module* song = LoadModule(&standardFileCallbacks, path.c_str(), nullptr, &error);
    if (!song) {
        state.SkipWithError(("cannot load " + path + ": " + error.message).c_str());
        return;
    }
    std::vector<std::vector<Player*>> shares(static_cast<size_t>(threadCount));
    std::vector<Player*> all;
    for (int p = 0; p < playerCount; ++p) {
        Player* player = CreatePlayer(song, RATE, PlayerRules::Demo);
        if (!player) break;
        all.push_back(player);
        shares[static_cast<size_t>(p % threadCount)].push_back(player);
    }
    std::vector<std::vector<int16_t>> buffers(static_cast<size_t>(threadCount),
                                              std::vector<int16_t>(2 * PIECE));
    if (static_cast<int>(all.size()) == playerCount) {
        for (auto _ : state) {
            if (threadCount == 1) {
                RenderOneSecond(shares[0], buffers[0]);
                continue;
            }
            std::vector<std::thread> threads;
            for (int t = 0; t < threadCount; ++t)
                threads.emplace_back(RenderOneSecond, std::cref(shares[static_cast<size_t>(t)]),
                                     std::ref(buffers[static_cast<size_t>(t)]));
            for (std::thread& thread : threads) thread.join();
        }
        const double seconds = static_cast<double>(state.iterations()) * playerCount;
        state.counters["frames_per_s"] =
            benchmark::Counter(seconds * RATE, benchmark::Counter::kIsRate);
        state.counters["x_real_time"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
    } else {
        state.SkipWithError("cannot make the players");
    }
    for (Player* player : all) DestroyPlayer(player);
    FreeModule(song);
}
BENCHMARK(RenderDemoSong)
    ->ArgNames({"players", "threads"})
    ->Args({1, 1})
    ->Args({8, 1})
    ->Args({8, 2})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
