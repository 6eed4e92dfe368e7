// The standard rules' second reading of a file whose pattern headers are longer than their
// fields: it holds only what comes out different from the song's own reading, shares the rest,
// and players under each rule set play their own reading of it.
#include <gtest/gtest.h>

#include <vector>

#include "loader_helpers.h"
#include "music/player.h"

namespace {

PatternCell Note(const char* name) {
    return PatternCell{xmw::NoteNumber(name), 1, 0, 0, 0};
}

// Pattern 1 of `song` gets a header 4 bytes longer than its fields, padded with four one-byte
// empty cells, and cells for its first four cells only. The strict reading decodes the padding
// as cells 0-3 and the cells as 4-7; the tolerant one skips the padding and leaves cells 4-7
// empty. Both end at the same byte, so everything after the pattern reads the same.
void PadInStep(xmw::Song& song) {
    xmw::Pattern& pattern = song.patterns[1];
    std::vector<uint8_t> bytes(4, 0x80);
    for (int c = 0; c < 4; ++c) {
        const std::vector<uint8_t> cell = xmw::PackCell(pattern.At(c / 2, c % 2));
        bytes.insert(bytes.end(), cell.begin(), cell.end());
    }
    pattern.rawHeaderLength = 13;
    pattern.rawPackedSize = static_cast<uint16_t>(bytes.size() - 4);
    pattern.rawPackedData = bytes;
}

xmw::Song TwoPatternSong() {
    xmw::Song song = xmw::MinimalSong(2);
    song.patterns.push_back(song.MakePattern(4));
    song.patterns[1].At(0, 0) = Note("E-4");
    song.patterns[1].At(0, 1) = Note("G-4");
    song.patterns[1].At(1, 0) = Note("A-4");
    song.patterns[1].At(1, 1) = Note("B-4");
    song.orders = {0, 1};
    return song;
}

TEST(SecondReading, KeepsOnlyThePatternThatReadsDifferently) {
    xmw::Song song = TwoPatternSong();
    song.instruments[0].samples.push_back(EightBit({5, -5, 5, -5}));
    PadInStep(song);
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module);
    const Module* standard = module->standardReading;
    ASSERT_NE(standard, nullptr);

    // The demo's reading: padding as empty cells, the cells after them.
    EXPECT_EQ(module->patterns[1].cells[0].note, 0);
    EXPECT_EQ(module->patterns[1].cells[4].note, xmw::NoteNumber("E-4"));
    // The standard reading's own cells for that pattern only.
    EXPECT_NE(standard->patterns, module->patterns);
    EXPECT_NE(standard->patterns[1].cells, module->patterns[1].cells);
    EXPECT_EQ(standard->patterns[1].cells[0].note, xmw::NoteNumber("E-4"));
    EXPECT_EQ(standard->patterns[1].cells[3].note, xmw::NoteNumber("B-4"));
    EXPECT_EQ(standard->patterns[1].cells[4].note, 0);
    EXPECT_EQ(standard->patterns[0].cells, module->patterns[0].cells);
    // Instruments and samples read alike: the song's, not a copy.
    EXPECT_EQ(standard->instruments, module->instruments);
    EXPECT_EQ(standard->sampleCount, module->sampleCount);

    for (PlayerRules rules : {PlayerRules::Demo, PlayerRules::Standard}) {
        Player* player = CreatePlayer(module.get(), 44100, rules);
        ASSERT_NE(player, nullptr);
        EXPECT_EQ(player->module, rules == PlayerRules::Standard ? standard : module.get());
        std::vector<int16_t> frames(2 * 4096);
        EXPECT_EQ(RenderPcm16(player, frames.data(), 4096), 4096);
        DestroyPlayer(player);
    }
}

TEST(SecondReading, OwnsTheInstrumentsTheFirstReadingReadOutOfStep) {
    // Zero padding long enough for all 8 cells and an instrument header of zeros: the strict
    // reading decodes it as empty cells and an instrument of no samples, then stops; the
    // tolerant one reads the real cells and the real instrument after the padding.
    xmw::Song song = TwoPatternSong();
    xmw::Pattern& pattern = song.patterns[1];
    std::vector<uint8_t> bytes(8 * 5 + 29, 0);
    for (int c = 0; c < 8; ++c) {
        const std::vector<uint8_t> cell = xmw::PackCell(pattern.At(c / 2, c % 2));
        bytes.insert(bytes.end(), cell.begin(), cell.end());
    }
    pattern.rawHeaderLength = 9 + 8 * 5 + 29;
    pattern.rawPackedSize = static_cast<uint16_t>(bytes.size() - (8 * 5 + 29));
    pattern.rawPackedData = bytes;
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module);
    const Module* standard = module->standardReading;
    ASSERT_NE(standard, nullptr);
    EXPECT_EQ(module->instruments[0].sampleCount, 0);
    EXPECT_EQ(module->sampleCount, 0);
    EXPECT_NE(standard->instruments, module->instruments);
    ASSERT_EQ(standard->instruments[0].sampleCount, 1);
    EXPECT_EQ(standard->instruments[0].samples[0]->data[0], 96 * 256);
    EXPECT_EQ(standard->sampleCount, 1);
    // The pattern before the long header reads alike and is shared.
    EXPECT_EQ(standard->patterns[0].cells, module->patterns[0].cells);
    EXPECT_EQ(standard->patterns[1].cells[0].note, xmw::NoteNumber("E-4"));
}

TEST(SecondReading, SharesEachSampleThatReadsAlikeInADifferentTable) {
    // The early layout: every header first (alike in both readings), then the patterns, then
    // the sample data, which the strict reading takes from 69 bytes too early. The empty sample
    // reads alike and is shared; the one with frames is the second reading's own.
    xmw::Song song = TwoPatternSong();
    song.version = 0x0103;
    song.instruments[0].samples.insert(song.instruments[0].samples.begin(), EightBit({}));
    xmw::Pattern& pattern = song.patterns[1];
    std::vector<uint8_t> bytes(8 * 5 + 29, 0);
    for (int c = 0; c < 8; ++c) {
        const std::vector<uint8_t> cell = xmw::PackCell(pattern.At(c / 2, c % 2));
        bytes.insert(bytes.end(), cell.begin(), cell.end());
    }
    pattern.rawHeaderLength = 9 + 8 * 5 + 29;
    pattern.rawPackedSize = static_cast<uint16_t>(bytes.size() - (8 * 5 + 29));
    pattern.rawPackedData = bytes;
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module);
    const Module* standard = module->standardReading;
    ASSERT_NE(standard, nullptr);
    ASSERT_EQ(module->instruments[0].sampleCount, 2);
    ASSERT_EQ(standard->instruments[0].sampleCount, 2);
    EXPECT_NE(standard->instruments, module->instruments);
    EXPECT_EQ(standard->instruments[0].samples[0], module->instruments[0].samples[0]);
    EXPECT_NE(standard->instruments[0].samples[1], module->instruments[0].samples[1]);
    EXPECT_EQ(standard->instruments[0].samples[1]->data[0], 96 * 256);
    EXPECT_NE(module->instruments[0].samples[1]->data[0], 96 * 256);
    // Freeing the song frees each part once (the address sanitizer watches).
}

TEST(SecondReading, TheCorpusFileWithALongPatternHeaderKeepsItsInstrumentOnlyOnce) {
    const std::filesystem::path path =
        std::filesystem::path(DEMO_SHARED_DIR) / "xm-corpus" / "effects" / "pathead.xm";
    if (!std::filesystem::exists(path)) GTEST_SKIP() << "no " << path;
    ModulePtr module = LoadBytes(ReadFile(path));
    ASSERT_TRUE(module);
    const Module* standard = module->standardReading;
    ASSERT_NE(standard, nullptr);
    // The strict reading runs out of step after the header and finds no sample; the standard
    // reading holds the file's one sample, and the demo's reading holds none.
    EXPECT_EQ(module->sampleCount, 0);
    ASSERT_EQ(standard->sampleCount, 1);
    EXPECT_EQ(standard->instruments[0].samples[0]->length, 32u);
}

} // namespace
