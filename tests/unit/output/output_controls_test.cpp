// output_controls_test.cpp: what a player program asks of the output, against the fake devices:
// a short ring, pause, volume, seeks, a stop at the song's end, and a device that is lost while
// playing. Each ring is compared with a reference render made in the test without a thread.
#include "fake_device.h"

#include "memory_files.h"
#include "music/player.h"
#include "xm_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using Block = std::vector<int16_t>;

Block RingBlock(const Player* player, int32_t block) {
    const MixerState& mixer = player->mixer;
    const int16_t* first = mixer.outputRing + size_t(block) * mixer.blockFrames * 2;
    return Block(first, first + size_t(mixer.blockFrames) * 2);
}

// The blocks a 100-block ring receives: the pre-fill, then `after` re-rendered blocks, with
// `beforeLater` run on the player between the two (a seek, say).
template <typename Change>
std::vector<Block> Reference(const Module* module, int after, Change beforeLater) {
    std::vector<Block> blocks;
    Player* player = CreatePlayer(module, 44100, PlayerRules::Demo, OUTPUT_RING_BLOCKS);
    PrefillRing(player);
    for (int32_t b = 0; b < OUTPUT_RING_BLOCKS; ++b) blocks.push_back(RingBlock(player, b));
    beforeLater(player);
    for (int i = 0; i < after; ++i) {
        const int32_t b = player->mixer.fillBlock;
        MixBlock(player);
        blocks.push_back(RingBlock(player, b));
    }
    DestroyPlayer(player);
    return blocks;
}
std::vector<Block> Reference(const Module* module, int after) {
    return Reference(module, after, [](Player*) {});
}

bool Silent(const Block& block) {
    return std::all_of(block.begin(), block.end(), [](int16_t s) { return s == 0; });
}

Block Scaled(Block block, int percent) {
    for (int16_t& s : block) s = int16_t(std::clamp(s * percent / 100, -32768, 32767));
    return block;
}

// Waits until the output thread has begun and finished a whole pass after this call, so that a
// command given before it is in effect for every block rendered from then on.
bool CommandsTaken(const MusicOutput* output) {
    const uint32_t now = output->passes.load();
    return WaitUntil([output, now] { return output->passes.load() - now >= 2; });
}

OutputNow Now(MusicOutput* output) {
    OutputNow now;
    EXPECT_TRUE(GetOutputNow(output, &now));
    return now;
}

class OutputControls : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(module, nullptr);
        ASSERT_NE(out, nullptr);
        ASSERT_TRUE(OpenWaveOutput(out, 44100));
    }
    void TearDown() override { DestroyMusicOutput(out); }
    Block Ring(int32_t block) const { return RingBlock(out->player, block); }

    TickingSong song;
    const Module* module = song.module;
    MusicOutput* out = CreateFakeOutput(0);
};

TEST(OutputSettingsTest, AShortRingAndRefusedSettings) {
    TickingSong song;
    ASSERT_NE(song.module, nullptr);
    OutputSettings settings;
    settings.ringBlocks = 8;
    settings.passMs = 20;
    MusicOutput* out = CreateMusicOutput(ResetFakeDevice(0), PlayerRules::Demo, &settings);
    ASSERT_NE(out, nullptr);
    fake.owner = out;
    EXPECT_EQ(out->settings.stallMs, DEFAULT_STALL_MS);
    ASSERT_TRUE(OpenWaveOutput(out, 44100));
    ASSERT_EQ(StartPlayback(out, song.module), 1);
    EXPECT_EQ(fake.ringBytes, 8u * BLOCK_FRAMES * 4u);
    const std::vector<Block> ref = Reference(song.module, 0);
    for (int b = 0; b < 8; ++b) EXPECT_EQ(RingBlock(out->player, b), ref[b]) << "block " << b;
    // The eight blocks go round: the ninth render lands in block 0.
    MoveDeviceTo(uint64_t(9) * BLOCK_FRAMES * 4u);
    ASSERT_TRUE(WaitForHeardBlock(out, 1));
    EXPECT_EQ(Now(out).blocksPlayed, 9);
    DestroyMusicOutput(out);
    EXPECT_FALSE(fake.ringFreedWhileHeld);

    for (OutputSettings wrong :
         {OutputSettings{OUTPUT_RING_BLOCKS + 1, 0, 0}, OutputSettings{-1, 0, 0},
          OutputSettings{0, 2000, 0}, OutputSettings{0, 20, 10}})
        EXPECT_EQ(CreateMusicOutput(ResetFakeDevice(0), PlayerRules::Demo, &wrong), nullptr);
}

TEST_F(OutputControls, PauseRendersSilenceAndTheSongGoesOnWhereItStood) {
    const std::vector<Block> ref = Reference(module, 2);
    ASSERT_EQ(StartPlayback(out, module), 1);
    SetOutputPaused(out, true);
    ASSERT_TRUE(CommandsTaken(out));
    MoveDeviceTo(BlockBytes(3));
    ASSERT_TRUE(WaitForHeardBlock(out, 3));
    for (int b = 0; b < 3; ++b) EXPECT_TRUE(Silent(Ring(b))) << "block " << b;
    EXPECT_EQ(Ring(3), ref[3]); // the block being played is left alone

    SetOutputPaused(out, false);
    ASSERT_TRUE(CommandsTaken(out));
    MoveDeviceTo(BlockBytes(5));
    ASSERT_TRUE(WaitForHeardBlock(out, 5));
    // The song stood still through the pause: its next blocks are the first after the pre-fill.
    EXPECT_EQ(Ring(3), ref[100]);
    EXPECT_EQ(Ring(4), ref[101]);

    // Once round, the listener hears a silent block: no levels, the place the song stood.
    MoveDeviceTo(BlockBytes(1, 1));
    ASSERT_TRUE(WaitForHeardBlock(out, 1));
    const OutputNow now = Now(out);
    EXPECT_TRUE(now.block.silent);
    EXPECT_EQ(now.block.levels[0], 0);
    EXPECT_EQ(now.block.songFrames, int64_t(100) * BLOCK_FRAMES);
    EXPECT_EQ(now.blocksPlayed, 101);
}

TEST_F(OutputControls, VolumeScalesTheFrames) {
    const std::vector<Block> ref = Reference(module, 2);
    ASSERT_EQ(StartPlayback(out, module), 1);
    SetOutputVolume(out, 50);
    ASSERT_TRUE(CommandsTaken(out));
    MoveDeviceTo(BlockBytes(1));
    ASSERT_TRUE(WaitForHeardBlock(out, 1));
    EXPECT_EQ(Ring(0), Scaled(ref[100], 50));

    SetOutputVolume(out, 500); // taken as 200
    ASSERT_TRUE(CommandsTaken(out));
    MoveDeviceTo(BlockBytes(2));
    ASSERT_TRUE(WaitForHeardBlock(out, 2));
    EXPECT_EQ(Ring(1), Scaled(ref[101], 200));
    EXPECT_NE(Ring(1), ref[101]);
}

TEST_F(OutputControls, SeekMovesTheSongAndIsPendingUntilHeard) {
    int64_t reached = 0;
    const std::vector<Block> ref = Reference(module, 1, [&](Player* player) {
        player->framesPulled = int64_t(OUTPUT_RING_BLOCKS) * BLOCK_FRAMES;
        ASSERT_TRUE(SeekOrder(player, 3));
        reached = player->framesPulled;
    });
    ASSERT_EQ(StartPlayback(out, module), 1);
    EXPECT_FALSE(SeekOutput(out, -1));
    EXPECT_FALSE(SeekOutput(out, 8)); // the song has eight orders
    ASSERT_TRUE(SeekOutput(out, 3));
    OutputNow now = Now(out);
    EXPECT_TRUE(now.seekPending);
    EXPECT_EQ(now.seekOrder, 3);

    ASSERT_TRUE(CommandsTaken(out));
    MoveDeviceTo(BlockBytes(1));
    ASSERT_TRUE(WaitForHeardBlock(out, 1));
    EXPECT_EQ(Ring(0), ref[100]);
    EXPECT_TRUE(Now(out).seekPending); // the listener still hears the pre-fill

    MoveDeviceTo(BlockBytes(0, 1));
    ASSERT_TRUE(WaitForHeardBlock(out, 0));
    now = Now(out);
    EXPECT_FALSE(now.seekPending);
    EXPECT_EQ(now.block.position.order, 3);
    // The clock is the time the song reaches order 3 from its start, plus the block heard.
    EXPECT_GT(reached, 0);
    EXPECT_EQ(now.block.songFrames, reached + BLOCK_FRAMES);

    StopPlayback(out, module);
    EXPECT_FALSE(SeekOutput(out, 1)); // nothing plays
}

// One order of four rows at speed 1: the song comes back to its start after four ticks, inside
// the fourth block.
struct ShortSong {
    ShortSong() {
        xmw::Song song = xmw::MinimalSong(4);
        song.speed = 1;
        module = LoadModuleBytes(xmw::WriteXm(song));
    }
    ~ShortSong() { FreeModule(module); }
    Module* module = nullptr;
};

TEST(OutputEnd, StopAtTheEndGivesSilenceAndFinishesOnceHeard) {
    ShortSong song;
    ASSERT_NE(song.module, nullptr);
    // What pulling with the same end mode hands out: the song up to its return, nothing after.
    Player* reference = CreatePlayer(song.module, 44100, PlayerRules::Demo);
    ASSERT_NE(reference, nullptr);
    reference->endMode = EndMode::Stop;
    Block expected(size_t(8) * BLOCK_FRAMES * 2, 0);
    const int32_t frames = RenderPcm16(reference, expected.data(), 8 * BLOCK_FRAMES);
    DestroyPlayer(reference);
    ASSERT_GT(frames, 3 * BLOCK_FRAMES);
    ASSERT_LT(frames, 4 * BLOCK_FRAMES);

    OutputSettings settings;
    settings.ringBlocks = 8;
    MusicOutput* out = CreateMusicOutput(ResetFakeDevice(0), PlayerRules::Demo, &settings);
    ASSERT_NE(out, nullptr);
    fake.owner = out;
    ASSERT_TRUE(OpenWaveOutput(out, 44100));
    SetOutputEndMode(out, EndMode::Stop); // holds for the next playback, pre-fill included
    ASSERT_EQ(StartPlayback(out, song.module), 1);
    Block ring;
    for (int b = 0; b < 8; ++b) {
        const Block block = RingBlock(out->player, b);
        ring.insert(ring.end(), block.begin(), block.end());
    }
    EXPECT_EQ(ring, expected);

    MoveDeviceTo(uint64_t(3) * BLOCK_FRAMES * 4u);
    ASSERT_TRUE(WaitForHeardBlock(out, 3));
    EXPECT_FALSE(Now(out).finished); // the last block with sound is playing
    EXPECT_FALSE(Now(out).block.silent);
    MoveDeviceTo(uint64_t(4) * BLOCK_FRAMES * 4u);
    ASSERT_TRUE(WaitForHeardBlock(out, 4));
    EXPECT_TRUE(Now(out).finished);
    EXPECT_TRUE(Now(out).block.silent);
    EXPECT_FALSE(SeekOutput(out, 0)); // an ended song stays ended
    EXPECT_TRUE(Silent(RingBlock(out->player, 0)));

    // Going round instead, the same song sounds on in every block.
    SetOutputEndMode(out, EndMode::Wrap);
    ASSERT_EQ(StartPlayback(out, song.module), 1);
    EXPECT_FALSE(Silent(RingBlock(out->player, 4)));
    EXPECT_FALSE(Now(out).finished);
    DestroyMusicOutput(out);
}

TEST(LostDevice, ADeviceThatSaysItIsGoneIsLostAndTheThreadDoesNotSpin) {
    TickingSong song;
    ASSERT_NE(song.module, nullptr);
    MusicOutput* out = CreateFakeOutput(0);
    ASSERT_TRUE(OpenWaveOutput(out, 44100));
    ASSERT_EQ(StartPlayback(out, song.module), 1);
    EXPECT_FALSE(Now(out).deviceLost);
    fake.lost.store(true); // unplugged: the position stands still from now on
    ASSERT_TRUE(WaitUntil([&] { return Now(out).deviceLost; }));
    // The thread keeps its pace: a pass every 5 ms, not a loop that burns a core.
    const uint32_t passes = out->passes.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_LT(out->passes.load() - passes, 60u);
    // Stopping does not wait for the device.
    EXPECT_EQ(StopPlayback(out, song.module), 1);
    EXPECT_FALSE(out->threadRunning);

    // A device that works again starts afresh.
    fake.lost.store(false);
    ASSERT_EQ(StartPlayback(out, song.module), 1);
    EXPECT_FALSE(Now(out).deviceLost);
    DestroyMusicOutput(out);
}

TEST(LostDevice, APositionThatStandsStillIsALossAMovingOneIsNot) {
    TickingSong song;
    ASSERT_NE(song.module, nullptr);
    OutputSettings settings;
    settings.stallMs = 60; // twelve passes of 5 ms
    MusicOutput* out = CreateMusicOutput(ResetFakeDevice(0), PlayerRules::Demo, &settings);
    ASSERT_NE(out, nullptr);
    fake.owner = out;
    ASSERT_TRUE(OpenWaveOutput(out, 44100));
    ASSERT_EQ(StartPlayback(out, song.module), 1);
    {
        MovingDevice device;
        const uint32_t passes = out->passes.load();
        ASSERT_TRUE(WaitUntil([&] { return out->passes.load() - passes > 40; }));
        EXPECT_FALSE(Now(out).deviceLost);
    }
    // The device asked says nothing (it does not know); its position tells.
    const uint32_t stillFrom = out->passes.load();
    ASSERT_TRUE(WaitUntil([&] { return Now(out).deviceLost; }));
    EXPECT_GE(out->passes.load() - stillFrom, 12u);
    DestroyMusicOutput(out);
}

} // namespace
