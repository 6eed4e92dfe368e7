// Interpolation tests: a pure tone read at steps below and above 1 in each interpolation, against
// the ideal signal (the tone resampled without error, and nothing where the resampled tone would
// lie above the output's Nyquist frequency); a constant read across loop ends and bounces.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "music/mixer.h"
#include "music/module.h"
#include "music/player.h"

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double AMPLITUDE = 16000.0;

struct LoopedSample {
    std::vector<int16_t> frames;
    Sample sample{};

    LoopedSample(std::vector<int16_t> values, uint8_t loopKind) {
        frames = values;
        frames.resize(values.size() + 8, 0);
        sample.data = frames.data();
        sample.length = static_cast<uint32_t>(values.size());
        sample.loopKind = loopKind;
        sample.loopStart = 0;
        sample.loopLength = sample.length;
        sample.bits = 16;
        if (loopKind == LOOP_FORWARD) frames[sample.length] = frames[0];
        if (loopKind == LOOP_PINGPONG) frames[sample.length] = frames[sample.length - 1];
    }
};

// A whole number of periods of a sine of `period` frames, looping forwards.
LoopedSample Tone(int period, int periods) {
    std::vector<int16_t> v;
    for (int i = 0; i < period * periods; ++i)
        v.push_back(static_cast<int16_t>(std::lrint(AMPLITUDE * std::sin(2 * PI * i / period))));
    return LoopedSample(v, LOOP_FORWARD);
}

Voice VoiceAt(const Sample* sample, double start, double step) {
    Voice voice{};
    voice.sample = sample;
    voice.direction = 1;
    const auto whole = static_cast<uint64_t>(step * 4294967296.0);
    voice.increment = static_cast<int32_t>(whole >> 32);
    voice.incrementFraction = static_cast<uint32_t>(whole);
    const auto at = static_cast<uint64_t>(start * 4294967296.0);
    voice.position = static_cast<uint32_t>(at >> 32);
    voice.positionFraction = static_cast<uint32_t>(at);
    voice.volumeLeft = voice.volumeRight = 255;
    voice.rampTargetLeft = voice.rampTargetRight = 255;
    voice.currentLeft = voice.currentRight = 255 * 256;
    return voice;
}

class Interpolating : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(player_, nullptr); }
    void TearDown() override { DestroyPlayer(player_); }

    // The first channel of `frames` frames of one voice.
    std::vector<float> Mix(const Sample* sample, double start, double step, Interpolation kind,
                           int frames) {
        Voice voice = VoiceAt(sample, start, step);
        std::vector<float> out(2 * static_cast<size_t>(frames), 0.0f);
        MixVoice(player_->mixer, &voice, out.data(), frames, kind);
        std::vector<float> left;
        for (int k = 0; k < frames; ++k) left.push_back(out[2 * k]);
        return left;
    }

    // Error against the ideal resampled tone in dB relative to the tone's power.
    double ErrorDb(int period, double step, Interpolation kind) {
        const LoopedSample tone = Tone(period, 64 / period > 4 ? 64 / period : 4);
        const double start = 2 * period + 0.25;
        const int frames = 8192;
        const std::vector<float> got = Mix(&tone.sample, start, step, kind, frames);
        const bool passes = step / period < 0.5; // the resampled tone lies below Nyquist
        double error = 0, power = 0;
        for (int k = 0; k < frames; ++k) {
            const double ideal =
                passes ? AMPLITUDE * std::sin(2 * PI * (start + k * step) / period) : 0.0;
            error += (got[k] - ideal) * (got[k] - ideal);
            power += AMPLITUDE * AMPLITUDE / 2;
        }
        return 10 * std::log10(error / power + 1e-30);
    }

    Module song_{};
    Player* player_ = CreatePlayer(&song_, 44100, PlayerRules::Demo);
};

struct ToneCase {
    const char* what;
    int period;  // frames of the sample per period of its tone
    double step; // sample frames per output frame
};

const ToneCase TONE_CASES[] = {
    {"a low note, played far below the sample's rate", 32, 0.27},
    {"a note a little above the output rate", 12, 1.3},
    {"a high note whose tone stays below the output's Nyquist", 24, 3.3},
    {"a tone that would fold back from above the output's Nyquist", 8, 5.2},
    {"a tone far above the output's Nyquist", 4, 7.9},
};

TEST_F(Interpolating, EachKindIsCloserToTheIdealToneThanTheLastAndSincStaysUnderItsBound) {
    for (const ToneCase& c : TONE_CASES) {
        SCOPED_TRACE(c.what);
        const double none = ErrorDb(c.period, c.step, Interpolation::None);
        const double linear = ErrorDb(c.period, c.step, Interpolation::Linear);
        const double cubic = ErrorDb(c.period, c.step, Interpolation::Cubic);
        const double sinc = ErrorDb(c.period, c.step, Interpolation::Sinc);
        printf("  %-60s none %6.1f linear %6.1f cubic %6.1f sinc %6.1f dB\n", c.what, none, linear,
               cubic, sinc);
        EXPECT_LT(sinc, -40.0);
        EXPECT_LT(sinc, linear - 10.0);
        if (c.step / c.period < 0.5) {
            EXPECT_LT(cubic, linear);
            EXPECT_LT(linear, none);
        }
    }
}

TEST_F(Interpolating, AConstantComesOutUnchangedAcrossLoopEndsAndBounces) {
    struct Case {
        const char* what;
        uint8_t loopKind;
        double step;
    };
    const Case cases[] = {
        {"forward loop, slow", LOOP_FORWARD, 0.31},
        {"forward loop, fast (a wide kernel over a short loop)", LOOP_FORWARD, 6.7},
        {"ping-pong loop", LOOP_PINGPONG, 0.77},
        {"ping-pong loop, fast", LOOP_PINGPONG, 2.9},
    };
    const LoopedSample flat[] = {LoopedSample(std::vector<int16_t>(24, 5000), LOOP_FORWARD),
                                 LoopedSample(std::vector<int16_t>(24, 5000), LOOP_PINGPONG)};
    for (const Case& c : cases) {
        const Sample* sample = &flat[c.loopKind == LOOP_FORWARD ? 0 : 1].sample;
        for (Interpolation kind : {Interpolation::None, Interpolation::Linear, Interpolation::Cubic,
                                   Interpolation::Sinc}) {
            SCOPED_TRACE(::testing::Message() << c.what << ", kind " << static_cast<int>(kind));
            // From the middle of the sample: before its start the kernel reads silence.
            const std::vector<float> got = Mix(sample, 12.0, c.step, kind, 600);
            float worst = 0;
            for (float v : got) worst = std::fmax(worst, std::fabs(v - 5000.0f));
            EXPECT_LT(worst, 1.0f);
        }
    }
}

TEST_F(Interpolating, ASampleWithoutLoopFadesToSilenceAtItsEndAndStops) {
    const LoopedSample flat(std::vector<int16_t>(40, 5000), LOOP_NONE);
    for (Interpolation kind : {Interpolation::Cubic, Interpolation::Sinc}) {
        Voice voice = VoiceAt(&flat.sample, 20.0, 1.0);
        std::vector<float> out(2 * 64, 0.0f);
        MixVoice(player_->mixer, &voice, out.data(), 64, kind);
        EXPECT_NEAR(out[2 * 10], 5000.0f, 1.0f); // frame 30: the kernel lies inside
        EXPECT_EQ(voice.sample, nullptr);        // the end reached: the voice is free
        for (int k = 20; k < 64; ++k) EXPECT_EQ(out[2 * k], 0.0f) << k;
    }
}

} // namespace
