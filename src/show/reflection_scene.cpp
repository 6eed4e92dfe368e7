// reflection_scene.cpp: the reflected cube field. No stencil or clip plane: the field is drawn
// once below the plane y = -1 and once above, and the floor and water are blended over the lower
// copy with depth testing off. Main thread.
#include "show/reflection_scene.h"

#include "platform/gl.h"

#include <cmath>

#include "show/cube_field.h"

ReflectionState reflection;

namespace {

constexpr float kTile = 0.1f;
constexpr float kWaveAmplitude = 0.05f;
constexpr float kSurface = -1.0f;

struct Colour {
    float r, g, b;
};
constexpr Colour kLight{0.1f, 0.1f, 1.0f};
constexpr Colour kBlue{0.0f, 0.0f, 1.0f};
constexpr Colour kDark{0.0f, 0.0f, 0.8f};

// Vertex colours of a water quad by [column parity][row parity], vertices 1 to 4.
constexpr Colour kWaterColours[2][2][4] = {
    {{kDark, kBlue, kLight, kBlue}, {kBlue, kLight, kBlue, kDark}}, // column parity clear
    {{kBlue, kDark, kBlue, kLight}, {kLight, kBlue, kDark, kBlue}}, // column parity set
};

} // namespace

float WaterHeight(float u, float v, float waveScale) {
    double arg = double(u) * (double(v) - 5.0) / double(waveScale);
    return float(kWaveAmplitude * std::cos(arg) + kSurface);
}

void ToggleDepthTest() {
    reflection.depthTestOn = !reflection.depthTestOn;
    if (reflection.depthTestOn)
        glEnable(GL_DEPTH_TEST);
    else
        glDisable(GL_DEPTH_TEST);
}

void ResetWaveScale() {
    reflection.waveScale = 0.2f;
}

void DrawFloor(float r, float g, float b, float a) {
    glColor4f(r, g, b, a);
    glBegin(GL_QUADS);
    glNormal3f(0, 1, 0);
    glVertex3f(-10, -1, 0);
    glVertex3f(10, -1, 0);
    glVertex3f(10, -1, -10);
    glVertex3f(-10, -1, -10);
    glEnd();
}

void DrawWater(float alpha) {
    reflection.waveScale += 0.005f;
    const float w = reflection.waveScale;
    glBegin(GL_QUADS);
    float z = 0.0f;
    do {
        reflection.waterRowParity = !reflection.waterRowParity;
        for (float x = -5.0f; x < 5.0f + kTile; x += kTile) {
            const Colour* c =
                kWaterColours[reflection.waterColumnParity][reflection.waterRowParity];
            // The far edge lies at z - T but takes its height from z + T.
            glColor4f(c[0].r, c[0].g, c[0].b, alpha);
            glVertex3f(x, WaterHeight(x, z, w), z);
            glColor4f(c[1].r, c[1].g, c[1].b, alpha);
            glVertex3f(x + kTile, WaterHeight(x + kTile, z, w), z);
            glColor4f(c[2].r, c[2].g, c[2].b, alpha);
            glVertex3f(x + kTile, WaterHeight(x + kTile, z + kTile, w), z - kTile);
            glColor4f(c[3].r, c[3].g, c[3].b, alpha);
            glVertex3f(x, WaterHeight(x, z + kTile, w), z - kTile);
            reflection.waterColumnParity = !reflection.waterColumnParity;
        }
        z -= kTile;
    } while (z >= -10.0f);
    glEnd();
}

void DrawReflectionScene(float spin) {
    // Expects: the camera on the model-view matrix; the depth test on (GL_LEQUAL) as the window
    // set it up, in step with depthTestOn; the show's blend function, used by floor and water.
    glTranslatef(0.0f, -1.5f, -5.0f);
    reflection.reflectionAngle += 0.1f * spin;
    const float a = reflection.reflectionAngle;
    // The spin axis wobbles with the angle itself.
    const float c = float(std::cos(double(0.01f * a)));

    glRotatef(a, c, 1, 0);
    DrawCubeField(0.1f);
    glRotatef(-a, c, 1, 0);
    glTranslatef(0.0f, 1.5f, 5.0f);

    ToggleDepthTest();
    DrawFloor(0.0f, 0.0f, 0.8f, 0.5f);
    DrawWater(0.6f);
    ToggleDepthTest();

    glTranslatef(0.0f, 1.5f, -5.0f);
    glRotatef(a, -c, 1, 0);
    DrawCubeField(0.1f);
    glRotatef(-a, -c, 1, 0);
}
