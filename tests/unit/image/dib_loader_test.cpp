// dib_loader_test.cpp: what the loader makes of each kind of bitmap it accepts.
#include <gtest/gtest.h>

#include "dib_test_helpers.h"

namespace {

RgbImage* Decode(const std::vector<uint8_t>& bytes) {
    const char* failure = nullptr;
    RgbImage* image = DecodeDib(bytes.data(), bytes.size(), &failure);
    EXPECT_TRUE(image) << (failure ? failure : "");
    return image;
}

using Rgb = std::vector<int>;

TEST(DibDecode, TwentyFourBitRowsLoseTheirPaddingAndSwapToRgb) {
    // Width 3: file rows are 9 bytes + 3 padding; result rows must be exactly 9 bytes.
    BmpLayout s;
    s.width = 3;
    s.height = 2;
    s.pixels = {
        1,  2,  3,  4,  5,  6,  7,  8,  9,  0xEE, 0xEE, 0xEE, // bottom row (B, G, R)
        10, 11, 12, 13, 14, 15, 16, 17, 18, 0xEE, 0xEE, 0xEE, // top row
    };
    RgbImage* image = Decode(BuildBmp(s));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 3);
    EXPECT_EQ(image->height, 2);
    const std::vector<uint8_t> expected = {3,  2,  1,  6,  5,  4,  9,  8,  7,
                                           12, 11, 10, 15, 14, 13, 18, 17, 16};
    EXPECT_EQ(std::vector<uint8_t>(image->pixels, image->pixels + 18), expected);
    FreeRgbImage(image);
}

TEST(DibDecode, TopDownPictureComesOutBottomUp) {
    BmpLayout s;
    s.width = 1;
    s.height = -3;
    s.pixels = {0, 0, 10, 0, 0, 0, 20, 0, 0, 0, 30, 0}; // first row in the file is the top
    RgbImage* image = Decode(BuildBmp(s));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->height, 3);
    EXPECT_EQ(PixelAt(image, 0, 0), (Rgb{30, 0, 0}));
    EXPECT_EQ(PixelAt(image, 0, 2), (Rgb{10, 0, 0}));
    FreeRgbImage(image);
}

TEST(DibDecode, IndexedDepthsReadMostSignificantBitsFirst) {
    // 1 bit, width 10: two bytes of indices plus padding to 4.
    BmpLayout one;
    one.bits = 1;
    one.width = 10;
    one.table = {0, 0, 0, 0, 255, 255, 255, 0};
    one.pixels = {0b10100000, 0b01000000, 0, 0};
    RgbImage* image = Decode(BuildBmp(one));
    ASSERT_TRUE(image);
    EXPECT_EQ(PixelAt(image, 0, 0), (Rgb{255, 255, 255}));
    EXPECT_EQ(PixelAt(image, 1, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(PixelAt(image, 2, 0), (Rgb{255, 255, 255}));
    EXPECT_EQ(PixelAt(image, 8, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(PixelAt(image, 9, 0), (Rgb{255, 255, 255}));
    FreeRgbImage(image);

    // 4 bits, width 3, two rows.
    BmpLayout four;
    four.bits = 4;
    four.width = 3;
    four.height = 2;
    four.table = RampTable(16, 4);
    four.pixels = {0x12, 0x30, 0, 0, 0xF0, 0x50, 0, 0};
    image = Decode(BuildBmp(four));
    ASSERT_TRUE(image);
    EXPECT_EQ(PixelAt(image, 0, 0), (Rgb{3, 2, 1}));
    EXPECT_EQ(PixelAt(image, 1, 0), (Rgb{6, 4, 2}));
    EXPECT_EQ(PixelAt(image, 2, 0), (Rgb{9, 6, 3}));
    EXPECT_EQ(PixelAt(image, 0, 1), (Rgb{45, 30, 15}));
    EXPECT_EQ(PixelAt(image, 2, 1), (Rgb{15, 10, 5}));
    FreeRgbImage(image);
}

TEST(DibDecode, ColoursUsedDecidesTheTableLengthOfABareBitmap) {
    // Without a file header the pixels follow the table directly, so a wrong table length
    // would shift every pixel.
    for (uint32_t used : {0u, 16u}) {
        BmpLayout s;
        s.fileHeader = false;
        s.bits = 8;
        s.width = 4;
        s.coloursUsed = used;
        s.table = RampTable(used ? int(used) : 256, 4);
        s.pixels = {1, 2, 3, 15};
        RgbImage* image = Decode(BuildBmp(s));
        ASSERT_TRUE(image) << used;
        EXPECT_EQ(PixelAt(image, 0, 0), (Rgb{3, 2, 1})) << used;
        EXPECT_EQ(PixelAt(image, 3, 0), (Rgb{45, 30, 15})) << used;
        FreeRgbImage(image);
    }
}

TEST(DibDecode, IndexPastAShortTableIsBlack) {
    BmpLayout s;
    s.bits = 8;
    s.width = 2;
    s.coloursUsed = 2;
    s.table = {9, 9, 9, 0, 7, 7, 7, 0};
    s.pixels = {1, 200, 0, 0};
    RgbImage* image = Decode(BuildBmp(s));
    ASSERT_TRUE(image);
    EXPECT_EQ(PixelAt(image, 0, 0), (Rgb{7, 7, 7}));
    EXPECT_EQ(PixelAt(image, 1, 0), (Rgb{0, 0, 0}));
    FreeRgbImage(image);
}

TEST(DibDecode, CoreHeaderIsWidenedWithThreeByteEntries) {
    for (bool fileHeader : {true, false}) {
        BmpLayout s;
        s.headerSize = 12;
        s.fileHeader = fileHeader;
        s.bits = 8;
        s.width = 2;
        s.table = RampTable(256, 3);
        s.pixels = {4, 10, 0, 0};
        RgbImage* image = Decode(BuildBmp(s));
        ASSERT_TRUE(image);
        EXPECT_EQ(PixelAt(image, 0, 0), (Rgb{12, 8, 4}));
        EXPECT_EQ(PixelAt(image, 1, 0), (Rgb{30, 20, 10}));
        FreeRgbImage(image);
    }
    // 24-bit core bitmap: no table at all.
    BmpLayout s;
    s.headerSize = 12;
    s.fileHeader = false;
    s.pixels = {1, 2, 3, 0};
    RgbImage* image = Decode(BuildBmp(s));
    ASSERT_TRUE(image);
    EXPECT_EQ(PixelAt(image, 0, 0), (Rgb{3, 2, 1}));
    FreeRgbImage(image);
}

TEST(DibDecode, SixteenAndThirtyTwoBitsIncludingBitFields) {
    BmpLayout s16; // 5-5-5: pure red and full white
    s16.bits = 16;
    s16.width = 2;
    s16.pixels = {0x00, 0x7C, 0xFF, 0x7F};
    RgbImage* image = Decode(BuildBmp(s16));
    ASSERT_TRUE(image);
    EXPECT_EQ(PixelAt(image, 0, 0), (Rgb{255, 0, 0}));
    EXPECT_EQ(PixelAt(image, 1, 0), (Rgb{255, 255, 255}));
    FreeRgbImage(image);

    BmpLayout s565; // bit fields 5-6-5: pure green
    s565.bits = 16;
    s565.compression = 3;
    s565.width = 2;
    s565.masks = {0x00, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0};
    s565.pixels = {0xE0, 0x07, 0x1F, 0x00};
    image = Decode(BuildBmp(s565));
    ASSERT_TRUE(image);
    EXPECT_EQ(PixelAt(image, 0, 0), (Rgb{0, 255, 0}));
    EXPECT_EQ(PixelAt(image, 1, 0), (Rgb{0, 0, 255}));
    FreeRgbImage(image);

    BmpLayout s32;
    s32.bits = 32;
    s32.pixels = {0x11, 0x22, 0x33, 0x99};
    image = Decode(BuildBmp(s32));
    ASSERT_TRUE(image);
    EXPECT_EQ(PixelAt(image, 0, 0), (Rgb{0x33, 0x22, 0x11}));
    FreeRgbImage(image);
}

TEST(DibDecode, RunLengthStreams) {
    // RLE8, 4 x 3: a run, an end of line, a skip, literal pixels, end of picture. Skipped and
    // unreached pixels stay black; a run past the right edge is cut.
    BmpLayout s;
    s.bits = 8;
    s.compression = 1;
    s.width = 4;
    s.height = 3;
    s.table = RampTable(256, 4);
    s.pixels = {6, 5,             // row 0: four pixels of 5 (two more cut off)
                0, 0,             // end of line
                0, 2, 1, 0,       // move right 1
                0, 3, 7, 8, 9, 0, // literal 7 8 9, padded
                0, 1};            // end; row 2 never written
    RgbImage* image = Decode(BuildBmp(s));
    ASSERT_TRUE(image);
    EXPECT_EQ(PixelAt(image, 3, 0), (Rgb{15, 10, 5}));
    EXPECT_EQ(PixelAt(image, 0, 1), (Rgb{0, 0, 0}));
    EXPECT_EQ(PixelAt(image, 1, 1), (Rgb{21, 14, 7}));
    EXPECT_EQ(PixelAt(image, 3, 1), (Rgb{27, 18, 9}));
    EXPECT_EQ(PixelAt(image, 2, 2), (Rgb{0, 0, 0}));
    FreeRgbImage(image);

    BmpLayout r4; // RLE4: a run alternates its two nibbles; literals are nibbles too
    r4.bits = 4;
    r4.compression = 2;
    r4.width = 6;
    r4.table = RampTable(16, 4);
    r4.pixels = {3, 0x12, 0, 3, 0x45, 0x60, 0, 1};
    image = Decode(BuildBmp(r4));
    ASSERT_TRUE(image);
    EXPECT_EQ(PixelAt(image, 0, 0), (Rgb{3, 2, 1}));
    EXPECT_EQ(PixelAt(image, 1, 0), (Rgb{6, 4, 2}));
    EXPECT_EQ(PixelAt(image, 2, 0), (Rgb{3, 2, 1}));
    EXPECT_EQ(PixelAt(image, 3, 0), (Rgb{12, 8, 4}));
    EXPECT_EQ(PixelAt(image, 4, 0), (Rgb{15, 10, 5}));
    EXPECT_EQ(PixelAt(image, 5, 0), (Rgb{18, 12, 6}));
    FreeRgbImage(image);
}

TEST(DibDecode, CountDibColors) {
    auto count = [](uint32_t headerSize, uint16_t bits, uint32_t used) {
        BmpLayout s;
        s.headerSize = headerSize;
        s.bits = bits;
        s.coloursUsed = used;
        s.fileHeader = false;
        return CountDibColors(BuildBmp(s).data());
    };
    EXPECT_EQ(count(40, 1, 0), 2);
    EXPECT_EQ(count(40, 4, 0), 16);
    EXPECT_EQ(count(40, 8, 0), 256);
    EXPECT_EQ(count(40, 24, 0), 0);
    EXPECT_EQ(count(40, 8, 5), 5);
    EXPECT_EQ(count(40, 24, 300), 300);
    EXPECT_EQ(count(40, 8, 0x10003), 3); // only the low 16 bits count
    EXPECT_EQ(count(12, 4, 0), 16);
    EXPECT_EQ(count(12, 24, 0), 0);
}

} // namespace
