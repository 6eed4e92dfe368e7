// melody_test.cpp: the committed song's tunes as played, row by row: melodic notes end with
// their phrases, everything that sounds fits its bar and no two tunes rub on a beat, the hook
// comes back through the song, and the bell and the kick sound as they should.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <string>

#include "committed_song.h"
#include "instruments.h"
#include "song.h"

using song_check::Committed;
using song_check::PlayedRow;
using song_check::PlayedRows;

namespace {

constexpr double PI = 3.141592653589793;

const char* const NAMES[12] = {"C-", "C#", "D-", "D#", "E-", "F-",
                               "F#", "G-", "G#", "A-", "A#", "B-"};

std::string NoteName(int note) {
    return NAMES[(note - 1) % 12] + std::to_string((note - 1) / 12);
}

std::string Where(const PlayedRow& r, int channel) {
    return "order " + std::to_string(r.order) + " row " + std::to_string(r.row) + " channel " +
           std::to_string(channel + 1) + " (" +
           std::to_string(int(r.start * 10) / 10.0).substr(0, 5) + " s)";
}

std::set<int> MelodicInstruments() {
    std::set<int> out;
    for (const compose::SongPart& part : compose::SongParts())
        if (part.melodic) out.insert(part.instruments.begin(), part.instruments.end());
    return out;
}

std::string PartOf(int instrument) {
    for (const compose::SongPart& part : compose::SongParts())
        for (int i : part.instruments)
            if (i == instrument) return part.name;
    return "?";
}

TEST(Melody, NoMelodicNoteSoundsLongerThanFourBars) {
    const std::vector<PlayedRow>& rows = PlayedRows();
    ASSERT_GT(rows.size(), 1500u);
    std::set<int> melodic = MelodicInstruments();
    ASSERT_FALSE(melodic.empty());
    // The walk keeps time with the rendering: its last row ends where the song wraps.
    const song_check::Song& song = song_check::CommittedRendering();
    ASSERT_TRUE(song.wrapped);
    EXPECT_NEAR(rows.back().start + rows.back().seconds,
                song.Seconds(song.blockStart[size_t(song.wrapBlock)]), 0.05);
    std::map<std::string, int64_t> longest;
    for (size_t i = 0; i < rows.size(); ++i) {
        for (size_t ch = 0; ch < rows[i].voices.size(); ++ch) {
            const song_check::Voice& v = rows[i].voices[ch];
            if (!v.note || !melodic.count(v.instrument)) continue;
            int64_t held = int64_t(i) - v.startRow + 1;
            int64_t& record = longest[PartOf(v.instrument)];
            record = std::max(record, held);
            if (held == 65) {
                const PlayedRow& from = rows[size_t(v.startRow)];
                ADD_FAILURE() << NoteName(v.note) << " from " << Where(from, int(ch))
                              << " still sounds four bars later";
            }
        }
    }
    for (const auto& [part, held] : longest)
        std::printf("figure: longest %s note %lld rows\n", part.c_str(), (long long)held);
}

TEST(Harmony, EverySoundingNoteFitsItsBarAndTheTunesDoNotRubOnTheBeat) {
    // Held notes as well as struck ones: each sounding pitched note is in its bar's chord or the
    // key, and on every beat no two melodic parts sound a minor second (or its inversions and
    // octaves) or a tritone, unless the song marks one of them as passing.
    const song_check::Song& song = Committed();
    const std::vector<PlayedRow>& rows = PlayedRows();
    ASSERT_GT(rows.size(), 1500u);
    auto harmony = compose::SongHarmony();
    ASSERT_EQ(harmony.size(), song.patterns.size());
    std::vector<int> scaleList = compose::SongScale();
    std::set<int> scale(scaleList.begin(), scaleList.end());
    std::set<int> melodic = MelodicInstruments();
    std::set<std::tuple<int, int, int>> passing;
    for (const compose::PassingNote& n : compose::SongPassingNotes())
        passing.insert({n.pattern, n.row, n.channel});
    int sounding = 0, pairs = 0, failures = 0;
    for (const PlayedRow& r : rows) {
        const compose::BarChord& chord = harmony[size_t(r.pattern)][size_t(r.row / 16)];
        std::set<int> tones{chord.root, (chord.root + chord.third) % 12, (chord.root + 7) % 12};
        std::vector<std::pair<int, int>> tunes; // channel, note
        for (size_t ch = 0; ch < r.voices.size(); ++ch) {
            const song_check::Voice& v = r.voices[ch];
            if (!v.note || v.instrument == compose::KIT || v.instrument == compose::WIND) continue;
            ++sounding;
            int pc = (v.note - 1) % 12;
            if (!tones.count(pc) && !scale.count(pc)) {
                ADD_FAILURE() << NoteName(v.note) << " fits neither " << chord.name
                              << " nor the key at " << Where(r, int(ch));
                ++failures;
            }
            const PlayedRow& from = rows[size_t(v.startRow)];
            if (melodic.count(v.instrument) && !passing.count({from.pattern, from.row, int(ch)}))
                tunes.push_back({int(ch), v.note});
        }
        if (r.row % 4) continue;
        for (size_t a = 0; a < tunes.size(); ++a)
            for (size_t b = a + 1; b < tunes.size(); ++b) {
                ++pairs;
                int interval = std::abs(tunes[a].second - tunes[b].second) % 12;
                if (interval == 1 || interval == 11 || interval == 6) {
                    ADD_FAILURE() << NoteName(tunes[a].second) << " on channel "
                                  << tunes[a].first + 1 << " against " << NoteName(tunes[b].second)
                                  << " at " << Where(r, tunes[b].first) << " over " << chord.name;
                    ++failures;
                }
            }
        if (failures > 30) return;
    }
    std::printf(
        "figure: %d sounding notes checked, %d pairs of tunes on the beat, %zu notes marked "
        "passing\n",
        sounding, pairs, passing.size());
    EXPECT_GT(sounding, 10000);
    EXPECT_GT(pairs, 1000);
}

// The order position's section: the last landmark at or before it.
std::string SectionOf(int order) {
    std::string name;
    for (const compose::Landmark& mark : compose::SongLandmarks())
        if (mark.orderPosition <= order) name = mark.name;
    return name;
}

TEST(Melody, TheHookComesBackInTheIntroAThemeTheBreakdownAndTheCredits) {
    // The hook's rhythm and contour, at any pitch, on any melodic channel.
    const song_check::Song& song = Committed();
    ASSERT_TRUE(song.loaded);
    compose::Figure hook = compose::SongHook();
    ASSERT_GE(hook.onsets.size(), 5u);
    ASSERT_EQ(hook.contour.size(), hook.onsets.size() - 1);
    std::set<int> melodic = MelodicInstruments();
    std::map<std::string, int> found;
    std::set<int> seen;
    for (size_t order = 0; order < song.orders.size(); ++order) {
        int p = song.orders[order];
        if (!seen.insert(p).second) continue;
        for (int ch = 0; ch < song.channels; ++ch) {
            std::vector<std::pair<int, int>> starts; // row, note
            int instrument = 0;
            for (int row = 0; row < song.patterns[size_t(p)].rows; ++row) {
                const song_check::Cell& c = song.At(p, row, ch);
                if (c.instrument) instrument = c.instrument;
                if (c.note >= 1 && c.note <= 96 && melodic.count(instrument))
                    starts.push_back({row, c.note});
            }
            for (size_t i = 0; i + hook.onsets.size() <= starts.size(); ++i) {
                bool match = true;
                for (size_t k = 0; k < hook.onsets.size() && match; ++k) {
                    match = starts[i + k].first - starts[i].first == hook.onsets[k];
                    if (match && k) {
                        int step = starts[i + k].second - starts[i + k - 1].second;
                        match = (step > 0) - (step < 0) == hook.contour[k - 1];
                    }
                }
                // Nothing else starts inside the figure.
                size_t after = i + hook.onsets.size();
                if (match && after < starts.size())
                    match = starts[after].first - starts[i].first >= hook.rows;
                if (match) ++found[SectionOf(int(order))];
            }
        }
    }
    for (const auto& [section, count] : found)
        std::printf("figure: hook %d times in %s\n", count, section.c_str());
    EXPECT_TRUE(found.count("title")) << "the intro";
    EXPECT_TRUE(found.count("cubes in full") || found.count("second theme")) << "a theme";
    EXPECT_TRUE(found.count("particles: breakdown")) << "the breakdown";
    EXPECT_TRUE(found.count("credits: close")) << "the credits";
}

// Power at `frequency` of frames [first, first + count) read at `rate`, and the frequency with
// the most power within `spread` (relative) of it.
struct Peak {
    double frequency;
    double power;
};

Peak StrongestNear(const std::vector<int16_t>& frames, size_t first, size_t count, double rate,
                   double frequency, double spread) {
    Peak best{frequency, -1};
    for (double f = frequency * (1 - spread); f <= frequency * (1 + spread); f += frequency / 800) {
        double re = 0, im = 0;
        for (size_t i = 0; i < count && first + i < frames.size(); ++i) {
            double w = 0.5 - 0.5 * std::cos(2 * PI * double(i) / double(count)); // Hann
            re += w * frames[first + i] * std::cos(2 * PI * f * double(i) / rate);
            im += w * frames[first + i] * std::sin(2 * PI * f * double(i) / rate);
        }
        double power = re * re + im * im;
        if (power > best.power) best = {f, power};
    }
    return best;
}

double Db(double powerRatio) {
    return 10 * std::log10(std::max(powerRatio, 1e-30));
}

TEST(Instruments, TheBellRingsWithInharmonicPartialsAndDiesAwayByItself) {
    const song_check::Song& song = Committed();
    ASSERT_TRUE(song.loaded);
    const song_check::InstrumentData& bell = song.instruments[compose::BELL - 1];
    ASSERT_FALSE(bell.samples.empty());
    for (size_t s = 0; s < bell.samples.size(); ++s) {
        const song_check::SampleData& sample = bell.samples[s];
        EXPECT_FALSE(sample.loops) << "bell sample " << s;
        // Measured at the middle of the notes the song plays on it.
        std::vector<int> notes;
        for (const PlayedRow& r : PlayedRows())
            for (const song_check::Voice& v : r.voices)
                if (v.instrument == compose::BELL && v.note && bell.sampleMap[v.note - 1] == s &&
                    v.startRow == int64_t(&r - PlayedRows().data()))
                    notes.push_back(v.note);
        if (notes.empty()) continue;
        std::sort(notes.begin(), notes.end());
        int note = notes[notes.size() / 2];
        double rate = sample.Rate(note);
        double fundamental = 440.0 * std::pow(2.0, (note - 58) / 12.0);
        size_t window = size_t(0.1 * rate);
        Peak root = StrongestNear(sample.frames, 0, window, rate, fundamental, 0.02);
        for (double ratio : {2.76, 5.4, 8.9}) {
            Peak partial = StrongestNear(sample.frames, 0, window, rate, fundamental * ratio, 0.03);
            double level = Db(partial.power / root.power);
            std::printf("figure: bell sample %zu at %s: partial %.2f (found %.2f) at %.1f dB\n", s,
                        NoteName(note).c_str(), ratio, partial.frequency / fundamental, level);
            EXPECT_GE(level, -10.0) << "partial " << ratio << ", bell sample " << s;
        }
        // The decay: from the loudest 10 ms to the first 10 ms 40 dB below it.
        size_t step = size_t(0.01 * rate);
        std::vector<double> energy;
        for (size_t i = 0; i + step <= sample.frames.size(); i += step) {
            double sum = 0;
            for (size_t k = 0; k < step; ++k)
                sum += double(sample.frames[i + k]) * sample.frames[i + k];
            energy.push_back(sum);
        }
        ASSERT_FALSE(energy.empty());
        size_t loudest = size_t(std::max_element(energy.begin(), energy.end()) - energy.begin());
        size_t quiet = loudest;
        while (quiet < energy.size() && Db(energy[quiet] / energy[loudest]) > -40) ++quiet;
        double decay = double(quiet - loudest) * 0.01;
        std::printf("figure: bell sample %zu decays 40 dB in %.2f s\n", s, decay);
        EXPECT_GE(decay, 0.5) << "bell sample " << s;
        EXPECT_LE(decay, 1.5) << "bell sample " << s;
    }
}

TEST(Instruments, TheKickIsPitchedApartFromEveryBassRoot) {
    const song_check::Song& song = Committed();
    ASSERT_TRUE(song.loaded);
    const song_check::InstrumentData& kit = song.instruments[compose::KIT - 1];
    const song_check::SampleData& kick = kit.samples[kit.sampleMap[compose::KIT_KICK - 1]];
    double rate = kick.Rate(compose::KIT_KICK);
    // The body after the click and the pitch drop.
    Peak pitch = StrongestNear(kick.frames, size_t(0.1 * rate), size_t(0.15 * rate), rate, 70, 0.5);
    std::printf("figure: kick pitch %.1f Hz\n", pitch.frequency);
    std::set<int> roots;
    const std::vector<PlayedRow>& rows = PlayedRows();
    for (const PlayedRow& r : rows)
        for (const song_check::Voice& v : r.voices)
            if (v.instrument == compose::BASS && v.note && r.row % 16 == 0 &&
                v.startRow == int64_t(&r - rows.data()))
                roots.insert(v.note);
    ASSERT_GE(roots.size(), 4u);
    for (int root : roots) {
        double f = 440.0 * std::pow(2.0, (root - 58) / 12.0);
        double apart = std::fabs(12 * std::log2(pitch.frequency / f));
        EXPECT_GE(apart, 1.0) << "kick at " << pitch.frequency << " Hz, bass root "
                              << NoteName(root) << " at " << f << " Hz";
    }
}

TEST(Arrangement, TheLeadIsEchoedFromTheOtherSide) {
    // In the full sections, most lead notes come back a few rows later on another channel,
    // quieter and panned to the right (the lead sits left).
    const song_check::Song& song = Committed();
    ASSERT_TRUE(song.loaded);
    int leads = 0, echoed = 0;
    std::set<int> seen;
    for (size_t order = 0; order < song.orders.size(); ++order) {
        std::string section = SectionOf(int(order));
        if (section != "cubes in full" && section != "peak: the flash") continue;
        int p = song.orders[order];
        if (!seen.insert(p).second) continue;
        const int rows = song.patterns[size_t(p)].rows;
        std::vector<int> instrument(size_t(song.channels), 0);
        std::vector<std::vector<int>> current(size_t(song.channels),
                                              std::vector<int>(size_t(rows), 0));
        for (int row = 0; row < rows; ++row)
            for (int ch = 0; ch < song.channels; ++ch) {
                const song_check::Cell& c = song.At(p, row, ch);
                if (c.instrument) instrument[size_t(ch)] = c.instrument;
                current[size_t(ch)][size_t(row)] = instrument[size_t(ch)];
            }
        for (int row = 0; row < rows; ++row) {
            const song_check::Cell& lead = song.At(p, row, 4);
            if (lead.note < 1 || lead.note > 96 || current[4][size_t(row)] != compose::LEAD)
                continue;
            ++leads;
            bool found = false;
            for (int ch = 0; ch < song.channels && !found; ++ch) {
                if (ch == 4) continue;
                for (int d = 1; d <= 6 && row + d < rows && !found; ++d) {
                    const song_check::Cell& e = song.At(p, row + d, ch);
                    bool right = (e.effect == 8 && e.parameter > 0x90) ||
                                 (e.volume >= 0xC0 && e.volume <= 0xCF && (e.volume & 15) > 9);
                    found = e.note == lead.note &&
                            current[size_t(ch)][size_t(row + d)] == compose::LEAD && right;
                }
            }
            echoed += found;
        }
    }
    std::printf("figure: %d of %d lead notes echoed from the right\n", echoed, leads);
    ASSERT_GT(leads, 40);
    EXPECT_GE(echoed * 10, leads * 8);
}

} // namespace
