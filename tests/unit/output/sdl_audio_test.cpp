// sdl_audio_test.cpp: the SDL looping device through its disk and dummy drivers: the ring comes
// out whole and in order, loop after loop, and the position counts what was handed out.
#include "fake_device.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

class SdlAudio : public ::testing::Test {
  protected:
    void TearDown() override {
        platform::AudioClose();
        unsetenv("SDL_AUDIODRIVER");
        unsetenv("SDL_DISKAUDIOFILE");
        unsetenv("SDL_DISKAUDIODELAY");
    }
};

// A ring of 1000 frames in which no two frames are equal and no byte is 0, so that silence
// never matches it by chance.
std::vector<int16_t> NumberedRing() {
    std::vector<int16_t> ring;
    for (int i = 0; i < 1000; ++i) {
        const int value = (i / 255 + 1) * 256 + (i % 255 + 1);
        ring.push_back(int16_t(value));
        ring.push_back(int16_t(-value));
    }
    return ring;
}

TEST_F(SdlAudio, DiskDriverReceivesTheRingLoopAfterLoop) {
    // The process id keeps concurrent runs of several builds apart.
    const std::string path =
        ::testing::TempDir() + "sdl_audio_ring_" + std::to_string(getpid()) + ".raw";
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", path.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "0", 1); // as fast as the driver goes
    const std::vector<int16_t> ring = NumberedRing();
    const uint32_t ringBytes = uint32_t(ring.size() * 2);

    ASSERT_TRUE(platform::AudioOpen(44100));
    platform::AudioPlayLooping(ring.data(), ringBytes);
    ASSERT_TRUE(WaitUntil([&] { return platform::AudioPosition() > 5 * ringBytes; }));
    platform::AudioReset();
    const uint32_t played = platform::AudioPosition();
    EXPECT_EQ(played % 4, 0u);
    // The device goes on writing silence after the reset: once it has written another 64 KiB,
    // its thread has run many times since, and nothing may have been counted.
    const auto written = [&] {
        std::error_code error;
        const auto bytes = std::filesystem::file_size(path, error);
        return error ? uintmax_t(0) : bytes;
    };
    const uintmax_t atReset = written();
    ASSERT_TRUE(WaitUntil([&] { return written() >= atReset + 65536; }));
    EXPECT_EQ(platform::AudioPosition(), played); // nothing is counted after the reset
    platform::AudioClose();

    std::ifstream file(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    const auto* ringBytesPtr = reinterpret_cast<const char*>(ring.data());
    // Silence may come before the hand-over and after the reset; in between, the ring from its
    // first byte, over and over.
    size_t start = 0;
    while (start < bytes.size() && bytes[start] == 0) ++start;
    ASSERT_LT(start, bytes.size());
    size_t n = 0;
    while (start + n < bytes.size() && bytes[start + n] == ringBytesPtr[n % ringBytes]) ++n;
    EXPECT_EQ(n % 4, 0u);
    EXPECT_GE(n, size_t(played) - 16384); // at most a few device buffers still in flight
    EXPECT_LE(n, size_t(played));
    for (size_t i = start + n; i < bytes.size(); ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;
    std::remove(path.c_str());
}

TEST_F(SdlAudio, DummyDriverKeepsCountingAcrossLoops) {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    const std::vector<int16_t> ring = NumberedRing();
    ASSERT_TRUE(platform::AudioOpen(44100));
    EXPECT_EQ(platform::AudioPosition(), 0u);
    platform::AudioPlayLooping(ring.data(), uint32_t(ring.size() * 2));
    EXPECT_TRUE(WaitUntil([&] { return platform::AudioPosition() > 3 * ring.size() * 2; }));
}

TEST_F(SdlAudio, UnknownDriverFailsToOpenAndTheRestIsHarmless) {
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    EXPECT_FALSE(platform::AudioOpen(44100));
    platform::AudioReset();
    platform::AudioClose();
    EXPECT_EQ(platform::AudioPosition(), 0u);
}

} // namespace
