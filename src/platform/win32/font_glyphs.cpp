// font_glyphs.cpp: the caption font's glyph display lists through GDI and WGL. Main thread, with
// the window's OpenGL context current.
#include "platform/platform.h"
#include "platform/win32/window_internal.h"

#include <windows.h>

#include <GL/gl.h>

namespace platform {

bool BuildFontBitmapLists(const char* face, int height, int weight, int first, int count,
                          unsigned listBase) {
    HDC deviceContext = win32::WindowDeviceContext();
    if (!deviceContext || count <= 0 || first < 0) return false;
    // A negative height asks for the character height, internal leading excluded.
    HFONT font =
        CreateFontA(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_TT_PRECIS,
                    CLIP_DEFAULT_PRECIS, ANTIALIASED_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
    if (!font) return false;
    // The font stays selected: the lists are built from it now and nothing else draws text
    // into this device context. The font it replaces is not kept; the window deletes this one
    // when it is destroyed.
    SelectObject(deviceContext, font);
    win32::KeepWindowFont(font);
    if (!wglUseFontBitmapsA(deviceContext, static_cast<DWORD>(first), static_cast<DWORD>(count),
                            listBase))
        return false;

    // Glyphs without pixels (the space) come out of the system as a glBitmap of size 0 with no
    // pixel pointer, and some OpenGL drivers drop such a call while compiling a display list:
    // the space then has no advance and words run together. Such lists are rebuilt here with a
    // pointer to a dummy byte, which carries the advance through every driver.
    static const GLubyte kNoPixels[4] = {};
    static const MAT2 kIdentity = {{0, 1}, {0, 0}, {0, 0}, {0, 1}};
    for (int i = 0; i < count; ++i) {
        GLYPHMETRICS metrics{};
        DWORD size = GetGlyphOutlineA(deviceContext, static_cast<UINT>(first + i), GGO_BITMAP,
                                      &metrics, 0, nullptr, &kIdentity);
        if (size != 0) continue; // drawn glyphs, and GDI_ERROR, keep the system's list
        glNewList(listBase + static_cast<unsigned>(i), GL_COMPILE);
        glBitmap(0, 0, 0.0f, 0.0f, static_cast<GLfloat>(metrics.gmCellIncX),
                 static_cast<GLfloat>(metrics.gmCellIncY), kNoPixels);
        glEndList();
    }
    return true;
}

} // namespace platform
