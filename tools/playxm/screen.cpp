// screen.cpp: the player's screen as one string per frame. Every line ends by clearing the rest
// of its row and the frame ends by clearing below it, so a frame overwrites the last one without
// the whole screen ever going blank (no flicker). Main thread.
#include "screen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

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

class Frame {
  public:
    explicit Frame(int columns, int rows) : columns_(columns), rows_(rows) { text_ = "\x1b[H"; }
    void Line(std::string line) {
        if (lines_ >= rows_) return;
        if (static_cast<int>(line.size()) > columns_) line.resize(static_cast<size_t>(columns_));
        // The last row gets no line feed: it would scroll the screen.
        text_ += line + "\x1b[K" + (lines_ + 1 < rows_ ? "\r\n" : "");
        ++lines_;
    }
    int Left() const { return rows_ - lines_; }
    std::string Finish() { return text_ + "\x1b[J"; }

  private:
    int columns_, rows_;
    int lines_ = 0;
    std::string text_;
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

std::string DrawScreen(const ScreenState& s, int columns, int rows) {
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
