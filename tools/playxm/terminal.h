// terminal.h: the player's terminal: whether there is one, raw keys, a hidden cursor on a screen
// of its own, its size, and putting everything back on every way out (a normal end, Ctrl-C, a
// kill). Main thread; the stop handlers run wherever the system delivers them.
#pragma once

#include <string>

namespace term {

enum class Key { None, Pause, Left, Right, Next, Previous, Louder, Softer, Loop, Quit };

// The key a typed character stands for (space, n/p, +/-, l, q; either case); Key::None for the
// rest. Both terminals read characters through this; arrows and Escape they decode themselves.
inline Key KeyOfCharacter(unsigned int c) {
    switch (c) {
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
