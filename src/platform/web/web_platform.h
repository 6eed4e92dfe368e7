// web_platform.h: extras of the browser backend that the seam (platform.h) does not cover: the
// audio device's pass hook (no threads here), the per-frame virtual clock of test runs, and the
// page's status line. Main thread (the browser runs everything there).
#pragma once

#include <cstdint>

namespace platform::web {

// The rate of the page's audio context, made at `wanted` Hz where the browser allows it (it
// may refuse, or run at its device's rate); `wanted` when there is no context to be had. The
// music opens the device at this rate, so that its frames are played at the rate they were
// made for.
int AudioRate(int wanted);

// The audio device calls `pass(context)` after each callback has taken its frames from the ring,
// so that the output re-renders the blocks just played (what the output thread does elsewhere).
// AudioReset and AudioClose forget it; null forgets it too.
void SetAudioPass(void (*pass)(void* context), void* context);

// Stops the sound at once and lets go of the page's audio graph (the show's end, Escape).
void StopAudio();

// Test runs: the clock becomes frame n's time, n * 1000 / fps ms, where n counts the buffer
// swaps; a swap yields to the browser only briefly instead of waiting for the display's next
// frame. fps 0 returns to the real clock.
void UseFrameClock(int fps);

// The page's status line (an overlay over the canvas), in plain text.
void SetPageStatus(const char* text);

} // namespace platform::web
