// mod_speed_bench.cpp: what ProTracker's rules cost against the XM rules on the same music. Each
// real MOD song of the corpus (mod-corpus/songs) is loaded once and played twice: as the MOD
// file it is, and as the same patterns, samples and track count read as an extended module (the
// loaded song with its format set to XM, so the standard XM rules play it). Both render the
// song's first 60 s (repeating it when shorter) with linear interpolation at full separation, to
// 16-bit stereo in pieces of 1024 frames. The counter x_real_time is seconds of music rendered
// per second; mod/xm side by side shows whether MOD songs render at least as fast as XM songs
// of the same track count.
// Run a Release build: bench_mod_speed [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "music/file_access.h"
#include "music/module.h"
#include "music/player.h"

namespace {

constexpr int32_t RATE = 44100;
constexpr int32_t PIECE = 1024;
constexpr int32_t SECONDS = 60;

struct SongFree {
    void operator()(Module* song) const { FreeModule(song); }
};
using SongPointer = std::unique_ptr<Module, SongFree>;

// Renders SECONDS of `song` by `rules` from its start, once per iteration.
void RenderSong(benchmark::State& state, const std::string& path, bool asXm) {
    LoadError error{};
    SongPointer song(LoadModule(&standardFileCallbacks, path.c_str(), nullptr, &error));
    if (!song) {
        state.SkipWithError(("cannot load " + path + ": " + error.message).c_str());
        return;
    }
    if (asXm) {
        // The same cells and samples through the XM rules: only the rule table changes.
        song->format = ModuleFormat::Xm;
        song->modVariant = ModVariant::None;
    }
    std::vector<int16_t> buffer(2 * PIECE);
    for (auto _ : state) {
        Player* player = CreatePlayer(song.get(), RATE, PlayerRules::Standard);
        if (!player) {
            state.SkipWithError("cannot make the player");
            return;
        }
        player->controls.interpolation = Interpolation::Linear;
        player->controls.separation = 100;
        for (int32_t done = 0; done < SECONDS * RATE;) {
            const int32_t n = std::min(PIECE, SECONDS * RATE - done);
            const int32_t got = RenderPcm16(player, buffer.data(), n);
            if (got <= 0) break;
            done += got;
        }
        benchmark::DoNotOptimize(buffer.data());
        DestroyPlayer(player);
    }
    state.counters["tracks"] = song->channelCount;
    state.counters["x_real_time"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * SECONDS, benchmark::Counter::kIsRate);
}

} // namespace

int main(int argc, char** argv) {
    const std::filesystem::path folder =
        std::filesystem::path(DEMO_SHARED_DIR) / "mod-corpus/songs";
    std::vector<std::string> songs;
    std::error_code failure;
    for (const auto& entry : std::filesystem::directory_iterator(folder, failure))
        if (entry.is_regular_file()) songs.push_back(entry.path().string());
    if (songs.empty()) {
        fprintf(stderr, "bench_mod_speed: no songs in %s (the shared corpus is absent)\n",
                folder.string().c_str());
        return 0;
    }
    std::sort(songs.begin(), songs.end());
    for (const std::string& path : songs) {
        const std::string name = std::filesystem::path(path).filename().string();
        for (const bool asXm : {false, true})
            benchmark::RegisterBenchmark(
                (name + (asXm ? "/xm" : "/mod")).c_str(),
                [path, asXm](benchmark::State& state) { RenderSong(state, path, asXm); })
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
