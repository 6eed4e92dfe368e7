// tuning_test.cpp: every pitched instrument, played alone through the real player, sounds at
// concert pitch in both halves of its note map, so the band plays in tune with itself.
#include <gtest/gtest.h>

#include <cmath>

#include "instruments.h"
#include "memory_files.h"
#include "render.h"

using namespace compose;

namespace {

const std::vector<xmw::Instrument>& Instruments() {
    static const std::vector<xmw::Instrument> instruments = BuildInstruments();
    return instruments;
}

bool Gather(const RenderedBlock& block, void* context) {
    auto& mono = *static_cast<std::vector<double>*>(context);
    for (int32_t i = 0; i < block.frameCount; ++i)
        mono.push_back(double(block.frames[2 * i]) + double(block.frames[2 * i + 1]));
    return true;
}

// The mono output of one note of `instrument` (a number) from playback start.
std::vector<double> PlayNote(int instrument, const char* note, int blocks) {
    xmw::Song song;
    song.channels = 2;
    song.instruments = {Instruments()[instrument - 1]};
    xmw::Pattern pattern = song.MakePattern(64);
    pattern.At(0, 0) = PatternCell{xmw::NoteNumber(note), 1, 0, 0, 0};
    song.patterns.push_back(pattern);
    song.orders = {0};
    Module* module = LoadModuleBytes(xmw::WriteXm(song));
    std::vector<double> mono;
    if (!module) return mono;
    RenderSummary summary{};
    RenderModule(module, PlayerRules::Demo, RenderLimits{blocks, 0}, Gather, &mono, &summary);
    FreeModule(module);
    return mono;
}

// Frequency whose period best matches the signal with itself, searched within a major third
// of `expected`, refined between lags by a parabola.
double MeasuredFrequency(const std::vector<double>& wave, size_t from, double expected) {
    const double rate = RENDER_RATE;
    int low = int(rate / (expected * 1.25)), high = int(rate / (expected * 0.8)) + 1;
    std::vector<double> score(high + 2, 0.0);
    for (int lag = low - 1; lag <= high + 1; ++lag) {
        double sum = 0;
        for (size_t i = from; i + size_t(lag) < wave.size(); ++i) sum += wave[i] * wave[i + lag];
        score[lag] = sum / double(wave.size() - from - size_t(lag));
    }
    int best = low;
    for (int lag = low; lag <= high; ++lag)
        if (score[lag] > score[best]) best = lag;
    double a = score[best - 1], b = score[best], c = score[best + 1];
    double shift = (a - 2 * b + c) != 0 ? 0.5 * (a - c) / (a - 2 * b + c) : 0.0;
    return rate / (best + shift);
}

TEST(Tuning, PitchedInstrumentsSoundAtConcertPitch) {
    const struct {
        int instrument;
        const char* note;
        double hz;
        size_t from = 6000; // past the attack (the pre-fill renders from the note's start)
    } cases[] = {
        {BASS, "A-1", 55.0},
        {BASS, "A-2", 110.0},
        {LEAD, "A-4", 440.0},
        {LEAD, "A-6", 1760.0},
        {PAD, "A-3", 220.0},
        {PLUCK, "A-4", 440.0},
        {PLUCK, "E-5", 659.26},
        // A bell's pitch is its ring once the strike's inharmonic partials have died away (high
        // bells ring shorter).
        {BELL, "A-4", 440.0, 18000},
        {BELL, "A-6", 1760.0, 18000},
    };
    for (const auto& c : cases) {
        std::vector<double> wave = PlayNote(c.instrument, c.note, 40);
        ASSERT_GT(wave.size(), 20000u) << c.note;
        double hz = MeasuredFrequency(wave, c.from, c.hz);
        EXPECT_NEAR(hz / c.hz, 1.0, 0.006)
            << "instrument " << c.instrument << " " << c.note << " sounds at " << hz << " Hz";
    }
}

TEST(Tuning, EachDrumSoundsOnItsOwnNote) {
    // On its own note a drum plays at its recorded rate: the same length of sound as the
    // sample holds. A note map pointing at the wrong sample, or a wrong relative note, changes
    // how long the drum lasts (a semitone by 6 %).
    const struct {
        int note;
        double seconds; // the synthesised length
    } drums[] = {{KIT_KICK, 0.3}, {KIT_SNARE, 0.32}, {KIT_CLAP, 0.36}, {KIT_OPEN, 0.42}};
    static const char* const NAMES[] = {"C-0", "C#0", "D-0", "D#0", "E-0", "F-0",
                                        "F#0", "G-0", "G#0", "A-0", "A#0", "B-0"};
    for (const auto& d : drums) {
        std::string name = NAMES[(d.note - 1) % 12];
        name[2] = char('0' + (d.note - 1) / 12);
        std::vector<double> wave = PlayNote(KIT, name.c_str(), 40);
        size_t last = 0;
        for (size_t i = 0; i < wave.size(); ++i)
            if (std::fabs(wave[i]) > 2.0) last = i;
        EXPECT_NEAR(double(last) / RENDER_RATE, d.seconds, 0.008)
            << name << " lasts " << double(last) / RENDER_RATE;
    }
}

} // namespace
