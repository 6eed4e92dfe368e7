// screen.h: the player's screen as text: song facts, progress, position, tempo and one level
// meter per channel, drawn as whole frames that overwrite the last one in place. Main thread.
#pragma once

#include <string>

#include "ring_output.h"

struct ScreenState {
    int songIndex = 0; // from 0
    int songCount = 1;
    std::string fileName;
    std::string title;
    std::string tracker;
    int channels = 0;
    int orders = 0;
    double lengthSeconds = -1; // -1: unknown
    const char* rules = "standard";
    HeardState heard;
    bool paused = false;
    bool looping = false;
    int volume = 100;
    std::string message; // the last problem, or empty
};

// One frame for a terminal of `columns` x `rows`: cursor home, every line cleared to its end,
// the rest of the screen cleared below. Lines are cut to the width.
std::string DrawScreen(const ScreenState& state, int columns, int rows);

// "m:ss" (or "h:mm:ss"); "--:--" for a negative time.
std::string FormatTime(double seconds);
