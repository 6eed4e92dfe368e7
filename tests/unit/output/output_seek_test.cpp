// output_seek_test.cpp: seeking by time and the repeat count through the output, against the
// fake device: the blocks after a seek are those of a straight render, a fast seek jumps without
// touching what the ring still has to play, and a repeat count ends the playback like the Stop
// end mode does, after the last pass.
#include "fake_device.h"

#include "memory_files.h"
#include "music/player.h"
#include "music/seeking.h"
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

// The first `count` blocks of a straight render.
std::vector<Block> Straight(const Module* module, int count) {
    std::vector<Block> blocks;
    Player* player = CreatePlayer(module, 44100, PlayerRules::Demo);
    for (int i = 0; i < count; ++i) {
        Block block(size_t(BLOCK_FRAMES) * 2);
        RenderPcm16(player, block.data(), BLOCK_FRAMES);
        blocks.push_back(block);
    }
    DestroyPlayer(player);
    return blocks;
}

bool CommandsTaken(const MusicOutput* output) {
    const uint32_t now = output->passes.load();
    return WaitUntil([output, now] { return output->passes.load() - now >= 2; });
}

OutputNow Now(MusicOutput* output) {
    OutputNow now;
    EXPECT_TRUE(GetOutputNow(output, &now));
    return now;
}

TEST(OutputSeek, AnExactSeekPlaysTheStraightRendersBlocksFromTheTargetsBlock) {
    TickingSong song;
    ASSERT_NE(song.module, nullptr);
    const std::vector<Block> straight = Straight(song.module, 140);
    MusicOutput* out = CreateFakeOutput(0);
    ASSERT_TRUE(OpenWaveOutput(out, 44100));
    ASSERT_EQ(StartPlayback(out, song.module), 1);
    // Back (the ring holds blocks 0-99), then forward past the ring; the target lies inside a
    // block, whose start the ring goes to.
    struct Case {
        int block;
        int64_t offset;
    };
    const Case cases[] = {{30, 100}, {120, 0}};
    int heard = 0;
    for (const Case& c : cases) {
        ASSERT_TRUE(
            SeekOutputFrame(out, int64_t(c.block) * BLOCK_FRAMES + c.offset, SeekMode::Exact));
        EXPECT_TRUE(Now(out).seekPending);
        EXPECT_EQ(Now(out).seekFrame, int64_t(c.block) * BLOCK_FRAMES + c.offset);
        ASSERT_TRUE(CommandsTaken(out));
        // The device moves on two blocks: they are re-rendered from the target's block on.
        const int first = heard;
        heard += 2;
        MoveDeviceTo(BlockBytes(heard));
        ASSERT_TRUE(WaitForHeardBlock(out, heard));
        EXPECT_EQ(RingBlock(out->player, first), straight[size_t(c.block)]) << c.block;
        EXPECT_EQ(RingBlock(out->player, first + 1), straight[size_t(c.block) + 1]) << c.block;
        // The block the device plays now was left as the pre-fill made it.
        EXPECT_EQ(RingBlock(out->player, heard), straight[size_t(heard)]);
    }
    EXPECT_FALSE(SeekOutputFrame(out, -5, SeekMode::Fast));
    DestroyMusicOutput(out);
}

TEST(OutputSeek, AFastSeekGoesToTheFrameAndTheClockFollows) {
    TickingSong song;
    ASSERT_NE(song.module, nullptr);
    MusicOutput* out = CreateFakeOutput(0);
    ASSERT_TRUE(OpenWaveOutput(out, 44100));
    ASSERT_EQ(StartPlayback(out, song.module), 1);
    const int64_t target = 44100 * 3 + 123;
    ASSERT_TRUE(SeekOutputFrame(out, target, SeekMode::Fast));
    ASSERT_TRUE(CommandsTaken(out));
    MoveDeviceTo(BlockBytes(1));
    ASSERT_TRUE(WaitForHeardBlock(out, 1));
    EXPECT_TRUE(Now(out).seekPending) << "the pre-fill is still being heard";
    MoveDeviceTo(BlockBytes(0, 1));
    ASSERT_TRUE(WaitForHeardBlock(out, 0));
    const OutputNow now = Now(out);
    EXPECT_FALSE(now.seekPending);
    EXPECT_EQ(now.block.songFrames, target + BLOCK_FRAMES);
    // The position is the straight render's at the same frame.
    Player* reference = CreatePlayer(song.module, 44100, PlayerRules::Demo);
    ASSERT_TRUE(SeekFrame(reference, target + BLOCK_FRAMES, SeekMode::Fast));
    EXPECT_EQ(now.block.position.order, reference->position.order);
    EXPECT_EQ(now.block.position.row, reference->position.row);
    DestroyPlayer(reference);
    DestroyMusicOutput(out);
}

TEST(OutputRepeat, TheRingHoldsTheSongThatManyTimesThenSilence) {
    // Four rows at speed 1: a pass is four ticks, and three passes end inside the twelfth block.
    xmw::Song written = xmw::MinimalSong(4);
    written.speed = 1;
    Module* module = LoadModuleBytes(xmw::WriteXm(written));
    ASSERT_NE(module, nullptr);
    Player* reference = CreatePlayer(module, 44100, PlayerRules::Demo);
    SetRepeatCount(reference, 3);
    Block expected(size_t(16) * BLOCK_FRAMES * 2, 0);
    const int32_t frames = RenderPcm16(reference, expected.data(), 16 * BLOCK_FRAMES);
    DestroyPlayer(reference);
    EXPECT_GT(frames, 11 * BLOCK_FRAMES);
    EXPECT_LT(frames, 12 * BLOCK_FRAMES);

    OutputSettings settings;
    settings.ringBlocks = 16;
    MusicOutput* out = CreateMusicOutput(ResetFakeDevice(0), PlayerRules::Demo, &settings);
    ASSERT_NE(out, nullptr);
    fake.owner = out;
    ASSERT_TRUE(OpenWaveOutput(out, 44100));
    SetOutputRepeatCount(out, 3);
    ASSERT_EQ(StartPlayback(out, module), 1);
    Block ring;
    for (int b = 0; b < 16; ++b) {
        const Block block = RingBlock(out->player, b);
        ring.insert(ring.end(), block.begin(), block.end());
    }
    EXPECT_EQ(ring, expected);
    MoveDeviceTo(uint64_t(12) * BLOCK_FRAMES * 4u);
    ASSERT_TRUE(WaitForHeardBlock(out, 12));
    EXPECT_TRUE(Now(out).finished);
    EXPECT_EQ(Now(out).block.loops, 3);
    EXPECT_FALSE(SeekOutputFrame(out, 0, SeekMode::Exact)) << "an ended song stays ended";
    DestroyMusicOutput(out);
    FreeModule(module);
}

} // namespace
