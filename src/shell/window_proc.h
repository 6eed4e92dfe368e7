// window_proc.h: the procedure of the program's window class. Main thread.
#pragma once

#include <cstdint>

// Handles activation, screen-saver commands, close, keys and size changes; every handled
// message returns 0, the rest goes to the platform's default processing.
intptr_t MainWindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam);
