// The player as its callers see it: pull rendering in pieces of any size, the two rule sets, two
// players of one song keeping their own state, and the song's length to its first wrap.
#include "sequencer_harness.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <type_traits>

#include "music/file_access.h"

using seqtest::Cell;
using seqtest::CorpusDir;
using seqtest::CorpusFiles;
using seqtest::Harness;

namespace {

struct PlayerDeleter {
    void operator()(Player* player) const { DestroyPlayer(player); }
};
using PlayerPtr = std::unique_ptr<Player, PlayerDeleter>;

struct SongDeleter {
    void operator()(Module* module) const { FreeModule(module); }
};
using SongPtr = std::unique_ptr<Module, SongDeleter>;

SongPtr LoadCorpusSong(const std::filesystem::path& file) {
    return SongPtr(LoadModule(&standardFileCallbacks, file.c_str(), nullptr));
}

// A song that keeps the mixer busy: four tracks with notes on several voices at once, a
// ping-pong and a forward loop, vibrato and a volume slide, and a tempo whose ticks last a
// fractional number of frames, so that ticks, ramps and loop ends fall anywhere in a block.
xmw::Song BusySong() {
    xmw::Song song = seqtest::BasicSong(4, 16);
    song.speed = 3;
    song.bpm = 97;
    xmw::Instrument bouncing = song.instruments[0];
    bouncing.samples[0].loop = xmw::Loop::PingPong;
    bouncing.samples[0].loopStart = 100;
    bouncing.samples[0].loopLength = 777;
    bouncing.samples[0].panning = 30;
    song.instruments.push_back(bouncing);
    auto& p = song.patterns[0];
    p.At(0, 0) = Cell("C-4", 1, 0, 0x04, 0x46);
    p.At(0, 1) = Cell("E-5", 2);
    p.At(2, 2) = Cell("G-3", 2, 0x20, 0x0A, 0x02);
    p.At(4, 3) = Cell("C-6", 1, 0, 0x08, 0xF0);
    p.At(5, 0) = Cell("D-4", 1, 0, 0x0F, 0x53);
    p.At(8, 1) = Cell("off");
    p.At(9, 2) = Cell("A-4", 2, 0, 0x0E, 0x92);
    p.At(12, 3) = Cell("F-2", 1, 0, 0x0F, 0x02);
    return song;
}

// Renders `total` frames from a fresh player, asking for the piece sizes of `pieces` in turn
// (over and over); `Sample` is int16_t or float.
template <typename Sample>
std::vector<Sample> RenderInPieces(const Module* song, PlayerRules rules, int32_t total,
                                   const std::vector<int32_t>& pieces) {
    PlayerPtr player(CreatePlayer(song, 44100, rules));
    std::vector<Sample> out(2 * static_cast<size_t>(total));
    if (!player) {
        ADD_FAILURE() << "no player";
        return out;
    }
    int32_t done = 0;
    for (size_t i = 0; done < total; ++i) {
        const int32_t n = std::min(pieces[i % pieces.size()], total - done);
        int32_t got;
        if constexpr (std::is_same_v<Sample, int16_t>)
            got = RenderPcm16(player.get(), out.data() + 2 * done, n);
        else
            got = RenderFloat(player.get(), out.data() + 2 * done, n);
        if (got != n) {
            ADD_FAILURE() << "asked for " << n << " frames, got " << got;
            break;
        }
        done += n;
    }
    return out;
}

// The first frame at which two renders differ, or -1.
template <typename Sample>
int64_t FirstDifference(const std::vector<Sample>& a, const std::vector<Sample>& b) {
    if (a.size() != b.size()) return 0;
    for (size_t k = 0; k < a.size(); ++k)
        if (std::memcmp(&a[k], &b[k], sizeof(Sample)) != 0) return static_cast<int64_t>(k / 2);
    return -1;
}

// Piece sizes: single frames, sizes just around a block, larger than several blocks, and a
// fixed-seed random mix of all of them.
std::vector<std::vector<int32_t>> PieceSchedules() {
    std::vector<std::vector<int32_t>> schedules = {{1}, {7}, {883}, {885}, {4096}};
    std::mt19937 random(20261209);
    std::uniform_int_distribution<int32_t> size(1, 5000);
    std::vector<int32_t> mixed;
    for (int i = 0; i < 200; ++i) mixed.push_back(size(random));
    schedules.push_back(mixed);
    return schedules;
}

template <typename Sample> void ExpectAnyPiecesMatchBlocks(const Module* song, int32_t total) {
    const std::vector<Sample> blocks =
        RenderInPieces<Sample>(song, PlayerRules::Demo, total, {884});
    bool sound = false;
    for (Sample v : blocks) sound = sound || v != 0;
    EXPECT_TRUE(sound) << "the reference render is silent";
    for (const auto& pieces : PieceSchedules()) {
        const auto split = RenderInPieces<Sample>(song, PlayerRules::Demo, total, pieces);
        EXPECT_EQ(FirstDifference(split, blocks), -1)
            << "pieces of " << pieces.front() << (pieces.size() > 1 ? " (random mix)" : "")
            << " differ from 884-frame blocks at that frame";
    }
}

} // namespace

TEST(PlayerPieces, WriterSongGivesTheSameBytesInPiecesOfAnySize) {
    SongPtr song(LoadModuleBytes(xmw::WriteXm(BusySong())));
    ASSERT_TRUE(song);
    // Five seconds: the song wraps within the first two, so later passes are covered too.
    const int32_t total = 5 * 44100 + 123;
    ExpectAnyPiecesMatchBlocks<int16_t>(song.get(), total);
    ExpectAnyPiecesMatchBlocks<float>(song.get(), total);
}

TEST(PlayerPieces, CorpusSongGivesTheSameBytesInPiecesOfAnySize) {
    SongPtr song;
    for (const auto& file : CorpusFiles("songs"))
        if (!song) song = LoadCorpusSong(file);
    if (!song) GTEST_SKIP() << "no XM file that loads in " << (CorpusDir() / "songs");
    const int32_t total = 8 * 44100 + 5;
    ExpectAnyPiecesMatchBlocks<int16_t>(song.get(), total);
    ExpectAnyPiecesMatchBlocks<float>(song.get(), total);
}

TEST(PlayerPieces, FloatFramesAreThe16BitFramesBeforeRounding) {
    SongPtr song(LoadModuleBytes(xmw::WriteXm(BusySong())));
    ASSERT_TRUE(song);
    const int32_t total = 44100;
    const auto pcm = RenderInPieces<int16_t>(song.get(), PlayerRules::Demo, total, {1000});
    const auto floats = RenderInPieces<float>(song.get(), PlayerRules::Demo, total, {1000});
    int64_t far = -1;
    for (size_t k = 0; k < pcm.size() && far < 0; ++k) {
        const float scaled = floats[k] * 32768.0f;
        const float limited = std::min(std::max(scaled, -32768.0f), 32767.0f);
        if (std::fabs(limited - pcm[k]) > 0.5f) far = static_cast<int64_t>(k);
    }
    EXPECT_EQ(far, -1);
}

// The standard rules play notes, envelopes and panning by their own law, so their frames are no
// longer the demo's mirrored; the side that carries more of the song is still swapped.
TEST(PlayerRuleSets, StandardAndDemoRulesPutTheSongOnOppositeSides) {
    xmw::Song busy = BusySong();
    // Vibrato's depth is finer under the standard rules: the two rule sets part there.
    busy.patterns[0].At(0, 0) = Cell("C-4", 1);
    SongPtr song(LoadModuleBytes(xmw::WriteXm(busy)));
    ASSERT_TRUE(song);
    const int32_t total = 3 * 44100;
    const auto demo = RenderInPieces<int16_t>(song.get(), PlayerRules::Demo, total, {884});
    const auto standard = RenderInPieces<int16_t>(song.get(), PlayerRules::Standard, total, {884});
    double demoSides[2] = {0, 0}, standardSides[2] = {0, 0};
    for (int32_t f = 0; f < total; ++f)
        for (int side = 0; side < 2; ++side) {
            demoSides[side] += static_cast<double>(demo[2 * f + side]) * demo[2 * f + side];
            standardSides[side] +=
                static_cast<double>(standard[2 * f + side]) * standard[2 * f + side];
        }
    ASSERT_NE(demoSides[0], demoSides[1]) << "the song must not sound the same on both sides";
    EXPECT_EQ(demoSides[0] > demoSides[1], standardSides[1] > standardSides[0]);
}

TEST(PlayerRuleSets, PanningZeroIsLeftUnderStandardRulesAndTheSecondChannelUnderTheDemos) {
    xmw::Song song = seqtest::BasicSong(1, 4);
    song.instruments[0].samples[0].panning = 0;
    song.patterns[0].At(0, 0) = Cell("C-4", 1);
    for (PlayerRules rules : {PlayerRules::Standard, PlayerRules::Demo}) {
        Harness run(song, rules);
        ASSERT_TRUE(run.loaded());
        std::vector<int16_t> frames(2 * 4096);
        ASSERT_EQ(RenderPcm16(run.player(), frames.data(), 4096), 4096);
        int32_t loudFirst = 0, loudSecond = 0;
        for (int f = 0; f < 4096; ++f) {
            loudFirst = std::max(loudFirst, std::abs(int32_t{frames[2 * f]}));
            loudSecond = std::max(loudSecond, std::abs(int32_t{frames[2 * f + 1]}));
        }
        const bool standard = rules == PlayerRules::Standard;
        SCOPED_TRACE(standard ? "standard rules" : "demo rules");
        EXPECT_EQ(standard ? loudSecond : loudFirst, 0);
        EXPECT_GT(standard ? loudFirst : loudSecond, 1000);
    }
}

TEST(PlayerIsolation, FinetuneSetByOnePlayerStaysInThatPlayer) {
    xmw::Song song = seqtest::BasicSong(1, 4);
    song.speed = 1;
    song.patterns[0].At(0, 0) = Cell("C-4", 1);
    song.patterns[0].At(1, 0) = Cell(nullptr, 0, 0, 0x0E, 0x5C); // finetune 12 from here on
    song.patterns[0].At(2, 0) = Cell("C-4", 1);
    Harness run(song);
    ASSERT_TRUE(run.loaded());
    PlayerPtr second(CreatePlayer(run.module(), 44100, PlayerRules::Demo));
    ASSERT_TRUE(second);
    const Sample* sample = run.module()->instruments[0].samples[0];

    run.Ticks(3); // the first player plays all three rows
    EXPECT_EQ(run.channel(0).period, 4608 - 12 / 2);
    SequencerTick(second.get()); // the second one its first row only
    EXPECT_EQ(second->channels[0].period, 4608);
    EXPECT_EQ(SampleFinetune(second.get(), sample), 0);
    EXPECT_EQ(sample->finetune, 0); // the song is never written

    // A player made after the change, and the first one started again, play the song's own.
    PlayerPtr third(CreatePlayer(run.module(), 44100, PlayerRules::Demo));
    ASSERT_TRUE(third);
    EXPECT_EQ(SampleFinetune(third.get(), sample), 0);
    ResetPlayback(run.player());
    EXPECT_EQ(SampleFinetune(run.player(), sample), 0);
    run.Ticks(3);
    EXPECT_EQ(run.channel(0).period, 4608 - 12 / 2);
    SequencerTick(second.get());
    SequencerTick(second.get());
    EXPECT_EQ(second->channels[0].period, 4608 - 12 / 2); // its own E5 now
}

namespace {

// Renders 884-frame blocks until the song's first wrap (at most `maxFrames`); the frame of its
// row tick as the render saw it, or -1.
int64_t RenderedFirstWrap(const Module* song, int64_t maxFrames) {
    PlayerPtr player(CreatePlayer(song, 44100, PlayerRules::Demo));
    if (!player) return -1;
    std::vector<int16_t> block(2 * 884);
    while (player->watch.wraps == 0 && player->framesMixed < maxFrames)
        RenderPcm16(player.get(), block.data(), 884);
    return player->watch.wraps > 0 ? player->watch.firstFrame : -1;
}

} // namespace

TEST(PlayerLength, FramesToFirstWrapAgreesWithTheRenderOfAWriterSong) {
    xmw::Song song = BusySong();
    song.orders = {0, 0};
    song.restartPosition = 1;
    SongPtr module(LoadModuleBytes(xmw::WriteXm(song)));
    ASSERT_TRUE(module);
    const int64_t max = 60 * 44100;
    const int64_t rendered = RenderedFirstWrap(module.get(), max);
    ASSERT_GT(rendered, 0);
    EXPECT_EQ(FramesToFirstWrap(module.get(), 44100, max), rendered);
    // Cut short before the wrap, there is none to report.
    EXPECT_EQ(FramesToFirstWrap(module.get(), 44100, rendered / 2), -1);
}

TEST(PlayerLength, FramesToFirstWrapAgreesWithTheRenderOfRealSongs) {
    // The demo's song, the corpus songs the loader takes, and a few files whose flow-control
    // commands (loops, breaks, delays) decide where the song wraps.
    std::vector<std::filesystem::path> files = {std::filesystem::path(DEMO_DATA_DIR) /
                                                "Zarq-Neat.xm"};
    for (const auto& file : CorpusFiles("songs")) files.push_back(file);
    for (const char* name : {"PatLoop-Jumps.xm", "PatternDelays.xm", "pattern_jump_ft2_break.xm"})
        files.push_back(CorpusDir() / "effects" / name);
    const int64_t max = int64_t{10} * 60 * 44100;
    int checked = 0;
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        SongPtr song = LoadCorpusSong(file);
        if (!song) continue; // absent, or refused by the loader (its own tests cover that)
        const int64_t rendered = RenderedFirstWrap(song.get(), max);
        EXPECT_GT(rendered, 0) << "did not wrap within 10 minutes";
        EXPECT_EQ(FramesToFirstWrap(song.get(), 44100, max), rendered);
        ++checked;
    }
    ASSERT_GT(checked, 0) << "not even the demo's song loaded";
    if (checked == 1) GTEST_SKIP() << "no corpus in " << CorpusDir() << ": the demo's song only";
}
