// cube_field.cpp: the field of 1000 cubes, drawn in immediate mode (no lighting: each face has
// its own fixed grey). Main thread.
#include "show/cube_field.h"

#include "platform/gl.h"

CubeFieldState cubeField;

void InitCubeField() {
    // Each coordinate advances by repeated single-precision additions of the pitch from the
    // first value of its loop, so the lattice carries the same rounding on every run.
    const float pitch = 0.06f;
    float z = -0.375f + 0.005f;
    for (int i = 0; i < 10; ++i, z += pitch) {
        float y = -0.255f;
        for (int j = 0; j < 10; ++j, y += pitch) {
            float x = -0.255f;
            for (int k = 0; k < 10; ++k, x += pitch)
                cubeField.cubeCells[100 * i + 10 * j + k] = CubeCell{x, z, y, cubeField.cubeSize};
        }
    }
}

void SetCubeSize(float size) {
    for (CubeCell& cell : cubeField.cubeCells) cell.size = size;
    cubeField.cubeSize = size;
}

float GetCubeSize() {
    return cubeField.cubeSize;
}

void SetCubesTranslucent(int on) {
    cubeField.cubesTranslucent = on != 0;
}

namespace {

inline void FaceColour(float shade, float alpha) {
    if (cubeField.cubesTranslucent)
        glColor4f(shade, shade, shade, alpha);
    else
        glColor3f(shade, shade, shade);
}

} // namespace

void DrawCube(float x, float y, float z, float s, float alpha) {
    glBegin(GL_QUADS);
    FaceColour(1.0f, alpha);
    glNormal3f(1, 0, 0);
    glVertex3f(x + s, y, z);
    glVertex3f(x + s, y - s, z);
    glVertex3f(x + s, y - s, z - s);
    glVertex3f(x + s, y, z - s);

    FaceColour(0.9f, alpha);
    glNormal3f(0, 0, -1);
    glVertex3f(x, y, z - s);
    glVertex3f(x + s, y, z - s);
    glVertex3f(x + s, y - s, z - s);
    glVertex3f(x, y - s, z - s);

    FaceColour(0.8f, alpha);
    glNormal3f(-1, 0, 0);
    glVertex3f(x, y, z - s);
    glVertex3f(x, y - s, z - s);
    glVertex3f(x, y - s, z);
    glVertex3f(x, y, z);

    FaceColour(0.7f, alpha);
    glNormal3f(0, 1, 0);
    glVertex3f(x + s, y, z - s);
    glVertex3f(x + s, y, z);
    glVertex3f(x, y, z);
    glVertex3f(x, y, z - s);

    FaceColour(0.6f, alpha);
    glNormal3f(0, -1, 0);
    glVertex3f(x + s, y - s, z);
    glVertex3f(x + s, y - s, z - s);
    glVertex3f(x, y - s, z - s);
    glVertex3f(x, y - s, z);

    FaceColour(0.5f, alpha);
    glNormal3f(0, 0, 1);
    glVertex3f(x, y, z);
    glVertex3f(x, y - s, z);
    glVertex3f(x + s, y - s, z);
    glVertex3f(x + s, y, z);
    glEnd();
}

void DrawCubeField(float alpha) {
    // Expects: the caller's model-view matrix; blending as the show left it (it matters only
    // while the cubes are translucent); lighting off.
    for (const CubeCell& cell : cubeField.cubeCells)
        DrawCube(cell.x, cell.y, cell.z, cell.size, alpha);
}
