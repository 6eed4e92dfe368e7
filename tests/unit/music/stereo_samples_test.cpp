// Stereo samples (type bit 0x20: the left channel's frames, then the right's, each delta-coded
// on its own): the loader keeps the frames as one run, as the demo has always played them, and
// adds a record of the two channels side by side, which the standard rules play and the mixer
// sends to the two output channels.
#include "loader_helpers.h"
#include "sequencer_harness.h"

#include <vector>

#include "music/mixer.h"
#include "music/player.h"

namespace {

const std::vector<int> left{10, 20, -30, 100};
const std::vector<int> right{-5, 50, 120, -128};

// The channels' plain values delta-coded one after the other, each from 0, as 8-bit bytes.
std::vector<uint8_t> StereoBytes() {
    std::vector<uint8_t> bytes;
    for (const std::vector<int>* channel : {&left, &right}) {
        int previous = 0;
        for (int value : *channel) {
            bytes.push_back(static_cast<uint8_t>(value - previous));
            previous = value;
        }
    }
    return bytes;
}

// One instrument whose sample is the stereo pair above, in a ping-pong loop over all of it.
xmw::Song StereoSong() {
    xmw::Song song = seqtest::BasicSong(1, 4);
    xmw::Sample& sample = song.instruments[0].samples[0];
    sample.rawType = 0x20 | 0x02;
    sample.rawLengthBytes = 8;
    sample.rawLoopStartBytes = 0;
    sample.rawLoopLengthBytes = 8;
    sample.rawData = StereoBytes();
    song.patterns[0].At(0, 0) = seqtest::Cell("C-4", 1);
    return song;
}

TEST(StereoSamples, TheLoaderKeepsOneRunAndAddsTheChannelsSideBySide) {
    const ModulePtr module = LoadSong(StereoSong());
    ASSERT_NE(module, nullptr);
    const Sample* sample = module->instruments[0].samples[0];
    // The one run, decoded as one delta chain: the right frames carry the left's last value.
    EXPECT_EQ(sample->channels, 2);
    ASSERT_EQ(sample->length, 8u);
    EXPECT_EQ(sample->loopLength, 8u);
    EXPECT_EQ(sample->right, nullptr);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(sample->data[k], left[k] * 256) << k;
        EXPECT_EQ(sample->data[4 + k], static_cast<int8_t>(right[k] + left[3]) * 256) << k;
    }
    const Sample* stereo = sample->stereo;
    ASSERT_NE(stereo, nullptr);
    EXPECT_EQ(stereo->stereo, nullptr);
    EXPECT_EQ(stereo->id, sample->id) << "the same sample for its finetune";
    ASSERT_EQ(stereo->length, 4u);
    EXPECT_EQ(stereo->loopStart, 0u);
    EXPECT_EQ(stereo->loopLength, 4u);
    EXPECT_EQ(stereo->loopKind, LOOP_PINGPONG);
    ASSERT_NE(stereo->right, nullptr);
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(stereo->data[k], left[k] * 256) << k;
        EXPECT_EQ(stereo->right[k], right[k] * 256) << k;
    }
    // Each channel has the ping-pong loop's end copy the interpolation reads.
    EXPECT_EQ(stereo->data[4], left[3] * 256);
    EXPECT_EQ(stereo->right[4], right[3] * 256);
}

TEST(StereoSamples, MonoSamplesHaveNoStereoRecord) {
    const ModulePtr module = LoadSong(SongWithSamples({EightBit({1, 2, 3, 4})}));
    ASSERT_NE(module, nullptr);
    const Sample* sample = module->instruments[0].samples[0];
    EXPECT_EQ(sample->channels, 1);
    EXPECT_EQ(sample->stereo, nullptr);
    EXPECT_EQ(sample->right, nullptr);
}

TEST(StereoSamples, TheStandardRulesPlayTheChannelsTheDemosRulesTheRun) {
    const xmw::Song song = StereoSong();
    for (const PlayerRules rules : {PlayerRules::Standard, PlayerRules::Demo}) {
        seqtest::Harness harness(song, rules);
        ASSERT_TRUE(harness.loaded());
        harness.Tick();
        const Sample* playing = harness.channel(0).voice->sample;
        const Sample* loaded = harness.module()->instruments[0].samples[0];
        if (rules == PlayerRules::Standard)
            EXPECT_EQ(playing, loaded->stereo);
        else
            EXPECT_EQ(playing, loaded);
    }
}

TEST(StereoSamples, TheMixerSendsEachChannelToItsSide) {
    const ModulePtr module = LoadSong(StereoSong());
    ASSERT_NE(module, nullptr);
    const Sample* stereo = module->instruments[0].samples[0]->stereo;
    ASSERT_NE(stereo, nullptr);
    Player* player = CreatePlayer(module.get(), 44100, PlayerRules::Standard);
    ASSERT_NE(player, nullptr);
    // At full gain, steady and with the right side ramping up: the left channel's frames go to
    // the first output channel, the right's to the second.
    for (const bool ramp : {false, true}) {
        Voice voice{};
        voice.sample = stereo;
        voice.increment = 1;
        voice.direction = 1;
        voice.volumeLeft = voice.rampTargetLeft = 255;
        voice.volumeRight = voice.rampTargetRight = 255;
        voice.currentLeft = 255 * 256;
        voice.currentRight = ramp ? 0 : 255 * 256;
        voice.rampFrames = 0;
        std::vector<float> out(2 * 4, 0.0f);
        MixVoice(player->mixer, &voice, out.data(), 4);
        for (int k = 0; k < 4; ++k) {
            EXPECT_FLOAT_EQ(out[2 * k], static_cast<float>(left[k] * 256)) << k;
            if (ramp) {
                // The right side ramps up from 0 by 1/128 of full gain a frame.
                EXPECT_NEAR(out[2 * k + 1], right[k] * 256.0f * k / 128.0f, 0.01f) << k;
            } else {
                EXPECT_FLOAT_EQ(out[2 * k + 1], static_cast<float>(right[k] * 256)) << k;
            }
        }
    }
    DestroyPlayer(player);
}

} // namespace
