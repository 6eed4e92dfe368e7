// players_test.cpp: players side by side. Two songs played at once in two threads, and one song
// played by several players in several threads, give exactly the bytes each player gives alone;
// a song that a player still plays cannot be freed. The songs are the demo's and a corpus song.
#include <gtest/gtest.h>

#include <algorithm>
#include <barrier>
#include <string>
#include <thread>
#include <vector>

#include "music/file_access.h"
#include "music/module.h"
#include "music/player.h"

namespace {

constexpr int32_t RATE = 44100;
// A few seconds: enough for many rows, notes and envelopes, short enough under ThreadSanitizer.
constexpr int32_t FRAMES = 3 * RATE;

std::string DemoSong() {
    return std::string(DEMO_DATA_DIR) + "/Zarq-Neat.xm";
}
std::string CorpusSong(const char* name) {
    return std::string(DEMO_SHARED_DIR) + "/xm-corpus/songs/" + name;
}

// A loaded song, freed at the end of the test.
struct Song {
    explicit Song(const std::string& path) {
        module = LoadModule(&standardFileCallbacks, path.c_str(), nullptr, &error);
    }
    ~Song() { FreeModule(module); }
    Song(const Song&) = delete;
    Song& operator=(const Song&) = delete;
    Module* module = nullptr;
    LoadError error{};
};

// Renders `frames` frames from playback start on `player` in pieces of `piece` frames; stops
// short when the player hands out fewer.
std::vector<int16_t> Render(Player* player, int32_t frames, int32_t piece) {
    std::vector<int16_t> pcm(size_t(frames) * 2);
    int32_t at = 0;
    while (at < frames) {
        const int32_t n = std::min(piece, frames - at);
        const int32_t got = RenderPcm16(player, pcm.data() + size_t(at) * 2, n);
        at += got;
        if (got < n) break;
    }
    pcm.resize(size_t(at) * 2);
    return pcm;
}

// The same with a player of its own.
std::vector<int16_t> RenderAlone(const Module* module, int32_t frames, int32_t piece) {
    Player* player = CreatePlayer(module, RATE, PlayerRules::Demo);
    if (!player) return {};
    std::vector<int16_t> pcm = Render(player, frames, piece);
    DestroyPlayer(player);
    return pcm;
}

bool Audible(const std::vector<int16_t>& pcm) {
    return std::any_of(pcm.begin(), pcm.end(), [](int16_t v) { return v != 0; });
}

// Where two renders first differ, for the failure message.
size_t FirstDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    return i;
}

TEST(PlayersSideBySide, TwoSongsInTwoThreadsRenderAsEachAlone) {
    Song demo(DemoSong()), other(CorpusSong("JUHO_-_Ihana_paiva.xm"));
    ASSERT_NE(demo.module, nullptr) << demo.error.message;
    if (!other.module) GTEST_SKIP() << "corpus song missing: " << other.error.message;
    const std::vector<int16_t> aloneDemo = RenderAlone(demo.module, FRAMES, 884);
    const std::vector<int16_t> aloneOther = RenderAlone(other.module, FRAMES, 884);
    ASSERT_EQ(aloneDemo.size(), size_t(FRAMES) * 2);
    ASSERT_EQ(aloneOther.size(), size_t(FRAMES) * 2);
    ASSERT_TRUE(Audible(aloneDemo));
    ASSERT_TRUE(Audible(aloneOther));

    // Both players are made first and the threads start rendering together, so that their
    // blocks really are mixed at the same time.
    Player* a = CreatePlayer(demo.module, RATE, PlayerRules::Demo);
    Player* b = CreatePlayer(other.module, RATE, PlayerRules::Demo);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    std::vector<int16_t> sideDemo, sideOther;
    std::barrier start(2);
    std::thread first([&] {
        start.arrive_and_wait();
        sideDemo = Render(a, FRAMES, 884);
    });
    std::thread second([&] {
        start.arrive_and_wait();
        sideOther = Render(b, FRAMES, 884);
    });
    first.join();
    second.join();
    DestroyPlayer(a);
    DestroyPlayer(b);
    EXPECT_TRUE(sideDemo == aloneDemo)
        << "first difference at value " << FirstDifference(sideDemo, aloneDemo);
    EXPECT_TRUE(sideOther == aloneOther)
        << "first difference at value " << FirstDifference(sideOther, aloneOther);
}

TEST(PlayersSideBySide, OneSongInSeveralThreadsRendersTheSameBytesInEach) {
    Song demo(DemoSong());
    ASSERT_NE(demo.module, nullptr) << demo.error.message;
    const std::vector<int16_t> alone = RenderAlone(demo.module, FRAMES, 884);
    ASSERT_EQ(alone.size(), size_t(FRAMES) * 2);
    ASSERT_TRUE(Audible(alone));

    // Each thread makes, renders and destroys a player of its own, all on the one song; the
    // pieces differ between threads, which must not matter either.
    constexpr int THREADS = 4;
    const int32_t pieces[THREADS] = {884, 1, 1000, 4410};
    std::vector<std::vector<int16_t>> renders(THREADS);
    std::barrier start(THREADS);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            renders[size_t(t)] = RenderAlone(demo.module, FRAMES, pieces[t]);
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(demo.module->playerCount.load(), 0);
    for (int t = 0; t < THREADS; ++t) {
        EXPECT_TRUE(renders[size_t(t)] == alone)
            << "thread " << t << " (pieces of " << pieces[t] << "): first difference at value "
            << FirstDifference(renders[size_t(t)], alone);
    }
}

TEST(PlayersSideBySide, ASongInUseIsNotFreedUntilItsLastPlayerGoes) {
    // A second load of the same file renders the reference, so that nothing the refused free
    // might have damaged takes part in it.
    Song reference(DemoSong());
    ASSERT_NE(reference.module, nullptr);
    const std::vector<int16_t> expected = RenderAlone(reference.module, 2 * RATE, 884);
    ASSERT_TRUE(Audible(expected));

    LoadError error{};
    Module* song = LoadModule(&standardFileCallbacks, DemoSong().c_str(), nullptr, &error);
    ASSERT_NE(song, nullptr) << error.message;
    Player* first = CreatePlayer(song, RATE, PlayerRules::Demo);
    Player* second = CreatePlayer(song, RATE, PlayerRules::Demo);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    std::vector<int16_t> pcm = Render(first, RATE, 884);

    EXPECT_EQ(FreeModule(song), 0);
    // Nothing was freed: the player goes on with its patterns and samples (under the address
    // sanitizer a freed one would be reported here).
    const std::vector<int16_t> rest = Render(first, RATE, 884);
    pcm.insert(pcm.end(), rest.begin(), rest.end());
    EXPECT_TRUE(pcm == expected) << "first difference at value " << FirstDifference(pcm, expected);

    DestroyPlayer(first);
    EXPECT_EQ(FreeModule(song), 0); // the second player still plays it
    EXPECT_EQ(Render(second, 2 * RATE, 884), expected);
    DestroyPlayer(second);
    EXPECT_EQ(FreeModule(song), 1);
    EXPECT_EQ(FreeModule(nullptr), 0);
}

} // namespace
