// The caption printer, by reading back pixels from a real context: where glyphs land and how
// tall they are, the invalid-start rule, the space glyph, and what the call leaves behind.
#include "gl_test_window.h"
#include "platform/gl.h"
#include "shell/captions.h"

#include <vector>

namespace {

struct Ink {
    int count = 0;
    int left = 1 << 30, right = -1, bottom = 1 << 30, top = -1; // window pixels, y upward
};

// Clears the back buffer, draws with `draw`, and measures the lit pixels.
template <typename Draw> Ink DrawAndMeasure(Draw draw) {
    glDisable(GL_BLEND);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    draw();
    glFinish();
    std::vector<unsigned char> px(640 * 480 * 4);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, 640, 480, GL_RGBA, GL_UNSIGNED_BYTE, px.data());
    Ink ink;
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            const unsigned char* p = &px[(y * 640 + x) * 4];
            if (p[0] > 128 || p[1] > 128 || p[2] > 128) {
                ++ink.count;
                ink.left = std::min(ink.left, x);
                ink.right = std::max(ink.right, x);
                ink.bottom = std::min(ink.bottom, y);
                ink.top = std::max(ink.top, y);
            }
        }
    }
    return ink;
}

using Captions = GlWindowTest;

TEST_F(Captions, TextSitsOnItsBaselineAtTheCaptionSpacePosition) {
    Ink ink = DrawAndMeasure([] { PrintCaption(100, 100, 1, 1, 1, "HELLO"); });
    ASSERT_GT(ink.count, 100);
    // Baseline at 450 - 100 = 350 from the bottom; capitals stand on it, about 0.7 em tall.
    EXPECT_EQ(ink.bottom, 350);
    EXPECT_GE(ink.top - ink.bottom + 1, 15);
    EXPECT_LE(ink.top - ink.bottom + 1, 25);
    EXPECT_GE(ink.left, 100);
    EXPECT_LE(ink.left, 104);
    EXPECT_GT(ink.right - ink.left, 60); // five bold capitals
}

TEST_F(Captions, ColourIsTheCallersAndStaysCurrent) {
    glColor4f(0.2f, 0.2f, 0.2f, 0.3f);
    DrawAndMeasure([] { PrintCaption(10, 10, 0, 1, 0, "X"); });
    GLfloat c[4];
    glGetFloatv(GL_CURRENT_COLOR, c);
    EXPECT_EQ(c[0], 0.0f);
    EXPECT_EQ(c[1], 1.0f);
    EXPECT_EQ(c[2], 0.0f);
    EXPECT_EQ(c[3], 1.0f);
}

TEST_F(Captions, InvalidStartDrawsNothingEvenWhereTheTextWouldReachTheScreen) {
    // Left of the space: the string would run into view, but the raster position is invalid.
    EXPECT_EQ(DrawAndMeasure([] { PrintCaption(-20, 100, 1, 1, 1, "WWWWWWWW"); }).count, 0);
    // Above the top (450 - y > 480) and below the bottom.
    EXPECT_EQ(DrawAndMeasure([] { PrintCaption(100, -40, 1, 1, 1, "HELLO"); }).count, 0);
    EXPECT_EQ(DrawAndMeasure([] { PrintCaption(100, 460, 1, 1, 1, "HELLO"); }).count, 0);
    EXPECT_EQ(DrawAndMeasure([] { PrintCaption(641, 100, 1, 1, 1, "HELLO"); }).count, 0);
    // Just inside: drawn.
    EXPECT_GT(DrawAndMeasure([] { PrintCaption(0, 100, 1, 1, 1, "HELLO"); }).count, 0);
}

TEST_F(Captions, TextRunningPastTheRightEdgeIsCutThere) {
    Ink ink = DrawAndMeasure([] { PrintCaption(600, 100, 1, 1, 1, "WWWWWWWW"); });
    EXPECT_GT(ink.count, 0);
    EXPECT_EQ(ink.right, 639);
}

TEST_F(Captions, SpaceAdvancesThePenAndOtherBytesDrawNothing) {
    Ink one = DrawAndMeasure([] { PrintCaption(100, 100, 1, 1, 1, "I"); });
    Ink spaced = DrawAndMeasure([] { PrintCaption(100, 100, 1, 1, 1, "  I"); });
    ASSERT_GT(one.count, 0);
    EXPECT_EQ(spaced.count, one.count);
    EXPECT_GE(spaced.left - one.left, 10); // two spaces of a 25-pixel font
    // Codes outside 32-127 have no lists.
    Ink controls = DrawAndMeasure([] { PrintCaption(100, 100, 1, 1, 1, "\x01\x1f\x80\xff"); });
    EXPECT_EQ(controls.count, 0);
}

TEST_F(Captions, CallerMatricesStacksAndListBaseAreKept) {
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glFrustum(-1, 1, -1, 1, 1, 10);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glTranslatef(1, 2, -3);
    glRotatef(30, 0, 1, 0);
    glListBase(7);
    double projBefore[16], modelBefore[16], projAfter[16], modelAfter[16];
    GLint projDepth = 0, modelDepth = 0, listBase = 0;
    glGetDoublev(GL_PROJECTION_MATRIX, projBefore);
    glGetDoublev(GL_MODELVIEW_MATRIX, modelBefore);
    glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &projDepth);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &modelDepth);

    glMatrixMode(GL_PROJECTION); // the printer leaves model-view selected whatever it found
    PrintCaption(50, 50, 1, 1, 1, "Matrices");

    GLint mode = 0, projDepthAfter = 0, modelDepthAfter = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    glGetDoublev(GL_PROJECTION_MATRIX, projAfter);
    glGetDoublev(GL_MODELVIEW_MATRIX, modelAfter);
    glGetIntegerv(GL_PROJECTION_STACK_DEPTH, &projDepthAfter);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &modelDepthAfter);
    glGetIntegerv(GL_LIST_BASE, &listBase);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(projAfter[i], projBefore[i]) << i;
        EXPECT_EQ(modelAfter[i], modelBefore[i]) << i;
    }
    EXPECT_EQ(projDepthAfter, projDepth);
    EXPECT_EQ(modelDepthAfter, modelDepth);
    EXPECT_EQ(listBase, 7);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    glListBase(0);
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}

TEST_F(Captions, GlyphsKeepTheirPixelSizeInALargerViewport) {
    Ink normal = DrawAndMeasure([] { PrintCaption(100, 100, 1, 1, 1, "H"); });
    // Half the caption space's scale: the position moves, the glyph does not shrink.
    glViewport(0, 0, 320, 240);
    Ink half = DrawAndMeasure([] { PrintCaption(100, 100, 1, 1, 1, "H"); });
    glViewport(0, 0, 640, 480);
    EXPECT_EQ(half.top - half.bottom, normal.top - normal.bottom);
    EXPECT_EQ(half.right - half.left, normal.right - normal.left);
    EXPECT_EQ(half.bottom, 175);
}

} // namespace
