// captions.h: bitmap-font captions in a fixed 640 x 480 caption space. Main thread, with the
// window's OpenGL context current.
#pragma once

// Builds the 96 display lists of the caption font (codes 32-127) for the current context.
void BuildCaptionFont();
// Draws one line whose baseline starts at (x, y); y grows downward from 30 units below the
// top. Leaves the caller's matrices and list base as they were; the colour stays current.
void PrintCaption(float x, float y, float red, float green, float blue, const char* text);
