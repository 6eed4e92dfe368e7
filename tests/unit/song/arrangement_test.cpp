// arrangement_test.cpp: the committed song's notes and drums, read from the file itself: every
// pitched note fits the key and the chord the song declares for its bar, the drums keep moving
// (no bar played more than three times running, crashes through the full sections, a fill into
// every part) and the credits do not repeat themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>

#include "committed_song.h"
#include "instruments.h"
#include "song.h"

using song_check::Cell;
using song_check::Committed;

namespace {

const char* const NAMES[12] = {"C-", "C#", "D-", "D#", "E-", "F-",
                               "F#", "G-", "G#", "A-", "A#", "B-"};

std::string NoteName(int note) {
    return NAMES[(note - 1) % 12] + std::to_string((note - 1) / 12);
}

// A pattern loop's jump (E6x with x > 0) or a break: rows the checks must follow.
bool IsBreak(const Cell& c) {
    return c.effect == 0xD;
}

// The rows of each order position as played once through: up to a break, loops not repeated.
int PlayedRows(const song_check::Song& song, int pattern) {
    for (int row = 0; row < song.patterns[pattern].rows; ++row)
        for (int ch = 0; ch < song.channels; ++ch)
            if (IsBreak(song.At(pattern, row, ch))) return row + 1;
    return song.patterns[pattern].rows;
}

TEST(Harmony, EveryBarOfEveryPatternHasAChord) {
    const song_check::Song& song = Committed();
    ASSERT_TRUE(song.loaded);
    auto harmony = compose::SongHarmony();
    ASSERT_EQ(harmony.size(), song.patterns.size());
    for (size_t p = 0; p < harmony.size(); ++p)
        EXPECT_EQ(int(harmony[p].size()), (song.patterns[p].rows + 15) / 16) << "pattern " << p;
}

TEST(Harmony, EveryPitchedNoteFitsTheKeyAndItsBarsChord) {
    // The scale holds every note (melodies may pass between chord tones). Chord instruments --
    // pads, plucked arpeggios, the gated pad -- and every 0xy chord play only the bar's chord,
    // and the bass starts every bar on its root.
    const song_check::Song& song = Committed();
    ASSERT_TRUE(song.loaded);
    auto harmony = compose::SongHarmony();
    ASSERT_EQ(harmony.size(), song.patterns.size());
    std::vector<int> scaleList = compose::SongScale();
    std::set<int> scale(scaleList.begin(), scaleList.end());
    std::vector<int> instrument(song.channels, 0), playing(song.channels, 0);
    int checked = 0, chordChecked = 0, failures = 0;
    std::set<int> seen;
    for (size_t order = 0; order < song.orders.size(); ++order) {
        int p = song.orders[order];
        bool first = seen.insert(p).second;
        for (int row = 0; row < song.patterns[p].rows; ++row) {
            const compose::BarChord& chord = harmony[p][row / 16];
            std::set<int> tones{chord.root, (chord.root + chord.third) % 12, (chord.root + 7) % 12};
            for (int ch = 0; ch < song.channels; ++ch) {
                const Cell& c = song.At(p, row, ch);
                if (c.instrument) instrument[ch] = c.instrument;
                if (c.note >= 1 && c.note <= 96) playing[ch] = c.note;
                if (c.note == 97) playing[ch] = 0;
                int in = instrument[ch];
                if (!first || in == compose::KIT || in == compose::WIND || !in) continue;
                std::string where = "order " + std::to_string(order) + " pattern " +
                                    std::to_string(p) + " row " + std::to_string(row) +
                                    " channel " + std::to_string(ch) + " over " + chord.name;
                std::vector<int> sounding;
                if (c.note >= 1 && c.note <= 96) sounding.push_back(c.note);
                bool arpeggio = c.effect == 0 && c.parameter && playing[ch];
                if (arpeggio) {
                    sounding.assign(1, playing[ch]);
                    sounding.push_back(playing[ch] + (c.parameter >> 4));
                    sounding.push_back(playing[ch] + (c.parameter & 15));
                }
                bool chordal =
                    arpeggio || in == compose::PAD || in == compose::PLUCK || in == compose::GATE;
                for (int note : sounding) {
                    int pc = (note - 1) % 12;
                    ++checked;
                    if (!scale.count(pc)) {
                        ADD_FAILURE() << NoteName(note) << " is out of key at " << where;
                        ++failures;
                    } else if (chordal && !tones.count(pc)) {
                        ADD_FAILURE() << NoteName(note) << " is not in the chord at " << where;
                        ++failures;
                    }
                    if (chordal) ++chordChecked;
                }
                if (in == compose::BASS && row % 16 == 0 && c.note >= 1 && c.note <= 96 &&
                    (c.note - 1) % 12 != chord.root) {
                    ADD_FAILURE() << "the bass starts a bar on " << NoteName(c.note)
                                  << " instead of the root at " << where;
                    ++failures;
                }
                if (failures > 20) return;
            }
        }
    }
    // The walk saw the song: thousands of notes, most of them chord notes.
    EXPECT_GT(checked, 2000);
    EXPECT_GT(chordChecked, 1000);
}

// ---- Drums ----

// The drum bars in playing order: the kit's cells (note, volume, effect) of each 16 rows, with
// the order position each bar starts in. Empty bars (no kit note) are kept as empty strings.
struct DrumBar {
    int order;
    std::string hits;
    bool crash = false;
    int lastBeatHits = 0; // kit notes in the bar's last four rows
};

std::vector<DrumBar> DrumBars() {
    const song_check::Song& song = Committed();
    std::vector<DrumBar> bars;
    std::vector<int> instrument(song.channels, 0);
    for (size_t order = 0; order < song.orders.size(); ++order) {
        int p = song.orders[order];
        int rows = PlayedRows(song, p);
        for (int row = 0; row < rows; ++row) {
            if (row % 16 == 0) bars.push_back({int(order), ""});
            DrumBar& bar = bars.back();
            for (int ch = 0; ch < song.channels; ++ch) {
                const Cell& c = song.At(p, row, ch);
                if (c.instrument) instrument[ch] = c.instrument;
                if (instrument[ch] != compose::KIT || c.note < 1 || c.note > 96) continue;
                bar.hits += std::to_string(row % 16) + ":" + std::to_string(ch) + ":" +
                            std::to_string(c.note) + "/" + std::to_string(c.volume) + "/" +
                            std::to_string(c.effect) + "." + std::to_string(c.parameter) + " ";
                bar.crash |= c.note == compose::KIT_CRASH;
                if (rows - row <= 4) ++bar.lastBeatHits;
            }
        }
    }
    return bars;
}

int LandmarkOrder(const char* name) {
    for (const compose::Landmark& mark : compose::SongLandmarks())
        if (std::string(mark.name) == name) return mark.orderPosition;
    ADD_FAILURE() << "no landmark " << name;
    return 0;
}

TEST(Groove, NoDrumBarPlaysMoreThanThreeTimesInARow) {
    std::vector<DrumBar> bars = DrumBars();
    ASSERT_GT(bars.size(), 100u);
    int run = 1, drumBars = 0;
    for (size_t i = 1; i < bars.size(); ++i) {
        if (bars[i].hits.empty()) {
            run = 0;
            continue;
        }
        ++drumBars;
        run = bars[i].hits == bars[i - 1].hits ? run + 1 : 1;
        EXPECT_LE(run, 3) << "bar " << i << " (order " << bars[i].order << "): " << bars[i].hits;
    }
    EXPECT_GT(drumBars, 60);
}

TEST(Groove, FullSectionsCrashAtLeastEveryEightBars) {
    std::vector<DrumBar> bars = DrumBars();
    const std::pair<const char*, const char*> sections[] = {
        {"cubes in full", "particles: breakdown"}, {"peak: the flash", "credits: close"}};
    for (const auto& [from, to] : sections) {
        int first = LandmarkOrder(from), last = LandmarkOrder(to);
        int sinceCrash = 0;
        for (size_t i = 0; i < bars.size(); ++i) {
            if (bars[i].order < first || bars[i].order >= last) continue;
            sinceCrash = bars[i].crash ? 0 : sinceCrash + 1;
            EXPECT_LT(sinceCrash, 8)
                << "bar " << i << " (order " << bars[i].order << ") in " << from;
        }
    }
}

TEST(Groove, DrumsFillIntoEveryPartOnceTheyHaveStarted) {
    // The last beat before each scene change from the build's second stage on is a run of at
    // least three hits.
    std::vector<DrumBar> bars = DrumBars();
    bool started = false;
    for (const compose::Landmark& mark : compose::SongLandmarks()) {
        if (std::string(mark.name) == "build: hats") started = true;
        if (!started) continue;
        auto next = std::find_if(bars.begin(), bars.end(), [&](const DrumBar& bar) {
            return bar.order >= mark.orderPosition;
        });
        ASSERT_NE(next, bars.begin()) << mark.name;
        EXPECT_GE(std::prev(next)->lastBeatHits, 3) << "into " << mark.name;
    }
}

TEST(Arrangement, TheCreditsPlayNoPatternTwice) {
    const song_check::Song& song = Committed();
    ASSERT_TRUE(song.loaded);
    std::map<int, int> played;
    for (size_t order = LandmarkOrder("credits: close"); order < song.orders.size(); ++order)
        EXPECT_EQ(++played[song.orders[order]], 1)
            << "pattern " << song.orders[order] << " again at order " << order;
    EXPECT_GE(played.size(), 6u);
}

} // namespace
