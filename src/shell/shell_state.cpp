// shell_state.cpp: the shell's one record. Main thread only.
#include "shell/shell_state.h"

ShellState shell;
