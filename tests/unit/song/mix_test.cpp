// mix_test.cpp: the committed song's mix, measured per section on one rendering with the same
// figures the song_figures table prints: the full sections keep the low end in its place, the
// top audible and the image wide, and the peak climbs above the first full section.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "committed_song.h"
#include "figures.h"
#include "song.h"

using song_check::CommittedRendering;

namespace {
constexpr double PI = 3.141592653589793;

compose::MixFigures Measure(const compose::SongSection& section) {
    const song_check::Song& song = CommittedRendering();
    int64_t frames = int64_t(song.frames.size() / 2);
    int64_t first = int64_t(section.start * song.rate);
    int64_t last = section.end > 0 ? int64_t(section.end * song.rate) : frames;
    EXPECT_LT(last, frames + 1) << section.name;
    last = std::min(last, frames);
    return compose::MeasureMix(song.frames.data() + 2 * first, last - first, song.rate);
}

// One test for every figure of the rendering, so that a test run renders the song once.
TEST(Mix, FullSectionsAreBalancedAndWideAndThePeakClimbs) {
    ASSERT_TRUE(CommittedRendering().rendered);
    int full = 0;
    double first = 0, peak = 0;
    for (const compose::SongSection& section : compose::SongSections()) {
        if (!section.full) continue;
        compose::MixFigures f = Measure(section);
        if (std::string(section.name) == "first theme") first = f.rmsDb;
        if (std::string(section.name) == "peak") peak = f.rmsDb;
        ++full;
        EXPECT_LE(f.lowShare, 0.40) << section.name << ": 40-80 Hz";
        EXPECT_GE(f.highDb, -15.0) << section.name << ": above 2.5 kHz";
        EXPECT_LE(f.correlation, 0.97) << section.name << ": left/right correlation";
        EXPECT_GE(f.sideDb, -17.0) << section.name << ": side against mid";
    }
    EXPECT_EQ(full, 3);
    ASSERT_LT(first, 0);
    std::printf("figure: peak %.1f dB over the first theme\n", peak - first);
    EXPECT_GE(peak - first, 3.5) << "first theme " << first << " dB, peak " << peak << " dB";
}

TEST(Mix, FiguresFollowTheSignal) {
    // The measure itself, on signals whose figures are known.
    const int rate = 44100, frames = rate;
    std::vector<int16_t> tone(2 * frames), wide(2 * frames);
    for (int i = 0; i < frames; ++i) {
        double low = 16000.0 * std::sin(2 * PI * 60.0 * i / rate);
        double high = 16000.0 * std::sin(2 * PI * 5000.0 * i / rate);
        tone[2 * i] = tone[2 * i + 1] = int16_t(low);
        wide[2 * i] = int16_t(high);
        wide[2 * i + 1] = int16_t(-high);
    }
    compose::MixFigures t = compose::MeasureMix(tone.data(), frames, rate);
    EXPECT_NEAR(t.lowShare, 1.0, 0.01);
    EXPECT_LT(t.highDb, -40.0);
    EXPECT_NEAR(t.correlation, 1.0, 1e-9);
    EXPECT_LT(t.sideDb, -100.0);
    EXPECT_NEAR(t.rmsDb, 20 * std::log10(16000.0 / 32768.0 / std::sqrt(2.0)), 0.05);
    compose::MixFigures w = compose::MeasureMix(wide.data(), frames, rate);
    EXPECT_NEAR(w.highDb, 0.0, 0.05);
    EXPECT_NEAR(w.lowShare, 0.0, 0.001);
    EXPECT_NEAR(w.correlation, -1.0, 1e-9);
    EXPECT_GT(w.sideDb, 100.0);
    // Swapping the sides changes nothing.
    std::vector<int16_t> swapped(wide.size());
    for (int i = 0; i < frames; ++i) {
        swapped[2 * i] = tone[2 * i] / 2 + wide[2 * i + 1] / 2;
        swapped[2 * i + 1] = tone[2 * i + 1] / 2 + wide[2 * i] / 2;
        wide[2 * i] = int16_t(tone[2 * i] / 2 + wide[2 * i] / 2);
        wide[2 * i + 1] = int16_t(tone[2 * i + 1] / 2 + wide[2 * i + 1] / 2);
    }
    compose::MixFigures a = compose::MeasureMix(wide.data(), frames, rate);
    compose::MixFigures b = compose::MeasureMix(swapped.data(), frames, rate);
    EXPECT_DOUBLE_EQ(a.correlation, b.correlation);
    EXPECT_DOUBLE_EQ(a.sideDb, b.sideDb);
    EXPECT_NEAR(a.lowShare, b.lowShare, 1e-12);
    EXPECT_NEAR(a.highDb, b.highDb, 1e-9);
}

TEST(Mix, PictureMarksTheScenesTheSongMeets) {
    // The spectrogram marks the scene changes the song is arranged to; both lists must agree.
    std::vector<double> landmarks;
    for (const compose::Landmark& mark : compose::SongLandmarks())
        if (mark.seconds > 0) landmarks.push_back(mark.seconds);
    std::vector<double> scenes;
    for (const compose::SceneChange& change : compose::ShowSceneChanges())
        scenes.push_back(change.seconds);
    EXPECT_EQ(landmarks, scenes);
}

} // namespace
