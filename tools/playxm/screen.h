// screen.h: the player's screen as text: song facts, progress, position, tempo and one level
// meter per channel, drawn as frames that overwrite the last one in place. Main thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "neatxm.h"

struct Module;

// What the block the listener hears holds: where the song stood at its end, and the channels'
// levels.
struct HeardState {
    neatxm_position position{};
    uint8_t levels[32]{}; // per channel, 0-255 (127: a note at full volume)
    bool silent = false;  // paused, or past the song's end
};

struct ScreenState {
    int songIndex = 0; // from 0
    int songCount = 1;
    std::string fileName;
    std::string title;
    std::string tracker;
    int channels = 0;
    int orders = 0;
    double lengthSeconds = -1; // -1: unknown
    const char* rules = "standard";
    HeardState heard;
    bool paused = false;
    bool looping = false;
    int volume = 100;
    std::string message; // the last problem, or empty
    // How the terminal draws: meters of block characters (a UTF-8 terminal), in colour.
    bool blocks = false;
    bool colour = false;
    uint32_t muted = 0;   // bit c: channel c is muted
    std::string controls; // the listener's controls in a line ("linear  gain +0.0 dB ...")
    bool patternView = false;
    const Module* module = nullptr; // the song, for the pattern view
};

// How the terminal can draw: block characters need a UTF-8 locale and a terminal that is not
// "dumb"; colour, in addition, no NO_COLOR in the environment. Plain ASCII otherwise.
struct TerminalLook {
    bool blocks;
    bool colour;
};
TerminalLook LookOfEnvironment(const char* lcAll, const char* lcCtype, const char* lang,
                               const char* term, const char* noColor);

// The columns a line takes on the terminal: escape sequences take none, a UTF-8 character one.
int VisibleWidth(const std::string& line);

// The pattern view's lines: `rows` rows of pattern `pattern` centred on `row` (the one playing,
// marked), one cell per channel as many as `columns` hold; rows outside the pattern are empty.
std::vector<std::string> PatternLines(const Module* module, int pattern, int row, int columns,
                                      int rows, bool colour);

// The lines of one frame for a terminal of `columns` x `rows`, each cut to the width.
std::vector<std::string> DrawScreen(const ScreenState& state, int columns, int rows);

// Turns frames into what the terminal needs to show them: only the lines that changed since the
// last frame are written (each placed by cursor address and cleared to its end), so a frame at 20
// a second costs a few dozen bytes and the screen never goes blank. A change of the terminal's
// size, or Reset, draws the next frame whole.
class ScreenPainter {
  public:
    std::string Paint(const std::vector<std::string>& lines, int columns, int rows);
    void Reset() { shown_.clear(), columns_ = rows_ = 0; }

  private:
    std::vector<std::string> shown_;
    int columns_ = 0, rows_ = 0;
};

// "m:ss" (or "h:mm:ss"); "--:--" for a negative time.
std::string FormatTime(double seconds);
