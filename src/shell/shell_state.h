// shell_state.h: the shell's program-wide state in one record: the window procedure's flags,
// the frame timer, what the OpenGL window holds, the caption font and the music's output.
// Exported because the entry routine, the window procedure, the OpenGL window and the show
// timeline (frameDelta) share it. Main thread only.
#pragma once

#include <cstdint>

struct MusicOutput;

struct ShellState {
    // ---- Window procedure: flags read by the entry routine and the OpenGL window ----
    bool windowActive = true; // false while the window is minimised
    bool fullScreen = true;   // the current (or next) window mode
    bool keyDown[256] = {};   // by Windows virtual-key code

    // ---- Frame timer ----
    // Milliseconds between the last two ticks; written by the entry routine at start-up and by
    // the show timeline every frame.
    float frameDelta = 0.0f;
    // The last tick, kept as the clock's exact 32-bit count rather than as a float: a float holds
    // it to the millisecond only below 2^24 ms (4.7 hours) and is off by up to 256 ms near 2^32.
    uint32_t lastTick = 0;

    // ---- OpenGL window: what of it is held, for CloseGlWindow ----
    struct {
        bool classRegistered = false;
        bool windowHeld = false;
        bool contextHeld = false; // created (it may not be current yet)
        bool contextCurrent = false;
    } window;

    // ---- Caption font: the first of the 96 display lists of the current context ----
    unsigned captionListBase = 0;

    // ---- Music: the output StartMusic made; it plays for as long as the program runs and is
    // never stopped (its thread ends with the process) ----
    MusicOutput* music = nullptr;
};
extern ShellState shell;
