// gl_window.h: the program's one window with its OpenGL context, the viewport and projection,
// and the fixed OpenGL state every frame relies on. Main thread.
#pragma once

// Opens the window (full screen by a temporary display-mode switch, or framed), makes its
// OpenGL context current and sets viewport, projection, fixed state and caption font. False
// when it could not; the user has been told where there is something to tell.
bool OpenGlWindow(const char* title, int width, int height, int bits, bool fullScreen);
// Releases whatever of the window is held (display mode, context, window, class).
void CloseGlWindow();
// Viewport and 45-degree perspective for a client area of width x height (a height of 0
// counts as 1).
void ResizeGlViewport(int width, int height);
// Smooth shading, clear values, depth test, perspective hint, then the caption font.
bool InitGlState();
// True while the window's OpenGL context is current (between OpenGlWindow and CloseGlWindow).
bool GlContextReady();
