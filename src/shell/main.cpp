// main.cpp: the demo program. Main thread. It takes no arguments and reads its two data
// files from the working directory, or, when that has none, from its own folder or the
// installed data folder beside it (data_folder.cpp).
#include "shell/data_folder.h"
#include "shell/main_loop.h"

#include <cstdio>
#include <cstdlib>

int main(int, char**) {
    EnterDataFolder();
    int exitCode = RunDemo();
    // The music is never stopped: its output thread ends with the process. Leave without
    // running the destructors of program-wide objects that thread may still be using (a
    // running thread object destroyed at exit would abort the program).
    std::fflush(nullptr);
    std::_Exit(exitCode);
}
