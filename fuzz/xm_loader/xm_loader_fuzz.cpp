// xm_loader_fuzz.cpp: feeds arbitrary bytes to the XM loader through memory file operations;
// a song that loads must satisfy the loader's guarantees and survive a capped playback.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "memory_files.h"
#include "music/mixer.h"
#include "music/module.h"
#include "music/playback.h"

namespace {

// A low rate keeps each block short: the ring (100 blocks of 160 frames) plus the extra blocks
// below cover four seconds of song per input.
constexpr int32_t FUZZ_RATE = 8000;
constexpr int EXTRA_BLOCKS = 100;

void Check(bool condition) {
    if (!condition) std::abort();
}

void CheckLoaded(const Module& module) {
    Check(module.channelCount >= 1 && module.channelCount <= 32);
    Check(module.songLength >= 0 && module.songLength <= 256);
    for (int i = 0; i < module.instrumentCount; ++i) {
        const Instrument& instrument = module.instruments[i];
        Check(instrument.sampleCount >= 0 && instrument.sampleCount <= 16);
        Check(instrument.volumePointCount <= 12 && instrument.panningPointCount <= 12);
        for (int j = 0; j < 16; ++j) {
            const Sample* sample = instrument.samples[j];
            Check(sample != nullptr);
            Check(uint64_t{sample->loopStart} + sample->loopLength <= sample->length);
            // Every frame up to the tail is readable.
            if (sample->data) {
                volatile int16_t last = sample->data[sample->length + 7];
                (void)last;
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    InstallMemoryFile("fuzz.xm", std::vector<uint8_t>(data, data + size));
    Module* module = LoadModule("fuzz.xm", nullptr);
    Check(OpenMemoryFileCount() == 0);
    if (!module) return 0;
    CheckLoaded(*module);
    ConfigureOutput(FUZZ_RATE);
    if (PreparePlayback(module)) {
        for (int block = 0; block < EXTRA_BLOCKS; ++block) MixBlock();
    }
    FreeModule(module);
    return 0;
}
