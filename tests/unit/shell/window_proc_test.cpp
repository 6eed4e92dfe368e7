// The window procedure, one message at a time: activation, keys, close and size (without a
// context, where it must leave OpenGL alone).
#include "platform/platform.h"
#include "shell/gl_window.h"
#include "shell/shell_state.h"
#include "shell/window_proc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

namespace {

using namespace platform;

class WindowProc : public ::testing::Test {
  protected:
    void SetUp() override {
        // The flags only: the rest of the record belongs to the window and the timer.
        const ShellState fresh;
        shell.windowActive = fresh.windowActive;
        shell.fullScreen = fresh.fullScreen;
        std::copy(std::begin(fresh.keyDown), std::end(fresh.keyDown), std::begin(shell.keyDown));
        WindowMessage m;
        while (PeekWindowMessage(&m)) {
        }
    }
};

TEST_F(WindowProc, ActivationFollowsTheMinimisedWordOnly) {
    // Low word: WA_INACTIVE 0, WA_ACTIVE 1, WA_CLICKACTIVE 2; high word: minimised.
    EXPECT_EQ(MainWindowProc(MsgActivate, 0x10000, 0), 0);
    EXPECT_FALSE(shell.windowActive);
    MainWindowProc(MsgActivate, 1, 0);
    EXPECT_TRUE(shell.windowActive);
    MainWindowProc(MsgActivate, 0x10001, 0); // activated while still minimised
    EXPECT_FALSE(shell.windowActive);
    MainWindowProc(MsgActivate, 0, 0); // losing the focus without minimising
    EXPECT_TRUE(shell.windowActive);
    MainWindowProc(MsgActivate, 2, 0);
    EXPECT_TRUE(shell.windowActive);
}

TEST_F(WindowProc, KeysSetAndClearTheirEntryAndRepeatSetsAgain) {
    EXPECT_EQ(MainWindowProc(MsgKeyDown, KeyF1, 1), 0);
    EXPECT_TRUE(shell.keyDown[KeyF1]);
    MainWindowProc(MsgKeyDown, KeyF1, 1 | (1 << 30)); // auto-repeat
    EXPECT_TRUE(shell.keyDown[KeyF1]);
    MainWindowProc(MsgKeyDown, KeyEscape, 1);
    MainWindowProc(MsgKeyUp, KeyF1, 0);
    EXPECT_FALSE(shell.keyDown[KeyF1]);
    EXPECT_TRUE(shell.keyDown[KeyEscape]);
    int downCount = 0;
    for (bool down : shell.keyDown) downCount += down;
    EXPECT_EQ(downCount, 1);
}

TEST_F(WindowProc, SystemKeysNeverReachTheKeyTable) {
    MainWindowProc(MsgSysKeyDown, 0x79, 0); // F10
    MainWindowProc(MsgSysKeyDown, KeyEscape, 0);
    for (bool down : shell.keyDown) EXPECT_FALSE(down);
}

TEST_F(WindowProc, KeyCodesBeyondTheTableAreIgnored) {
    // Under the address sanitizer a write past the 256 entries would stop the test.
    MainWindowProc(MsgKeyDown, 256, 0);
    MainWindowProc(MsgKeyDown, static_cast<uintptr_t>(-1), 0);
    MainWindowProc(MsgKeyUp, 100000, 0);
    for (bool down : shell.keyDown) EXPECT_FALSE(down);
}

TEST_F(WindowProc, CloseAsksTheLoopToQuitWithCodeZero) {
    EXPECT_EQ(MainWindowProc(MsgClose, 0, 0), 0);
    WindowMessage m{};
    ASSERT_TRUE(PeekWindowMessage(&m));
    EXPECT_EQ(m.message, static_cast<uint32_t>(MsgQuit));
    EXPECT_EQ(m.wParam, 0u);
}

TEST_F(WindowProc, SizeWithoutAContextIsHandledAndLeavesNothingBehind) {
    ASSERT_FALSE(GlContextReady());
    EXPECT_EQ(MainWindowProc(MsgSize, 0, (480 << 16) | 640), 0);
    EXPECT_EQ(MainWindowProc(MsgSize, 0, 0), 0);
    WindowMessage m{};
    EXPECT_FALSE(PeekWindowMessage(&m));
}

} // namespace
