// loader_helpers.h: loading songs built with the XM writer through memory files, and finding
// the corpus of files made by others, for the loader and mixer tests.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "memory_files.h"
#include "music/module.h"
#include "xm_writer.h"

struct ModuleDeleter {
    void operator()(Module* module) const { FreeModule(module); }
};
using ModulePtr = std::unique_ptr<Module, ModuleDeleter>;

// Loads through the file operations by name, as LoadModule does, and checks that the load closed
// its stream.
inline ModulePtr LoadBytes(std::vector<uint8_t> bytes, SampleLoader loader = nullptr,
                           LoadError* error = nullptr) {
    int leftOpen = 0;
    ModulePtr module(LoadModuleBytes(std::move(bytes), loader, error, &leftOpen));
    EXPECT_EQ(leftOpen, 0) << "the loader left its stream open";
    return module;
}

inline ModulePtr LoadSong(const xmw::Song& song, SampleLoader loader = nullptr,
                          LoadError* error = nullptr) {
    return LoadBytes(xmw::WriteXm(song), loader, error);
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

// The .xm files under `root`, sorted; none when the folder is absent.
inline std::vector<std::filesystem::path> CorpusFiles(const std::filesystem::path& root) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    if (!std::filesystem::is_directory(root, error)) return files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root, error)) {
        if (entry.is_regular_file() && entry.path().extension() == ".xm") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

inline std::vector<uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}
