// cube_field.h: the field of 1000 spinning cubes. Main thread, OpenGL context current.
#pragma once

// Lays out the 1000 cube cells (called once at start-up).
void InitCubeField();
