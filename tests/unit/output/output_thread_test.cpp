// output_thread_test.cpp: playback start and stop and the output thread, against the fake
// devices. The thread's work is checked against a reference render of the same song made in the
// test by rendering block after block on a player of its own, without a thread.
#include "fake_device.h"

#include "memory_files.h"
#include "music/output.h"
#include "music/player.h"
#include "xm_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct Reference {
    std::vector<std::vector<int16_t>> blocks; // by render: 0-99 the pre-fill, then the thread's
    std::vector<BlockPosition> positions;
};

std::vector<int16_t> RingBlock(const Player* player, int32_t block) {
    const MixerState& mixer = player->mixer;
    const int16_t* first = mixer.outputRing + size_t(block) * mixer.blockFrames * 2;
    return std::vector<int16_t>(first, first + size_t(mixer.blockFrames) * 2);
}

// Renders `renders` blocks from playback start, as the output's ring would receive them.
Reference RenderReference(const Module* module, int renders) {
    Reference ref;
    Player* player = CreatePlayer(module, 44100, PlayerRules::Demo, OUTPUT_RING_BLOCKS);
    if (!player) return ref;
    PrefillRing(player);
    const MixerState& mixer = player->mixer;
    for (int32_t b = 0; b < OUTPUT_RING_BLOCKS && b < renders; ++b) {
        ref.blocks.push_back(RingBlock(player, b));
        ref.positions.push_back(mixer.blockPositions[b]);
    }
    for (int i = OUTPUT_RING_BLOCKS; i < renders; ++i) {
        const int32_t b = mixer.fillBlock;
        MixBlock(player);
        ref.blocks.push_back(RingBlock(player, b));
        ref.positions.push_back(mixer.blockPositions[b]);
    }
    DestroyPlayer(player);
    return ref;
}

class OutputThread : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(module, nullptr);
        ASSERT_NE(out, nullptr);
        ASSERT_TRUE(OpenWaveOutput(out, 44100));
    }
    void TearDown() override { DestroyMusicOutput(out); }
    // Blocks of the playback's ring; only while the output thread is idle.
    std::vector<int16_t> RingBlock(int32_t block) const { return ::RingBlock(out->player, block); }

    TickingSong song;
    const Module* module = song.module;
    MusicOutput* out = CreateFakeOutput(0);
};

TEST_F(OutputThread, PrefilledRingIsHandedOverWhole) {
    const Reference ref = RenderReference(module, 100);
    ASSERT_EQ(ref.blocks.size(), 100u);
    ASSERT_EQ(StartPlayback(out, module), 1);
    ASSERT_NE(out->player, nullptr);
    EXPECT_EQ(fake.handOvers, 1);
    EXPECT_EQ(fake.ring, out->player->mixer.outputRing);
    EXPECT_EQ(fake.ringBytes, 353600u);
    EXPECT_EQ(out->player->mixer.fillBlock, 0);
    for (int b = 0; b < 100; ++b) ASSERT_EQ(RingBlock(b), ref.blocks[b]) << "block " << b;
    EXPECT_TRUE(WaitUntil([] { return fake.threadStarts.load() == 1; }));
}

TEST_F(OutputThread, NothingIsRenderedUntilTheDeviceLeavesBlockZero) {
    const Reference ref = RenderReference(module, 101);
    ASSERT_EQ(StartPlayback(out, module), 1);

    MoveDeviceTo(BlockBytes(0, 0, 100));
    ASSERT_TRUE(WaitForServicePass());
    MoveDeviceTo(BlockBytes(0, 0, 883)); // last frame of block 0
    ASSERT_TRUE(WaitForServicePass());
    EXPECT_EQ(out->heardBlock.load(), 0);
    // Block 0 still holds the pre-fill's sound: a thread that rendered early would have
    // replaced it with the song's next 20 ms.
    EXPECT_EQ(RingBlock(0), ref.blocks[0]);

    MoveDeviceTo(BlockBytes(1));
    ASSERT_TRUE(WaitForHeardBlock(out, 1));
    EXPECT_EQ(out->player->mixer.fillBlock, 1);
    EXPECT_EQ(RingBlock(0), ref.blocks[100]); // block 0 again, with the song's next 20 ms
    EXPECT_EQ(RingBlock(1), ref.blocks[1]);   // the block being played is left alone
}

TEST_F(OutputThread, ThreadHeldUpLongerThanTheRingCatchesUpWithoutSkipping) {
    const Reference ref = RenderReference(module, 145);
    ASSERT_EQ(StartPlayback(out, module), 1);

    // Three whole rings and 40 blocks played before the thread looked again.
    MoveDeviceTo(BlockBytes(40, 3, 10));
    ASSERT_TRUE(WaitForHeardBlock(out, 40));
    for (int b = 0; b < 40; ++b) ASSERT_EQ(RingBlock(b), ref.blocks[100 + b]) << "block " << b;
    for (int b = 40; b < 100; ++b) ASSERT_EQ(RingBlock(b), ref.blocks[b]) << "block " << b;

    MoveDeviceTo(BlockBytes(45, 3));
    ASSERT_TRUE(WaitForHeardBlock(out, 45));
    for (int b = 40; b < 45; ++b) ASSERT_EQ(RingBlock(b), ref.blocks[100 + b]) << "block " << b;
    EXPECT_EQ(out->player->mixer.fillBlock, 45);
}

TEST_F(OutputThread, QueriesReportTheBlockBeingHeard) {
    const Reference ref = RenderReference(module, 103);
    ASSERT_EQ(StartPlayback(out, module), 1);

    auto expectHeard = [&](const BlockPosition& entry) {
        // Copies: the packed entry's fields are not aligned for binding to references.
        const int order = entry.order, row = entry.row;
        const int32_t timeMs = entry.timeMs;
        EXPECT_EQ(GetPlayingOrder(out, module), order);
        EXPECT_EQ(GetPlayingRow(out, module), row);
        EXPECT_EQ(GetPlayingTime(out, module), timeMs);
    };
    expectHeard(ref.positions[0]);
    MoveDeviceTo(BlockBytes(1, 0, 500));
    ASSERT_TRUE(WaitForHeardBlock(out, 1));
    expectHeard(ref.positions[1]);
    MoveDeviceTo(BlockBytes(99));
    ASSERT_TRUE(WaitForHeardBlock(out, 99));
    expectHeard(ref.positions[99]);
    // Into the second loop: block 0 now holds the entry of its second render.
    MoveDeviceTo(BlockBytes(0, 1));
    ASSERT_TRUE(WaitForHeardBlock(out, 0));
    expectHeard(ref.positions[100]);
    MoveDeviceTo(BlockBytes(2, 1));
    ASSERT_TRUE(WaitForHeardBlock(out, 2));
    expectHeard(ref.positions[102]);
    EXPECT_NE(int32_t(ref.positions[102].timeMs), int32_t(ref.positions[2].timeMs));
    // The song reaches its later orders within the ring, so the order is really reported.
    EXPECT_GT(int(ref.positions[99].order), 0);

    EXPECT_EQ(GetPlayingOrder(out, nullptr), 0);
    EXPECT_EQ(GetPlayingRow(out, nullptr), 0);
    EXPECT_EQ(GetPlayingTime(out, nullptr), 0);
    EXPECT_EQ(GetPlayingTime(nullptr, module), 0);
}

TEST_F(OutputThread, DeviceCountWrapKeepsTheBlockMappingContinuous) {
    ASSERT_EQ(StartPlayback(out, module), 1);
    auto blockAt = [](uint64_t bytes) {
        return int32_t((bytes / 4) % uint64_t(RING_FRAMES) / uint64_t(BLOCK_FRAMES));
    };
    // Walk the count up to the wrap in steps below 4 GiB, as a device polled every 5 ms does.
    const uint64_t steps[] = {0x40000000ull, 0x80000000ull,  0xC0000000ull,
                              0xFFFFF000ull, 0x100010000ull, 0x100400000ull};
    for (uint64_t bytes : steps) {
        MoveDeviceTo(bytes);
        ASSERT_TRUE(WaitForHeardBlock(out, blockAt(bytes))) << "at byte " << bytes;
    }
    // Taken modulo 2^32 the last two counts would map to other blocks.
    EXPECT_NE(blockAt(0x100010000ull), blockAt(0x10000ull));
    EXPECT_NE(blockAt(0x100400000ull), blockAt(0x400000ull));
}

TEST_F(OutputThread, StopResetsTheDeviceBeforeReleasingAndTwiceIsHarmless) {
    ASSERT_EQ(StartPlayback(out, module), 1);
    MoveDeviceTo(BlockBytes(3));
    ASSERT_TRUE(WaitForHeardBlock(out, 3));

    EXPECT_EQ(StopPlayback(out, module), 1);
    EXPECT_EQ(fake.resets, 1);
    EXPECT_FALSE(fake.ringFreedWhileHeld);
    EXPECT_EQ(fake.ring, nullptr);
    EXPECT_TRUE(out->threadFinished.load());
    EXPECT_FALSE(out->threadRunning);
    EXPECT_EQ(out->player, nullptr);
    EXPECT_EQ(module->playerCount.load(), 0);
    EXPECT_EQ(GetPlayingRow(out, module), 0);
    EXPECT_EQ(GetPlayingTime(out, module), 0);

    EXPECT_EQ(StopPlayback(out, module), 1);
    EXPECT_EQ(fake.resets, 1);
    EXPECT_EQ(StopPlayback(out, nullptr), 0);
}

TEST_F(OutputThread, StartWithoutAnOpenDevicePlaysNothing) {
    CloseWaveOutput(out);
    EXPECT_EQ(StartPlayback(out, module), 0);
    EXPECT_EQ(StartPlayback(out, nullptr), 0);
    EXPECT_EQ(StartPlayback(nullptr, module), 0);
    EXPECT_EQ(fake.handOvers, 0);
    EXPECT_EQ(fake.threadStarts.load(), 0);
    EXPECT_EQ(out->player, nullptr);
    EXPECT_EQ(module->playerCount.load(), 0);
    EXPECT_FALSE(out->threadRunning);
}

TEST_F(OutputThread, StartingAgainWhilePlayingStopsTheFirstPlayback) {
    const Reference ref = RenderReference(module, 101);
    ASSERT_EQ(StartPlayback(out, module), 1);
    MoveDeviceTo(BlockBytes(7));
    ASSERT_TRUE(WaitForHeardBlock(out, 7));
    ASSERT_EQ(StartPlayback(out, module), 1);
    EXPECT_EQ(fake.resets, 1);
    EXPECT_EQ(fake.handOvers, 2);
    EXPECT_EQ(module->playerCount.load(), 1); // the first playback's player is gone
    // The new playback starts from block 0 with a fresh song position.
    EXPECT_EQ(out->heardBlock.load(), 0);
    MoveDeviceTo(BlockBytes(1));
    ASSERT_TRUE(WaitForHeardBlock(out, 1));
    EXPECT_EQ(out->player->mixer.fillBlock, 1);
    EXPECT_EQ(RingBlock(0), ref.blocks[100]);
}

TEST_F(OutputThread, ClosingTheDeviceWhilePlayingStopsThePlaybackFirst) {
    ASSERT_EQ(StartPlayback(out, module), 1);
    MoveDeviceTo(BlockBytes(2));
    ASSERT_TRUE(WaitForHeardBlock(out, 2));
    CloseWaveOutput(out);
    EXPECT_FALSE(out->threadRunning);
    EXPECT_EQ(out->player, nullptr);
    EXPECT_FALSE(fake.ringFreedWhileHeld);
    EXPECT_EQ(fake.ring, nullptr);
    EXPECT_EQ(fake.closes, 1);
    // A new open may change every size; nothing is left that uses the old ones.
    EXPECT_TRUE(OpenWaveOutput(out, 22050));
    EXPECT_EQ(StartPlayback(out, module), 1);
    EXPECT_EQ(fake.ringBytes, 44400u * 4u);
}

TEST_F(OutputThread, RepeatedStartStopCyclesLeaveNothingBehind) {
    MovingDevice device;
    constexpr int CYCLES = 60;
    for (int i = 0; i < CYCLES; ++i) {
        ASSERT_EQ(StartPlayback(out, module), 1);
        // Let the thread render something before half of the stops.
        if (i % 2 == 0) {
            ASSERT_TRUE(WaitUntil([&] { return out->heardBlock.load() > 0; }));
        }
        ASSERT_EQ(StopPlayback(out, module), 1);
        ASSERT_FALSE(out->threadRunning);
        ASSERT_EQ(out->player, nullptr);
        ASSERT_EQ(module->playerCount.load(), 0);
    }
    EXPECT_EQ(fake.handOvers, CYCLES);
    EXPECT_EQ(fake.resets, CYCLES);
    EXPECT_EQ(fake.threadStarts.load(), CYCLES);
    EXPECT_FALSE(fake.ringFreedWhileHeld);
}

TEST_F(OutputThread, ASongThatIsPlayingCannotBeFreedUntilThePlaybackStops) {
    Module* loaded = LoadModuleBytes(xmw::WriteXm(xmw::MinimalSong()));
    ASSERT_NE(loaded, nullptr);
    ASSERT_EQ(StartPlayback(out, loaded), 1);
    {
        MovingDevice device;
        ASSERT_TRUE(WaitUntil([&] { return out->heardBlock.load() > 3; }));
        // Refused: the playback goes on, its thread still reading the song.
        EXPECT_EQ(FreeModule(loaded), 0);
        const int32_t heard = out->heardBlock.load();
        ASSERT_TRUE(WaitUntil([&] { return out->heardBlock.load() != heard; }));
        EXPECT_TRUE(out->threadRunning);
        EXPECT_EQ(fake.resets, 0);
    }
    EXPECT_EQ(out->player->module, loaded);
    EXPECT_EQ(StopPlayback(out, loaded), 1);
    EXPECT_FALSE(fake.ringFreedWhileHeld);
    EXPECT_EQ(FreeModule(loaded), 1);
}

TEST(OutputOpen, SizesFollowTheRate) {
    TickingSong song;
    ASSERT_NE(song.module, nullptr);
    MusicOutput* out = CreateFakeOutput(0);
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(OpenWaveOutput(out, 44100));
    EXPECT_EQ(fake.openRate, 44100);
    EXPECT_EQ(out->mixRate, 44100);
    ASSERT_EQ(StartPlayback(out, song.module), 1);
    EXPECT_EQ(out->player->mixer.blockFrames, 884);
    EXPECT_EQ(out->player->mixer.ringFrames, 88400);
    EXPECT_EQ(out->player->mixer.rampLength, 128);
    EXPECT_EQ(out->player->voices[63].voiceNumber, 63);

    ASSERT_TRUE(OpenWaveOutput(out, 22050));
    EXPECT_EQ(fake.closes, 1); // the first device was closed before the second open
    EXPECT_EQ(out->player, nullptr);
    ASSERT_EQ(StartPlayback(out, song.module), 1);
    EXPECT_EQ(fake.openRate, 22050);
    EXPECT_EQ(out->player->mixer.blockFrames, 444);
    EXPECT_EQ(out->player->mixer.ringFrames, 44400);
    EXPECT_EQ(out->player->mixer.rampLength, 64);
    CloseWaveOutput(out);
    EXPECT_EQ(fake.closes, 2);
    CloseWaveOutput(out);
    EXPECT_EQ(fake.closes, 2);
    DestroyMusicOutput(out);
}

TEST(OutputOpen, RefusalsLeaveNoDeviceOpen) {
    MusicOutput* out = CreateFakeOutput(0);
    ASSERT_NE(out, nullptr);
    EXPECT_FALSE(OpenWaveOutput(out, 0));
    EXPECT_FALSE(OpenWaveOutput(out, 49)); // a block would hold no frame
    EXPECT_FALSE(OpenWaveOutput(out, 1 << 30));
    EXPECT_FALSE(OpenWaveOutput(nullptr, 44100));
    EXPECT_EQ(fake.opens, 0);
    fake.refuseOpen = true;
    EXPECT_FALSE(OpenWaveOutput(out, 44100));
    EXPECT_EQ(fake.opens, 1);
    EXPECT_FALSE(out->deviceOpen);
    CloseWaveOutput(out);
    EXPECT_EQ(fake.closes, 0);
    DestroyMusicOutput(out);
    EXPECT_EQ(fake.closes, 0);

    // An output needs every required operation of its device.
    EXPECT_EQ(CreateMusicOutput(nullptr), nullptr);
    WaveDevice incomplete = *ResetFakeDevice(0);
    incomplete.position = nullptr;
    EXPECT_FALSE(WaveDeviceComplete(&incomplete));
    EXPECT_EQ(CreateMusicOutput(&incomplete), nullptr);
    incomplete = *ResetFakeDevice(0);
    incomplete.threadStarted = nullptr; // optional
    out = CreateMusicOutput(&incomplete);
    EXPECT_NE(out, nullptr);
    DestroyMusicOutput(out);
}

// Two outputs, each with its own fake device, playing two songs at once: each ring holds its
// own song's blocks as if it played alone, whichever way the devices move, and stopping one
// leaves the other playing.
TEST(OutputsSideBySide, TwoOutputsPlayingAtOnceDoNotInterfere) {
    TickingSong songA(0), songB(1);
    ASSERT_NE(songA.module, nullptr);
    ASSERT_NE(songB.module, nullptr);
    const Reference refA = RenderReference(songA.module, 130);
    const Reference refB = RenderReference(songB.module, 130);
    ASSERT_NE(refA.blocks[0], refB.blocks[0]);

    MusicOutput* a = CreateFakeOutput(0);
    MusicOutput* b = CreateFakeOutput(1);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    ASSERT_TRUE(OpenWaveOutput(a, 44100));
    ASSERT_TRUE(OpenWaveOutput(b, 44100));
    ASSERT_EQ(StartPlayback(a, songA.module), 1);
    ASSERT_EQ(StartPlayback(b, songB.module), 1);
    EXPECT_NE(a->player->mixer.outputRing, b->player->mixer.outputRing);
    EXPECT_EQ(fakes[0].ring, a->player->mixer.outputRing);
    EXPECT_EQ(fakes[1].ring, b->player->mixer.outputRing);

    // Both threads render at the same time.
    MoveDeviceTo(BlockBytes(20), 0);
    MoveDeviceTo(BlockBytes(10), 1);
    ASSERT_TRUE(WaitForHeardBlock(a, 20));
    ASSERT_TRUE(WaitForHeardBlock(b, 10));
    for (int blk = 0; blk < 20; ++blk)
        ASSERT_EQ(RingBlock(a->player, blk), refA.blocks[100 + blk]) << "A block " << blk;
    for (int blk = 20; blk < 100; ++blk)
        ASSERT_EQ(RingBlock(a->player, blk), refA.blocks[blk]) << "A block " << blk;
    for (int blk = 0; blk < 10; ++blk)
        ASSERT_EQ(RingBlock(b->player, blk), refB.blocks[100 + blk]) << "B block " << blk;
    const BlockPosition& heardA = refA.positions[20];
    const BlockPosition& heardB = refB.positions[10];
    EXPECT_EQ(GetPlayingTime(a, songA.module), int32_t(heardA.timeMs));
    EXPECT_EQ(GetPlayingTime(b, songB.module), int32_t(heardB.timeMs));

    // Stopping A resets A's device only; B plays on.
    EXPECT_EQ(StopPlayback(a, songA.module), 1);
    EXPECT_EQ(fakes[0].resets, 1);
    EXPECT_EQ(fakes[1].resets, 0);
    EXPECT_TRUE(b->threadRunning);
    MoveDeviceTo(BlockBytes(25), 1);
    ASSERT_TRUE(WaitForHeardBlock(b, 25));
    for (int blk = 10; blk < 25; ++blk)
        ASSERT_EQ(RingBlock(b->player, blk), refB.blocks[100 + blk]) << "B block " << blk;

    DestroyMusicOutput(a);
    DestroyMusicOutput(b);
    EXPECT_FALSE(fakes[0].ringFreedWhileHeld);
    EXPECT_FALSE(fakes[1].ringFreedWhileHeld);
    EXPECT_EQ(fakes[0].closes, 1);
    EXPECT_EQ(fakes[1].closes, 1);
}

} // namespace
