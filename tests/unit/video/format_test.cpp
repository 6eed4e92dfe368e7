// format_test.cpp: the three video formats through the real ffmpeg, on a small picture of
// one-pixel colour detail: the doubled 4:2:0 stream must keep every pixel's colour as 4:4:4 does,
// where plain 4:2:0 smears it. Skipped without ffmpeg.
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "encoder_process.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 32, kHeight = 24, kFps = 30, kFrames = 2;

std::string Output(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[1 << 14];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
    return out;
}

// Top-down RGB where every pixel's colour differs from its neighbours' in hue: saturated red,
// green, blue and yellow in a pattern that shifts each row, so no 2x2 block shares one colour.
std::string Checker() {
    static const uint8_t colours[4][3] = {
        {230, 20, 20}, {20, 200, 40}, {30, 40, 240}, {220, 210, 30}};
    std::string rgb;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            rgb.append(reinterpret_cast<const char*>(colours[(x + 2 * y) % 4]), 3);
    return rgb;
}

double Psnr(const std::string& a, const std::string& b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = double(uint8_t(a[i])) - double(uint8_t(b[i]));
        sum += d * d;
    }
    const double mse = sum / double(a.size());
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

class VideoFormats : public testing::Test {
  protected:
    void SetUp() override {
        std::signal(SIGPIPE, SIG_IGN);
        if (FindProgram("ffmpeg").empty() || FindProgram("ffprobe").empty())
            GTEST_SKIP() << "ffmpeg and ffprobe are needed (apt-get install ffmpeg)";
        dir_ = fs::temp_directory_path() / ("video-format-test-" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ignored;
        if (!dir_.empty()) fs::remove_all(dir_, ignored);
    }

    // Encodes kFrames copies of `picture` in `format` with a short silent sound track; the
    // file's path, or empty when the encoder failed.
    fs::path Encode(VideoFormat format, const std::string& picture, int crf) {
        EncoderSettings settings;
        settings.ffmpeg = "ffmpeg";
        settings.outPath =
            (dir_ / (std::string(VideoFormatName(format)) + std::to_string(crf) + ".mp4")).string();
        settings.width = kWidth;
        settings.height = kHeight;
        settings.fps = kFps;
        settings.crf = crf;
        settings.format = format;
        EncoderProcess process;
        std::string error;
        if (!StartEncoder(settings, &process, &error)) {
            ADD_FAILURE() << error;
            return {};
        }
        // Everything fits in the pipes, so both streams can be written one after the other.
        const std::vector<int16_t> silence(size_t(settings.sampleRate / kFps) * 2 * kFrames, 0);
        bool ok = WriteAll(process.audioFd, silence.data(), silence.size() * sizeof(int16_t));
        for (int f = 0; f < kFrames; ++f)
            ok = ok && WriteAll(process.videoFd, picture.data(), picture.size());
        ok = FinishEncoder(&process, nullptr) && ok;
        EXPECT_TRUE(ok) << "encoding in format " << VideoFormatName(format);
        return ok ? fs::path(settings.outPath) : fs::path();
    }

    static std::string Probe(const fs::path& file, const std::string& entry) {
        std::string out =
            Output("ffprobe -v error -select_streams v:0 -show_entries stream=" + entry +
                   " -of default=noprint_wrappers=1:nokey=1 '" + file.string() + "'");
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return out;
    }

    // The first frame as top-down RGB at the show's size: a doubled frame gives the top-left
    // pixel of each 2x2 block. Empty when the frame is not of the expected size.
    static std::string FirstFrame(const fs::path& file, int scale) {
        const std::string rgb = Output("ffmpeg -v error -i '" + file.string() +
                                       "' -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
        const int width = kWidth * scale;
        if (rgb.size() != size_t(width) * kHeight * scale * 3) return "";
        std::string out;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                out.append(rgb, (size_t(y * scale) * width + size_t(x * scale)) * 3, 3);
        return out;
    }

    fs::path dir_;
};

TEST_F(VideoFormats, DoubledKeepsEachPixelsColourWherePlain420SmearsIt) {
    const std::string picture = Checker();

    const fs::path doubled = Encode(VideoFormat::Doubled420, picture, 1);
    ASSERT_FALSE(doubled.empty());
    EXPECT_EQ(Probe(doubled, "profile"), "High");
    EXPECT_EQ(Probe(doubled, "pix_fmt"), "yuv420p");
    EXPECT_EQ(Probe(doubled, "width"), std::to_string(2 * kWidth));
    EXPECT_EQ(Probe(doubled, "height"), std::to_string(2 * kHeight));
    const std::string fromDoubled = FirstFrame(doubled, 2);
    ASSERT_EQ(fromDoubled.size(), picture.size());

    const fs::path full = Encode(VideoFormat::Full444, picture, 1);
    ASSERT_FALSE(full.empty());
    EXPECT_EQ(Probe(full, "pix_fmt"), "yuv444p");
    const std::string fromFull = FirstFrame(full, 1);
    ASSERT_EQ(fromFull.size(), picture.size());

    const fs::path plain = Encode(VideoFormat::Plain420, picture, 1);
    ASSERT_FALSE(plain.empty());
    EXPECT_EQ(Probe(plain, "profile"), "High");
    EXPECT_EQ(Probe(plain, "width"), std::to_string(kWidth));
    const std::string fromPlain = FirstFrame(plain, 1);
    ASSERT_EQ(fromPlain.size(), picture.size());

    // Nearly lossless coding leaves little more than the rounding of the colour conversion for
    // the two formats that carry a chroma sample per pixel; plain 4:2:0 averages four colours.
    const double doubledPsnr = Psnr(fromDoubled, picture), fullPsnr = Psnr(fromFull, picture);
    const double plainPsnr = Psnr(fromPlain, picture);
    EXPECT_GT(doubledPsnr, 40.0);
    EXPECT_GT(fullPsnr, 40.0);
    EXPECT_NEAR(doubledPsnr, fullPsnr, 1.0);
    EXPECT_LT(plainPsnr, 25.0) << "doubled " << doubledPsnr << " dB, 4:4:4 " << fullPsnr << " dB";
}

TEST_F(VideoFormats, LosslessDoubledStreamIsWrittenInTheProfileThatHoldsIt) {
    // The High profile has no lossless mode: crf 0 must not ask for it.
    const fs::path lossless = Encode(VideoFormat::Doubled420, Checker(), 0);
    ASSERT_FALSE(lossless.empty());
    EXPECT_EQ(Probe(lossless, "profile"), "High 4:4:4 Predictive");
    EXPECT_EQ(Probe(lossless, "pix_fmt"), "yuv420p");
}

} // namespace
