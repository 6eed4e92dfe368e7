// Loader tests of the files the mature players load beyond the plain 1.04 layout: the 4-bit
// packed samples, the early layouts of versions 1.02 and 1.03, instruments of up to 32 samples,
// and the second, tolerant reading of pattern and header sizes that disagree with the data.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "loader_helpers.h"
#include "music/player.h"

namespace {

class LoaderCompatTest : public ::testing::Test {};

std::vector<int32_t> Frames(const Sample* sample) {
    std::vector<int32_t> values;
    for (uint32_t k = 0; k < sample->length; ++k) values.push_back(sample->data[k] / 256);
    return values;
}

// ==== 4-bit packed samples ====

TEST_F(LoaderCompatTest, PackedSamplesUnpackToTheirValuesAndTakeOnlyTheirBytes) {
    // Every step is in the writer's default table; 120 + 16 wraps to -120 in 8 bits. The odd
    // length leaves the last byte's high nibble unused.
    xmw::Sample packed = EightBit({1, 3, 7, 15, 31, 63, 127, 126, 124, 120, -120, -128, 0, -1, -3});
    packed.packed4Bit = true;
    packed.loop = xmw::Loop::Forward;
    packed.loopStart = 2;
    packed.loopLength = 13;
    // A plain sample stored after it is read from the right place only when the packed one took
    // exactly 16 + (15 + 1) / 2 bytes.
    const xmw::Sample plain = EightBit({-5, 5, -5});
    xmw::Song song = SongWithSamples({packed, plain});
    song.instruments.push_back(song.instruments[0]);
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module);
    for (int i = 0; i < 2; ++i) {
        const Sample* const* s = module->instruments[i].samples;
        EXPECT_EQ(Frames(s[0]), packed.values);
        EXPECT_EQ(s[0]->loopStart, 2u);
        EXPECT_EQ(s[0]->loopLength, 13u);
        EXPECT_EQ(s[0]->bits, 16);
        EXPECT_EQ(s[0]->data[15], s[0]->data[2]); // the loop-end copy
        EXPECT_EQ(Frames(s[1]), plain.values);
    }
}

TEST_F(LoaderCompatTest, PackingUsesTheFilesOwnTableAndOnlyEightBitSamples) {
    xmw::Sample packed = EightBit({5, 10, 15, 10});
    packed.packed4Bit = true;
    packed.deltaTable = {};
    packed.deltaTable[3] = 5;
    packed.deltaTable[9] = -5;
    xmw::Song song = SongWithSamples({packed});
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module);
    EXPECT_EQ(Frames(module->instruments[0].samples[0]), packed.values);

    // The marker on a 16-bit sample is ignored: its data is read as plain 16-bit deltas.
    xmw::Sample wide;
    wide.sixteenBit = true;
    wide.values = {1000, -1000, 3};
    wide.rawReserved = 0xAD;
    module = LoadSong(SongWithSamples({wide}));
    ASSERT_TRUE(module);
    const Sample* s = module->instruments[0].samples[0];
    ASSERT_EQ(s->length, 3u);
    EXPECT_EQ(s->data[1], -1000);
    EXPECT_EQ(s->data[2], 3);
}

TEST_F(LoaderCompatTest, ASampleLoaderGetsOneBytePerFrameOfAPackedSample) {
    static std::vector<uint32_t> sizes;
    sizes.clear();
    SampleLoader loader = [](void* buffer, uint32_t bytes, int bits, int, int) {
        sizes.push_back(bytes);
        EXPECT_EQ(bits, 8);
        std::memset(buffer, 2, bytes);
        return 0;
    };
    xmw::Sample packed = EightBit({1, 2, 3, 4, 5});
    packed.packed4Bit = true;
    ModulePtr module = LoadSong(SongWithSamples({packed, EightBit({7, 7})}), loader);
    ASSERT_TRUE(module);
    EXPECT_EQ(sizes, (std::vector<uint32_t>{5, 2}));
    EXPECT_EQ(module->instruments[0].samples[0]->data[4], 2 * 256);
}

// ==== The early layouts ====

xmw::Song LayoutSong(int secondPatternRows) {
    xmw::Song song = xmw::MinimalSong(3);
    song.orders = {0, 1, 0};
    xmw::Pattern second = song.MakePattern(secondPatternRows);
    second.At(secondPatternRows - 1, 1) = {xmw::NoteNumber("A-5"), 2, 0x30, 0x0F, 0x03};
    song.patterns.push_back(second);
    xmw::Instrument two;
    two.name = "two";
    xmw::Sample wide;
    wide.sixteenBit = true;
    wide.values = {300, -300, 900};
    two.samples = {EightBit({4, 5}), wide};
    two.sampleMap.fill(1);
    two.volumeEnvelope.points = {{0, 64}, {9, 0}};
    two.volumeEnvelope.flags = ENVELOPE_ON;
    song.instruments = {song.instruments[0], xmw::Instrument{}, two};
    return song;
}

void ExpectSameSong(const Module& a, const Module& b) {
    ASSERT_EQ(a.patternCount, b.patternCount);
    for (int p = 0; p < a.patternCount; ++p) {
        ASSERT_EQ(a.patterns[p].rowCount, b.patterns[p].rowCount) << p;
        EXPECT_EQ(std::memcmp(a.patterns[p].cells, b.patterns[p].cells,
                              sizeof(PatternCell) * a.patterns[p].rowCount * a.channelCount),
                  0)
            << p;
    }
    ASSERT_EQ(a.instrumentCount, b.instrumentCount);
    ASSERT_EQ(a.sampleCount, b.sampleCount);
    for (int i = 0; i < a.instrumentCount; ++i) {
        const Instrument& x = a.instruments[i];
        const Instrument& y = b.instruments[i];
        ASSERT_EQ(x.sampleCount, y.sampleCount) << i;
        EXPECT_STREQ(x.name, y.name);
        EXPECT_EQ(std::memcmp(x.sampleMap, y.sampleMap, sizeof x.sampleMap), 0);
        EXPECT_EQ(x.volumePointCount, y.volumePointCount);
        for (int j = 0; j < x.sampleCount; ++j) {
            EXPECT_EQ(Frames(x.samples[j]), Frames(y.samples[j])) << i << "/" << j;
            EXPECT_EQ(x.samples[j]->loopKind, y.samples[j]->loopKind);
        }
    }
}

TEST_F(LoaderCompatTest, EarlyLayoutsLoadTheSameSongAs104) {
    // 256 rows is the most the 1.02 header's single byte (rows - 1) can hold.
    for (int rows : {1, 64, 256}) {
        const xmw::Song modern = LayoutSong(rows);
        ModulePtr expected = LoadSong(modern);
        ASSERT_TRUE(expected);
        for (uint16_t version : {uint16_t{0x0102}, uint16_t{0x0103}}) {
            SCOPED_TRACE(testing::Message()
                         << "version " << std::hex << version << ", " << rows << " rows");
            xmw::Song early = modern;
            early.version = version;
            LoadError error{};
            ModulePtr module = LoadSong(early, nullptr, &error);
            ASSERT_TRUE(module) << error.message;
            EXPECT_EQ(module->version, version);
            ExpectSameSong(*module, *expected);
        }
    }
}

TEST_F(LoaderCompatTest, OtherVersionNumbersAreReadAs104) {
    for (uint16_t version : {uint16_t{0x0101}, uint16_t{0x0104}, uint16_t{0x0105}}) {
        xmw::Song song = LayoutSong(8);
        song.version = version;
        ModulePtr module = LoadSong(song);
        ASSERT_TRUE(module) << version;
        ExpectSameSong(*module, *LoadSong(LayoutSong(8)));
    }
}

TEST_F(LoaderCompatTest, AnEarlyLayoutFileCutInItsSampleDataKeepsWhatItHolds) {
    xmw::Song song = LayoutSong(4);
    song.version = 0x0102;
    song.truncateTo = xmw::WriteXm(song).size() - 1;
    ModulePtr cut = LoadSong(song);
    ASSERT_TRUE(cut);
    song.truncateTo.reset();
    ModulePtr whole = LoadSong(song);
    ASSERT_TRUE(whole);
    // Only the last sample's last frame is missing.
    const Sample* last = cut->instruments[2].samples[1];
    EXPECT_EQ(last->length + 1, whole->instruments[2].samples[1]->length);
    EXPECT_EQ(std::memcmp(last->data, whole->instruments[2].samples[1]->data, last->length * 2), 0);
    EXPECT_EQ(cut->instruments[2].samples[0]->length, whole->instruments[2].samples[0]->length);
}

// ==== Up to 32 samples per instrument ====

TEST_F(LoaderCompatTest, InstrumentsHoldUpTo32SamplesAndTheNoteMapReachesThemAll) {
    xmw::Song song = xmw::MinimalSong(4);
    song.instruments[0].samples.assign(32, EightBit({0, 0, 0, 0}));
    xmw::Sample loud = EightBit({100, -100, 100, -100});
    loud.loop = xmw::Loop::Forward;
    loud.loopLength = 4;
    song.instruments[0].samples[20] = loud;
    song.instruments[0].sampleMap.fill(20);
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module);
    const Instrument& in = module->instruments[0];
    ASSERT_EQ(in.sampleCount, 32);
    EXPECT_EQ(in.samples[31]->id, 32);
    EXPECT_EQ(Frames(in.samples[20]), loud.values);

    // The note on row 0 plays sample 21, the only one that is not silent.
    Player* player = CreatePlayer(module.get(), 44100, PlayerRules::Demo);
    ASSERT_NE(player, nullptr);
    std::vector<int16_t> frames(2 * 4410);
    RenderPcm16(player, frames.data(), 4410);
    DestroyPlayer(player);
    int peak = 0;
    for (int16_t v : frames) peak = std::max(peak, std::abs(int{v}));
    EXPECT_GT(peak, 1000);

    song.instruments[0].samples.push_back(loud);
    LoadError error{};
    EXPECT_FALSE(LoadSong(song, nullptr, &error));
    EXPECT_EQ(error.code, LOAD_UNSUPPORTED);
    EXPECT_STREQ(error.message, "instrument 1 has 33 samples; at most 32 are supported");
}

// ==== The tolerant reading ====

std::vector<uint8_t> Packed(const xmw::Pattern& pattern) {
    std::vector<uint8_t> bytes;
    for (const PatternCell& cell : pattern.cells) {
        const std::vector<uint8_t> one = xmw::PackCell(cell);
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    return bytes;
}

TEST_F(LoaderCompatTest, CellsBeyondAPatternsPackedSizeAreEmpty) {
    // 512 cells: too many for the bytes left in the file, so the strict reading refuses it.
    xmw::Song song = xmw::MinimalSong(256);
    xmw::Pattern& first = song.patterns[0];
    first.At(0, 1) = {xmw::NoteNumber("D-4"), 1, 0x40, 0x0C, 0x20}; // 5 bytes, stored plain
    first.At(1, 0) = {xmw::NoteNumber("E-4"), 1, 0, 0, 0};
    std::vector<uint8_t> bytes = Packed(first);
    // Budget: cell 0 (3 bytes), cell 1 (5 bytes) and the first 2 bytes of cell 2 (mask, note).
    bytes.resize(10);
    first.rawPackedData = bytes;
    xmw::Pattern second = song.MakePattern(2);
    second.At(1, 1) = {xmw::NoteNumber("G-4"), 1, 0, 0, 0};
    song.patterns.push_back(second);
    song.orders = {0, 1};
    LoadError error{};
    ModulePtr module = LoadSong(song, nullptr, &error);
    ASSERT_TRUE(module) << error.message;
    const Pattern& p0 = module->patterns[0];
    ASSERT_EQ(p0.rowCount, 256);
    EXPECT_EQ(p0.cells[0].note, xmw::NoteNumber("C-4"));
    EXPECT_EQ(p0.cells[1].effect, 0x0C);
    EXPECT_EQ(p0.cells[1].effectParameter, 0x20);
    // Cut after its note: the instrument byte is missing and reads as 0.
    EXPECT_EQ(p0.cells[2].note, xmw::NoteNumber("E-4"));
    EXPECT_EQ(p0.cells[2].instrument, 0);
    for (int c = 3; c < 512; ++c) EXPECT_EQ(p0.cells[c].note, 0) << c;
    // The next pattern starts right after the packed size, and the instruments after it.
    ASSERT_EQ(module->patterns[1].rowCount, 2);
    EXPECT_EQ(module->patterns[1].cells[3].note, xmw::NoteNumber("G-4"));
    ASSERT_EQ(module->instruments[0].sampleCount, 1);
    EXPECT_EQ(module->instruments[0].samples[0]->length, 64u);
}

TEST_F(LoaderCompatTest, PackedSizeBeyondTheFileWithAnImplausibleHeaderLength) {
    // Pattern 0's header length is 0x80000000 and its packed size reaches past the end of the
    // file: the header is taken as 9 bytes, the cells are those the file holds, and the
    // patterns and instruments after them are empty and silent. The strict reading takes the
    // bytes after the cells for the next pattern's header and refuses its 65535 rows.
    xmw::Song song = xmw::MinimalSong(4);
    xmw::Pattern second = song.patterns[0];
    std::vector<uint8_t> bytes = Packed(song.patterns[0]);
    bytes.resize(bytes.size() + 40, 0xFF);
    song.patterns[0].rawHeaderLength = 0x80000000u;
    song.patterns[0].rawPackedData = bytes;
    song.patterns[0].rawPackedSize = 5000;
    song.patterns.push_back(second);
    song.orders = {0, 1};
    LoadError error{};
    ModulePtr module = LoadSong(song, nullptr, &error);
    ASSERT_TRUE(module) << error.message;
    EXPECT_EQ(module->patterns[0].cells[0].note, xmw::NoteNumber("C-4"));
    ASSERT_EQ(module->patterns[1].rowCount, 64);
    EXPECT_EQ(module->patterns[1].cells[0].note, 0);
    ASSERT_EQ(module->instrumentCount, 1);
    EXPECT_EQ(module->instruments[0].sampleCount, 0);
    EXPECT_EQ(module->instruments[0].samples[0], &silentSample);
    EXPECT_EQ(module->sampleCount, 0);
}

TEST_F(LoaderCompatTest, ALongerPatternHeaderIsSkippedWhenTheFileHoldsIt) {
    // The strict reading decodes the 11 bytes of padding as empty cells and the cells' last 11
    // bytes as the next pattern's header, and refuses its 32896 rows; the tolerant one starts
    // the cells after the header's stated 20 bytes and the next pattern after them.
    xmw::Song song = xmw::MinimalSong(64);
    std::vector<uint8_t> bytes(11, 0x80);
    const std::vector<uint8_t> cells = Packed(song.patterns[0]);
    bytes.insert(bytes.end(), cells.begin(), cells.end());
    song.patterns[0].rawHeaderLength = 20;
    song.patterns[0].rawPackedData = bytes;
    song.patterns[0].rawPackedSize = static_cast<uint16_t>(cells.size());
    song.patterns.push_back(song.MakePattern(2));
    song.patterns[1].At(1, 1).note = xmw::NoteNumber("B-3");
    LoadError error{};
    ModulePtr module = LoadSong(song, nullptr, &error);
    ASSERT_TRUE(module) << error.message;
    EXPECT_EQ(module->patterns[0].cells[0].note, xmw::NoteNumber("C-4"));
    EXPECT_EQ(module->patterns[1].cells[3].note, xmw::NoteNumber("B-3"));
    ASSERT_EQ(module->instruments[0].sampleCount, 1);
    EXPECT_EQ(module->instruments[0].samples[0]->data[0], 96 * 256);
}

TEST_F(LoaderCompatTest,
       TheStrictReadingWinsWhereverItLoadsTheFileAndTheStandardRulesSkipTheHeader) {
    // The same long header padded with zeros: the strict reading decodes the padding and the
    // cells as 4 rows and loads the file, and the demo's rules play that, whatever the tolerant
    // reading would make of it: files the demo has always loaded stay exactly as they were.
    xmw::Song song = xmw::MinimalSong(4);
    std::vector<uint8_t> bytes(20, 0);
    const std::vector<uint8_t> cells = Packed(song.patterns[0]);
    bytes.insert(bytes.end(), cells.begin(), cells.end());
    song.patterns[0].rawHeaderLength = 29;
    song.patterns[0].rawPackedData = bytes;
    song.patterns[0].rawPackedSize = static_cast<uint16_t>(cells.size());
    song.instruments.clear();
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module);
    // Each 5 zero bytes of the padding made an empty cell.
    for (int c = 0; c < 4; ++c) EXPECT_EQ(module->patterns[0].cells[c].note, 0) << c;
    EXPECT_EQ(module->patterns[0].cells[4].note, xmw::NoteNumber("C-4"));

    // The standard rules play the file as the mature players read it, header skipped; the
    // demo's play the strict reading.
    ASSERT_NE(module->standardReading, nullptr);
    EXPECT_EQ(module->standardReading->patterns[0].cells[0].note, xmw::NoteNumber("C-4"));
    for (PlayerRules rules : {PlayerRules::Standard, PlayerRules::Demo}) {
        Player* player = CreatePlayer(module.get(), 44100, rules);
        ASSERT_NE(player, nullptr);
        EXPECT_EQ(player->module,
                  rules == PlayerRules::Standard ? module->standardReading : module.get());
        // The song counts its players, whichever reading they play.
        EXPECT_FALSE(FreeModule(module.get()));
        DestroyPlayer(player);
    }
    // Headers of the standard length need no second reading.
    song.patterns[0].rawHeaderLength.reset();
    song.patterns[0].rawPackedData.reset();
    song.patterns[0].rawPackedSize.reset();
    EXPECT_EQ(LoadSong(song)->standardReading, nullptr);
}

TEST_F(LoaderCompatTest, InstrumentHeaderSizeBeyondTheFileIsTakenAsTheStandardSize) {
    xmw::Song song = xmw::MinimalSong();
    song.instruments.push_back(song.instruments[0]);
    song.instruments[0].rawHeaderSize = 0xFFFFFF8Fu;
    LoadError error{};
    ModulePtr module = LoadSong(song, nullptr, &error);
    ASSERT_TRUE(module) << error.message;
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(module->instruments[i].sampleCount, 1);
        EXPECT_EQ(Frames(module->instruments[i].samples[0]), song.instruments[0].samples[0].values);
    }

    // The same size in a file that ends inside that instrument's header: the instrument keeps
    // its name and plays silent.
    song.instruments.resize(1);
    song.instruments[0].name = "cut short";
    song.truncateTo = xmw::WriteXm(song).size() - 64 - 40 - 200;
    module = LoadSong(song, nullptr, &error);
    ASSERT_TRUE(module) << error.message;
    EXPECT_EQ(module->instruments[0].sampleCount, 0);
    EXPECT_STREQ(module->instruments[0].name, "cut short");
    for (const Sample* slot : module->instruments[0].samples) EXPECT_EQ(slot, &silentSample);
}

} // namespace
