// gl.h: includes OpenGL 1.1 and GLU the same way on every backend (Windows needs its own
// header first). Include this instead of <GL/gl.h>.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif
#include <GL/gl.h>
#include <GL/glu.h>
