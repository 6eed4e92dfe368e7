// gl_test_window.h: one real program window for the GL tests of the shell (under X).
#pragma once

#include "shell/gl_window.h"

#include <gtest/gtest.h>

#include <cstdlib>

// Opens the program's window, windowed, once per test suite; tests skip without a display.
class GlWindowTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!std::getenv("DISPLAY")) return;
        opened = OpenGlWindow("Shell test", 640, 480, 16, false);
    }
    static void TearDownTestSuite() {
        if (opened) CloseGlWindow();
        opened = false;
    }
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display (DISPLAY unset): run under Xvfb";
        ASSERT_TRUE(opened) << "OpenGlWindow failed";
    }
    static inline bool opened = false;
};
