// The painter that writes playxm's frames: after the first frame only the lines that changed go
// to the terminal, lines the frame no longer has are cleared, and a new terminal size draws the
// whole frame again. The frames and what the terminal is sent, side by side.
#include "screen.h"

#include <gtest/gtest.h>

#include "music/module.h"
#include "xm_writer.h"

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

namespace {

TEST(TerminalLookTest, BlocksOnAUtf8TerminalColourUnlessRefused) {
    struct Case {
        const char *lcAll, *lcCtype, *lang, *term, *noColor;
        bool blocks, colour;
    };
    const Case cases[] = {
        {nullptr, nullptr, "en_GB.UTF-8", "xterm-256color", nullptr, true, true},
        {nullptr, nullptr, "C.utf8", "screen", nullptr, true, true},
        {nullptr, nullptr, "en_GB.UTF-8", "xterm", "1", true, false},
        {nullptr, nullptr, "en_GB.UTF-8", "dumb", nullptr, false, false},
        {nullptr, nullptr, "en_GB.UTF-8", nullptr, nullptr, false, false},
        {nullptr, nullptr, nullptr, "xterm", nullptr, false, false},
        {"C", nullptr, "en_GB.UTF-8", "xterm", nullptr, false, false}, // LC_ALL decides
        {"", "de_DE.UTF-8", "C", "xterm", nullptr, true, true},        // an empty one does not
        {nullptr, nullptr, "en_GB.ISO-8859-1", "xterm", nullptr, false, false},
    };
    for (const Case& c : cases) {
        const TerminalLook look = LookOfEnvironment(c.lcAll, c.lcCtype, c.lang, c.term, c.noColor);
        EXPECT_EQ(look.blocks, c.blocks)
            << (c.lang ? c.lang : "-") << " " << (c.term ? c.term : "-");
        EXPECT_EQ(look.colour, c.colour)
            << (c.lang ? c.lang : "-") << " " << (c.term ? c.term : "-");
    }
}

ScreenState Playing(bool blocks, bool colour) {
    ScreenState state;
    state.title = "meters";
    state.channels = 12;
    for (int c = 0; c < 12; ++c) state.heard.levels[c] = static_cast<uint8_t>(c * 11);
    state.muted = 1u << 3;
    state.blocks = blocks;
    state.colour = colour;
    state.controls = "Interpolation linear";
    return state;
}

TEST(ScreenMeters, BlocksAndColourFitTheWidthAndPlainTextStaysAscii) {
    for (int columns : {40, 81, 132}) {
        for (bool fancy : {false, true}) {
            const std::vector<std::string> lines = DrawScreen(Playing(fancy, fancy), columns, 30);
            bool sawBlock = false, sawColour = false, sawMuted = false;
            for (const std::string& line : lines) {
                EXPECT_LE(VisibleWidth(line), columns) << line;
                sawBlock = sawBlock || line.find("\u2588") != std::string::npos;
                sawColour = sawColour || line.find("\x1b[3") != std::string::npos;
                sawMuted = sawMuted || (line.find(" 4 ") != std::string::npos &&
                                        line.find("muted") != std::string::npos);
                if (!fancy) {
                    for (unsigned char ch : line) EXPECT_LT(ch, 0x80) << line;
                }
                // A line that sets a colour resets it before it ends.
                if (line.find("\x1b[3") != std::string::npos) {
                    EXPECT_NE(line.rfind("\x1b[0m"), std::string::npos) << line;
                }
            }
            EXPECT_EQ(sawBlock, fancy) << columns;
            EXPECT_EQ(sawColour, fancy) << columns;
            EXPECT_TRUE(sawMuted) << columns;
        }
    }
}

TEST(ScreenMeters, ALevelFillsItsShareOfTheMeterInEighths) {
    ScreenState state = Playing(true, false);
    state.channels = 1;
    state.muted = 0;
    state.heard.levels[0] = 127; // full
    std::vector<std::string> lines = DrawScreen(state, 40, 20);
    auto meter = [&](const std::vector<std::string>& all) {
        for (const std::string& line : all)
            if (line.rfind(" 1 ", 0) == 0) return line;
        return std::string();
    };
    // 40 columns: a meter of 34 cells, all full.
    std::string full;
    for (int k = 0; k < 34; ++k) full += "\u2588";
    EXPECT_EQ(meter(lines), " 1 " + full + "  ");
    state.heard.levels[0] = 0;
    lines = DrawScreen(state, 40, 20);
    EXPECT_EQ(meter(lines), " 1 " + std::string(34, ' ') + "  ");
}

TEST(PatternView, RowsAroundThePlayingOneWithEveryCellField) {
    xmw::Song song = xmw::MinimalSong(8);
    song.channels = 2;
    xmw::Pattern pattern = song.MakePattern(8);
    pattern.At(3, 0) = PatternCell{xmw::NoteNumber("F#3"), 1, 0x30, 0x0A, 0x0F};
    pattern.At(4, 1) = PatternCell{255, 0, 0x8A, 0x14, 0x00};
    song.patterns = {pattern};
    const std::vector<uint8_t> bytes = xmw::WriteXm(song);
    Module* module = LoadModuleFromMemory(bytes.data(), bytes.size(), nullptr);
    ASSERT_NE(module, nullptr);
    // Five rows around row 3 in plain text: 1 to 5, the playing one marked.
    const std::vector<std::string> lines = PatternLines(module, 0, 3, 80, 5, false);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "   1 ... .. .. ...|... .. .. ...");
    EXPECT_EQ(lines[2], ">  3 F#3 01 20 A0F|... .. .. ...");
    EXPECT_NE(lines[3].find("=== .. DA K00"), std::string::npos) << lines[3];
    // At the pattern's edge the rows beyond it are empty; narrow, the cells shrink.
    const std::vector<std::string> edge = PatternLines(module, 0, 0, 80, 5, false);
    EXPECT_EQ(edge[0], "");
    EXPECT_EQ(edge[1], "");
    EXPECT_EQ(edge[2].rfind(">  0 ... ..", 0), 0u) << edge[2];
    const std::vector<std::string> narrow = PatternLines(module, 0, 3, 20, 1, false);
    EXPECT_EQ(narrow[0], ">  3 F#3 01 ... ..");
    // In colour, the playing row is shown reversed instead of marked.
    const std::vector<std::string> coloured = PatternLines(module, 0, 3, 80, 1, true);
    EXPECT_EQ(coloured[0].rfind("\x1b[7m   3 ", 0), 0u) << coloured[0];
    EXPECT_TRUE(PatternLines(module, 5, 0, 80, 3, false)[1].empty()) << "no such pattern";
    FreeModule(module);
}

} // namespace
