// compat_test.cpp: the committed song sounds the same in a mature peer player as in ours. Both
// render at 44100 Hz in 884-frame blocks from the start; after every block both must stand at
// the same order position and row, and both must reach the song's end at the same time.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "committed_song.h"

#if SONG_HAVE_PEER
#include <libopenmpt/libopenmpt.h>
#endif

using song_check::CommittedRendering;
using song_check::Position;

namespace {

#if SONG_HAVE_PEER

struct PeerRender {
    bool opened = false;
    double durationSeconds = 0;
    std::vector<Position> blockEnd;
};

PeerRender RenderWithPeer(const std::vector<uint8_t>& bytes, int rate, int blockFrames) {
    PeerRender peer;
    openmpt_module* module =
        openmpt_module_create_from_memory2(bytes.data(), bytes.size(), openmpt_log_func_silent,
                                           nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    if (!module) return peer;
    peer.opened = true;
    peer.durationSeconds = openmpt_module_get_duration_seconds(module);
    std::vector<int16_t> block(2 * size_t(blockFrames));
    // The peer stops at the song's end rather than going back to the restart position.
    while (openmpt_module_read_interleaved_stereo(module, rate, size_t(blockFrames), block.data()) >
           0) {
        peer.blockEnd.push_back(
            {openmpt_module_get_current_order(module), openmpt_module_get_current_row(module)});
    }
    openmpt_module_destroy(module);
    return peer;
}

// True when `row` of the pattern at `order` jumps back to a loop's start (E6x, x > 0).
bool LoopsBackOnRow(const song_check::Song& song, int order, int row) {
    int pattern = song.orders[size_t(order)];
    for (int ch = 0; ch < song.channels; ++ch) {
        const song_check::Cell& c = song.At(pattern, row, ch);
        if (c.effect == 0xE && (c.parameter >> 4) == 6 && (c.parameter & 15)) return true;
    }
    return false;
}

TEST(Compat, PeerPlaysTheSameRowsAtTheSameTimesAndEndsTogether) {
    const song_check::Song& song = CommittedRendering();
    ASSERT_TRUE(song.rendered);
    ASSERT_TRUE(song.wrapped);
    const int blockFrames = 884;
    ASSERT_EQ(song.blockStart.size() > 1 ? song.blockStart[1] - song.blockStart[0] : 0,
              blockFrames);
    PeerRender peer = RenderWithPeer(song_check::CommittedBytes(), song.rate, blockFrames);
    ASSERT_TRUE(peer.opened) << "the peer cannot open " << song_check::CommittedPath();

    // Both report where they stand after a block the same way: the row whose ticks are playing.
    // One difference in convention: on the row that jumps back to a pattern loop's start, ours
    // already shows the row before the loop's start (the row it will advance from), the peer
    // the jumping row itself. Such a block counts as the same place when the next row the peer
    // enters is the one after ours. Anything else is a different sequence of rows.
    size_t blocks = std::min(size_t(song.wrapBlock), peer.blockEnd.size());
    ASSERT_GT(blocks, 10000u);
    int differences = 0;
    for (size_t b = 0; b < blocks && differences < 10; ++b) {
        Position ours = song.blockEnd[b], theirs = peer.blockEnd[b];
        if (ours.order == theirs.order && ours.row == theirs.row) continue;
        size_t next = b;
        while (next < peer.blockEnd.size() && peer.blockEnd[next].order == theirs.order &&
               peer.blockEnd[next].row == theirs.row)
            ++next;
        bool loopJump = ours.order == theirs.order &&
                        LoopsBackOnRow(song, theirs.order, theirs.row) &&
                        next < peer.blockEnd.size() && peer.blockEnd[next].order == ours.order &&
                        peer.blockEnd[next].row == ours.row + 1;
        if (loopJump) continue;
        ++differences;
        ADD_FAILURE() << "block " << b << " (" << song.Seconds(song.blockStart[b])
                      << " s): ours at order " << ours.order << " row " << ours.row
                      << ", the peer at order " << theirs.order << " row " << theirs.row;
    }
    double ours = song.Seconds(song.blockStart[size_t(song.wrapBlock)]);
    EXPECT_NEAR(peer.durationSeconds, ours, 0.5) << "song length: ours " << ours << " s";
}

#else

TEST(Compat, PeerPlaysTheSameRowsAtTheSameTimesAndEndsTogether) {
    GTEST_SKIP() << "libopenmpt was not found when the build was configured; install "
                    "libopenmpt-dev (scripts/packages.txt) to compare the song with it";
}

#endif

} // namespace
