// Frame timer on a virtual clock: deltas, the first tick, and the clock's wrap after 2^32 ms.
#include "platform/platform.h"
#include "shell/frame_timer.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

uint32_t fakeNow = 0;
const platform::ClockSource fakeClock{[](void* now) { return *static_cast<const uint32_t*>(now); },
                                      &fakeNow};

class FrameTimer : public ::testing::Test {
  protected:
    void SetUp() override { platform::SetClock(&fakeClock); }
    void TearDown() override { platform::SetClock(nullptr); }
};

TEST_F(FrameTimer, FirstTickAfterStartIsZeroThenDeltasFollowTheClock) {
    fakeNow = 5000;
    StartFrameTimer();
    EXPECT_EQ(TickFrameTimer(), 0.0f);
    fakeNow += 16;
    EXPECT_EQ(TickFrameTimer(), 16.0f);
    fakeNow += 17;
    EXPECT_EQ(TickFrameTimer(), 17.0f);
    // No time passed: no time reported, and the next delta counts from this tick.
    EXPECT_EQ(TickFrameTimer(), 0.0f);
    fakeNow += 1000;
    EXPECT_EQ(TickFrameTimer(), 1000.0f);
}

TEST_F(FrameTimer, TickAcrossTheClockWrapGivesTheTrueSmallDelta) {
    fakeNow = 0xFFFFFFF0u;
    StartFrameTimer();
    fakeNow = 0x00000010u; // 32 ms later, after the wrap
    EXPECT_EQ(TickFrameTimer(), 32.0f);
    fakeNow += 20;
    EXPECT_EQ(TickFrameTimer(), 20.0f);
}

TEST_F(FrameTimer, DeltasStayExactWhereAFloatCouldNotHoldTheCount) {
    // Near 2^32 a float is 512 ms apart; the deltas must still be the clock's own.
    fakeNow = 0xFFFFF000u;
    StartFrameTimer();
    float sum = 0.0f;
    for (int i = 0; i < 100; ++i) {
        fakeNow += 7;
        float d = TickFrameTimer();
        EXPECT_EQ(d, 7.0f) << "tick " << i;
        sum += d;
    }
    EXPECT_EQ(sum, 700.0f);
}

TEST_F(FrameTimer, LongPauseIsReportedInOneDelta) {
    // A minimised window draws nothing and ticks nothing: the first frame after it receives
    // the whole pause.
    fakeNow = 100;
    StartFrameTimer();
    fakeNow = 100 + 3600000; // an hour
    EXPECT_EQ(TickFrameTimer(), 3600000.0f);
}

} // namespace
