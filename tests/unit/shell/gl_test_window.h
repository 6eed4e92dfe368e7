// gl_test_window.h: one real program window for the GL tests of the shell (under X).
#pragma once

#include "../../support/x_display.h"
#include "shell/gl_window.h"

#include <gtest/gtest.h>

#include <cstdlib>

// Opens the program's window, windowed, once per test suite; tests skip without a display.
class GlWindowTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        display = WaitForXDisplay();
        if (display != XDisplayState::Answers) return;
        opened = OpenGlWindow("Shell test", 640, 480, 16, false);
        if (!opened) failure = XDisplayFailure("OpenGlWindow");
    }
    static void TearDownTestSuite() {
        if (opened) CloseGlWindow();
        opened = false;
    }
    void SetUp() override {
        if (display == XDisplayState::Unset)
            GTEST_SKIP() << "no X display (DISPLAY unset): run under Xvfb";
        ASSERT_NE(display, XDisplayState::Gone)
            << "the X server on DISPLAY " << std::getenv("DISPLAY") << " did not answer for 30 s";
        ASSERT_TRUE(opened) << failure;
    }
    static inline bool opened = false;
    static inline XDisplayState display = XDisplayState::Unset;
    static inline std::string failure;
};
