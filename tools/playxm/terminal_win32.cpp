// terminal_win32.cpp: the player's terminal on Windows: the console's own modes (virtual-terminal
// output for the same sequences as elsewhere, key events without line input), and a console
// control handler for Ctrl-C, Ctrl-Break and the console closing. Main thread; the control
// handler runs on a thread the system starts.
#ifdef _WIN32
#include "terminal.h"

#include <atomic>
#include <cstdio>
#include <io.h>
#include <windows.h>

namespace term {
namespace {

HANDLE input = INVALID_HANDLE_VALUE;
HANDLE output = INVALID_HANDLE_VALUE;
DWORD savedInputMode = 0;
DWORD savedOutputMode = 0;
std::atomic<bool> entered{false};
std::atomic<bool> rawInput{false};
std::atomic<int> stopSignal{0};

const char LEAVE_SEQUENCE[] = "\x1b[0m\x1b[?25h\x1b[?1049l";
const char ENTER_SEQUENCE[] = "\x1b[?1049h\x1b[2J\x1b[H\x1b[?25l";

void WriteAll(const char* text, size_t size) {
    DWORD written = 0;
    while (size > 0 && WriteFile(output, text, static_cast<DWORD>(size), &written, nullptr) &&
           written > 0) {
        text += written;
        size -= written;
    }
}

void Restore() {
    if (!entered.exchange(false)) return;
    WriteAll(LEAVE_SEQUENCE, sizeof LEAVE_SEQUENCE - 1);
    if (rawInput) SetConsoleMode(input, savedInputMode);
    SetConsoleMode(output, savedOutputMode);
}

BOOL WINAPI OnControl(DWORD event) {
    // Ctrl-C and Ctrl-Break are 0 and 1; the closing events give the program a few seconds.
    Restore();
    stopSignal.store(event == CTRL_C_EVENT ? 2 : 15);
    return TRUE;
}

} // namespace

bool OutputIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool InputIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

void InstallStopHandlers() {
    SetConsoleCtrlHandler(OnControl, TRUE);
}

int StopRequested() {
    return stopSignal.load();
}

bool Enter() {
    if (entered) return true;
    output = GetStdHandle(STD_OUTPUT_HANDLE);
    input = GetStdHandle(STD_INPUT_HANDLE);
    if (!GetConsoleMode(output, &savedOutputMode)) return false;
    if (!SetConsoleMode(output, savedOutputMode | ENABLE_PROCESSED_OUTPUT |
                                    ENABLE_VIRTUAL_TERMINAL_PROCESSING))
        return false;
    rawInput = false;
    if (GetConsoleMode(input, &savedInputMode)) {
        // Key events only: no line editing, no echo; Ctrl-C still reaches the control handler.
        SetConsoleMode(input, ENABLE_PROCESSED_INPUT);
        rawInput = true;
    }
    entered = true;
    WriteAll(ENTER_SEQUENCE, sizeof ENTER_SEQUENCE - 1);
    return true;
}

void Leave() {
    Restore();
}

int ReadKeys(Key* keys, int max, int waitMs) {
    if (!rawInput || max <= 0) {
        if (waitMs > 0) Sleep(static_cast<DWORD>(waitMs));
        return 0;
    }
    if (WaitForSingleObject(input, static_cast<DWORD>(waitMs)) != WAIT_OBJECT_0) return 0;
    INPUT_RECORD records[32];
    DWORD count = 0;
    if (!ReadConsoleInputW(input, records, 32, &count)) return 0;
    int found = 0;
    for (DWORD i = 0; i < count && found < max; ++i) {
        if (records[i].EventType != KEY_EVENT || !records[i].Event.KeyEvent.bKeyDown) continue;
        const KEY_EVENT_RECORD& event = records[i].Event.KeyEvent;
        Key key = Key::None;
        switch (event.wVirtualKeyCode) {
        case VK_LEFT: key = Key::Left; break;
        case VK_RIGHT: key = Key::Right; break;
        case VK_UP: key = Key::Up; break;
        case VK_DOWN: key = Key::Down; break;
        case VK_ESCAPE: key = Key::Quit; break;
        case VK_SPACE: key = Key::Pause; break;
        default: key = KeyOfCharacter(event.uChar.UnicodeChar); break;
        }
        if (key != Key::None) keys[found++] = key;
    }
    return found;
}

void Size(int* columns, int* rows) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
        *columns = info.srWindow.Right - info.srWindow.Left + 1;
        *rows = info.srWindow.Bottom - info.srWindow.Top + 1;
    } else {
        *columns = 80;
        *rows = 24;
    }
}

void Write(const std::string& text) {
    if (output == INVALID_HANDLE_VALUE) output = GetStdHandle(STD_OUTPUT_HANDLE);
    WriteAll(text.data(), text.size());
}

// The wave-out device writes nothing to standard error.
int MuteErrors() {
    return -1;
}

void UnmuteErrors(int) {}

} // namespace term
#endif
