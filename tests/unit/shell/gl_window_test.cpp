// The program's window under X: viewport and projection read back from OpenGL (zero height
// too), the fixed state, resizing through the window procedure, and re-opening (F1).
#include "gl_test_window.h"
#include "platform/gl.h"
#include "platform/platform.h"
#include "shell/captions.h"
#include "shell/shell_state.h"
#include "shell/window_proc.h"

#include <cmath>

namespace {

void ExpectPerspective(double aspect) {
    const double f = 1.0 / std::tan(22.5 * M_PI / 180.0);
    const double zNear = static_cast<double>(0.1f), zFar = 200.0;
    double m[16];
    glGetDoublev(GL_PROJECTION_MATRIX, m);
    const double want[16] = {f / aspect,
                             0,
                             0,
                             0,
                             0,
                             f,
                             0,
                             0,
                             0,
                             0,
                             (zFar + zNear) / (zNear - zFar),
                             -1,
                             0,
                             0,
                             2 * zFar * zNear / (zNear - zFar),
                             0};
    for (int i = 0; i < 16; ++i) {
        EXPECT_NEAR(m[i], want[i], 1e-5 * std::max(1.0, std::fabs(want[i]))) << "element " << i;
    }
}

void ExpectIdentity(GLenum which) {
    double m[16];
    glGetDoublev(which, m);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(m[i], i % 5 == 0 ? 1.0 : 0.0) << "element " << i;
}

void ExpectViewport(int w, int h) {
    GLint v[4];
    glGetIntegerv(GL_VIEWPORT, v);
    EXPECT_EQ(v[0], 0);
    EXPECT_EQ(v[1], 0);
    EXPECT_EQ(v[2], w);
    EXPECT_EQ(v[3], h);
}

GLint MatrixMode() {
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    return mode;
}

using GlWindow = GlWindowTest;

TEST_F(GlWindow, OpensWithViewportProjectionAndFixedState) {
    ExpectViewport(640, 480);
    ExpectPerspective(640.0 / 480.0);
    EXPECT_EQ(MatrixMode(), GL_MODELVIEW);
    ExpectIdentity(GL_MODELVIEW_MATRIX);

    GLint shade = 0, depthFunc = 0, hint = 0;
    glGetIntegerv(GL_SHADE_MODEL, &shade);
    glGetIntegerv(GL_DEPTH_FUNC, &depthFunc);
    glGetIntegerv(GL_PERSPECTIVE_CORRECTION_HINT, &hint);
    EXPECT_EQ(shade, GL_SMOOTH);
    EXPECT_EQ(depthFunc, GL_LEQUAL);
    EXPECT_EQ(hint, GL_NICEST);
    EXPECT_TRUE(glIsEnabled(GL_DEPTH_TEST));
    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(clear[0], 0.0f);
    EXPECT_EQ(clear[1], 0.0f);
    EXPECT_EQ(clear[2], 0.0f);
    GLint alphaBits = 0;
    glGetIntegerv(GL_ALPHA_BITS, &alphaBits);
    if (alphaBits > 0) {
        EXPECT_NEAR(clear[3], 0.5f, 1.0f / 255);
    }
    GLdouble clearDepth = 0;
    glGetDoublev(GL_DEPTH_CLEAR_VALUE, &clearDepth);
    EXPECT_EQ(clearDepth, 1.0);

    GLint depthBits = 0, doubleBuffer = 0;
    glGetIntegerv(GL_DEPTH_BITS, &depthBits);
    glGetIntegerv(GL_DOUBLEBUFFER, &doubleBuffer);
    EXPECT_GE(depthBits, 16);
    EXPECT_TRUE(doubleBuffer);
    EXPECT_FALSE(shell.fullScreen);
    EXPECT_TRUE(GlContextReady());
}

TEST_F(GlWindow, ZeroHeightGivesOnePixelRowAndAspectOfTheWidth) {
    glMatrixMode(GL_PROJECTION); // the resize must select and reset both matrices itself
    glTranslatef(1, 2, 3);
    ResizeGlViewport(300, 0);
    ExpectViewport(300, 1);
    ExpectPerspective(300.0);
    EXPECT_EQ(MatrixMode(), GL_MODELVIEW);
    ExpectIdentity(GL_MODELVIEW_MATRIX);
    ResizeGlViewport(640, 480);
}

TEST_F(GlWindow, SizeMessageResizesThroughTheWindowProcedure) {
    glMatrixMode(GL_MODELVIEW);
    glTranslatef(5, 0, 0); // the resize resets the model-view matrix too
    MainWindowProc(platform::MsgSize, 0, (200 << 16) | 800);
    ExpectViewport(800, 200);
    ExpectPerspective(4.0);
    ExpectIdentity(GL_MODELVIEW_MATRIX);
    MainWindowProc(platform::MsgSize, 0, (480 << 16) | 640);
    ExpectViewport(640, 480);
}

TEST_F(GlWindow, ReopeningMakesAFreshContextWithItsOwnCaptionFont) {
    // The F1 toggle's path: close everything, open again; state of the old context is gone.
    glEnable(GL_BLEND);
    CloseGlWindow();
    EXPECT_FALSE(GlContextReady());
    CloseGlWindow(); // closing what is closed is harmless and shows nothing
    ASSERT_TRUE(OpenGlWindow("Shell test", 640, 480, 16, false));
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    ExpectViewport(640, 480);
    EXPECT_NE(shell.captionListBase, 0u);
    EXPECT_TRUE(glIsList(shell.captionListBase + ('A' - 32)));
    EXPECT_TRUE(glIsList(shell.captionListBase + (' ' - 32)));
}

} // namespace
