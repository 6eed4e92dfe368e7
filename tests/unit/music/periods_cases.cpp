// Note periods and playback frequencies in both tables, and the voice volume and panning
// levels, observed on the voices a song's notes reach.
#include "sequencer_harness.h"

using seqtest::Cell;
using seqtest::Harness;

namespace {

// One note on track 0 with the sample's finetune and the chosen table; the first tick's state.
seqtest::VoiceState PlayNote(const char* note, int8_t finetune, bool linear, uint8_t effect = 0,
                             uint8_t parameter = 0, int ticks = 1) {
    xmw::Song song = seqtest::BasicSong(1, 4, linear);
    song.instruments[0].samples[0].finetune = finetune;
    song.patterns[0].At(0, 0) = Cell(note, 1, 0, effect, parameter);
    Harness run(song);
    EXPECT_TRUE(run.loaded());
    if (!run.loaded()) return {};
    auto states = run.Ticks(ticks);
    return states.back();
}

} // namespace

TEST(PitchLinear, PeriodsAndFrequencies) {
    auto c4 = PlayNote("C-4", 0, true);
    EXPECT_EQ(c4.period, 4608);
    EXPECT_EQ(c4.frequency, 8363);
    auto c5 = PlayNote("C-5", 0, true);
    EXPECT_EQ(c5.period, 3840);
    EXPECT_EQ(c5.frequency, 16726);
    EXPECT_EQ(PlayNote("C-4", -3, true).period, 4609); // the halving truncates toward zero
    EXPECT_EQ(PlayNote("C-4", 3, true).period, 4607);
}

TEST(PitchLinear, PositiveDeltaRaisesThePitch) {
    // Arpeggio 0x10 on tick 1 adds 64 units: one semitone up.
    auto s = PlayNote("C-4", 0, true, 0x00, 0x10, 2);
    EXPECT_EQ(s.period, 4608);
    EXPECT_EQ(s.frequency, 8860);
}

TEST(PitchAmiga, PeriodsAndFrequencies) {
    EXPECT_EQ(AmigaPeriod(48, 0), 1712);
    EXPECT_EQ(AmigaPeriod(48, 64), 1664);
    EXPECT_EQ(AmigaPeriod(48, -64), 1762);
    EXPECT_EQ(AmigaPeriod(0, 0), 27392);
    EXPECT_EQ(AmigaPeriod(96, 0), 107);
    auto c4 = PlayNote("C-4", 0, false);
    EXPECT_EQ(c4.period, 1712);
    EXPECT_EQ(c4.frequency, 8362); // 14317056 / 1712
    EXPECT_EQ(PlayNote("C-4", 64, false).period, 1664);
    EXPECT_EQ(PlayNote("C-4", -64, false).period, 1762);
}

TEST(PitchAmiga, ArpeggioUsesTheTableDifference) {
    // C-4 plus 12 semitones is C-5: period 856 on tick 2 (parameter low nibble 12).
    auto s = PlayNote("C-4", 0, false, 0x00, 0x0C, 3);
    EXPECT_EQ(s.frequency, 14317056 / 856);
}

TEST(PitchFrequency, VeryLowOrOutOfRangePitchesStayAudibleAndDefined) {
    // B-7 lowered by a huge fine slide: the linear exponent grows without limit, and the step
    // must still be a defined value.
    xmw::Song song = seqtest::BasicSong(1, 64);
    song.patterns[0].At(0, 0) = Cell("C-0", 1);
    for (int r = 1; r < 64; ++r) song.patterns[0].At(r, 0) = Cell(nullptr, 0, 0, 0x0E, 0x2F);
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    for (int t = 0; t < 6 * 64; ++t) run.Tick();
    EXPECT_EQ(seqtest::StepFrequency(*run.channel(0).voice), 100); // raised to 100 Hz

    // A period driven far below zero by unlimited slides: the highest frequency, not an
    // undefined conversion.
    Module linear{};
    linear.flags = MODULE_LINEAR_FREQUENCIES;
    EXPECT_EQ(PeriodFrequency(&linear, -2000000, 0), INT32_MAX);
    EXPECT_EQ(PeriodFrequency(&linear, 4608, -2000000), 0);
    Module amiga{};
    EXPECT_EQ(PeriodFrequency(&amiga, -1712, 0), -8362); // raised to 100 by the step
}

TEST(PitchLevels, VoiceVolumeFromEnvelopeVolumeFadeAndGlobalVolume) {
    xmw::Song song = seqtest::BasicSong(2, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1);
    song.patterns[0].At(1, 1) = Cell(nullptr, 0, 0, 0x10, 0x20); // global volume 32
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    auto s = run.Tick();
    EXPECT_EQ(s[0].volume, 127);
    EXPECT_EQ(s[0].panning, 128);
    EXPECT_EQ(s[0].left, 127 * 128 / 255);
    EXPECT_EQ(s[0].right, 127 * 127 / 255);
    run.Ticks(5);
    // Track 0 comes before the G on track 1, so it hears the new global volume on the next
    // row tick, when its volume is recomputed.
    EXPECT_EQ(run.Tick()[0].volume, 127);
    run.Ticks(5);
    EXPECT_EQ(run.Tick()[0].volume, 63);
}

TEST(PitchLevels, EffectVolumeAboveTheVoiceRangeIsHeldAt255) {
    xmw::Song song = seqtest::BasicSong(1, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0, 0x0C, 0xFF);
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    auto s = run.Tick();
    EXPECT_EQ(run.channel(0).volume, 255);
    EXPECT_EQ(s[0].volume, 255);
}

TEST(PitchLevels, PanningEnvelopeSwingsWithinTheLimits) {
    // The panning envelope holds 0 (full left of centre) or 64; panning 128 swings furthest,
    // 0 and 255 not at all.
    struct Case {
        uint8_t panning;
        uint16_t envelope;
        int expected;
    };
    const Case cases[] = {{128, 0, 0},   {128, 64, 255}, {128, 32, 128}, {0, 64, 0},
                          {255, 0, 255}, {192, 0, 128},  {160, 48, 208}};
    for (const Case& c : cases) {
        xmw::Song song = seqtest::BasicSong(1, 4);
        song.instruments[0].samples[0].panning = c.panning;
        auto& envelope = song.instruments[0].panningEnvelope;
        envelope.points = {{0, c.envelope}, {10, c.envelope}};
        envelope.flags = ENVELOPE_ON;
        song.patterns[0].At(0, 0) = Cell("C-4", 1);
        Harness run(song);
        ASSERT_TRUE(run.loaded());
        auto s = run.Tick();
        EXPECT_EQ(s[0].panning, c.expected) << int(c.panning) << " with " << c.envelope;
        // The demo's rules: all of the volume on the first output channel at 255, none at 0.
        if (c.expected == 255) {
            EXPECT_EQ(s[0].left, s[0].volume);
        } else if (c.expected == 0) {
            EXPECT_EQ(s[0].left, 0);
        }
    }
}
