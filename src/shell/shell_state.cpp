// shell_state.cpp: the shell's program-wide flags and the frame delta. Main thread only.
#include "shell/shell_state.h"

ShellState shell;
float frameDelta = 0.0f;
