// terminal.h: the player's terminal: whether there is one, raw keys, a hidden cursor on a screen
// of its own, its size, and putting everything back on every way out (a normal end, Ctrl-C, a
// kill). Main thread; the stop handlers run wherever the system delivers them.
#pragma once

#include <string>

namespace term {

// Channel1..Channel10 follow each other: the digit keys 1-9 and 0.
enum class Key {
    None,
    Pause,
    Left,
    Right,
    Up,
    Down,
    Next,
    Previous,
    Louder,
    Softer,
    Loop,
    Interpolation,
    View,
    Quit,
    Channel1,
    Channel10 = Channel1 + 9,
};

// The channel (from 0) a digit key mutes, or -1 for any other key.
inline int ChannelOfKey(Key key) {
    const int index = static_cast<int>(key) - static_cast<int>(Key::Channel1);
    return index >= 0 && index < 10 ? index : -1;
}

// The key a typed character stands for (space, n/p, +/-, l, i, v, the digits, q; either case);
// Key::None for the rest. Both terminals read characters through this; arrows and Escape they
// decode themselves.
inline Key KeyOfCharacter(unsigned int c) {
    if (c >= '1' && c <= '9') return static_cast<Key>(static_cast<int>(Key::Channel1) + (c - '1'));
    switch (c) {
    case '0': return Key::Channel10;
    case 'i':
    case 'I': return Key::Interpolation;
    case 'v':
    case 'V': return Key::View;
    case ' ': return Key::Pause;
    case 'n':
    case 'N': return Key::Next;
    case 'p':
    case 'P': return Key::Previous;
    case '+':
    case '=': return Key::Louder;
    case '-':
    case '_': return Key::Softer;
    case 'l':
    case 'L': return Key::Loop;
    case 'q':
    case 'Q': return Key::Quit;
    default: return Key::None;
    }
}

// Whether standard output / standard input are terminals.
bool OutputIsTerminal();
bool InputIsTerminal();

// Catches Ctrl-C and kill (and, on Windows, the console closing) from now on: each sets the stop
// request that StopRequested reports, after putting the terminal back when Enter was called.
void InstallStopHandlers();
// The signal that asked the program to stop (0: none).
int StopRequested();

// Raw keys without echo (when standard input is a terminal), the cursor hidden, a screen of
// the program's own. False when the terminal refuses.
bool Enter();
// Puts the terminal back as Enter found it. Harmless when not entered, and when called twice.
void Leave();

// Waits up to `waitMs` for keys and returns the keys read, at most `max`.
int ReadKeys(Key* keys, int max, int waitMs);

// Columns and rows; 80 x 24 when the terminal does not say.
void Size(int* columns, int* rows);

// Writes the text whole to standard output.
void Write(const std::string& text);

// Sends standard error to nowhere until Unmute, for the sound system's own complaints while the
// device opens (on a machine without a sound card, a page of them before the program's own
// message). Mute returns what Unmute needs; both do nothing where there is nothing to mute.
int MuteErrors();
void UnmuteErrors(int muted);

} // namespace term
