// The standard rules' flow control, where it differs from the demo's: each case is a small song
// made with the XM writer and the rows it plays under both rule sets, one entry per row period
// ("order/row:ticks"), so that every case also shows the demo's rules unchanged.
#include "music/module.h"
#include "music/player.h"
#include "music/sequencer.h"
#include "xm_writer.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

struct Effect {
    int order; // the pattern of that order position (each order has its own pattern)
    int row;
    int channel;
    uint8_t effect;
    uint8_t parameter;
};

// A song of one pattern per order position, with the given row counts, 4 channels, speed 2 and
// only flow commands in it (the rows played do not depend on notes).
xmw::Song FlowSong(const std::vector<int>& rows, const std::vector<Effect>& effects) {
    xmw::Song song = xmw::MinimalSong();
    song.channels = 4;
    song.speed = 2;
    song.orders.clear();
    song.patterns.clear();
    for (size_t o = 0; o < rows.size(); ++o) {
        song.orders.push_back(static_cast<uint8_t>(o));
        song.patterns.push_back(song.MakePattern(rows[o]));
    }
    for (const Effect& e : effects) {
        PatternCell& cell = song.patterns[e.order].At(e.row, e.channel);
        cell.effect = e.effect;
        cell.effectParameter = e.parameter;
    }
    return song;
}

// The first `count` row periods the song plays under `rules`, as "order/row:ticks" joined by
// spaces. A period starts at a row tick, or where the position moves with no row read (a pattern
// delay's later periods); an empty string when the song does not load.
std::string Rows(const xmw::Song& song, PlayerRules rules, int count) {
    const std::vector<uint8_t> bytes = xmw::WriteXm(song);
    Module* module = LoadModuleFromMemory(bytes.data(), bytes.size(), nullptr);
    if (!module) return "";
    Player* player = CreatePlayer(module, 44100, rules);
    std::vector<std::string> periods;
    std::vector<int> ticks;
    int order = -1, row = -1;
    for (int guard = 0; guard < 10000; ++guard) {
        SequencerTick(player);
        const PlayerPosition& at = player->position;
        if (at.tick == 0 || at.order != order || at.row != row) {
            if (static_cast<int>(periods.size()) == count) break;
            order = at.order;
            row = at.row;
            periods.push_back(std::to_string(order) + "/" + std::to_string(row));
            ticks.push_back(0);
        }
        ticks.back() += 1;
    }
    DestroyPlayer(player);
    FreeModule(module);
    std::string out;
    for (size_t i = 0; i < periods.size(); ++i)
        out += (i ? " " : "") + periods[i] + ":" + std::to_string(ticks[i]);
    return out;
}

struct FlowCase {
    const char* name;
    std::vector<int> rows;
    std::vector<Effect> effects;
    int periods;
    const char* standard;
    const char* demo;
};
void PrintTo(const FlowCase& c, std::ostream* out) {
    *out << c.name;
}

constexpr uint8_t B = 0x0B, D = 0x0D, E = 0x0E, F = 0x0F, X = 0x21;

const FlowCase cases[] = {
    // The original tracker starts the next pattern at the loop's start row after a loop that
    // ends on the pattern's last row (the loop's start stays the break row).
    {"LoopEndingOnLastRowStartsNextPatternAtLoopStart",
     {4, 4},
     {{0, 1, 0, E, 0x60}, {0, 3, 0, E, 0x61}},
     9,
     "0/0:2 0/1:2 0/2:2 0/3:2 0/1:2 0/2:2 0/3:2 1/1:2 1/2:2",
     "0/0:2 0/1:2 0/2:2 0/3:2 0/1:2 0/2:2 0/3:2 1/0:2 1/1:2"},
    // ...and after one that ends earlier, once the pattern runs out.
    {"LoopStartOutlivesALoopInsideThePattern",
     {4, 4},
     {{0, 1, 0, E, 0x60}, {0, 2, 0, E, 0x61}},
     8,
     "0/0:2 0/1:2 0/2:2 0/1:2 0/2:2 0/3:2 1/1:2 1/2:2",
     "0/0:2 0/1:2 0/2:2 0/1:2 0/2:2 0/3:2 1/0:2 1/1:2"},
    // A loop start the next pattern does not have starts it at row 0.
    {"LoopStartBeyondTheNextPatternStartsItAtRowZero",
     {6, 2},
     {{0, 4, 1, E, 0x60}, {0, 5, 1, E, 0x61}},
     10,
     "0/0:2 0/1:2 0/2:2 0/3:2 0/4:2 0/5:2 0/4:2 0/5:2 1/0:2 1/1:2",
     "0/0:2 0/1:2 0/2:2 0/3:2 0/4:2 0/5:2 0/4:2 0/5:2 1/0:2 1/1:2"},
    // A loop's jump and a break on one row share the break row: the later track's wins, and the
    // song goes to the next order position either way.
    {"LoopJumpAfterBreakGoesToNextPatternAtLoopStart",
     {4, 4},
     {{0, 1, 1, E, 0x60}, {0, 2, 0, D, 0x00}, {0, 2, 1, E, 0x62}},
     5,
     "0/0:2 0/1:2 0/2:2 1/1:2 1/2:2",
     "0/0:2 0/1:2 0/2:2 1/0:2 1/1:2"},
    {"BreakAfterLoopJumpGoesToNextPatternAtBreakRow",
     {4, 4},
     {{0, 1, 0, E, 0x60}, {0, 2, 0, E, 0x62}, {0, 2, 1, D, 0x03}},
     4,
     "0/0:2 0/1:2 0/2:2 1/3:2",
     "0/0:2 0/1:2 0/2:2 1/3:2"},
    // B with a loop's jump on a later track: B's order position at row 0 (the loop's start row
    // does not carry over).
    {"LoopJumpAfterPositionJump",
     {4, 4, 4},
     {{0, 1, 1, E, 0x60}, {0, 2, 0, B, 0x02}, {0, 2, 1, E, 0x61}},
     5,
     "0/0:2 0/1:2 0/2:2 2/0:2 2/1:2",
     "0/0:2 0/1:2 0/2:2 2/0:2 2/1:2"},
    // A pattern delay on the row of a loop's jump: the delayed row plays all its periods, but
    // the jump came at the end of the first one and the later ones passed on the loop's start
    // row without reading it, so the loop goes on from the row after its start.
    {"PatternDelayWithLoopJumpSkipsTheLoopStartRow",
     {5},
     {{0, 1, 0, E, 0x60}, {0, 3, 0, E, 0x61}, {0, 3, 1, E, 0xE2}},
     8,
     "0/0:2 0/1:2 0/2:2 0/3:6 0/2:2 0/3:6 0/4:2 0/1:2",
     "0/0:2 0/1:2 0/2:2 0/3:6 0/1:2 0/2:2 0/3:6 0/4:2"},
    // A break waits for the delay's end; the next pattern then starts at the break row.
    {"PatternDelayWithBreakDelaysTheBreak",
     {4, 4},
     {{0, 1, 0, D, 0x01}, {0, 1, 1, E, 0xE1}},
     5,
     "0/0:2 0/1:4 1/1:2 1/2:2 1/3:2",
     "0/0:2 0/1:4 1/1:2 1/2:2 1/3:2"},
    // Loops on two tracks, one inside the other: the inner one plays its passes on each pass of
    // the outer one, and the pattern's end then starts the next pattern at the start of the
    // loop that jumped last (the inner one).
    {"NestedLoopsOnTwoTracks",
     {4, 4},
     {{0, 0, 1, E, 0x60}, {0, 1, 0, E, 0x60}, {0, 2, 0, E, 0x61}, {0, 3, 1, E, 0x61}},
     13,
     "0/0:2 0/1:2 0/2:2 0/1:2 0/2:2 0/3:2 0/0:2 0/1:2 0/2:2 0/1:2 0/2:2 0/3:2 1/1:2",
     "0/0:2 0/1:2 0/2:2 0/1:2 0/2:2 0/3:2 0/0:2 0/1:2 0/2:2 0/1:2 0/2:2 0/3:2 1/0:2"},
    // F00 leaves the speed as it is.
    {"SpeedZeroIsIgnored", {3}, {{0, 1, 2, F, 0x00}}, 3, "0/0:2 0/1:2 0/2:2", "0/0:2 0/1:1 0/2:1"},
    // X6x (an extension the original tracker ignores, honoured in the files that hold it) adds
    // ticks to every period of its row, summed over the tracks, also to a pattern delay's
    // periods; the demo's rules ignore it.
    {"FineDelayAddsTicksToEachPeriodOfTheRow",
     {3},
     {{0, 1, 0, X, 0x61}, {0, 1, 1, X, 0x62}, {0, 2, 2, X, 0x61}, {0, 2, 3, E, 0xE1}},
     3,
     "0/0:2 0/1:5 0/2:6",
     "0/0:2 0/1:2 0/2:4"},
};

class StandardFlow : public ::testing::TestWithParam<FlowCase> {};

TEST_P(StandardFlow, RowsAsTheOriginalTrackerPlaysThemAndTheDemosRulesUnchanged) {
    const FlowCase& c = GetParam();
    const xmw::Song song = FlowSong(c.rows, c.effects);
    EXPECT_EQ(Rows(song, PlayerRules::Standard, c.periods), c.standard);
    EXPECT_EQ(Rows(song, PlayerRules::Demo, c.periods), c.demo);
}

INSTANTIATE_TEST_SUITE_P(Cases, StandardFlow, ::testing::ValuesIn(cases),
                         [](const ::testing::TestParamInfo<FlowCase>& info) {
                             return std::string(info.param.name);
                         });

// The song's first wrap and a seek use the player's rules: under the standard rules the loop's
// start row that outlives the loop makes the second pattern start at row 1, so the song comes
// back to order 0 later than under the demo's rules, and a seek to order 1 lands at that row's
// time.
TEST(StandardFlowTiming, FirstWrapAndSeekFollowTheRules) {
    const xmw::Song song = FlowSong({4, 4}, {{0, 1, 0, E, 0x60}, {0, 3, 0, E, 0x61}});
    const std::vector<uint8_t> bytes = xmw::WriteXm(song);
    Module* module = LoadModuleFromMemory(bytes.data(), bytes.size(), nullptr);
    ASSERT_NE(module, nullptr);
    // 882 frames per tick at 125 BPM, 2 ticks per row: demo 7 + 4 rows, standard 7 + 3 rows.
    EXPECT_EQ(FramesToFirstWrap(module, 44100, 44100 * 60, PlayerRules::Demo), 11 * 2 * 882);
    EXPECT_EQ(FramesToFirstWrap(module, 44100, 44100 * 60, PlayerRules::Standard), 10 * 2 * 882);
    FreeModule(module);
}

// ==== Files an early other tracker saved under the original tracker's signature ====

// `song` as that tracker saves it: the original tracker's signature (a name of eleven letters,
// " v2.00" and spaces) and a song name padded with zeros.
xmw::Song SavedByOtherTracker(xmw::Song song) {
    song.trackerName = "AnyTracker1 v2.00";
    song.name = std::string("loops\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 20);
    return song;
}

// A chunk as that tracker appends them after the samples: id, 32-bit length, data.
std::vector<uint8_t> Chunk(const char* id, const std::string& data) {
    std::vector<uint8_t> out(id, id + 4);
    for (int shift = 0; shift < 32; shift += 8) out.push_back((data.size() >> shift) & 0xFF);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

struct WriterCase {
    const char* name;
    void (*change)(xmw::Song&);
    bool exclusive;
};
void PrintTo(const WriterCase& c, std::ostream* out) {
    *out << c.name;
}

const WriterCase writerCases[] = {
    {"ZeroPaddedName", [](xmw::Song&) {}, true},
    {"FullNameNothingAfterTheSamples", [](xmw::Song& s) { s.name = "twenty letters long!"; },
     false},
    {"FullNameWithATextChunk",
     [](xmw::Song& s) {
         s.name = "twenty letters long!";
         s.trailer = Chunk("text", "song text");
     },
     true},
    {"BytesAfterTheSamplesThatAreNoChunk",
     [](xmw::Song& s) {
         s.name = "twenty letters long!";
         s.trailer = {1, 2, 3};
     },
     true},
    {"ExtendedSettingsBlockMarksALaterVersion",
     [](xmw::Song& s) {
         s.trailer = Chunk("text", "song text");
         const std::vector<uint8_t> block = Chunk("XTPM", std::string(8, '\0'));
         s.trailer.insert(s.trailer.end(), block.begin(), block.end());
     },
     false},
    {"AnotherSignature", [](xmw::Song& s) { s.trackerName = "AnyTracker1 v2.01"; }, false},
    {"SpacesOfTheSignatureCount",
     [](xmw::Song& s) { s.trackerName = std::string("AnyTracker1 v2.00\0\0\0", 20); }, false},
    {"EarlyLayout", [](xmw::Song& s) { s.version = 0x0103; }, false},
    {"OtherReservedByteInASampleHeader",
     [](xmw::Song& s) { s.instruments[0].samples[0].rawReserved = 0x0C; }, false},
    {"PackedSamplesAreThatTrackersToo",
     [](xmw::Song& s) { s.instruments[0].samples[0].packed4Bit = true; }, true},
};

class SavedBy : public ::testing::TestWithParam<WriterCase> {};

TEST_P(SavedBy, TheLoaderTellsTheOtherTrackersFiles) {
    xmw::Song song = SavedByOtherTracker(xmw::MinimalSong());
    GetParam().change(song);
    const std::vector<uint8_t> bytes = xmw::WriteXm(song);
    LoadError error{};
    Module* module = LoadModuleFromMemory(bytes.data(), bytes.size(), nullptr, &error);
    ASSERT_NE(module, nullptr) << error.message;
    EXPECT_EQ(module->exclusiveLoops, GetParam().exclusive);
    FreeModule(module);
}

INSTANTIATE_TEST_SUITE_P(Cases, SavedBy, ::testing::ValuesIn(writerCases),
                         [](const ::testing::TestParamInfo<WriterCase>& info) {
                             return std::string(info.param.name);
                         });

// That tracker's pattern loops (standard rules): one at a time, and a loop's jump wins over B
// and D on its row, before or after it. Each case also shows the same song saved by the original
// tracker, and the demo's rules, which play both files alike.
struct ExclusiveCase {
    const char* name;
    std::vector<int> rows;
    std::vector<Effect> effects;
    int periods;
    const char* exclusive;
    const char* original;
    const char* demo;
};
void PrintTo(const ExclusiveCase& c, std::ostream* out) {
    *out << c.name;
}

const ExclusiveCase exclusiveCases[] = {
    // Track 1's loop cannot start while track 0's runs, and the other way round: 4 passes in
    // all, where the original tracker counts both at once (6 passes).
    {"ALoopCannotStartWhileAnotherRuns",
     {3, 1},
     {{0, 1, 0, E, 0x61}, {0, 1, 1, E, 0x62}},
     9,
     "0/0:2 0/1:2 0/0:2 0/1:2 0/0:2 0/1:2 0/0:2 0/1:2 0/2:2",
     "0/0:2 0/1:2 0/0:2 0/1:2 0/0:2 0/1:2 0/0:2 0/1:2 0/0:2",
     "0/0:2 0/1:2 0/0:2 0/1:2 0/0:2 0/1:2 0/0:2 0/1:2 0/0:2"},
    {"LoopJumpWinsOverAnEarlierPositionJump",
     {2, 2, 2},
     {{0, 1, 0, B, 0x02}, {0, 1, 1, E, 0x62}},
     7,
     "0/0:2 0/1:2 0/0:2 0/1:2 0/0:2 0/1:2 2/0:2",
     "0/0:2 0/1:2 2/0:2 2/1:2 0/0:2 0/1:2 2/0:2",
     "0/0:2 0/1:2 2/0:2 2/1:2 0/0:2 0/1:2 2/0:2"},
    {"LoopJumpWinsOverALaterBreak",
     {2, 2},
     {{0, 0, 0, E, 0x60}, {0, 1, 0, E, 0x61}, {0, 1, 1, D, 0x01}},
     4,
     "0/0:2 0/1:2 0/0:2 0/1:2",
     "0/0:2 0/1:2 1/1:2 0/0:2",
     "0/0:2 0/1:2 1/1:2 0/0:2"},
};

class ExclusiveLoops : public ::testing::TestWithParam<ExclusiveCase> {};

TEST_P(ExclusiveLoops, OneLoopAtATimeAndItsJumpWins) {
    const ExclusiveCase& c = GetParam();
    const xmw::Song original = FlowSong(c.rows, c.effects);
    const xmw::Song other = SavedByOtherTracker(original);
    EXPECT_EQ(Rows(other, PlayerRules::Standard, c.periods), c.exclusive);
    EXPECT_EQ(Rows(original, PlayerRules::Standard, c.periods), c.original);
    EXPECT_EQ(Rows(other, PlayerRules::Demo, c.periods), c.demo);
}

INSTANTIATE_TEST_SUITE_P(Cases, ExclusiveLoops, ::testing::ValuesIn(exclusiveCases),
                         [](const ::testing::TestParamInfo<ExclusiveCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
