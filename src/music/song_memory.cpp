// song_memory.cpp: frees what a load allocated: the song's samples, instruments and patterns,
// and its second reading. Any thread, but never while a player plays the song.
#include <cstdlib>

#include "music/xm_stages.h"

const Sample silentSample{};

void FreeSongData(Module* module) {
    // The second reading first: it may share parts of the song.
    if (module->standardReading) {
        FreeSecondReading(module, module->standardReading);
        module->standardReading = nullptr;
    }
    if (module->instruments) {
        for (int32_t i = 0; i < module->instrumentCount; ++i) {
            Instrument& instrument = module->instruments[i];
            for (int32_t j = 0; j < instrument.sampleCount && j < MAX_INSTRUMENT_SAMPLES; ++j) {
                const Sample* sample = instrument.samples[j];
                if (!sample || sample == &silentSample) continue;
                // The song's own samples were allocated by this loader; only players see them
                // as constants.
                FreeSampleData(sample);
                std::free(const_cast<Sample*>(sample));
            }
        }
        std::free(module->instruments);
        module->instruments = nullptr;
    }
    if (module->patterns) {
        for (int32_t p = 0; p < module->patternCount; ++p) std::free(module->patterns[p].cells);
        std::free(module->patterns);
        module->patterns = nullptr;
    }
    module->instrumentCount = 0;
    module->patternCount = 0;
    module->sampleCount = 0;
}

void FreeSong(Module* module) {
    FreeSongData(module);
    delete module;
}

int FreeModule(Module* module) {
    if (!module) return 0;
    // A song stays until its last player is gone: freeing it earlier is refused, not fatal.
    if (module->playerCount.load() > 0) return 0;
    FreeSong(module);
    return 1;
}
