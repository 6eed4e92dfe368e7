// captions.cpp: the caption font's display lists and the caption printer. Main thread, with
// the window's OpenGL context current.
#include "shell/captions.h"

#include "platform/gl.h"
#include "platform/platform.h"
#include "shell/shell_state.h"

#include <cstdio>
#include <cstring>

// The lists are made anew for every context and never released: they die with their context,
// which CloseGlWindow deletes.
void BuildCaptionFont() {
    shell.captionListBase = glGenLists(96);
    if (!platform::BuildFontBitmapLists("Verdana", 25, 700, 32, 96, shell.captionListBase)) {
        // The show can run without its captions; the lists stay empty and draw nothing.
        std::fprintf(stderr, "demo: no font found for the captions; they will not be shown.\n");
    }
}

void PrintCaption(float x, float y, float red, float green, float blue, const char* text) {
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0.0, 640.0, 0.0, 480.0, -100.0, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glColor3f(red, green, blue);
    glRasterPos2f(x, 450.0f - y);
    glPushAttrib(GL_LIST_BIT);
    glListBase(shell.captionListBase - 32);
    glCallLists(text ? static_cast<GLsizei>(std::strlen(text)) : 0, GL_UNSIGNED_BYTE, text);
    glPopAttrib();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}
