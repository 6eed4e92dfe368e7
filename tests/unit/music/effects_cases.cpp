// Effect commands and the volume column: waveform magnitudes, slides and their limits, multi
// retrigger, envelope position, sample offset, note delay, and the tone-portamento volume column.
#include "sequencer_harness.h"

#include <cmath>

using seqtest::Cell;
using seqtest::Harness;
using Dump = std::vector<std::string>;

TEST(EffectWaves, SineTableFollowsItsFormulaWithPeakAt255) {
    for (int i = 0; i < 32; ++i) {
        const int expected = static_cast<int>(std::fabs(std::sin((2 * i * 3.141592) / 64)) * 256);
        EXPECT_EQ(vibratoSineTable[i], expected) << i;
    }
    EXPECT_EQ(vibratoSineTable[16], 255);
}

TEST(EffectWaves, VibratoSwingsBothWaysAndWaveform3IsSquare) {
    MusicChannel channel{};
    channel.vibratoDepth = 15;
    channel.vibratoPosition = 16;
    Vibrato(&channel);
    EXPECT_EQ(channel.periodDelta, -116);
    channel.vibratoPosition = -16;
    Vibrato(&channel);
    EXPECT_EQ(channel.periodDelta, 116);
    channel.waveControl = 3; // square: full depth even at phase 0
    channel.vibratoPosition = 0;
    Vibrato(&channel);
    EXPECT_EQ(channel.periodDelta, -116);
    channel.waveControl = 1; // ramp at phase -1: 255 - 31 x 8
    channel.vibratoPosition = -1;
    Vibrato(&channel);
    EXPECT_EQ(channel.periodDelta, ((7 * 15) >> 7) * 4);
}

TEST(EffectWaves, VibratoPhaseWrapsIntoTheNegativeHalf) {
    MusicChannel channel{};
    channel.vibratoSpeed = 15;
    channel.vibratoPosition = 20;
    AdvanceVibrato(&channel);
    EXPECT_EQ(channel.vibratoPosition, -29);
}

TEST(EffectWaves, TremoloKeepsTheVolumeWithinRangeAndWaveform3IsSine) {
    MusicChannel channel{};
    channel.volume = 60;
    channel.tremoloDepth = 15;
    channel.tremoloPosition = 16;
    Tremolo(&channel);
    EXPECT_EQ(channel.volumeDelta, 4); // d = 59, limited to 64 - 60
    EXPECT_EQ(channel.tremoloPosition, 16);
    channel.volume = 10;
    channel.tremoloPosition = -16;
    Tremolo(&channel);
    EXPECT_EQ(channel.volumeDelta, -10); // not below -volume
    channel.volume = 40;
    channel.waveControl = 0x30;
    channel.tremoloPosition = 0;
    Tremolo(&channel);
    EXPECT_EQ(channel.volumeDelta, 0); // sine at phase 0, where square would give 59
}

TEST(EffectSlides, PortamentoUpStopsAt56AndDownHasNoLimit) {
    xmw::Song song = seqtest::BasicSong(1, 4, false);
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0, 0x01, 0x03);
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    run.Tick();
    run.channel(0).period = 60;
    auto s = run.Tick();
    EXPECT_EQ(s[0].period, 56);
    const PatternCell down = Cell(nullptr, 0, 0, 0x02, 0xFF);
    run.channel(0).period = 2147483647 - 2000;
    run.channel(0).portaDownMemory = 0xFF;
    EffectTick(run.player(), &run.channel(0), down, Selection{&emptyInstrument, &silentSample});
    EXPECT_EQ(run.channel(0).period, 2147483647 - 2000 + 1020);
}

TEST(EffectSlides, VolumeColumnSlidesAndLimits) {
    xmw::Song song = seqtest::BasicSong(4, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0x68); // down 8 on every tick, row tick included
    song.patterns[0].At(0, 1) = Cell("C-4", 1, 0x88); // fine down 8, row tick only
    song.patterns[0].At(0, 2) = Cell("C-4", 1, 0xD5); // panning left 5 a tick, no limit
    song.patterns[0].At(0, 3) = Cell("C-4", 1, 0x3F); // volume 47
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    run.Ticks(6);
    EXPECT_EQ(run.channel(0).volume, 64 - 6 * 8);
    EXPECT_EQ(run.channel(1).volume, 64 - 8);
    EXPECT_EQ(run.channel(2).panning, 128 - 6 * 5);
    EXPECT_EQ(run.channel(3).volume, 47);
}

TEST(EffectRetrigger, MultiRetriggerVolumeSteps) {
    struct Case {
        uint8_t volumeColumn;
        uint8_t parameter;
        int expected;
    };
    const Case cases[] = {{0x50, 0x61, 42}, {0x42, 0xE1, 64}, {0x31, 0x71, 16}, {0x50, 0x11, 63},
                          {0x12, 0x51, 0},  {0x30, 0xF1, 64}, {0x30, 0x81, 32}};
    for (const Case& c : cases) {
        xmw::Song song = seqtest::BasicSong(1, 4);
        song.patterns[0].At(0, 0) = Cell("C-4", 1, c.volumeColumn, 0x1B, c.parameter);
        Harness run(song);
        ASSERT_TRUE(run.loaded());
        auto first = run.Tick();
        auto second = run.Tick();
        EXPECT_EQ(run.channel(0).volume, c.expected) << std::hex << int(c.parameter);
        EXPECT_NE(second[0].voiceNumber, first[0].voiceNumber); // retriggered on tick 1
    }
}

TEST(EffectRetrigger, IntervalCountsTicksAndNeverRetriggersTheRowTick) {
    xmw::Song song = seqtest::BasicSong(1, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0, 0x1B, 0x03);
    song.patterns[0].At(1, 0) = Cell(nullptr, 0, 0, 0x1B, 0x00); // memory: every 3rd tick
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    std::vector<int> switches;
    int last = run.Tick()[0].voiceNumber;
    for (int t = 1; t < 12; ++t) {
        const int now = run.Tick()[0].voiceNumber;
        if (now != last) switches.push_back(t);
        last = now;
    }
    EXPECT_EQ(switches, (std::vector<int>{3, 9}));
}

TEST(EffectEnvelope, SetPositionBeyondTheLastPointFinishesTheEnvelope) {
    xmw::Song song = seqtest::BasicSong(2, 4);
    auto& envelope = song.instruments[0].volumeEnvelope;
    envelope.points = {{0, 64}, {10, 32}, {20, 8}};
    envelope.flags = ENVELOPE_ON;
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0, 0x15, 0xFF);
    song.patterns[0].At(0, 1) = Cell("C-4", 1, 0, 0x15, 15); // halfway between 32 and 8
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    auto s = run.Tick(2);
    EXPECT_EQ(run.channel(0).volumeEnvelope.value, 8);
    EXPECT_EQ(run.channel(0).volumeEnvelope.done, 1);
    EXPECT_EQ(s[0].volume, 8 * 127 / 64 + 0); // the value heard on this tick
    EXPECT_EQ(run.channel(1).volumeEnvelope.value, 20);
    EXPECT_EQ(run.channel(1).volumeEnvelope.done, 0);
    run.Tick(2);
    EXPECT_EQ(run.channel(1).volumeEnvelope.value, 17);
}

TEST(EffectOffset, OffsetAtOrBeyondTheLoopEndRewindsTheCurrentVoice) {
    xmw::Song song = seqtest::BasicSong(1, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1);
    song.patterns[0].At(1, 0) = Cell("D-4", 1, 0, 0x09, 0x10); // 4096: the loop end
    song.patterns[0].At(2, 0) = Cell("E-4", 1, 0, 0x09, 0x08); // 2048: starts there
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    run.Ticks(6);
    run.voice(0).position = 1234;
    run.voice(0).positionFraction = 99;
    auto s = run.Tick();
    EXPECT_EQ(s[0].voiceNumber, 0); // no new note
    EXPECT_EQ(s[0].position, 0u);
    EXPECT_EQ(run.voice(0).positionFraction, 0u);
    EXPECT_EQ(run.voice(32).sample, nullptr);
    run.Ticks(5);
    s = run.Tick();
    EXPECT_EQ(s[0].voiceNumber, 32);
    EXPECT_EQ(s[0].position, 2048u);
    EXPECT_EQ(run.voice(32).startOffset, 0u);
}

TEST(EffectDelay, NoteDelayKeepsTheOldNoteUntilItsTick) {
    xmw::Song song = seqtest::BasicSong(1, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0x30);             // volume 32
    song.patterns[0].At(1, 0) = Cell("E-4", 1, 0x20, 0x0E, 0xD2); // volume 16 from tick 2
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    run.Ticks(6);
    // The old note's period and volume are put back until the delayed note starts.
    const Dump expected{
        "1 0 0 | 0 4608 63 128",
        "1 1 0 | 0 4608 63 128",
        "1 2 0 | 32 4352 31 128",
        "1 3 0 | 32 4352 31 128",
    };
    EXPECT_TRUE(seqtest::SameDump(run.Dump(4), expected));
}

TEST(EffectDelay, NoteDelayZeroNeverPlaysItsNote) {
    xmw::Song song = seqtest::BasicSong(1, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0, 0x0E, 0xD0);
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    run.Ticks(6);
    EXPECT_EQ(run.channel(0).voice->sample, nullptr);
}

TEST(EffectPortamento, VolumeColumnPortamentoTreatsTheNoteAsItsTarget) {
    xmw::Song song = seqtest::BasicSong(1, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1);
    song.patterns[0].At(1, 0) = Cell("D-4", 1, 0xF1); // 64 units a tick toward D-4 (4480)
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    run.Ticks(6);
    const Dump expected{
        "1 0 0 | 0 4608 127 128",
        "1 1 0 | 0 4544 127 128",
        "1 2 0 | 0 4480 127 128",
        "1 3 0 | 0 4480 127 128",
    };
    EXPECT_TRUE(seqtest::SameDump(run.Dump(4), expected));
}

TEST(EffectFinetune, SetFinetuneChangesThisPlayersFinetuneButNeverTheSong) {
    xmw::Song song = seqtest::BasicSong(2, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0, 0x0E, 0x57);
    song.patterns[0].At(0, 1) = Cell("C-4", 9, 0, 0x0E, 0x57); // no such instrument
    song.patterns[0].At(1, 0) = Cell("C-4", 1);
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    const Sample* sample = run.module()->instruments[0].samples[0];
    EXPECT_EQ(run.Tick()[0].period, 4608); // the row's own note keeps the old finetune
    EXPECT_EQ(SampleFinetune(run.player(), sample), 7);
    EXPECT_EQ(sample->finetune, 0);
    EXPECT_EQ(SampleFinetune(run.player(), &silentSample), 0);
    run.Ticks(5);
    EXPECT_EQ(run.Tick()[0].period, 4608 - 7 / 2); // the next note plays with it
}

TEST(EffectCut, NoteCutAndRetriggerOnTheirTicks) {
    xmw::Song song = seqtest::BasicSong(2, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0, 0x0E, 0xC3);
    song.patterns[0].At(0, 1) = Cell("C-4", 1, 0, 0x0E, 0x92);
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    // Track 0 falls silent on tick 3; track 1 starts again on its partner voice every 2 ticks.
    // clang-format off
    const Dump expected{
        "0 0 0 | 0 4608 127 128",
        "0 0 1 | 1 4608 127 128",
        "0 1 0 | 0 4608 127 128",
        "0 1 1 | 1 4608 127 128",
        "0 2 0 | 0 4608 127 128",
        "0 2 1 | 33 4608 127 128",
        "0 3 0 | 0 4608 0 128",
        "0 3 1 | 33 4608 127 128",
        "0 4 0 | 0 4608 0 128",
        "0 4 1 | 1 4608 127 128",
        "0 5 0 | 0 4608 0 128",
        "0 5 1 | 1 4608 127 128",
    };
    // clang-format on
    EXPECT_TRUE(seqtest::SameDump(run.Dump(6, {0, 1}), expected));
}
