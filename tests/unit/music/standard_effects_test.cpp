// The standard rules' effect column, where the original tracker's effects differ from the demo's
// handling: small songs made with the XM writer, stepped tick by tick, with what each tick leaves
// in the track (the volume it sounds at, its period, its voice) compared against tables; the
// demo's rules side by side where they part, showing them unchanged.
#include "sequencer_harness.h"

#include <string>
#include <vector>

using seqtest::Cell;
using seqtest::Harness;

namespace {

struct Row {
    int row;
    PatternCell cell;
};

// One track (plus a second one for cases that need it) at speed `speed`, the cells placed.
xmw::Song EffectSong(int speed, const std::vector<Row>& rows, const std::vector<Row>& second = {},
                     bool linear = true) {
    xmw::Song song = seqtest::BasicSong(2, 16, linear);
    song.speed = static_cast<uint16_t>(speed);
    for (const Row& r : rows) song.patterns[0].At(r.row, 0) = r.cell;
    for (const Row& r : second) song.patterns[0].At(r.row, 1) = r.cell;
    return song;
}

// The volume track 0 sounds at after each of `ticks` ticks (its volume with what tremolo and
// tremor do to it).
std::vector<int> Volumes(const xmw::Song& song, int ticks, PlayerRules rules) {
    Harness h(song, rules);
    std::vector<int> out;
    if (!h.loaded()) return out;
    for (int i = 0; i < ticks; ++i) {
        h.Tick(1);
        out.push_back(h.channel(0).volume + h.channel(0).volumeDelta);
    }
    return out;
}

// Track 0's period (without the tick's vibrato or arpeggio) after each tick.
std::vector<int> Periods(const xmw::Song& song, int ticks, PlayerRules rules) {
    Harness h(song, rules);
    std::vector<int> out;
    if (!h.loaded()) return out;
    for (const seqtest::VoiceState& s : h.Ticks(ticks)) out.push_back(s.period);
    return out;
}

// The ticks (counted from the song's start) on which track 0's sample started again: every start
// moves the track to the partner voice.
std::vector<int> Starts(const xmw::Song& song, int ticks, PlayerRules rules) {
    Harness h(song, rules);
    std::vector<int> out;
    if (!h.loaded()) return out;
    int voice = -1;
    for (int i = 0; i < ticks; ++i) {
        const seqtest::VoiceState s = h.Tick(1)[0];
        if (s.voiceNumber != voice && s.playing) out.push_back(i);
        voice = s.voiceNumber;
    }
    return out;
}

constexpr PlayerRules Standard = PlayerRules::Standard;
constexpr PlayerRules Demo = PlayerRules::Demo;

} // namespace

TEST(StandardEffects, FineVolumeSlidesKeepAMemoryEach) {
    // EB8, EB0 (8 again), EA0 (no EA yet: nothing), EA4, EA0 (4 again), EB0 (still 8).
    const xmw::Song song = EffectSong(2, {{0, Cell("C-4", 1, 0, 0xE, 0xB8)},
                                          {1, Cell(nullptr, 0, 0, 0xE, 0xB0)},
                                          {2, Cell(nullptr, 0, 0, 0xE, 0xA0)},
                                          {3, Cell(nullptr, 0, 0, 0xE, 0xA4)},
                                          {4, Cell(nullptr, 0, 0, 0xE, 0xA0)},
                                          {5, Cell(nullptr, 0, 0, 0xE, 0xB0)}});
    EXPECT_EQ(Volumes(song, 12, Standard),
              (std::vector<int>{56, 56, 48, 48, 48, 48, 52, 52, 56, 56, 48, 48}));
    // The demo's rules share one memory between EA and EB.
    EXPECT_EQ(Volumes(song, 12, Demo),
              (std::vector<int>{56, 56, 48, 48, 56, 56, 60, 60, 64, 64, 60, 60}));
}

TEST(StandardEffects, TremorCountsOnLaterTicksAndItsSilenceOutlastsAVolumeSet) {
    // T11: two ticks on, two off, counted across rows (T00 goes on with the memory); C20 on a
    // row without tremor sets the volume it comes back at, but the silence holds until tremor
    // turns the track on again.
    const xmw::Song song = EffectSong(3, {{0, Cell("C-4", 1, 0, 0x1D, 0x11)},
                                          {1, Cell(nullptr, 0, 0, 0x1D, 0x00)},
                                          {2, Cell(nullptr, 0, 0, 0xC, 0x20)},
                                          {3, Cell(nullptr, 0, 0, 0x1D, 0x00)}});
    EXPECT_EQ(Volumes(song, 12, Standard),
              (std::vector<int>{64, 64, 64, 64, 0, 0, 0, 0, 0, 0, 32, 32}));
}

TEST(StandardEffects, TremoloHoldsItsVolumeIntoTheNextRowTick) {
    // 74F from phase 0: the swing's volume is still there on the next row's first tick; a C
    // command ends it.
    const xmw::Song song = EffectSong(3, {{0, Cell("C-4", 1, 0x40, 0x7, 0x8F)},
                                          {1, Cell(nullptr, 0, 0, 0x7, 0x00)},
                                          {2, Cell(nullptr, 0, 0, 0xC, 0x30)}});
    const std::vector<int> v = Volumes(song, 9, Standard);
    ASSERT_EQ(v.size(), 9u);
    EXPECT_EQ(v[0], 48);
    EXPECT_NE(v[2], 48);
    EXPECT_EQ(v[3], v[2]); // row 1's tick 0 keeps row 0's last level
    EXPECT_EQ(v[6], 48);
}

TEST(StandardEffects, TonePortamentoOnceThereJumpsBackInsteadOfSliding) {
    // C-4, then D-4 reached by 3FF in one tick; 201 moves the period up by 4 a tick; 301 with no
    // note then jumps straight back to D-4 on its first later tick.
    const int d4 = 7680 - 64 * 50;
    const xmw::Song song = EffectSong(3, {{0, Cell("C-4", 1)},
                                          {1, Cell("D-4", 0, 0, 0x3, 0xFF)},
                                          {2, Cell(nullptr, 0, 0, 0x2, 0x01)},
                                          {3, Cell(nullptr, 0, 0, 0x3, 0x01)}});
    const std::vector<int> p = Periods(song, 12, Standard);
    ASSERT_EQ(p.size(), 12u);
    EXPECT_EQ(p[4], d4);
    EXPECT_EQ(p[8], d4 + 8);
    EXPECT_EQ(p[9], d4 + 8);
    EXPECT_EQ(p[10], d4);
    // The demo's rules slide back by 4 a tick.
    EXPECT_EQ(Periods(song, 12, Demo)[10], d4 + 4);
}

TEST(StandardEffects, SlidesStopAtThePeriodLimits) {
    struct Case {
        const char* name;
        const char* note;
        PatternCell cell;
        int period;
    };
    const Case cases[] = {
        {"1FF reaches the lowest period", "C-4", Cell(nullptr, 0, 0, 0x1, 0xFF), 1},
        {"2FF reaches the highest period", "C-4", Cell(nullptr, 0, 0, 0x2, 0xFF), 31999},
        {"E1F stops at the lowest too", "C-7", Cell(nullptr, 0, 0, 0xE, 0x1F), 1},
        {"X2F moves by 15 on each row tick only", "C-0", Cell(nullptr, 0, 0, 0x21, 0x2F),
         7680 + 63 * 15},
    };
    for (const Case& c : cases) {
        xmw::Song song = seqtest::BasicSong(1, 64);
        song.speed = 4;
        song.patterns[0].At(0, 0) = Cell(c.note, 1);
        for (int r = 1; r < 64; ++r) song.patterns[0].At(r, 0) = c.cell;
        const std::vector<int> p = Periods(song, 256, Standard);
        ASSERT_FALSE(p.empty()) << c.name;
        EXPECT_EQ(p.back(), c.period) << c.name;
    }
}

TEST(StandardEffects, LinearPeriodsBeyondTheTableWrapTheFrequencyAround) {
    // C-4 (period 4608, 8363 Hz) slid down by 2FF, 1020 a tick. The standard rules' frequency
    // falls to nothing past period 9216, jumps back to the top of the range (period 14081-14848)
    // and falls again; the demo's falls to its floor of 100 Hz and stays there.
    const xmw::Song song = EffectSong(31, {{0, Cell("C-4", 1, 0, 0x2, 0xFF)}});
    for (PlayerRules rules : {Standard, Demo}) {
        Harness h(song, rules);
        ASSERT_TRUE(h.loaded());
        std::vector<int> hz;
        for (const seqtest::VoiceState& s : h.Ticks(12)) hz.push_back(s.frequency);
        EXPECT_EQ(hz[0], 8363);
        if (rules == Standard) {
            EXPECT_LT(hz[5], 100);      // period 9708
            EXPECT_GT(hz[10], 2000000); // period 14808
            EXPECT_LT(hz[11], hz[10]);  // period 15828: falling again
        } else {
            EXPECT_EQ(hz[5], 100);
            EXPECT_EQ(hz[10], 100);
        }
    }
}

TEST(StandardEffects, RetriggersStartTheSampleOnTheirTicks) {
    struct Case {
        const char* name;
        PatternCell cell;
        std::vector<int> starts; // ticks from the song's start, speed 6
    };
    const Case cases[] = {
        {"E90 on a row without a note starts it on the row tick",
         Cell(nullptr, 0, 0, 0xE, 0x90),
         {0, 6}},
        {"E92 on every second later tick", Cell(nullptr, 0, 0, 0xE, 0x92), {0, 8, 10}},
        {"E93 on the third", Cell(nullptr, 0, 0, 0xE, 0x93), {0, 9}},
    };
    for (const Case& c : cases) {
        const xmw::Song song = EffectSong(6, {{0, Cell("C-4", 1)}, {1, c.cell}});
        EXPECT_EQ(Starts(song, 12, Standard), c.starts) << c.name;
    }
    // Under the demo's rules E90 does nothing.
    const xmw::Song e90 = EffectSong(6, {{0, Cell("C-4", 1)}, {1, Cell(nullptr, 0, 0, 0xE, 0x90)}});
    EXPECT_EQ(Starts(e90, 12, Demo), (std::vector<int>{0}));
}

TEST(StandardEffects, MultiRetriggerCountsTheRowTickAndChangesTheVolumeAtEachStart) {
    struct Case {
        uint8_t volumeColumn;
        uint8_t parameter;
        std::vector<int> volumes; // after ticks 0-3 of the row, from the sample's 48
    };
    const Case cases[] = {
        {0, 0x11, {47, 46, 45, 44}},
        {0, 0x61, {33, 22, 14, 8}},
        {0, 0x71, {24, 12, 6, 3}},
        {0, 0xE1, {64, 64, 64, 64}},
        {0, 0xA2, {48, 50, 50, 52}},
        {0, 0x81, {48, 48, 48, 48}},
        // A volume in the volume column keeps the row tick out of the count, and is taken again
        // at every start.
        {0x30, 0x11, {32, 32, 32, 32}},
    };
    for (const Case& c : cases) {
        xmw::Song song = EffectSong(4, {{0, Cell("C-4", 1, c.volumeColumn, 0x1B, c.parameter)}});
        song.instruments[0].samples[0].volume = 48;
        EXPECT_EQ(Volumes(song, 4, Standard), c.volumes)
            << "R" << std::hex << int(c.parameter) << " volume column " << int(c.volumeColumn);
    }
    // The count goes on across rows and notes: R03 on a note row after R03 starts the sample on
    // the row's tick 1 (ticks 0 and 1 of the first row counted, 2 started, 3 and 4 counted).
    const xmw::Song song =
        EffectSong(3, {{0, Cell("C-4", 1, 0, 0x1B, 0x03)}, {1, Cell("C-4", 0, 0, 0x1B, 0x03)}});
    EXPECT_EQ(Starts(song, 6, Standard), (std::vector<int>{0, 2, 3, 5}));
    // R02 starts again on tick 1 when the row tick counts, on tick 2 when a volume keeps it out.
    const xmw::Song counted = EffectSong(4, {{0, Cell("C-4", 1, 0, 0x1B, 0x02)}});
    const xmw::Song skipped = EffectSong(4, {{0, Cell("C-4", 1, 0x30, 0x1B, 0x02)}});
    EXPECT_EQ(Starts(counted, 4, Standard), (std::vector<int>{0, 1, 3}));
    EXPECT_EQ(Starts(skipped, 4, Standard), (std::vector<int>{0, 2}));
}

TEST(StandardEffects, GlobalVolumeReachesEveryTrackOnTheSameTick) {
    // G00 on track 1: track 0, processed before it, is silent on that very tick.
    const xmw::Song song = EffectSong(3, {{0, Cell("C-4", 1)}},
                                      {{0, Cell("C-4", 1)}, {1, Cell(nullptr, 0, 0, 0x10, 0)}});
    for (PlayerRules rules : {Standard, Demo}) {
        Harness h(song, rules);
        ASSERT_TRUE(h.loaded());
        for (int i = 0; i < 3; ++i) h.Tick(2);
        const std::vector<seqtest::VoiceState> row1 = h.Tick(2);
        EXPECT_EQ(row1[1].volume, 0);
        // The demo's rules leave track 0 at its level until its volume next changes.
        EXPECT_EQ(row1[0].volume == 0, rules == Standard);
    }
}

TEST(StandardEffects, VolumeCommandStopsAt64AndE5xTunesOnlyTheRowsNote) {
    const xmw::Song song = EffectSong(2, {{0, Cell("C-4", 1, 0, 0xC, 0x50)},
                                          {1, Cell("C-4", 0, 0, 0xE, 0x5F)},
                                          {2, Cell("C-4", 0, 0, 0, 0)}});
    EXPECT_EQ(Volumes(song, 1, Standard), (std::vector<int>{64}));
    const std::vector<int> p = Periods(song, 6, Standard);
    ASSERT_EQ(p.size(), 6u);
    const int c4 = 7680 - 64 * 48;
    EXPECT_EQ(p[0], c4);
    EXPECT_EQ(p[2], c4 - 56); // finetune 7 x 16 = 112: half of it off the period
    EXPECT_EQ(p[4], c4);      // the next note has the sample's finetune again
}

TEST(StandardEffects, ArpeggioFollowsTheTicksLeftInTheRow) {
    // 037 on C-4: which of note (0), +3 (x) and +7 (y) each later tick plays, by speed. The
    // order runs from the row's end; beyond 16 ticks left the tracker's table gives y, at 16 the
    // note.
    struct Case {
        int speed;
        std::string steps; // ticks 1 .. speed - 1
    };
    const Case cases[] = {
        {6, "yx0yx"},
        {5, "x0yx"},
        {4, "0yx"},
        {19, "yy00yx0yx0yx0yx0yx"},
    };
    const int c4 = 7680 - 64 * 48;
    for (const Case& c : cases) {
        Harness h(EffectSong(c.speed, {{0, Cell("C-4", 1, 0, 0x0, 0x37)}}), Standard);
        ASSERT_TRUE(h.loaded());
        h.Tick(1);
        std::string steps;
        for (int t = 1; t < c.speed; ++t) {
            h.Tick(1);
            const int period = h.channel(0).period - h.channel(0).periodDelta; // linear: delta up
            steps += period == c4            ? '0'
                     : period == c4 - 3 * 64 ? 'x'
                     : period == c4 - 7 * 64 ? 'y'
                                             : '?';
        }
        EXPECT_EQ(steps, c.steps) << "speed " << c.speed;
    }
    // Under the demo's rules the order is the same at every speed.
    Harness demo(EffectSong(5, {{0, Cell("C-4", 1, 0, 0x0, 0x37)}}), Demo);
    ASSERT_TRUE(demo.loaded());
    demo.Tick(1);
    demo.Tick(1);
    EXPECT_EQ(demo.channel(0).periodDelta, 3 * 64);
}

TEST(StandardEffects, ArpeggioStopsAtTheTrackersLastNote) {
    // B-7 + 3 and B-7 + 15 play the same period: 15/16 of a semitone above B-7.
    for (uint8_t parameter : {0x30, 0xF0}) {
        Harness h(EffectSong(3, {{0, Cell("B-7", 1, 0, 0x0, parameter)}}), Standard);
        ASSERT_TRUE(h.loaded());
        for (int t = 0; t < 3; ++t) h.Tick(1); // tick 2 of 3 plays x
        EXPECT_EQ(h.channel(0).period - h.channel(0).periodDelta, 7680 - 64 * 95 - 60)
            << std::hex << int(parameter);
    }
}

TEST(StandardEffects, VibratoRowTickKeepsTheLastTicksPitch) {
    // 448 from phase 0 at speed 4, 400 on the next row, nothing on the third: the row tick of
    // the second row keeps the pitch of the first row's last tick; the third drops the vibrato.
    const xmw::Song song = EffectSong(4, {{0, Cell("C-4", 1, 0, 0x4, 0x48)},
                                          {1, Cell(nullptr, 0, 0, 0x4, 0x00)},
                                          {2, Cell(nullptr, 0, 0, 0x0, 0x00)}});
    const auto deltas = [&](PlayerRules rules) {
        Harness h(song, rules);
        std::vector<int> out;
        for (int t = 0; t < 9 && h.loaded(); ++t) {
            h.Tick(1);
            out.push_back(h.channel(0).periodDelta);
        }
        return out;
    };
    EXPECT_EQ(deltas(Standard), (std::vector<int>{0, 0, -24, -45, -45, -59, -63, -59, 0}));
    // The demo's rules work the row tick out at the moved-on position, in coarser steps.
    EXPECT_EQ(deltas(Demo), (std::vector<int>{0, 0, -24, -44, -56, -56, -60, -56, 0}));
}

TEST(StandardEffects, EnvelopePositionMovesTheVolumeEnvelopeOnly) {
    // L50 on the second row (tick 3): the volume envelope moves on to tick 80 (and one more tick
    // passes under the standard rules, whose envelopes step after the effects); the panning
    // envelope keeps counting from the note, with or without the volume envelope's sustain.
    for (bool sustain : {false, true}) {
        xmw::Song song = EffectSong(3, {{0, Cell("C-4", 1)}, {1, Cell(nullptr, 0, 0, 0x15, 0x50)}});
        xmw::Instrument& instrument = song.instruments[0];
        instrument.volumeEnvelope.points = {{0, 64}, {200, 0}};
        instrument.volumeEnvelope.sustain = 1;
        instrument.volumeEnvelope.flags = ENVELOPE_ON | (sustain ? ENVELOPE_SUSTAIN : 0);
        instrument.panningEnvelope.points = {{0, 0}, {200, 64}};
        instrument.panningEnvelope.flags = ENVELOPE_ON;
        for (PlayerRules rules : {Standard, Demo}) {
            Harness h(song, rules);
            ASSERT_TRUE(h.loaded());
            for (int t = 0; t < 4; ++t) h.Tick(1);
            EXPECT_EQ(h.channel(0).volumeEnvelope.tick, rules == Standard ? 81 : 80);
            EXPECT_EQ(h.channel(0).panningEnvelope.tick, 4)
                << (sustain ? "sustain " : "no sustain ")
                << (rules == Standard ? "standard" : "demo");
        }
    }
}
