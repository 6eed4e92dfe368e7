// gl_window.h: the program's one window with its OpenGL context, the viewport and projection,
// and the fixed OpenGL state every frame relies on. Main thread.
#pragma once

bool OpenGlWindow(const char* title, int width, int height, int bits, bool fullScreen);
void CloseGlWindow();
void ResizeGlViewport(int width, int height);
bool InitGlState();
