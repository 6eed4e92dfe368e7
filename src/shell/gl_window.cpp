// gl_window.cpp: opens and closes the program's window with its OpenGL context, and sets the
// viewport, projection and fixed OpenGL state. Main thread.
#include "shell/gl_window.h"

#include "platform/gl.h"
#include "platform/platform.h"
#include "shell/captions.h"
#include "shell/shell_state.h"
#include "shell/window_proc.h"

namespace {

using platform::MessageButtons;
using platform::MessageIcon;

void ShutdownError(const char* text) {
    platform::ShowMessageBox(text, "SHUTDOWN ERROR", MessageButtons::Ok, MessageIcon::Information);
}

} // namespace

bool GlContextReady() {
    return shell.window.contextCurrent;
}

bool OpenGlWindow(const char* title, int width, int height, int bits, bool fullScreen) {
    shell.fullScreen = fullScreen;

    // Without a display the backend has already said so, with what to do about it; the
    // window-class box would only add a second, misleading reason.
    if (!platform::DisplayAvailable()) return false;
    if (!platform::RegisterWindowClass(MainWindowProc)) {
        platform::ShowMessageBox("Failed To Register The Window Class.", "ERROR",
                                 MessageButtons::Ok, MessageIcon::Exclamation);
        return false;
    }
    shell.window.classRegistered = true;

    if (shell.fullScreen && !platform::ChangeDisplayMode(width, height, bits)) {
        int answer = platform::ShowMessageBox(
            "The Requested Fullscreen Mode Is Not Supported By\nYour Video Card. Use Windowed "
            "Mode Instead?",
            "Pelo GL", MessageButtons::YesNo, MessageIcon::Exclamation);
        if (answer == platform::AnswerYes) {
            shell.fullScreen = false;
        } else {
            platform::ShowMessageBox("Program Will Now Close.", "ERROR", MessageButtons::Ok,
                                     MessageIcon::Stop);
            return false; // the class stays registered
        }
    }

    if (shell.fullScreen) platform::ShowMouseCursor(false);

    // The platform places the window at the screen origin and sizes its frame so that the
    // client area, not the outer frame, is width x height.
    if (!platform::CreateMainWindow(title, width, height, shell.fullScreen, bits, 16)) {
        CloseGlWindow();
        platform::ShowMessageBox("Window Creation Error.", "ERROR", MessageButtons::Ok,
                                 MessageIcon::Exclamation);
        return false;
    }
    shell.window.windowHeld = true;

    // Context set-up failures show no message.
    if (!platform::CreateGlContext()) {
        CloseGlWindow();
        return false;
    }
    shell.window.contextHeld = true;
    if (!platform::MakeGlContextCurrent(true)) {
        CloseGlWindow();
        return false;
    }
    shell.window.contextCurrent = true;

    platform::ShowMainWindow();
    ResizeGlViewport(width, height);
    if (!InitGlState()) {
        CloseGlWindow();
        return false;
    }
    return true;
}

void CloseGlWindow() {
    if (shell.fullScreen) {
        platform::RestoreDisplayMode();
        platform::ShowMouseCursor(true);
    }
    if (shell.window.contextHeld) {
        if (!platform::MakeGlContextCurrent(false)) ShutdownError("Release Of DC And RC Failed.");
        shell.window.contextCurrent = false;
        if (!platform::DeleteGlContext()) ShutdownError("Release Rendering Context Failed.");
        shell.window.contextHeld = false;
    }
    // The platform's window owns its drawing surface, so releasing the window releases both.
    if (shell.window.windowHeld) {
        if (!platform::DestroyMainWindow()) ShutdownError("Could Not Release hWnd.");
        shell.window.windowHeld = false;
    }
    // Only a class this program registered is unregistered: closing twice, or closing after
    // a failed registration, is not an error worth a box.
    if (shell.window.classRegistered) {
        if (!platform::UnregisterWindowClass()) ShutdownError("Could Not Unregister Class.");
        shell.window.classRegistered = false;
    }
}

void ResizeGlViewport(int width, int height) {
    if (height == 0) height = 1;
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    // The near plane is the single-precision 0.1, as the show's depth range was tuned with it.
    gluPerspective(45.0, static_cast<double>(width) / static_cast<double>(height),
                   static_cast<double>(0.1f), 200.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

bool InitGlState() {
    glShadeModel(GL_SMOOTH);
    glClearColor(0.0f, 0.0f, 0.0f, 0.5f);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    BuildCaptionFont();
    return true;
}
