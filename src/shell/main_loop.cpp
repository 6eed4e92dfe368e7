// main_loop.cpp: the entry routine: window, show preparation, music start, and the
// non-blocking message loop with its Escape, F1 and end-of-show rules. Main thread.
#include "shell/main_loop.h"

#include "music/output.h"
#include "platform/gl.h"
#include "platform/platform.h"
#include "shell/frame_timer.h"
#include "shell/gl_window.h"
#include "shell/shell_state.h"
#include "show/cube_field.h"
#include "show/show_timeline.h"

namespace {

constexpr const char* kTitle = "Demo";
constexpr int kWidth = 640, kHeight = 480, kBits = 16;

// The window could not be opened (the user has been told): the program cannot run, and says so
// through its exit code rather than ending as if all went well.
constexpr int kExitNoWindow = 1;

} // namespace

void PrepareShow() {
    InitCubeField();
    // Blend state for the whole show; it is not applied again after an F1 toggle.
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
    glEnable(GL_BLEND);
    StartFrameTimer();
    shell.frameDelta = TickFrameTimer();
}

int RunDemo() {
    if (!OpenGlWindow(kTitle, kWidth, kHeight, kBits, shell.fullScreen)) return kExitNoWindow;
    PrepareShow();
    shell.music = StartMusic(); // the show starts whether or not the music could be started

    // The exit code is the one WM_QUIT carries; an end by Escape or by the show itself is a
    // normal end (0), not the code of whatever message happened to be taken last.
    int exitCode = 0;
    bool done = false;
    platform::WindowMessage msg{};
    for (;;) {
        if (platform::PeekWindowMessage(&msg)) {
            if (msg.message == platform::MsgQuit) {
                exitCode = static_cast<int>(msg.wParam);
                break;
            }
            platform::DispatchWindowMessage(msg);
            continue; // no frame while messages are waiting
        }
        // Escape is looked at on every idle pass, also while the window is not active; while
        // it is not, nothing is drawn but the buffers are still swapped.
        if ((shell.windowActive && !DrawShowFrame()) || shell.keyDown[platform::KeyEscape]) {
            done = true;
        } else {
            platform::SwapGlBuffers();
        }
        // F1 is served also on the pass that ends the program.
        if (shell.keyDown[platform::KeyF1]) {
            shell.keyDown[platform::KeyF1] = false;
            CloseGlWindow();
            shell.fullScreen = !shell.fullScreen;
            if (!OpenGlWindow(kTitle, kWidth, kHeight, kBits, shell.fullScreen))
                return kExitNoWindow;
        }
        if (done) break;
    }
    CloseGlWindow();
    return exitCode;
}
