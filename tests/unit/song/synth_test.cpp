// synth_test.cpp: the composer's own arithmetic and the instruments' sound: accuracy against
// the library's functions, rounding, and the properties the file relies on (true pitch, seamless
// loops, silent ends, no offset).
#include <gtest/gtest.h>

#include <cmath>

#include "synth.h"

using namespace compose;

namespace {

TEST(Synth, SineAndExpAgreeWithTheLibrary) {
    for (int i = -400; i <= 400; ++i) {
        double turns = i / 97.0;
        EXPECT_NEAR(SineTurns(turns), std::sin(turns * 6.283185307179586), 2e-7) << turns;
    }
    EXPECT_EQ(SineTurns(0.0), 0.0);
    EXPECT_NEAR(SineTurns(0.25), 1.0, 1e-12);
    EXPECT_NEAR(SineTurns(-0.25), -1.0, 1e-12);
    for (double x : {-50.0, -3.3, -0.5, 0.0, 1e-9, 0.69, 2.0, 20.0, 100.0}) {
        EXPECT_NEAR(Exp(x) / std::exp(x), 1.0, 1e-13) << x;
    }
    EXPECT_EQ(Exp(-1000.0), 0.0);
    EXPECT_NEAR(Pow2(10.0), 1024.0, 1e-9);
    EXPECT_NEAR(Pow2(-1.0 / 12.0) * Pow2(1.0 / 12.0), 1.0, 1e-15);
}

TEST(Synth, SoftClipIsOddBoundedAndGentleNearZero) {
    EXPECT_EQ(SoftClip(0.0), 0.0);
    EXPECT_NEAR(SoftClip(0.01), 0.01, 1e-6);
    EXPECT_EQ(SoftClip(-0.7), -SoftClip(0.7));
    EXPECT_EQ(SoftClip(3.0), 1.0);
    EXPECT_EQ(SoftClip(-9.0), -1.0);
    double previous = -1.0;
    for (int i = -300; i <= 300; ++i) {
        double y = SoftClip(i / 100.0);
        EXPECT_GE(y, previous) << i; // monotonic, so no fold-over distortion
        previous = y;
    }
}

TEST(Synth, NoiseIsReproducibleAndSpread) {
    Noise a(1234), b(1234), c(1235);
    bool differs = false;
    double sum = 0, low = 1, high = -1;
    for (int i = 0; i < 20000; ++i) {
        double x = a.Bipolar();
        EXPECT_EQ(x, b.Bipolar());
        differs |= x != c.Bipolar();
        sum += x;
        low = std::fmin(low, x);
        high = std::fmax(high, x);
    }
    EXPECT_TRUE(differs);
    EXPECT_NEAR(sum / 20000, 0.0, 0.02);
    EXPECT_LT(low, -0.99);
    EXPECT_GT(high, 0.99);
    Noise zero(0); // a zero seed would stick at zero for ever
    EXPECT_NE(zero.Next(), 0u);
}

TEST(Synth, PcmRoundsHalfAwayFromZeroAndClamps) {
    Wave wave{0.0, 1.0, -1.0, 1.5, -1.5, 0.5 / 32767.0, -0.5 / 32767.0, 0.49 / 32767.0};
    std::vector<int16_t> pcm = ToPcm16(wave);
    EXPECT_EQ(pcm, (std::vector<int16_t>{0, 32767, -32767, 32767, -32768, 1, -1, 0}));
    std::vector<int8_t> small = ToPcm8(Wave{0.0, 1.0, -1.2, 0.5 / 127.0, -0.5 / 127.0});
    EXPECT_EQ(small, (std::vector<int8_t>{0, 127, -128, 1, -1}));
}

TEST(Synth, NormaliseSetsThePeakAndLeavesSilenceAlone) {
    Wave wave{0.1, -0.4, 0.2};
    Normalise(wave, 0.8);
    EXPECT_DOUBLE_EQ(wave[1], -0.8);
    EXPECT_DOUBLE_EQ(wave[0], 0.2);
    Wave silent(10, 0.0);
    Normalise(silent, 0.9);
    for (double v : silent) EXPECT_EQ(v, 0.0);
}

// The lag between 0.6 and 1.5 times `expected` frames at which the wave best matches itself
// (from frame `from` on): the period heard.
int MeasuredPeriod(const Wave& wave, size_t from, int expected) {
    int best = 0;
    double bestScore = -1e300;
    for (int lag = expected * 6 / 10; lag <= expected * 3 / 2; ++lag) {
        double score = 0;
        for (size_t i = from; i + size_t(lag) < wave.size(); ++i) score += wave[i] * wave[i + lag];
        score /= double(wave.size() - from - size_t(lag));
        if (score > bestScore) {
            bestScore = score;
            best = lag;
        }
    }
    return best;
}

TEST(Synth, TonesRepeatExactlyOverTheirLoopCycles) {
    // The loop is the last few cycles; any difference between them would click once a cycle.
    struct Case {
        const char* name;
        Wave wave;
        uint32_t cycle, loopCycles;
    } cases[] = {
        {"bass", Bass(256, 40, 4), 256, 4},
    };
    for (const Case& c : cases) {
        ASSERT_GE(c.wave.size(), size_t(c.cycle) * (c.loopCycles + 1)) << c.name;
        size_t loopStart = c.wave.size() - size_t(c.cycle) * c.loopCycles;
        double largestStep = 0;
        for (size_t i = loopStart + 1; i < c.wave.size(); ++i)
            largestStep = std::fmax(largestStep, std::fabs(c.wave[i] - c.wave[i - 1]));
        for (size_t i = loopStart + c.cycle; i < c.wave.size(); ++i)
            ASSERT_EQ(c.wave[i], c.wave[i - c.cycle]) << c.name << " frame " << i;
        // Going on from the loop end back to its start is no bigger a step than any other.
        EXPECT_LE(std::fabs(c.wave[loopStart] - c.wave.back()), largestStep) << c.name;
    }
}

TEST(Synth, LeadLoopIsOneBeatOfItsTwoSaws) {
    // Past the attack the two saws repeat together only once per loop: a loop of any other
    // length would jump in phase. A longer attack must end in the very same loop.
    const uint32_t cycle = 64, beat = 16, loop = cycle * beat;
    Wave shortAttack = Lead(cycle, 10, 8, beat), longAttack = Lead(cycle, 10, 24, beat);
    ASSERT_EQ(shortAttack.size(), cycle * 8 + loop);
    ASSERT_EQ(longAttack.size(), cycle * 24 + loop);
    for (uint32_t i = 0; i < loop; ++i)
        ASSERT_EQ(shortAttack[cycle * 8 + i], longAttack[cycle * 24 + i]) << "frame " << i;
    double largestStep = 0, drift = 0;
    for (size_t i = cycle * 8 + 1; i < shortAttack.size(); ++i) {
        largestStep = std::fmax(largestStep, std::fabs(shortAttack[i] - shortAttack[i - 1]));
        drift = std::fmax(drift, std::fabs(shortAttack[i] - shortAttack[i - cycle]));
    }
    EXPECT_LE(std::fabs(shortAttack[cycle * 8] - shortAttack.back()), largestStep);
    // The saws drift apart: neighbouring cycles of the loop differ.
    EXPECT_GT(drift, 0.1 * largestStep);
}

TEST(Synth, PluckAndPadSoundAtTheirCycleLength) {
    // A plucked string whose period drifted would be out of tune with the rest of the band.
    Wave pluck = Pluck(64, 20000, 5);
    EXPECT_EQ(MeasuredPeriod(pluck, 2000, 64), 64);
    Wave pad = Pad(128, 20000, 7);
    EXPECT_EQ(MeasuredPeriod(pad, 0, 128), 128);
    Wave bass = Bass(256, 40, 4);
    EXPECT_EQ(MeasuredPeriod(bass, 0, 256), 256);
}

TEST(Synth, DrumsStartLoudEndSilentAndCarryNoOffset) {
    const double rate = 33452;
    struct Case {
        const char* name;
        Wave wave;
    } cases[] = {
        {"kick", Kick(rate, 1)},       {"snare", Snare(rate, 2)}, {"clap", Clap(rate, 3)},
        {"hat", HiHat(rate, 0.09, 4)}, {"crash", Crash(rate, 5)}, {"pluck", Pluck(64, 9000, 6)},
    };
    for (const Case& c : cases) {
        ASSERT_GT(c.wave.size(), 1000u) << c.name;
        double peak = 0, sum = 0;
        for (double v : c.wave) {
            peak = std::fmax(peak, std::fabs(v));
            sum += v;
        }
        EXPECT_GT(peak, 0.05) << c.name;
        EXPECT_LE(peak, 1.0) << c.name;
        // The last frame is silent, so a one-shot sample ends without a click.
        EXPECT_EQ(c.wave.back(), 0.0) << c.name;
        EXPECT_LT(std::fabs(sum / double(c.wave.size())), 0.02 * peak) << c.name;
    }
}

TEST(Synth, SameSeedSameSound) {
    EXPECT_EQ(Snare(33452, 9), Snare(33452, 9));
    EXPECT_NE(Snare(33452, 9), Snare(33452, 10));
    EXPECT_EQ(Wind(5000, 3), Wind(5000, 3));
}

} // namespace
