// Mixer tests of whole blocks and playback preparation: ticks at exact frame counts across
// block boundaries, elapsed milliseconds, the position table, output sizes per rate, buffer
// alignment, the pre-fill, and stopping.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "loader_helpers.h"
#include "music/mixer.h"
#include "music/module.h"
#include "music/playback.h"

namespace {

struct TickLog {
    int ticks = 0;
    int firstFrameLeft = 0;     // the sum of voice 0's volume seen by the first tick
    int32_t nextTickFrames = 0; // when not 0, each tick sets tickFrames to this
};
TickLog tickLog;

void CountTick(Module* module) {
    ++tickLog.ticks;
    module->row = tickLog.ticks;
    module->orderPosition = 300 + tickLog.ticks; // stored truncated to 8 bits
    if (tickLog.nextTickFrames != 0) module->tickFrames = tickLog.nextTickFrames;
}

// A constant sample the first tick starts on voice 0 at full volume with no ramp.
std::vector<int16_t> dc(208, 1000);
Sample dcSample{};

void StartVoiceOnFirstTick(Module* module) {
    if (tickLog.ticks == 0) {
        dcSample.data = dc.data();
        dcSample.length = 200;
        dcSample.loopLength = 200;
        dcSample.loopKind = LOOP_FORWARD;
        dc[200] = dc[0];
        Voice& v = voices[0];
        v.sample = &dcSample;
        v.volumeLeft = v.volumeRight = 255;
        v.currentLeft = v.currentRight = 255 * 256;
        v.rampTargetLeft = v.rampTargetRight = 255;
    }
    CountTick(module);
}

class MixerBlockTest : public ::testing::Test {
  protected:
    Module module{};

    // Prepares playback of a bare module at 44100 Hz and 125 BPM (882 frames per tick), then
    // rewinds to a fresh start so that the test drives MixBlock itself.
    void Start(ModuleHandler tick = CountTick) {
        tickLog = TickLog{};
        ConfigureOutput(44100);
        module.channelCount = 1;
        module.defaultBpm = 125;
        module.defaultSpeed = 6;
        module.tickHandler = tick;
        ASSERT_TRUE(PreparePlayback(&module));
        ASSERT_EQ(module.tickFrames, 882);
        ConfigureOutput(44100); // silences the voices again
        tickLog = TickLog{};
        module.tickFramesLeft = 0;
        module.elapsedMs = 0;
        mixer.fillBlock = 0;
    }
    void TearDown() override { StopPlayback(&module); }
};

TEST_F(MixerBlockTest, FirstTickRunsBeforeTheFirstFrameIsMixed) {
    Start(StartVoiceOnFirstTick);
    MixBlock();
    EXPECT_EQ(mixer.outputRing[0], 1000);
    EXPECT_EQ(mixer.outputRing[1], 1000);
    EXPECT_EQ(mixer.outputRing[2 * 883 + 1], 1000);
}

TEST_F(MixerBlockTest, TicksFallOnExactFrameCountsAcrossBlocks) {
    Start();
    MixBlock(); // ticks at frames 0 and 882
    EXPECT_EQ(tickLog.ticks, 2);
    EXPECT_EQ(module.tickFramesLeft, 880);
    EXPECT_EQ(module.elapsedMs, 19); // 882 frames give 19 ms, 2 frames none
    MixBlock();                      // 880 frames of that tick, then a tick at frame 1764
    EXPECT_EQ(tickLog.ticks, 3);
    EXPECT_EQ(module.tickFramesLeft, 878);
    EXPECT_EQ(module.elapsedMs, 38);
    EXPECT_EQ(mixer.fillBlock, 2);
    // Each block's entry holds the position after it, order truncated to 8 bits.
    EXPECT_EQ(mixer.blockPositions[0].row, 2);
    EXPECT_EQ(mixer.blockPositions[0].order, (300 + 2) & 0xFF);
    EXPECT_EQ(static_cast<int32_t>(mixer.blockPositions[0].timeMs), 19);
    EXPECT_EQ(static_cast<int32_t>(mixer.blockPositions[1].timeMs), 38);
    // Over the whole ring: 88400 frames hold 101 ticks (the first at frame 0).
    while (mixer.fillBlock != 0) MixBlock();
    EXPECT_EQ(tickLog.ticks, 101);
    EXPECT_EQ(module.tickFramesLeft, 101 * 882 - 88400);
}

TEST_F(MixerBlockTest, TempoChangeTakesEffectForTheTickThatMadeIt) {
    Start();
    tickLog.nextTickFrames = 100;
    MixBlock(); // ticks every 100 frames from frame 0
    EXPECT_EQ(tickLog.ticks, 9);
    EXPECT_EQ(module.tickFramesLeft, 16);
    // 100-frame runs give 2 ms each (2.267 truncated), the last run of 84 gives 1.
    EXPECT_EQ(module.elapsedMs, 8 * 2 + 1);
}

TEST_F(MixerBlockTest, TickOfNoFramesStillLetsTheBlockAdvance) {
    Start();
    tickLog.nextTickFrames = -3;
    MixBlock();
    EXPECT_EQ(tickLog.ticks, 884); // one frame per tick
    EXPECT_EQ(mixer.fillBlock, 1);
}

TEST_F(MixerBlockTest, FillBlockWrapsAfterTheLastBlock) {
    Start();
    mixer.fillBlock = 99;
    MixBlock();
    EXPECT_EQ(mixer.fillBlock, 0);
}

TEST(PlaybackConfiguration, SizesPerRate) {
    ConfigureOutput(44100);
    EXPECT_EQ(mixer.mixRate, 44100);
    EXPECT_EQ(mixer.blockFrames, 884);
    EXPECT_EQ(mixer.ringFrames, 88400);
    EXPECT_EQ(mixer.ringFrames / mixer.blockFrames, 100);
    EXPECT_EQ(mixer.rampLength, 128);
    EXPECT_FLOAT_EQ(mixer.rampReciprocal, 1.0f / 128);
    EXPECT_EQ(mixer.secondsPerFrame, 1.0f / 44100);
    ConfigureOutput(22050);
    EXPECT_EQ(mixer.blockFrames, 444);
    EXPECT_EQ(mixer.ringFrames, 44400);
    EXPECT_EQ(mixer.rampLength, 64);
    // Very low rates still ramp over at least one frame.
    ConfigureOutput(100);
    EXPECT_EQ(mixer.rampLength, 1);
    ConfigureOutput(0);
    Module module{};
    EXPECT_FALSE(PreparePlayback(&module));
    EXPECT_EQ(mixer.playingModule, nullptr);
}

TEST(PlaybackConfiguration, VoicesAreClearedNumberedAndGivenStepOne) {
    voices[5].sample = &silentSample;
    voices[5].volumeLeft = 99;
    voices[200].positionFraction = 7;
    ConfigureOutput(44100);
    for (int v = 0; v < VOICE_TABLE_SIZE; ++v) {
        ASSERT_EQ(voices[v].voiceNumber, v);
        ASSERT_EQ(voices[v].increment, 1);
        ASSERT_EQ(voices[v].incrementFraction, 0u);
        ASSERT_EQ(voices[v].sample, nullptr);
    }
    EXPECT_EQ(voices[5].volumeLeft, 0);
    EXPECT_EQ(voices[200].positionFraction, 0u);
}

void CountStart(Module* module) {
    module->globalVolume = 17;
}

TEST(PlaybackPreparation, ResetsTheSongAndPreFillsTheWholeRing) {
    ConfigureOutput(44100);
    ModulePtr song = LoadSong(xmw::MinimalSong());
    ASSERT_TRUE(song);
    song->row = 12;
    song->orderPosition = 3;
    song->elapsedMs = 5000;
    song->startHandler = CountStart;
    ASSERT_TRUE(PreparePlayback(song.get()));
    EXPECT_EQ(mixer.playingModule, song.get());
    EXPECT_EQ(mixer.fillBlock, 0);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(mixer.mixBuffer) % 16, 0u);
    EXPECT_EQ(song->speed, 6);
    EXPECT_EQ(song->bpm, 125);
    EXPECT_EQ(song->globalVolume, 17); // the start handler ran after the reset
    // The whole ring (about 2 s) was rendered: the song has moved on, and the note of its
    // first row is in the ring.
    EXPECT_EQ(song->elapsedMs, static_cast<int32_t>(mixer.blockPositions[99].timeMs));
    EXPECT_GE(song->elapsedMs, 1900);
    bool sound = false;
    for (int32_t k = 0; k < 2 * mixer.ringFrames; ++k) sound = sound || mixer.outputRing[k] != 0;
    EXPECT_TRUE(sound);
    EXPECT_EQ(static_cast<int32_t>(mixer.blockPositions[0].timeMs), 19);

    // Preparing again starts over with fresh buffers (the old ones are freed, not leaked).
    ASSERT_TRUE(PreparePlayback(song.get()));
    EXPECT_EQ(song->elapsedMs, static_cast<int32_t>(mixer.blockPositions[99].timeMs));
    EXPECT_EQ(static_cast<int32_t>(mixer.blockPositions[0].timeMs), 19);
}

TEST(PlaybackPreparation, StoppingTwiceIsHarmlessAndNullIsRefused) {
    ConfigureOutput(22050);
    ModulePtr song = LoadSong(xmw::MinimalSong());
    ASSERT_TRUE(song);
    ASSERT_TRUE(PreparePlayback(song.get()));
    EXPECT_EQ(StopPlayback(nullptr), 0);
    EXPECT_EQ(mixer.playingModule, song.get());
    EXPECT_EQ(StopPlayback(song.get()), 1);
    EXPECT_EQ(mixer.playingModule, nullptr);
    EXPECT_EQ(mixer.mixBuffer, nullptr);
    EXPECT_EQ(mixer.outputRing, nullptr);
    EXPECT_EQ(mixer.blockPositions, nullptr);
    EXPECT_EQ(StopPlayback(song.get()), 1);
    EXPECT_FALSE(PreparePlayback(nullptr));
    // MixBlock without buffers does nothing.
    mixer.fillBlock = 3;
    MixBlock();
    EXPECT_EQ(mixer.fillBlock, 3);
    mixer.fillBlock = 0;
}

} // namespace
