// screen.cpp: the player's screen as lines per frame, and the painter that writes a frame over
// the last one by rewriting only the lines that changed, each cleared to its end, so that the
// screen never goes blank (no flicker). Main thread.
#include "screen.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "music/module.h"

namespace {

const char RESET[] = "\x1b[0m";

// Cuts a line to `columns` visible columns, keeping escape sequences whole and characters
// unbroken; a cut line that used colour ends with a reset.
std::string Fit(const std::string& line, int columns) {
    std::string out;
    int width = 0;
    bool styled = false;
    for (size_t i = 0; i < line.size();) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        if (c == 0x1b && i + 1 < line.size() && line[i + 1] == '[') {
            size_t end = i + 2;
            while (end < line.size() && !(line[end] >= 0x40 && line[end] <= 0x7e)) ++end;
            out.append(line, i, end + 1 - i);
            styled = true;
            i = end + 1;
            continue;
        }
        size_t length = 1;
        if (c >= 0xf0)
            length = 4;
        else if (c >= 0xe0)
            length = 3;
        else if (c >= 0xc0)
            length = 2;
        if (width + 1 > columns) {
            if (styled) out += RESET;
            return out;
        }
        out.append(line, i, length);
        width += 1;
        i += length;
    }
    return out;
}

// Names come from the file: anything but printable ASCII would move the cursor or change colours.
std::string Printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) out += (c >= 32 && c < 127) ? static_cast<char>(c) : '.';
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::string Bar(double fraction, int width) {
    fraction = std::clamp(fraction, 0.0, 1.0);
    const int filled = static_cast<int>(std::lround(fraction * width));
    return std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(width - filled), '.');
}

// The lines of one frame, each cut to the width, no more than the screen's rows.
class Frame {
  public:
    Frame(int columns, int rows) : columns_(columns), rows_(rows) {}
    void Line(std::string line) {
        if (static_cast<int>(lines_.size()) >= rows_) return;
        if (VisibleWidth(line) > columns_) line = Fit(line, columns_);
        lines_.push_back(std::move(line));
    }
    int Left() const { return rows_ - static_cast<int>(lines_.size()); }
    std::vector<std::string> Finish() { return std::move(lines_); }

  private:
    int columns_, rows_;
    std::vector<std::string> lines_;
};

// A meter of `width` cells in eighths of a cell; in colour, green, then yellow from 60 % and
// red from 85 % of its length.
std::string BlockBar(double fraction, int width, bool colour) {
    static const char* const EIGHTHS[] = {"",       "\u258f", "\u258e", "\u258d",
                                          "\u258c", "\u258b", "\u258a", "\u2589"};
    fraction = std::clamp(fraction, 0.0, 1.0);
    const int eighths = static_cast<int>(std::lround(fraction * width * 8));
    std::string out;
    int zone = -1;
    for (int cell = 0; cell < width; ++cell) {
        const int filled = std::clamp(eighths - 8 * cell, 0, 8);
        const int want = filled == 0               ? -1
                         : cell * 100 < width * 60 ? 0
                         : cell * 100 < width * 85 ? 1
                                                   : 2;
        if (colour && want != zone && want >= 0) {
            static const char* const COLOURS[] = {"\x1b[32m", "\x1b[33m", "\x1b[31m"};
            out += COLOURS[want];
            zone = want;
        }
        out += filled == 8 ? "\u2588" : filled > 0 ? EIGHTHS[filled] : " ";
    }
    if (colour && zone >= 0) out += RESET;
    return out;
}

std::string NoteName(uint8_t note) {
    static const char* const NAMES[] = {"C-", "C#", "D-", "D#", "E-", "F-",
                                        "F#", "G-", "G#", "A-", "A#", "B-"};
    if (note == 97 || note == 255) return "===";
    if (note < 1 || note > 96) return "...";
    return std::string(NAMES[(note - 1) % 12]) + std::to_string((note - 1) / 12);
}

// A cell as trackers show it: note, instrument, volume column and effect; `compact` drops the
// last two.
std::string CellText(const PatternCell& cell, bool compact) {
    char instrument[4] = "..";
    if (cell.instrument) snprintf(instrument, sizeof instrument, "%02X", cell.instrument & 0xff);
    std::string out = NoteName(cell.note) + " " + instrument;
    if (compact) return out;
    char volume[4] = "..";
    const uint8_t v = cell.volumeColumn;
    if (v >= 0x10 && v <= 0x50) {
        snprintf(volume, sizeof volume, "%02X", v - 0x10);
    } else if (v >= 0x60) {
        static const char KINDS[] = "-+DUSVPLRM";
        snprintf(volume, sizeof volume, "%c%X", KINDS[(v >> 4) - 6], v & 0x0f);
    }
    char effect[8] = "...";
    if (cell.effect || cell.effectParameter) {
        const int e = cell.effect;
        const char letter = e < 10   ? static_cast<char>('0' + e)
                            : e < 36 ? static_cast<char>('A' + e - 10)
                                     : '?';
        snprintf(effect, sizeof effect, "%c%02X", letter, cell.effectParameter & 0xff);
    }
    return out + " " + volume + " " + effect;
}

} // namespace

TerminalLook LookOfEnvironment(const char* lcAll, const char* lcCtype, const char* lang,
                               const char* term, const char* noColor) {
    // The first of the three that is set names the locale, as the C library takes them.
    const char* locale = lcAll && *lcAll ? lcAll : lcCtype && *lcCtype ? lcCtype : lang;
    std::string name = locale ? locale : "";
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool utf8 =
        name.find("utf-8") != std::string::npos || name.find("utf8") != std::string::npos;
    const bool capable = term && *term && std::strcmp(term, "dumb") != 0;
    TerminalLook look{};
    look.blocks = utf8 && capable;
    look.colour = look.blocks && !(noColor && *noColor);
    return look;
}

int VisibleWidth(const std::string& line) {
    int width = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        if (c == 0x1b && i + 1 < line.size() && line[i + 1] == '[') {
            i += 2;
            while (i < line.size() && !(line[i] >= 0x40 && line[i] <= 0x7e)) ++i;
            continue;
        }
        if ((c & 0xc0) != 0x80) ++width;
    }
    return width;
}

std::vector<std::string> PatternLines(const Module* module, int pattern, int row, int columns,
                                      int rows, bool colour) {
    std::vector<std::string> lines;
    if (!module || rows <= 0) return lines;
    const Pattern* shown = pattern >= 0 && pattern < module->patternCount && module->patterns
                               ? &module->patterns[pattern]
                               : nullptr;
    const int channels = module->channelCount;
    // Whole cells when every channel fits, else notes and instruments for as many as fit.
    const int full = 14, compact = 7;
    const int room = std::max(0, columns - 5);
    const bool small = channels * full > room;
    const int width = small ? compact : full;
    const int shownChannels = std::min(channels, std::max(1, room / width));
    const int first = row - (rows - 1) / 2;
    for (int r = first; r < first + rows; ++r) {
        if (!shown || r < 0 || r >= shown->rowCount || !shown->cells) {
            lines.emplace_back();
            continue;
        }
        const bool playing = r == row;
        char number[16];
        snprintf(number, sizeof number, "%c%3d ", playing && !colour ? '>' : ' ', r);
        std::string line = number;
        if (playing && colour) line = "\x1b[7m" + line;
        for (int c = 0; c < shownChannels; ++c) {
            line += CellText(shown->cells[static_cast<size_t>(r) * channels + c], small);
            line += c + 1 < shownChannels ? (small ? " " : "|") : "";
        }
        if (playing && colour) line += RESET;
        lines.push_back(line);
    }
    return lines;
}

std::string FormatTime(double seconds) {
    if (seconds < 0) return "--:--";
    const long total = static_cast<long>(seconds);
    char text[32];
    if (total >= 3600)
        snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    else
        snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    return text;
}

namespace {
const char KEYS[] = "space pause  left/right -/+10 s  up/down order  n/p song  +/- volume  "
                    "l loop  i interpolation  1-9,0 mute  v pattern  q quit";
} // namespace

std::vector<std::string> DrawScreen(const ScreenState& s, int columns, int rows) {
    columns = std::max(columns, 20);
    rows = std::max(rows, 4);
    Frame frame(columns, rows);
    const neatxm_position& p = s.heard.position;
    char line[512];

    snprintf(line, sizeof line, "playxm   song %d/%d   %s", s.songIndex + 1, s.songCount,
             Printable(s.fileName).c_str());
    frame.Line(line);
    frame.Line("Title    " + Printable(s.title));
    snprintf(line, sizeof line, "Tracker  %-22s  %d channels   %d orders   %s rules",
             Printable(s.tracker).c_str(), s.channels, s.orders, s.rules);
    frame.Line(line);

    const std::string times = FormatTime(p.seconds) + " / " + FormatTime(s.lengthSeconds);
    const int barWidth = std::max(4, columns - static_cast<int>(times.size()) - 4);
    const double fraction = s.lengthSeconds > 0 ? p.seconds / s.lengthSeconds
                            : s.orders > 0      ? static_cast<double>(p.order) / s.orders
                                                : 0.0;
    std::string progress = "[";
    progress += Bar(fraction, barWidth);
    progress += "]  ";
    progress += times;
    frame.Line(progress);

    snprintf(line, sizeof line,
             "Order %3d/%-3d  Pattern %3d  Row %3d   Speed %2d  Tempo %3d   Volume %3d%%  "
             "Loop %s%s",
             p.order, s.orders, p.pattern, p.row, p.speed, p.bpm, s.volume,
             s.looping ? "on " : "off", s.paused ? "   PAUSED" : "");
    frame.Line(line);
    frame.Line(s.controls);

    if (s.patternView) {
        for (const std::string& text : PatternLines(s.module, p.pattern, p.row, columns,
                                                    std::max(0, frame.Left() - 3), s.colour))
            frame.Line(text);
        frame.Line("");
        frame.Line(KEYS);
        if (!s.message.empty()) frame.Line(Printable(s.message));
        return frame.Finish();
    }

    // One meter per channel; two columns when one would not fit above the key line.
    const int meterRows = std::max(0, frame.Left() - 3);
    const int columnsOfMeters = s.channels > meterRows && meterRows > 0 ? 2 : 1;
    const int perColumn = (s.channels + columnsOfMeters - 1) / columnsOfMeters;
    const int cellWidth = columns / columnsOfMeters;
    const int meterWidth = std::max(4, cellWidth - 6);
    for (int r = 0; r < perColumn && r < meterRows; ++r) {
        std::string text;
        for (int c = 0; c < columnsOfMeters; ++c) {
            const int channel = c * perColumn + r;
            if (channel >= s.channels) break;
            const int level = channel < 32 ? s.heard.levels[channel] : 0;
            snprintf(line, sizeof line, "%2d ", channel + 1);
            std::string cell = line;
            if (channel < 32 && (s.muted >> channel & 1)) {
                std::string muted = "muted";
                muted.resize(static_cast<size_t>(meterWidth), ' ');
                cell += s.colour ? "\x1b[2m" + muted + RESET : muted;
            } else {
                cell += s.blocks ? BlockBar(level / 127.0, meterWidth, s.colour)
                                 : Bar(level / 127.0, meterWidth);
            }
            text += cell + "  ";
        }
        frame.Line(text);
    }
    frame.Line("");
    frame.Line(KEYS);
    if (!s.message.empty()) frame.Line(Printable(s.message));
    return frame.Finish();
}

std::string ScreenPainter::Paint(const std::vector<std::string>& lines, int columns, int rows) {
    std::string out;
    if (columns != columns_ || rows != rows_) {
        // A new size: the terminal may have rewrapped or scrolled what was there.
        out = "\x1b[H\x1b[J";
        shown_.clear();
        columns_ = columns;
        rows_ = rows;
    }
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i < shown_.size() && shown_[i] == lines[i]) continue;
        out += "\x1b[" + std::to_string(i + 1) + ";1H" + lines[i] + "\x1b[K";
    }
    // Lines the last frame had and this one has not.
    if (lines.size() < shown_.size())
        out += "\x1b[" + std::to_string(lines.size() + 1) + ";1H\x1b[J";
    shown_ = lines;
    return out;
}
