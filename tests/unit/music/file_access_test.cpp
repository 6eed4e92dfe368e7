// Tests of the file operations and the module stream: filling a caller's set (all five or none),
// the standard-library set on a real file, the in-memory set's seek and read rules, and the
// stream's null handling.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "memory_files.h"
#include "music/file_access.h"

namespace {

class FileAccessTest : public ::testing::Test {
  protected:
    void TearDown() override { EXPECT_EQ(files.OpenCount(), 0); }
    MemoryFileSet files;
};

std::vector<uint8_t> Counting(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    return bytes;
}

TEST_F(FileAccessTest, OneMissingOperationEmptiesTheWholeSet) {
    const FileCallbacks& all = *files.Operations();
    FileCallbacks set{};
    SetFileCallbacks(&set, all.open, all.close, all.read, all.seek, all.tell, all.context);
    EXPECT_TRUE(FileCallbacksComplete(&set));
    EXPECT_EQ(set.tell, all.tell);
    EXPECT_EQ(set.context, &files);
    SetFileCallbacks(&set, all.open, all.close, all.read, all.seek, nullptr, all.context);
    EXPECT_FALSE(FileCallbacksComplete(&set));
    EXPECT_EQ(set.open, nullptr);
    EXPECT_EQ(set.close, nullptr);
    EXPECT_EQ(set.read, nullptr);
    EXPECT_EQ(set.seek, nullptr);
    EXPECT_EQ(set.context, nullptr);
    // Nothing can be opened through an emptied set, nor through none at all.
    files.Install("a.xm", Counting(4));
    EXPECT_EQ(OpenModuleStream(&set, "a.xm"), nullptr);
    EXPECT_EQ(OpenModuleStream(nullptr, "a.xm"), nullptr);
    EXPECT_FALSE(FileCallbacksComplete(nullptr));
    SetFileCallbacks(nullptr, all.open, all.close, all.read, all.seek, all.tell, all.context);
}

TEST_F(FileAccessTest, ReadReturnsWhatTheFileHoldsAndTellFollowsSeeks) {
    files.Install("ten.bin", Counting(10));
    ModuleStream* stream = OpenModuleStream(files.Operations(), "ten.bin");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(files.OpenCount(), 1);
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
}

TEST_F(FileAccessTest, NullStreamsAreHarmless) {
    uint8_t buffer[4];
    EXPECT_EQ(StreamRead(buffer, 4, nullptr), 0);
    EXPECT_EQ(StreamTell(nullptr), 0);
    EXPECT_NE(StreamSeek(nullptr, 4, 0), 0);
    CloseModuleStream(nullptr);
    EXPECT_EQ(OpenModuleStream(files.Operations(), "missing.xm"), nullptr);
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

    ASSERT_TRUE(FileCallbacksComplete(&standardFileCallbacks));
    ModuleStream* stream = OpenModuleStream(&standardFileCallbacks, path.string().c_str());
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

    EXPECT_EQ(OpenModuleStream(&standardFileCallbacks, (path.string() + ".missing").c_str()),
              nullptr);
}

TEST_F(FileAccessTest, MemoryStreamSeeksAndReadsWithinTheCallersBytes) {
    const std::vector<uint8_t> bytes = Counting(10);
    MemoryFile file{bytes.data(), bytes.size(), 0};
    ModuleStream stream = MemoryStream(&file);
    EXPECT_EQ(stream.files, &memoryFileCallbacks);
    // A memory stream is made, never opened by name.
    EXPECT_EQ(memoryFileCallbacks.open(nullptr, "anything"), nullptr);

    uint8_t buffer[16] = {};
    EXPECT_EQ(StreamRead(buffer, 4, &stream), 4);
    EXPECT_EQ(buffer[3], bytes[3]);
    EXPECT_EQ(StreamSeek(&stream, -2, 1), 0);
    EXPECT_EQ(StreamTell(&stream), 2);
    // From the end; reading stops at it.
    EXPECT_EQ(StreamSeek(&stream, -3, 2), 0);
    EXPECT_EQ(StreamRead(buffer, 16, &stream), 3);
    EXPECT_EQ(buffer[0], bytes[7]);
    // Past the end is a place where nothing can be read; before the start is refused and
    // leaves the position where it was.
    EXPECT_EQ(StreamSeek(&stream, 100, 0), 0);
    EXPECT_EQ(StreamTell(&stream), 100);
    EXPECT_EQ(StreamRead(buffer, 1, &stream), 0);
    EXPECT_NE(StreamSeek(&stream, -101, 1), 0);
    EXPECT_EQ(StreamTell(&stream), 100);
    EXPECT_NE(StreamSeek(&stream, 0, 7), 0); // no such origin
    EXPECT_EQ(StreamSeek(&stream, 5, 0), 0);
    EXPECT_EQ(StreamRead(buffer, 0, &stream), 0);
    EXPECT_EQ(StreamRead(buffer, -1, &stream), 0);
    EXPECT_EQ(StreamTell(&stream), 5);
}

} // namespace
