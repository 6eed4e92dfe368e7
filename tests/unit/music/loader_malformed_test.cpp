// Loader tests on damaged and out-of-range files: truncation at every byte, sizes the file
// cannot hold, loops beyond their sample, limits that are clamped, and the corpus of files made
// by others. Each must load safely or fail cleanly with nothing left open or allocated. An input
// that crashes the fuzz target becomes a test here named for what went wrong.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "loader_helpers.h"
#include "music/file_access.h"

namespace {

class LoaderMalformedTest : public ::testing::Test {};

// The loader's guarantees that the mixer and the sequencer rely on.
void ExpectPlayable(const Module& module) {
    ASSERT_GE(module.channelCount, 1);
    ASSERT_LE(module.channelCount, 32);
    ASSERT_LE(module.songLength, 256);
    for (int32_t p = 0; p < module.patternCount; ++p) {
        if (module.patterns[p].rowCount > 0) {
            EXPECT_NE(module.patterns[p].cells, nullptr);
        }
    }
    for (int i = 0; i < module.instrumentCount; ++i) {
        const Instrument& in = module.instruments[i];
        ASSERT_LE(in.sampleCount, MAX_INSTRUMENT_SAMPLES);
        EXPECT_LE(in.volumePointCount, 12);
        EXPECT_LE(in.panningPointCount, 12);
        for (int j = 0; j < MAX_INSTRUMENT_SAMPLES; ++j) {
            const Sample* s = in.samples[j];
            ASSERT_NE(s, nullptr);
            if (j >= in.sampleCount) {
                EXPECT_EQ(s, &silentSample);
                continue;
            }
            EXPECT_LE(uint64_t{s->loopStart} + s->loopLength, s->length);
            EXPECT_EQ(s->data == nullptr, s->length == 0);
            EXPECT_EQ(s->bits, 16);
        }
    }
}

// A file cut anywhere after its song header plays what it holds, as the mature players play
// it: cut among the patterns, the rest of them are empty and every instrument silent; cut inside
// an instrument's headers, that instrument and the ones after it are silent; cut inside a
// sample's data, the sample keeps the frames the file holds and the instruments after it are
// silent. Only a cut song header fails.
TEST_F(LoaderMalformedTest, EveryTruncationLoadsWhatTheFileHoldsOrFailsCleanly) {
    xmw::Song song = xmw::MinimalSong(4);
    song.instruments.push_back(song.instruments[0]);
    song.instruments[1].samples[0].sixteenBit = true;
    song.instruments.push_back(xmw::Instrument{});
    const std::vector<uint8_t> full = xmw::WriteXm(song);
    ASSERT_TRUE(LoadBytes(full));
    // Where each instrument starts: the size of the file holding only the ones before it.
    std::vector<size_t> instrumentStart;
    for (size_t k = 0; k <= song.instruments.size(); ++k) {
        xmw::Song before = song;
        before.instruments.resize(k);
        instrumentStart.push_back(xmw::WriteXm(before).size());
    }
    const size_t songHeaderEnd = 60 + 276;
    for (size_t size = 0; size < full.size(); ++size) {
        std::vector<uint8_t> cut(full.begin(), full.begin() + static_cast<ptrdiff_t>(size));
        int silentFrom = size < instrumentStart[0] ? 0 : -1;
        int cutSample = -1;      // the instrument whose sample's data the cut falls in
        uint32_t heldFrames = 0; // the frames of it that the file holds
        for (size_t k = 0; k < song.instruments.size(); ++k) {
            const size_t headersEnd =
                instrumentStart[k] + (song.instruments[k].samples.empty() ? 29 : 263 + 40);
            if (size >= instrumentStart[k] && size < headersEnd) silentFrom = int(k);
            if (size >= headersEnd && size < instrumentStart[k + 1]) {
                cutSample = int(k);
                silentFrom = int(k) + 1;
                heldFrames = static_cast<uint32_t>(size - headersEnd) /
                             (song.instruments[k].samples[0].sixteenBit ? 2 : 1);
            }
        }
        LoadError error{};
        ModulePtr module = LoadBytes(cut, nullptr, &error);
        if (size < songHeaderEnd) {
            EXPECT_FALSE(module) << "a file cut to " << size << " bytes loaded";
            // Every way of failing says why.
            EXPECT_NE(error.code, LOAD_OK) << size;
            EXPECT_GT(std::strlen(error.message), 10u) << size;
            continue;
        }
        ASSERT_TRUE(module) << "a file cut to " << size << " bytes failed: " << error.message;
        ExpectPlayable(*module);
        EXPECT_EQ(module->instrumentCount, 3);
        for (int k = 0; k < 3; ++k) {
            const int expected = silentFrom >= 0 && k >= silentFrom ? 0 : (k < 2 ? 1 : 0);
            EXPECT_EQ(module->instruments[k].sampleCount, expected) << size;
        }
        if (cutSample >= 0) {
            EXPECT_EQ(module->instruments[cutSample].samples[0]->length, heldFrames) << size;
        }
    }
}

TEST_F(LoaderMalformedTest, SizesTheFileCannotHoldFailWithoutHugeAllocations) {
    // Under the address sanitizer an attempt at a multi-gigabyte allocation aborts the test.
    // A sample length beyond the file keeps the frames the file holds.
    xmw::Song sample = xmw::MinimalSong();
    const uint32_t frames = static_cast<uint32_t>(sample.instruments[0].samples[0].values.size());
    sample.instruments[0].samples[0].rawLengthBytes = 0xFFFFFFF0u;
    ModulePtr eightBit = LoadSong(sample);
    ASSERT_TRUE(eightBit);
    EXPECT_EQ(eightBit->instruments[0].samples[0]->length, frames);
    sample.instruments[0].samples[0].rawType = 0x10; // 16-bit: two bytes a frame
    ModulePtr sixteenBit = LoadSong(sample);
    ASSERT_TRUE(sixteenBit);
    EXPECT_EQ(sixteenBit->instruments[0].samples[0]->length, frames / 2);

    xmw::Song rows = xmw::MinimalSong();
    rows.channels = 32;
    rows.patterns = {rows.MakePattern(1)};
    rows.patterns[0].rows = 65535; // claims 2 million cells, holds a handful of bytes
    rows.patterns[0].At(0, 0).note = 1;
    EXPECT_FALSE(LoadSong(rows));

    xmw::Song patterns = xmw::MinimalSong();
    patterns.rawPatternCount = 0xFFFF;
    EXPECT_FALSE(LoadSong(patterns));

    xmw::Song headers = xmw::MinimalSong();
    headers.rawHeaderSize = 0xFFFFFFFFu;
    EXPECT_FALSE(LoadSong(headers));
}

TEST_F(LoaderMalformedTest, EmptyPatternsMayClaimUpTo1024RowsWithoutData) {
    // A pattern with no cell data still gets its rows.
    xmw::Song song = xmw::MinimalSong();
    song.patterns = {song.MakePattern(0), song.MakePattern(0)};
    song.patterns[0].rows = 1024;
    song.orders = {0, 1};
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module);
    EXPECT_EQ(module->patterns[0].rowCount, 1024);
    ExpectPlayable(*module);
    // A stored pattern of no rows has none (and no cells).
    EXPECT_EQ(module->patterns[1].rowCount, 0);
    EXPECT_EQ(module->patterns[1].cells, nullptr);

    // 256 patterns of 65535 empty rows would be 2.7 GB of cells from 2.3 KB of file.
    xmw::Song huge = xmw::MinimalSong();
    huge.channels = 32;
    huge.patterns.assign(256, huge.MakePattern(0));
    for (auto& pattern : huge.patterns) pattern.rows = 65535;
    EXPECT_FALSE(LoadSong(huge));
    huge.patterns.assign(1, huge.MakePattern(0));
    huge.patterns[0].rows = 1025;
    EXPECT_FALSE(LoadSong(huge));
}

TEST_F(LoaderMalformedTest, LoopsBeyondTheSampleAreCutAtItsEnd) {
    auto sampleWith = [](uint32_t start, uint32_t length) {
        xmw::Sample s = EightBit(std::vector<int32_t>(100, 3));
        s.loop = xmw::Loop::Forward;
        s.loopStart = start;
        s.loopLength = length;
        return s;
    };
    ModulePtr module = LoadSong(SongWithSamples(
        {sampleWith(90, 50), sampleWith(100, 10), sampleWith(500, 0xFFFFFF), sampleWith(10, 90)}));
    ASSERT_TRUE(module);
    const Sample* const* s = module->instruments[0].samples;
    EXPECT_EQ(s[0]->loopKind, LOOP_FORWARD);
    EXPECT_EQ(s[0]->loopStart, 90u);
    EXPECT_EQ(s[0]->loopLength, 10u);
    EXPECT_EQ(s[1]->loopKind, LOOP_NONE); // starts at the end: nothing left to loop
    EXPECT_EQ(s[1]->loopLength, 100u);
    EXPECT_EQ(s[2]->loopKind, LOOP_NONE);
    EXPECT_EQ(s[3]->loopKind, LOOP_FORWARD); // exactly up to the end is fine
    EXPECT_EQ(s[3]->loopLength, 90u);
    ExpectPlayable(*module);
}

TEST_F(LoaderMalformedTest, SongLimitsAreClampedOrRefused) {
    xmw::Song song = xmw::MinimalSong();
    song.rawSongLength = 300;
    song.restartPosition = 290;
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module);
    EXPECT_EQ(module->songLength, 256);
    EXPECT_EQ(module->restartPosition, 0);

    song.rawSongLength = 0;
    module = LoadSong(song);
    ASSERT_TRUE(module);
    EXPECT_EQ(module->songLength, 0);
    EXPECT_EQ(module->usedPatternCount, 0);
    EXPECT_EQ(module->patternCount, 1);

    xmw::Song wide = xmw::MinimalSong();
    wide.channels = 33;
    wide.patterns = {wide.MakePattern(2)};
    EXPECT_FALSE(LoadSong(wide));
    wide.channels = 0;
    wide.patterns = {};
    EXPECT_FALSE(LoadSong(wide));
    wide.channels = 32;
    wide.patterns = {wide.MakePattern(2)};
    wide.patterns[0].At(1, 31).note = 5;
    module = LoadSong(wide);
    ASSERT_TRUE(module);
    EXPECT_EQ(module->patterns[0].cells[63].note, 5);
}

TEST_F(LoaderMalformedTest, InstrumentsBeyondTheLastNumberACellCanNameAreNotLoaded) {
    xmw::Song song = xmw::MinimalSong();
    song.instruments.resize(130, song.instruments[0]);
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module);
    EXPECT_EQ(module->instrumentCount, 128);
    EXPECT_EQ(module->instruments[127].sampleCount, 1);
}

// ==== The corpus of files made by others ====

TEST_F(LoaderMalformedTest, EveryCorpusFileLoadsSafelyOrFailsCleanly) {
    const std::vector<std::filesystem::path> files =
        CorpusFiles(std::filesystem::path(DEMO_SHARED_DIR) / "xm-corpus");
    if (files.empty()) GTEST_SKIP() << "no corpus under " << DEMO_SHARED_DIR << "/xm-corpus";
    int loaded = 0;
    for (const auto& path : files) {
        SCOPED_TRACE(path.string());
        ModulePtr module = LoadBytes(ReadFile(path));
        if (!module) continue; // which ones fail, and why, is checked in loader_errors_test
        ++loaded;
        ExpectPlayable(*module);
        // Truncated halfway, the same file must still be handled.
        std::vector<uint8_t> half = ReadFile(path);
        half.resize(half.size() / 2);
        LoadBytes(half);
    }
    EXPECT_GT(loaded, 0);
}

TEST_F(LoaderMalformedTest, CorpusSongsLoadFromDiskThroughTheStandardOperations) {
    const std::filesystem::path songs =
        std::filesystem::path(DEMO_SHARED_DIR) / "xm-corpus" / "songs";
    if (!std::filesystem::exists(songs / "rhino_sting.xm")) {
        GTEST_SKIP() << "corpus songs missing under " << songs;
    }
    ModulePtr module(
        LoadModule(&standardFileCallbacks, (songs / "rhino_sting.xm").string().c_str(), nullptr));
    ASSERT_TRUE(module);
    ExpectPlayable(*module);
    // This song's file ends inside its eleventh instrument: the rest are silent.
    module.reset(LoadModule(&standardFileCallbacks,
                            (songs / "JUHO_-_Ihana_paiva.xm").string().c_str(), nullptr));
    ASSERT_TRUE(module);
    ExpectPlayable(*module);
    EXPECT_EQ(module->instrumentCount, 31);
    EXPECT_GT(module->instruments[0].sampleCount, 0);
    EXPECT_EQ(module->instruments[30].sampleCount, 0);
    // An instrument of 23 samples, beyond the 16 of the original tracker.
    module.reset(LoadModule(&standardFileCallbacks,
                            (songs / "grass_near_the_house.xm").string().c_str(), nullptr));
    ASSERT_TRUE(module);
    ExpectPlayable(*module);
    EXPECT_EQ(module->instruments[0].sampleCount, 23);
    EXPECT_EQ(module->sampleCount, 29);
}

} // namespace
