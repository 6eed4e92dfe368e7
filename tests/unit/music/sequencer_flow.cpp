// Row and order flow: tempo, speed, the song's end, jumps, breaks, loops and delays, and rows
// that lie outside their pattern.
#include "sequencer_harness.h"

#include <utility>

using seqtest::Cell;
using seqtest::Harness;
using Rows = std::vector<std::pair<int, int>>;

namespace {

// Three orders over patterns of `rows` rows, speed 1 so that every tick is a row tick.
xmw::Song FlowSong(int rows = 4, int orders = 3, int channels = 8) {
    xmw::Song song = seqtest::BasicSong(channels, rows);
    song.speed = 1;
    song.orders.clear();
    song.patterns.clear();
    for (int o = 0; o < orders; ++o) {
        song.orders.push_back(static_cast<uint8_t>(o));
        song.patterns.push_back(song.MakePattern(rows));
    }
    return song;
}

} // namespace

TEST(SequencerTempo, SetBpmGivesWholeFramesPerTickAt44100) {
    Player bare{};
    bare.mixer.mixRate = 44100;
    const std::pair<int, int> cases[] = {
        {125, 882}, {32, 3445}, {255, 432}, {42, 2624}, {21, 5249}};
    for (auto [bpm, frames] : cases) {
        SetBpm(&bare, bpm);
        EXPECT_EQ(bare.bpm, bpm);
        EXPECT_EQ(bare.tickFrames, frames) << "bpm " << bpm;
    }
}

TEST(SequencerTempo, TempoZeroOrHugeStillGivesTicksOfAtLeastOneFrame) {
    Player bare{};
    bare.mixer.mixRate = 44100;
    SetBpm(&bare, 0);
    EXPECT_GE(bare.tickFrames, 1);
    EXPECT_EQ(bare.tickFrames, 110250); // taken as tempo 1
    SetBpm(&bare, -5);
    EXPECT_EQ(bare.tickFrames, 110250);
    SetBpm(&bare, 1 << 30);
    EXPECT_EQ(bare.tickFrames, 1);
}

TEST(SequencerFlow, SongEndGoesOnAtRestartPosition) {
    xmw::Song song = FlowSong(2, 3);
    song.restartPosition = 1;
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    EXPECT_EQ(
        run.RowTicks(10),
        (Rows{{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}, {1, 0}, {1, 1}, {2, 0}, {2, 1}}));
}

TEST(SequencerFlow, PositionJumpPastTheEndGoesToOrderZero) {
    xmw::Song song = FlowSong(3, 3);
    song.restartPosition = 2;
    song.patterns[1].At(0, 0) = Cell(nullptr, 0, 0, 0x0B, 7); // 7 >= song length 3
    song.patterns[0].At(1, 2) = Cell(nullptr, 0, 0, 0x0B, 1);
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    EXPECT_EQ(run.RowTicks(6), (Rows{{0, 0}, {0, 1}, {1, 0}, {0, 0}, {0, 1}, {1, 0}}));
}

TEST(SequencerFlow, PatternBreakRowsAndBreakPastTheEnd) {
    xmw::Song song = FlowSong(64, 3);
    song.patterns[0].At(0, 0) = Cell(nullptr, 0, 0, 0x0D, 0x12);  // row 12 of order 1
    song.patterns[1].At(12, 1) = Cell(nullptr, 0, 0, 0x0D, 0x64); // 64 > 63: row 0 of order 2
    song.patterns[2].At(0, 0) = Cell(nullptr, 0, 0, 0x0D, 0x05);  // past the end: order 0
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    EXPECT_EQ(run.RowTicks(5), (Rows{{0, 0}, {1, 12}, {2, 0}, {0, 5}, {0, 6}}));
}

TEST(SequencerFlow, JumpAndBreakOnOneRowInBothOrders) {
    // B on track 3 then D on track 5: order from B, row from D.
    xmw::Song song = FlowSong(32, 4);
    song.patterns[0].At(0, 3) = Cell(nullptr, 0, 0, 0x0B, 2);
    song.patterns[0].At(0, 5) = Cell(nullptr, 0, 0, 0x0D, 0x10);
    // D on track 3 then B on track 5: order from B, row 0.
    song.patterns[2].At(10, 3) = Cell(nullptr, 0, 0, 0x0D, 0x20);
    song.patterns[2].At(10, 5) = Cell(nullptr, 0, 0, 0x0B, 3);
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    EXPECT_EQ(run.RowTicks(3), (Rows{{0, 0}, {2, 10}, {3, 0}}));
}

TEST(SequencerFlow, PatternLoopPlaysItsRowsThreeTimesThenGoesOn) {
    xmw::Song song = FlowSong(16, 1);
    song.patterns[0].At(4, 1) = Cell(nullptr, 0, 0, 0x0E, 0x60);
    song.patterns[0].At(8, 1) = Cell(nullptr, 0, 0, 0x0E, 0x62);
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    Rows expected;
    for (int r = 0; r < 4; ++r) expected.emplace_back(0, r);
    for (int pass = 0; pass < 3; ++pass)
        for (int r = 4; r <= 8; ++r) expected.emplace_back(0, r);
    expected.emplace_back(0, 9);
    expected.emplace_back(0, 10);
    EXPECT_EQ(run.RowTicks(static_cast<int>(expected.size())), expected);
}

TEST(SequencerFlow, PositionDuringALoopsJumpRowIsTheRowPlaying) {
    // The jump row (E61) sets the row counter to one before the loop start for the rest of its
    // ticks; the position must still name the jump row until the loop start is played.
    xmw::Song song = FlowSong(8, 1, 2);
    song.speed = 3;
    song.patterns[0].At(1, 1) = Cell(nullptr, 0, 0, 0x0E, 0x60);
    song.patterns[0].At(2, 1) = Cell(nullptr, 0, 0, 0x0E, 0x61);
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    Rows rowTick; // (row, tick) after each tick
    for (int t = 0; t < 5 * 3; ++t) {
        run.Tick();
        rowTick.emplace_back(run.player()->position.row, run.player()->position.tick);
    }
    EXPECT_EQ(rowTick, (Rows{{0, 0},
                             {0, 1},
                             {0, 2},
                             {1, 0},
                             {1, 1},
                             {1, 2},
                             {2, 0},
                             {2, 1},
                             {2, 2},
                             {1, 0},
                             {1, 1},
                             {1, 2},
                             {2, 0},
                             {2, 1},
                             {2, 2}}));
    run.Tick();
    EXPECT_EQ(run.player()->position.row, 3); // the loop played twice and went on
}

TEST(SequencerFlow, WrapIsAReturnToAnEntryPointAlreadyPlayed) {
    struct Case {
        const char* what;
        xmw::Song song;
        int tick; // the tick (from 1) that wraps
        int order, row;
    };
    std::vector<Case> cases;
    xmw::Song end = FlowSong(2, 3);
    end.restartPosition = 1;
    cases.push_back({"song end to the restart position", end, 7, 1, 0});
    // A pattern loop goes back only within its order: the song wraps at its end, not before.
    xmw::Song loop = FlowSong(16, 1);
    loop.patterns[0].At(4, 1) = Cell(nullptr, 0, 0, 0x0E, 0x60);
    loop.patterns[0].At(8, 1) = Cell(nullptr, 0, 0, 0x0E, 0x62);
    cases.push_back({"pattern loop, then the end", loop, 4 + 3 * 5 + 7 + 1, 0, 0});
    // A jump back to a row of order 0 that was never an entry point is not a wrap; coming
    // back to the start of order 1 afterwards is.
    xmw::Song jump = FlowSong(8, 2, 2);
    jump.patterns[1].At(2, 0) = Cell(nullptr, 0, 0, 0x0B, 0x00);
    jump.patterns[1].At(2, 1) = Cell(nullptr, 0, 0, 0x0D, 0x03);
    cases.push_back({"jump and break back into a played order", jump, 8 + 3 + 5 + 1, 1, 0});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Harness run(c.song);
        ASSERT_TRUE(run.loaded());
        const WrapWatch& watch = run.player()->watch;
        int ticks = 0;
        while (watch.wraps == 0 && ticks < 200) {
            run.Tick();
            ++ticks;
        }
        EXPECT_EQ(ticks, c.tick);
        EXPECT_EQ(watch.wraps, 1);
        EXPECT_EQ(watch.firstOrder, c.order);
        EXPECT_EQ(watch.firstRow, c.row);
    }
}

TEST(SequencerFlow, PatternDelayLengthensTheRowAndKeepsEffectsRunning) {
    xmw::Song song = seqtest::BasicSong(2, 4);
    song.speed = 6;
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0, 0x0A, 0x01); // volume down 1 per later tick
    song.patterns[0].At(0, 1) = Cell(nullptr, 0, 0, 0x0E, 0xE2);
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    auto states = run.Ticks(19);
    for (int t = 0; t < 18; ++t) {
        EXPECT_EQ(states[t].row, 0) << "tick " << t;
        EXPECT_EQ(states[t].tick, t);
    }
    EXPECT_EQ(states[18].row, 1);
    EXPECT_EQ(states[18].tick, 0);
    // Channel volume 64 - 17 on the last delay tick: the slide ran on ticks 1 to 17.
    EXPECT_EQ(run.channel(0).volume, 64 - 17);
}

TEST(SequencerFlow, SpeedAndTempoCommands) {
    xmw::Song song = FlowSong(8, 1, 2);
    song.speed = 3;
    song.patterns[0].At(0, 0) = Cell(nullptr, 0, 0, 0x0F, 0x1F);
    song.patterns[0].At(1, 1) = Cell(nullptr, 0, 0, 0x0F, 0x20);
    song.patterns[0].At(2, 0) = Cell(nullptr, 0, 0, 0x0F, 0x00);
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    run.Tick();
    EXPECT_EQ(run.player()->speed, 31);
    for (int i = 0; i < 30; ++i) run.Tick();
    EXPECT_EQ(run.player()->tick, 0); // the row lasted 31 ticks
    run.Tick();
    EXPECT_EQ(run.player()->bpm, 32);
    EXPECT_EQ(run.player()->tickFrames, 3445);
    for (int i = 0; i < 30; ++i) run.Tick();
    // F00 on row 2: every tick is a row tick from then on.
    EXPECT_EQ(run.RowTicks(4), (Rows{{0, 2}, {0, 3}, {0, 4}, {0, 5}}));
}

TEST(SequencerFlow, BreakToARowTheNextPatternLacksPlaysAnEmptyRowAndMovesOn) {
    xmw::Song song = FlowSong(8, 3, 2);
    song.patterns[0].At(0, 0) = Cell(nullptr, 0, 0, 0x0D, 0x40); // row 40 of an 8-row pattern
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    EXPECT_EQ(run.RowTicks(3), (Rows{{0, 0}, {1, 40}, {2, 0}}));
}

TEST(SequencerFlow, PatternOfNoRowsIsPassedOver) {
    xmw::Song song = FlowSong(2, 3, 2);
    song.patterns[1].At(1, 0) = Cell("C-4", 1); // never read: the pattern is emptied below
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    run.module()->patterns[1].rowCount = 0;
    EXPECT_EQ(run.RowTicks(4), (Rows{{0, 0}, {0, 1}, {1, 0}, {2, 0}}));
    EXPECT_FALSE(run.channel(0).voice->sample);
}

TEST(SequencerFlow, LoopRowFromALongerPatternEndsTheShorterOne) {
    xmw::Song song = FlowSong(16, 2, 2);
    song.patterns[1] = song.MakePattern(4);
    song.patterns[0].At(12, 0) = Cell(nullptr, 0, 0, 0x0E, 0x60); // loop row 12 remembered
    song.patterns[1].At(1, 0) = Cell(nullptr, 0, 0, 0x0E, 0x61);  // loops back to row 12
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    Rows rows = run.RowTicks(19);
    EXPECT_EQ(rows[16], (std::pair<int, int>{1, 0}));
    EXPECT_EQ(rows[17], (std::pair<int, int>{1, 1}));
    // Row 12 lies outside the 4-row pattern: the pattern ends and the song wraps.
    EXPECT_EQ(rows[18], (std::pair<int, int>{0, 0}));
}

TEST(SequencerFlow, NeverDrivesMoreThanTheTableOfTracks) {
    // A song record claiming 40 tracks (the loader refuses such files; the sequencer must still
    // stay inside its table of 32).
    static PatternCell cells[2 * 40];
    for (auto& cell : cells) cell = PatternCell{};
    cells[39] = Cell(nullptr, 0, 0, 0x0F, 0x02); // track 39: never processed
    cells[31] = Cell(nullptr, 0, 0, 0x0F, 0x04); // track 31: processed
    Pattern pattern{2, cells};
    Module module{};
    module.patterns = &pattern;
    module.patternCount = 1;
    module.songLength = 1;
    module.channelCount = 40;
    module.defaultSpeed = 6;
    module.defaultBpm = 125;
    module.initialGlobalVolume = 64;
    Player* player = CreatePlayer(&module, 44100, PlayerRules::Demo);
    ASSERT_NE(player, nullptr);
    SequencerTick(player);
    EXPECT_EQ(player->speed, 4);
    EXPECT_EQ(player->nextRow, 1);
    DestroyPlayer(player);
}
