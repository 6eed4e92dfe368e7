// Mixer tests of one voice at a time: interpolation, loop wrapping and bouncing, the end of a
// sample, volume ramps (start, cut by a block end, one side only), and the 16-bit conversion.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "music/mixer.h"
#include "music/module.h"
#include "music/player.h"

namespace {

constexpr uint32_t HALF = 0x80000000u;
constexpr uint32_t QUARTER = 0x40000000u;

// A sample as the loader leaves it: length + 8 frames, the loop-end copy written.
struct TestSample {
    std::vector<int16_t> frames;
    Sample sample{};

    TestSample(std::vector<int16_t> values, uint8_t loopKind, uint32_t loopStart,
               uint32_t loopLength) {
        frames = values;
        frames.resize(values.size() + 8, 0);
        sample.data = frames.data();
        sample.length = static_cast<uint32_t>(values.size());
        sample.loopKind = loopKind;
        sample.loopStart = loopKind == LOOP_NONE ? 0 : loopStart;
        sample.loopLength = loopKind == LOOP_NONE ? sample.length : loopLength;
        sample.bits = 16;
        const uint32_t end = sample.loopStart + sample.loopLength;
        if (loopKind == LOOP_FORWARD) frames[end] = frames[sample.loopStart];
        if (loopKind == LOOP_PINGPONG) frames[end] = frames[end - 1];
    }
};

std::vector<int16_t> Ramp(int n) {
    std::vector<int16_t> v;
    for (int i = 0; i < n; ++i) v.push_back(static_cast<int16_t>(i * 10));
    return v;
}

// A voice at full volume on both sides with no ramp pending.
Voice SteadyVoice(const Sample* sample, int volume = 255) {
    Voice voice{};
    voice.sample = sample;
    voice.increment = 1;
    voice.direction = 1;
    voice.volumeLeft = voice.volumeRight = volume;
    voice.rampTargetLeft = voice.rampTargetRight = volume;
    voice.currentLeft = voice.currentRight = volume * 256;
    return voice;
}

// A player of an empty song at 44100 Hz: its mixer's sizes and its table of voices.
class PlayerAt44100 {
  public:
    PlayerAt44100() : player_(CreatePlayer(&song_, 44100, PlayerRules::Demo)) {}
    ~PlayerAt44100() { DestroyPlayer(player_); }
    PlayerAt44100(const PlayerAt44100&) = delete;
    PlayerAt44100& operator=(const PlayerAt44100&) = delete;
    Player* operator->() const { return player_; }
    Player* get() const { return player_; }

  private:
    Module song_{};
    Player* player_;
};

class MixerVoiceTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(player.get(), nullptr); }
    const MixerState& mixer() const { return player->mixer; }
    PlayerAt44100 player;
    std::vector<float> out = std::vector<float>(2 * 4096, 0.0f);
    float Left(int frame) const { return out[2 * frame]; }
    float Right(int frame) const { return out[2 * frame + 1]; }
};

TEST_F(MixerVoiceTest, InterpolatesBetweenNeighbouringFrames) {
    TestSample s(Ramp(50), LOOP_NONE, 0, 0);
    Voice voice = SteadyVoice(&s.sample);
    voice.incrementFraction = QUARTER; // step 1.25
    MixVoice(mixer(), &voice, out.data(), 3);
    EXPECT_FLOAT_EQ(Left(0), 0.0f);
    EXPECT_NEAR(Left(1), 12.5f, 1e-3); // 1.25
    EXPECT_NEAR(Left(2), 25.0f, 1e-3); // 2.5
    EXPECT_EQ(voice.position, 3u);
    EXPECT_EQ(voice.positionFraction, QUARTER * 3);
    // The voice adds to what is there.
    MixVoice(mixer(), &voice, out.data(), 1);
    EXPECT_NEAR(Left(0), 37.5f, 1e-3);
}

// The four-frames-at-a-time linear reading against one frame per call (which takes the portable
// path): the same bits, with steps whose fraction carries into the integer part on almost every
// frame or on none, forwards through a loop's wrap and backwards in a ping-pong loop.
TEST_F(MixerVoiceTest, LinearReadingInFoursMatchesOneFrameAtATimeToTheBit) {
    std::vector<int16_t> values;
    for (int i = 0; i < 300; ++i)
        values.push_back(static_cast<int16_t>((i * 7919) % 65536 - 32768));
    struct Case {
        uint8_t loopKind;
        int32_t increment;
        uint32_t fraction;
        uint32_t startFraction;
    };
    const Case cases[] = {{LOOP_FORWARD, 0, 0xFFFFFFF0u, 0xFFFFFFFFu},
                          {LOOP_FORWARD, 1, 0x9E3779B9u, 0x12345678u},
                          {LOOP_PINGPONG, 2, 0xF0000001u, 0x80000001u},
                          {LOOP_PINGPONG, 0, 0x00000003u, 0xFFFFFFFEu},
                          {LOOP_NONE, 0, 0xC0000000u, 0u}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "loop " << int{c.loopKind} << " step " << c.increment << "+" << c.fraction);
        TestSample s(values, c.loopKind, 40, 200);
        Voice whole = SteadyVoice(&s.sample, 201);
        whole.volumeRight = whole.rampTargetRight = 77;
        whole.currentRight = 77 * 256;
        whole.increment = c.increment;
        whole.incrementFraction = c.fraction;
        whole.position = 3;
        whole.positionFraction = c.startFraction;
        Voice single = whole;
        const int frames = 1500;
        std::vector<float> together(2 * frames, 0.0f), apart(2 * frames, 0.0f);
        MixVoice(mixer(), &whole, together.data(), frames);
        for (int f = 0; f < frames; ++f) MixVoice(mixer(), &single, apart.data() + 2 * f, 1);
        int differing = 0;
        for (int k = 0; k < 2 * frames; ++k)
            differing += std::memcmp(&together[k], &apart[k], sizeof(float)) != 0;
        EXPECT_EQ(differing, 0);
        EXPECT_EQ(whole.position, single.position);
        EXPECT_EQ(whole.positionFraction, single.positionFraction);
        EXPECT_EQ(whole.sample, single.sample);
    }
}

TEST_F(MixerVoiceTest, ForwardLoopWrapsBackByTheLoopLength) {
    TestSample s(Ramp(200), LOOP_FORWARD, 100, 100);
    Voice voice = SteadyVoice(&s.sample);
    voice.position = 199;
    voice.positionFraction = 3 * QUARTER; // 199.75
    voice.increment = 0;
    voice.incrementFraction = HALF; // 0.5
    MixVoice(mixer(), &voice, out.data(), 1);
    // Mixed at 199.75 between frame 199 and the loop-end copy of frame 100 (the weight's scale
    // lies just below 2^-31, hence the tolerance).
    EXPECT_NEAR(Left(0), 1990.0f + (1000.0f - 1990.0f) * 0.75f, 0.2f);
    EXPECT_EQ(voice.position, 100u);
    EXPECT_EQ(voice.positionFraction, QUARTER);
    MixVoice(mixer(), &voice, out.data() + 2, 1);
    EXPECT_NEAR(Left(1), 1002.5f, 1e-2);
    EXPECT_NE(voice.sample, nullptr);
}

TEST_F(MixerVoiceTest, ForwardLoopWithAStepLongerThanTheLoopWrapsAsOftenAsNeeded) {
    TestSample s(Ramp(40), LOOP_FORWARD, 30, 4);
    Voice voice = SteadyVoice(&s.sample);
    voice.position = 20;
    voice.increment = 9;
    MixVoice(mixer(), &voice, out.data(), 1000);
    EXPECT_GE(voice.position, 30u);
    EXPECT_LT(voice.position, 34u);
    for (int f = 2; f < 1000; ++f) {
        ASSERT_GE(Left(f), 300.0f) << f;
        ASSERT_LE(Left(f), 330.0f) << f;
    }
}

TEST_F(MixerVoiceTest, PingPongBouncesAtTheLoopEndAndBackAtItsStart) {
    TestSample s(Ramp(200), LOOP_PINGPONG, 100, 100);
    Voice voice = SteadyVoice(&s.sample);
    voice.position = 199;
    voice.positionFraction = 3 * QUARTER;
    voice.increment = 0;
    voice.incrementFraction = HALF;
    MixVoice(mixer(), &voice, out.data(), 1);
    // 200.25 mirrors to 199.75 minus 2^-32, moving backwards.
    EXPECT_EQ(voice.position, 199u);
    EXPECT_EQ(voice.positionFraction, 3 * QUARTER - 1);
    EXPECT_EQ(voice.direction, 2);
    MixVoice(mixer(), &voice, out.data() + 2, 1);
    EXPECT_NEAR(Left(1), 1990.0f, 1e-2); // frame 199 and its copy after the loop
    EXPECT_EQ(voice.direction, 2);

    // Backwards past the start it turns forwards again, inside the loop.
    voice.position = 100;
    voice.positionFraction = QUARTER;
    MixVoice(mixer(), &voice, out.data(), 1); // 100.25 -> -0.25 below the start
    EXPECT_EQ(voice.direction, 1);
    EXPECT_EQ(voice.position, 100u);
    EXPECT_EQ(voice.positionFraction, QUARTER - 1);
}

TEST_F(MixerVoiceTest, PingPongLandingExactlyOnTheLoopStartKeepsPlaying) {
    TestSample s(Ramp(200), LOOP_PINGPONG, 100, 100);
    Voice voice = SteadyVoice(&s.sample);
    voice.position = 101;
    voice.direction = 2;
    voice.increment = 0;
    voice.incrementFraction = HALF;
    MixVoice(mixer(), &voice, out.data(), 1000); // used to bounce outwards without end
    EXPECT_NE(voice.sample, nullptr);
    EXPECT_GE(voice.position, 100u);
    EXPECT_LT(voice.position, 200u);
    for (int f = 0; f < 1000; ++f) ASSERT_GE(Left(f), 1000.0f - 1e-3) << f;
}

TEST_F(MixerVoiceTest, PingPongWithStepsFarLongerThanTheLoopStaysInside) {
    TestSample s(Ramp(64), LOOP_PINGPONG, 10, 3);
    Voice voice = SteadyVoice(&s.sample);
    voice.increment = 1000;
    voice.incrementFraction = 12345;
    for (int call = 0; call < 50; ++call) {
        MixVoice(mixer(), &voice, out.data(), 64);
        ASSERT_GE(voice.position, 10u);
        ASSERT_LT(voice.position, 13u);
    }
    for (int f = 1; f < 64; ++f) {
        ASSERT_GE(Left(f), 0.0f);
        ASSERT_LE(Left(f), 50 * 130.0f);
    }
}

TEST_F(MixerVoiceTest, SampleWithoutLoopPlaysToItsEndThenFallsSilent) {
    TestSample s(std::vector<int16_t>(1000, 1000), LOOP_NONE, 0, 0);
    Voice voice = SteadyVoice(&s.sample);
    MixVoice(mixer(), &voice, out.data(), 1200);
    EXPECT_FLOAT_EQ(Left(0), 1000.0f);
    EXPECT_FLOAT_EQ(Left(999), 1000.0f);
    EXPECT_FLOAT_EQ(Left(1000), 0.0f);
    EXPECT_FLOAT_EQ(Right(1199), 0.0f);
    EXPECT_EQ(voice.sample, nullptr);
    EXPECT_EQ(voice.position, 0u);
    // A silent voice adds nothing.
    MixVoice(mixer(), &voice, out.data() + 2000, 10);
    EXPECT_FLOAT_EQ(Left(1000), 0.0f);
}

TEST_F(MixerVoiceTest, EmptySamplesAndStartsBeyondTheEndStopAtOnce) {
    Voice voice = SteadyVoice(&silentSample);
    MixVoice(mixer(), &voice, out.data(), 16);
    EXPECT_EQ(voice.sample, nullptr);
    EXPECT_FLOAT_EQ(Left(0), 0.0f);

    TestSample s(std::vector<int16_t>(100, 1000), LOOP_NONE, 0, 0);
    voice = SteadyVoice(&s.sample);
    voice.position = 0xFFFFFF00u; // an offset far past the end
    MixVoice(mixer(), &voice, out.data(), 16);
    EXPECT_EQ(voice.sample, nullptr);
    EXPECT_FLOAT_EQ(Left(0), 0.0f);

    TestSample looped(Ramp(100), LOOP_FORWARD, 50, 50);
    voice = SteadyVoice(&looped.sample);
    voice.position = 0xFFFFFF00u;
    MixVoice(mixer(), &voice, out.data(), 16);
    ASSERT_NE(voice.sample, nullptr);
    EXPECT_GE(voice.position, 50u);
    EXPECT_LT(voice.position, 100u);
}

TEST_F(MixerVoiceTest, AWaitingSampleTakesOverExactlyWhereTheLoopOrTheSampleEnds) {
    // The playing sample holds 1000 everywhere; the waiting one rises by 10 per frame, so
    // each output frame (nearest point, 3 frames a step) tells which sample it was read from.
    struct Case {
        const char* what;
        uint8_t playingLoop, waitingLoop;
        int firstNew;      // the first output frame read from the waiting sample (-1: none)
        uint32_t position; // where the voice stands after 40 frames
        bool sounding;     // ...and whether it still plays
    };
    const Case cases[] = {
        // From 3: the seventh step lands on 21, one past the end at 20; output frame 6 reads
        // the new loop (50..60) one frame in, and the 33 later steps wrap inside it.
        {"a loop's end", LOOP_FORWARD, LOOP_FORWARD, 6, 50 + (1 + 3 * 34) % 10, true},
        {"a sample's end", LOOP_NONE, LOOP_FORWARD, 6, 50 + (1 + 3 * 34) % 10, true},
        {"a waiting sample without a loop stops the voice", LOOP_FORWARD, LOOP_NONE, -1, 0, false},
        {"a ping-pong loop does not swap", LOOP_PINGPONG, LOOP_FORWARD, -1, 0, true},
    };
    for (const Case& c : cases) {
        TestSample playing(std::vector<int16_t>(20, 1000), c.playingLoop, 10, 10);
        TestSample waiting(Ramp(80), c.waitingLoop, 50, 10);
        Voice voice = SteadyVoice(&playing.sample);
        voice.position = 3;
        voice.increment = 3;
        voice.pendingSample = &waiting.sample;
        std::fill(out.begin(), out.end(), 0.0f);
        MixVoice(mixer(), &voice, out.data(), 40, Interpolation::None);
        for (int f = 0; f < 40; ++f) {
            const bool fromNew = c.firstNew >= 0 && f >= c.firstNew;
            if (fromNew) {
                ASSERT_GE(Left(f), 500.0f) << c.what << " frame " << f;
                ASSERT_LT(Left(f), 600.0f) << c.what << " frame " << f;
            } else if (c.sounding || f < 6) {
                ASSERT_FLOAT_EQ(Left(f), 1000.0f) << c.what << " frame " << f;
            } else {
                ASSERT_FLOAT_EQ(Left(f), 0.0f) << c.what << " frame " << f;
            }
        }
        if (c.firstNew == 6) {
            EXPECT_FLOAT_EQ(Left(6), 510.0f) << c.what;
        }
        EXPECT_EQ(voice.sample != nullptr, c.sounding) << c.what;
        if (c.firstNew >= 0) {
            EXPECT_EQ(voice.sample, &waiting.sample) << c.what;
            EXPECT_EQ(voice.position, c.position) << c.what;
            EXPECT_EQ(voice.pendingSample, nullptr) << c.what;
        }
    }
}

TEST_F(MixerVoiceTest, RampFromSilenceReachesFullGainAfterExactlyRampLengthFrames) {
    ASSERT_EQ(mixer().rampLength, 128);
    TestSample s(std::vector<int16_t>(1000, 1000), LOOP_NONE, 0, 0);
    Voice voice = SteadyVoice(&s.sample);
    voice.currentLeft = voice.currentRight = 0; // a trigger
    voice.rampFrames = 0;
    MixVoice(mixer(), &voice, out.data(), 300);
    EXPECT_FLOAT_EQ(Left(0), 0.0f);
    EXPECT_NEAR(Left(64), 500.0f, 0.5f);
    EXPECT_LT(Left(127), 1000.0f - 5.0f);
    EXPECT_FLOAT_EQ(Left(128), 1000.0f);
    EXPECT_FLOAT_EQ(Right(299), 1000.0f);
    EXPECT_EQ(voice.rampFrames, 0);
    EXPECT_EQ(voice.currentLeft, 255 * 256);
    EXPECT_EQ(voice.rampStepLeft, 0.0f);
}

TEST_F(MixerVoiceTest, RampCutByABlockEndContinuesWithTheSameStep) {
    TestSample s(std::vector<int16_t>(1000, 1000), LOOP_NONE, 0, 0);
    Voice voice = SteadyVoice(&s.sample);
    voice.currentLeft = voice.currentRight = 0;
    MixVoice(mixer(), &voice, out.data(), 50);
    EXPECT_EQ(voice.rampFrames, 78);
    const float step = voice.rampStepLeft;
    EXPECT_NEAR(step, 1.0f / 128.0f, 1e-6);
    EXPECT_NEAR(voice.currentLeft, 50 * 255 * 2, 2); // 50/128 of 255 * 256
    MixVoice(mixer(), &voice, out.data() + 100, 100);
    EXPECT_EQ(voice.rampStepLeft, 0.0f);
    EXPECT_NEAR(Left(50), 50 * 1000.0f / 128.0f, 0.5f);
    EXPECT_NEAR(Left(127), 127 * 1000.0f / 128.0f, 0.5f);
    EXPECT_FLOAT_EQ(Left(128), 1000.0f);
}

TEST_F(MixerVoiceTest, NewTargetDuringARampStartsAFullRampFromTheGainReached) {
    TestSample s(std::vector<int16_t>(1000, 1000), LOOP_NONE, 0, 0);
    Voice voice = SteadyVoice(&s.sample);
    voice.currentLeft = voice.currentRight = 0;
    MixVoice(mixer(), &voice, out.data(), 64); // halfway up
    voice.volumeLeft = voice.volumeRight = 0;
    MixVoice(mixer(), &voice, out.data() + 128, 200);
    EXPECT_EQ(voice.rampFrames, 0);
    EXPECT_NEAR(Left(64), 500.0f, 1.0f);
    EXPECT_NEAR(Left(64 + 64), 250.0f, 1.0f);
    // The ramp down starts from the integer volume reached (127 of 127.5).
    EXPECT_NEAR(Left(64 + 127), 1000.0f * (0.5f - 127.0f * 127.0f / (255.0f * 128.0f)), 0.1f);
    EXPECT_FLOAT_EQ(Left(64 + 128), 0.0f);
}

TEST_F(MixerVoiceTest, RampOnOneSideLeavesTheOtherConstant) {
    TestSample s(std::vector<int16_t>(1000, 1000), LOOP_NONE, 0, 0);
    Voice voice = SteadyVoice(&s.sample, 100);
    voice.volumeLeft = 200;
    MixVoice(mixer(), &voice, out.data(), 200);
    EXPECT_EQ(voice.rampStepRight, 0.0f);
    for (int f = 0; f < 200; ++f) ASSERT_NEAR(Right(f), 1000.0f * 100 / 255, 1e-2) << f;
    EXPECT_NEAR(Left(0), 1000.0f * 100 / 255, 1e-2);
    EXPECT_NEAR(Left(64), 1000.0f * 150 / 255, 0.5f);
    EXPECT_FLOAT_EQ(Left(199), 1000.0f * 200 * (1.0f / 255.0f));
}

TEST_F(MixerVoiceTest, RampAndLoopBoundaryInTheSameRun) {
    // A ping-pong loop of 10 frames bounces several times during one 128-frame ramp.
    TestSample s(std::vector<int16_t>(20, 1000), LOOP_PINGPONG, 5, 10);
    Voice voice = SteadyVoice(&s.sample);
    voice.currentLeft = voice.currentRight = 0;
    MixVoice(mixer(), &voice, out.data(), 300);
    for (int f = 1; f < 128; ++f) ASSERT_GT(Left(f), Left(f - 1)) << f;
    EXPECT_FLOAT_EQ(Left(128), 1000.0f);
    EXPECT_FLOAT_EQ(Left(299), 1000.0f);
}

TEST(MixerConversion, RoundsTiesToEvenAndClips) {
    const std::vector<float> in = {32767.4f, 40000.0f,  -40000.0f, 2.5f,  3.5f,
                                   -2.5f,    -32768.0f, -32768.6f, 0.49f, NAN};
    std::vector<int16_t> pcm(in.size(), 123);
    ConvertToPcm16(pcm.data(), in.data(), static_cast<int32_t>(in.size() / 2));
    EXPECT_EQ(pcm, (std::vector<int16_t>{32767, 32767, -32768, 2, 4, -2, -32768, -32768, 0, 0}));
    std::vector<int16_t> untouched(2, 7);
    ConvertToPcm16(untouched.data(), in.data(), 0);
    ConvertToPcm16(untouched.data(), nullptr, 1);
    EXPECT_EQ(untouched, (std::vector<int16_t>{7, 7}));
}

TEST(MixerVoices, ThreeFullScaleVoicesClipInsteadOfWrapping) {
    PlayerAt44100 player;
    ASSERT_NE(player.get(), nullptr);
    std::vector<int16_t> full(100, 32767);
    TestSample s(full, LOOP_FORWARD, 0, 100);
    for (int v = 0; v < 3; ++v) player->voices[v] = SteadyVoice(&s.sample, 127);
    std::vector<float> mix(2 * 16, 0.0f);
    MixVoices(player.get(), mix.data(), 16);
    EXPECT_NEAR(mix[0], 3 * 32767.0f * 127 / 255, 1.0f); // about 49000
    std::vector<int16_t> pcm(2 * 16);
    ConvertToPcm16(pcm.data(), mix.data(), 16);
    EXPECT_EQ(pcm[0], 32767);
    EXPECT_EQ(pcm[31], 32767);
}

TEST(MixerVoices, EveryVoiceOfTheTableIsMixedAndEmptyCountsDoNothing) {
    PlayerAt44100 player;
    ASSERT_NE(player.get(), nullptr);
    TestSample s(std::vector<int16_t>(100, 1000), LOOP_FORWARD, 0, 100);
    player->voices[0] = SteadyVoice(&s.sample);
    player->voices[MIXED_VOICES - 1] = SteadyVoice(&s.sample); // the last partner voice
    std::vector<float> mix(2 * 4, 0.0f);
    MixVoices(player.get(), mix.data(), 0);
    MixVoices(player.get(), mix.data(), -5);
    EXPECT_EQ(mix[0], 0.0f);
    EXPECT_EQ(player->voices[0].position, 0u);
    MixVoices(player.get(), mix.data(), 4);
    EXPECT_FLOAT_EQ(mix[0], 2000.0f);
    EXPECT_FLOAT_EQ(mix[7], 2000.0f);
    EXPECT_EQ(player->voices[MIXED_VOICES - 1].position, 4u);
}

} // namespace
