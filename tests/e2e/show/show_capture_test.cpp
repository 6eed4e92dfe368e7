// show_capture_test.cpp: runs showcapture over the whole show once and checks each captured
// frame for what a viewer would see (and the README's strip against its frames); runs it twice
// more to check that captures repeat exactly.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "../../support/x_display.h"
#include "png_writer.h"

namespace {

struct Frame {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    bool loaded = false;

    const uint8_t* At(int x, int y) const { return &rgb[(size_t(y) * width + x) * 3]; }
    // Pixels in [x0, x1) x [y0, y1) (y from the top) that satisfy `test`.
    int Count(int x0, int y0, int x1, int y1,
              const std::function<bool(int, int, int)>& test) const {
        int n = 0;
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                const uint8_t* p = At(x, y);
                n += test(p[0], p[1], p[2]);
            }
        return n;
    }
    int CountAll(const std::function<bool(int, int, int)>& test) const {
        return Count(0, 0, width, height, test);
    }
};

bool White(int r, int g, int b) {
    return r > 235 && g > 235 && b > 235;
}
bool Lit(int r, int g, int b) {
    return r > 40 || g > 40 || b > 40;
}
bool Grey(int r, int g, int b) {
    return r > 120 && std::abs(r - g) < 12 && std::abs(g - b) < 12;
}
bool WaterBlue(int r, int g, int b) {
    return b > 120 && r < 80 && g < 80;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A fresh folder, so that runs of several builds at once do not share frames.
std::string MakeTempDir() {
    std::string pattern = ::testing::TempDir() + "show_capture_XXXXXX";
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

bool HaveDisplay() {
    const char* display = std::getenv("DISPLAY");
    return display && *display;
}

int RunCapture(const std::string& times, int fps, const std::string& dir) {
    const std::string command = std::string("cd '") + DEMO_DATA_DIR + "' && '" + SHOWCAPTURE_PATH +
                                "' --at " + times + " --fps " + std::to_string(fps) + " --out '" +
                                dir + "' > /dev/null";
    return std::system(command.c_str());
}

class ShowCapture : public ::testing::Test {
  protected:
    // Program-clock times; the show's clock runs about 5 s behind (after the intro).
    // The strip's times are among them.
    static constexpr const char* kTimes = "1,3,8,12.9,17,22,31,36,52,85,100,140,180,200";

    static void SetUpTestSuite() {
        if (!HaveDisplay()) return;
        display = WaitForXDisplay();
        if (display != XDisplayState::Answers) return;
        dir = MakeTempDir();
        status = RunCapture(kTimes, 20, dir);
        if (status != 0) failure = XDisplayFailure("showcapture");
    }

    static void TearDownTestSuite() {
        if (!dir.empty()) std::filesystem::remove_all(dir);
    }

    void SetUp() override {
        if (!HaveDisplay()) GTEST_SKIP() << "no X display: set DISPLAY (the test script runs Xvfb)";
        ASSERT_NE(display, XDisplayState::Gone)
            << "the X server on DISPLAY " << std::getenv("DISPLAY") << " did not answer for 30 s";
        ASSERT_EQ(status, 0) << failure;
    }

    static Frame Load(const char* name) {
        Frame f;
        f.loaded = DecodePng(ReadFile(dir + "/" + name), &f.width, &f.height, &f.rgb);
        EXPECT_TRUE(f.loaded) << name;
        if (f.loaded) {
            EXPECT_EQ(f.width, 640);
            EXPECT_EQ(f.height, 480);
        }
        return f;
    }

    static std::string dir;
    static int status;
    static inline XDisplayState display = XDisplayState::Unset;
    static inline std::string failure;
};
std::string ShowCapture::dir;
int ShowCapture::status = -1;

TEST_F(ShowCapture, IntroCaptionStandsInItsBand) {
    const Frame f = Load("001000.png");
    ASSERT_TRUE(f.loaded);
    // "Compiling the Future..." at x = 3, baseline 130 px from the top; nothing else lit.
    EXPECT_GT(f.Count(0, 105, 400, 137, White), 300);
    EXPECT_EQ(f.Count(0, 0, 640, 100, Lit), 0);
    EXPECT_EQ(f.Count(0, 140, 640, 480, Lit), 0);
    EXPECT_EQ(f.Count(0, 105, 2, 137, Lit), 0) << "starts at x = 3";
}

TEST_F(ShowCapture, GreyCubesOverBlueWater) {
    const Frame f = Load("008000.png"); // show 3 s
    ASSERT_TRUE(f.loaded);
    EXPECT_GT(f.Count(0, 0, 640, 240, Grey), 1000) << "the upper field";
    EXPECT_GT(f.Count(0, 400, 640, 480, WaterBlue), 640 * 80 * 8 / 10) << "water below";
    EXPECT_EQ(f.Count(0, 0, 640, 200, WaterBlue), 0) << "black sky above the horizon";
}

TEST_F(ShowCapture, WhiteFadeCloseToEightSeconds) {
    const Frame before = Load("008000.png");
    const Frame f = Load("012900.png"); // show 7.9 s: the opening's closing fade
    ASSERT_TRUE(f.loaded && before.loaded);
    auto dark = [](int r, int g, int b) { return r < 30 && g < 30 && b < 30; };
    auto lowRed = [](int r, int, int) { return r < 40; };
    EXPECT_GT(before.CountAll(dark), 640 * 480 / 4);
    // A white veil over the whole frame: no black left, even the water turns pale.
    EXPECT_EQ(f.CountAll(dark), 0);
    EXPECT_EQ(f.CountAll(lowRed), 0);
}

TEST_F(ShowCapture, CubesTranslucentBetween27And45Seconds) {
    const Frame opaque = Load("031000.png");      // show 26 s
    const Frame translucent = Load("036000.png"); // show 31 s
    const Frame again = Load("052000.png");       // show 47 s
    ASSERT_TRUE(opaque.loaded && translucent.loaded && again.loaded);
    const int all = 640 * 480;
    EXPECT_GT(opaque.CountAll(Grey), all / 3);
    // Grey faces blended over the blue floor: pale blue, no plain grey left.
    EXPECT_LT(translucent.CountAll(Grey), all / 100);
    auto paleBlue = [](int r, int g, int b) {
        return r > 30 && b > r + 60 && std::abs(r - g) < 12;
    };
    EXPECT_GT(translucent.CountAll(paleBlue), all / 10);
    EXPECT_GT(again.CountAll(Grey), 1000) << "opaque again after 45 s";
}

TEST_F(ShowCapture, AdditiveParticleGlowAfterNinetySeconds) {
    const Frame f = Load("100000.png"); // show 95 s
    ASSERT_TRUE(f.loaded);
    const int all = 640 * 480;
    auto dark = [](int r, int g, int b) { return r < 12 && g < 12 && b < 12; };
    EXPECT_GT(f.CountAll(dark), all / 2) << "black background";
    auto glow = [](int, int, int b) { return b > 150; };
    EXPECT_GT(f.CountAll(glow), 100);
    // Particles are (tint, tint, 1): added up, blue never falls behind red or green.
    auto redder = [](int r, int g, int b) { return r > b + 8 || g > b + 8; };
    EXPECT_EQ(f.CountAll(redder), 0);
    EXPECT_EQ(f.CountAll(WaterBlue) > all / 4, false) << "no water left";
}

TEST_F(ShowCapture, CreditsBeforeAndAfter190Seconds) {
    const Frame first = Load("180000.png");  // show 175 s
    const Frame second = Load("200000.png"); // show 195 s
    ASSERT_TRUE(first.loaded && second.loaded);
    // Baselines 130, 180 and 270 px from the top at x 40, 40 and 20.
    EXPECT_GT(first.Count(40, 110, 400, 136, White), 300);
    EXPECT_GT(first.Count(40, 160, 300, 186, White), 200);
    EXPECT_GT(first.Count(20, 250, 620, 276, White), 400);
    // From 190 s: "Code By:" / "Quorvane" / "Music by:" / "Zarq" at x = 230.
    EXPECT_GT(second.Count(230, 110, 340, 136, White), 120);
    EXPECT_GT(second.Count(230, 290, 300, 316, White), 60) << "Zarq";
    EXPECT_LT(second.Count(20, 250, 220, 276, White), 40) << "the first credits are gone";
    EXPECT_LT(first.Count(230, 290, 300, 316, White), 20) << "not yet the second credits";
}

TEST_F(ShowCapture, SameCommandGivesIdenticalFiles) {
    const std::string a = MakeTempDir(), b = MakeTempDir();
    ASSERT_FALSE(a.empty() || b.empty());
    ASSERT_EQ(RunCapture("4.6,9", 30, a), 0);
    ASSERT_EQ(RunCapture("4.6,9", 30, b), 0);
    for (const char* name : {"/004600.png", "/009000.png"}) {
        const std::vector<uint8_t> fa = ReadFile(a + name), fb = ReadFile(b + name);
        ASSERT_FALSE(fa.empty()) << name;
        EXPECT_TRUE(fa == fb) << name;
    }
    std::filesystem::remove_all(a);
    std::filesystem::remove_all(b);
}

} // namespace

// docs/show_strip.png, drawn by scripts/show_strip.sh, is what a newcomer sees of the show first:
// it must still be the show. Each of its tiles is a frame scaled to 256x192 (montage: 4 px
// around each tile, its label below).
namespace {
constexpr const char* kStripFrames[] = {"003000.png", "017000.png", "022000.png",
                                        "085000.png", "140000.png", "200000.png"};
constexpr int kTileW = 256, kTileH = 192, kTileMargin = 4;

// The frame averaged down to a tile: each small pixel is the mean of the area it covers.
std::vector<double> ScaleToTile(const Frame& f) {
    std::vector<double> out(size_t(kTileW) * kTileH * 3, 0.0);
    const double sx = double(f.width) / kTileW, sy = double(f.height) / kTileH;
    for (int ty = 0; ty < kTileH; ++ty)
        for (int tx = 0; tx < kTileW; ++tx) {
            double sum[3] = {0, 0, 0}, area = 0;
            const double x0 = tx * sx, x1 = x0 + sx, y0 = ty * sy, y1 = y0 + sy;
            for (int y = int(y0); y < int(std::ceil(y1)); ++y)
                for (int x = int(x0); x < int(std::ceil(x1)); ++x) {
                    const double w = (std::min(x1, x + 1.0) - std::max(x0, double(x))) *
                                     (std::min(y1, y + 1.0) - std::max(y0, double(y)));
                    for (int c = 0; c < 3; ++c) sum[c] += w * f.At(x, y)[c];
                    area += w;
                }
            for (int c = 0; c < 3; ++c) out[(size_t(ty) * kTileW + tx) * 3 + c] = sum[c] / area;
        }
    return out;
}

double TilePsnr(const Frame& strip, int tile, const std::vector<double>& frame) {
    const int left = kTileMargin + tile * (kTileW + 2 * kTileMargin);
    double squares = 0;
    for (int y = 0; y < kTileH; ++y)
        for (int x = 0; x < kTileW; ++x)
            for (int c = 0; c < 3; ++c) {
                const double d = strip.At(left + x, kTileMargin + y)[c] -
                                 frame[(size_t(y) * kTileW + x) * 3 + c];
                squares += d * d;
            }
    const double mse = squares / (double(kTileW) * kTileH * 3);
    return mse < 1e-9 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}
} // namespace

TEST_F(ShowCapture, CommittedStripHoldsTheShowsFrames) {
    Frame strip;
    strip.loaded = DecodePng(ReadFile(SHOW_STRIP_PATH), &strip.width, &strip.height, &strip.rgb);
    ASSERT_TRUE(strip.loaded) << SHOW_STRIP_PATH << ": not an 8-bit RGB PNG";
    const int tiles = int(std::size(kStripFrames));
    ASSERT_EQ(strip.width, tiles * (kTileW + 2 * kTileMargin)) << "one tile per strip time";
    ASSERT_GE(strip.height, kTileH + 2 * kTileMargin);
    std::vector<std::vector<double>> scaled;
    for (const char* name : kStripFrames) {
        const Frame f = Load(name);
        ASSERT_TRUE(f.loaded) << name;
        scaled.push_back(ScaleToTile(f));
    }
    // Each tile is its own frame (scaling and rounding aside: 54-73 dB), and clearly none of the
    // others: a strip drawn before the show changed (a frame 0.1 s off scores 23-34 dB), or with
    // its frames out of order, fails here.
    for (int i = 0; i < tiles; ++i) {
        const double own = TilePsnr(strip, i, scaled[i]);
        EXPECT_GT(own, 40.0) << "tile " << i << " (" << kStripFrames[i]
                             << ") differs from the show: redraw it with scripts/show_strip.sh";
        for (int j = 0; j < tiles; ++j) {
            if (j == i) continue;
            EXPECT_LT(TilePsnr(strip, i, scaled[j]), own - 10.0) << i << " vs " << j;
        }
    }
}
