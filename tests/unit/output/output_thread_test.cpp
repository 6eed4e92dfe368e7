// output_thread_test.cpp: playback start and stop and the output thread, against the fake device.
// The thread's work is checked against a reference render of the same song made in the test by
// rendering block after block without a thread.
#include "fake_device.h"

#include "memory_files.h"
#include "music/file_access.h"
#include "music/output.h"
#include "music/playback.h"
#include "xm_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct Reference {
    std::vector<std::vector<int16_t>> blocks; // by render: 0-99 the pre-fill, then the thread's
    std::vector<BlockPosition> positions;
};

std::vector<int16_t> RingBlock(int32_t block) {
    const int16_t* first = mixer.outputRing + size_t(block) * mixer.blockFrames * 2;
    return std::vector<int16_t>(first, first + size_t(mixer.blockFrames) * 2);
}

// Renders `renders` blocks from playback start, as the ring would receive them.
Reference RenderReference(Module* module, int renders) {
    Reference ref;
    if (!PreparePlayback(module)) return ref;
    const int32_t blocks = mixer.ringFrames / mixer.blockFrames;
    for (int32_t b = 0; b < blocks && b < renders; ++b) {
        ref.blocks.push_back(RingBlock(b));
        ref.positions.push_back(mixer.blockPositions[b]);
    }
    for (int i = blocks; i < renders; ++i) {
        const int32_t b = mixer.fillBlock;
        MixBlock();
        ref.blocks.push_back(RingBlock(b));
        ref.positions.push_back(mixer.blockPositions[b]);
    }
    ReleasePlaybackBuffers();
    return ref;
}

class OutputThread : public ::testing::Test {
  protected:
    void SetUp() override {
        InstallFakeDevice();
        InstallMemoryFileCallbacks();
        ASSERT_TRUE(OpenWaveOutput(44100));
    }
    void TearDown() override {
        StopPlayback(&song.module);
        CloseWaveOutput();
        SetWaveDevice(nullptr);
    }
    SyntheticSong song;
    Module* module = &song.module;
};

TEST_F(OutputThread, PrefilledRingIsHandedOverWhole) {
    const Reference ref = RenderReference(module, 100);
    ASSERT_EQ(ref.blocks.size(), 100u);
    ASSERT_EQ(StartPlayback(module), 1);
    EXPECT_EQ(fake.handOvers, 1);
    EXPECT_EQ(fake.ring, mixer.outputRing);
    EXPECT_EQ(fake.ringBytes, 353600u);
    EXPECT_EQ(mixer.fillBlock, 0);
    for (int b = 0; b < 100; ++b) ASSERT_EQ(RingBlock(b), ref.blocks[b]) << "block " << b;
    EXPECT_TRUE(WaitUntil([] { return fake.threadStarts.load() == 1; }));
}

TEST_F(OutputThread, NothingIsRenderedUntilTheDeviceLeavesBlockZero) {
    const Reference ref = RenderReference(module, 101);
    ASSERT_EQ(StartPlayback(module), 1);
    const int ticksAfterPrefill = syntheticTicks.load();

    MoveDeviceTo(BlockBytes(0, 0, 100));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    MoveDeviceTo(BlockBytes(0, 0, 883)); // last frame of block 0
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(syntheticTicks.load(), ticksAfterPrefill);
    EXPECT_EQ(output.heardBlock.load(), 0);

    MoveDeviceTo(BlockBytes(1));
    ASSERT_TRUE(WaitForHeardBlock(1));
    EXPECT_EQ(mixer.fillBlock, 1);
    EXPECT_EQ(RingBlock(0), ref.blocks[100]); // block 0 again, with the song's next 20 ms
    EXPECT_EQ(RingBlock(1), ref.blocks[1]);   // the block being played is left alone
    EXPECT_GT(syntheticTicks.load(), ticksAfterPrefill);
}

TEST_F(OutputThread, ThreadHeldUpLongerThanTheRingCatchesUpWithoutSkipping) {
    const Reference ref = RenderReference(module, 145);
    ASSERT_EQ(StartPlayback(module), 1);

    // Three whole rings and 40 blocks played before the thread looked again.
    MoveDeviceTo(BlockBytes(40, 3, 10));
    ASSERT_TRUE(WaitForHeardBlock(40));
    for (int b = 0; b < 40; ++b) ASSERT_EQ(RingBlock(b), ref.blocks[100 + b]) << "block " << b;
    for (int b = 40; b < 100; ++b) ASSERT_EQ(RingBlock(b), ref.blocks[b]) << "block " << b;

    MoveDeviceTo(BlockBytes(45, 3));
    ASSERT_TRUE(WaitForHeardBlock(45));
    for (int b = 40; b < 45; ++b) ASSERT_EQ(RingBlock(b), ref.blocks[100 + b]) << "block " << b;
    EXPECT_EQ(mixer.fillBlock, 45);
}

TEST_F(OutputThread, QueriesReportTheBlockBeingHeard) {
    const Reference ref = RenderReference(module, 103);
    ASSERT_EQ(StartPlayback(module), 1);

    auto expectHeard = [&](const BlockPosition& entry) {
        // Copies: the packed entry's fields are not aligned for binding to references.
        const int order = entry.order, row = entry.row;
        const int32_t timeMs = entry.timeMs;
        EXPECT_EQ(GetPlayingOrder(module), order);
        EXPECT_EQ(GetPlayingRow(module), row);
        EXPECT_EQ(GetPlayingTime(module), timeMs);
    };
    expectHeard(ref.positions[0]);
    MoveDeviceTo(BlockBytes(1, 0, 500));
    ASSERT_TRUE(WaitForHeardBlock(1));
    expectHeard(ref.positions[1]);
    MoveDeviceTo(BlockBytes(99));
    ASSERT_TRUE(WaitForHeardBlock(99));
    expectHeard(ref.positions[99]);
    // Into the second loop: block 0 now holds the entry of its second render.
    MoveDeviceTo(BlockBytes(0, 1));
    ASSERT_TRUE(WaitForHeardBlock(0));
    expectHeard(ref.positions[100]);
    MoveDeviceTo(BlockBytes(2, 1));
    ASSERT_TRUE(WaitForHeardBlock(2));
    expectHeard(ref.positions[102]);
    EXPECT_NE(int32_t(ref.positions[102].timeMs), int32_t(ref.positions[2].timeMs));

    EXPECT_EQ(GetPlayingOrder(nullptr), 0);
    EXPECT_EQ(GetPlayingRow(nullptr), 0);
    EXPECT_EQ(GetPlayingTime(nullptr), 0);
}

TEST_F(OutputThread, DeviceCountWrapKeepsTheBlockMappingContinuous) {
    ASSERT_EQ(StartPlayback(module), 1);
    auto blockAt = [](uint64_t bytes) {
        return int32_t((bytes / 4) % uint64_t(mixer.ringFrames) / uint64_t(mixer.blockFrames));
    };
    // Walk the count up to the wrap in steps below 4 GiB, as a device polled every 5 ms does.
    const uint64_t steps[] = {0x40000000ull, 0x80000000ull,  0xC0000000ull,
                              0xFFFFF000ull, 0x100010000ull, 0x100400000ull};
    for (uint64_t bytes : steps) {
        MoveDeviceTo(bytes);
        ASSERT_TRUE(WaitForHeardBlock(blockAt(bytes))) << "at byte " << bytes;
    }
    // Taken modulo 2^32 the last two counts would map to other blocks.
    EXPECT_NE(blockAt(0x100010000ull), blockAt(0x10000ull));
    EXPECT_NE(blockAt(0x100400000ull), blockAt(0x400000ull));
}

TEST_F(OutputThread, StopResetsTheDeviceBeforeReleasingAndTwiceIsHarmless) {
    ASSERT_EQ(StartPlayback(module), 1);
    MoveDeviceTo(BlockBytes(3));
    ASSERT_TRUE(WaitForHeardBlock(3));

    EXPECT_EQ(StopPlayback(module), 1);
    EXPECT_EQ(fake.resets, 1);
    EXPECT_FALSE(fake.ringFreedWhileHeld);
    EXPECT_EQ(fake.ring, nullptr);
    EXPECT_TRUE(output.threadFinished.load());
    EXPECT_FALSE(output.threadRunning);
    EXPECT_EQ(mixer.playingModule, nullptr);
    EXPECT_EQ(mixer.mixBuffer, nullptr);
    EXPECT_EQ(mixer.blockPositions, nullptr);
    EXPECT_EQ(GetPlayingRow(module), 0);
    EXPECT_EQ(GetPlayingTime(module), 0);

    EXPECT_EQ(StopPlayback(module), 1);
    EXPECT_EQ(fake.resets, 1);
    EXPECT_EQ(StopPlayback(nullptr), 0);
}

TEST_F(OutputThread, StartWithoutAnOpenDevicePlaysNothing) {
    CloseWaveOutput();
    syntheticTicks.store(0);
    EXPECT_EQ(StartPlayback(module), 0);
    EXPECT_EQ(StartPlayback(nullptr), 0);
    EXPECT_EQ(fake.handOvers, 0);
    EXPECT_EQ(fake.threadStarts.load(), 0);
    EXPECT_EQ(mixer.outputRing, nullptr);
    EXPECT_EQ(mixer.playingModule, nullptr);
    EXPECT_FALSE(output.threadRunning);
    EXPECT_EQ(syntheticTicks.load(), 0);
}

TEST_F(OutputThread, StartingAgainWhilePlayingStopsTheFirstPlayback) {
    ASSERT_EQ(StartPlayback(module), 1);
    MoveDeviceTo(BlockBytes(7));
    ASSERT_TRUE(WaitForHeardBlock(7));
    ASSERT_EQ(StartPlayback(module), 1);
    EXPECT_EQ(fake.resets, 1);
    EXPECT_EQ(fake.handOvers, 2);
    // The new playback starts from block 0 with a fresh song position.
    EXPECT_EQ(output.heardBlock.load(), 0);
    MoveDeviceTo(BlockBytes(1));
    ASSERT_TRUE(WaitForHeardBlock(1));
    EXPECT_EQ(mixer.fillBlock, 1);
}

TEST_F(OutputThread, ClosingTheDeviceWhilePlayingStopsThePlaybackFirst) {
    ASSERT_EQ(StartPlayback(module), 1);
    MoveDeviceTo(BlockBytes(2));
    ASSERT_TRUE(WaitForHeardBlock(2));
    CloseWaveOutput();
    EXPECT_FALSE(output.threadRunning);
    EXPECT_EQ(mixer.playingModule, nullptr);
    EXPECT_FALSE(fake.ringFreedWhileHeld);
    EXPECT_EQ(fake.ring, nullptr);
    EXPECT_EQ(fake.closes, 1);
    // A new open may change every size; nothing is left that uses the old ones.
    EXPECT_TRUE(OpenWaveOutput(22050));
    EXPECT_EQ(StartPlayback(module), 1);
    EXPECT_EQ(fake.ringBytes, 44400u * 4u);
}

// A stand-in for the device's own thread: moves the play position on, half a block a
// millisecond, until told to stop.
class MovingDevice {
  public:
    MovingDevice()
        : mover_([this] {
              while (!quit_.load()) {
                  fake.position.fetch_add(uint32_t(mixer.blockFrames) * 2u);
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          }) {}
    ~MovingDevice() {
        quit_.store(true);
        mover_.join();
    }

  private:
    std::atomic<bool> quit_{false};
    std::thread mover_;
};

TEST_F(OutputThread, RepeatedStartStopCyclesLeaveNothingBehind) {
    MovingDevice device;
    constexpr int CYCLES = 60;
    for (int i = 0; i < CYCLES; ++i) {
        ASSERT_EQ(StartPlayback(module), 1);
        const int ticksAfterPrefill = syntheticTicks.load();
        if (i % 2 == 0) {
            // Let the thread render something before half of the stops.
            ASSERT_TRUE(WaitUntil([&] { return syntheticTicks.load() > ticksAfterPrefill; }));
        }
        ASSERT_EQ(StopPlayback(module), 1);
        ASSERT_FALSE(output.threadRunning);
        ASSERT_EQ(mixer.outputRing, nullptr);
    }
    EXPECT_EQ(fake.handOvers, CYCLES);
    EXPECT_EQ(fake.resets, CYCLES);
    EXPECT_EQ(fake.threadStarts.load(), CYCLES);
}

TEST_F(OutputThread, FreeingTheSongWhilePlayingStopsTheThreadFirst) {
    InstallMemoryFile("song.xm", xmw::WriteXm(xmw::MinimalSong()));
    Module* loaded = LoadModule("song.xm", nullptr);
    ASSERT_NE(loaded, nullptr);
    ASSERT_EQ(StartPlayback(loaded), 1);
    {
        MovingDevice device;
        ASSERT_TRUE(WaitUntil([] { return output.heardBlock.load() > 3; }));
        EXPECT_EQ(FreeModule(loaded), 1);
    }
    EXPECT_FALSE(output.threadRunning);
    EXPECT_EQ(mixer.playingModule, nullptr);
    EXPECT_EQ(fake.resets, 1);
    EXPECT_FALSE(fake.ringFreedWhileHeld);
    EXPECT_EQ(fake.ring, nullptr);
    ClearMemoryFiles();
}

TEST(OutputOpen, SizesFollowTheRate) {
    InstallFakeDevice();
    InstallMemoryFileCallbacks();
    ASSERT_TRUE(OpenWaveOutput(44100));
    EXPECT_EQ(fake.openRate, 44100);
    EXPECT_EQ(mixer.blockFrames, 884);
    EXPECT_EQ(mixer.ringFrames, 88400);
    EXPECT_EQ(mixer.rampLength, 128);
    EXPECT_EQ(voices[200].voiceNumber, 200);
    EXPECT_EQ(voices[200].increment, 1);

    ASSERT_TRUE(OpenWaveOutput(22050));
    EXPECT_EQ(fake.closes, 1); // the first device was closed before the second open
    EXPECT_EQ(mixer.blockFrames, 444);
    EXPECT_EQ(mixer.ringFrames, 44400);
    EXPECT_EQ(mixer.rampLength, 64);
    CloseWaveOutput();
    EXPECT_EQ(fake.closes, 2);
    CloseWaveOutput();
    EXPECT_EQ(fake.closes, 2);
    SetWaveDevice(nullptr);
}

TEST(OutputOpen, RefusalsLeaveNoDeviceOpen) {
    InstallFakeDevice();
    SetFileCallbacks(nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_FALSE(OpenWaveOutput(44100)); // no file operations
    EXPECT_EQ(fake.opens, 0);

    InstallMemoryFileCallbacks();
    EXPECT_FALSE(OpenWaveOutput(0));
    EXPECT_FALSE(OpenWaveOutput(49)); // a block would hold no frame
    EXPECT_FALSE(OpenWaveOutput(1 << 30));
    EXPECT_EQ(fake.opens, 0);
    fake.refuseOpen = true;
    EXPECT_FALSE(OpenWaveOutput(44100));
    EXPECT_EQ(fake.opens, 1);
    EXPECT_FALSE(output.deviceOpen);
    CloseWaveOutput();
    EXPECT_EQ(fake.closes, 0);

    SetWaveDevice(nullptr);
    EXPECT_FALSE(OpenWaveOutput(44100)); // no device installed
    WaveDevice incomplete = {};
    incomplete.open = [](int) { return true; };
    SetWaveDevice(&incomplete);
    EXPECT_FALSE(WaveDeviceInstalled());
}

} // namespace
