// showvideo_test.cpp: the video tool end to end: container format, a decoded frame against
// showcapture's picture of the same moment, the decoded sound against xmrender's render of the
// song, determinism, and the failures a user meets (no ffmpeg, no data files, bad ranges).
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

// The shared render: 13.5 to 16.5 s of program time at 30 fps, across the change from the
// descent (show 8-10 s) to the first caption segment (show 10 s = program 15 s).
constexpr double kFrom = 13.5, kTo = 16.5;
constexpr int kFps = 30;

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

// Frame `index` (counted from the file's first) as top-down RGB.
std::string DecodeFrame(const fs::path& file, int index) {
    return Shell("ffmpeg -v error -i " + Quote(file.string()) + " -vf 'select=eq(n\\," +
                 std::to_string(index) + ")' -frames:v 1 -f rawvideo -pix_fmt rgb24 -")
        .out;
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

    static fs::path dir_;
    static int range_;
};
fs::path ShowVideo::dir_;
int ShowVideo::range_ = -1;

TEST_F(ShowVideo, RangeRendersIntoTheAskedFormatAndLength) {
    ASSERT_EQ(range_, 0) << ReadFile(dir_ / "range.log");
    const fs::path file = dir_ / "range.mp4";
    EXPECT_EQ(Probe(file, "v:0", "stream=codec_name"), "h264");
    EXPECT_EQ(Probe(file, "v:0", "stream=width"), "640");
    EXPECT_EQ(Probe(file, "v:0", "stream=height"), "480");
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
    if (!std::getenv("DISPLAY") || !*std::getenv("DISPLAY"))
        GTEST_SKIP() << "showcapture needs an X display (run under Xvfb)";
    // Program time 15.5 s: the caption segment, half a second after the segment change.
    const fs::path pngs = dir_ / "png";
    Result shot = Shell(std::string("cd ") + Quote(DEMO_DATA_DIR) + " && " + SHOWCAPTURE +
                        " --at 15.5 --fps 30 --out " + Quote(pngs.string()) + " 2>&1");
    ASSERT_EQ(shot.exitCode, 0) << shot.out;
    const std::string expected =
        Shell("ffmpeg -v error -i " + Quote((pngs / "015500.png").string()) +
              " -f rawvideo -pix_fmt rgb24 -")
            .out;
    const int index = int(std::lround((15.5 - kFrom) * kFps));
    const std::string decoded = DecodeFrame(dir_ / "range.mp4", index);
    ASSERT_EQ(expected.size(), size_t(kWidth * kHeight * 3));
    ASSERT_EQ(decoded.size(), expected.size());
    const double match = Psnr(decoded, expected);
    EXPECT_GT(match, 35.0);
    // The water moves every frame: a neighbour matches clearly worse, so the match above is the
    // frame of that moment and not one beside it.
    EXPECT_LT(Psnr(DecodeFrame(dir_ / "range.mp4", index - 1), expected), match - 3.0);
    EXPECT_LT(Psnr(DecodeFrame(dir_ / "range.mp4", index + 1), expected), match - 3.0);
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
    for (const char* args : {"--from 5 --to 5", "--from 6 --to 5", "--fps 0", "--fps 2.5",
                             "--from -1", "--to", "--crf 60", "--bogus 1"}) {
        Result r = Shell(std::string(SHOWVIDEO) + " " + args + " --out " +
                         Quote((dir_ / "bad.mp4").string()) + " 2>&1");
        EXPECT_EQ(r.exitCode, 2) << args;
        EXPECT_NE(r.out.find("usage:"), std::string::npos) << args;
    }
    EXPECT_FALSE(fs::exists(dir_ / "bad.mp4"));
}

} // namespace
