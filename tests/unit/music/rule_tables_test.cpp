// The rule tables: a player plays by the table it holds; and the standard rules' volume column,
// retrigger and envelope position, where they use the standard rules' own vibrato, tone
// portamento, instrument restart and envelope placement: each such case plays two small songs
// that the original tracker plays alike (the column's command beside the effect's, a retrigger
// beside a new note) and compares what reaches the voice tick by tick.
#include "sequencer_harness.h"

#include <vector>

namespace {

using seqtest::BasicSong;
using seqtest::Cell;
using seqtest::Harness;

struct Row {
    int row;
    PatternCell cell;
};

xmw::Song Song(int speed, bool linear, const std::vector<Row>& rows) {
    xmw::Song song = BasicSong(1, 8, linear);
    song.speed = static_cast<uint16_t>(speed);
    for (const Row& r : rows) song.patterns[0].At(r.row, 0) = r.cell;
    return song;
}

// The voice's frequency after each of `ticks` ticks, under the standard rules.
std::vector<int> Frequencies(const xmw::Song& song, int ticks) {
    Harness h(song, PlayerRules::Standard);
    std::vector<int> out;
    if (!h.loaded()) return out;
    for (const seqtest::VoiceState& s : h.Ticks(ticks)) out.push_back(s.frequency);
    return out;
}

std::vector<int> Volumes(const xmw::Song& song, int ticks) {
    Harness h(song, PlayerRules::Standard);
    std::vector<int> out;
    if (!h.loaded()) return out;
    for (const seqtest::VoiceState& s : h.Ticks(ticks)) out.push_back(s.volume);
    return out;
}

std::vector<int> From(const std::vector<int>& values, size_t first) {
    return first < values.size() ? std::vector<int>(values.begin() + first, values.end())
                                 : std::vector<int>{};
}

} // namespace

TEST(StandardVolumeColumn, VibratoIsTheEffectColumnsVibratoOnBothTables) {
    // Speed 4 from the column's Ax on row 0; row 1 vibrates at depth 8 by the column's Vx or by
    // 408 (speed kept). The amount, its rounding and its direction (on the Amiga table a
    // higher period is a lower pitch) are the effect's.
    for (const bool linear : {true, false}) {
        const xmw::Song column =
            Song(6, linear, {{0, Cell("C-4", 1, 0xA4)}, {1, Cell(nullptr, 0, 0xB8)}});
        const xmw::Song effect =
            Song(6, linear, {{0, Cell("C-4", 1, 0xA4)}, {1, Cell(nullptr, 0, 0, 0x4, 0x08)}});
        const std::vector<int> heard = Frequencies(column, 12);
        ASSERT_EQ(heard.size(), 12u);
        EXPECT_EQ(heard, Frequencies(effect, 12)) << (linear ? "linear" : "Amiga");
        EXPECT_NE(heard[8], heard[6]) << "the column's vibrato moves the pitch";
    }
}

TEST(StandardVolumeColumn, TonePortamentoIsTheEffectColumnsWithItsGlissando) {
    // E31 on row 0 turns glissando on; row 1 slides to E-4 at speed 16 by the column's M1 or by
    // 310. On the Amiga table a step of 64 is less than a semitone near C-4, so the glissando's
    // rounding to whole notes shows. Then row 3 slides back to C-4 with no note of its own on
    // row 4 (the slide goes on towards the target the note set).
    const auto song = [](bool column) {
        const PatternCell slide = column ? Cell("E-4", 0, 0xF1) : Cell("E-4", 0, 0, 0x3, 0x10);
        const PatternCell again = column ? Cell(nullptr, 0, 0xF0) : Cell(nullptr, 0, 0, 0x3, 0);
        const PatternCell back = column ? Cell("C-4", 0, 0xF1) : Cell("C-4", 0, 0, 0x3, 0x10);
        return Song(
            4, false,
            {{0, Cell("C-4", 1, 0, 0xE, 0x31)}, {1, slide}, {2, again}, {3, back}, {4, again}});
    };
    const std::vector<int> heard = Frequencies(song(true), 20);
    ASSERT_EQ(heard.size(), 20u);
    EXPECT_EQ(heard, Frequencies(song(false), 20));
    // Beside Mx the effect column's note-side commands (here 9xx, which a slide's note does not
    // start) leave the slide as it is: its target and direction are the note's.
    xmw::Song offset = song(true);
    offset.patterns[0].At(1, 0).effect = 0x9;
    offset.patterns[0].At(1, 0).effectParameter = 0x01;
    EXPECT_EQ(Frequencies(offset, 20), heard);
}

TEST(StandardRetrigger, RestartsTheAutoVibratoAsANewNoteDoes) {
    // An auto-vibrato (depth 8, rate 32, no sweep) runs from the note on row 0; on row 2 E90
    // retriggers the note, or the same note and instrument start again. The instrument restarts
    // alike: the auto-vibrato starts over from its first position.
    const auto song = [](const PatternCell& row2) {
        xmw::Song s = Song(3, true, {{0, Cell("C-4", 1)}, {2, row2}});
        s.instruments[0].vibratoDepth = 8;
        s.instruments[0].vibratoRate = 32;
        return s;
    };
    const std::vector<int> retriggered = Frequencies(song(Cell(nullptr, 0, 0, 0xE, 0x90)), 15);
    const std::vector<int> restarted = Frequencies(song(Cell("C-4", 1)), 15);
    ASSERT_EQ(retriggered.size(), 15u);
    EXPECT_EQ(From(retriggered, 6), From(restarted, 6));
}

TEST(StandardEnvelopePosition, PastTheLastPointTheEnvelopeHoldsTheLastValue) {
    // A volume envelope from 64 down to 32 over 16 ticks; on row 1 (tick 3) L28 puts it past its
    // end: from that tick on the voice sounds at the last point's value (half of full, 64), as
    // it does once the envelope has run out by itself (row 6 on).
    xmw::Song song = Song(3, true, {{0, Cell("C-4", 1)}, {1, Cell(nullptr, 0, 0, 0x15, 0x28)}});
    xmw::Envelope& envelope = song.instruments[0].volumeEnvelope;
    envelope.points = {{0, 64}, {16, 32}};
    envelope.flags = ENVELOPE_ON;
    const std::vector<int> placed = Volumes(song, 24);
    ASSERT_EQ(placed.size(), 24u);
    EXPECT_EQ(From(placed, 3), std::vector<int>(21, 64));
    song.patterns[0].At(1, 0) = PatternCell{};
    const std::vector<int> runOut = Volumes(song, 24);
    ASSERT_EQ(runOut.size(), 24u);
    EXPECT_EQ(From(runOut, 18), std::vector<int>(6, 64));
    // Inside the envelope, the placement starts from the position it names.
    song.patterns[0].At(1, 0) = Cell(nullptr, 0, 0, 0x15, 0x08);
    const std::vector<int> inside = Volumes(song, 6);
    ASSERT_EQ(inside.size(), 6u);
    EXPECT_LT(inside[3], inside[2]);
    EXPECT_GT(inside[3], 64);
}

namespace {

int32_t FixedFrequency(const Player*, const MusicChannel*) {
    return 4410;
}

// Panning slid past the left side, where the demo's rules let it go on below 0.
int lowestPanning = 255;
void WatchPanning(const Player* player, MusicChannel* channel) {
    lowestPanning = std::min(lowestPanning, channel->panning);
    PanningStep(player, channel);
}

} // namespace

TEST(RuleTables, APlayerPlaysByTheTableItHolds) {
    // A table made from the demo's with its frequency law replaced and the volume column's
    // panning slides limited, as a third rule set would be: the driver and the shared volume
    // column follow it, nothing falls back to the demo's own choices.
    RuleSet rules = demoRules;
    rules.frequencyLaw = FixedFrequency;
    rules.panningLaw = WatchPanning;
    rules.volumeColumn.limitedPanningSlides = true;
    // Panning 16 (E81), then the column's D8 on every later tick of three rows.
    const xmw::Song song = Song(6, true,
                                {{0, Cell("C-4", 1, 0xD8, 0xE, 0x81)},
                                 {1, Cell(nullptr, 0, 0xD8)},
                                 {2, Cell(nullptr, 0, 0xD8)}});
    for (const bool replaced : {false, true}) {
        Harness h(song);
        ASSERT_TRUE(h.loaded());
        if (replaced) h.player()->ruleSet = &rules;
        lowestPanning = 255;
        const std::vector<seqtest::VoiceState> states = h.Ticks(18);
        EXPECT_EQ(states.back().frequency == 4410, replaced);
        if (replaced) {
            EXPECT_EQ(lowestPanning, 0);
        }
        EXPECT_EQ(h.channel(0).panning < 0, !replaced);
    }
}
