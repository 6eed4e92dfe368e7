// cube_field.cpp: the field of 1000 spinning cubes. Main thread.
// Not built yet.
#include "show/cube_field.h"

void InitCubeField() {}
