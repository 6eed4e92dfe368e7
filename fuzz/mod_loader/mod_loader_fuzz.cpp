// mod_loader_fuzz.cpp: feeds arbitrary bytes to the loader from memory, as MOD files mostly (the
// seeds are MOD files); a MOD song that loads must keep the loader's guarantees and survive a
// capped playback under ProTracker's rules, and be refused by the demo's; a load that fails must
// say why.
#include <cstddef>
#include <cstdint>

#include "../fuzz_playback.h"
#include "music/module.h"
#include "music/player.h"

namespace {

using fuzzing::Check;
using fuzzing::FUZZ_RATE;

constexpr int32_t FUZZ_FRAMES = 3 * FUZZ_RATE;

void CheckMod(const Module& module) {
    Check(module.channelCount >= 1 && module.channelCount <= 32);
    Check(module.songLength >= 1 && module.songLength <= 128);
    Check(module.instrumentCount == 15 || module.instrumentCount == 31);
    for (int i = 0; i < module.songLength; ++i) Check(module.orders[i] < module.patternCount);
    for (int p = 0; p < module.patternCount; ++p)
        Check(module.patterns[p].rowCount == 64 && module.patterns[p].cells != nullptr);
    for (int i = 0; i < module.instrumentCount; ++i) {
        const Instrument& instrument = module.instruments[i];
        Check(instrument.sampleCount == 1);
        const Sample& sample = *instrument.samples[0];
        Check(sample.volume <= 64 && sample.finetune >= -128 && sample.finetune <= 112);
        Check(uint64_t{sample.loopStart} + sample.loopLength <= sample.length);
        Check((sample.data == nullptr) == (sample.length == 0));
        if (sample.data) {
            volatile int16_t last = sample.data[sample.length + 7];
            (void)last;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    LoadError error;
    Module* module = LoadModuleFromMemory(data, size, nullptr, &error);
    fuzzing::CheckLoadReport(module, error);
    if (!module) return 0;
    if (module->format == ModuleFormat::Mod) {
        CheckMod(*module);
        Check(CreatePlayer(module, FUZZ_RATE, PlayerRules::Demo) == nullptr);
        Player* player = CreatePlayer(module, FUZZ_RATE, PlayerRules::Standard);
        Check(player != nullptr);
        fuzzing::PlayCapped(player, FUZZ_FRAMES);
        DestroyPlayer(player);
    }
    Check(FreeModule(module) == 1);
    return 0;
}
