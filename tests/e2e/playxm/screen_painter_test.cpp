// The painter that writes playxm's frames: after the first frame only the lines that changed go
// to the terminal, lines the frame no longer has are cleared, and a new terminal size draws the
// whole frame again. The frames and what the terminal is sent, side by side.
#include "screen.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Step {
    std::vector<std::string> lines;
    int columns, rows;
    std::string sent;
};

TEST(ScreenPainter, WritesOnlyWhatChanged) {
    const Step steps[] = {
        {{"title", "row 1", "meter"},
         80,
         24,
         "\x1b[H\x1b[J\x1b[1;1Htitle\x1b[K\x1b[2;1Hrow 1\x1b[K\x1b[3;1Hmeter\x1b[K"},
        {{"title", "row 1", "meter"}, 80, 24, ""},
        {{"title", "row 2", "meter"}, 80, 24, "\x1b[2;1Hrow 2\x1b[K"},
        {{"title", "row 3", "meter", "message"},
         80,
         24,
         "\x1b[2;1Hrow 3\x1b[K\x1b[4;1Hmessage\x1b[K"},
        {{"title", "row 3"}, 80, 24, "\x1b[3;1H\x1b[J"},
        {{"title", "row 3"}, 100, 30, "\x1b[H\x1b[J\x1b[1;1Htitle\x1b[K\x1b[2;1Hrow 3\x1b[K"},
    };
    ScreenPainter painter;
    for (size_t i = 0; i < std::size(steps); ++i)
        EXPECT_EQ(painter.Paint(steps[i].lines, steps[i].columns, steps[i].rows), steps[i].sent)
            << "frame " << i;
    painter.Reset();
    EXPECT_EQ(painter.Paint({"title"}, 100, 30), "\x1b[H\x1b[J\x1b[1;1Htitle\x1b[K");
}

TEST(ScreenPainter, FramesAreCutToTheScreen) {
    ScreenState state;
    state.title = "a title long enough to be cut at the terminal's edge, and more";
    state.channels = 32;
    const std::vector<std::string> lines = DrawScreen(state, 40, 10);
    ASSERT_LE(lines.size(), 10u);
    EXPECT_EQ(lines.back().rfind("space pause", 0), 0u) << "the keys' line stays on the screen";
    for (const std::string& line : lines) EXPECT_LE(line.size(), 40u) << line;
}

} // namespace
