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

class LoaderErrorsTest : public ::testing::Test {
  protected:
    void TearDown() override {
        EXPECT_EQ(OpenMemoryFileCount(), 0) << "the loader left its stream open";
        ClearMemoryFiles();
    }
};

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

// Where an instrument's record starts: the size of the file without it and those after it.
size_t InstrumentStart(xmw::Song song, size_t index) {
    song.instruments.resize(index);
    return xmw::WriteXm(song).size();
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
    const size_t patternStart = 60 + 276;
    const size_t instrumentStart = InstrumentStart(minimal, 0);
    const size_t sampleHeaderStart = instrumentStart + 263;

    const Malformed cases[] = {
        {"empty file", [] { return std::vector<uint8_t>{}; }, LOAD_NOT_XM,
         "not an extended module (the file does not start with \"Extended Module: \")"},
        {"wrong magic",
         [&] {
             std::vector<uint8_t> bytes = xmw::WriteXm(minimal);
             bytes[16] = 'x';
             return bytes;
         },
         LOAD_NOT_XM,
         "not an extended module (the file does not start with \"Extended Module: \")"},
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
        {"pattern headers the file cannot hold",
         [&] {
             xmw::Song song = minimal;
             song.rawPatternCount = 200;
             return xmw::WriteXm(song);
         },
         LOAD_TRUNCATED, "the header says 200 patterns; the file ends before their headers"},
        {"second pattern header cut",
         [&] {
             xmw::Song song = minimal;
             song.instruments.clear();
             const size_t secondPattern = xmw::WriteXm(song).size();
             song.patterns.push_back(song.patterns[0]);
             return Cut(song, secondPattern + 4);
         },
         LOAD_TRUNCATED, "pattern 1: the header runs past the end of the file"},
        {"2000 rows",
         [&] {
             xmw::Song song = minimal;
             song.patterns[0].rows = 2000;
             return xmw::WriteXm(song);
         },
         LOAD_UNSUPPORTED, "pattern 0 has 2000 rows; at most 1024 are supported"},
        {"cells cut by the end of the file", [&] { return Cut(minimal, patternStart + 9 + 60); },
         LOAD_TRUNCATED, "pattern 0: the cell data runs past the end of the file"},
        {"cells that need more bytes than the header gives them",
         [&] {
             xmw::Song song = minimal;
             song.instruments.clear();
             song.patterns[0].rawPackedData = std::vector<uint8_t>(10, 0x80);
             return xmw::WriteXm(song);
         },
         LOAD_INVALID,
         "pattern 0: its 10 bytes of cell data end before its 64 rows of 2 channels do"},
        {"pattern followed by bytes its cells do not take",
         [&] {
             xmw::Song song = minimal;
             std::vector<uint8_t> packed;
             for (const PatternCell& cell : song.patterns[0].cells) {
                 const std::vector<uint8_t> one = xmw::PackCell(cell);
                 packed.insert(packed.end(), one.begin(), one.end());
             }
             packed.resize(packed.size() + 9, 0xFF); // read as the next pattern's header
             song.patterns[0].rawPackedData = packed;
             song.patterns.push_back(song.MakePattern(4));
             return xmw::WriteXm(song);
         },
         LOAD_INVALID,
         "pattern 0: its 64 rows take 130 bytes of cell data, not the 139 its header says, so "
         "what follows is misread: pattern 1 has 65535 rows; at most 1024 are supported"},
        {"17 samples", [] { return xmw::WriteXm(TwoInstruments(17)); }, LOAD_UNSUPPORTED,
         "instrument 2 has 17 samples; at most 16 are supported"},
        {"instrument header size out of reach",
         [&] {
             xmw::Song song = minimal;
             song.instruments[0].rawHeaderSize = 0x7FFFFFF0u;
             return xmw::WriteXm(song);
         },
         LOAD_INVALID, "instrument 1: its header size (2147483632 bytes) reaches beyond 2 GB"},
        {"instrument header cut", [&] { return Cut(minimal, instrumentStart + 100); },
         LOAD_TRUNCATED, "instrument 1: the header runs past the end of the file"},
        {"sample headers cut", [&] { return Cut(minimal, sampleHeaderStart + 20); }, LOAD_TRUNCATED,
         "instrument 1: the sample headers run past the end of the file"},
        {"second sample of the second instrument cut",
         [] {
             const std::vector<uint8_t> full = xmw::WriteXm(TwoInstruments(2));
             return Cut(TwoInstruments(2), full.size() - 1);
         },
         LOAD_TRUNCATED, "instrument 2: sample 2 runs past the end of the file"},
        {"sample length beyond the file",
         [&] {
             xmw::Song song = minimal;
             song.instruments[0].samples[0].rawLengthBytes = 0xFFFFFFF0u;
             return xmw::WriteXm(song);
         },
         LOAD_TRUNCATED, "instrument 1: sample 1 runs past the end of the file"},
        {"earlier format version failing",
         [&] {
             xmw::Song song = minimal;
             song.version = 0x0102;
             return Cut(song, xmw::WriteXm(song).size() - 1);
         },
         LOAD_UNSUPPORTED,
         "format version 1.02 is not supported (its layout differs from 1.04); read as 1.04: "
         "instrument 1: sample 1 runs past the end of the file"},
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

TEST_F(LoaderErrorsTest, AnEarlierVersionNumberAloneDoesNotFailALoad) {
    xmw::Song song = xmw::MinimalSong();
    song.version = 0x0103;
    LoadError error{};
    ModulePtr module = LoadSong(song, nullptr, &error);
    ASSERT_TRUE(module);
    EXPECT_EQ(error.code, LOAD_OK);
    EXPECT_EQ(module->version, 0x0103);
}

// ==== The corpus of files made by others ====

struct CorpusRefusal {
    const char* file; // under the corpus folder
    int32_t code;
    const char* message;
};

// Every corpus file the loader refuses, and why; all others load.
const CorpusRefusal corpusRefusals[] = {
    {"songs/dontyou.xm", LOAD_UNSUPPORTED,
     "format version 1.02 is not supported (its layout differs from 1.04); read as 1.04: "
     "pattern 0 has 14368 rows; at most 1024 are supported"},
    {"songs/grass_near_the_house.xm", LOAD_UNSUPPORTED,
     "instrument 1 has 23 samples; at most 16 are supported"},
    {"effects/format_xm_pattrunc.xm", LOAD_INVALID,
     "pattern 0: its 44 bytes of cell data end before its 64 rows of 4 channels do"},
    {"edge/load_xm_invalid_pattern_length.xm", LOAD_INVALID,
     "pattern 0: its 64 rows take 128 bytes of cell data, not the 2176 its header says, so what "
     "follows is misread: pattern 1 has 33538 rows; at most 1024 are supported"},
    {"edge/load_xm_invalid_instsize.xm", LOAD_INVALID,
     "instrument 1: its header size (4294967183 bytes) reaches beyond 2 GB"},
    {"effects/ice21_ambiguous.xm", LOAD_NOT_XM,
     "not an extended module (the file does not start with \"Extended Module: \")"},
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
