// window_proc.cpp: the procedure of the program's window class: activation, keys, close and
// size changes into the shell's flags and the viewport. Main thread.
#include "shell/window_proc.h"

#include "platform/platform.h"
#include "shell/gl_window.h"
#include "shell/shell_state.h"

intptr_t MainWindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    switch (message) {
    case platform::MsgActivate:
        // Active whenever the window is not minimised, whether it gains or loses the focus.
        shell.windowActive = ((wParam >> 16) & 0xFFFF) == 0;
        return 0;
    case platform::MsgSysCommand:
        // Keep the screen saver and monitor power-saving from starting while the show runs.
        if (wParam == platform::SysCommandScreenSave || wParam == platform::SysCommandMonitorPower)
            return 0;
        break;
    case platform::MsgClose: platform::PostQuit(0); return 0;
    case platform::MsgKeyDown:
        // Key codes outside the table are ignored rather than written past its end.
        if (wParam < sizeof shell.keyDown) shell.keyDown[wParam] = true;
        return 0;
    case platform::MsgKeyUp:
        if (wParam < sizeof shell.keyDown) shell.keyDown[wParam] = false;
        return 0;
    case platform::MsgSize: {
        // A size change that arrives while no context is current (during creation) leaves
        // OpenGL alone; OpenGlWindow sets the viewport once the context is current.
        if (!GlContextReady()) return 0;
        auto bits = static_cast<uintptr_t>(lParam);
        ResizeGlViewport(static_cast<int>(bits & 0xFFFF), static_cast<int>((bits >> 16) & 0xFFFF));
        return 0;
    }
    default: break;
    }
    return platform::DefaultWindowProc(message, wParam, lParam);
}
