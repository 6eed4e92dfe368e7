// main.cpp: the demo program. Main thread. It takes no arguments and reads its two data
// files from the working directory.
#include "shell/main_loop.h"

int main(int, char**) {
    return RunDemo();
}
