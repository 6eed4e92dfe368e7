// x_display.h: for the tests that draw on X: whether the server that DISPLAY names answers.
// A server that is starting up refuses clients for a moment, and one that has gone never
// answers again; a test waits for an answer before its first window (the window code gives up
// on a display for the rest of the process after one refusal), and when it cannot open a
// window, says which of the two it met.
#pragma once

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

enum class XDisplayState { Unset, Answers, Gone };

// Asks the server with xdpyinfo (x11-utils) until it answers, for up to `seconds`. Unset when
// DISPLAY is unset or empty; Answers too when xdpyinfo is missing (nothing to ask with).
inline XDisplayState WaitForXDisplay(int seconds = 30) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) return XDisplayState::Unset;
    if (std::system("command -v xdpyinfo >/dev/null 2>&1") != 0) return XDisplayState::Answers;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    do {
        if (std::system("xdpyinfo >/dev/null 2>&1") == 0) return XDisplayState::Answers;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } while (std::chrono::steady_clock::now() < end);
    return XDisplayState::Gone;
}

// What a test says when its window could not be opened on a display that was set.
inline std::string XDisplayFailure(const std::string& what) {
    const char* display = std::getenv("DISPLAY");
    const std::string name = display ? display : "";
    if (WaitForXDisplay(5) == XDisplayState::Gone)
        return what + " failed: the X server on DISPLAY " + name + " is gone (no answer for 5 s)";
    return what + " failed although the X server on DISPLAY " + name + " answers";
}
