// Effect commands and the volume column: waveform magnitudes, slides and their limits, multi
// retrigger, envelope position, sample offset, note delay, and the tone-portamento volume column.
#include "sequencer_harness.h"

#include <cmath>

using seqtest::Cell;
using seqtest::Player;

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
    Player player(song);
    ASSERT_TRUE(player.loaded());
    player.Tick();
    channels[0].period = 60;
    auto s = player.Tick();
    EXPECT_EQ(s[0].period, 56);
    const PatternCell down = Cell(nullptr, 0, 0, 0x02, 0xFF);
    channels[0].period = 2147483647 - 2000;
    channels[0].portaDownMemory = 0xFF;
    EffectTick(player.module(), &channels[0], down, &emptyInstrument, &silentSample);
    EXPECT_EQ(channels[0].period, 2147483647 - 2000 + 1020);
}

TEST(EffectSlides, VolumeColumnSlidesAndLimits) {
    xmw::Song song = seqtest::BasicSong(4, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0x68); // down 8 on every tick, row tick included
    song.patterns[0].At(0, 1) = Cell("C-4", 1, 0x88); // fine down 8, row tick only
    song.patterns[0].At(0, 2) = Cell("C-4", 1, 0xD5); // panning left 5 a tick, no limit
    song.patterns[0].At(0, 3) = Cell("C-4", 1, 0x3F); // volume 47
    Player player(song);
    ASSERT_TRUE(player.loaded());
    player.Ticks(6);
    EXPECT_EQ(channels[0].volume, 64 - 6 * 8);
    EXPECT_EQ(channels[1].volume, 64 - 8);
    EXPECT_EQ(channels[2].panning, 128 - 6 * 5);
    EXPECT_EQ(channels[3].volume, 47);
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
        Player player(song);
        ASSERT_TRUE(player.loaded());
        auto first = player.Tick();
        auto second = player.Tick();
        EXPECT_EQ(channels[0].volume, c.expected) << std::hex << int(c.parameter);
        EXPECT_NE(second[0].voiceNumber, first[0].voiceNumber); // retriggered on tick 1
    }
}

TEST(EffectRetrigger, IntervalCountsTicksAndNeverRetriggersTheRowTick) {
    xmw::Song song = seqtest::BasicSong(1, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0, 0x1B, 0x03);
    song.patterns[0].At(1, 0) = Cell(nullptr, 0, 0, 0x1B, 0x00); // memory: every 3rd tick
    Player player(song);
    ASSERT_TRUE(player.loaded());
    std::vector<int> switches;
    int last = player.Tick()[0].voiceNumber;
    for (int t = 1; t < 12; ++t) {
        const int now = player.Tick()[0].voiceNumber;
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
    Player player(song);
    ASSERT_TRUE(player.loaded());
    auto s = player.Tick(2);
    EXPECT_EQ(channels[0].volumeEnvelopeValue, 8);
    EXPECT_EQ(channels[0].volumeEnvelopeDone, 1);
    EXPECT_EQ(s[0].volume, 8 * 127 / 64 + 0); // the value heard on this tick
    EXPECT_EQ(channels[1].volumeEnvelopeValue, 20);
    EXPECT_EQ(channels[1].volumeEnvelopeDone, 0);
    player.Tick(2);
    EXPECT_EQ(channels[1].volumeEnvelopeValue, 17);
}

TEST(EffectOffset, OffsetAtOrBeyondTheLoopEndRewindsTheCurrentVoice) {
    xmw::Song song = seqtest::BasicSong(1, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1);
    song.patterns[0].At(1, 0) = Cell("D-4", 1, 0, 0x09, 0x10); // 4096: the loop end
    song.patterns[0].At(2, 0) = Cell("E-4", 1, 0, 0x09, 0x08); // 2048: starts there
    Player player(song);
    ASSERT_TRUE(player.loaded());
    player.Ticks(6);
    voices[0].position = 1234;
    voices[0].positionFraction = 99;
    auto s = player.Tick();
    EXPECT_EQ(s[0].voiceNumber, 0); // no new note
    EXPECT_EQ(s[0].position, 0u);
    EXPECT_EQ(voices[0].positionFraction, 0u);
    EXPECT_EQ(voices[32].sample, nullptr);
    player.Ticks(5);
    s = player.Tick();
    EXPECT_EQ(s[0].voiceNumber, 32);
    EXPECT_EQ(s[0].position, 2048u);
    EXPECT_EQ(voices[32].startOffset, 0u);
}

TEST(EffectDelay, NoteDelayKeepsTheOldNoteUntilItsTick) {
    xmw::Song song = seqtest::BasicSong(1, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0x30);             // volume 32
    song.patterns[0].At(1, 0) = Cell("E-4", 1, 0x20, 0x0E, 0xD2); // volume 16 from tick 2
    Player player(song);
    ASSERT_TRUE(player.loaded());
    player.Ticks(6);
    auto states = player.Ticks(4);
    for (int t = 0; t < 2; ++t) {
        EXPECT_EQ(states[t].voiceNumber, 0) << t;
        EXPECT_EQ(states[t].frequency, 8363) << t; // the restored period
        EXPECT_EQ(states[t].volume, 63) << t;
    }
    EXPECT_EQ(states[2].voiceNumber, 32);
    EXPECT_EQ(states[2].period, 4352);
    EXPECT_EQ(states[2].volume, 31);
    EXPECT_EQ(states[3].voiceNumber, 32);
}

TEST(EffectDelay, NoteDelayZeroNeverPlaysItsNote) {
    xmw::Song song = seqtest::BasicSong(1, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0, 0x0E, 0xD0);
    Player player(song);
    ASSERT_TRUE(player.loaded());
    player.Ticks(6);
    EXPECT_EQ(channels[0].voice->sample, nullptr);
}

TEST(EffectPortamento, VolumeColumnPortamentoTreatsTheNoteAsItsTarget) {
    xmw::Song song = seqtest::BasicSong(1, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1);
    song.patterns[0].At(1, 0) = Cell("D-4", 1, 0xF1); // 64 units a tick toward D-4 (4480)
    Player player(song);
    ASSERT_TRUE(player.loaded());
    player.Ticks(6);
    auto states = player.Ticks(4);
    EXPECT_EQ(states[0].voiceNumber, 0);
    EXPECT_EQ(states[0].period, 4608);
    EXPECT_EQ(states[1].period, 4544);
    EXPECT_EQ(states[2].period, 4480);
    EXPECT_EQ(states[3].period, 4480);
}

TEST(EffectFinetune, SetFinetuneChangesTheSongsSampleButNeverTheSilentOne) {
    xmw::Song song = seqtest::BasicSong(2, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0, 0x0E, 0x57);
    song.patterns[0].At(0, 1) = Cell("C-4", 9, 0, 0x0E, 0x57); // no such instrument
    Player player(song);
    ASSERT_TRUE(player.loaded());
    player.Tick(2);
    EXPECT_EQ(player.module()->instruments[0].samples[0]->finetune, 7);
    EXPECT_EQ(silentSample.finetune, 0);
}

TEST(EffectCut, NoteCutAndRetriggerOnTheirTicks) {
    xmw::Song song = seqtest::BasicSong(2, 4);
    song.patterns[0].At(0, 0) = Cell("C-4", 1, 0, 0x0E, 0xC3);
    song.patterns[0].At(0, 1) = Cell("C-4", 1, 0, 0x0E, 0x92);
    Player player(song);
    ASSERT_TRUE(player.loaded());
    std::vector<int> volume0, voice1;
    for (int t = 0; t < 6; ++t) {
        auto s = player.Tick(2);
        volume0.push_back(s[0].volume);
        voice1.push_back(s[1].voiceNumber);
    }
    EXPECT_EQ(volume0, (std::vector<int>{127, 127, 127, 0, 0, 0}));
    EXPECT_EQ(voice1, (std::vector<int>{1, 1, 33, 33, 1, 1}));
}
