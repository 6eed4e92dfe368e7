// gl11.h: the OpenGL 1.1 layer over WebGL that the browser build links in place of a GL
// library: the entry points the show and shell call (declared by <GL/gl.h> and <GL/glu.h>,
// defined in gl11.cpp) and the few set-up calls the web backend makes. Main thread.
//
// What it does: the matrix stacks; immediate mode batched into one vertex buffer, transformed
// on the CPU and drawn with one fixed-function shader (colour, colour times texture, bitmap);
// blending, the depth test, 2D textures; display lists that hold glBitmap calls; raster
// positions with the desktop's rules (an invalid position draws nothing and does not move;
// the colour is the one current when the position was set; glyphs keep their pixel size).
// What it does not do: lighting, fog, stencil, lines and points, display lists of anything but
// bitmaps, attribute groups other than the list base. The show uses none of these.
#pragma once

#include <cstdint>

namespace gl11 {

// Takes a WebGL context (WebGL 2 if offered, else 1) from the canvas the CSS selector names.
// Returns the WebGL version, or 0 when the browser offers none. Calling it again keeps the
// context and only resets the state (see ResetState).
int CreateContext(const char* canvasSelector);
// Back to the state of a fresh OpenGL context: default matrices and enables, no textures or
// display lists (a context the shell closes and opens again starts empty, as on the desktop).
void ResetState();
// Draws everything batched so far; the backend calls it before the browser shows the canvas.
void Flush();

// ---- Internals shared by gl11.cpp and webgl.cpp ---------------------------------------------

// One vertex as the shader takes it: clip-space position, colour, texture coordinate.
struct Vertex {
    float x, y, z, w;
    float r, g, b, a;
    float s, t;
};

// How a batch is drawn.
enum class Shading : int { Colour = 0, Textured = 1, Bitmap = 2 };

struct DrawState {
    bool blend = false;
    uint32_t blendSrc = 1, blendDst = 0; // GL_ONE, GL_ZERO
    bool depthTest = false;
    uint32_t depthFunc = 0x0201; // GL_LESS
    Shading shading = Shading::Colour;
    int texture = 0; // the WebGL texture's handle for Textured
    bool operator==(const DrawState&) const = default;
};

namespace js {
int CreateContext(const char* selector);
void Reset();
void Draw(const Vertex* vertices, int count, const DrawState& state);
void Clear(uint32_t mask, const float colour[4], float depth);
void Viewport(int x, int y, int width, int height);
int CreateTexture();
void DeleteTexture(int handle);
void TextureParameter(int handle, uint32_t name, int value);
// Tightly packed rows of RGB or RGBA bytes.
void TextureImage(int handle, int width, int height, uint32_t format, const uint8_t* pixels);
// The glyph atlas: one byte of coverage per pixel, drawn by Shading::Bitmap.
void AtlasImage(int width, int height, const uint8_t* coverage);
} // namespace js

} // namespace gl11
