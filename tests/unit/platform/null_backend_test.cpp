// The null backend: virtual and installed clocks, message boxes on stderr, the posted quit,
// and windows that cannot be made.
#include "platform/null/null_platform.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

namespace {

using namespace platform;

uint32_t FixedClock(void*) {
    return 123456u;
}
const ClockSource fixedClock{FixedClock, nullptr};

TEST(NullBackend, VirtualClockMovesOnlyWhenToldAndWrapsLikeTheRealOne) {
    null::SetVirtualTime(0xFFFFFFF0u);
    EXPECT_EQ(TimeMs(), 0xFFFFFFF0u);
    SleepMs(2);
    EXPECT_EQ(TimeMs(), 0xFFFFFFF0u);
    null::AdvanceVirtualTime(0x20);
    EXPECT_EQ(TimeMs(), 0x10u);
    SetClock(&fixedClock);
    EXPECT_EQ(TimeMs(), 123456u);
    SetClock(nullptr);
    EXPECT_EQ(TimeMs(), 0x10u);
}

TEST(NullBackend, MessageBoxesGoToStandardErrorUnanswered) {
    ::testing::internal::CaptureStderr();
    int answer = ShowMessageBox("Program Will Now Close.", "ERROR", MessageButtons::YesNo,
                                MessageIcon::Stop);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(answer, AnswerNone);
    EXPECT_EQ(err, "ERROR: Program Will Now Close.\n");
}

intptr_t CountingProc(uint32_t message, uintptr_t, intptr_t) {
    static int calls = 0;
    return message == 0xFFFF ? calls : ++calls;
}

TEST(NullBackend, WindowsCannotBeMadeButMessagesFlow) {
    ASSERT_TRUE(RegisterWindowClass(CountingProc));
    EXPECT_FALSE(RegisterWindowClass(CountingProc)); // one class per process
    EXPECT_FALSE(ChangeDisplayMode(640, 480, 16));
    EXPECT_FALSE(CreateMainWindow("Demo", 640, 480, false, 16, 16));
    EXPECT_FALSE(CreateGlContext());
    EXPECT_FALSE(BuildFontBitmapLists("Verdana", 25, 700, 32, 96, 1));
    EXPECT_FALSE(AudioOpen(44100));

    WindowMessage m{};
    EXPECT_FALSE(PeekWindowMessage(&m));
    PostQuit(3);
    ASSERT_TRUE(PeekWindowMessage(&m));
    EXPECT_EQ(m.message, static_cast<uint32_t>(MsgQuit));
    EXPECT_EQ(m.wParam, 3u);
    EXPECT_FALSE(PeekWindowMessage(&m));

    DispatchWindowMessage({MsgKeyDown, KeyEscape, 0});
    EXPECT_EQ(CountingProc(0xFFFF, 0, 0), 1);
    EXPECT_TRUE(UnregisterWindowClass());
    EXPECT_FALSE(UnregisterWindowClass());
}

} // namespace
