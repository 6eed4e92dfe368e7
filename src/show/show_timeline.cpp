// show_timeline.cpp: the per-frame show. Main thread.
// Not built yet: clears the frame and never ends, so that the shell can run on its own.
#include "show/show_timeline.h"

#include <GL/gl.h>

bool DrawShowFrame() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    return true;
}
