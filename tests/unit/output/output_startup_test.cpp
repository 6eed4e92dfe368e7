// output_startup_test.cpp: the music start-up's two failure lines and its success, run in a
// scratch folder with the fake device.
#include "fake_device.h"

#include "music/output.h"
#include "xm_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class MusicStartup : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetFakeDevice(0);
        previous_ = fs::current_path();
        folder_ = fs::path(::testing::TempDir()) /
                  ("music_startup_" + std::to_string(getpid()) + "_" +
                   std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        fs::current_path(folder_);
    }
    void TearDown() override {
        DestroyMusicOutput(out_);
        fs::current_path(previous_);
        fs::remove_all(folder_);
    }
    // Runs StartMusic on a fresh fake device (one that refuses to open, if asked) and returns
    // what it printed; the output it made is out_ (destroyed by the next start and at the end
    // of the test).
    std::string StartMusicPrinting(bool refuseOpen = false) {
        DestroyMusicOutput(out_);
        const WaveDevice* device = ResetFakeDevice(0);
        fake.refuseOpen = refuseOpen;
        ::testing::internal::CaptureStdout();
        out_ = StartMusic(device);
        return ::testing::internal::GetCapturedStdout();
    }
    fs::path previous_, folder_;
    MusicOutput* out_ = nullptr;
};

TEST_F(MusicStartup, PlaysTheSongFromTheWorkingFolder) {
    ASSERT_TRUE(xmw::SaveXm(xmw::MinimalSong(), "Zarq-Neat.xm"));
    EXPECT_EQ(StartMusicPrinting(), "");
    ASSERT_NE(out_, nullptr);
    EXPECT_EQ(fake.openRate, 44100);
    EXPECT_EQ(fake.handOvers, 1);
    EXPECT_EQ(fake.ringBytes, 353600u);
    ASSERT_NE(out_->song, nullptr);
    ASSERT_NE(out_->player, nullptr);
    EXPECT_EQ(out_->player->module, out_->song);
    EXPECT_EQ(out_->player->rules, PlayerRules::Demo);
    EXPECT_TRUE(WaitUntil([] { return fake.threadStarts.load() == 1; }));
}

TEST_F(MusicStartup, MissingSongClosesTheDeviceAndSaysSo) {
    EXPECT_EQ(StartMusicPrinting(), "Error loading song\n");
    ASSERT_NE(out_, nullptr);
    EXPECT_EQ(out_->song, nullptr);
    EXPECT_EQ(out_->player, nullptr);
    EXPECT_EQ(fake.opens, 1);
    EXPECT_EQ(fake.closes, 1);
    EXPECT_EQ(fake.handOvers, 0);
}

TEST_F(MusicStartup, RefusedDeviceSaysSoAndStillLoadsTheSong) {
    EXPECT_EQ(StartMusicPrinting(true), "Error upon initialization.\nError loading song\n");
    ASSERT_NE(out_, nullptr);
    EXPECT_EQ(out_->player, nullptr);

    ASSERT_TRUE(xmw::SaveXm(xmw::MinimalSong(), "Zarq-Neat.xm"));
    EXPECT_EQ(StartMusicPrinting(true), "Error upon initialization.\n");
    ASSERT_NE(out_, nullptr);
    EXPECT_NE(out_->song, nullptr); // loaded, but there is nothing to play it on
    EXPECT_EQ(out_->player, nullptr);
    EXPECT_EQ(fake.handOvers, 0);
}

} // namespace
