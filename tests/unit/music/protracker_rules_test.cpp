// Tests of ProTracker's rules (the rule table MOD songs play by), through the loader and the
// sequencer, tick by tick without mixing: periods and their limits, the memories each effect
// has or lacks, flow control (decimal breaks, jumps, loops, delays, speed and tempo),
// instrument numbers with and without notes, sample offsets past the end, note cut, delay and
// retrigger, and the Amiga's hard panning.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "loader_helpers.h"
#include "mod_writer.h"
#include "music/mixer.h"
#include "music/player.h"
#include "music/sequencer.h"

namespace {

using modw::Cell;
using modw::Period;

// Two samples: 1 a 400-word square without a loop at volume 40, 2 a 400-word one looping over
// its second half at volume 20.
modw::Song TwoSamples() {
    modw::Song song = modw::MinimalSong();
    song.samples[0].lengthWords = 400;
    song.samples[0].volume = 40;
    modw::Sample looped = song.samples[0];
    looped.volume = 20;
    looped.loopStartWords = 200;
    looped.loopLengthWords = 200;
    song.samples.push_back(looped);
    return song;
}

struct Tick {
    int32_t order, row, tick;
    int32_t period, periodDelta, volume, volumeDelta;
    const Sample* sample;
    uint32_t voicePosition;
    const Voice* voice;
};

class ProTrackerRulesTest : public ::testing::Test {
  protected:
    std::vector<Tick> Play(const modw::Song& song, int ticks, int track = 0) {
        LoadError error{};
        module_ = LoadBytes(modw::WriteMod(song), nullptr, &error);
        EXPECT_TRUE(module_) << error.message;
        if (!module_) return {};
        player_ = CreatePlayer(module_.get(), 44100, PlayerRules::Standard);
        std::vector<Tick> out;
        for (int i = 0; i < ticks; ++i) {
            SequencerTick(player_);
            const MusicChannel& c = player_->channels[track];
            out.push_back({player_->position.order, player_->position.row, player_->position.tick,
                           c.period, c.periodDelta, c.volume, c.volumeDelta, c.sample,
                           c.voice ? c.voice->position : 0u, c.voice});
        }
        return out;
    }
    void TearDown() override {
        if (player_) DestroyPlayer(player_);
    }
    const Sample* SampleNumber(int n) const { return module_->instruments[n - 1].samples[0]; }
    ModulePtr module_;
    Player* player_ = nullptr;
};

TEST_F(ProTrackerRulesTest, SlidesStopAtTheAmigaLimitsAndOnlySomeEffectsRemember) {
    struct Case {
        const char* what;
        int note;            // on row 0 with sample 1
        Cell row0, row1;     // effect cells (the note is added to row 0)
        int32_t periodAtEnd; // after both rows (speed 6)
    };
    const Case cases[] = {
        {"1xx slides up per later tick", 0, {0, 0, 0x1, 0x10}, {}, 856 - 5 * 16},
        {"1xx stops at 113", 30, {0, 0, 0x1, 0xFF}, {}, 113},
        {"2xx stops at 856", 10, {0, 0, 0x2, 0xFF}, {}, 856},
        {"100 has no memory", 12, {0, 0, 0x1, 0x04}, {0, 0, 0x1, 0x00}, Period(12) - 5 * 4},
        {"200 has no memory", 12, {0, 0, 0x2, 0x04}, {0, 0, 0x2, 0x00}, Period(12) + 5 * 4},
        {"E1x once, on the row tick", 12, {0, 0, 0xE, 0x13}, {0, 0, 0xE, 0x12}, Period(12) - 5},
        {"E2x once, on the row tick", 12, {0, 0, 0xE, 0x23}, {}, Period(12) + 3},
        {"E1x stops at 113 too", 35, {0, 0, 0xE, 0x1F}, {}, 113},
    };
    for (const Case& c : cases) {
        modw::Song song = TwoSamples();
        Cell first = c.row0;
        first.period = Period(c.note);
        first.sample = 1;
        modw::Put(song, 0, 0, 0, first);
        modw::Put(song, 0, 1, 0, c.row1);
        const auto ticks = Play(song, 12);
        ASSERT_EQ(ticks.size(), 12u);
        EXPECT_EQ(ticks.back().period, c.periodAtEnd) << c.what;
        TearDown();
        player_ = nullptr;
    }
}

TEST_F(ProTrackerRulesTest, TonePortamentoRemembersItsSpeedAndStopsAtTheTarget) {
    modw::Song song = TwoSamples();
    modw::Put(song, 0, 0, 0, {Period(0), 1, 0, 0});
    modw::Put(song, 0, 1, 0, {Period(12), 0, 0x3, 0x10}); // 856 towards 428
    modw::Put(song, 0, 2, 0, {0, 0, 0x3, 0x00});
    modw::Put(song, 0, 3, 0, {0, 0, 0x3, 0xFF});
    const auto ticks = Play(song, 24);
    EXPECT_EQ(ticks[6].period, 856);            // the target's note starts nothing
    EXPECT_EQ(ticks[11].period, 856 - 5 * 16);  // row 1
    EXPECT_EQ(ticks[17].period, 856 - 10 * 16); // row 2: 300 slides at the remembered speed
    EXPECT_EQ(ticks[23].period, 428);           // row 3 reaches the target and stays there
}

TEST_F(ProTrackerRulesTest, VibratoKeepsEachNibbleAndLeavesThePeriodAlone) {
    modw::Song song = TwoSamples();
    modw::Put(song, 0, 0, 0, {Period(12), 1, 0x4, 0x8F});
    modw::Put(song, 0, 1, 0, {0, 0, 0x4, 0x00});
    modw::Put(song, 0, 2, 0, {0, 0, 0x4, 0x40}); // new speed, depth kept
    const auto ticks = Play(song, 18);
    // Sine at phase 0, 8, 16, 24, 32 (speed 8) with depth 15: table x 15 / 128.
    const int32_t first[] = {0, 0, 180 * 15 / 128, 255 * 15 / 128, 180 * 15 / 128, 0};
    for (int t = 0; t < 6; ++t) EXPECT_EQ(ticks[t].periodDelta, first[t]) << "tick " << t;
    EXPECT_EQ(ticks[7].periodDelta, -(180 * 15 / 128)); // 400 goes on where it was
    for (const Tick& t : ticks) EXPECT_EQ(t.period, Period(12));
    // Row 1 left the phase at 16; 4x0 moves it by 4 a tick (sine 255, then 235).
    EXPECT_EQ(ticks[13].periodDelta, 255 * 15 / 128);
    EXPECT_EQ(ticks[14].periodDelta, 235 * 15 / 128);
}

TEST_F(ProTrackerRulesTest, ArpeggioStepsThroughTheTable) {
    modw::Song song = TwoSamples();
    modw::Put(song, 0, 0, 0, {Period(12), 1, 0x0, 0x47});
    const auto ticks = Play(song, 6);
    const int32_t expected[] = {428, 339, 285, 428, 339, 285}; // C-2, E-2, G-2 of the table
    for (int t = 0; t < 6; ++t)
        EXPECT_EQ(ticks[t].period + ticks[t].periodDelta, expected[t]) << "tick " << t;
}

// A note plays at the very period its cell stores (finetune 0): the song's period becomes a
// note and the note a period again, and the round trip must land on the tracker's table.
TEST_F(ProTrackerRulesTest, StoredPeriodsPlayAsStored) {
    const uint16_t periods[] = {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,
                                428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226,
                                214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113};
    modw::Song song = TwoSamples();
    for (int k = 0; k < 36; ++k) modw::Put(song, 0, k, 0, {periods[k], 1, 0, 0});
    const auto ticks = Play(song, 36 * 6);
    ASSERT_EQ(ticks.size(), 36u * 6);
    for (int k = 0; k < 36; ++k) EXPECT_EQ(ticks[k * 6].period, periods[k]) << "row " << k;
}

TEST_F(ProTrackerRulesTest, FlowControlVisitsTheRowsTheTrackerDoes) {
    struct Case {
        const char* what;
        std::vector<std::pair<int, Cell>> cells; // row of pattern 0, cell on track 0
        std::vector<std::pair<int, int>> visits; // (order, row) entered, in order
    };
    const Case cases[] = {
        {"Dxx counts its row in decimal", {{1, {0, 0, 0xD, 0x12}}}, {{0, 0}, {0, 1}, {1, 12}}},
        {"D beyond row 63 goes to row 0", {{0, {0, 0, 0xD, 0x64}}}, {{0, 0}, {1, 0}}},
        {"Bxx jumps to its order", {{0, {0, 0, 0xB, 0x02}}}, {{0, 0}, {2, 0}, {2, 1}}},
        {"E6x loops x more times",
         {{0, {0, 0, 0xE, 0x60}}, {1, {0, 0, 0xE, 0x62}}},
         {{0, 0}, {0, 1}, {0, 0}, {0, 1}, {0, 0}, {0, 1}, {0, 2}}},
        {"a loop's jump and D on one row: row 0 of the next order",
         {{0, {0, 0, 0xE, 0x60}}, {1, {0, 0, 0xE, 0x61}}, {2, {0, 0, 0xD, 0x05}}},
         {{0, 0}, {0, 1}, {0, 0}, {0, 1}, {0, 2}, {1, 5}}},
    };
    for (const Case& c : cases) {
        modw::Song song = TwoSamples();
        song.orders = {0, 1, 1};
        song.patterns.resize(2);
        for (const auto& [row, cell] : c.cells) modw::Put(song, 0, row, 0, cell);
        // The loop and break rows on track 1 so that the loop case's D comes after the loop.
        const auto ticks = Play(song, 6 * 12);
        std::vector<std::pair<int, int>> visits;
        for (const Tick& t : ticks)
            if (t.tick == 0) visits.push_back({t.order, t.row});
        visits.resize(std::min(visits.size(), c.visits.size()));
        EXPECT_EQ(visits, c.visits) << c.what;
        TearDown();
        player_ = nullptr;
    }
}

TEST_F(ProTrackerRulesTest, ALoopWinsOverAJumpOnItsRowOnlyWhereTheTrackerLetsIt) {
    struct Case {
        const char* tag;
        int channels;
        std::vector<std::pair<int, int>> visits;
    };
    const Case cases[] = {
        // The original tracker: the jump clears the break row the loop set and wins.
        {"M.K.", 4, {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {1, 0}}},
        // Octalyser and the FA0x files: the loop plays its pass, then the jump.
        {"CD61", 6, {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 2}, {0, 3}, {1, 0}}},
        {"FA06", 6, {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 2}, {0, 3}, {1, 0}}},
    };
    for (const Case& c : cases) {
        modw::Song song = TwoSamples();
        song.tag = c.tag;
        song.channels = c.channels;
        song.orders = {0, 1};
        song.patterns.resize(2);
        modw::Put(song, 0, 2, 2, {0, 0, 0xE, 0x60});
        modw::Put(song, 0, 3, 2, {0, 0, 0xE, 0x61});
        modw::Put(song, 0, 3, 3, {0, 0, 0xB, 0x01});
        std::vector<uint8_t> bytes = modw::WriteMod(song);
        if (c.tag[0] == 'F') bytes.insert(bytes.begin() + 1084, 4, 0); // its four extra bytes
        module_ = LoadBytes(bytes);
        ASSERT_TRUE(module_) << c.tag;
        player_ = CreatePlayer(module_.get(), 44100, PlayerRules::Standard);
        std::vector<std::pair<int, int>> visits;
        for (int i = 0; i < 6 * 8; ++i) {
            SequencerTick(player_);
            if (player_->position.tick == 0)
                visits.push_back({player_->position.order, player_->position.row});
        }
        visits.resize(std::min(visits.size(), c.visits.size()));
        EXPECT_EQ(visits, c.visits) << c.tag;
        TearDown();
        player_ = nullptr;
    }
}

TEST_F(ProTrackerRulesTest, ABreakInsideAPatternDelayLandsOneRowPastItsTarget) {
    // On the pattern's last row, so that the delay's end also meets the pattern's end.
    for (int row : {10, 63}) {
        modw::Song song = TwoSamples();
        song.orders = {0, 1};
        song.patterns.resize(2);
        modw::Put(song, 0, row, 0, {0, 0, 0xE, 0xE2});
        modw::Put(song, 0, row, 1, {0, 0, 0xD, 0x05});
        const auto ticks = Play(song, 6 * (row + 5) + 1);
        std::vector<std::pair<int, int>> visits;
        for (size_t i = 0; i < ticks.size(); ++i)
            if (i == 0 || ticks[i].row != ticks[i - 1].row || ticks[i].order != ticks[i - 1].order)
                visits.push_back({ticks[i].order, ticks[i].row});
        // The delayed row shows for its three periods, then order 1 at row 6 (not 5).
        const std::vector<std::pair<int, int>> expected{{0, row}, {1, 6}, {1, 7}};
        const auto at = std::find(visits.begin(), visits.end(), expected[0]);
        ASSERT_GE(visits.end() - at, 3) << row;
        const std::vector<std::pair<int, int>> found(at, at + 3);
        EXPECT_EQ(found, expected) << row;
        size_t held = 0;
        for (const Tick& t : ticks) held += t.order == 0 && t.row == row ? 1 : 0;
        EXPECT_EQ(held, 18u) << row;
        TearDown();
        player_ = nullptr;
    }
}

TEST_F(ProTrackerRulesTest, PatternDelaySpeedAndTempo) {
    modw::Song song = TwoSamples();
    modw::Put(song, 0, 0, 0, {0, 0, 0xE, 0xE2}); // row 0 lasts three row periods
    modw::Put(song, 0, 1, 0, {0, 0, 0xF, 0x1F}); // speed 31
    modw::Put(song, 0, 2, 0, {0, 0, 0xF, 0x20}); // tempo 32
    modw::Put(song, 0, 3, 0, {0, 0, 0xF, 0x00}); // F00: no change
    const auto ticks = Play(song, 18 + 31 + 31 + 5);
    EXPECT_EQ(ticks[17].row, 0);
    EXPECT_EQ(ticks[18].row, 1);
    EXPECT_EQ(player_->speed, 31);
    EXPECT_EQ(ticks[18 + 31].row, 2);
    EXPECT_EQ(ticks[18 + 31 + 31].row, 3);
    EXPECT_EQ(player_->bpm, 32);
}

// The Amiga's timer takes a new count only when the running one ends: in files the Amiga
// tracker saved, the tick that reads a tempo keeps the old length. A loop length of 0 words
// (which that tracker never writes) or a multichannel tag mark another program's file.
TEST_F(ProTrackerRulesTest, TempoTimesTheTicksAfterTheOneThatReadsItInTheAmigaTrackersFiles) {
    struct Case {
        const char* what;
        std::string tag;
        int channels;
        uint16_t loopLengthWords; // sample 2's
        bool fromNextTick;
    };
    const Case cases[] = {
        {"saved by the Amiga tracker", "M.K.", 4, 1, true},
        {"a loop length of 0 words", "M.K.", 4, 0, false},
        {"six tracks", "6CHN", 6, 1, false},
    };
    constexpr int32_t AT_125 = 882, AT_64 = 1722; // frames a tick at 44100 Hz
    for (const Case& c : cases) {
        modw::Song song = TwoSamples();
        song.tag = c.tag;
        song.channels = c.channels;
        song.samples[1].loopStartWords = 0;
        song.samples[1].loopLengthWords = c.loopLengthWords;
        modw::Put(song, 0, 1, 1, {0, 0, 0xF, 0x40});
        LoadError error{};
        module_ = LoadBytes(modw::WriteMod(song), nullptr, &error);
        ASSERT_TRUE(module_) << c.what << ": " << error.message;
        player_ = CreatePlayer(module_.get(), 44100, PlayerRules::Standard);
        std::vector<int32_t> frames;
        for (int i = 0; i < 8; ++i) {
            SequencerTick(player_);
            frames.push_back(player_->tickFrames);
        }
        EXPECT_EQ(player_->bpm, 64) << c.what; // the song's tempo from the row tick on
        EXPECT_EQ(frames[5], AT_125) << c.what;
        EXPECT_EQ(frames[6], c.fromNextTick ? AT_125 : AT_64) << c.what; // row 1's first tick
        EXPECT_EQ(frames[7], AT_64) << c.what;
        TearDown();
        player_ = nullptr;
    }
}

TEST_F(ProTrackerRulesTest, InstrumentNumbersSetTheVolumeAndTheNextNotesSample) {
    modw::Song song = TwoSamples();
    modw::Put(song, 0, 0, 0, {Period(12), 1, 0, 0});  // sample 1 at its volume 40
    modw::Put(song, 0, 1, 0, {0, 2, 0, 0});           // number alone: volume 20, sample 1 goes on
    modw::Put(song, 0, 2, 0, {0, 0, 0xC, 0x30});      // volume 48
    modw::Put(song, 0, 3, 0, {Period(12), 0, 0, 0});  // a note alone: sample 2, volume kept
    modw::Put(song, 0, 4, 0, {Period(12), 25, 0, 0}); // an empty sample: silence
    const auto ticks = Play(song, 30);
    EXPECT_EQ(ticks[0].sample, SampleNumber(1));
    EXPECT_EQ(ticks[0].volume, 40);
    EXPECT_EQ(ticks[6].sample, SampleNumber(1));
    EXPECT_EQ(ticks[6].volume, 20);
    EXPECT_EQ(ticks[18].sample, SampleNumber(2));
    EXPECT_EQ(ticks[18].volume, 48);
    EXPECT_EQ(ticks[24].volume, 64); // its header's volume all the same
    EXPECT_EQ(ticks[24].sample->length, 0u);
}

TEST_F(ProTrackerRulesTest, SampleOffsetRemembersAndPastTheEndPlaysTheLoopOrNothing) {
    modw::Song song = TwoSamples();
    modw::Put(song, 0, 0, 0, {Period(12), 1, 0x9, 0x02}); // 512 frames in
    modw::Put(song, 0, 1, 0, {Period(12), 1, 0x9, 0x00}); // 900: 512 again
    modw::Put(song, 0, 2, 0, {Period(12), 2, 0x9, 0x04}); // 1024 >= 800 frames: the loop
    modw::Put(song, 0, 3, 0, {Period(12), 1, 0x9, 0x04}); // no loop: silence
    const auto ticks = Play(song, 24);
    EXPECT_EQ(ticks[0].voicePosition, 512u);
    EXPECT_EQ(ticks[6].voicePosition, 512u);
    EXPECT_EQ(ticks[12].voicePosition, 400u);
    EXPECT_EQ(ticks[18].voice->sample->length, 0u);
}

// The tracker keeps where its note starts: 9xx moves it on the row with or without a note (a
// note plays from the first move and leaves a second one for the notes after it), and only an
// instrument number puts it back. Sample 1 holds 800 frames; 901 moves 256 of them.
TEST_F(ProTrackerRulesTest, SampleOffsetsAddUpUntilAnInstrumentNumber) {
    struct Case {
        const char* what;
        Cell row0, row1, row2; // row 2 holds the note that is checked
        uint32_t start;        // where row 2's note starts
        bool silent = false;   // it starts past the sample's end
    };
    const Case cases[] = {
        {"a note beside 9xx leaves a second move",
         {Period(12), 1, 0x9, 0x01},
         {},
         {Period(12), 0, 0, 0},
         512},
        {"9xx without a note moves the next note",
         {Period(12), 1, 0, 0},
         {0, 0, 0x9, 0x01},
         {Period(12), 0, 0, 0},
         256},
        {"900 moves by the memory again",
         {Period(12), 1, 0x9, 0x01},
         {0, 0, 0x9, 0x00},
         {Period(12), 0, 0, 0},
         768},
        {"an instrument number starts over",
         {Period(12), 1, 0x9, 0x01},
         {0, 1, 0, 0},
         {Period(12), 0, 0, 0},
         0},
        {"a move past the rest stays at the end (silence)",
         {Period(12), 1, 0x9, 0x02},
         {0, 0, 0x9, 0x01},
         {Period(12), 0, 0, 0},
         0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        modw::Song song = TwoSamples();
        modw::Put(song, 0, 0, 0, c.row0);
        modw::Put(song, 0, 1, 0, c.row1);
        modw::Put(song, 0, 2, 0, c.row2);
        const auto ticks = Play(song, 13);
        if (player_) DestroyPlayer(player_);
        player_ = nullptr;
        if (ticks.size() < 13) continue;
        if (c.silent)
            EXPECT_EQ(ticks[12].voice->sample->length, 0u); // 512 + 512 + 256 frames reach past 800
        else
            EXPECT_EQ(ticks[12].voicePosition, c.start);
    }
}

TEST_F(ProTrackerRulesTest, NoteCutDelayAndRetriggerActOnTheirTicks) {
    modw::Song song = TwoSamples();
    modw::Put(song, 0, 0, 0, {Period(12), 1, 0xE, 0xC3}); // cut on tick 3
    modw::Put(song, 0, 1, 0, {Period(24), 1, 0xE, 0xD2}); // the note waits for tick 2
    modw::Put(song, 0, 2, 0, {Period(12), 1, 0xE, 0x92}); // again on ticks 2 and 4
    const auto ticks = Play(song, 18);
    EXPECT_EQ(ticks[2].volume, 40);
    EXPECT_EQ(ticks[3].volume, 0);
    EXPECT_EQ(ticks[7].period, 428); // still the old note on tick 1
    EXPECT_EQ(ticks[8].period, 214);
    // A retrigger starts the sample again on the track's other voice (the old one ramps out).
    std::vector<int> restarts;
    for (int t = 13; t < 18; ++t)
        if (ticks[t].voice != ticks[t - 1].voice) restarts.push_back(ticks[t].tick);
    EXPECT_EQ(restarts, (std::vector<int>{2, 4}));
}

// A delay longer than its row never starts the note, but the note's period reaches the
// track: the sample playing goes on at it from the next row (a slide starts there from it).
TEST_F(ProTrackerRulesTest, ANoteDelayedPastItsRowPlaysItsPitchFromTheNextRow) {
    modw::Song song = TwoSamples();
    modw::Put(song, 0, 0, 0, {Period(12), 2, 0, 0});
    modw::Put(song, 0, 0, 1, {0, 0, 0xF, 0x02});          // two ticks a row
    modw::Put(song, 0, 1, 0, {Period(24), 2, 0xE, 0xD5}); // tick 5 never comes
    modw::Put(song, 0, 3, 0, {0, 0, 0x2, 0x10});
    const auto ticks = Play(song, 8);
    ASSERT_EQ(ticks.size(), 8u);
    EXPECT_EQ(ticks[3].period, 428); // the delayed row sounds the note before
    EXPECT_EQ(ticks[4].period, 214); // the next row: the delayed note's pitch...
    // ...on the sample playing: a start would move the track to its other voice.
    for (const Tick& t : ticks) EXPECT_EQ(t.voice, ticks[0].voice) << "row " << t.row;
    EXPECT_EQ(ticks[7].period, 214 + 16);
}

TEST_F(ProTrackerRulesTest, AnInstrumentNumberWithoutANoteSwapsTheSampleAtItsEnd) {
    struct Case {
        const char* what;
        int playing, chosen; // samples: 1 without a loop, 2 and 3 looping
        Cell row1;           // the chosen number's cell (its note and effect)
        bool runOut;         // the playing sample has ended before row 1
        int waiting;         // the sample the voice holds for its end after row 1 (0: none)
        int soundingAfter;   // the sample the voice plays once past its end (0: none)
    };
    const Case cases[] = {
        {"a loop goes on with the chosen sample's loop", 2, 3, {0, 3, 0, 0}, false, 3, 3},
        {"a chosen sample without a loop silences it", 2, 1, {0, 1, 0, 0}, false, 1, 0},
        {"a sample without a loop goes on with the chosen loop", 1, 2, {0, 2, 0, 0}, false, 2, 2},
        {"beside a tone portamento's note as well", 2, 3, {Period(24), 3, 0x3, 0x10}, false, 3, 3},
        {"the playing sample chosen again changes nothing", 2, 2, {0, 2, 0, 0}, false, 0, 2},
        {"a note plays the chosen sample at once", 2, 3, {Period(12), 3, 0, 0}, false, 0, 3},
        {"after its end the chosen loop starts at once", 1, 2, {0, 2, 0, 0}, true, 0, 2},
    };
    std::vector<float> mix(2 * 400);
    for (const Case& c : cases) {
        modw::Song song = TwoSamples();
        modw::Sample third = song.samples[1];
        third.loopStartWords = 100;
        third.loopLengthWords = 50;
        song.samples.push_back(third);
        modw::Put(song, 0, 0, 0, {Period(12), static_cast<uint8_t>(c.playing), 0, 0});
        modw::Put(song, 0, 1, 0, c.row1);
        Play(song, 6);
        Voice* voice = player_->channels[0].voice;
        ASSERT_TRUE(voice && voice->sample) << c.what;
        if (c.runOut) {
            voice->position = voice->sample->length - 1;
            MixVoice(player_->mixer, voice, mix.data(), 400);
            ASSERT_EQ(voice->sample, nullptr) << c.what;
        }
        SequencerTick(player_);
        voice = player_->channels[0].voice;
        const Sample* waiting = c.waiting ? SampleNumber(c.waiting) : nullptr;
        EXPECT_EQ(voice->pendingSample, waiting) << c.what;
        EXPECT_EQ(player_->channels[0].volume, SampleNumber(c.chosen)->volume) << c.what;
        // Played past the end of what sounds now (at about 0.19 frames per output frame).
        if (voice->sample) {
            voice->position = voice->sample->length - 4;
            MixVoice(player_->mixer, voice, mix.data(), 400);
        }
        const Sample* expected = c.soundingAfter ? SampleNumber(c.soundingAfter) : nullptr;
        EXPECT_EQ(voice->sample, expected) << c.what;
        if (expected) {
            EXPECT_GE(voice->position, expected->loopStart) << c.what;
            EXPECT_LT(voice->position, expected->loopStart + expected->loopLength) << c.what;
        }
        // The track's next ticks know the sample the voice has gone on with.
        SequencerTick(player_);
        if (c.soundingAfter) {
            EXPECT_EQ(player_->channels[0].sample, expected) << c.what;
        }
        TearDown();
        player_ = nullptr;
    }
}

TEST_F(ProTrackerRulesTest, TracksArePannedHardLeftRightRightLeft) {
    modw::Song song = TwoSamples();
    for (int track = 0; track < 4; ++track) modw::Put(song, 0, 0, track, {Period(12), 1, 0, 0});
    Play(song, 1);
    const bool left[] = {true, false, false, true};
    for (int track = 0; track < 4; ++track) {
        const Voice* voice = player_->channels[track].voice;
        ASSERT_TRUE(voice);
        EXPECT_GT(left[track] ? voice->volumeLeft : voice->volumeRight, 0) << track;
        EXPECT_EQ(left[track] ? voice->volumeRight : voice->volumeLeft, 0) << track;
    }
}

} // namespace

namespace {

// Frames of `own` that differ from the song's `song` sample, within the loop and after it.
int InvertedFrames(const Sample* own, const Sample* song) {
    int n = 0;
    for (uint32_t k = 0; k <= song->length; ++k) {
        if (own->data[k] == song->data[k]) continue;
        EXPECT_EQ(own->data[k], -256 - song->data[k]) << k;
        EXPECT_GE(k, song->loopStart) << "only the loop is inverted";
        ++n;
    }
    return n;
}

TEST_F(ProTrackerRulesTest, InvertLoopRewritesThisPlayersCopyOfTheLoopAtItsSpeed) {
    struct Case {
        const char* what;
        uint8_t parameter; // the EFx on row 0, with a note of looping sample 2
        int ticks;
        int inverted; // frames of the loop inverted by then
    };
    const Case cases[] = {
        {"EFF inverts one frame a tick, the row tick's included", 0xFF, 6, 6},
        {"the speed holds on later rows, but not on their row ticks", 0xFF, 24, 6 + 3 * 5},
        {"EF8 adds 16 a tick: a frame every 8 counted ticks", 0xF8, 16 + 2, 2},
        {"EF1 adds 5: not after 25 counted ticks", 0xF1, 25 + 4, 0},
        {"EF1 adds 5: the first after 26", 0xF1, 26 + 4, 1},
    };
    for (const Case& c : cases) {
        modw::Song song = TwoSamples();
        modw::Put(song, 0, 0, 0, {Period(12), 2, 0xE, c.parameter});
        Play(song, c.ticks);
        const Sample* own = player_->channels[0].sample;
        ASSERT_NE(own, SampleNumber(2)) << c.what << ": the player plays its own copy";
        ASSERT_EQ(own->id, SampleNumber(2)->id) << c.what;
        EXPECT_EQ(InvertedFrames(own, SampleNumber(2)), c.inverted) << c.what;
        // The first inverted frame is the one after the loop's start.
        if (c.inverted > 0) {
            EXPECT_NE(own->data[own->loopStart + 1], SampleNumber(2)->data[own->loopStart + 1])
                << c.what;
        }
        TearDown();
        player_ = nullptr;
    }
}

TEST_F(ProTrackerRulesTest, InvertLoopLeavesTheSongAndOtherPlayersAloneAndRestartsClean) {
    modw::Song song = TwoSamples();
    modw::Put(song, 0, 0, 0, {Period(12), 2, 0xE, 0xFF});
    modw::Put(song, 0, 0, 1, {Period(12), 1, 0, 0});
    Play(song, 12);
    Player* other = CreatePlayer(module_.get(), 44100, PlayerRules::Standard);
    ASSERT_TRUE(other);
    const Sample* own = player_->channels[0].sample;
    EXPECT_EQ(InvertedFrames(own, SampleNumber(2)), 6 + 5); // row 1's row tick holds no EFx
    // The song's bytes and the second player's copy are untouched; a sample without a loop
    // has no copy.
    EXPECT_EQ(InvertedFrames(other->ownSamples[SampleNumber(2)->id], SampleNumber(2)), 0);
    EXPECT_EQ(player_->channels[1].sample, SampleNumber(1));
    // A playback start gives the copy the song's bytes again.
    ResetPlayback(player_);
    EXPECT_EQ(InvertedFrames(own, SampleNumber(2)), 0);
    DestroyPlayer(other);

    // A song without an EFx makes no copies.
    modw::Song plain = TwoSamples();
    modw::Put(plain, 0, 0, 0, {Period(12), 2, 0xE, 0xF0});
    TearDown();
    Play(plain, 6);
    EXPECT_EQ(player_->ownSamples, nullptr);
    EXPECT_EQ(player_->channels[0].sample, SampleNumber(2));
}

} // namespace
