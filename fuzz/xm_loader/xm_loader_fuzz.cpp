// xm_loader_fuzz.cpp: feeds arbitrary bytes to the XM loader from memory; a song that loads
// must satisfy the loader's guarantees and survive a capped playback, and a load that fails
// must say why.
#include <cstddef>
#include <cstdint>

#include "../fuzz_playback.h"
#include "music/module.h"
#include "music/player.h"

namespace {

using fuzzing::Check;
using fuzzing::FUZZ_RATE;

// Four seconds of song per input, two under each rule set.
constexpr int32_t FUZZ_FRAMES = 4 * FUZZ_RATE;

void CheckLoaded(const Module& module) {
    Check(module.channelCount >= 1 && module.channelCount <= 32);
    Check(module.songLength >= 0 && module.songLength <= 256);
    Check(module.title[20] == '\0' && module.trackerName[20] == '\0');
    int32_t lastId = 0;
    for (int i = 0; i < module.instrumentCount; ++i) {
        const Instrument& instrument = module.instruments[i];
        Check(instrument.sampleCount >= 0 && instrument.sampleCount <= MAX_INSTRUMENT_SAMPLES);
        Check(instrument.volumePointCount <= 12 && instrument.panningPointCount <= 12);
        Check(instrument.name[22] == '\0');
        for (int j = 0; j < MAX_INSTRUMENT_SAMPLES; ++j) {
            const Sample* sample = instrument.samples[j];
            Check(sample != nullptr);
            Check(uint64_t{sample->loopStart} + sample->loopLength <= sample->length);
            // Own samples are numbered in file order; the players index tables by the number.
            if (sample != &silentSample) Check(sample->id == ++lastId);
            // Every frame up to the tail is readable.
            if (sample->data) {
                volatile int16_t last = sample->data[sample->length + 7];
                (void)last;
            }
        }
    }
    Check(lastId == module.sampleCount);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    LoadError error;
    Module* module = LoadModuleFromMemory(data, size, nullptr, &error);
    fuzzing::CheckLoadReport(module, error);
    if (!module) return 0;
    CheckLoaded(*module);
    // Half the time under each rule set: they share the song but little of the playing code.
    for (PlayerRules rules : {PlayerRules::Demo, PlayerRules::Standard}) {
        Player* player = CreatePlayer(module, FUZZ_RATE, rules);
        if (!player) continue;
        fuzzing::PlayCapped(player, FUZZ_FRAMES / 2);
        // A song still played cannot be freed.
        Check(FreeModule(module) == 0);
        DestroyPlayer(player);
    }
    Check(FreeModule(module) == 1);
    return 0;
}
