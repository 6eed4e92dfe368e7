// The SDL backend under X: SDL events into Windows-valued messages, SIGTERM as a close, the
// display-mode check, and caption glyph lists.
#include "../../support/x_display.h"
#include "platform/gl.h"
#include "platform/platform.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <vector>

namespace {

using namespace platform;

intptr_t NoProc(uint32_t, uintptr_t, intptr_t) {
    return 0;
}

class SdlBackend : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        display = WaitForXDisplay();
        if (display != XDisplayState::Answers) return;
        ready = RegisterWindowClass(NoProc) &&
                CreateMainWindow("Backend test", 320, 240, false, 16, 16) && CreateGlContext() &&
                MakeGlContextCurrent(true);
        if (ready) {
            ShowMainWindow();
        } else {
            failure = XDisplayFailure("the test window");
        }
    }
    static void TearDownTestSuite() {
        MakeGlContextCurrent(false);
        DeleteGlContext();
        DestroyMainWindow();
        UnregisterWindowClass();
    }
    void SetUp() override {
        if (display == XDisplayState::Unset)
            GTEST_SKIP() << "no X display (DISPLAY unset): run under Xvfb";
        ASSERT_NE(display, XDisplayState::Gone)
            << "the X server on DISPLAY " << std::getenv("DISPLAY") << " did not answer for 30 s";
        ASSERT_TRUE(ready) << failure;
        Drain();
        // Keys stamped with the very millisecond of a focus gain count as held from before it.
        SDL_Delay(3);
    }
    static std::vector<WindowMessage> Drain() {
        std::vector<WindowMessage> got;
        WindowMessage m{};
        SDL_PumpEvents();
        while (PeekWindowMessage(&m)) got.push_back(m);
        return got;
    }
    static Uint32 OurWindowId() { return SDL_GetWindowID(SDL_GL_GetCurrentWindow()); }
    static inline bool ready = false;
    static inline XDisplayState display = XDisplayState::Unset;
    static inline std::string failure;
};

void PushKey(Uint32 type, SDL_Keycode sym, Uint16 mod = 0, Uint8 repeat = 0) {
    SDL_Event e{};
    e.type = type;
    e.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
    e.key.repeat = repeat;
    e.key.keysym.sym = sym;
    e.key.keysym.mod = mod;
    SDL_PushEvent(&e);
}

void PushWindowEvent(Uint32 windowId, Uint8 event, int data1 = 0, int data2 = 0) {
    SDL_Event e{};
    e.type = SDL_WINDOWEVENT;
    e.window.windowID = windowId;
    e.window.event = event;
    e.window.data1 = data1;
    e.window.data2 = data2;
    SDL_PushEvent(&e);
}

std::vector<WindowMessage> Only(const std::vector<WindowMessage>& all,
                                std::initializer_list<uint32_t> ids) {
    std::vector<WindowMessage> out;
    for (const auto& m : all) {
        for (uint32_t id : ids) {
            if (m.message == id) out.push_back(m);
        }
    }
    return out;
}

TEST_F(SdlBackend, KeysBecomeVirtualKeyMessagesWithRepeatAndReleaseBits) {
    PushKey(SDL_KEYDOWN, SDLK_F1);
    PushKey(SDL_KEYDOWN, SDLK_F1, 0, 1);
    PushKey(SDL_KEYUP, SDLK_F1);
    PushKey(SDL_KEYDOWN, SDLK_ESCAPE);
    PushKey(SDL_KEYDOWN, SDLK_a);
    PushKey(SDL_KEYDOWN, SDLK_CAPSLOCK); // no code for it: not delivered
    auto keys = Only(Drain(), {MsgKeyDown, MsgKeyUp, MsgSysKeyDown, MsgSysKeyUp});
    ASSERT_EQ(keys.size(), 5u);
    EXPECT_EQ(keys[0].message, static_cast<uint32_t>(MsgKeyDown));
    EXPECT_EQ(keys[0].wParam, 0x70u);
    EXPECT_EQ(keys[0].lParam, 1);
    EXPECT_EQ(keys[1].message, static_cast<uint32_t>(MsgKeyDown));
    EXPECT_EQ(keys[1].lParam, 1 | (intptr_t(1) << 30));
    EXPECT_EQ(keys[2].message, static_cast<uint32_t>(MsgKeyUp));
    EXPECT_EQ(keys[2].wParam, 0x70u);
    EXPECT_EQ(keys[2].lParam, 1 | (intptr_t(3) << 30));
    EXPECT_EQ(keys[3].wParam, 0x1Bu);
    EXPECT_EQ(keys[4].wParam, static_cast<uintptr_t>('A'));
}

TEST_F(SdlBackend, AltCombinationsAndF10AreSystemKeys) {
    PushKey(SDL_KEYDOWN, SDLK_F4, KMOD_LALT);
    PushKey(SDL_KEYUP, SDLK_F4, KMOD_LALT);
    PushKey(SDL_KEYDOWN, SDLK_F10);
    auto keys = Only(Drain(), {MsgKeyDown, MsgKeyUp, MsgSysKeyDown, MsgSysKeyUp});
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_EQ(keys[0].message, static_cast<uint32_t>(MsgSysKeyDown));
    EXPECT_EQ(keys[0].wParam, 0x73u);
    EXPECT_EQ(keys[1].message, static_cast<uint32_t>(MsgSysKeyUp));
    EXPECT_EQ(keys[2].message, static_cast<uint32_t>(MsgSysKeyDown));
    EXPECT_EQ(keys[2].wParam, 0x79u);
}

TEST_F(SdlBackend, WindowEventsOfOurWindowOnly) {
    Uint32 id = OurWindowId();
    ASSERT_NE(id, 0u);
    PushWindowEvent(id + 1000, SDL_WINDOWEVENT_SIZE_CHANGED, 1, 1); // a destroyed window's
    PushWindowEvent(id, SDL_WINDOWEVENT_SIZE_CHANGED, 800, 0);
    PushWindowEvent(id, SDL_WINDOWEVENT_MINIMIZED);
    PushWindowEvent(id, SDL_WINDOWEVENT_RESTORED);
    PushWindowEvent(id, SDL_WINDOWEVENT_CLOSE);
    auto all = Drain();
    auto sizes = Only(all, {MsgSize});
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_EQ(sizes[0].lParam, 800);
    auto acts = Only(all, {MsgActivate});
    ASSERT_GE(acts.size(), 2u);
    bool sawMinimised = false, sawRestored = false;
    for (const auto& a : acts) {
        sawMinimised |= a.wParam == 0x10000u;
        sawRestored |= a.wParam == 1u;
    }
    EXPECT_TRUE(sawMinimised);
    EXPECT_TRUE(sawRestored);
    EXPECT_EQ(Only(all, {MsgClose}).size(), 1u);
}

TEST_F(SdlBackend, TerminationSignalBecomesACloseAndPostedQuitFollows) {
    std::raise(SIGTERM);
    WindowMessage m{};
    ASSERT_TRUE(PeekWindowMessage(&m));
    EXPECT_EQ(m.message, static_cast<uint32_t>(MsgClose));
    PostQuit(0);
    ASSERT_TRUE(PeekWindowMessage(&m));
    EXPECT_EQ(m.message, static_cast<uint32_t>(MsgQuit));
    EXPECT_EQ(m.wParam, 0u);
}

TEST_F(SdlBackend, DisplayModeIsAcceptedOnlyWhenTheDisplayReallyHasIt) {
    SDL_DisplayMode desktop{};
    ASSERT_EQ(SDL_GetDesktopDisplayMode(0, &desktop), 0);
    // One window at a time: with ours open, a switch (which needs its own window) is refused.
    EXPECT_FALSE(ChangeDisplayMode(desktop.w, desktop.h, 16));
    // A size no display offers.
    MakeGlContextCurrent(false);
    DeleteGlContext();
    ASSERT_TRUE(DestroyMainWindow());
    EXPECT_FALSE(ChangeDisplayMode(641, 479, 16));
    // The screen's own size is a mode it is in: accepted, and the window made for it is taken
    // over by a full-screen CreateMainWindow.
    ASSERT_TRUE(ChangeDisplayMode(desktop.w, desktop.h, 16));
    ASSERT_TRUE(CreateMainWindow("Full", desktop.w, desktop.h, true, 16, 16));
    RestoreDisplayMode();
    ASSERT_TRUE(DestroyMainWindow());
    // A refused mode leaves nothing behind: a window can be made at once.
    ASSERT_TRUE(CreateMainWindow("Backend test", 320, 240, false, 16, 16));
    ASSERT_TRUE(CreateGlContext());
    ASSERT_TRUE(MakeGlContextCurrent(true));
}

TEST_F(SdlBackend, FontListsComeFromAFallbackFaceWhenTheNamedOneIsMissing) {
    GLuint base = glGenLists(96);
    ASSERT_NE(base, 0u);
    EXPECT_TRUE(BuildFontBitmapLists("No Such Face At All", 25, 700, 32, 96, base));
    for (int c = 32; c < 128; ++c) EXPECT_TRUE(glIsList(base + (c - 32))) << c;
    EXPECT_FALSE(BuildFontBitmapLists("Verdana", 0, 700, 32, 96, base));
    EXPECT_FALSE(BuildFontBitmapLists("Verdana", 25, 700, 32, 0, base));
    glDeleteLists(base, 96);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

} // namespace
