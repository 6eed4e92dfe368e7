// main_loop.h: the program's entry routine and the show preparation it shares with the
// frame-capture tool. Main thread.
#pragma once

// Static show data, the start-up blend state and the frame timer's first tick (which sets
// frameDelta). Call with the window's OpenGL context current.
void PrepareShow();
// Opens the window, prepares the show, starts the music and runs the message loop until
// Escape, the end of the show or the window's closing. Returns the process exit code: 0 on a
// normal end, 1 when the window could not be opened.
int RunDemo();
