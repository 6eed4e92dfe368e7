// show_gl_test.cpp: the show against a real OpenGL context (Xvfb with Mesa in the test run):
// what reaches the rasteriser and what ends up in the frame.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "../../support/x_display.h"
#include "platform/gl.h"
#include "platform/platform.h"
#include "shell/frame_timer.h"
#include "shell/gl_window.h"
#include "shell/main_loop.h"
#include "shell/shell_state.h"
#include "show/cube_field.h"
#include "show/particle_engine.h"
#include "show/reflection_scene.h"
#include "show/show_timeline.h"

namespace {

uint32_t clockMs = 0;
const platform::ClockSource testClock{[](void* now) { return *static_cast<const uint32_t*>(now); },
                                      &clockMs};

struct Pixel {
    int r, g, b;
};

// (x, y) with y counted from the top of the 640x480 frame.
Pixel ReadPixel(int x, int y) {
    uint8_t p[3] = {};
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, 479 - y, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, p);
    return {p[0], p[1], p[2]};
}

// Pixels brighter than `level` in every channel within rows [top, bottom).
int BrightPixelsInRows(int top, int bottom, int level) {
    std::vector<uint8_t> rows(size_t(640) * 3 * (bottom - top));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 480 - bottom, 640, bottom - top, GL_RGB, GL_UNSIGNED_BYTE, rows.data());
    int count = 0;
    for (size_t i = 0; i < rows.size(); i += 3)
        count += rows[i] > level && rows[i + 1] > level && rows[i + 2] > level;
    return count;
}

class ShowGl : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        platform::SetClock(&testClock);
        display = WaitForXDisplay();
        if (display != XDisplayState::Answers) return;
        opened = OpenGlWindow("Demo", 640, 480, 16, false);
        if (opened) {
            PrepareShow();
        } else {
            failure = XDisplayFailure("OpenGlWindow");
        }
    }
    static void TearDownTestSuite() {
        if (opened) CloseGlWindow();
        platform::SetClock(nullptr);
    }
    void SetUp() override {
        if (display == XDisplayState::Unset)
            GTEST_SKIP() << "no X display (DISPLAY unset): run under Xvfb";
        ASSERT_NE(display, XDisplayState::Gone)
            << "the X server on DISPLAY " << std::getenv("DISPLAY") << " did not answer for 30 s";
        ASSERT_TRUE(opened) << failure;
        // The start-up state every test begins from.
        ResizeGlViewport(640, 480);
        glDisable(GL_TEXTURE_2D);
        glEnable(GL_DEPTH_TEST);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        glClearColor(0, 0, 0, 0);
        glLoadIdentity();
        reflection = ReflectionState{};
    }
    static bool opened;
    static inline XDisplayState display = XDisplayState::Unset;
    static inline std::string failure;
};
bool ShowGl::opened = false;

TEST_F(ShowGl, WaterIs10200QuadsAndLeavesItsParityAsFound) {
    // An orthographic view that holds the whole surface, so feedback sees every polygon.
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-6, 6, -2, 0, -1, 11);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    std::vector<GLfloat> buffer(20400 * (2 + 3 * 7) + 16);
    glFeedbackBuffer(GLsizei(buffer.size()), GL_3D_COLOR, buffer.data());
    glRenderMode(GL_FEEDBACK);
    DrawWater(0.6f);
    const GLint used = glRenderMode(GL_RENDER);
    ASSERT_GT(used, 0) << "feedback buffer overflowed";
    int polygons = 0, vertices = 0;
    bool alphaAlways06 = true;
    for (GLint at = 0; at < used;) {
        ASSERT_EQ(buffer[at], GLfloat(GL_POLYGON_TOKEN));
        const int n = int(buffer[at + 1]);
        for (int v = 0; v < n; ++v) {
            const GLfloat* vertex = &buffer[at + 2 + 7 * v];
            alphaAlways06 &= std::abs(vertex[6] - 0.6f) < 1e-3f;
            EXPECT_GE(vertex[5], 0.79f); // every corner is blue, light or dark
        }
        ++polygons;
        vertices += n;
        at += 2 + 7 * n;
    }
    // 102 quads a row, 100 rows: as quads or as two triangles each.
    if (polygons == 10200)
        EXPECT_EQ(vertices, 4 * 10200);
    else
        EXPECT_EQ(polygons, 2 * 10200);
    EXPECT_TRUE(alphaAlways06);
    EXPECT_TRUE(reflection.waterColumnParity);
    EXPECT_FALSE(reflection.waterRowParity);
    EXPECT_FLOAT_EQ(reflection.waveScale, 0.205f);
    ResetWaveScale();
    EXPECT_EQ(reflection.waveScale, 0.2f);
}

TEST_F(ShowGl, DepthToggleFollowsItsFlag) {
    ToggleDepthTest();
    EXPECT_FALSE(reflection.depthTestOn);
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    DrawReflectionScene(0);
    EXPECT_FALSE(reflection.depthTestOn) << "the scene toggles twice";
    ToggleDepthTest();
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
}

TEST_F(ShowGl, FadeOverlayCoversTheWholeViewAndWraps) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    show.fadeAlpha = 1.0f;
    DrawFadeOverlay(0.5f);
    for (auto [x, y] : {std::pair{320, 240}, {0, 0}, {639, 479}, {0, 479}}) {
        const Pixel p = ReadPixel(x, y);
        EXPECT_GE(p.r, 248) << x << "," << y;
        EXPECT_GE(p.b, 248) << x << "," << y;
    }
    EXPECT_FLOAT_EQ(show.fadeAlpha, 1.5f);
    // Above 1 it is drawn once more (clamped, opaque) and then starts again from 0.
    glClear(GL_COLOR_BUFFER_BIT);
    DrawFadeOverlay(0.5f);
    EXPECT_GE(ReadPixel(320, 240).g, 248);
    EXPECT_EQ(show.fadeAlpha, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    DrawFadeOverlay(0.5f);
    EXPECT_LE(ReadPixel(320, 240).g, 4);
    // Half way: a grey frame.
    glClear(GL_COLOR_BUFFER_BIT);
    DrawFadeOverlay(0.0f);
    EXPECT_NEAR(ReadPixel(320, 240).g, 128, 8);
}

TEST_F(ShowGl, TranslucentCubesTakeTheCallersAlpha) {
    // Face 6 (shade 0.5) looks at the camera from z = -1, face 2 (0.9) is behind it.
    for (bool translucent : {false, true}) {
        SetCubesTranslucent(translucent);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glLoadIdentity();
        DrawCube(-0.1f, 0.1f, -1.0f, 0.2f, 0.1f);
        const Pixel p = ReadPixel(320, 240);
        // Translucent: the back face shows through the front one, both at alpha 0.1:
        // 255 * (0.1 * 0.5 + 0.9 * 0.1 * 0.9) = 33.4. Opaque: the front face alone.
        EXPECT_NEAR(p.r, translucent ? 33 : 128, 4) << translucent;
    }
    SetCubesTranslucent(false);
}

TEST_F(ShowGl, ParticleStartUpReleasesThePreviousTextureAndSetsItsState) {
    char here[4096];
    ASSERT_TRUE(getcwd(here, sizeof here));
    ASSERT_EQ(chdir(DEMO_DATA_DIR), 0);
    std::vector<GLuint> names;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(LoadParticleEngine());
        names.push_back(particleEngine.particleTexture);
    }
    for (GLuint name : names)
        if (name != names.back()) {
            EXPECT_FALSE(glIsTexture(name)) << name;
        }
    EXPECT_TRUE(glIsTexture(names.back()));
    GLint width = 0, bound = 0, src = 0, dst = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    glGetIntegerv(GL_BLEND_SRC, &src);
    glGetIntegerv(GL_BLEND_DST, &dst);
    EXPECT_EQ(width, 64);
    EXPECT_EQ(GLuint(bound), names.back());
    EXPECT_EQ(src, GL_SRC_ALPHA);
    EXPECT_EQ(dst, GL_ONE);
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));

    // Without the file: no texture change, no message, but the engine still resets.
    ASSERT_EQ(chdir("/"), 0);
    particleEngine.particles[3].active = 0;
    EXPECT_FALSE(LoadParticleEngine());
    EXPECT_EQ(particleEngine.particleTexture, names.back());
    EXPECT_EQ(particleEngine.particles[3].active, 1);
    ASSERT_EQ(chdir(here), 0);
}

TEST_F(ShowGl, ParticleRowTogglesTheBoundByItsSpin) {
    particleEngine.particleBoundIsCube = true;
    DrawParticleRow(0);
    EXPECT_TRUE(particleEngine.particleBoundIsCube);
    DrawParticleRow(10);
    EXPECT_TRUE(particleEngine.particleBoundIsCube);
    DrawParticleRow(20); // every copy flips it: three flips
    EXPECT_FALSE(particleEngine.particleBoundIsCube);
    DrawParticleRow(400); // wraps the angle to 0 on the first copy: one flip
    EXPECT_TRUE(particleEngine.particleBoundIsCube);
    EXPECT_EQ(particleEngine.particleRowAngle, 0.0f);
}

// White caption pixels in the band whose baseline is `baseline` px from the top.
int CaptionPixels(int x0, int x1, int baseline) {
    std::vector<uint8_t> rows(size_t(640) * 3 * 26);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 480 - (baseline + 6), 640, 26, GL_RGB, GL_UNSIGNED_BYTE, rows.data());
    int count = 0;
    for (int y = 0; y < 26; ++y)
        for (int x = x0; x < x1; ++x) {
            const uint8_t* p = &rows[(size_t(y) * 640 + x) * 3];
            count += p[0] > 235 && p[1] > 235 && p[2] > 235;
        }
    return count;
}

TEST_F(ShowGl, AtExactly190SecondsNeitherCreditGroupIsPrinted) {
    show = ShowState{};
    show.introRunning = false;
    StartFrameTimer(); // no time passes between the frames below
    particleEngine = ParticleEngineState{};
    struct Case {
        float t;
        bool first, second;
    };
    for (const Case c :
         {Case{189.9f, true, false}, Case{190.0f, false, false}, Case{190.1f, false, true}}) {
        show.showTime = c.t;
        DrawShowFrame();
        // "I hope you've enjoyed this demo" from x 40 on baseline 130; "Zarq" from x 230 on
        // baseline 310, where the first group has nothing.
        const int first = CaptionPixels(40, 220, 130), second = CaptionPixels(230, 300, 310);
        EXPECT_EQ(first > 150, c.first) << c.t << " s: " << first;
        EXPECT_EQ(second > 60, c.second) << c.t << " s: " << second;
    }
}

TEST_F(ShowGl, IntroRunsFiveSecondsThenTheShowStartsFromZeroAndEndsAfter250) {
    show = ShowState{};
    cubeField = CubeFieldState{};
    InitCubeField();
    clockMs = 0;
    StartFrameTimer();
    clockMs = 1000;
    EXPECT_TRUE(DrawShowFrame());
    EXPECT_TRUE(show.introRunning);
    EXPECT_FLOAT_EQ(show.showTime, 1.0f);
    // "Compiling the Future..." stands in its band (baseline 130 px from the top), nothing
    // else is lit.
    EXPECT_GT(BrightPixelsInRows(108, 136, 200), 200);
    EXPECT_EQ(BrightPixelsInRows(0, 100, 60), 0);
    EXPECT_EQ(BrightPixelsInRows(140, 480, 60), 0);

    clockMs = 4999;
    DrawShowFrame();
    EXPECT_TRUE(show.introRunning);
    clockMs = 5000;
    DrawShowFrame();
    EXPECT_FALSE(show.introRunning);
    EXPECT_EQ(show.showTime, 0.0f);
    clockMs = 5100;
    DrawShowFrame();
    EXPECT_NEAR(show.showTime, 0.1f, 1e-6);

    // The last frame: exactly 250 goes on, just above it ends.
    show.showTime = 250.0f;
    EXPECT_TRUE(DrawShowFrame()) << "no time passed: still 250";
    clockMs += 1;
    EXPECT_FALSE(DrawShowFrame());
}

} // namespace
