// show_timeline_test.cpp: the segment choice at its exact boundaries, the fade's wrap rule and
// the cube size pulse.
#include <gtest/gtest.h>

#include <cmath>

#include "show/cube_field.h"
#include "show/show_timeline.h"

namespace {

TEST(ShowTimeline, EachBoundaryBelongsToTheLaterSegment) {
    const float starts[] = {8, 10, 15, 25, 50, 60, 75, 90, 105, 120, 135, 160};
    EXPECT_EQ(SegmentAt(0.0f), ShowSegment::Opening);
    for (int i = 0; i < 12; ++i) {
        const float b = starts[i];
        EXPECT_EQ(int(SegmentAt(b)), i + 1) << b;
        EXPECT_EQ(int(SegmentAt(std::nextafter(b, 0.0f))), i) << b;
    }
    EXPECT_EQ(SegmentAt(190.0f), ShowSegment::Credits);
    EXPECT_EQ(SegmentAt(250.0f), ShowSegment::Credits);
    EXPECT_EQ(SegmentAt(1e6f), ShowSegment::Credits);
    EXPECT_STREQ(SegmentName(ShowSegment::Credits), "credits");
    EXPECT_STREQ(SegmentName(ShowSegment::Opening), "opening");
}

TEST(ShowTimeline, FadeAlphaWrapsOnlyAfterPassingOne) {
    EXPECT_FLOAT_EQ(NextFadeAlpha(0.0f, 0.25f), 0.25f);
    EXPECT_FLOAT_EQ(NextFadeAlpha(1.0f, 0.25f), 1.25f); // exactly 1 still rises
    EXPECT_EQ(NextFadeAlpha(1.25f, 0.25f), 0.0f);
    // A 0.004 fade at 60 fps rises by about 0.067 a frame: a quarter of a second to 1, then
    // one nearly opaque frame above 1 before the wrap.
    float a = 0.0f;
    int frames = 0;
    while (a <= 1.0f) a = NextFadeAlpha(a, 0.004f * 16.667f), ++frames;
    EXPECT_EQ(frames, 15);
    EXPECT_EQ(NextFadeAlpha(a, 0.004f * 16.667f), 0.0f);
}

TEST(ShowTimeline, SizePulseSwingsBetweenItsLimits) {
    cubeField = CubeFieldState{};
    InitCubeField();
    show = ShowState{};
    const float t = 12.0f, d = t * (1.0f / 30000.0f);
    float lowest = 1, highest = 0;
    int flips = 0;
    bool growing = show.cubeSizeGrowing;
    for (int frame = 0; frame < 1000; ++frame) {
        PulseCubeSize(t);
        lowest = std::min(lowest, GetCubeSize());
        highest = std::max(highest, GetCubeSize());
        if (show.cubeSizeGrowing != growing) ++flips, growing = show.cubeSizeGrowing;
        ASSERT_EQ(cubeField.cubeCells[500].size, GetCubeSize());
    }
    EXPECT_GT(lowest, 0.0025f - d - 1e-6f);
    EXPECT_LT(lowest, 0.0025f);
    EXPECT_GT(highest, 0.05f);
    EXPECT_LT(highest, 0.05f + d + 1e-6f);
    // 0.0475 per leg at 0.0004 per frame: about 119 frames a leg.
    EXPECT_NEAR(flips, 1000 / 119, 1);
}

} // namespace
