// shape_test.cpp: the committed song's balance and shape, measured on its rendering and on stems
// (the song rendered with only one part's instruments): the lead stands with the drums and the
// plucks are heard, the drop lifts, the peak moves on halfway, the credits tell their own tune
// without going round in circles, and the last chord resolves and fades before the show ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "committed_song.h"
#include "figures.h"
#include "instruments.h"
#include "song.h"

using song_check::Committed;
using song_check::CommittedRendering;

namespace {

const compose::SongPart& Part(const char* name) {
    static const std::vector<compose::SongPart> parts = compose::SongParts();
    for (const compose::SongPart& part : parts)
        if (std::string(part.name) == name) return part;
    throw std::runtime_error(std::string("no part ") + name);
}

// Each stem rendered once per test program.
const std::vector<int16_t>& Stem(const char* name) {
    static std::map<std::string, std::vector<int16_t>> stems;
    auto found = stems.find(name);
    if (found == stems.end())
        found = stems.emplace(name, song_check::RenderPart(Part(name).instruments)).first;
    return found->second;
}

// RMS of both sides over [from, to) seconds, dB relative to full scale.
double RmsDb(const std::vector<int16_t>& frames, double from, double to) {
    int rate = CommittedRendering().rate;
    size_t first = size_t(from * rate) * 2, last = std::min(frames.size(), size_t(to * rate) * 2);
    double sum = 0;
    for (size_t i = first; i < last; ++i) sum += double(frames[i]) * frames[i];
    if (last <= first) return -200;
    return 10 * std::log10(std::max(sum / double(last - first), 1e-20) / (32768.0 * 32768.0));
}

int LandmarkOrder(const char* name) {
    for (const compose::Landmark& mark : compose::SongLandmarks())
        if (std::string(mark.name) == name) return mark.orderPosition;
    ADD_FAILURE() << "no landmark " << name;
    return 0;
}

TEST(Balance, TheLeadStandsWithTheDrumsAndThePlucksAreHeard) {
    ASSERT_TRUE(CommittedRendering().rendered);
    for (const compose::SongSection& section : compose::SongSections()) {
        if (!section.full) continue;
        double drums = RmsDb(Stem("drums"), section.start, section.end);
        double lead = RmsDb(Stem("lead"), section.start, section.end);
        double plucks = RmsDb(Stem("plucks"), section.start, section.end);
        std::printf("figure: %s: drums %.1f, lead %.1f, plucks %.1f dB\n", section.name, drums,
                    lead, plucks);
        EXPECT_LE(std::fabs(lead - drums), 3.0) << section.name;
        EXPECT_GE(plucks, lead - 5.0) << section.name;
    }
}

// Seconds from the song's start at which the order position `order` first plays.
double OrderSeconds(int order) {
    for (const song_check::PlayedRow& r : song_check::PlayedRows())
        if (r.order == order) return r.start;
    ADD_FAILURE() << "order " << order << " never plays";
    return 0;
}

TEST(Balance, WhereTheBellsCarryTheTuneTheyAreHeard) {
    // An order carries its tune on the bells when they start more notes than the lead's
    // instrument does (doubling the lead or answering it does not count).
    const song_check::Song& song = CommittedRendering();
    ASSERT_TRUE(song.rendered);
    const std::vector<int16_t>& bells = Stem("bells");
    int carried = 0;
    for (int order = 0; order + 1 < int(song.orders.size()); ++order) {
        const song_check::Pattern& pattern = song.patterns[size_t(song.orders[size_t(order)])];
        int bellNotes = 0, leadNotes = 0;
        for (const song_check::Cell& c : pattern.cells) {
            if (c.note < 1 || c.note > 96) continue;
            bellNotes += c.instrument == compose::BELL;
            leadNotes += c.instrument == compose::LEAD;
        }
        if (bellNotes < 8 || bellNotes <= leadNotes) continue;
        ++carried;
        double from = OrderSeconds(order), to = OrderSeconds(order + 1);
        double mix = RmsDb(song.frames, from, to), bell = RmsDb(bells, from, to);
        std::printf("figure: bells carry order %d (%.1f-%.1f s): %.1f dB against a %.1f dB mix\n",
                    order, from, to, bell, mix);
        EXPECT_GE(bell, mix - 10.0) << "order " << order;
    }
    EXPECT_GE(carried, 4);
}

TEST(Balance, InTheCreditsTheBassSitsUnderTheLead) {
    double bass = RmsDb(Stem("bass"), 164.4, 250);
    double lead = RmsDb(Stem("lead"), 164.4, 250);
    double bells = RmsDb(Stem("bells"), 164.4, 250);
    double plucks = RmsDb(Stem("plucks"), 164.4, 250);
    double mix = RmsDb(CommittedRendering().frames, 164.4, 250);
    std::printf("figure: credits: bass %.1f, lead %.1f, bells %.1f, plucks %.1f dB (mix %.1f)\n",
                bass, lead, bells, plucks, mix);
    EXPECT_LT(bass, lead);
    // The plucks are a part of the credits, not a murmur under them.
    EXPECT_GE(plucks, mix - 14.0);
}

// The kit's hits of each bar in playing order, from the order position `from` to `to`: row in
// the bar, note and volume.
struct DrumBar {
    int order;
    std::set<std::pair<int, int>> places; // row, note
    std::string hits;
};

std::vector<DrumBar> DrumBars(int from, int to) {
    const song_check::Song& song = Committed();
    std::vector<DrumBar> bars;
    for (const song_check::PlayedRow& r : song_check::PlayedRows()) {
        if (r.order < from || r.order >= to) continue;
        if (r.row % 16 == 0 || bars.empty()) bars.push_back({r.order, {}, ""});
        for (int ch = 0; ch < song.channels; ++ch) {
            const song_check::Cell& c = song.At(r.pattern, r.row, ch);
            if (c.note < 1 || c.note > 96 || r.voices[size_t(ch)].instrument != compose::KIT)
                continue;
            bars.back().places.insert({r.row % 16, c.note});
            bars.back().hits += std::to_string(r.row % 16) + ":" + std::to_string(c.note) + "/" +
                                std::to_string(c.volume) + " ";
        }
    }
    return bars;
}

TEST(Shape, TheDropLiftsAndBringsSomethingNewToTheGroove) {
    const song_check::Song& song = CommittedRendering();
    ASSERT_TRUE(song.rendered);
    double before = RmsDb(song.frames, 22, 30), after = RmsDb(song.frames, 30, 38);
    std::printf("figure: drop: %.1f dB (22-30 s) to %.1f dB (30-38 s): %+.1f dB\n", before, after,
                after - before);
    EXPECT_GE(after - before, 3.0);
    int drop = LandmarkOrder("cubes in full");
    std::set<std::pair<int, int>> heard;
    for (const DrumBar& bar : DrumBars(0, drop)) heard.insert(bar.places.begin(), bar.places.end());
    std::vector<DrumBar> first = DrumBars(drop, drop + 1);
    ASSERT_FALSE(first.empty());
    int fresh = 0;
    for (const DrumBar& bar : first)
        for (const auto& place : bar.places) fresh += !heard.count(place);
    std::printf("figure: drop: %d drum hits in places not played before\n", fresh);
    EXPECT_GE(fresh, 4) << "the drop's drums only repeat what the build played";
}

TEST(Shape, ThePeaksSecondHalfChangesItsDrumsAndBringsACountermelody) {
    const song_check::Song& song = Committed();
    ASSERT_TRUE(song.loaded);
    int peak = LandmarkOrder("peak: the flash");
    std::vector<DrumBar> bars = DrumBars(peak, peak + 4);
    ASSERT_EQ(bars.size(), 16u);
    int same = 0;
    for (size_t b = 8; b < 16; ++b)
        for (size_t a = 0; a < 8; ++a) same += bars[b].hits == bars[a].hits;
    std::printf("figure: peak: %d of its second eight drum bars repeat one of the first eight\n",
                same);
    EXPECT_EQ(same, 0);
    // A second tune on the lead's instrument in the second eight bars, most of whose notes are
    // not the lead's at the same time.
    int lead = 0, counter = 0, doubled = 0;
    for (int order = peak + 2; order < peak + 4; ++order) {
        int p = song.orders[size_t(order)];
        for (int row = 0; row < song.patterns[size_t(p)].rows; ++row) {
            const song_check::Cell& main = song.At(p, row, 4);
            lead += main.note >= 1 && main.note <= 96;
            for (int ch = 0; ch < song.channels; ++ch) {
                if (ch == 4) continue;
                const song_check::Cell& c = song.At(p, row, ch);
                if (c.note < 1 || c.note > 96 || c.instrument != compose::LEAD) continue;
                ++counter;
                doubled += main.note >= 1 && main.note <= 96 && (main.note - c.note) % 12 == 0;
            }
        }
    }
    std::printf("figure: peak's second half: %d counter notes, %d doubling the lead\n", counter,
                doubled);
    EXPECT_GE(counter, 12);
    EXPECT_LT(doubled * 3, counter);
}

TEST(Shape, ThePeaksSecondHalfLiftsOverItsFirst) {
    const song_check::Song& song = CommittedRendering();
    ASSERT_TRUE(song.rendered);
    int peak = LandmarkOrder("peak: the flash");
    double start = OrderSeconds(peak), half = OrderSeconds(peak + 2), end = OrderSeconds(peak + 4);
    double first = RmsDb(song.frames, start, half), second = RmsDb(song.frames, half, end);
    std::printf("figure: peak: %.1f dB (%.1f-%.1f s), then %.1f dB (%.1f-%.1f s)\n", first, start,
                half, second, half, end);
    EXPECT_GE(second, first);
}

// The tunes (lead and bell notes) of a pattern's channel in four-bar phrases, written relative
// to their first note so that a phrase moved to another octave or key is the same phrase.
std::vector<std::string> Phrases(int pattern, int channel, std::set<int> tunes) {
    const song_check::Song& song = Committed();
    std::vector<std::string> out;
    for (int bar = 0; bar < song.patterns[size_t(pattern)].rows; bar += 64) {
        std::string text;
        int first = 0;
        for (int row = bar; row < std::min(bar + 64, song.patterns[size_t(pattern)].rows); ++row) {
            const song_check::Cell& c = song.At(pattern, row, channel);
            if (c.note < 1 || c.note > 96 || !tunes.count(c.instrument)) continue;
            if (!first) first = c.note;
            text += std::to_string(row - bar) + ":" + std::to_string(c.note - first) + " ";
        }
        if (!text.empty()) out.push_back(text);
    }
    return out;
}

TEST(Shape, TheCreditsHaveATuneOfTheirOwnAndPlayNoPhraseMoreThanTwice) {
    const song_check::Song& song = Committed();
    ASSERT_TRUE(song.loaded);
    std::set<int> tunes{compose::LEAD, compose::BELL};
    int credits = LandmarkOrder("credits: close");
    std::set<std::string> before;
    std::map<std::string, int> played;
    for (size_t order = 0; order < song.orders.size(); ++order)
        for (int ch = 0; ch < song.channels; ++ch)
            for (const std::string& phrase : Phrases(song.orders[order], ch, tunes)) {
                if (int(order) < credits)
                    before.insert(phrase);
                else
                    ++played[phrase];
            }
    int own = 0, most = 0;
    for (const auto& [phrase, times] : played) {
        own += !before.count(phrase);
        most = std::max(most, times);
        EXPECT_LE(times, 2) << "the credits play " << phrase << times << " times";
    }
    std::printf("figure: credits: %zu phrases, %d new, none played more than %d times\n",
                played.size(), own, most);
    EXPECT_GE(own, 2);
}

TEST(Shape, TheSongEndsOnTheTonicFadedBeforeTheShowEnds) {
    const song_check::Song& song = CommittedRendering();
    ASSERT_TRUE(song.rendered);
    auto harmony = compose::SongHarmony();
    const compose::BarChord& last = harmony[size_t(song.orders.back())].back();
    std::vector<int> scale = compose::SongScale();
    EXPECT_EQ(last.root, scale.front()) << last.name;
    EXPECT_EQ(last.third, 3) << last.name;
    // The bass's last note is the tonic.
    int bassNote = 0;
    for (const song_check::PlayedRow& r : song_check::PlayedRows())
        for (const song_check::Voice& v : r.voices)
            if (v.instrument == compose::BASS && v.note) bassNote = v.note;
    EXPECT_EQ((bassNote - 1) % 12, scale.front());
    double wrap = song.Seconds(song.blockStart[size_t(song.wrapBlock)]);
    double tail = RmsDb(song.frames, 254, wrap);
    double chord = RmsDb(song.frames, 246, 249);
    std::printf("figure: ending: %.1f dB at 246-249 s, %.1f dB from 254 s to the wrap at %.1f s\n",
                chord, tail, wrap);
    EXPECT_GE(wrap, 255.0);
    EXPECT_LT(tail, -60.0);
}

} // namespace
