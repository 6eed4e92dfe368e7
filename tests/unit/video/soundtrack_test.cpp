// soundtrack_test.cpp: the per-frame slices of the rendered song (alignment with the program
// clock, no gaps or overlaps at any frame rate, silence past the render) and the render itself.
#include <gtest/gtest.h>

#include <string>

#include "soundtrack.h"

namespace {

TEST(SoundSlices, MeetExactlyAndFollowTheProgramClock) {
    for (int fps : {1, 7, 24, 25, 30, 60, 144, 240}) {
        int64_t expectedStart = 0;
        for (int64_t frame = 0; frame < int64_t(fps) * 10; ++frame) {
            const int64_t first = SoundFrameAt(frame, fps, 44100);
            ASSERT_EQ(first, expectedStart) << fps << " fps, frame " << frame;
            expectedStart = SoundFrameAt(frame + 1, fps, 44100);
            ASSERT_GE(expectedStart - first, 44100 / fps);
            ASSERT_LE(expectedStart - first, 44100 / fps + 1);
        }
        // Ten seconds of frames carry exactly ten seconds of sound; second t of the picture
        // starts second t of the song.
        EXPECT_EQ(expectedStart, 441000) << fps << " fps";
        EXPECT_EQ(SoundFrameAt(int64_t(fps) * 7, fps, 44100), 7 * 44100) << fps << " fps";
    }
    // Long renders do not overflow: frame 10 hours in at 240 fps.
    EXPECT_EQ(SoundFrameAt(int64_t(240) * 36000, 240, 44100), int64_t(44100) * 36000);
}

TEST(SoundSlices, PointIntoTheRenderThenIntoStableSilence) {
    Soundtrack track;
    track.samples.resize(44100 * 2); // one second
    for (size_t i = 0; i < track.samples.size(); ++i) track.samples[i] = int16_t(i % 30000 + 1);
    size_t frames = 0;
    const int16_t* p = SoundForFrame(&track, 30, 60, &frames);
    EXPECT_EQ(p, track.samples.data() + 30 * 735 * 2);
    EXPECT_EQ(frames, 735u);
    // The last slice inside the render, then one past it.
    EXPECT_EQ(SoundForFrame(&track, 59, 60, &frames), track.samples.data() + 59 * 735 * 2);
    const int16_t* silence = SoundForFrame(&track, 60, 60, &frames);
    ASSERT_EQ(frames, 735u);
    for (size_t i = 0; i < frames * 2; ++i) ASSERT_EQ(silence[i], 0);
    // Slices that were handed out stay valid while later ones are taken: the silence is never
    // reallocated, whatever the slice length.
    for (int64_t f = 61; f < 200; ++f) EXPECT_EQ(SoundForFrame(&track, f, 60, &frames), silence);
}

TEST(SoundSlices, ASliceCrossingTheEndOfTheRenderIsNotReadPastIt) {
    Soundtrack track;
    track.samples.assign(1000 * 2, 7); // shorter than one frame at 30 fps (1470 frames)
    size_t frames = 0;
    const int16_t* p = SoundForFrame(&track, 0, 30, &frames);
    ASSERT_EQ(frames, 1470u);
    for (size_t i = 0; i < frames * 2; ++i) ASSERT_EQ(p[i], 0) << i;
}

TEST(SoundRender, MissingSongGivesSilenceAndSaysWhich) {
    Soundtrack track;
    std::string error;
    EXPECT_FALSE(RenderSoundtrack("/nonexistent/Zarq-Neat.xm", 1, &track, &error));
    EXPECT_NE(error.find("/nonexistent/Zarq-Neat.xm"), std::string::npos) << error;
    EXPECT_TRUE(track.samples.empty());
}

TEST(SoundRender, TheSongRendersTheSameTwiceInOneProcess) {
    const std::string song = std::string(DEMO_DATA_DIR) + "/Zarq-Neat.xm";
    Soundtrack first, second;
    std::string error;
    ASSERT_TRUE(RenderSoundtrack(song, 1.5, &first, &error)) << error;
    ASSERT_GE(first.samples.size(), size_t(1.5 * 44100) * 2);
    bool audible = false;
    for (int16_t s : first.samples) audible = audible || s != 0;
    EXPECT_TRUE(audible);
    // A second render starts from a clean player: the video of a range must not depend on
    // what was rendered before in the same process.
    ASSERT_TRUE(RenderSoundtrack(song, 1.5, &second, &error)) << error;
    EXPECT_TRUE(first.samples == second.samples);
}

} // namespace
