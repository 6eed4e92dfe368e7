// showvideo_test.cpp: the video tool end to end: container format (the default doubled 4:2:0
// stream and the 4:4:4 one), a decoded frame against showcapture's picture of the same moment, the
// decoded sound against xmrender's render of the song, determinism, and the failures a user meets
// (no ffmpeg, no data files, bad ranges).
#include "../../support/x_display.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 640, kHeight = 480, kRate = 44100;
// The default format stores each show pixel as a 2x2 block.
constexpr int kDoubledWidth = 2 * kWidth, kDoubledHeight = 2 * kHeight;

// The shared render: 13.5 to 16.5 s of program time at 30 fps, across the change from the
// descent (show 8-10 s) to the first caption segment (show 10 s = program 15 s).
constexpr double kFrom = 13.5, kTo = 16.5;
constexpr int kFps = 30;
// The moment of the shared render compared with showcapture's frame (the caption segment, half
// a second after the segment change: the blue water mesh and the small cubes are one-pixel
// coloured detail), and the least PSNR the default stream must keep there.
constexpr double kCaptureAt = 15.5;
constexpr double kDoubledFloor = 38.0;
// The 4:4:4 render: a few frames around 8 s (blue water under the cube field), early in the show
// so that few frames are drawn before it; and its least PSNR.
constexpr double kFullFrom = 7.9, kFullTo = 8.1, kFullAt = 8.0;
constexpr double kFullFloor = 35.0;

std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

struct Result {
    int exitCode = -1;
    std::string out;
};

// Runs a shell command and collects its standard output (binary safe).
Result Shell(const std::string& command) {
    Result r;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return r;
    char buffer[1 << 16];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) r.out.append(buffer, n);
    const int status = pclose(pipe);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

bool HaveProgram(const char* name) {
    return Shell(std::string("command -v ") + name + " >/dev/null 2>&1").exitCode == 0;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Interleaved 16-bit samples from raw bytes.
std::vector<int16_t> Samples(const std::string& bytes, size_t offset = 0) {
    std::vector<int16_t> out((bytes.size() - std::min(offset, bytes.size())) / 2);
    if (!out.empty()) std::memcpy(out.data(), bytes.data() + offset, out.size() * 2);
    return out;
}

// Pearson correlation of the first `count` samples of a and b.
double Correlation(const std::vector<int16_t>& a, const std::vector<int16_t>& b, size_t count) {
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    for (size_t i = 0; i < count; ++i) {
        const double x = a[i], y = b[i];
        sa += x, sb += y, saa += x * x, sbb += y * y, sab += x * y;
    }
    const double n = double(count);
    const double cov = sab - sa * sb / n;
    const double va = saa - sa * sa / n, vb = sbb - sb * sb / n;
    return va > 0 && vb > 0 ? cov / std::sqrt(va * vb) : 0;
}

double Rms(const std::vector<int16_t>& a, size_t count) {
    double s = 0;
    for (size_t i = 0; i < count; ++i) s += double(a[i]) * a[i];
    return count ? std::sqrt(s / double(count)) : 0;
}

// PSNR over all three channels of two RGB pictures of the same size.
double Psnr(const std::string& a, const std::string& b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = double(uint8_t(a[i])) - double(uint8_t(b[i]));
        sum += d * d;
    }
    const double mse = sum / double(a.size());
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

std::string Probe(const fs::path& file, const std::string& stream, const std::string& entry) {
    const std::string select = stream.empty() ? "" : " -select_streams " + stream;
    Result r = Shell("ffprobe -v error" + select + " -show_entries " + entry +
                     " -of default=noprint_wrappers=1:nokey=1 " + Quote(file.string()));
    while (!r.out.empty() && (r.out.back() == '\n' || r.out.back() == '\r')) r.out.pop_back();
    return r.out;
}

// Decoded sound of a video file as interleaved 16-bit stereo at 44100 Hz.
std::vector<int16_t> DecodeSound(const fs::path& file) {
    return Samples(Shell("ffmpeg -v error -i " + Quote(file.string()) +
                         " -map 0:a:0 -f s16le -acodec pcm_s16le -ar 44100 -ac 2 -")
                       .out);
}

// Frame `index` (counted from the file's first) as top-down RGB at the file's size.
std::string DecodeFrame(const fs::path& file, int index) {
    return Shell("ffmpeg -v error -i " + Quote(file.string()) + " -vf 'select=eq(n\\," +
                 std::to_string(index) + ")' -frames:v 1 -f rawvideo -pix_fmt rgb24 -")
        .out;
}

// A doubled picture (2 width x 2 height RGB) back at the show's size: the top-left pixel of
// each 2x2 block. Empty when the size is not that of a doubled picture.
std::string EverySecondPixel(const std::string& doubled, int width, int height) {
    if (doubled.size() != size_t(width) * height * 12) return "";
    std::string out(size_t(width) * height * 3, '\0');
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            out.replace((size_t(y) * width + x) * 3, 3, doubled,
                        (size_t(2 * y) * 2 * width + 2 * x) * 3, 3);
    return out;
}

class ShowVideo : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("showvideo-test-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        if (!HaveProgram("ffmpeg") || !HaveProgram("ffprobe")) return;
        range_ = Shell(Command(dir_ / "range.mp4", kFrom, kTo, kFps) + " 2>" +
                       Quote((dir_ / "range.log").string()))
                     .exitCode;
        full_ = Shell(Command(dir_ / "full.mp4", kFullFrom, kFullTo, kFps) + " --format 444 2>" +
                      Quote((dir_ / "full.log").string()))
                    .exitCode;
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    void SetUp() override {
        if (!HaveProgram("ffmpeg") || !HaveProgram("ffprobe"))
            GTEST_SKIP() << "ffmpeg and ffprobe are needed (apt-get install ffmpeg)";
    }

    static std::string Command(const fs::path& out, double from, double to, int fps) {
        char range[96];
        std::snprintf(range, sizeof range, " --from %g --to %g --fps %d", from, to, fps);
        return std::string(SHOWVIDEO) + " --data " + Quote(DEMO_DATA_DIR) + " --out " +
               Quote(out.string()) + range;
    }
    // xmrender's render of the demo's song from playback start, as samples.
    static std::vector<int16_t> SongFromXmrender(double seconds) {
        const fs::path wav = dir_ / "song.wav";
        char length[32];
        std::snprintf(length, sizeof length, "%g", seconds);
        Result r = Shell(std::string(XMRENDER) + " --seconds " + length + " " +
                         Quote(std::string(DEMO_DATA_DIR) + "/Zarq-Neat.xm") + " " +
                         Quote(wav.string()) + " 2>/dev/null");
        if (r.exitCode != 0) return {};
        return Samples(ReadFile(wav), 44);
    }

    // showcapture's frame at `seconds` (kFullAt or kCaptureAt, 30 fps) as top-down RGB; empty
    // with the reason in *why when there is none. Both are drawn in one run for the suite.
    static std::string Capture(double seconds, std::string* why) {
        static std::string reason;
        static bool tried = false;
        const fs::path pngs = dir_ / "png";
        if (!tried) {
            tried = true;
            const XDisplayState display = WaitForXDisplay();
            if (display == XDisplayState::Unset) {
                reason = "showcapture needs an X display (run under Xvfb)";
            } else if (display == XDisplayState::Gone) {
                reason = std::string("the X server on DISPLAY ") + std::getenv("DISPLAY") +
                         " did not answer for 30 s";
            } else {
                char at[64];
                std::snprintf(at, sizeof at, "%g,%g", kFullAt, kCaptureAt);
                Result shot =
                    Shell(std::string("cd ") + Quote(DEMO_DATA_DIR) + " && " + SHOWCAPTURE +
                          " --at " + at + " --fps 30 --out " + Quote(pngs.string()) + " 2>&1");
                if (shot.exitCode != 0) reason = XDisplayFailure("showcapture") + ": " + shot.out;
            }
        }
        *why = reason;
        if (!reason.empty()) return "";
        char name[32];
        std::snprintf(name, sizeof name, "%06ld.png", std::lround(seconds * 1000));
        const std::string frame = Shell("ffmpeg -v error -i " + Quote((pngs / name).string()) +
                                        " -f rawvideo -pix_fmt rgb24 -")
                                      .out;
        if (frame.size() != size_t(kWidth * kHeight * 3))
            *why = std::string("showcapture's ") + name + " did not decode to 640x480";
        return why->empty() ? frame : "";
    }

    static fs::path dir_;
    static int range_, full_;
};
fs::path ShowVideo::dir_;
int ShowVideo::range_ = -1;
int ShowVideo::full_ = -1;

TEST_F(ShowVideo, RangeRendersIntoTheAskedFormatAndLength) {
    ASSERT_EQ(range_, 0) << ReadFile(dir_ / "range.log");
    const fs::path file = dir_ / "range.mp4";
    // The default: what phones, browsers and hardware decoders take, at twice the show's size.
    EXPECT_EQ(Probe(file, "v:0", "stream=codec_name"), "h264");
    EXPECT_EQ(Probe(file, "v:0", "stream=profile"), "High");
    EXPECT_EQ(Probe(file, "v:0", "stream=pix_fmt"), "yuv420p");
    EXPECT_EQ(Probe(file, "v:0", "stream=width"), std::to_string(kDoubledWidth));
    EXPECT_EQ(Probe(file, "v:0", "stream=height"), std::to_string(kDoubledHeight));
    EXPECT_EQ(Probe(file, "v:0", "stream=r_frame_rate"), "30/1");
    EXPECT_EQ(Probe(file, "v:0", "stream=nb_frames"), "90"); // (16.5 - 13.5) * 30
    EXPECT_EQ(Probe(file, "a:0", "stream=codec_name"), "aac");
    EXPECT_EQ(Probe(file, "a:0", "stream=sample_rate"), "44100");
    EXPECT_EQ(Probe(file, "a:0", "stream=channels"), "2");
    EXPECT_NEAR(std::atof(Probe(file, "", "format=duration").c_str()), kTo - kFrom, 0.05);
    EXPECT_NEAR(std::atof(Probe(file, "a:0", "stream=duration").c_str()), kTo - kFrom, 0.05);
}

TEST_F(ShowVideo, DecodedFrameMatchesShowcaptureOfTheSameMoment) {
    ASSERT_EQ(range_, 0) << ReadFile(dir_ / "range.log");
    std::string why;
    const std::string expected = Capture(kCaptureAt, &why);
    if (expected.empty()) {
        // Without a display there is nothing to compare with; with one, no picture is a fault.
        if (WaitForXDisplay(0) == XDisplayState::Unset) GTEST_SKIP() << why;
        FAIL() << why;
    }
    const int index = int(std::lround((kCaptureAt - kFrom) * kFps));
    const auto frame = [&](int i) {
        return EverySecondPixel(DecodeFrame(dir_ / "range.mp4", i), kWidth, kHeight);
    };
    const std::string decoded = frame(index);
    ASSERT_EQ(decoded.size(), expected.size());
    const double match = Psnr(decoded, expected);
    std::printf("decoded frame against showcapture's: PSNR %.1f dB\n", match);
    // Measured 41.0 dB here. In a render of 7.9-15.6 s this frame gave 39.3 dB, the 4:4:4 stream
    // 38.7 dB and plain 640x480 4:2:0 31.8 dB: the doubled stream keeps each pixel's colour.
    EXPECT_GT(match, kDoubledFloor);
    // The water moves every frame: a neighbour matches clearly worse, so the match above is the
    // frame of that moment and not one beside it.
    EXPECT_LT(Psnr(frame(index - 1), expected), match - 3.0);
    EXPECT_LT(Psnr(frame(index + 1), expected), match - 3.0);
}

TEST_F(ShowVideo, FullChromaFormatIsStill444AtTheShowsSize) {
    ASSERT_EQ(full_, 0) << ReadFile(dir_ / "full.log");
    const fs::path file = dir_ / "full.mp4";
    EXPECT_EQ(Probe(file, "v:0", "stream=profile"), "High 4:4:4 Predictive");
    EXPECT_EQ(Probe(file, "v:0", "stream=pix_fmt"), "yuv444p");
    EXPECT_EQ(Probe(file, "v:0", "stream=width"), std::to_string(kWidth));
    EXPECT_EQ(Probe(file, "v:0", "stream=height"), std::to_string(kHeight));
    EXPECT_EQ(Probe(file, "v:0", "stream=nb_frames"), "6"); // (8.1 - 7.9) * 30
    std::string why;
    const std::string expected = Capture(kFullAt, &why);
    if (expected.empty()) {
        // Without a display there is nothing to compare with; with one, no picture is a fault.
        if (WaitForXDisplay(0) == XDisplayState::Unset) GTEST_SKIP() << why;
        FAIL() << why;
    }
    const std::string decoded = DecodeFrame(file, int(std::lround((kFullAt - kFullFrom) * kFps)));
    ASSERT_EQ(decoded.size(), expected.size());
    const double match = Psnr(decoded, expected);
    std::printf("4:4:4 frame against showcapture's: PSNR %.1f dB\n", match);
    EXPECT_GT(match, kFullFloor);
}

TEST_F(ShowVideo, SoundIsTheSongAsHeardAtTheRangesProgramTime) {
    ASSERT_EQ(range_, 0) << ReadFile(dir_ / "range.log");
    const std::vector<int16_t> song = SongFromXmrender(kTo + 1);
    const std::vector<int16_t> sound = DecodeSound(dir_ / "range.mp4");
    const size_t offset = size_t(kFrom * kRate) * 2;
    ASSERT_GE(song.size(), offset + size_t((kTo - kFrom) * kRate) * 2);
    ASSERT_GE(sound.size(), size_t(2.5 * kRate) * 2);
    const std::vector<int16_t> reference(song.begin() + long(offset), song.end());
    const size_t count = size_t(2.5 * kRate) * 2;
    ASSERT_GT(Rms(reference, count), 200.0) << "the song should be playing here";
    EXPECT_GT(Correlation(sound, reference, count), 0.99);
}

TEST_F(ShowVideo, StartOfTheShowIsDeterministicAndCarriesTheSongFromItsStart) {
    const fs::path a = dir_ / "start-a.mp4", b = dir_ / "start-b.mp4";
    ASSERT_EQ(Shell(Command(a, 0, 2, kFps) + " 2>/dev/null").exitCode, 0);
    ASSERT_EQ(Shell(Command(b, 0, 2, kFps) + " 2>/dev/null").exitCode, 0);
    const std::string bytesA = ReadFile(a);
    ASSERT_GT(bytesA.size(), 1000u);
    EXPECT_TRUE(bytesA == ReadFile(b)) << "the same command must give the same file";

    const std::vector<int16_t> song = SongFromXmrender(3);
    const std::vector<int16_t> sound = DecodeSound(a);
    const size_t count = size_t(1.9 * kRate) * 2;
    ASSERT_GE(song.size(), count);
    ASSERT_GE(sound.size(), count);
    ASSERT_GT(Rms(song, count), 200.0);
    EXPECT_GT(Correlation(sound, song, count), 0.99);
}

TEST_F(ShowVideo, MissingFfmpegIsAnErrorThatSaysHowToInstallIt) {
    const fs::path out = dir_ / "none.mp4";
    // With PATH emptied, ffmpeg cannot be found; the tool itself is given by full path.
    Result r = Shell("PATH=/nonexistent " + Command(out, 0, 0.5, kFps) + " 2>&1");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("apt-get install ffmpeg"), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(out));
    r = Shell(std::string(SHOWVIDEO) + " --ffmpeg /nonexistent/ffmpeg --out " +
              Quote(out.string()) + " 2>&1");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("apt-get install ffmpeg"), std::string::npos) << r.out;
}

TEST_F(ShowVideo, UnwritableOutputIsRefusedBeforeAnyDrawing) {
    Result r = Shell(std::string(SHOWVIDEO) + " --out /nonexistent/dir/demo.mp4 --to 1 2>&1");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("cannot write into /nonexistent/dir"), std::string::npos) << r.out;
}

TEST_F(ShowVideo, MissingDataFilesGiveASilentUntexturedVideoAndSayWhy) {
    const fs::path empty = dir_ / "no-data";
    fs::create_directories(empty);
    const fs::path out = dir_ / "silent.mp4";
    Result r = Shell(std::string(SHOWVIDEO) + " --data " + Quote(empty.string()) + " --out " +
                     Quote(out.string()) + " --to 1 --fps 10 2>&1");
    EXPECT_EQ(r.exitCode, 3) << r.out;
    EXPECT_NE(r.out.find("Zarq-Neat.xm"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("silent"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Data/Particle.bmp"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("untextured"), std::string::npos) << r.out;
    // The video is still whole: 1 s of pictures and 1 s of silence.
    EXPECT_EQ(Probe(out, "v:0", "stream=nb_frames"), "10");
    const std::vector<int16_t> sound = DecodeSound(out);
    ASSERT_GE(sound.size(), size_t(0.9 * kRate) * 2);
    EXPECT_EQ(Rms(sound, sound.size()), 0.0);
}

TEST_F(ShowVideo, RejectsEmptyOrMalformedRanges) {
    for (const char* args :
         {"--from 5 --to 5", "--from 6 --to 5", "--fps 0", "--fps 2.5", "--from -1", "--to",
          "--crf 60", "--format 422", "--format", "--bogus 1"}) {
        Result r = Shell(std::string(SHOWVIDEO) + " " + args + " --out " +
                         Quote((dir_ / "bad.mp4").string()) + " 2>&1");
        EXPECT_EQ(r.exitCode, 2) << args;
        EXPECT_NE(r.out.find("usage:"), std::string::npos) << args;
    }
    EXPECT_FALSE(fs::exists(dir_ / "bad.mp4"));
}

} // namespace
