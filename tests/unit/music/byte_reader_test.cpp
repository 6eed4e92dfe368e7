// The loaders' byte reader over a module stream: words in both byte orders, reads that the file
// cannot complete, the read-ahead window's edges and the large reads that bypass it, and the
// questions about the bytes left.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "music/byte_reader.h"
#include "music/file_access.h"

namespace {

// A reader over `bytes` held in memory; the vector must outlive it.
struct Over {
    explicit Over(const std::vector<uint8_t>& bytes)
        : file{bytes.data(), bytes.size(), 0}, stream(MemoryStream(&file)) {
        StartReading(reader, &stream);
    }
    MemoryFile file;
    ModuleStream stream;
    ByteReader reader;
};

std::vector<uint8_t> Counting(size_t n) {
    std::vector<uint8_t> bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
    return bytes;
}

TEST(ByteReader, WordsInBothByteOrdersAndNothingPastTheEnd) {
    const std::vector<uint8_t> bytes = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE};
    Over o(bytes);
    ByteReader& r = o.reader;
    uint16_t w;
    uint32_t d;
    int8_t s;
    ASSERT_TRUE(U16(r, w));
    EXPECT_EQ(w, 0x3412);
    ASSERT_TRUE(SeekTo(r, 0));
    ASSERT_TRUE(U16BE(r, w));
    EXPECT_EQ(w, 0x1234);
    ASSERT_TRUE(U32(r, d));
    EXPECT_EQ(d, 0xBC9A7856u);
    ASSERT_TRUE(SeekTo(r, 2));
    ASSERT_TRUE(U32BE(r, d));
    EXPECT_EQ(d, 0x56789ABCu);
    ASSERT_TRUE(S8(r, s));
    EXPECT_EQ(s, static_cast<int8_t>(0xDE));
    // At the end every read fails, also a word with one byte left.
    EXPECT_FALSE(S8(r, s));
    ASSERT_TRUE(SeekTo(r, 6));
    EXPECT_FALSE(U16(r, w));
    ASSERT_TRUE(SeekTo(r, 4));
    EXPECT_FALSE(U32(r, d));
    ASSERT_TRUE(SeekTo(r, 6));
    EXPECT_FALSE(U16BE(r, w));
    ASSERT_TRUE(SeekTo(r, 5));
    EXPECT_FALSE(U32BE(r, d));
}

TEST(ByteReader, SeeksStayWithinWhatTheStreamCanReach) {
    const std::vector<uint8_t> bytes = Counting(10);
    Over o(bytes);
    ByteReader& r = o.reader;
    ASSERT_TRUE(SeekTo(r, 4));
    EXPECT_FALSE(SeekTo(r, -1));
    EXPECT_FALSE(SeekTo(r, int64_t{INT32_MAX} + 1));
    EXPECT_FALSE(Skip(r, int64_t{INT32_MAX}));
    EXPECT_EQ(r.position, 4); // refused seeks leave the position
    // Beyond the end is a place, where nothing can be read.
    ASSERT_TRUE(Skip(r, 100));
    uint8_t v;
    EXPECT_FALSE(U8(r, v));
    ASSERT_TRUE(SeekTo(r, 9));
    ASSERT_TRUE(U8(r, v));
    EXPECT_EQ(v, bytes[9]);
}

TEST(ByteReader, ReadsAcrossTheWindowAndLargeBlocksAlike) {
    // Three windows and a bit: small reads cross the window's edges, a large read bypasses it,
    // and both give the file's bytes.
    const std::vector<uint8_t> bytes = Counting(3 * 4096 + 100);
    Over o(bytes);
    ByteReader& r = o.reader;
    ASSERT_TRUE(SeekTo(r, 4094));
    uint32_t d;
    ASSERT_TRUE(U32(r, d));
    uint32_t expected;
    std::memcpy(&expected, &bytes[4094], 4); // the test machine is little-endian, as the file
    EXPECT_EQ(d, expected);
    std::vector<uint8_t> block(2 * 4096 + 50);
    ASSERT_TRUE(ReadBytes(r, block.data(), int64_t(block.size())));
    EXPECT_TRUE(std::equal(block.begin(), block.end(), bytes.begin() + 4098));
    // A block longer than the file holds fails, and says so.
    ASSERT_TRUE(SeekTo(r, 10));
    std::vector<uint8_t> tooMuch(bytes.size());
    EXPECT_FALSE(ReadBytes(r, tooMuch.data(), int64_t(tooMuch.size())));
    // Reading back after the window moved on.
    ASSERT_TRUE(SeekTo(r, 1));
    uint8_t v;
    ASSERT_TRUE(U8(r, v));
    EXPECT_EQ(v, bytes[1]);
}

TEST(ByteReader, BytesLeftAreCountedExactlyWithoutMoving) {
    const std::vector<uint8_t> bytes = Counting(5000);
    Over o(bytes);
    ByteReader& r = o.reader;
    ASSERT_TRUE(SeekTo(r, 4990));
    EXPECT_TRUE(HasBytes(r, 10));
    EXPECT_FALSE(HasBytes(r, 11));
    EXPECT_TRUE(HasBytes(r, 0));
    EXPECT_TRUE(HasBytes(r, -3));
    EXPECT_EQ(BytesLeft(r, 1000), 10);
    EXPECT_EQ(BytesLeft(r, 4), 4);
    EXPECT_EQ(r.position, 4990);
    // A count reaching past 2 GB is never there.
    EXPECT_FALSE(HasBytes(r, int64_t{INT32_MAX}));
    // Up to the end, and how much that was.
    uint8_t rest[32] = {};
    EXPECT_EQ(ReadUpTo(r, rest, 32), 10);
    EXPECT_EQ(rest[9], bytes[4999]);
    ASSERT_TRUE(SeekTo(r, 0));
    EXPECT_EQ(ReadUpTo(r, rest, 32), 32);
}

TEST(ByteReader, TextFieldsAreTerminatedAndKeptAsStored) {
    const std::vector<uint8_t> bytes = {'a', 'b', ' ', 0, 'c', 'd'};
    Over o(bytes);
    char text[7];
    std::memset(text, 'x', sizeof text);
    ASSERT_TRUE(Text(o.reader, text, 6));
    EXPECT_EQ(std::memcmp(text, "ab \0cd", 6), 0);
    EXPECT_EQ(text[6], '\0');
    char more[3];
    EXPECT_FALSE(Text(o.reader, more, 2)); // nothing left: still terminated
    EXPECT_EQ(more[2], '\0');
}

} // namespace
