// mod_loader.cpp: reads a MOD file through a module stream into a Module: runs the stages of
// mod_stages.h in the order of the file's layout (header, patterns, samples). Any thread; one
// load touches only its own stream and song.
//
// Every read is checked and every size taken from the file is bounded by what the file holds.
// A file cut inside its patterns or samples keeps what it holds (the rest empty or silent), as
// the mature players play such files; a file cut inside its header is refused.
#include "music/load_failure.h"
#include "music/mod_stages.h"

int ParseMod(Module* module, ModuleStream* stream, LoadError* error) {
    ByteReader r;
    StartReading(r, stream);
    ModLayout layout;
    ModSampleHeader headers[31] = {};
    if (!ReadModHeader(r, module, layout, headers, error)) return 0;
    bool fileEnded = false;
    if (!ReadModPatterns(r, module, layout, fileEnded, error)) return 0;
    if (!ReadModSamples(r, module, layout, headers, fileEnded, error)) return 0;
    return 1;
}
