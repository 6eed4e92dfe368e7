// terminal_posix.cpp: the player's terminal on POSIX systems: termios raw mode, key sequences
// read with poll, and signal handlers that restore the terminal with async-signal-safe calls
// only. Main thread; the handlers run on whichever thread takes the signal.
#ifndef _WIN32
#include "terminal.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace term {
namespace {

// The terminal as Enter found it; read by the signal handlers, so plain data set before they
// can see `entered`.
struct termios saved;
volatile sig_atomic_t entered = 0;
volatile sig_atomic_t rawInput = 0;
volatile sig_atomic_t stopSignal = 0;

// Cursor shown, the user's screen back, attributes reset.
const char LEAVE_SEQUENCE[] = "\x1b[0m\x1b[?25h\x1b[?1049l";
// The program's own screen, cleared, cursor hidden.
const char ENTER_SEQUENCE[] = "\x1b[?1049h\x1b[2J\x1b[H\x1b[?25l";

void WriteAll(const char* text, size_t size) {
    while (size > 0) {
        const ssize_t n = write(STDOUT_FILENO, text, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        size -= static_cast<size_t>(n);
    }
}

// Async-signal-safe: tcsetattr and write only.
void RestoreFromHandler() {
    if (!entered) return;
    if (rawInput) tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    WriteAll(LEAVE_SEQUENCE, sizeof LEAVE_SEQUENCE - 1);
}

void OnStop(int signal) {
    const int saveErrno = errno;
    RestoreFromHandler();
    entered = 0;
    // A second request while the first is being served ends the program at once.
    if (stopSignal) _exit(128 + signal);
    stopSignal = signal;
    errno = saveErrno;
}

bool MakeRaw() {
    struct termios raw = saved;
    // Keys arrive one by one without echo; Ctrl-C still raises SIGINT (ISIG stays on).
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw.c_iflag &= ~static_cast<tcflag_t>(IXON | ICRNL);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    return tcsetattr(STDIN_FILENO, TCSAFLUSH, &raw) == 0;
}

// Ctrl-Z: the shell gets its terminal back while the player is stopped; on continuing, the
// player takes it again and redraws (the caller redraws whole frames anyway).
void OnSuspend(int) {
    const int saveErrno = errno;
    const bool wasEntered = entered;
    RestoreFromHandler();
    signal(SIGTSTP, SIG_DFL);
    raise(SIGTSTP);
    // Execution continues here after SIGCONT.
    signal(SIGTSTP, OnSuspend);
    if (wasEntered) {
        if (rawInput) MakeRaw();
        WriteAll(ENTER_SEQUENCE, sizeof ENTER_SEQUENCE - 1);
    }
    errno = saveErrno;
}

} // namespace

bool OutputIsTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

bool InputIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}

void InstallStopHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStop;
    sigemptyset(&action.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(sig, &action, nullptr);
}

int StopRequested() {
    return stopSignal;
}

bool Enter() {
    if (entered) return true;
    rawInput = 0;
    if (InputIsTerminal()) {
        if (tcgetattr(STDIN_FILENO, &saved) != 0 || !MakeRaw()) return false;
        rawInput = 1;
    }
    entered = 1;
    struct sigaction action {};
    action.sa_handler = OnSuspend;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTSTP, &action, nullptr);
    WriteAll(ENTER_SEQUENCE, sizeof ENTER_SEQUENCE - 1);
    return true;
}

void Leave() {
    if (!entered) return;
    signal(SIGTSTP, SIG_DFL);
    RestoreFromHandler();
    entered = 0;
}

int ReadKeys(Key* keys, int max, int waitMs) {
    if (!rawInput || max <= 0) {
        if (waitMs > 0) poll(nullptr, 0, waitMs);
        return 0;
    }
    struct pollfd input {
        STDIN_FILENO, POLLIN, 0
    };
    if (poll(&input, 1, waitMs) <= 0) return 0;
    unsigned char bytes[64];
    const ssize_t size = read(STDIN_FILENO, bytes, sizeof bytes);
    int count = 0;
    for (ssize_t i = 0; i < size && count < max; ++i) {
        Key key = KeyOfCharacter(bytes[i]);
        switch (bytes[i]) {
        case 0x1b:
            // An arrow arrives as one read: ESC [ C, or ESC O C in application mode. An escape
            // with nothing behind it is the Escape key itself.
            if (i + 2 < size && (bytes[i + 1] == '[' || bytes[i + 1] == 'O')) {
                const unsigned char final = bytes[i + 2];
                if (final == 'A') key = Key::Up;
                if (final == 'B') key = Key::Down;
                if (final == 'C') key = Key::Right;
                if (final == 'D') key = Key::Left;
                i += 2;
                // Longer sequences (function keys, modifiers) run to a letter or '~'.
                while (i < size && !((bytes[i] >= 'A' && bytes[i] <= 'Z') ||
                                     (bytes[i] >= 'a' && bytes[i] <= 'z') || bytes[i] == '~'))
                    ++i;
            } else if (i + 1 == size) {
                key = Key::Quit;
            }
            break;
        default: break;
        }
        if (key != Key::None) keys[count++] = key;
    }
    return count;
}

void Size(int* columns, int* rows) {
    struct winsize size {};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
        *columns = size.ws_col;
        *rows = size.ws_row;
    } else {
        *columns = 80;
        *rows = 24;
    }
}

void Write(const std::string& text) {
    WriteAll(text.data(), text.size());
}

int MuteErrors() {
    fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    const int nowhere = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved < 0 || nowhere < 0 || dup2(nowhere, STDERR_FILENO) < 0) {
        if (saved >= 0) close(saved);
        if (nowhere >= 0) close(nowhere);
        return -1;
    }
    close(nowhere);
    return saved;
}

void UnmuteErrors(int muted) {
    if (muted < 0) return;
    fflush(stderr);
    dup2(muted, STDERR_FILENO);
    close(muted);
}

} // namespace term
#endif
