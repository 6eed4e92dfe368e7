// Read-only file mapping: whole contents, and the files that cannot be mapped.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

std::string TempPath(const char* name) {
    return ::testing::TempDir() + "/platform_test_" + std::to_string(getpid()) + "_" + name;
}

std::string WriteFile(const char* name, const std::string& bytes) {
    std::string path = TempPath(name);
    FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (f) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path;
}

TEST(FileMap, MapsTheWholeFileByteForByte) {
    std::string bytes;
    for (int i = 0; i < 10000; ++i) bytes.push_back(static_cast<char>(i * 7));
    std::string path = WriteFile("whole", bytes);
    platform::MappedFile file;
    ASSERT_TRUE(platform::MapFileReadOnly(path.c_str(), &file));
    ASSERT_EQ(file.size, bytes.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data), file.size), bytes);
    platform::UnmapFile(&file);
    EXPECT_EQ(file.data, nullptr);
    EXPECT_EQ(file.size, 0u);
    platform::UnmapFile(&file); // twice is harmless
    std::remove(path.c_str());
}

TEST(FileMap, EmptyMissingAndNonRegularFilesFail) {
    std::string empty = WriteFile("empty", "");
    platform::MappedFile file;
    EXPECT_FALSE(platform::MapFileReadOnly(empty.c_str(), &file));
    EXPECT_EQ(file.data, nullptr);
    EXPECT_FALSE(platform::MapFileReadOnly(TempPath("missing").c_str(), &file));
    EXPECT_FALSE(platform::MapFileReadOnly(::testing::TempDir().c_str(), &file));
    EXPECT_FALSE(platform::MapFileReadOnly(nullptr, &file));
    std::remove(empty.c_str());
}

TEST(FileMap, MappingOutlivesTheFileName) {
    std::string path = WriteFile("unlinked", "still here");
    platform::MappedFile file;
    ASSERT_TRUE(platform::MapFileReadOnly(path.c_str(), &file));
    std::remove(path.c_str());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(file.data), file.size), "still here");
    platform::UnmapFile(&file);
}

} // namespace
