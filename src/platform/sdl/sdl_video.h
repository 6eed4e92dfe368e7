// sdl_video.h: the SDL backend's video start-up, shared by its window and message-box files.
// Main thread.
#pragma once

namespace platform::sdl {

// Starts SDL's video once. False when there is no display to open windows on; the reason has
// then been printed on standard error (once).
bool EnsureVideo();

// Installs the backend's own SIGINT/SIGTERM handling (once): outside a message box the signal
// becomes a close message; during one, which blocks the main thread, the process ends at once
// (with the box, which SDL may show from a child process).
void InstallTerminationHandlers();
// Set while a message box is up.
void SetMessageBoxOpen(bool open);

} // namespace platform::sdl
