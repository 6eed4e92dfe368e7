// cube_field.h: the 10 x 10 x 10 lattice of small grey cubes. Main thread; the draw functions
// need the window's OpenGL context current.
#pragma once

// One cube: reference corner at its smallest x, largest y and largest z; the cube spans
// x .. x + size, y - size .. y, z - size .. z.
struct CubeCell {
    float x;
    float z;
    float y;
    float size;
};

constexpr int kCubeCount = 1000;

struct CubeFieldState {
    CubeCell cubeCells[kCubeCount] = {}; // layer i, row j, column k at 100 * i + 10 * j + k
    float cubeSize = 0.05f;              // the edge last given to every cell
    bool cubesTranslucent = false;       // faces take the caller's alpha instead of opaque
};
extern CubeFieldState cubeField;

// Lays out the cells (once at start-up, before the first frame); no OpenGL calls.
void InitCubeField();
void SetCubeSize(float size);
float GetCubeSize();
void SetCubesTranslucent(int on);

// One cube of six flat-shaded quads with reference corner (x, y, z).
void DrawCube(float x, float y, float z, float size, float alpha);
// Every cell under the current matrices.
void DrawCubeField(float alpha);
