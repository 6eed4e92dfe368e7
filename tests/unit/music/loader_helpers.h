// loader_helpers.h: loading songs built with the XM writer through memory files, for the
// loader and mixer tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "memory_files.h"
#include "music/module.h"
#include "xm_writer.h"

struct ModuleDeleter {
    void operator()(Module* module) const { FreeModule(module); }
};
using ModulePtr = std::unique_ptr<Module, ModuleDeleter>;

inline ModulePtr LoadBytes(std::vector<uint8_t> bytes, SampleLoader loader = nullptr) {
    InstallMemoryFile("test.xm", std::move(bytes));
    return ModulePtr(LoadModule("test.xm", loader));
}

inline ModulePtr LoadSong(const xmw::Song& song, SampleLoader loader = nullptr) {
    return LoadBytes(xmw::WriteXm(song), loader);
}

// A song of one instrument holding the given samples.
inline xmw::Song SongWithSamples(std::vector<xmw::Sample> samples) {
    xmw::Song song = xmw::MinimalSong();
    song.instruments[0].samples = std::move(samples);
    return song;
}

inline xmw::Sample EightBit(std::vector<int32_t> values) {
    xmw::Sample sample;
    sample.values = std::move(values);
    return sample;
}
