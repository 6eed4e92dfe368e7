// output_startup_test.cpp: the music start-up's two failure lines and its success, run in a
// scratch folder with the fake device.
#include "fake_device.h"

#include "music/output.h"
#include "music/playback.h"
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
        InstallFakeDevice();
        previous_ = fs::current_path();
        folder_ = fs::path(::testing::TempDir()) /
                  ("music_startup_" + std::to_string(getpid()) + "_" +
                   std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        fs::current_path(folder_);
    }
    void TearDown() override {
        if (song) {
            FreeModule(song);
            song = nullptr;
        }
        CloseWaveOutput();
        SetWaveDevice(nullptr);
        fs::current_path(previous_);
        fs::remove_all(folder_);
    }
    // Runs StartMusic and returns what it printed.
    std::string StartMusicPrinting(int* result) {
        ::testing::internal::CaptureStdout();
        *result = StartMusic();
        return ::testing::internal::GetCapturedStdout();
    }
    fs::path previous_, folder_;
};

TEST_F(MusicStartup, PlaysTheSongFromTheWorkingFolder) {
    ASSERT_TRUE(xmw::SaveXm(xmw::MinimalSong(), "Zarq-Neat.xm"));
    int result = -1;
    EXPECT_EQ(StartMusicPrinting(&result), "");
    EXPECT_EQ(result, 1);
    EXPECT_EQ(fake.openRate, 44100);
    EXPECT_EQ(fake.handOvers, 1);
    EXPECT_EQ(fake.ringBytes, 353600u);
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(mixer.playingModule, song);
    EXPECT_TRUE(WaitUntil([] { return fake.threadStarts.load() == 1; }));
}

TEST_F(MusicStartup, MissingSongClosesTheDeviceAndSaysSo) {
    int result = -1;
    EXPECT_EQ(StartMusicPrinting(&result), "Error loading song\n");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(song, nullptr);
    EXPECT_EQ(fake.opens, 1);
    EXPECT_EQ(fake.closes, 1);
    EXPECT_EQ(fake.handOvers, 0);
}

TEST_F(MusicStartup, RefusedDeviceSaysSoAndStillLoadsTheSong) {
    fake.refuseOpen = true;
    int result = -1;
    EXPECT_EQ(StartMusicPrinting(&result), "Error upon initialization.\nError loading song\n");
    EXPECT_EQ(result, 0);

    ASSERT_TRUE(xmw::SaveXm(xmw::MinimalSong(), "Zarq-Neat.xm"));
    EXPECT_EQ(StartMusicPrinting(&result), "Error upon initialization.\n");
    EXPECT_EQ(result, 0); // loaded, but there is nothing to play it on
    EXPECT_NE(song, nullptr);
    EXPECT_EQ(fake.handOvers, 0);
    EXPECT_EQ(mixer.playingModule, nullptr);
}

} // namespace
