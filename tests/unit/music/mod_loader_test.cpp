// Tests of the MOD loader through the load entry points: the tags and their track counts, the
// 15-sample layout told by content, the sample headers' words, finetunes, volumes and loops, the
// pattern count, FLT8's paired halves, refusals that name what the file is, every truncation
// point, and the rule set a MOD song is played by.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "loader_helpers.h"
#include "mod_writer.h"
#include "music/player.h"
#include "music/rule_set.h"

namespace {

ModulePtr LoadMod(const modw::Song& song, LoadError* error = nullptr) {
    return LoadBytes(modw::WriteMod(song), nullptr, error);
}

struct TagCase {
    const char* tag;
    int channels;
    ModVariant variant;
};

TEST(ModLoaderTest, EveryTagGivesItsTrackCount) {
    const TagCase cases[] = {
        {"M.K.", 4, ModVariant::ProTracker},    {"M!K!", 4, ModVariant::ProTracker},
        {"M&K!", 4, ModVariant::ProTracker},    {"FLT4", 4, ModVariant::Startrekker},
        {"4CHN", 4, ModVariant::ProTracker},    {"6CHN", 6, ModVariant::Multichannel},
        {"8CHN", 8, ModVariant::Multichannel},  {"2CHN", 2, ModVariant::Multichannel},
        {"10CH", 10, ModVariant::Multichannel}, {"16CN", 16, ModVariant::Multichannel},
        {"32CH", 32, ModVariant::Multichannel}, {"CD61", 6, ModVariant::Octalyser},
        {"CD81", 8, ModVariant::Octalyser},     {"OKTA", 8, ModVariant::Multichannel},
        {"OCTA", 8, ModVariant::Multichannel},  {"TDZ3", 3, ModVariant::Multichannel},
        {"FEST", 4, ModVariant::Fest},
    };
    for (const TagCase& c : cases) {
        modw::Song song = modw::MinimalSong();
        song.tag = c.tag;
        song.channels = c.channels;
        modw::Put(song, 0, 5, c.channels - 1, {modw::Period(12), 1, 0xC, 0x20});
        LoadError error{};
        ModulePtr module = LoadMod(song, &error);
        ASSERT_TRUE(module) << c.tag << ": " << error.message;
        EXPECT_EQ(module->format, ModuleFormat::Mod) << c.tag;
        EXPECT_EQ(module->modVariant, c.variant) << c.tag;
        EXPECT_EQ(module->channelCount, c.channels) << c.tag;
        // The cell on the last track lands there: the rows are read at the tag's width.
        const PatternCell& cell = module->patterns[0].cells[5 * c.channels + c.channels - 1];
        EXPECT_EQ(cell.note, 49) << c.tag; // C-2 of the MOD scale
        EXPECT_EQ(cell.instrument, 1) << c.tag;
        EXPECT_EQ(cell.effect, 0xC) << c.tag;
        EXPECT_EQ(cell.effectParameter, 0x20) << c.tag;
        EXPECT_NE(std::strstr(module->trackerName, c.tag), nullptr) << module->trackerName;
    }
    // Tags out of range are no MOD at all.
    for (const char* tag : {"33CH", "09CH", "0CHN", "TDZ0"}) {
        modw::Song song = modw::MinimalSong();
        song.tag = tag;
        LoadError error{};
        EXPECT_FALSE(LoadMod(song, &error)) << tag;
        EXPECT_EQ(error.code, LOAD_NOT_XM) << tag;
    }
}

TEST(ModLoaderTest, ATracksFilesKeepFourBytesAfterTheTag) {
    modw::Song song = modw::MinimalSong();
    song.tag = "FA04";
    std::vector<uint8_t> bytes = modw::WriteMod(song);
    // The four bytes go in after the tag; a cell just after them is row 0, track 0.
    const uint8_t extra[4] = {0, 0, 0, 0};
    bytes.insert(bytes.begin() + 1084, extra, extra + 4);
    bytes[1088 + 2] = 0x1C; // sample 1, effect C
    bytes[1088 + 3] = 0x10;
    ModulePtr module = LoadBytes(bytes);
    ASSERT_TRUE(module);
    EXPECT_EQ(module->patterns[0].cells[0].effect, 0xC);
    EXPECT_EQ(module->patterns[0].cells[0].effectParameter, 0x10);
}

TEST(ModLoaderTest, FifteenSampleFilesAreToldByTheirContent) {
    modw::Song song = modw::MinimalSong();
    song.tag = "";
    song.restart = 120;
    modw::Put(song, 0, 0, 0, {modw::Period(0), 1, 0, 0});
    LoadError error{};
    ModulePtr module = LoadMod(song, &error);
    ASSERT_TRUE(module) << error.message;
    EXPECT_EQ(module->modVariant, ModVariant::FifteenSamples);
    EXPECT_EQ(module->instrumentCount, 15);
    EXPECT_EQ(module->defaultBpm, 125);
    EXPECT_EQ(module->patterns[0].cells[0].note, 37);

    // What the original tracker could not have written makes the file no MOD: a finetune, a
    // volume above 64, orders beyond its 64 patterns, cells naming samples above 15.
    auto refused = [](modw::Song s) {
        LoadError e{};
        const bool loaded = static_cast<bool>(LoadMod(s, &e));
        return !loaded && e.code == LOAD_NOT_XM;
    };
    modw::Song finetuned = song;
    finetuned.samples[0].finetune = 3;
    EXPECT_TRUE(refused(finetuned));
    modw::Song loud = song;
    loud.samples[0].volume = 65;
    EXPECT_TRUE(refused(loud));
    modw::Song farOrder = song;
    farOrder.orders = {64};
    EXPECT_TRUE(refused(farOrder));
    modw::Song highSample = song;
    modw::Put(highSample, 0, 3, 1, {modw::Period(0), 17, 0, 0});
    EXPECT_TRUE(refused(highSample));
    // Random bytes of a MOD's size are not taken for one.
    std::vector<uint8_t> noise(4000);
    uint32_t state = 12345;
    for (uint8_t& b : noise) b = static_cast<uint8_t>((state = state * 1103515245 + 12345) >> 24);
    LoadError e{};
    EXPECT_FALSE(LoadBytes(noise, nullptr, &e));
    EXPECT_EQ(e.code, LOAD_NOT_XM);
}

TEST(ModLoaderTest, SampleHeadersComeInWordsAndAreKeptInRange) {
    struct Case {
        const char* what;
        uint16_t length, loopStart, loopLength;
        uint8_t finetune, volume;
        uint32_t frames, frameLoopStart, frameLoopLength;
        uint8_t loopKind;
        int8_t finetuneOut;
        uint8_t volumeOut;
    };
    const Case cases[] = {
        {"plain", 100, 0, 1, 0, 40, 200, 0, 200, LOOP_NONE, 0, 40},
        {"loop in words", 100, 10, 50, 0, 64, 120, 20, 100, LOOP_FORWARD, 0, 64},
        {"loop past the end trimmed", 100, 60, 80, 0, 64, 200, 120, 80, LOOP_FORWARD, 0, 64},
        {"loop beyond the end dropped", 100, 120, 10, 0, 64, 200, 0, 200, LOOP_NONE, 0, 64},
        {"volume clamped", 10, 0, 1, 0, 99, 20, 0, 20, LOOP_NONE, 0, 64},
        {"finetune +7", 10, 0, 1, 7, 64, 20, 0, 20, LOOP_NONE, 7 * 16, 64},
        {"finetune -8", 10, 0, 1, 8, 64, 20, 0, 20, LOOP_NONE, -8 * 16, 64},
        {"finetune -1, high nibble ignored", 10, 0, 1, 0xFF, 64, 20, 0, 20, LOOP_NONE, -16, 64},
    };
    for (const Case& c : cases) {
        modw::Song song = modw::MinimalSong();
        modw::Sample& s = song.samples[0];
        s.lengthWords = c.length;
        s.loopStartWords = c.loopStart;
        s.loopLengthWords = c.loopLength;
        s.finetune = c.finetune;
        s.volume = c.volume;
        ModulePtr module = LoadMod(song);
        ASSERT_TRUE(module) << c.what;
        const Sample& out = *module->instruments[0].samples[0];
        EXPECT_EQ(out.length, c.frames) << c.what;
        EXPECT_EQ(out.loopStart, c.frameLoopStart) << c.what;
        EXPECT_EQ(out.loopLength, c.frameLoopLength) << c.what;
        EXPECT_EQ(out.loopKind, c.loopKind) << c.what;
        EXPECT_EQ(out.finetune, c.finetuneOut) << c.what;
        EXPECT_EQ(out.volume, c.volumeOut) << c.what;
    }
}

TEST(ModLoaderTest, SampleDataIsWidenedAndTheLoopEndRepeatsItsStart) {
    modw::Song song = modw::MinimalSong();
    song.samples[0].lengthWords = 4;
    song.samples[0].data = {1, -2, 3, -4, 5, -6, 7, -128};
    song.samples[0].loopStartWords = 1;
    song.samples[0].loopLengthWords = 3;
    ModulePtr module = LoadMod(song);
    ASSERT_TRUE(module);
    const Sample& s = *module->instruments[0].samples[0];
    ASSERT_EQ(s.length, 8u);
    EXPECT_EQ(s.data[0], 256);
    EXPECT_EQ(s.data[7], -128 * 256);
    EXPECT_EQ(s.data[8], s.data[2]); // the mixer reads one frame past the loop's end
}

// Samples saved packed (the mark, sixteen steps, two frames a byte, low nibble first) are
// unpacked to the frames they sum to; the plain sample after one is read from where it ends, and
// a file cut inside the packed bytes keeps the frames they hold.
TEST(ModLoaderTest, PackedSamplesAreUnpackedToTheirFrames) {
    modw::Song song = modw::MinimalSong();
    song.samples[0].lengthWords = 3; // six frames, three packed bytes
    song.samples[0].data.clear();
    song.samples.push_back(song.samples[0]);
    song.samples[1].lengthWords = 2;
    song.samples[1].data = {5, 6, 7, 8};
    std::vector<uint8_t> plain = modw::WriteMod(song);
    // The first sample's six zero bytes make way for the packed form.
    const auto first = plain.end() - 6 - 4;
    std::vector<uint8_t> packed(plain.begin(), first);
    const uint8_t mark[5] = {'A', 'D', 'P', 'C', 'M'};
    packed.insert(packed.end(), mark, mark + 5);
    for (int k = 0; k < 16; ++k) packed.push_back(static_cast<uint8_t>(k < 8 ? k * 20 : -k));
    // Steps: +20 (1), +40 (2), -15 (15), +140 (7: wraps), 0 (0), -8 (8).
    const uint8_t nibbles[3] = {0x21, 0x7F, 0x80};
    packed.insert(packed.end(), nibbles, nibbles + 3);
    packed.insert(packed.end(), plain.end() - 4, plain.end());
    const int16_t frames[6] = {
        20, 60, 45, static_cast<int8_t>(185), static_cast<int8_t>(185), static_cast<int8_t>(177)};

    struct Case {
        const char* what;
        size_t cutBy; // bytes taken off the file's end
        uint32_t firstFrames, secondFrames;
    };
    const Case cases[] = {
        {"whole", 0, 6, 4},
        {"cut in the plain sample after it", 2, 6, 2},
        {"cut in the packed bytes", 4 + 2, 2, 0},
        {"cut after the steps", 4 + 3, 0, 0},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes(packed.begin(), packed.end() - static_cast<long>(c.cutBy));
        ModulePtr module = LoadBytes(bytes);
        ASSERT_TRUE(module) << c.what;
        const Sample& a = *module->instruments[0].samples[0];
        const Sample& b = *module->instruments[1].samples[0];
        ASSERT_EQ(a.length, c.firstFrames) << c.what;
        for (uint32_t k = 0; k < a.length; ++k) EXPECT_EQ(a.data[k], frames[k] * 256) << c.what;
        ASSERT_EQ(b.length, c.secondFrames) << c.what;
        for (uint32_t k = 0; k < b.length; ++k)
            EXPECT_EQ(b.data[k], (5 + static_cast<int>(k)) * 256) << c.what;
    }
}

// The 15-sample trackers play a looped sample's loop alone (its start in bytes where only that
// fits); the later trackers play the sample from its start and keep the frames before the loop.
TEST(ModLoaderTest, FifteenSampleLoopsArePlayedAlone) {
    struct Case {
        const char* what;
        const char* tag;
        uint16_t loopStart, loopLength; // as stored
        uint32_t frames, loopStartOut;
        int firstFrame; // the stored byte the sample starts with
    };
    const Case cases[] = {
        {"start in bytes", "", 60, 50, 100, 0, 60},
        {"start in words", "", 20, 50, 100, 0, 40},
        {"no loop", "", 0, 1, 200, 0, 0},
        {"a later tracker's file", "M.K.", 20, 50, 140, 40, 0},
    };
    for (const Case& c : cases) {
        modw::Song song = modw::MinimalSong();
        song.tag = c.tag;
        song.restart = 120;
        modw::Put(song, 0, 0, 0, {modw::Period(12), 1, 0, 0});
        modw::Sample& s = song.samples[0];
        s.lengthWords = 100;
        s.loopStartWords = c.loopStart;
        s.loopLengthWords = c.loopLength;
        s.data.resize(200);
        for (int k = 0; k < 200; ++k) s.data[k] = static_cast<int8_t>(k / 2);
        ModulePtr module = LoadMod(song);
        ASSERT_TRUE(module) << c.what;
        const Sample& out = *module->instruments[0].samples[0];
        EXPECT_EQ(out.length, c.frames) << c.what;
        EXPECT_EQ(out.loopStart, c.loopStartOut) << c.what;
        EXPECT_EQ(out.data[0], c.firstFrame / 2 * 256) << c.what;
        if (out.loopKind == LOOP_FORWARD) {
            EXPECT_EQ(out.loopStart + out.loopLength, out.length) << c.what;
        }
    }
}

TEST(ModLoaderTest, PatternsStoredAreTheHighestOrderEntryEvenUnplayed) {
    modw::Song song = modw::MinimalSong();
    song.orders = {0, 1, 0, 3};
    song.songLength = 2; // entries 2 and 3 are not played, but pattern 3 is stored
    modw::Put(song, 3, 0, 0, {0, 0, 0xC, 7});
    song.samples[0].data.assign(128, 9);
    ModulePtr module = LoadMod(song);
    ASSERT_TRUE(module);
    EXPECT_EQ(module->songLength, 2);
    EXPECT_EQ(module->patternCount, 4);
    EXPECT_EQ(module->patterns[3].cells[0].effectParameter, 7);
    // The samples follow all four patterns.
    EXPECT_EQ(module->instruments[0].samples[0]->data[0], 9 * 256);
}

TEST(ModLoaderTest, EightTrackStartrekkerPatternsAreTwoHalves) {
    modw::Song song = modw::MinimalSong();
    song.tag = "FLT8";
    song.orders = {0, 2};
    modw::Put(song, 2, 1, 3, {0, 0, 0xC, 0x11}); // second pattern's left half
    modw::Put(song, 3, 1, 0, {0, 0, 0xC, 0x22}); // its right half, track 4
    ModulePtr module = LoadMod(song);
    ASSERT_TRUE(module);
    EXPECT_EQ(module->channelCount, 8);
    EXPECT_EQ(module->orders[1], 1);
    const PatternCell* row = module->patterns[1].cells + 8;
    EXPECT_EQ(row[3].effectParameter, 0x11);
    EXPECT_EQ(row[4].effectParameter, 0x22);
}

TEST(ModLoaderTest, KnownPackingsAreRefusedByName) {
    const std::pair<const char*, const char*> cases[] = {
        {"Ice!", "unpack it first"}, {"ICE!", "unpack it first"}, {"PP20", "unpack it first"}};
    for (const auto& [mark, sentence] : cases) {
        std::vector<uint8_t> bytes(3000, 0x55);
        std::memcpy(bytes.data(), mark, 4);
        LoadError error{};
        EXPECT_FALSE(LoadBytes(bytes, nullptr, &error)) << mark;
        EXPECT_EQ(error.code, LOAD_UNSUPPORTED) << mark;
        EXPECT_NE(std::strstr(error.message, sentence), nullptr) << error.message;
    }
    // One packer leaves its mark at the file's end.
    std::vector<uint8_t> bytes(3000, 0x55);
    std::memcpy(bytes.data() + bytes.size() - 4, "Ice!", 4);
    LoadError error{};
    EXPECT_FALSE(LoadBytes(bytes, nullptr, &error));
    EXPECT_EQ(error.code, LOAD_UNSUPPORTED);
}

TEST(ModLoaderTest, EveryTruncationPointLoadsOrIsRefusedClearly) {
    modw::Song song = modw::MinimalSong();
    song.orders = {0, 1};
    modw::Put(song, 1, 63, 3, {modw::Period(20), 1, 0xA, 0x0F});
    song.samples.push_back(song.samples[0]);
    song.samples[1].loopStartWords = 10;
    song.samples[1].loopLengthWords = 40;
    const std::vector<uint8_t> whole = modw::WriteMod(song);
    for (size_t size = 0; size < whole.size(); ++size) {
        std::vector<uint8_t> cut(whole.begin(), whole.begin() + static_cast<long>(size));
        LoadError error{};
        ModulePtr module = LoadBytes(cut, nullptr, &error);
        if (!module) {
            // A cut header is no MOD, or a header the file does not finish.
            EXPECT_TRUE(error.code == LOAD_NOT_XM || error.code == LOAD_TRUNCATED) << size;
            EXPECT_GT(std::strlen(error.message), 10u) << size;
            EXPECT_LT(size, 1084u + 2048u) << "refused although the patterns are whole: " << size;
            continue;
        }
        // What the file holds is kept, the rest silent; every sample stays inside its frames.
        for (int i = 0; i < module->instrumentCount; ++i) {
            const Sample& s = *module->instruments[i].samples[0];
            EXPECT_LE(s.loopStart + s.loopLength, std::max<uint32_t>(s.length, s.loopLength))
                << size;
            EXPECT_EQ(s.data == nullptr, s.length == 0) << size;
        }
        Player* player = CreatePlayer(module.get(), 8000, PlayerRules::Standard);
        ASSERT_TRUE(player);
        int16_t pcm[2 * 512];
        for (int k = 0; k < 8; ++k) RenderPcm16(player, pcm, 512);
        DestroyPlayer(player);
    }
}

TEST(ModLoaderTest, MODSongsPlayByProTrackersRulesAndRefuseTheDemos) {
    ModulePtr module = LoadMod(modw::MinimalSong());
    ASSERT_TRUE(module);
    EXPECT_EQ(CreatePlayer(module.get(), 44100, PlayerRules::Demo), nullptr);
    Player* player = CreatePlayer(module.get(), 44100, PlayerRules::Standard);
    ASSERT_TRUE(player);
    EXPECT_EQ(player->ruleSet, &protrackerRules);
    EXPECT_EQ(player->controls.separation, protrackerRules.defaultSeparation);
    DestroyPlayer(player);
    EXPECT_EQ(module->playerCount.load(), 0);
}

TEST(ModLoaderTest, CorpusFilesLoadOrAreRefusedWithAReason) {
    const std::filesystem::path corpus = std::filesystem::path(DEMO_SHARED_DIR) / "mod-corpus";
    if (!std::filesystem::exists(corpus)) GTEST_SKIP() << "no MOD corpus at " << corpus;
    int loaded = 0, refused = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(corpus)) {
        if (entry.path().extension() == ".md") continue;
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
        LoadError error{};
        ModulePtr module(LoadModuleFromMemory(bytes.data(), bytes.size(), nullptr, &error));
        if (module) {
            ++loaded;
            EXPECT_EQ(module->format, ModuleFormat::Mod) << entry.path();
        } else {
            ++refused;
            EXPECT_GT(std::strlen(error.message), 10u) << entry.path();
        }
    }
    // Every real song loads.
    for (const auto& entry : std::filesystem::directory_iterator(corpus / "songs")) {
        LoadError error{};
        ModulePtr module(
            LoadModule(&standardFileCallbacks, entry.path().string().c_str(), nullptr, &error));
        EXPECT_TRUE(module) << entry.path() << ": " << error.message;
    }
    EXPECT_GT(loaded, 60);
    EXPECT_GT(refused, 10);
}

} // namespace

// A song that sets F20 on the last row of its first pattern and speed 6 on the next one's
// first, then plays that pattern `repeats` times: read as a tempo, 32 BPM lasts the whole song
// (ten minutes for 20 repeats); read as a speed, one row is slow.
modw::Song LateHighF(int repeats) {
    modw::Song song = modw::MinimalSong();
    modw::Put(song, 0, 63, 0, {0, 0, 0xF, 0x20});
    modw::Put(song, 1, 0, 0, {0, 0, 0xF, 0x06});
    song.orders.assign(1, 0);
    for (int i = 0; i < repeats; ++i) song.orders.push_back(1);
    return song;
}

TEST(ModLoaderTest, HighSpeedCommandsAreSpeedsWhereOnlyThatMakesASong) {
    struct Case {
        const char* what;
        modw::Song song;
        ModVariant variant;
        int speed; // on row 63
    };
    modw::Song sameRow = LateHighF(20);
    modw::Put(sameRow, 0, 63, 1, {0, 0, 0xF, 0x05}); // a speed beside it: F20 is a tempo
    modw::Song shortSong = LateHighF(2);             // a minute at 32 BPM: a tempo
    modw::Song slower = LateHighF(20);
    modw::Put(slower, 1, 0, 0, {}); // speed 32 for good: as speeds slower still, a tempo
    modw::Song otherTag = LateHighF(20);
    otherTag.tag = "FLT4";
    modw::Song bang = LateHighF(20);
    bang.tag = "M!K!";
    const Case cases[] = {
        {"ten minutes at 32 BPM", LateHighF(20), ModVariant::Noisetracker, 32},
        {"the M!K! tag", bang, ModVariant::Noisetracker, 32},
        {"speed and tempo on one row", sameRow, ModVariant::ProTracker, 5},
        {"a short song", shortSong, ModVariant::ProTracker, 6},
        {"speeds no shorter", slower, ModVariant::ProTracker, 6},
        {"another tracker's tag", otherTag, ModVariant::Startrekker, 6},
    };
    for (const Case& c : cases) {
        ModulePtr module = LoadMod(c.song);
        ASSERT_TRUE(module) << c.what;
        EXPECT_EQ(module->modVariant, c.variant) << c.what;
        const bool speeds = c.variant == ModVariant::Noisetracker;
        EXPECT_EQ(std::strncmp(module->trackerName, "Noisetracker ", 13) == 0, speeds)
            << c.what << ": " << module->trackerName;
        // Played: on row 63, F20 is 32 ticks a row at the tempo of 125, or 32 BPM.
        Player* player = CreatePlayer(module.get(), 44100, PlayerRules::Standard);
        ASSERT_TRUE(player);
        int16_t buffer[2 * 64];
        for (int i = 0; i < 20000 && !(player->heard.order == 0 && player->heard.row == 63); ++i)
            RenderPcm16(player, buffer, 64);
        ASSERT_EQ(player->heard.row, 63) << c.what;
        EXPECT_EQ(player->speed, c.speed) << c.what;
        EXPECT_EQ(player->bpm, speeds ? 125 : 32) << c.what;
        DestroyPlayer(player);
    }
}
