// shell_state.h: the shell's program-wide flags, shared by the entry routine, the window
// procedure, the OpenGL window and the show timeline. Main thread only.
#pragma once

struct ShellState {
    bool windowActive = true; // false while the window is minimised
    bool fullScreen = true;   // the current (or next) window mode
    bool keyDown[256] = {};   // by Windows virtual-key code
};
extern ShellState shell;

// Milliseconds between the last two ticks of the frame timer; written by the entry routine at
// start-up and by the show timeline every frame.
extern float frameDelta;
