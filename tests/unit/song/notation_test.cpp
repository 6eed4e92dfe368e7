// notation_test.cpp: the composer's cell and track notation: what each token becomes in the
// file, what is refused, and the track helpers.
#include <gtest/gtest.h>

#include "notation.h"

using namespace compose;

namespace {

TEST(Notation, NotesCoverTheEightOctavesAndKeyOff) {
    EXPECT_EQ(ParseCell("C-0").note, 1);
    EXPECT_EQ(ParseCell("C#0").note, 2);
    EXPECT_EQ(ParseCell("C-4").note, 49);
    EXPECT_EQ(ParseCell("A#4").note, 59);
    EXPECT_EQ(ParseCell("B-7").note, 96);
    EXPECT_EQ(ParseCell("===").note, KEY_OFF_NOTE);
    for (const char* bad : {"C-8", "H-4", "Db4", "c-4", "C 4"}) {
        EXPECT_THROW(ParseCell(bad), NotationError) << bad;
    }
}

TEST(Notation, VolumeColumnTokensMapToTheirCommandBytes) {
    const struct {
        const char* token;
        uint8_t byte;
    } cases[] = {
        {"v00", 0x10}, {"v40", 0x50}, {"v2C", 0x3C}, {"v-3", 0x63}, {"v+F", 0x7F},
        {"vd2", 0x82}, {"vu1", 0x91}, {"vs4", 0xA4}, {"vv8", 0xB8}, {"vpC", 0xCC},
        {"vl2", 0xD2}, {"vr3", 0xE3}, {"vg5", 0xF5},
    };
    for (const auto& c : cases) {
        Cell cell = ParseCell(c.token);
        EXPECT_EQ(cell.volume, c.byte) << c.token;
        EXPECT_EQ(FormatCell(cell), c.token);
    }
    // Beyond full volume, and letters that name no command, are refused.
    for (const char* bad : {"v41", "v50", "vx3", "v-G", "v4"}) {
        EXPECT_THROW(ParseCell(bad), NotationError) << bad;
    }
}

TEST(Notation, EffectLettersCountOnPastF) {
    EXPECT_EQ(ParseCell("A0F").effect, 0x0A);
    EXPECT_EQ(ParseCell("F7D").effect, 0x0F);
    EXPECT_EQ(ParseCell("G40").effect, 0x10);
    EXPECT_EQ(ParseCell("K00").effect, 0x14);
    EXPECT_EQ(ParseCell("P08").effect, 0x19);
    EXPECT_EQ(ParseCell("R93").effect, 0x1B);
    EXPECT_EQ(ParseCell("X12").effect, 0x21);
    Cell cell = ParseCell("E62");
    EXPECT_EQ(cell.effect, 0x0E);
    EXPECT_EQ(cell.parameter, 0x62);
    // "000" is an arpeggio with no notes: a real effect cell that writes nothing.
    EXPECT_TRUE(ParseCell("000").Empty());
}

TEST(Notation, FieldsComeInAnyOrderButOnlyOnce) {
    Cell a = ParseCell("C-4 02 v30 A0F");
    Cell b = ParseCell("A0F v30 02 C-4");
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.note, 49);
    EXPECT_EQ(a.instrument, 2);
    EXPECT_EQ(a.volume, 0x40);
    EXPECT_EQ(a.effect, 0x0A);
    EXPECT_EQ(a.parameter, 0x0F);
    EXPECT_THROW(ParseCell("C-4 D-4"), NotationError);
    EXPECT_THROW(ParseCell("01 02"), NotationError);
    EXPECT_THROW(ParseCell("v10 v20"), NotationError);
    EXPECT_THROW(ParseCell("A0F 401"), NotationError);
    EXPECT_THROW(ParseCell("00"), NotationError); // instrument 0 is "none": write nothing
    EXPECT_THROW(ParseCell("81"), NotationError); // above the 128 instruments
    EXPECT_THROW(ParseCell("C-4 x"), NotationError);
    EXPECT_THROW(ParseCell("C-4 a0f"), NotationError); // hex is upper case
}

TEST(Notation, EveryCellPrintsBackToTheSameCell) {
    for (const char* text : {"C-4 02 v30 A0F", "===", "F#6 7F", "vg8 308", "E-5 ED3", "v-2", "X21",
                             ".", "G-1 01 vp8 8C0"}) {
        Cell cell = ParseCell(text);
        EXPECT_EQ(ParseCell(FormatCell(cell)), cell) << text;
    }
    EXPECT_EQ(FormatCell(ParseCell("A0F v30 02 C-4")), "C-4 02 v30 A0F");
}

TEST(Notation, TrackRowsAndEmptyRuns) {
    Track track = ParseTrack("C-4 01 | . | .3 | D-4 | .");
    ASSERT_EQ(track.size(), 7u);
    EXPECT_EQ(track[0].note, 49);
    for (int row = 1; row <= 4; ++row) EXPECT_TRUE(track[row].Empty()) << row;
    EXPECT_EQ(track[5].note, 51);
    EXPECT_EQ(track[5].instrument, 0);
    EXPECT_TRUE(ParseTrack("").empty());
    EXPECT_EQ(ParseTrack(".16").size(), 16u);
    // A missing cell is a slip of the pen, not an empty row.
    EXPECT_THROW(ParseTrack("C-4 || D-4"), NotationError);
    EXPECT_THROW(ParseTrack("C-4 |"), NotationError);
    EXPECT_THROW(ParseTrack(".0"), NotationError);
    EXPECT_THROW(ParseTrack(".3x"), NotationError);
}

TEST(Notation, DefaultInstrumentGoesToNotesButNotToGlidesOrKeyOffs) {
    Track track =
        ParseTrack("@03 C-4 | D-4 05 | E-4 | F-4 308 | G-4 vg4 | === | A-4 v20 | @04 B-4");
    ASSERT_EQ(track.size(), 8u);
    EXPECT_EQ(track[0].instrument, 3);
    EXPECT_EQ(track[1].instrument, 5); // named explicitly
    EXPECT_EQ(track[2].instrument, 3); // the default is not changed by an explicit one
    EXPECT_EQ(track[3].instrument, 0); // tone portamento: would restart the envelopes
    EXPECT_EQ(track[4].instrument, 0); // volume-column tone portamento likewise
    EXPECT_EQ(track[5].instrument, 0); // key-off
    EXPECT_EQ(track[6].instrument, 3);
    EXPECT_EQ(track[7].instrument, 4);
    EXPECT_THROW(ParseTrack("@00 C-4"), NotationError);
    EXPECT_THROW(ParseTrack("@03"), NotationError);
    EXPECT_THROW(ParseTrack("C-4 @03"), NotationError);
}

TEST(Notation, TransposeMovesNotesOnlyAndRefusesToLeaveTheRange) {
    Track track = ParseTrack("A-1 02 | === | . | C-2 A04");
    Track up = Transpose(track, 5);
    EXPECT_EQ(up[0].note, ParseCell("D-2").note);
    EXPECT_EQ(up[1].note, KEY_OFF_NOTE);
    EXPECT_TRUE(up[2].Empty());
    EXPECT_EQ(up[3].note, ParseCell("F-2").note);
    EXPECT_EQ(up[3].effect, 0x0A);
    EXPECT_THROW(Transpose(ParseTrack("B-7"), 1), NotationError);
    EXPECT_THROW(Transpose(ParseTrack("C-0"), -1), NotationError);
}

TEST(Notation, RepeatJoinAndWithEffect) {
    Track bar = ParseTrack("C-4 01 | .");
    EXPECT_EQ(Repeat(bar, 3).size(), 6u);
    EXPECT_EQ(Repeat(bar, 3)[4], bar[0]);
    Track joined = Join({bar, ParseTrack("D-4")});
    ASSERT_EQ(joined.size(), 3u);
    EXPECT_EQ(joined[2].note, 51);
    Track marked = WithEffect(bar, 4, 0x0D, 0x00);
    ASSERT_EQ(marked.size(), 5u);
    EXPECT_EQ(marked[4].effect, 0x0D);
    EXPECT_EQ(marked[0], bar[0]);
}

} // namespace
