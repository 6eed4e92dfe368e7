// Whole songs made by others, rendered through a player in 884-frame pieces: every file renders
// to its first wrap (as the player's wrap watch sees it; capped) with the positions the player
// reports moving only as the flow-control rules allow, and rendering a song twice gives the same
// bytes.
#include "sequencer_harness.h"

#include <algorithm>
#include <string>

#include "music/file_access.h"

using seqtest::CorpusDir;
using seqtest::CorpusFiles;
namespace fs = std::filesystem;

namespace {

// Checks each row tick's (order, row) against the cells of the row played before it.
struct FlowCheck {
    bool started;
    int32_t order, row;
    std::string violation;
    int64_t rowTicks;
};

int32_t RowCountAt(const Module* m, int32_t order) {
    if (order < 0 || order >= m->songLength || m->orders[order] >= m->patternCount) return 0;
    return m->patterns[m->orders[order]].rowCount;
}

bool Allowed(const FlowCheck& flow, const Module* m, const PatternCell* previous, int32_t order,
             int32_t row) {
    const int32_t next = flow.order + 1 >= m->songLength ? m->restartPosition : flow.order + 1;
    if (flow.row + 1 < RowCountAt(m, flow.order) ? order == flow.order && row == flow.row + 1
                                                 : order == next && row == 0)
        return true;
    bool jumpOrBreak = false, loop = false;
    std::vector<int32_t> orders{0, flow.order + 1 >= m->songLength ? 0 : flow.order + 1};
    std::vector<int32_t> rows{0};
    for (int c = 0; c < std::min<int>(m->channelCount, MAX_CHANNELS); ++c) {
        const PatternCell& cell = previous[c];
        const int p = cell.effectParameter;
        if (cell.effect == 0x0B) {
            jumpOrBreak = true;
            orders.push_back(p >= m->songLength ? 0 : p);
        } else if (cell.effect == 0x0D) {
            jumpOrBreak = true;
            const int target = (p >> 4) * 10 + (p & 15);
            rows.push_back(target > 63 ? 0 : target);
        } else if (cell.effect == 0x0E && (p >> 4) == 6 && (p & 15) != 0) {
            loop = true;
        }
    }
    if (jumpOrBreak && std::count(orders.begin(), orders.end(), order) &&
        std::count(rows.begin(), rows.end(), row))
        return true;
    // A pattern loop goes back within the order (to a row remembered on any earlier row), or
    // ends the pattern when that row lies beyond it.
    return loop && (order == flow.order || (order == next && row == 0));
}

// The player's tick, then a look at where its row tick went (the position the player reports).
// The check's record is the handler's context.
void CheckingTick(Player* player) {
    FlowCheck& flow = *static_cast<FlowCheck*>(player->handlerContext);
    const PatternCell* previous = player->currentRowCells; // the row played before this tick
    SequencerTick(player);
    if (player->position.tick != 0) return;
    const Module* m = player->module;
    const int32_t order = player->position.order;
    const int32_t row = player->position.row;
    if (flow.started && flow.violation.empty() && !Allowed(flow, m, previous, order, row))
        flow.violation = "(" + std::to_string(flow.order) + "," + std::to_string(flow.row) +
                         ") -> (" + std::to_string(order) + "," + std::to_string(row) + ")";
    if (order < 0 || order >= std::max<int>(m->songLength, 1))
        flow.violation = "order " + std::to_string(order) + " outside the song";
    flow.started = true;
    flow.order = order;
    flow.row = row;
    ++flow.rowTicks;
}

struct Rendered {
    bool loaded = false;
    int64_t blocks = 0;
    uint64_t hash = 1469598103934665603ull;
};

// Renders 884-frame blocks until the song wraps (or `maxSeconds`), hashing the 16-bit output.
Rendered Render(const fs::path& file, double maxSeconds, FlowCheck& flow) {
    Rendered result;
    Module* module = LoadModule(&standardFileCallbacks, file.c_str(), nullptr);
    if (module == nullptr) return result;
    result.loaded = true;
    flow = FlowCheck{};
    Player* player = CreatePlayer(module, 44100, PlayerRules::Demo);
    if (!player) {
        ADD_FAILURE() << "no player for " << file;
        FreeModule(module);
        return result;
    }
    player->tickHandler = CheckingTick;
    player->handlerContext = &flow;
    const int32_t blockFrames = player->mixer.blockFrames;
    const int64_t maxBlocks = static_cast<int64_t>(maxSeconds * 44100 / blockFrames);
    std::vector<int16_t> block(2 * static_cast<size_t>(blockFrames));
    while (player->watch.wraps == 0 && result.blocks < maxBlocks) {
        EXPECT_EQ(RenderPcm16(player, block.data(), blockFrames), blockFrames);
        const auto* bytes = reinterpret_cast<const uint8_t*>(block.data());
        for (size_t i = 0; i < block.size() * 2; ++i)
            result.hash = (result.hash ^ bytes[i]) * 1099511628211ull;
        ++result.blocks;
    }
    DestroyPlayer(player);
    FreeModule(module);
    return result;
}

void RenderFolder(const char* folder, double maxSeconds, bool twice) {
    const auto files = CorpusFiles(folder);
    if (files.empty()) GTEST_SKIP() << "no XM files in " << (CorpusDir() / folder);
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        FlowCheck flow;
        const Rendered first = Render(file, maxSeconds, flow);
        if (!first.loaded) continue; // refused by the loader: its own tests cover that
        EXPECT_EQ(flow.violation, "") << "position moved against the flow rules";
        EXPECT_GT(flow.rowTicks, 0);
        if (twice) {
            FlowCheck again;
            const Rendered second = Render(file, maxSeconds, again);
            EXPECT_EQ(second.blocks, first.blocks);
            EXPECT_EQ(second.hash, first.hash) << "two renders differ";
        }
    }
}

} // namespace

TEST(SongsCorpus, EffectModulesRenderDeterministicallyWithinTheFlowRules) {
    RenderFolder("effects", 120, true);
}

TEST(SongsCorpus, DamagedModulesRenderSafelyWhenTheyLoad) {
    RenderFolder("edge", 120, true);
}

TEST(SongsCorpus, SongsRenderToTheirWrapWithinTheFlowRules) {
    RenderFolder("songs", 600, false);
}

TEST(SongsCorpus, ASongRendersTheSameBytesTwice) {
    const auto files = CorpusFiles("songs");
    if (files.empty()) GTEST_SKIP() << "no XM files in " << (CorpusDir() / "songs");
    FlowCheck flow, again;
    const Rendered first = Render(files.front(), 30, flow);
    if (!first.loaded) GTEST_SKIP() << files.front() << " did not load";
    const Rendered second = Render(files.front(), 30, again);
    EXPECT_EQ(first.blocks, second.blocks);
    EXPECT_EQ(first.hash, second.hash);
}
