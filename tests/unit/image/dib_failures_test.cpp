// dib_failures_test.cpp: malformed and unreadable files give none with exactly one message box
// of the right text (caption "Error", OK, no icon), or none silently where fopen fails.
#include <gtest/gtest.h>

#include "dib_test_helpers.h"

namespace {

class DibFailures : public ::testing::Test {
  protected:
    void SetUp() override {
        recordedBoxes.clear();
        dibLoader.showMessage = &RecordBox;
    }
    void TearDown() override { dibLoader = DibLoaderState{}; }

    // Loads the bytes through a real file and expects a refusal with `text`.
    void ExpectRefused(const std::string& name, const std::vector<uint8_t>& bytes,
                       const char* text) {
        recordedBoxes.clear();
        std::string path = WriteTempFile(name, bytes);
        RgbImage* image = LoadBitmapImage(path.c_str());
        EXPECT_EQ(image, nullptr) << name;
        FreeRgbImage(image);
        ASSERT_EQ(recordedBoxes.size(), 1u) << name;
        EXPECT_EQ(recordedBoxes[0].text, text) << name;
        EXPECT_EQ(recordedBoxes[0].caption, "Error");
        EXPECT_EQ(recordedBoxes[0].buttons, platform::MessageButtons::Ok);
        EXPECT_EQ(recordedBoxes[0].icon, platform::MessageIcon::None);
        std::remove(path.c_str());
    }
};

BmpLayout Eight(int width, int height) {
    BmpLayout s;
    s.bits = 8;
    s.width = width;
    s.height = height;
    s.table = RampTable(256, 4);
    s.pixels.assign(size_t((width + 3) & ~3) * size_t(height < 0 ? -height : height), 1);
    return s;
}

TEST_F(DibFailures, UnknownHeaderSizes) {
    for (uint32_t size : {108u, 124u, 64u, 0u}) {
        BmpLayout s;
        s.headerSize = size;
        s.pixels = {1, 2, 3, 0};
        ExpectRefused("header" + std::to_string(size), BuildBmp(s), kDibUnknownFormat);
    }
}

TEST_F(DibFailures, FilesShorterThanTheyClaim) {
    std::vector<uint8_t> whole = BuildBmp(Eight(4, 4));
    // Cut inside the file header, the info header, the colour table and the pixel data.
    ExpectRefused("cut-file-header", {whole.begin(), whole.begin() + 12}, kDibUnknownFormat);
    ExpectRefused("cut-info-header", {whole.begin(), whole.begin() + 30}, kDibUnknownFormat);
    ExpectRefused("cut-table", {whole.begin(), whole.begin() + 54 + 500}, kDibConversionError);
    ExpectRefused("cut-pixels", {whole.begin(), whole.end() - 1}, kDibConversionError);
    // A bare header of three bytes.
    ExpectRefused("three-bytes", {40, 0, 0}, kDibUnknownFormat);
}

TEST_F(DibFailures, PixelOffsetOutsideTheFile) {
    std::vector<uint8_t> bytes = BuildBmp(Eight(4, 1));
    for (uint32_t offset : {uint32_t(bytes.size()) + 1, 0xFFFFFFF0u}) {
        std::vector<uint8_t> bad = bytes;
        bad[10] = uint8_t(offset), bad[11] = uint8_t(offset >> 8);
        bad[12] = uint8_t(offset >> 16), bad[13] = uint8_t(offset >> 24);
        ExpectRefused("offset", bad, kDibConversionError);
    }
}

TEST_F(DibFailures, AbsurdOrEmptyDimensions) {
    // An RLE stream of four bytes cannot bound the size it claims: refused before allocating.
    BmpLayout huge = Eight(4, 1);
    huge.width = huge.height = 100000;
    huge.compression = 1;
    huge.pixels = {0, 1};
    ExpectRefused("huge-rle", BuildBmp(huge), kDibOutOfMemory);
    // A core header of 65535 x 65535 at 24 bits with no pixels.
    BmpLayout core;
    core.headerSize = 12;
    core.width = 0xFFFF;
    core.height = 0xFFFF;
    ExpectRefused("huge-core", BuildBmp(core), kDibOutOfMemory);
    // The cap is on the result: 6 x 6 x 3 = 108 bytes is over a cap of 100, 5 x 6 x 3 is not.
    dibLoader.maxResultBytes = 100;
    ExpectRefused("over-cap", BuildBmp(Eight(6, 6)), kDibOutOfMemory);
    std::vector<uint8_t> underCap = BuildBmp(Eight(5, 6));
    RgbImage* fits = DecodeDib(underCap.data(), underCap.size(), nullptr);
    EXPECT_TRUE(fits);
    FreeRgbImage(fits);
    dibLoader.maxResultBytes = 0;
    BmpLayout zero = Eight(0, 4);
    ExpectRefused("zero-width", BuildBmp(zero), kDibConversionError);
    BmpLayout negative = Eight(4, 1);
    negative.width = -4;
    ExpectRefused("negative-width", BuildBmp(negative), kDibConversionError);
}

TEST_F(DibFailures, UnsupportedCompressionAndDepth) {
    BmpLayout jpeg = Eight(4, 1);
    jpeg.compression = 4;
    ExpectRefused("jpeg", BuildBmp(jpeg), kDibConversionError);
    BmpLayout rleWrongDepth = Eight(4, 1);
    rleWrongDepth.compression = 2; // RLE4 on an 8-bit picture
    ExpectRefused("rle-depth", BuildBmp(rleWrongDepth), kDibConversionError);
    BmpLayout topDownRle = Eight(4, -1);
    topDownRle.compression = 1;
    ExpectRefused("rle-top-down", BuildBmp(topDownRle), kDibConversionError);
    BmpLayout twoBits = Eight(4, 1);
    twoBits.bits = 2;
    ExpectRefused("two-bits", BuildBmp(twoBits), kDibConversionError);
    BmpLayout rleTooLong = Eight(4, 1);
    rleTooLong.compression = 1;
    rleTooLong.imageSize = 5000; // more stream than the file holds
    rleTooLong.pixels = {4, 1, 0, 1};
    ExpectRefused("rle-cut", BuildBmp(rleTooLong), kDibConversionError);
}

TEST_F(DibFailures, OpenFailures) {
    EXPECT_EQ(LoadBitmapImage(nullptr), nullptr);
    EXPECT_EQ(LoadBitmapImage("/nonexistent/dir/Particle.bmp"), nullptr);
    EXPECT_TRUE(recordedBoxes.empty()) << "fopen failures are silent";

    // fopen opens an empty file but it cannot be mapped.
    std::string empty = WriteTempFile("empty", {});
    ExpectRefused("empty", {}, ("Failed to open DIB file " + empty + ".\n").c_str());

    // The message holds a path of any length.
    std::string longPath = "/nonexistent/" + std::string(5000, 'p') + ".bmp";
    recordedBoxes.clear();
    EXPECT_EQ(ReadDibFile(longPath.c_str()), nullptr);
    ASSERT_EQ(recordedBoxes.size(), 1u);
    EXPECT_EQ(recordedBoxes[0].text, "Failed to open DIB file " + longPath + ".\n");
}

TEST_F(DibFailures, GoodFileThroughTheFileShowsNoBox) {
    std::string path = WriteTempFile("good", BuildBmp(Eight(3, 2)));
    RgbImage* image = LoadBitmapImage(path.c_str());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 3);
    EXPECT_EQ(PixelAt(image, 2, 1), (std::vector<int>{3, 2, 1}));
    EXPECT_TRUE(recordedBoxes.empty());
    FreeRgbImage(image);
    std::remove(path.c_str());
}

} // namespace
