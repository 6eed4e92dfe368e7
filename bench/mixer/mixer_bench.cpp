// mixer_bench.cpp: speed of the mixer's inner loops in each interpolation (voice-frames per
// second) and of loading the largest song of the corpus. Run a Release build: bench_mixer
// [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "memory_files.h"
#include "music/mixer.h"
#include "music/module.h"
#include "music/player.h"

namespace {

constexpr int32_t BLOCK = 884;

// Voices on a looping 16-bit sample at unrelated steps, as a song's voices would be, in a player
// of an empty one-channel song (the player only lends its voices and mixer constants).
struct VoiceSet {
    std::vector<int16_t> frames;
    Sample sample{};
    Module song{};
    Player* player = nullptr;

    VoiceSet() {
        frames.resize(4096 + 8);
        for (size_t i = 0; i < 4096; ++i) frames[i] = static_cast<int16_t>((i * 7919) % 20000);
        sample.data = frames.data();
        sample.length = 4096;
        sample.loopStart = 1024;
        sample.loopLength = 3072;
        sample.loopKind = LOOP_FORWARD;
        sample.bits = 16;
        frames[4096] = frames[1024];
        song.channelCount = 1;
        song.songLength = 1;
        song.defaultSpeed = 6;
        song.defaultBpm = 125;
        player = CreatePlayer(&song, 44100, PlayerRules::Demo);
    }
    ~VoiceSet() { DestroyPlayer(player); }

    void Start(int count, bool ramps) {
        for (int v = 0; v < count; ++v) {
            Voice& voice = player->voices[v];
            voice.sample = &sample;
            voice.increment = v % 3;
            voice.incrementFraction = 0x9E3779B9u * static_cast<uint32_t>(v + 1);
            voice.volumeLeft = 40 + v;
            voice.volumeRight = 100 - v;
            voice.rampTargetLeft = voice.volumeLeft;
            voice.rampTargetRight = voice.volumeRight;
            voice.currentLeft = voice.volumeLeft * 256;
            voice.currentRight = voice.volumeRight * 256;
            if (ramps) voice.currentLeft = voice.currentRight = 0;
        }
    }

    // Keeps every voice ramping: the targets move before each block.
    void Retarget(int count, int block) {
        for (int v = 0; v < count; ++v) {
            player->voices[v].volumeLeft = (block & 1) ? 20 : 120;
            player->voices[v].volumeRight = (block & 1) ? 110 : 30;
        }
    }
};

void MixVoicesBench(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const bool ramps = state.range(1) != 0;
    VoiceSet set;
    if (!set.player) {
        state.SkipWithError("no player");
        return;
    }
    set.player->controls.interpolation = static_cast<Interpolation>(state.range(2));
    set.Start(count, ramps);
    // A ramp lasts 128 frames: blocks of 128 keep a ramp running for every frame.
    const int32_t frames = ramps ? 128 : BLOCK;
    alignas(16) static float buffer[2 * BLOCK];
    int block = 0;
    for (auto _ : state) {
        if (ramps) set.Retarget(count, block++);
        MixVoices(set.player, buffer, frames);
        benchmark::DoNotOptimize(buffer);
        benchmark::ClobberMemory();
    }
    state.counters["voice_frames_per_s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * count * frames, benchmark::Counter::kIsRate);
}
BENCHMARK(MixVoicesBench)
    ->ArgNames({"voices", "ramps", "interpolation"})
    ->Args({1, 0, 1})
    ->Args({16, 0, 1})
    ->Args({64, 0, 1})
    ->Args({1, 1, 1})
    ->Args({16, 1, 1})
    ->Args({64, 1, 1})
    // Each interpolation's cost: 0 none, 1 linear, 2 cubic, 3 sinc.
    ->Args({16, 0, 0})
    ->Args({16, 0, 2})
    ->Args({16, 0, 3})
    ->Args({16, 1, 0})
    ->Args({16, 1, 2})
    ->Args({16, 1, 3});

void LoadLargestCorpusSong(benchmark::State& state) {
    const std::filesystem::path root = std::filesystem::path(DEMO_SHARED_DIR) / "xm-corpus";
    std::filesystem::path largest;
    std::uintmax_t largestSize = 0;
    std::error_code error;
    if (std::filesystem::is_directory(root, error)) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root, error)) {
            if (entry.path().extension() != ".xm") continue;
            // Only songs this loader accepts count.
            std::ifstream in(entry.path(), std::ios::binary);
            std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
            Module* module = LoadModuleBytes(std::move(bytes));
            if (module && entry.file_size() > largestSize) {
                largest = entry.path();
                largestSize = entry.file_size();
            }
            FreeModule(module);
        }
    }
    if (largest.empty()) {
        state.SkipWithError("no loadable corpus file under DEMO_SHARED_DIR/xm-corpus");
        return;
    }
    std::ifstream in(largest, std::ios::binary);
    MemoryFileSet files;
    files.Install("largest.xm", std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}));
    state.SetLabel(largest.filename().string());
    for (auto _ : state) {
        Module* module = files.Load("largest.xm");
        benchmark::DoNotOptimize(module);
        FreeModule(module);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(largestSize));
}
BENCHMARK(LoadLargestCorpusSong)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
