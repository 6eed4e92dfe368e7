// font.cpp: caption glyphs as bitmap display lists, drawn by the browser's own text renderer on
// a scratch canvas. Main thread, with the GL 1.1 layer's context current.
//
// The face asked for, else DejaVu Sans, else the browser's sans-serif, at `height` pixels to
// the em (the character height without internal leading), at the weight asked for. Coverage of
// half and more becomes a set bit, as on the desktop.
#include "platform/platform.h"

#include <GL/gl.h>
#include <emscripten.h>

#include <cstdint>
#include <vector>

// clang-format off
// Renders one character and writes its bitmap's metrics to metrics[0..4] (width, rows, left
// bearing, top above the baseline, advance) and its coverage, rows top-down, to `coverage`
// (at most `capacity` bytes). Returns 0 when the page has no 2D canvas.
EM_JS(int, web_render_glyph, (const char* face, int height, int weight, int code, int* metrics,
                              uint8_t* coverage, int capacity), {
    var size = 4 * height, origin = height;
    var canvas = Module.glyphCanvas;
    if (!canvas) {
        canvas = Module.glyphCanvas = document.createElement('canvas');
        canvas.width = size;
        canvas.height = size;
    }
    var context = canvas.getContext('2d', {willReadFrequently: true});
    if (!context) return 0;
    context.clearRect(0, 0, size, size);
    context.font = weight + ' ' + height + 'px "' + UTF8ToString(face) + '", "DejaVu Sans", sans-serif';
    context.textBaseline = 'alphabetic';
    context.fillStyle = '#fff';
    var text = String.fromCharCode(code);
    var baseline = 2 * height;
    context.fillText(text, origin, baseline);
    var pixels = context.getImageData(0, 0, size, size).data;
    var left = size, right = -1, top = size, bottom = -1;
    for (var y = 0; y < size; ++y)
        for (var x = 0; x < size; ++x)
            if (pixels[(y * size + x) * 4 + 3] >= 128) {
                if (x < left) left = x;
                if (x > right) right = x;
                if (y < top) top = y;
                if (y > bottom) bottom = y;
            }
    var width = right >= left ? right - left + 1 : 0, rows = bottom >= top ? bottom - top + 1 : 0;
    if (width * rows > capacity) width = rows = 0;
    metrics >>= 2;
    HEAP32[metrics] = width;
    HEAP32[metrics + 1] = rows;
    HEAP32[metrics + 2] = width ? left - origin : 0;
    HEAP32[metrics + 3] = rows ? baseline - top : 0;
    HEAP32[metrics + 4] = Math.round(context.measureText(text).width);
    for (var r = 0; r < rows; ++r)
        for (var c = 0; c < width; ++c)
            HEAPU8[coverage + r * width + c] = pixels[((top + r) * size + left + c) * 4 + 3] >= 128 ? 1 : 0;
    return 1;
});
// clang-format on

namespace platform {

bool BuildFontBitmapLists(const char* face, int height, int weight, int first, int count,
                          unsigned listBase) {
    if (!face || height <= 0 || count <= 0 || first < 0) return false;
    const int capacity = 16 * height * height;
    std::vector<uint8_t> coverage(static_cast<size_t>(capacity));
    std::vector<GLubyte> bits;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (int i = 0; i < count; ++i) {
        int m[5] = {};
        if (!web_render_glyph(face, height, weight, first + i, m, coverage.data(), capacity)) {
            glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
            return false;
        }
        const int width = m[0], rows = m[1];
        const int rowBytes = (width + 7) / 8;
        bits.assign(size_t(rowBytes) * rows + 1, 0);
        for (int r = 0; r < rows; ++r) {
            // The canvas's rows run top-down, glBitmap's bottom-up.
            GLubyte* dst = &bits[size_t(rows - 1 - r) * rowBytes];
            for (int x = 0; x < width; ++x)
                if (coverage[size_t(r) * width + x]) dst[x >> 3] |= GLubyte(0x80 >> (x & 7));
        }
        const float xorig = width ? float(-m[2]) : 0.0f;
        const float yorig = rows ? float(rows - m[3]) : 0.0f;
        glNewList(listBase + unsigned(i), GL_COMPILE);
        glBitmap(width, rows, xorig, yorig, float(m[4]), 0.0f, bits.data());
        glEndList();
    }
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    return true;
}

} // namespace platform
