// Tests of what a failed load says: the code and the sentence for each way a file can be
// malformed, on files made with the XM writer and on the corpus files made by others that the
// loader refuses. Instruments and samples are counted from 1, patterns from 0.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>

#include "loader_helpers.h"

namespace {

class LoaderErrorsTest : public ::testing::Test {};

// Loads `bytes` both by name and from memory; the two must fail alike. Null module, and the
// error, when they do.
LoadError FailedLoad(const std::vector<uint8_t>& bytes) {
    LoadError byName{};
    LoadError inMemory{};
    EXPECT_FALSE(LoadBytes(bytes, nullptr, &byName));
    ModulePtr module(LoadModuleFromMemory(bytes.data(), bytes.size(), nullptr, &inMemory));
    EXPECT_FALSE(module);
    EXPECT_EQ(inMemory.code, byName.code);
    EXPECT_STREQ(inMemory.message, byName.message);
    return byName;
}

xmw::Song TwoInstruments(int samplesInSecond) {
    xmw::Song song = xmw::MinimalSong();
    xmw::Instrument second = song.instruments[0];
    second.samples.assign(static_cast<size_t>(samplesInSecond), second.samples[0]);
    song.instruments.push_back(second);
    return song;
}

std::vector<uint8_t> Cut(xmw::Song song, size_t size) {
    song.truncateTo = size;
    return xmw::WriteXm(song);
}

struct Malformed {
    const char* name;
    std::function<std::vector<uint8_t>()> bytes;
    int32_t code;
    std::string message;
};

TEST_F(LoaderErrorsTest, EachMalformedFileSaysWhatIsWrongWithIt) {
    const xmw::Song minimal = xmw::MinimalSong();

    const Malformed cases[] = {
        {"empty file", [] { return std::vector<uint8_t>{}; }, LOAD_NOT_XM,
         "neither an extended module (the file does not start with \"Extended Module: \") nor a "
         "MOD file"},
        {"wrong magic",
         [&] {
             std::vector<uint8_t> bytes = xmw::WriteXm(minimal);
             bytes[16] = 'x';
             return bytes;
         },
         LOAD_NOT_XM,
         "neither an extended module (the file does not start with \"Extended Module: \") nor a "
         "MOD file"},
        {"song header cut", [&] { return Cut(minimal, 70); }, LOAD_TRUNCATED,
         "the header runs past the end of the file"},
        {"header size out of reach",
         [&] {
             xmw::Song song = minimal;
             song.rawHeaderSize = 0xFFFFFFFFu;
             return xmw::WriteXm(song);
         },
         LOAD_INVALID, "the header size (4294967295 bytes) reaches beyond 2 GB"},
        {"no channels",
         [&] {
             xmw::Song song = minimal;
             song.channels = 0;
             song.patterns = {};
             return xmw::WriteXm(song);
         },
         LOAD_INVALID, "the header says 0 channels; a song needs at least 1"},
        {"40 channels",
         [&] {
             xmw::Song song = minimal;
             song.channels = 40;
             song.patterns = {song.MakePattern(2)};
             return xmw::WriteXm(song);
         },
         LOAD_UNSUPPORTED, "the header says 40 channels; at most 32 can be played"},
        {"300 patterns",
         [&] {
             xmw::Song song = minimal;
             song.rawPatternCount = 300;
             return xmw::WriteXm(song);
         },
         LOAD_UNSUPPORTED, "the header says 300 patterns; at most 256 are supported"},
        {"song header cut inside the order table", [&] { return Cut(minimal, 100); },
         LOAD_TRUNCATED, "the header says 1 pattern; the file ends before their headers"},
        {"2000 rows",
         [&] {
             xmw::Song song = minimal;
             song.patterns[0].rows = 2000;
             return xmw::WriteXm(song);
         },
         LOAD_UNSUPPORTED, "pattern 0 has 2000 rows; at most 1024 are supported"},
        {"33 samples", [] { return xmw::WriteXm(TwoInstruments(33)); }, LOAD_UNSUPPORTED,
         "instrument 2 has 33 samples; at most 32 are supported"},
        {"earlier format version with a bad song header",
         [&] {
             xmw::Song song = minimal;
             song.version = 0x0102;
             song.channels = 0;
             song.patterns = {};
             return xmw::WriteXm(song);
         },
         LOAD_INVALID, "the header says 0 channels; a song needs at least 1"},
    };
    for (const Malformed& c : cases) {
        SCOPED_TRACE(c.name);
        const LoadError error = FailedLoad(c.bytes());
        EXPECT_EQ(error.code, c.code);
        EXPECT_EQ(std::string(error.message), c.message);
    }
}

// ==== The corpus of files made by others ====

struct CorpusRefusal {
    const char* file; // under the corpus folder
    int32_t code;
    const char* message;
};

// Every corpus file the loader refuses, and why; all others load. The mature players refuse
// these two as well.
const CorpusRefusal corpusRefusals[] = {
    // Packed with an Atari packer: the loader names the packing instead of calling it no module.
    {"effects/ice21_ambiguous.xm", LOAD_UNSUPPORTED,
     "a module packed by an Atari file packer (Ice); unpack it first"},
    {"edge/load_xm_zero_samples.xm", LOAD_INVALID,
     "the header says 0 channels; a song needs at least 1"},
};

TEST_F(LoaderErrorsTest, EveryCorpusFileLoadsOrSaysWhyNot) {
    const std::filesystem::path root = std::filesystem::path(DEMO_SHARED_DIR) / "xm-corpus";
    const std::vector<std::filesystem::path> files = CorpusFiles(root);
    if (files.empty()) GTEST_SKIP() << "no corpus under " << root.string();
    std::set<std::string> refusedSeen;
    for (const auto& path : files) {
        const std::string name = path.lexically_relative(root).generic_string();
        SCOPED_TRACE(name);
        const std::vector<uint8_t> bytes = ReadFile(path);
        const CorpusRefusal* refusal = nullptr;
        for (const CorpusRefusal& r : corpusRefusals) {
            if (name == r.file) refusal = &r;
        }
        if (!refusal) {
            LoadError error{};
            ModulePtr module = LoadBytes(bytes, nullptr, &error);
            EXPECT_TRUE(module) << error.message;
            EXPECT_EQ(error.code, LOAD_OK);
            continue;
        }
        refusedSeen.insert(name);
        const LoadError error = FailedLoad(bytes);
        EXPECT_EQ(error.code, refusal->code);
        EXPECT_STREQ(error.message, refusal->message);
    }
    // A renamed or missing file would otherwise pass unnoticed.
    EXPECT_EQ(refusedSeen.size(), std::size(corpusRefusals));
}

} // namespace
