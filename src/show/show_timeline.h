// show_timeline.h: the per-frame show: clock, segment, camera, scene, captions, fades. Main
// thread, OpenGL context current.
#pragma once

struct ShowState {
    float showTime = 0.0f;        // seconds; set back to 0 once, when the intro ends
    bool introRunning = true;     // cleared when the intro ends, never set again
    float fadeAlpha = 0.0f;       // alpha of the white overlay at its next draw
    bool cubeSizeGrowing = false; // the size pulse is on its rising leg
};
extern ShowState show;

// The parts of the main show (after the intro), in order.
enum class ShowSegment {
    Opening,       // 0-8 s: slow turn around the field
    Descent,       // 8-10 s
    Cubes,         // 10-15 s: "1000 CUBES!!!"
    Reflections,   // 15-25 s: "1000 Reflections..."
    Overhead,      // 25-50 s: from above, translucent between 27 and 45 s
    Tilt,          // 50-60 s
    Tumble,        // 60-75 s
    Farewell,      // 75-90 s: "Did you like this scene?", particle engine starts at 89.5 s
    ParticleRow,   // 90-105 s
    ParticleSpin,  // 105-120 s
    ParticlePulse, // 120-135 s
    ParticleOrbit, // 135-160 s
    Credits,       // from 160 s
};
constexpr int kShowSegmentCount = 13;

// The segment containing main-show time t; the ranges are half-open, a boundary belongs to
// the later segment.
ShowSegment SegmentAt(float t);
const char* SegmentName(ShowSegment segment);

// Clears and draws the frame of the current show time; false once the show is over (the
// frame whose clock first exceeds 250 s is drawn but should not be presented).
bool DrawShowFrame();
// The full-view white overlay at alpha fadeAlpha; then fadeAlpha advances by step, wrapping
// to 0 once it has passed 1.
void DrawFadeOverlay(float step);
// The alpha following `alpha` after a fade step.
float NextFadeAlpha(float alpha, float step);
// One beat of the cube size pulse at show time t.
void PulseCubeSize(float t);
