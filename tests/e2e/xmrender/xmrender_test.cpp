// xmrender: whole-block rendering from playback start, the stop at the song's first wrap, the
// WAV header and position lines, identical output on a second run, and the command line's
// exit codes for bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "music/file_access.h"
#include "music/module.h"
#include "render.h"
#include "xm_writer.h"

namespace {

std::string TempPath(const std::string& name) {
    return "/tmp/xmrender_test_" + std::to_string(getpid()) + "_" + name;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8;
}

// One instrument, `orders` orders of 4-row patterns at speed 6 and tempo 125: 24 ticks of 882
// frames per order. A note on the first row of each pattern.
xmw::Song ShortSong(int orders) {
    xmw::Song song = xmw::MinimalSong(4);
    song.orders.clear();
    song.patterns.clear();
    for (int o = 0; o < orders; ++o) {
        song.orders.push_back(static_cast<uint8_t>(o));
        xmw::Pattern pattern = song.MakePattern(4);
        pattern.At(0, 0) = PatternCell{xmw::NoteNumber("C-4"), 1, 0, 0, 0};
        song.patterns.push_back(pattern);
    }
    return song;
}

int RunTool(const std::string& arguments, std::string* output) {
    const std::string command = std::string(XMRENDER_PATH) + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe)) *output += buffer;
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class XmRender : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const auto& path : cleanup_) remove(path.c_str());
    }
    std::string Path(const std::string& name) {
        cleanup_.push_back(TempPath(name));
        return cleanup_.back();
    }
    std::vector<std::string> cleanup_;
};

} // namespace

TEST_F(XmRender, StopsAfterTheBlockInWhichTheSongWraps) {
    const std::string song = Path("short.xm"), wav = Path("short.wav"), csv = Path("short.csv");
    ASSERT_TRUE(xmw::SaveXm(ShortSong(2), song));
    RenderFileResult result{};
    char error[256] = "";
    ASSERT_TRUE(RenderFileToWav(song.c_str(), wav.c_str(), csv.c_str(), 0, &result, error,
                                sizeof error, false))
        << error;
    // Two orders of 24 ticks x 882 frames: the wrap's row tick falls at frame 42336, in block
    // 47 (42336 / 884 = 47.9), so 48 whole blocks, all from inside the ring's pre-fill.
    EXPECT_TRUE(result.wrapped);
    EXPECT_EQ(result.frames, 48 * 884);

    const auto bytes = ReadAll(wav);
    ASSERT_EQ(bytes.size(), 44u + 48 * 884 * 4);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(Le32(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(std::string(bytes.begin() + 8, bytes.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(Le32(bytes, 16), 16u);
    EXPECT_EQ(Le16(bytes, 20), 1); // PCM
    EXPECT_EQ(Le16(bytes, 22), 2); // stereo
    EXPECT_EQ(Le32(bytes, 24), 44100u);
    EXPECT_EQ(Le32(bytes, 28), 44100u * 4);
    EXPECT_EQ(Le16(bytes, 32), 4);
    EXPECT_EQ(Le16(bytes, 34), 16);
    EXPECT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 40), "data");
    EXPECT_EQ(Le32(bytes, 40), 48u * 884 * 4);
    bool sound = false;
    for (size_t i = 44; i < bytes.size(); ++i) sound = sound || bytes[i] != 0;
    EXPECT_TRUE(sound);

    const auto lines = ReadLines(csv);
    ASSERT_EQ(lines.size(), 49u);
    EXPECT_EQ(lines[0], "block,order,row,ms");
    EXPECT_EQ(lines[1], "0,0,0,19"); // runs of 882 and 2 frames: 19 ms + 0 ms, truncated
    EXPECT_EQ(lines[48].substr(0, 7), "47,0,0,"); // back at the start
    EXPECT_EQ(lines[47].substr(0, 7), "46,1,3,");
}

TEST_F(XmRender, JumpBackToAnEarlierOrderIsAWrapButAPatternLoopIsNot) {
    xmw::Song song = ShortSong(3);
    song.patterns[0].At(0, 1) = PatternCell{0, 0, 0, 0x0E, 0x60};
    song.patterns[0].At(3, 1) = PatternCell{0, 0, 0, 0x0E, 0x61}; // order 0 played twice
    song.patterns[2].At(3, 1) = PatternCell{0, 0, 0, 0x0B, 0x01}; // back to order 1
    const std::string path = Path("jump.xm"), wav = Path("jump.wav");
    ASSERT_TRUE(xmw::SaveXm(song, path));
    RenderFileResult result{};
    char error[256] = "";
    ASSERT_TRUE(RenderFileToWav(path.c_str(), wav.c_str(), nullptr, 0, &result, error, sizeof error,
                                false));
    EXPECT_TRUE(result.wrapped);
    // Order 0 twice, orders 1 and 2: 4 x 24 ticks x 882 frames = 84672, wrap in block 95.
    EXPECT_EQ(result.frames, 96 * 884);
}

TEST_F(XmRender, SecondsRenderWholeBlocksPastTheRingAndRepeatExactly) {
    const std::string song = Path("loop.xm"), a = Path("a.wav"), b = Path("b.wav");
    ASSERT_TRUE(xmw::SaveXm(ShortSong(1), song));
    RenderFileResult result{};
    char error[256] = "";
    ASSERT_TRUE(RenderFileToWav(song.c_str(), a.c_str(), nullptr, 3.0, &result, error, sizeof error,
                                false));
    EXPECT_EQ(result.frames, 150 * 884); // 132300 frames rounded up to whole blocks
    ASSERT_TRUE(RenderFileToWav(song.c_str(), b.c_str(), nullptr, 3.0, &result, error, sizeof error,
                                false));
    const auto first = ReadAll(a), second = ReadAll(b);
    EXPECT_EQ(first.size(), 44u + 150 * 884 * 4);
    EXPECT_TRUE(first == second);
    // The one-order song repeats every 24 ticks (21168 frames); after the ring's pre-fill the
    // output must repeat too, which a block handed out twice or out of order would break.
    const size_t period = 21168 * 4, start = 44 + 2 * period;
    ASSERT_GT(first.size(), start + 3 * period);
    EXPECT_TRUE(std::equal(first.begin() + start, first.begin() + start + period,
                           first.begin() + start + 2 * period));
}

TEST_F(XmRender, CommandLineErrors) {
    std::string output;
    EXPECT_EQ(RunTool("--help", &output), 0);
    EXPECT_NE(output.find("usage: xmrender"), std::string::npos);

    output.clear();
    const std::string missing = TempPath("missing.xm"), wav = Path("out.wav");
    EXPECT_EQ(RunTool(missing + " " + wav, &output), 1);
    EXPECT_NE(output.find("cannot read " + missing), std::string::npos) << output;

    output.clear();
    const std::string junk = Path("junk.xm");
    {
        std::ofstream out(junk, std::ios::binary);
        out << "This is not a module at all, just some text.";
    }
    EXPECT_EQ(RunTool(junk + " " + wav, &output), 1);
    // The loader's reason follows the verdict on the same line.
    const std::string verdict = junk + " cannot be played: ";
    const size_t at = output.find(verdict);
    ASSERT_NE(at, std::string::npos) << output;
    const std::string reason =
        output.substr(at + verdict.size(), output.find('\n', at) - at - verdict.size());
    EXPECT_GE(reason.size(), 8u) << output;

    output.clear();
    const std::string song = Path("ok.xm");
    ASSERT_TRUE(xmw::SaveXm(ShortSong(1), song));
    EXPECT_EQ(RunTool(song + " /nonexistent-folder/out.wav", &output), 1);
    EXPECT_NE(output.find("cannot write"), std::string::npos) << output;

    output.clear();
    EXPECT_EQ(RunTool(song, &output), 2);
    output.clear();
    EXPECT_EQ(RunTool("--seconds abc " + song + " " + wav, &output), 2);
    output.clear();
    EXPECT_EQ(RunTool("--seconds 1 " + song + " " + wav, &output), 0);
    EXPECT_EQ(ReadAll(wav).size(), 44u + 50 * 884 * 4);
}

namespace {

// Four tracks, each with its own note and panning, one of them sliding its volume, so that every
// stem differs and ramps run in each.
xmw::Song FourTracks() {
    xmw::Song song = xmw::MinimalSong(16);
    song.channels = 4;
    xmw::Pattern pattern = song.MakePattern(16);
    const char* notes[] = {"C-4", "E-4", "G-5", "C-3"};
    for (int c = 0; c < 4; ++c) {
        // At volume 16, so that the four together stay below full scale.
        pattern.At(c, c) = PatternCell{xmw::NoteNumber(notes[c]), 1, 0x20, 0, 0};
        pattern.At(c + 8, c) = PatternCell{0, 0, static_cast<uint8_t>(0xC0 + 4 * c), 0x0A, 0x03};
    }
    song.patterns = {pattern};
    return song;
}

float FloatAt(const std::vector<uint8_t>& b, size_t at) {
    const uint32_t bits = Le32(b, at);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

} // namespace

TEST(Stems, EachTracksStemAddsUpToTheMixInFloat) {
    const std::vector<uint8_t> bytes = xmw::WriteXm(FourTracks());
    Module* written = LoadModuleFromMemory(bytes.data(), bytes.size(), nullptr);
    ASSERT_NE(written, nullptr);
    const std::string demoPath = std::string(DEMO_DATA_DIR) + "/Zarq-Neat.xm";
    Module* demo = LoadModule(&standardFileCallbacks, demoPath.c_str(), nullptr);
    ASSERT_NE(demo, nullptr) << demoPath;
    constexpr int32_t FRAMES = 4 * RENDER_RATE;
    for (const Module* module :
         {static_cast<const Module*>(written), static_cast<const Module*>(demo)}) {
        for (PlayerRules rules : {PlayerRules::Demo, PlayerRules::Standard}) {
            Player* whole = CreatePlayer(module, RENDER_RATE, rules);
            std::vector<float> mix(2 * size_t{FRAMES});
            ASSERT_EQ(RenderFloat(whole, mix.data(), FRAMES), FRAMES);
            DestroyPlayer(whole);
            std::vector<double> sum(mix.size(), 0.0);
            int audible = 0;
            for (int32_t track = 0; track < module->channelCount; ++track) {
                Player* stem = CreateStemPlayer(module, rules, track);
                ASSERT_NE(stem, nullptr);
                std::vector<float> frames(mix.size());
                ASSERT_EQ(RenderFloat(stem, frames.data(), FRAMES), FRAMES);
                DestroyPlayer(stem);
                bool sound = false;
                for (size_t k = 0; k < frames.size(); ++k) {
                    sum[k] += frames[k];
                    sound = sound || frames[k] != 0.0f;
                }
                audible += sound;
            }
            double worst = 0;
            for (size_t k = 0; k < mix.size(); ++k)
                worst = std::max(worst, std::fabs(sum[k] - mix[k]));
            // A sixteenth of a 16-bit step: float rounding, far below a voice left out or counted
            // twice.
            EXPECT_LT(worst, 1.0 / 32768 / 16) << module->title;
            EXPECT_GE(audible, 4) << module->title << ": too few tracks sound to tell anything";
        }
    }
    EXPECT_EQ(CreateStemPlayer(written, PlayerRules::Demo, 4), nullptr);
    EXPECT_EQ(CreateStemPlayer(written, PlayerRules::Demo, -1), nullptr);
    FreeModule(written);
    FreeModule(demo);
}

TEST_F(XmRender, StemsAreFloatFilesAsLongAsTheMixThatAddUpToIt) {
    const std::string song = Path("four.xm"), wav = Path("mix.wav");
    const std::string dir = TempPath("stems");
    ASSERT_TRUE(xmw::SaveXm(FourTracks(), song));
    std::string output;
    ASSERT_EQ(RunTool("--stems " + dir + " --rules standard " + song + " " + wav, &output), 0)
        << output;
    const std::vector<uint8_t> mix = ReadAll(wav);
    ASSERT_GT(mix.size(), 44u);
    const size_t frames = (mix.size() - 44) / 4;
    std::vector<double> sum(frames * 2, 0.0);
    for (int c = 1; c <= 4; ++c) {
        char name[32];
        std::snprintf(name, sizeof name, "/channel%02d.wav", c);
        cleanup_.push_back(dir + name);
        const std::vector<uint8_t> stem = ReadAll(dir + name);
        ASSERT_EQ(stem.size(), FLOAT_WAV_HEADER + frames * 8) << name;
        EXPECT_EQ(Le16(stem, 20), 3) << "IEEE float";
        EXPECT_EQ(Le16(stem, 34), 32);
        EXPECT_EQ(Le32(stem, 46), frames) << "fact chunk";
        EXPECT_EQ(Le32(stem, 54), frames * 8);
        for (size_t k = 0; k < 2 * frames; ++k) sum[k] += FloatAt(stem, FLOAT_WAV_HEADER + 4 * k);
    }
    EXPECT_FALSE(ReadAll(dir + "/channel05.wav").size()) << "the song has four channels";
    // The 16-bit mix is the float mix rounded: within half a step of the stems' sum, and one
    // for float rounding on the way.
    double worst = 0;
    for (size_t k = 0; k < 2 * frames; ++k) {
        const double pcm = static_cast<int16_t>(Le16(mix, 44 + 2 * k));
        worst = std::max(worst, std::fabs(sum[k] * 32768.0 - pcm));
    }
    EXPECT_LE(worst, 1.0);
    rmdir(dir.c_str());
    output.clear();
    EXPECT_EQ(RunTool("--stems /nonexistent-folder/stems " + song + " " + wav, &output), 1);
    EXPECT_NE(output.find("cannot make the folder"), std::string::npos) << output;
}

TEST_F(XmRender, RepeatPlaysTheSongThatOftenAndEndsAtItsReturn) {
    const std::string song = Path("repeat.xm"), wav = Path("repeat.wav");
    ASSERT_TRUE(xmw::SaveXm(ShortSong(2), song));
    // Two orders of 24 ticks: a pass is 48 x 882 frames.
    for (int count : {1, 3}) {
        std::string output;
        ASSERT_EQ(RunTool("--repeat " + std::to_string(count) + " " + song + " " + wav, &output), 0)
            << output;
        const std::vector<uint8_t> bytes = ReadAll(wav);
        ASSERT_GE(bytes.size(), 44u);
        EXPECT_EQ(Le32(bytes, 40), uint32_t(count) * 48 * 882 * 4);
        EXPECT_EQ(bytes.size(), 44u + size_t(count) * 48 * 882 * 4);
    }
    for (const char* wrong : {"--repeat 0", "--repeat -2", "--repeat x", "--repeat 2 --seconds 3",
                              "--bench --repeat 2"}) {
        std::string output;
        EXPECT_EQ(RunTool(std::string(wrong) + " " + song + " " + wav, &output), 2) << wrong;
    }
}
