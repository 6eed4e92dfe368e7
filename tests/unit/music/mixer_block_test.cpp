// Mixer tests of whole blocks and of a player's set-up: ticks at exact frame counts across
// block boundaries, elapsed milliseconds, the position table, output sizes per rate, buffer
// alignment, the playback start's reset and the pre-fill of the ring.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "loader_helpers.h"
#include "music/mixer.h"
#include "music/module.h"
#include "music/player.h"

namespace {

struct TickLog {
    int ticks = 0;
    int32_t nextTickFrames = 0; // when not 0, each tick sets tickFrames to this
};
TickLog tickLog;

void CountTick(Player* player) {
    ++tickLog.ticks;
    player->row = tickLog.ticks;
    player->orderPosition = 300 + tickLog.ticks; // stored truncated to 8 bits
    if (tickLog.nextTickFrames != 0) player->tickFrames = tickLog.nextTickFrames;
}

// A constant sample the first tick starts on voice 0 at full volume with no ramp.
std::vector<int16_t> dc(208, 1000);
Sample dcSample{};

void StartVoiceOnFirstTick(Player* player) {
    if (tickLog.ticks == 0) {
        dcSample.data = dc.data();
        dcSample.length = 200;
        dcSample.loopLength = 200;
        dcSample.loopKind = LOOP_FORWARD;
        dc[200] = dc[0];
        Voice& v = player->voices[0];
        v.sample = &dcSample;
        v.volumeLeft = v.volumeRight = 255;
        v.currentLeft = v.currentRight = 255 * 256;
        v.rampTargetLeft = v.rampTargetRight = 255;
    }
    CountTick(player);
}

// A bare song record: one track, 125 BPM, speed 6, no patterns.
struct BareModule : Module {
    BareModule() : Module{} {
        channelCount = 1;
        songLength = 1;
        defaultBpm = 125;
        defaultSpeed = 6;
        initialGlobalVolume = 64;
    }
};

class MixerBlockTest : public ::testing::Test {
  protected:
    BareModule module;
    Player* player = nullptr;

    // A player of the bare song at 44100 Hz (882 frames per tick) with the output's ring,
    // nothing rendered yet, whose ticks only count themselves.
    void Start(PlayerHandler tick = CountTick) {
        tickLog = TickLog{};
        player = CreatePlayer(&module, 44100, PlayerRules::Demo, OUTPUT_RING_BLOCKS);
        ASSERT_NE(player, nullptr);
        ASSERT_EQ(player->tickFrames, 882);
        player->tickHandler = tick;
    }
    void TearDown() override { DestroyPlayer(player); }
};

TEST_F(MixerBlockTest, FirstTickRunsBeforeTheFirstFrameIsMixed) {
    Start(StartVoiceOnFirstTick);
    MixBlock(player);
    const int16_t* ring = player->mixer.outputRing;
    EXPECT_EQ(ring[0], 1000);
    EXPECT_EQ(ring[1], 1000);
    EXPECT_EQ(ring[2 * 883 + 1], 1000);
}

TEST_F(MixerBlockTest, TicksFallOnExactFrameCountsAcrossBlocks) {
    Start();
    const MixerState& mixer = player->mixer;
    MixBlock(player); // ticks at frames 0 and 882
    EXPECT_EQ(tickLog.ticks, 2);
    EXPECT_EQ(player->tickFramesLeft, 880);
    EXPECT_EQ(player->elapsedMs, 19); // 882 frames give 19 ms, 2 frames none
    MixBlock(player);                 // 880 frames of that tick, then a tick at frame 1764
    EXPECT_EQ(tickLog.ticks, 3);
    EXPECT_EQ(player->tickFramesLeft, 878);
    EXPECT_EQ(player->elapsedMs, 38);
    EXPECT_EQ(player->framesMixed, 2 * 884);
    EXPECT_EQ(mixer.fillBlock, 2);
    // Each block's entry holds the position after it, order truncated to 8 bits.
    EXPECT_EQ(mixer.blockPositions[0].row, 2);
    EXPECT_EQ(mixer.blockPositions[0].order, (300 + 2) & 0xFF);
    EXPECT_EQ(static_cast<int32_t>(mixer.blockPositions[0].timeMs), 19);
    EXPECT_EQ(static_cast<int32_t>(mixer.blockPositions[1].timeMs), 38);
    // Over the whole ring: 88400 frames hold 101 ticks (the first at frame 0).
    while (mixer.fillBlock != 0) MixBlock(player);
    EXPECT_EQ(tickLog.ticks, 101);
    EXPECT_EQ(player->tickFramesLeft, 101 * 882 - 88400);
}

TEST_F(MixerBlockTest, TempoChangeTakesEffectForTheTickThatMadeIt) {
    Start();
    tickLog.nextTickFrames = 100;
    MixBlock(player); // ticks every 100 frames from frame 0
    EXPECT_EQ(tickLog.ticks, 9);
    EXPECT_EQ(player->tickFramesLeft, 16);
    // 100-frame runs give 2 ms each (2.267 truncated), the last run of 84 gives 1.
    EXPECT_EQ(player->elapsedMs, 8 * 2 + 1);
    // Each tick is marked at the frame it fell on, for positions within the block.
    ASSERT_EQ(player->markCount, TICK_MARKS);
    EXPECT_EQ(player->marks[0].frame, 0);
    EXPECT_EQ(player->marks[TICK_MARKS - 2].frame, 100 * (TICK_MARKS - 2));
    EXPECT_EQ(player->marks[TICK_MARKS - 1].frame, 800); // the ninth overwrote the eighth
}

TEST_F(MixerBlockTest, TickOfNoFramesStillLetsTheBlockAdvance) {
    Start();
    tickLog.nextTickFrames = -3;
    MixBlock(player);
    EXPECT_EQ(tickLog.ticks, 884); // one frame per tick
    EXPECT_EQ(player->mixer.fillBlock, 1);
}

TEST_F(MixerBlockTest, FillBlockWrapsAfterTheLastBlock) {
    Start();
    player->mixer.fillBlock = 99;
    MixBlock(player);
    EXPECT_EQ(player->mixer.fillBlock, 0);
}

TEST(PlayerCreation, SizesPerRate) {
    BareModule module;
    Player* player = CreatePlayer(&module, 44100, PlayerRules::Demo, OUTPUT_RING_BLOCKS);
    ASSERT_NE(player, nullptr);
    const MixerState& mixer = player->mixer;
    EXPECT_EQ(mixer.mixRate, 44100);
    EXPECT_EQ(mixer.blockFrames, 884);
    EXPECT_EQ(mixer.ringFrames, 88400);
    EXPECT_EQ(mixer.rampLength, 128);
    EXPECT_FLOAT_EQ(mixer.rampReciprocal, 1.0f / 128);
    EXPECT_EQ(mixer.secondsPerFrame, 1.0f / 44100);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(mixer.mixBuffer) % 16, 0u);
    DestroyPlayer(player);

    player = CreatePlayer(&module, 22050, PlayerRules::Demo, OUTPUT_RING_BLOCKS);
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(player->mixer.blockFrames, 444);
    EXPECT_EQ(player->mixer.ringFrames, 44400);
    EXPECT_EQ(player->mixer.rampLength, 64);
    DestroyPlayer(player);

    // A player of one block, as the pull renderers use it.
    player = CreatePlayer(&module, 48000, PlayerRules::Standard);
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(player->mixer.blockFrames, 960);
    EXPECT_EQ(player->mixer.ringFrames, 960);
    DestroyPlayer(player);

    // Very low rates still ramp over at least one frame.
    player = CreatePlayer(&module, LOWEST_RATE, PlayerRules::Demo);
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(player->mixer.rampLength, 1);
    EXPECT_GE(player->mixer.blockFrames, 1);
    DestroyPlayer(player);
}

TEST(PlayerCreation, RefusesWhatCannotBePlayed) {
    BareModule module;
    EXPECT_EQ(CreatePlayer(nullptr, 44100, PlayerRules::Demo), nullptr);
    EXPECT_EQ(CreatePlayer(&module, 0, PlayerRules::Demo), nullptr);
    EXPECT_EQ(CreatePlayer(&module, LOWEST_RATE - 1, PlayerRules::Demo), nullptr);
    EXPECT_EQ(CreatePlayer(&module, HIGHEST_RATE + 1, PlayerRules::Demo), nullptr);
    EXPECT_EQ(CreatePlayer(&module, 44100, PlayerRules::Demo, 0), nullptr);
    EXPECT_EQ(CreatePlayer(&module, 44100, PlayerRules::Demo, OUTPUT_RING_BLOCKS + 1), nullptr);
    EXPECT_EQ(module.playerCount.load(), 0); // nothing refused stays counted
    DestroyPlayer(nullptr);                  // harmless
    // A record without buffers is never rendered into.
    Player bare{};
    bare.mixer.fillBlock = 3;
    MixBlock(&bare);
    EXPECT_EQ(bare.mixer.fillBlock, 3);
}

TEST(PlayerReset, VoicesAreClearedNumberedAndGivenStepOne) {
    BareModule module;
    Player* player = CreatePlayer(&module, 44100, PlayerRules::Demo);
    ASSERT_NE(player, nullptr);
    player->voices[5].sample = &silentSample;
    player->voices[5].volumeLeft = 99;
    player->voices[63].positionFraction = 7;
    player->voices[63].voiceNumber = 31;
    ResetPlayback(player);
    for (int v = 0; v < MIXED_VOICES; ++v) {
        ASSERT_EQ(player->voices[v].voiceNumber, v);
        ASSERT_EQ(player->voices[v].increment, 1);
        ASSERT_EQ(player->voices[v].incrementFraction, 0u);
        ASSERT_EQ(player->voices[v].sample, nullptr);
    }
    EXPECT_EQ(player->voices[5].volumeLeft, 0);
    EXPECT_EQ(player->voices[63].positionFraction, 0u);
    DestroyPlayer(player);
}

void SetGlobalVolume17(Player* player) {
    player->globalVolume = 17;
}

TEST(PlayerReset, ResetsTheSongAndPreFillsTheWholeRing) {
    ModulePtr song = LoadSong(xmw::MinimalSong());
    ASSERT_TRUE(song);
    Player* player = CreatePlayer(song.get(), 44100, PlayerRules::Demo, OUTPUT_RING_BLOCKS);
    ASSERT_NE(player, nullptr);
    const MixerState& mixer = player->mixer;
    player->row = 12;
    player->orderPosition = 3;
    player->elapsedMs = 5000;
    player->speed = 2;
    player->startHandler = SetGlobalVolume17;
    ResetPlayback(player);
    PrefillRing(player);
    EXPECT_EQ(mixer.fillBlock, 0);
    EXPECT_EQ(player->speed, 6);
    EXPECT_EQ(player->bpm, 125);
    EXPECT_EQ(player->globalVolume, 17); // the start handler ran after the reset
    // The whole ring (about 2 s) was rendered: the song has moved on, and the note of its
    // first row is in the ring.
    EXPECT_EQ(player->framesMixed, mixer.ringFrames);
    EXPECT_EQ(player->elapsedMs, static_cast<int32_t>(mixer.blockPositions[99].timeMs));
    EXPECT_GE(player->elapsedMs, 1900);
    bool sound = false;
    for (int32_t k = 0; k < 2 * mixer.ringFrames; ++k) sound = sound || mixer.outputRing[k] != 0;
    EXPECT_TRUE(sound);
    EXPECT_EQ(static_cast<int32_t>(mixer.blockPositions[0].timeMs), 19);
    const std::vector<int16_t> first(mixer.outputRing, mixer.outputRing + 2 * mixer.ringFrames);

    // Starting again renders the same ring from the start.
    ResetPlayback(player);
    EXPECT_EQ(player->elapsedMs, 0);
    EXPECT_EQ(player->framesMixed, 0);
    PrefillRing(player);
    EXPECT_EQ(player->elapsedMs, static_cast<int32_t>(mixer.blockPositions[99].timeMs));
    EXPECT_EQ(static_cast<int32_t>(mixer.blockPositions[0].timeMs), 19);
    EXPECT_EQ(std::vector<int16_t>(mixer.outputRing, mixer.outputRing + 2 * mixer.ringFrames),
              first);
    DestroyPlayer(player);
}

} // namespace
