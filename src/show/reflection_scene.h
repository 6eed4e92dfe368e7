// reflection_scene.h: the cube field spinning above a translucent floor and rippling water that
// show its mirror copy. Main thread, OpenGL context current.
#pragma once

struct ReflectionState {
    float reflectionAngle = 0.0f;  // degrees, accumulated spin of both copies
    bool depthTestOn = true;       // mirrors GL_DEPTH_TEST as ToggleDepthTest last left it
    float waveScale = 0.2f;        // divisor of the water's cosine argument
    bool waterColumnParity = true; // flips after every water quad
    bool waterRowParity = false;   // flips at the start of every water row
};
extern ReflectionState reflection;

// Adds 0.1 * spin degrees to the spin and draws lower copy, floor, water and upper copy under
// the current model-view matrix, which it leaves translated by (0, 1.5, -5).
void DrawReflectionScene(float spin);
void ToggleDepthTest();
void DrawFloor(float red, float green, float blue, float alpha);
void DrawWater(float alpha);
void ResetWaveScale();

// Height of the water surface at (u, v) for the given wave scale.
float WaterHeight(float u, float v, float waveScale);
