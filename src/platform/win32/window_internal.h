// window_internal.h: what the Windows backend's files share about the one window. Main thread.
#pragma once

#include <windows.h>

namespace platform::win32 {

// The window's device context while an OpenGL context is set up on it, else null.
HDC WindowDeviceContext();
// Hands the caption font selected into that device context to the window, which deletes it
// (and any font handed over before) once the window is gone.
void KeepWindowFont(HFONT font);

} // namespace platform::win32
