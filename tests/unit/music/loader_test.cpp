// Loader tests on songs built with the XM writer: header fields and names, pattern cells and
// their packing, instruments and envelopes, sample widths, delta coding and loop preparation,
// and the entry points (opening, loading from memory, freeing a song still played).
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "loader_helpers.h"
#include "music/player.h"

namespace {

using xmw::Loop;

class LoaderTest : public ::testing::Test {};

TEST_F(LoaderTest, HeaderFields) {
    xmw::Song song = xmw::MinimalSong();
    song.channels = 6;
    song.patterns = {song.MakePattern(32), song.MakePattern(16)};
    song.orders = {1, 0, 1};
    song.restartPosition = 2;
    song.flags = 0;
    song.speed = 3;
    song.bpm = 140;
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module);
    EXPECT_EQ(module->songLength, 3);
    EXPECT_EQ(module->restartPosition, 2);
    EXPECT_EQ(module->channelCount, 6);
    EXPECT_EQ(module->flags, 0);
    EXPECT_EQ(module->defaultSpeed, 3);
    EXPECT_EQ(module->defaultBpm, 140);
    EXPECT_EQ(module->orders[0], 1);
    EXPECT_EQ(module->orders[2], 1);
    EXPECT_EQ(module->usedPatternCount, 2);
    EXPECT_EQ(module->patternCount, 2);
    EXPECT_EQ(module->patterns[0].rowCount, 32);
    EXPECT_EQ(module->patterns[1].rowCount, 16);
    EXPECT_EQ(module->instrumentCount, 1);
    EXPECT_EQ(module->initialGlobalVolume, 64);
}

TEST_F(LoaderTest, NamesVersionAndSampleNumbersAreKeptAsStored) {
    xmw::Song song = xmw::MinimalSong();
    song.name = "Twenty characters..."; // fills the field: no terminator in the file
    song.trackerName = "tracker";       // padded with blanks by the writer
    song.version = 0x0104;
    song.instruments[0].name = "lead";
    song.instruments[0].samples.push_back(EightBit({1, 2}));
    song.instruments[0].samples[1].name = "twenty-two characters!";
    song.instruments.push_back(xmw::Instrument{}); // no samples: no numbers
    song.instruments.back().name = "empty";
    song.instruments.push_back(xmw::MinimalSong().instruments[0]);
    song.instruments.back().name = "twenty-two characters!and more";
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module);
    EXPECT_STREQ(module->title, "Twenty characters...");
    EXPECT_STREQ(module->trackerName, "tracker             ");
    EXPECT_EQ(module->version, 0x0104);
    EXPECT_STREQ(module->instruments[0].name, "lead");
    EXPECT_STREQ(module->instruments[1].name, "empty");
    EXPECT_STREQ(module->instruments[2].name, "twenty-two characters!");
    EXPECT_STREQ(module->instruments[0].samples[0]->name, "square");
    EXPECT_STREQ(module->instruments[0].samples[1]->name, "twenty-two characters!");
    // Samples with a record of their own count from 1 in file order; the silent one is 0.
    EXPECT_EQ(module->instruments[0].samples[0]->id, 1);
    EXPECT_EQ(module->instruments[0].samples[1]->id, 2);
    EXPECT_EQ(module->instruments[1].samples[0]->id, 0);
    EXPECT_EQ(module->instruments[2].samples[0]->id, 3);
    EXPECT_EQ(module->sampleCount, 3);
    EXPECT_EQ(module->sampleLoader, nullptr);
}

TEST_F(LoaderTest, WrongMagicFails) {
    std::vector<uint8_t> bytes = xmw::WriteXm(xmw::MinimalSong());
    bytes[16] = 'x'; // the trailing blank of the magic
    EXPECT_FALSE(LoadBytes(bytes));
    EXPECT_FALSE(LoadBytes({'E', 'x', 't'}));
}

TEST_F(LoaderTest, PatternsNamedByOrdersButNotStoredAreEmpty64RowPatterns) {
    xmw::Song song = xmw::MinimalSong();
    song.patterns = {song.MakePattern(8), song.MakePattern(8), song.MakePattern(8)};
    song.orders = {0, 5, 2};
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module);
    EXPECT_EQ(module->usedPatternCount, 6);
    EXPECT_EQ(module->patternCount, 6);
    for (int p = 3; p < 6; ++p) {
        ASSERT_EQ(module->patterns[p].rowCount, 64);
        for (int c = 0; c < 64 * song.channels; ++c) {
            const PatternCell& cell = module->patterns[p].cells[c];
            EXPECT_EQ(cell.note | cell.instrument | cell.volumeColumn | cell.effect, 0);
        }
    }
    // Stored patterns beyond those the orders use are kept.
    song.orders = {0};
    module = LoadSong(song);
    ASSERT_TRUE(module);
    EXPECT_EQ(module->usedPatternCount, 1);
    EXPECT_EQ(module->patternCount, 3);
}

TEST_F(LoaderTest, PackedCellsDecodeWithKeyOffAndInstrumentFixUps) {
    xmw::Song song = xmw::MinimalSong();
    song.channels = 2;
    xmw::Pattern pattern = song.MakePattern(3);
    pattern.rawPackedData = std::vector<uint8_t>{
        0x80,                         // empty cell, one byte
        0x00, 1,    2,    3,    4,    // plain cell with note 0: five bytes
        0x83, 97,   129,              // note key-off, instrument beyond 128
        0xE8, 0x0F,                   // bits 5 and 6 ignored: effect only
        50,   128,  0x40, 0x0C, 0x20, // plain cell
        0x90, 0xFF,                   // parameter only
    };
    song.patterns = {pattern};
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module);
    const PatternCell* cells = module->patterns[0].cells;
    auto same = [](const PatternCell& a, const PatternCell& b) {
        return a.note == b.note && a.instrument == b.instrument &&
               a.volumeColumn == b.volumeColumn && a.effect == b.effect &&
               a.effectParameter == b.effectParameter;
    };
    EXPECT_TRUE(same(cells[0], PatternCell{0, 0, 0, 0, 0}));
    EXPECT_TRUE(same(cells[1], PatternCell{0, 1, 2, 3, 4}));
    EXPECT_TRUE(same(cells[2], PatternCell{255, 0, 0, 0, 0}));
    EXPECT_TRUE(same(cells[3], PatternCell{0, 0, 0, 0x0F, 0}));
    EXPECT_TRUE(same(cells[4], PatternCell{50, 128, 0x40, 0x0C, 0x20}));
    EXPECT_TRUE(same(cells[5], PatternCell{0, 0, 0, 0, 0xFF}));
    // The instrument after the pattern was found where the decoding left off.
    EXPECT_EQ(module->instruments[0].sampleCount, 1);
}

TEST_F(LoaderTest, WriterPackingRoundTripsEveryKindOfCell) {
    xmw::Song song = xmw::MinimalSong();
    song.channels = 3;
    xmw::Pattern pattern = song.MakePattern(4);
    pattern.At(0, 0) = {xmw::NoteNumber("C-4"), 1, 0x40, 0x0F, 0x06};
    pattern.At(0, 2) = {255, 0, 0, 0, 0};
    pattern.At(1, 1) = {0, 0, 0, 0x0C, 0};
    pattern.At(3, 2) = {96, 128, 0x10, 0x0E, 0xC3};
    song.patterns = {pattern};
    // Full cells are stored plain, others with a mask byte.
    EXPECT_EQ(xmw::PackCell(pattern.At(0, 0)).size(), 5u);
    EXPECT_EQ(xmw::PackCell(pattern.At(1, 1)), (std::vector<uint8_t>{0x88, 0x0C}));
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 3; ++c) {
            const PatternCell& want = pattern.At(r, c);
            const PatternCell& got = module->patterns[0].cells[r * 3 + c];
            EXPECT_EQ(got.note, want.note) << r << "," << c;
            EXPECT_EQ(got.instrument, want.instrument) << r << "," << c;
            EXPECT_EQ(got.volumeColumn, want.volumeColumn) << r << "," << c;
            EXPECT_EQ(got.effect, want.effect) << r << "," << c;
            EXPECT_EQ(got.effectParameter, want.effectParameter) << r << "," << c;
        }
    }
}

TEST_F(LoaderTest, InstrumentWithoutSamplesConsumesExactlyItsHeaderSize) {
    xmw::Song song = xmw::MinimalSong();
    xmw::Instrument empty;
    empty.rawHeaderSize = 80; // 51 bytes of padding after the sample count
    song.instruments.insert(song.instruments.begin(), empty);
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module);
    ASSERT_EQ(module->instrumentCount, 2);
    const Instrument& first = module->instruments[0];
    EXPECT_EQ(first.sampleCount, 0);
    for (const Sample* slot : first.samples) EXPECT_EQ(slot, &silentSample);
    EXPECT_EQ(first.volumePointCount, 0);
    EXPECT_EQ(first.fadeout, 0);
    const Instrument& second = module->instruments[1];
    ASSERT_EQ(second.sampleCount, 1);
    EXPECT_EQ(second.samples[0]->length, 64u);
    EXPECT_EQ(second.samples[0]->data[0], 96 * 256);
    for (int s = 1; s < 16; ++s) EXPECT_EQ(second.samples[s], &silentSample);
}

TEST_F(LoaderTest, InstrumentFieldsEnvelopesAndFadeout) {
    xmw::Song song = xmw::MinimalSong();
    xmw::Instrument& in = song.instruments[0];
    for (int n = 0; n < 96; ++n) in.sampleMap[n] = static_cast<uint8_t>(n % 2);
    in.samples.push_back(EightBit({5}));
    in.volumeEnvelope.points = {{0, 64}, {10, 32}, {20, 0}};
    in.volumeEnvelope.sustain = 1;
    in.volumeEnvelope.loopStart = 0;
    in.volumeEnvelope.loopEnd = 2;
    in.volumeEnvelope.flags = ENVELOPE_ON | ENVELOPE_SUSTAIN | ENVELOPE_LOOP;
    in.panningEnvelope.points = {{0, 32}};
    in.panningEnvelope.flags = ENVELOPE_ON;
    in.vibratoType = 2;
    in.vibratoSweep = 3;
    in.vibratoDepth = 4;
    in.vibratoRate = 5;
    in.fadeout = 0x0100;
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module);
    const Instrument& got = module->instruments[0];
    EXPECT_EQ(got.sampleMap[0], 0);
    EXPECT_EQ(got.sampleMap[95], 1);
    EXPECT_EQ(got.volumePointCount, 3);
    EXPECT_EQ(got.volumeEnvelope[1].x, 10);
    EXPECT_EQ(got.volumeEnvelope[1].y, 32);
    EXPECT_EQ(got.volumeSustain, 1);
    EXPECT_EQ(got.volumeLoopEnd, 2);
    EXPECT_EQ(got.volumeEnvelopeFlags, ENVELOPE_ON | ENVELOPE_SUSTAIN | ENVELOPE_LOOP);
    // One point is no envelope.
    EXPECT_EQ(got.panningPointCount, 1);
    EXPECT_EQ(got.panningEnvelopeFlags, 0);
    EXPECT_EQ(got.vibratoType, 2);
    EXPECT_EQ(got.vibratoSweep, 3);
    EXPECT_EQ(got.vibratoDepth, 4);
    EXPECT_EQ(got.vibratoRate, 5);
    EXPECT_EQ(got.fadeout, 0x0200);
    in.fadeout = 0x8001; // doubled in 16 bits
    module = LoadSong(song);
    ASSERT_TRUE(module);
    EXPECT_EQ(module->instruments[0].fadeout, 0x0002);
}

TEST_F(LoaderTest, EnvelopesBeyondTheirTableAreClamped) {
    xmw::Song song = xmw::MinimalSong();
    xmw::Envelope& env = song.instruments[0].volumeEnvelope;
    for (uint16_t i = 0; i < 12; ++i) env.points.push_back({static_cast<uint16_t>(i * 4), 64});
    env.rawPointCount = 40;
    env.sustain = 30;
    env.loopStart = 2;
    env.loopEnd = 200;
    env.flags = ENVELOPE_ON | ENVELOPE_SUSTAIN | ENVELOPE_LOOP;
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module);
    const Instrument& got = module->instruments[0];
    EXPECT_EQ(got.volumePointCount, 12);
    EXPECT_EQ(got.volumeEnvelopeFlags, ENVELOPE_ON);
    EXPECT_LT(got.volumeSustain, 12);
    EXPECT_LT(got.volumeLoopEnd, 12);
}

TEST_F(LoaderTest, SampleHeaderFields) {
    xmw::Sample sample = EightBit({1, 2, 3, 4});
    sample.volume = 48;
    sample.finetune = -16;
    sample.panning = 200;
    sample.relativeNote = -12;
    ModulePtr module = LoadSong(SongWithSamples({sample}));
    ASSERT_TRUE(module);
    const Sample& got = *module->instruments[0].samples[0];
    EXPECT_EQ(got.volume, 48);
    EXPECT_EQ(got.finetune, -16);
    EXPECT_EQ(got.panning, 200);
    EXPECT_EQ(got.relativeNote, -12);
    EXPECT_EQ(got.bits, 16);
    EXPECT_EQ(got.loopKind, LOOP_NONE);
    EXPECT_EQ(got.loopStart, 0u);
    EXPECT_EQ(got.loopLength, 4u);
}

TEST_F(LoaderTest, LoopKindsFromTheTypeByte) {
    std::vector<xmw::Sample> samples;
    for (uint8_t type : {0, 1, 2, 3}) {
        xmw::Sample s = EightBit(std::vector<int32_t>(20, 1));
        s.loopStart = 4;
        s.loopLength = 8;
        s.rawType = type;
        samples.push_back(s);
    }
    ModulePtr module = LoadSong(SongWithSamples(samples));
    ASSERT_TRUE(module);
    const Sample* const* got = module->instruments[0].samples;
    EXPECT_EQ(got[0]->loopKind, LOOP_NONE);
    EXPECT_EQ(got[0]->loopStart, 0u);
    EXPECT_EQ(got[0]->loopLength, 20u);
    EXPECT_EQ(got[1]->loopKind, LOOP_FORWARD);
    EXPECT_EQ(got[2]->loopKind, LOOP_PINGPONG);
    EXPECT_EQ(got[3]->loopKind, LOOP_PINGPONG);
    EXPECT_EQ(got[3]->loopStart, 4u);
    EXPECT_EQ(got[3]->loopLength, 8u);
}

TEST_F(LoaderTest, SixteenBitLoopShorterThanOneFrameIsNoLoop) {
    for (uint32_t loopBytes : {0u, 1u}) {
        xmw::Sample s;
        s.sixteenBit = true;
        s.values = std::vector<int32_t>(10, 100);
        s.rawType = 0x11;
        s.rawLoopStartBytes = 6;
        s.rawLoopLengthBytes = loopBytes;
        ModulePtr module = LoadSong(SongWithSamples({s}));
        ASSERT_TRUE(module);
        const Sample& got = *module->instruments[0].samples[0];
        EXPECT_EQ(got.loopKind, LOOP_NONE) << loopBytes;
        EXPECT_EQ(got.length, 10u);
        EXPECT_EQ(got.loopStart, 0u);
        EXPECT_EQ(got.loopLength, 10u);
        EXPECT_EQ(got.data[10], 0); // no loop-end copy
    }
}

TEST_F(LoaderTest, OddSixteenBitLengthConsumesWholeFramesOnly) {
    xmw::Sample odd;
    odd.sixteenBit = true;
    std::vector<uint8_t> raw(1001, 0);
    raw[0] = 0x34;
    raw[1] = 0x12;    // frame 0 = 0x1234, the rest adds nothing
    raw[1000] = 0x7F; // the odd byte, which belongs to the next sample
    odd.rawData = raw;
    xmw::Sample next = EightBit({});
    next.rawLengthBytes = 2;
    next.rawData = std::vector<uint8_t>{3}; // with the odd byte before it: deltas 0x7F, 3
    xmw::Song song = SongWithSamples({odd, next});
    ModulePtr module = LoadSong(song);
    ASSERT_TRUE(module);
    const Sample& a = *module->instruments[0].samples[0];
    EXPECT_EQ(a.length, 500u);
    EXPECT_EQ(a.data[0], 0x1234);
    EXPECT_EQ(a.data[499], 0x1234);
    const Sample& b = *module->instruments[0].samples[1];
    ASSERT_EQ(b.length, 2u);
    EXPECT_EQ(b.data[0], 0x7F * 256);
    EXPECT_EQ(b.data[1], (0x7F + 3 - 256) * 256);
}

TEST_F(LoaderTest, DeltaCodingIsUndoneWithWrapAround) {
    xmw::Sample eight = EightBit({});
    eight.rawData = std::vector<uint8_t>{10, 5, static_cast<uint8_t>(-20)};
    xmw::Sample wraps = EightBit({});
    wraps.rawData = std::vector<uint8_t>{100, 100}; // 200 wraps to -56
    xmw::Sample sixteen;
    sixteen.sixteenBit = true;
    sixteen.rawData = std::vector<uint8_t>{0x30, 0x75, 0x30, 0x75}; // 30000 + 30000 wraps
    ModulePtr module = LoadSong(SongWithSamples({eight, wraps, sixteen}));
    ASSERT_TRUE(module);
    const Sample* const* s = module->instruments[0].samples;
    ASSERT_EQ(s[0]->length, 3u);
    EXPECT_EQ(s[0]->data[0], 2560);
    EXPECT_EQ(s[0]->data[1], 3840);
    EXPECT_EQ(s[0]->data[2], -1280);
    EXPECT_EQ(s[1]->data[1], -56 * 256);
    ASSERT_EQ(s[2]->length, 2u);
    EXPECT_EQ(s[2]->data[0], 30000);
    EXPECT_EQ(s[2]->data[1], 60000 - 65536);
    // The writer's own delta coding reproduces plain values.
    xmw::Sample plain = EightBit({-128, 127, 0, -1});
    module = LoadSong(SongWithSamples({plain}));
    ASSERT_TRUE(module);
    EXPECT_EQ(module->instruments[0].samples[0]->data[0], -128 * 256);
    EXPECT_EQ(module->instruments[0].samples[0]->data[1], 127 * 256);
    EXPECT_EQ(module->instruments[0].samples[0]->data[3], -256);
}

TEST_F(LoaderTest, LoopEndFrameHoldsWhatFollowsTheLoopAndTheTailIsZero) {
    std::vector<int32_t> ramp;
    for (int i = 0; i < 200; ++i) ramp.push_back(i - 100);
    xmw::Sample forward = EightBit(ramp);
    forward.loop = Loop::Forward;
    forward.loopStart = 100;
    forward.loopLength = 100;
    xmw::Sample pingPong = forward;
    pingPong.loop = Loop::PingPong;
    xmw::Sample none = EightBit(ramp);
    xmw::Sample inner = forward; // a loop ending before the sample does
    inner.loopStart = 10;
    inner.loopLength = 20;
    ModulePtr module = LoadSong(SongWithSamples({forward, pingPong, none, inner}));
    ASSERT_TRUE(module);
    const Sample* const* s = module->instruments[0].samples;
    EXPECT_EQ(s[0]->data[200], s[0]->data[100]);
    EXPECT_EQ(s[0]->data[100], 0);
    EXPECT_EQ(s[1]->data[200], s[1]->data[199]);
    EXPECT_EQ(s[1]->data[199], 99 * 256);
    EXPECT_EQ(s[2]->data[200], 0);
    for (int k = 201; k < 208; ++k) {
        EXPECT_EQ(s[0]->data[k], 0);
        EXPECT_EQ(s[2]->data[k], 0);
    }
    // The copy overwrites the frame after an inner loop, as the mixer reads it.
    EXPECT_EQ(s[3]->data[30], s[3]->data[10]);
}

TEST_F(LoaderTest, SampleLoaderSuppliesPlainValues) {
    struct Call {
        uint32_t storedBytes;
        int bits, instrument, sample;
    };
    static std::vector<Call> calls;
    calls.clear();
    SampleLoader loader = [](void* buffer, uint32_t storedBytes, int bits, int instrument,
                             int sample) {
        calls.push_back({storedBytes, bits, instrument, sample});
        if (bits == 8) {
            auto* b = static_cast<int8_t*>(buffer);
            for (uint32_t k = 0; k < storedBytes; ++k) b[k] = static_cast<int8_t>(k + 1);
        } else {
            auto* w = static_cast<int16_t*>(buffer);
            for (uint32_t k = 0; k < storedBytes / 2; ++k) w[k] = static_cast<int16_t>(-1000);
        }
        return 0;
    };
    xmw::Sample eight = EightBit({9, 9, 9});
    xmw::Sample empty = EightBit({});
    xmw::Sample sixteen;
    sixteen.sixteenBit = true;
    sixteen.values = {7, 7};
    xmw::Song song = SongWithSamples({eight, empty, sixteen});
    song.instruments.insert(song.instruments.begin(), xmw::Instrument{});
    ModulePtr module = LoadSong(song, loader);
    ASSERT_TRUE(module);
    ASSERT_EQ(calls.size(), 2u); // not for the empty sample
    EXPECT_EQ(calls[0].storedBytes, 3u);
    EXPECT_EQ(calls[0].bits, 8);
    EXPECT_EQ(calls[0].instrument, 1);
    EXPECT_EQ(calls[0].sample, 0);
    EXPECT_EQ(calls[1].storedBytes, 4u);
    EXPECT_EQ(calls[1].bits, 16);
    EXPECT_EQ(calls[1].sample, 2);
    EXPECT_EQ(module->sampleLoader, loader);
    const Sample* const* s = module->instruments[1].samples;
    // Values are taken as given: no delta decoding.
    EXPECT_EQ(s[0]->data[0], 256);
    EXPECT_EQ(s[0]->data[2], 3 * 256);
    EXPECT_EQ(s[1]->data, nullptr);
    EXPECT_EQ(s[2]->data[1], -1000);
}

// ==== Entry points ====

TEST_F(LoaderTest, EntryPointsSayWhatCannotBeOpened) {
    MemoryFileSet files;
    files.Install("song.xm", xmw::WriteXm(xmw::MinimalSong()));
    LoadError error{};
    EXPECT_EQ(files.Load("missing.xm", nullptr, &error), nullptr);
    EXPECT_EQ(error.code, LOAD_CANNOT_OPEN);
    EXPECT_STREQ(error.message, "cannot open missing.xm");
    const FileCallbacks& all = *files.Operations();
    FileCallbacks incomplete;
    SetFileCallbacks(&incomplete, all.open, all.close, all.read, all.seek, nullptr, all.context);
    EXPECT_EQ(LoadModule(&incomplete, "song.xm", nullptr, &error), nullptr);
    EXPECT_EQ(error.code, LOAD_CANNOT_OPEN);
    EXPECT_STREQ(error.message, "cannot open song.xm: no complete set of file operations");
    EXPECT_EQ(LoadModule(nullptr, "song.xm", nullptr, &error), nullptr);
    EXPECT_EQ(error.code, LOAD_CANNOT_OPEN);
    EXPECT_EQ(LoadModule(files.Operations(), nullptr, nullptr, &error), nullptr);
    EXPECT_STREQ(error.message, "cannot open a song without a name");
    EXPECT_EQ(LoadModuleFromMemory(nullptr, 100, nullptr, &error), nullptr);
    EXPECT_EQ(error.code, LOAD_CANNOT_OPEN);
    EXPECT_EQ(ParseXm(nullptr, nullptr, &error), 0);
    EXPECT_EQ(error.code, LOAD_CANNOT_OPEN);
    EXPECT_EQ(files.Load("missing.xm"), nullptr); // no error record wanted

    // A success leaves no trace of the failure before it.
    ModulePtr module(files.Load("song.xm", nullptr, &error));
    ASSERT_TRUE(module);
    EXPECT_EQ(error.code, LOAD_OK);
    EXPECT_STREQ(error.message, "");
    EXPECT_EQ(files.OpenCount(), 0) << "the loader left its stream open";
}

TEST_F(LoaderTest, EachSetOfFilesReachesItsOwnFilesThroughItsContext) {
    // Two sets with a file of the same name: each load opens, reads and closes its own set's
    // file and counts nothing in the other.
    xmw::Song six = xmw::MinimalSong();
    six.channels = 6;
    MemoryFileSet a, b;
    a.Install("song.xm", xmw::WriteXm(xmw::MinimalSong()));
    b.Install("song.xm", xmw::WriteXm(six));
    ModulePtr fromB(b.Load("song.xm"));
    ASSERT_TRUE(fromB);
    EXPECT_EQ(fromB->channelCount, 6);
    EXPECT_EQ(a.CallCount(), 0);
    EXPECT_GT(b.CallCount(), 0);
    ModulePtr fromA(a.Load("song.xm"));
    ASSERT_TRUE(fromA);
    EXPECT_NE(fromA->channelCount, 6);
    EXPECT_EQ(a.OpenCount(), 0);
    EXPECT_EQ(b.OpenCount(), 0);
}

TEST_F(LoaderTest, MemoryLoadKeepsNothingOfTheCallersBuffer) {
    xmw::Song song = xmw::MinimalSong();
    song.instruments[0].name = "kept";
    auto bytes = std::make_unique<std::vector<uint8_t>>(xmw::WriteXm(song));
    LoadError error{};
    ModulePtr module(LoadModuleFromMemory(bytes->data(), bytes->size(), nullptr, &error));
    ASSERT_TRUE(module);
    EXPECT_EQ(error.code, LOAD_OK);
    // Overwritten and gone: the song must not point into it (the address sanitizer would say).
    std::fill(bytes->begin(), bytes->end(), uint8_t{0xAA});
    bytes.reset();
    EXPECT_STREQ(module->instruments[0].name, "kept");
    EXPECT_EQ(module->patterns[0].cells[0].note, xmw::NoteNumber("C-4"));
    EXPECT_EQ(module->instruments[0].samples[0]->data[0], 96 * 256);

    const uint8_t none = 0;
    EXPECT_EQ(LoadModuleFromMemory(&none, 0, nullptr, &error), nullptr);
    EXPECT_EQ(error.code, LOAD_NOT_XM);
}

TEST_F(LoaderTest, ASongAPlayerStillPlaysIsNotFreed) {
    EXPECT_EQ(FreeModule(nullptr), 0);
    Module* module = LoadModuleBytes(xmw::WriteXm(xmw::MinimalSong()));
    ASSERT_NE(module, nullptr);
    Player* player = CreatePlayer(module, 8000, PlayerRules::Standard);
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(FreeModule(module), 0);
    // Still whole: the player renders from it (the address sanitizer watches the reads).
    std::vector<int16_t> frames(2 * 400);
    EXPECT_EQ(RenderPcm16(player, frames.data(), 400), 400);
    EXPECT_TRUE(std::any_of(frames.begin(), frames.end(), [](int16_t v) { return v != 0; }));
    DestroyPlayer(player);
    EXPECT_EQ(FreeModule(module), 1);
}

} // namespace
