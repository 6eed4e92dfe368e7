// Tests of the installable file operations and the module stream: installing and clearing the
// set, the standard-library set on a real file, and the stream's null handling.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "memory_files.h"
#include "music/file_access.h"

namespace {

class FileAccessTest : public ::testing::Test {
  protected:
    void TearDown() override {
        SetFileCallbacks(nullptr, nullptr, nullptr, nullptr, nullptr);
        ClearMemoryFiles();
    }
};

std::vector<uint8_t> Counting(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    return bytes;
}

TEST_F(FileAccessTest, OneMissingOperationClearsTheWholeSet) {
    InstallMemoryFileCallbacks();
    ASSERT_TRUE(FileCallbacksInstalled());
    SetFileCallbacks(MemoryOpen, MemoryClose, MemoryRead, MemorySeek, nullptr);
    EXPECT_FALSE(FileCallbacksInstalled());
    EXPECT_EQ(fileCallbacks.open, nullptr);
    EXPECT_EQ(fileCallbacks.close, nullptr);
    EXPECT_EQ(fileCallbacks.read, nullptr);
    EXPECT_EQ(fileCallbacks.seek, nullptr);
    // Nothing can be opened through a cleared set.
    InstallMemoryFile("a.xm", Counting(4));
    SetFileCallbacks(nullptr, MemoryClose, MemoryRead, MemorySeek, MemoryTell);
    EXPECT_EQ(OpenModuleStream("a.xm"), nullptr);
}

TEST_F(FileAccessTest, ReadReturnsWhatTheFileHoldsAndTellFollowsSeeks) {
    InstallMemoryFile("ten.bin", Counting(10));
    ModuleStream* stream = OpenModuleStream("ten.bin");
    ASSERT_NE(stream, nullptr);
    uint8_t buffer[17] = {};
    EXPECT_EQ(StreamRead(buffer, 17, stream), 10);
    EXPECT_EQ(buffer[9], Counting(10)[9]);
    EXPECT_EQ(StreamTell(stream), 10);
    EXPECT_EQ(StreamSeek(stream, 60, 0), 0);
    EXPECT_EQ(StreamTell(stream), 60);
    EXPECT_EQ(StreamRead(buffer, 1, stream), 0);
    EXPECT_EQ(StreamSeek(stream, 3, 0), 0);
    EXPECT_EQ(StreamSeek(stream, 2, 1), 0);
    EXPECT_EQ(StreamTell(stream), 5);
    CloseModuleStream(stream);
    EXPECT_EQ(OpenMemoryFileCount(), 0);
}

TEST_F(FileAccessTest, NullStreamsAreHarmless) {
    InstallMemoryFileCallbacks();
    uint8_t buffer[4];
    EXPECT_EQ(StreamRead(buffer, 4, nullptr), 0);
    EXPECT_EQ(StreamTell(nullptr), 0);
    EXPECT_NE(StreamSeek(nullptr, 4, 0), 0);
    CloseModuleStream(nullptr);
    EXPECT_EQ(OpenModuleStream("missing.xm"), nullptr);
    EXPECT_EQ(OpenMemoryFileCount(), 0);
}

TEST_F(FileAccessTest, StandardOperationsReadARealFile) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("file_access_test_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         ".bin");
    const std::vector<uint8_t> bytes = Counting(10);
    FILE* file = std::fopen(path.string().c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
    std::fclose(file);

    SetStandardFileCallbacks();
    ASSERT_TRUE(FileCallbacksInstalled());
    ModuleStream* stream = OpenModuleStream(path.string().c_str());
    ASSERT_NE(stream, nullptr);
    uint8_t buffer[17] = {};
    EXPECT_EQ(StreamRead(buffer, 17, stream), 10);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 10), bytes);
    StreamSeek(stream, 60, 0);
    EXPECT_EQ(StreamTell(stream), 60);
    StreamSeek(stream, 4, 0);
    StreamSeek(stream, -2, 1);
    EXPECT_EQ(StreamRead(buffer, 1, stream), 1);
    EXPECT_EQ(buffer[0], bytes[2]);
    // A negative count reads nothing instead of becoming a huge one.
    EXPECT_EQ(StreamRead(buffer, -5, stream), 0);
    CloseModuleStream(stream);
    std::filesystem::remove(path);

    EXPECT_EQ(OpenModuleStream((path.string() + ".missing").c_str()), nullptr);
}

} // namespace
