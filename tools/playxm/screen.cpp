// screen.cpp: the player's screen as lines per frame, and the painter that writes a frame over
// the last one by rewriting only the lines that changed, each cleared to its end, so that the
// screen never goes blank (no flicker). Main thread.
#include "screen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace {

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
        if (static_cast<int>(line.size()) > columns_) line.resize(static_cast<size_t>(columns_));
        lines_.push_back(std::move(line));
    }
    int Left() const { return rows_ - static_cast<int>(lines_.size()); }
    std::vector<std::string> Finish() { return std::move(lines_); }

  private:
    int columns_, rows_;
    std::vector<std::string> lines_;
};

} // namespace

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
    frame.Line("");

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
            std::string cell = line + Bar(level / 127.0, meterWidth) + "  ";
            text += cell;
        }
        frame.Line(text);
    }
    frame.Line("");
    frame.Line("space pause  left/right order  n/p song  +/- volume  l loop  q quit");
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
