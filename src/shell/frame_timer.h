// frame_timer.h: milliseconds between frames, from the platform clock. Main thread.
#pragma once

// Makes now the last tick.
void StartFrameTimer();
// Milliseconds since the last tick; now becomes the last tick.
float TickFrameTimer();
