// mod_loader.cpp: reads a MOD file through a module stream into a Module: runs the stages of
// mod_stages.h in the order of the file's layout (header, patterns, samples). Any thread; one
// load touches only its own stream and song.
//
// Every read is checked and every size taken from the file is bounded by what the file holds.
// A file cut inside its patterns or samples keeps what it holds (the rest empty or silent), as
// the mature players play such files; a file cut inside its header is refused.
#include "music/load_failure.h"
#include "music/mod_stages.h"

namespace {

// The first 15-sample tracker numbered its two effects differently: 1xy an arpeggio, 2xy a
// pitch bend (up by x, else down by y). A 15-sample song that uses 1 or 2 and nothing above is
// taken as written by it, and its effects get the numbers the later trackers gave them.
void RenumberFirstEffects(Module* module) {
    if (module->modVariant != ModVariant::FifteenSamples) return;
    bool low = false;
    for (int32_t p = 0; p < module->patternCount; ++p) {
        const Pattern& pattern = module->patterns[p];
        for (int32_t k = 0; k < pattern.rowCount * module->channelCount; ++k) {
            const PatternCell& cell = pattern.cells[k];
            if (cell.effect > 2 && cell.effectParameter != 0) return;
            if ((cell.effect == 1 || cell.effect == 2) && cell.effectParameter != 0) low = true;
        }
    }
    if (!low) return;
    for (int32_t p = 0; p < module->patternCount; ++p) {
        const Pattern& pattern = module->patterns[p];
        for (int32_t k = 0; k < pattern.rowCount * module->channelCount; ++k) {
            PatternCell& cell = pattern.cells[k];
            const uint8_t x = cell.effectParameter >> 4, y = cell.effectParameter & 15;
            if (cell.effect == 1) {
                cell.effect = 0;
            } else if (cell.effect == 2) {
                cell.effect = x != 0 ? 1 : 2;
                cell.effectParameter = x != 0 ? x : y;
            }
        }
    }
}

} // namespace

int ParseMod(Module* module, ModuleStream* stream, LoadError* error) {
    ByteReader r;
    StartReading(r, stream);
    ModLayout layout;
    ModSampleHeader headers[31] = {};
    if (!ReadModHeader(r, module, layout, headers, error)) return 0;
    bool fileEnded = false;
    if (!ReadModPatterns(r, module, layout, fileEnded, error)) return 0;
    RenumberFirstEffects(module);
    ChooseModTiming(module, layout.tag, headers);
    if (!ReadModSamples(r, module, layout, headers, fileEnded, error)) return 0;
    return 1;
}
