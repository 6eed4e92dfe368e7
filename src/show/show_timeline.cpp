// show_timeline.cpp: the fixed sequence of the show, driven by the frame timer: intro, eight
// cube segments, four particle segments, credits. OpenGL state is handed on from segment to
// segment on purpose, never restored. Main thread.
#include "show/show_timeline.h"

#include "platform/gl.h"

#include <cmath>

#include "shell/captions.h"
#include "shell/frame_timer.h"
#include "shell/shell_state.h"
#include "show/cube_field.h"
#include "show/particle_engine.h"
#include "show/reflection_scene.h"

ShowState show;

namespace {

constexpr float kShowEnd = 250.0f;

// The overlay lies a hair beyond the near plane (0.1) rather than exactly on it: Mesa draws it
// on the plane too, but a rasteriser that rounds the other way would clip the whole fade away.
constexpr float kOverlayDepth = -0.1001f;

// Caption of the first particle segment, shown for its first five seconds.
constexpr float kParticleCaptionEnd = 95.0f;

// A fade drawn while the particle engine has texturing on must itself be untextured.
void TexturedFade(float step) {
    glDisable(GL_TEXTURE_2D);
    DrawFadeOverlay(step);
    glEnable(GL_TEXTURE_2D);
}

void DrawIntro(float t, float delta) {
    if (t < 5.0f) PrintCaption(3.0f * t, 100, 1, 1, 1, "Compiling the Future...");
    if (t > 2.0f && t < 5.0f) {
        PrintCaption(5.0f * t, 300, 0.5f, 0.5f, 0.5f, "Get ready...");
        if (t > 4.5f) DrawFadeOverlay(0.002f * delta);
    }
    if (t >= 5.0f) {
        // Nothing is drawn on this frame; the main show starts on the next.
        show.showTime = 0.0f;
        show.introRunning = false;
    }
}

void DrawMainShow(float t, float delta) {
    switch (SegmentAt(t)) {
    case ShowSegment::Opening:
        glRotatef(3.0f * t, 0, 1, 0);
        DrawReflectionScene(t - 15.0f);
        if (t > 7.75f) DrawFadeOverlay(0.004f * delta);
        break;
    case ShowSegment::Descent:
        glTranslatef(0, -2, t - 8.0f);
        glRotatef(2.0f * t - 8.0f, 1, 0, 0);
        DrawReflectionScene(t - 15.0f);
        break;
    case ShowSegment::Cubes:
        glTranslatef(0, -2, 2);
        glRotatef(12, 1, 0, 0);
        PulseCubeSize(t);
        DrawReflectionScene(t - 15.0f);
        PrintCaption(50, 30, 0, 1, 0, "1000 CUBES!!!");
        if (t > 14.75f) DrawFadeOverlay(0.004f * delta);
        break;
    case ShowSegment::Reflections:
        glTranslatef(0, -5, -2);
        glRotatef(2.0f * (t - 15.0f) + 70.0f, 1, 0, 0);
        PulseCubeSize(t);
        DrawReflectionScene(t - 15.0f);
        PrintCaption(0, 370, 0, 1, 0, "1000 Reflections...");
        break;
    case ShowSegment::Overhead:
        if (t > 27.0f && t < 35.0f) SetCubesTranslucent(true);
        glTranslatef(0, -5, -2);
        glRotatef(90, 1, 0, 0);
        if (t > 35.0f) {
            // Starts after 40 s but measures from 35 s: the camera jumps by 1.25 at 40 s.
            if (t > 40.0f) glTranslatef(0, -0.25f * (t - 35.0f), 0);
            if (t > 45.0f) {
                glRotatef(3.0f * (t - 45.0f), 1, 0, 0);
                SetCubesTranslucent(false);
            }
        }
        PulseCubeSize(t);
        DrawReflectionScene(t < 27.0f ? t - 25.0f : 2.0f * (t - 25.0f));
        if (t > 49.75f) {
            DrawFadeOverlay(0.004f * delta);
            ResetWaveScale();
        }
        break;
    case ShowSegment::Tilt:
        glTranslatef(0, -3, -5);
        glRotatef(90.0f - 2.0f * (t - 35.0f), 0.5f, 0.5f, 0);
        DrawReflectionScene(t - 50.0f);
        break;
    case ShowSegment::Tumble:
        glTranslatef(0, 5, -5);
        glRotatef(2.0f * (t - 60.0f), 1, 1, 1);
        glTranslatef(0, -5, 5);
        DrawReflectionScene(t - 50.0f);
        if (t > 74.75f) {
            DrawFadeOverlay(0.004f * delta);
            ResetWaveScale();
        }
        break;
    case ShowSegment::Farewell:
        if (t > 82.0f) SetCubesTranslucent(true);
        if (GetCubeSize() < 0.05f) SetCubeSize(0.05f);
        glTranslatef(3, 10, -5);
        glRotatef(-(t - 60.0f), -1, 1, 0);
        glTranslatef(-3, -10, 5);
        DrawReflectionScene(delta);
        if (t < 81.0f) PrintCaption(20, 150, 1, 1, 1, "Did you like this scene?");
        if (t > 80.0f) PrintCaption(300, 400, 0.5f, 0.5f, 0.5f, "Check next one ;)");
        // Started on every frame of the last half second so it is ready at 90 s.
        if (t > 89.5f) LoadParticleEngine();
        break;
    case ShowSegment::ParticleRow:
        glTranslatef(0, 0, -10);
        DrawParticleRow(3.0f * (t - 90.0f));
        if (t < kParticleCaptionEnd) {
            glDisable(GL_TEXTURE_2D);
            PrintCaption(10, 20, 0.5f, 0.5f, 0.5f, "Live particle engine just 4 U!!");
            glEnable(GL_TEXTURE_2D);
        } else if (t > 104.5f) {
            TexturedFade(0.002f * delta);
        }
        break;
    case ShowSegment::ParticleSpin:
        glTranslatef(0, -2, -10);
        glRotatef(5.0f * (t - 105.0f), 1, 1, float(std::cos(double(t))));
        DrawParticleRow(0);
        if (t > 119.5f) TexturedFade(0.002f * delta);
        break;
    case ShowSegment::ParticlePulse:
        glTranslatef(0, 0, float(-3.0 - std::cos(2.0 * double(t))));
        StepParticles();
        TexturedFade((t < 134.0f ? 0.002f : 0.004f) * delta);
        break;
    case ShowSegment::ParticleOrbit: {
        float z = t < 150.0f ? float(-7.0 - 3.0 * std::cos(30.0 * double(t)))
                             : 0.2f * (t - 150.0f) - 7.0f;
        glTranslatef(0, 0, z);
        glRotatef(3.0f * t, 0, 1, 0);
        StepParticles();
        if (t > 143.0f) TexturedFade(0.002f * delta);
        break;
    }
    case ShowSegment::Credits:
        if (t < 190.0f) {
            PrintCaption(40, 100, 1, 1, 1, "I hope you've enjoyed this demo");
            PrintCaption(40, 150, 1, 1, 1, "it was my 1st one =D");
            PrintCaption(20, 240, 1, 1, 1, "Total time taken for this demo: +/- 10 days");
        }
        DrawCreditParticles(t);
        if (t > 190.0f) {
            PrintCaption(230, 100, 1, 1, 1, "Code By:");
            PrintCaption(230, 150, 1, 1, 1, "Quorvane");
            PrintCaption(230, 230, 1, 1, 1, "Music by:");
            PrintCaption(230, 280, 1, 1, 1, "Zarq");
        }
        break;
    }
}

} // namespace

ShowSegment SegmentAt(float t) {
    static constexpr float kStarts[kShowSegmentCount - 1] = {8,  10, 15,  25,  50,  60,
                                                             75, 90, 105, 120, 135, 160};
    int segment = 0;
    while (segment < kShowSegmentCount - 1 && t >= kStarts[segment]) ++segment;
    return ShowSegment(segment);
}

const char* SegmentName(ShowSegment segment) {
    static constexpr const char* kNames[kShowSegmentCount] = {
        "opening",        "descent",        "cubes",    "reflections",  "overhead",
        "tilt",           "tumble",         "farewell", "particle-row", "particle-spin",
        "particle-pulse", "particle-orbit", "credits"};
    return kNames[int(segment)];
}

float NextFadeAlpha(float alpha, float step) {
    return alpha > 1.0f ? 0.0f : alpha + step;
}

void DrawFadeOverlay(float step) {
    // Expects: whatever blend function is current (fade to white during the cubes, brighten
    // under the particles' additive blending) and texturing off.
    glLoadIdentity();
    glBegin(GL_QUADS);
    glColor4f(1, 1, 1, show.fadeAlpha);
    glVertex3f(10, 10, kOverlayDepth);
    glVertex3f(10, -10, kOverlayDepth);
    glVertex3f(-10, -10, kOverlayDepth);
    glVertex3f(-10, 10, kOverlayDepth);
    glEnd();
    show.fadeAlpha = NextFadeAlpha(show.fadeAlpha, step);
}

void PulseCubeSize(float t) {
    const float s = GetCubeSize();
    const float d = t * (1.0f / 30000.0f);
    if (s > 0.0f && !show.cubeSizeGrowing)
        SetCubeSize(s - d);
    else
        SetCubeSize(s + d);
    const float s2 = GetCubeSize();
    if (s2 < 0.0025f || s2 > 0.05f) show.cubeSizeGrowing = !show.cubeSizeGrowing;
}

bool DrawShowFrame() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    shell.frameDelta = TickFrameTimer();
    show.showTime += shell.frameDelta * 0.001f;
    if (show.introRunning)
        DrawIntro(show.showTime, shell.frameDelta);
    else
        DrawMainShow(show.showTime, shell.frameDelta);
    // Checked after drawing, on the clock after a possible intro reset.
    return !(show.showTime > kShowEnd);
}
