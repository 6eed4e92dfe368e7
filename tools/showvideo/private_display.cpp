// private_display.cpp: starts and stops the Xvfb that showvideo draws on when DISPLAY is unset.
// Main thread.
#include "private_display.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "encoder_process.h"

extern char** environ;

namespace {
constexpr int kStartTimeoutMs = 15000;
}

bool StartPrivateDisplay(PrivateDisplay* display, std::string* error) {
    *display = PrivateDisplay{};
    const std::string program = FindProgram("Xvfb");
    if (program.empty()) {
        *error = "no X display (DISPLAY is unset) and Xvfb not found; install it with: apt-get "
                 "install xvfb";
        return false;
    }
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        *error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return false;
    }
    // Xvfb writes the display number it chose to this descriptor once it accepts clients.
    const int childFd = 3;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], childFd);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args = {program,     "-displayfd", std::to_string(childFd),
                                     "-screen",   "0",          "1024x768x24",
                                     "-nolisten", "tcp",        "-noreset"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    if (rc != 0) {
        close(ends[0]);
        *error = "cannot start Xvfb: " + std::string(std::strerror(rc));
        return false;
    }
    display->pid = pid;

    std::string number;
    pollfd wait{ends[0], POLLIN, 0};
    for (;;) {
        const int ready = poll(&wait, 1, kStartTimeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        char c;
        const ssize_t n = read(ends[0], &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || c == '\n') break;
        number += c;
    }
    close(ends[0]);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) {
        StopPrivateDisplay(display);
        *error = "Xvfb did not start";
        return false;
    }
    display->name = ":" + number;
    setenv("DISPLAY", display->name.c_str(), 1);
    return true;
}

void StopPrivateDisplay(PrivateDisplay* display) {
    if (display->pid <= 0) return;
    kill(display->pid, SIGTERM);
    int status;
    while (waitpid(display->pid, &status, 0) < 0 && errno == EINTR) {
    }
    display->pid = -1;
}
