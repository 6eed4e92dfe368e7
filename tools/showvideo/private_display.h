// private_display.h: a virtual X display of our own (Xvfb) for machines without one, so the
// show can draw off-screen through the ordinary window path. Main thread.
#pragma once

#include <string>

struct PrivateDisplay {
    int pid = -1;
    std::string name; // ":N"
};

// Starts Xvfb on a free display number (it picks one itself and reports it) and points DISPLAY
// at it. False with a message in *error when Xvfb is missing or does not come up.
bool StartPrivateDisplay(PrivateDisplay* display, std::string* error);
// Ends the Xvfb we started (by its process id) and waits for it.
void StopPrivateDisplay(PrivateDisplay* display);
