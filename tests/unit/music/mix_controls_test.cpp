// The listener's controls as the player renders them: stereo separation, master gain, mute and
// solo per track (both voices of a track), the volume ramp's length, the 16-bit limiter, and
// when a change made while the player plays is heard.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "memory_files.h"
#include "music/mixer.h"
#include "music/module.h"
#include "music/player.h"
#include "xm_writer.h"

namespace {

constexpr int32_t RATE = 44100;
constexpr int32_t BLOCK = BlockFrames(RATE);

struct ModuleFree {
    void operator()(Module* module) const { FreeModule(module); }
};
using ModulePtr = std::unique_ptr<Module, ModuleFree>;

xmw::Sample Looped(std::vector<int32_t> values, uint8_t panning) {
    xmw::Sample sample;
    sample.values = std::move(values);
    sample.loop = xmw::Loop::Forward;
    sample.loopLength = static_cast<uint32_t>(sample.values.size());
    sample.panning = panning;
    return sample;
}

// Tracks 0-2 (of four) each play a sample of their own, panned apart; track 1 plays a second
// note on row 2, so its first note ramps out on the track's other voice. `volume` is each note's
// volume column (0x10-0x50), `tracks` how many of the three tracks play; a `laterVolume` sets
// every track's volume on row 8.
ModulePtr ThreeTracks(uint8_t volume = 0x50, int tracks = 3, uint8_t laterVolume = 0) {
    xmw::Song song;
    song.channels = 4;
    song.orders = {0};
    xmw::Pattern pattern = song.MakePattern(16);
    std::vector<int32_t> square, saw, flat;
    for (int i = 0; i < 64; ++i) {
        square.push_back(i < 32 ? 100 : -100);
        saw.push_back(i * 4 - 128);
        flat.push_back(90);
    }
    const std::vector<int32_t>* shapes[] = {&square, &saw, &flat};
    const uint8_t pannings[] = {16, 240, 128};
    for (int t = 0; t < 3; ++t) {
        xmw::Instrument instrument;
        instrument.samples.push_back(Looped(*shapes[t], pannings[t]));
        song.instruments.push_back(instrument);
        if (t < tracks)
            pattern.At(0, t) = PatternCell{xmw::NoteNumber(t == 1 ? "E-4" : "C-4"),
                                           static_cast<uint8_t>(t + 1), volume, 0, 0};
    }
    if (tracks > 1) pattern.At(2, 1) = PatternCell{xmw::NoteNumber("G-4"), 2, volume, 0, 0};
    if (laterVolume)
        for (int t = 0; t < 3; ++t) pattern.At(8, t).volumeColumn = laterVolume;
    song.patterns.push_back(pattern);
    return ModulePtr(LoadModuleBytes(xmw::WriteXm(song)));
}

struct Render {
    std::vector<float> floats;
    std::vector<int16_t> pcm;
};

// `frames` frames of a fresh player with `controls`, as float (`asFloat`) or as 16-bit PCM.
Render RenderWith(const Module* module, const MixControls& controls, int32_t frames,
                  bool asFloat = true, PlayerRules rules = PlayerRules::Standard) {
    Player* player = CreatePlayer(module, RATE, rules);
    EXPECT_NE(player, nullptr);
    Render out;
    if (!player) return out;
    player->controls = controls;
    if (asFloat) {
        out.floats.resize(2 * static_cast<size_t>(frames));
        RenderFloat(player, out.floats.data(), frames);
    } else {
        out.pcm.resize(2 * static_cast<size_t>(frames));
        RenderPcm16(player, out.pcm.data(), frames);
    }
    DestroyPlayer(player);
    return out;
}

MixControls With(void (*set)(MixControls&)) {
    MixControls controls;
    set(controls);
    return controls;
}

TEST(MixControls, SeparationScalesTheSidesAboutTheirMiddle) {
    const ModulePtr song = ThreeTracks();
    ASSERT_NE(song, nullptr);
    const int32_t frames = 4 * BLOCK;
    const std::vector<float> wide = RenderWith(song.get(), MixControls{}, frames).floats;
    double side = 0;
    for (int32_t k = 0; k < frames; ++k) side += std::fabs(wide[2 * k] - wide[2 * k + 1]);
    ASSERT_GT(side, 1.0); // the song is not mono at 100 %
    for (int32_t percent : {0, 35, 150, 200}) {
        SCOPED_TRACE(percent);
        MixControls controls;
        controls.separation = percent;
        const std::vector<float> got = RenderWith(song.get(), controls, frames).floats;
        const float width = static_cast<float>(percent) / 100.0f;
        for (int32_t k = 0; k < frames; ++k) {
            const float mid = (wide[2 * k] + wide[2 * k + 1]) / 2;
            const float half = (wide[2 * k] - wide[2 * k + 1]) / 2;
            ASSERT_NEAR(got[2 * k], mid + width * half, 1e-6f) << k;
            ASSERT_NEAR(got[2 * k + 1], mid - width * half, 1e-6f) << k;
        }
    }
}

TEST(MixControls, GainScalesTheMixWithinItsRange) {
    const ModulePtr song = ThreeTracks();
    ASSERT_NE(song, nullptr);
    const std::vector<float> plain = RenderWith(song.get(), MixControls{}, 2 * BLOCK).floats;
    const struct {
        float set;
        float heard; // dB: settings outside the range are held at its ends
    } cases[] = {
        {6.0f, 6.0f}, {-12.5f, -12.5f}, {-60.0f, -60.0f}, {40.0f, 24.0f}, {-90.0f, -60.0f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.set);
        MixControls controls;
        controls.gainDb = c.set;
        const std::vector<float> got = RenderWith(song.get(), controls, 2 * BLOCK).floats;
        const float factor = std::pow(10.0f, c.heard / 20.0f);
        for (size_t k = 0; k < got.size(); ++k)
            ASSERT_NEAR(got[k], plain[k] * factor, 1e-5f * factor + 1e-7f) << k;
    }
}

TEST(MixControls, MuteAndSoloSilenceWholeTracksAndNothingElse) {
    const ModulePtr song = ThreeTracks();
    const ModulePtr firstOnly = ThreeTracks(0x50, 1);
    ASSERT_NE(song, nullptr);
    ASSERT_NE(firstOnly, nullptr);
    const int32_t frames = 16 * BLOCK; // past track 1's second note (frame 10584) and the ramp out
    const std::vector<int16_t> alone = RenderWith(firstOnly.get(), {}, frames, false).pcm;
    // Tracks 1 and 2 left out in three ways, each the song without their notes, to the byte.
    const MixControls ways[] = {
        With([](MixControls& c) { c.muted = 0b110; }),
        With([](MixControls& c) { c.solo = 0b001; }),
        With([](MixControls& c) { c.solo = 0b011, c.muted = 0b010; }),
    };
    for (const MixControls& controls : ways) {
        SCOPED_TRACE(::testing::Message()
                     << "muted " << controls.muted << " solo " << controls.solo);
        EXPECT_EQ(RenderWith(song.get(), controls, frames, false).pcm, alone);
    }
    // The solos of each track add up to the whole mix.
    const std::vector<float> all = RenderWith(song.get(), {}, frames).floats;
    std::vector<float> sum(all.size(), 0.0f);
    for (uint32_t track = 0; track < 4; ++track) {
        MixControls controls;
        controls.solo = 1u << track;
        const std::vector<float> part = RenderWith(song.get(), controls, frames).floats;
        for (size_t k = 0; k < sum.size(); ++k) sum[k] += part[k];
    }
    for (size_t k = 0; k < sum.size(); ++k) ASSERT_NEAR(sum[k], all[k], 1e-5f) << k;
}

TEST(MixControls, AMutedTrackPlaysOnUnheardAndComesBackInPlace) {
    const ModulePtr song = ThreeTracks();
    ASSERT_NE(song, nullptr);
    const int32_t frames = 18 * BLOCK;
    const std::vector<int16_t> straight = RenderWith(song.get(), {}, frames, false).pcm;
    Player* player = CreatePlayer(song.get(), RATE, PlayerRules::Standard);
    ASSERT_NE(player, nullptr);
    std::vector<int16_t> got(2 * static_cast<size_t>(frames));
    RenderPcm16(player, got.data(), 10 * BLOCK);
    // Four blocks without track 1, its second note (frame 10584) and its first's ramp out among
    // them.
    player->controls.muted = 0b010;
    RenderPcm16(player, got.data() + 2 * 10 * BLOCK, 4 * BLOCK);
    player->controls.muted = 0;
    RenderPcm16(player, got.data() + 2 * 14 * BLOCK, 4 * BLOCK);
    DestroyPlayer(player);
    const auto at = [](const std::vector<int16_t>& v, int32_t from, int32_t to) {
        return std::vector<int16_t>(v.begin() + 2 * from * BLOCK, v.begin() + 2 * to * BLOCK);
    };
    EXPECT_NE(at(got, 10, 14), at(straight, 10, 14));
    EXPECT_EQ(at(got, 14, 18), at(straight, 14, 18));
}

TEST(MixControls, AChangeWhilePlayingIsHeardFromTheNextBlock) {
    const ModulePtr song = ThreeTracks();
    ASSERT_NE(song, nullptr);
    const struct {
        const char* what;
        void (*set)(MixControls&);
    } changes[] = {
        {"gain", [](MixControls& c) { c.gainDb = -6.0f; }},
        {"separation", [](MixControls& c) { c.separation = 0; }},
        {"interpolation", [](MixControls& c) { c.interpolation = Interpolation::Sinc; }},
        {"mute", [](MixControls& c) { c.muted = 1; }},
        {"limiter on a quiet song", [](MixControls& c) { c.limiter = true; }},
    };
    const int32_t frames = 3 * BLOCK;
    const std::vector<int16_t> straight = RenderWith(song.get(), {}, frames, false).pcm;
    for (const auto& change : changes) {
        SCOPED_TRACE(change.what);
        Player* player = CreatePlayer(song.get(), RATE, PlayerRules::Standard);
        ASSERT_NE(player, nullptr);
        std::vector<int16_t> got(2 * static_cast<size_t>(frames));
        RenderPcm16(player, got.data(), BLOCK + 100);
        change.set(player->controls);
        RenderPcm16(player, got.data() + 2 * (BLOCK + 100), frames - BLOCK - 100);
        DestroyPlayer(player);
        const auto at = [](const std::vector<int16_t>& v, int32_t from, int32_t to) {
            return std::vector<int16_t>(v.begin() + 2 * from, v.begin() + 2 * to);
        };
        EXPECT_EQ(at(got, 0, 2 * BLOCK), at(straight, 0, 2 * BLOCK)); // the block under way
        if (std::string(change.what) == "limiter on a quiet song")
            EXPECT_EQ(at(got, 2 * BLOCK, frames), at(straight, 2 * BLOCK, frames));
        else
            EXPECT_NE(at(got, 2 * BLOCK, frames), at(straight, 2 * BLOCK, frames));
    }
}

TEST(MixControls, TheRampLengthSetsHowLongANoteTakesToReachItsLevel) {
    const ModulePtr song = ThreeTracks(0x50, 3);
    ASSERT_NE(song, nullptr);
    const struct {
        int32_t rampMs;
        int32_t frames; // the ramp's length
    } cases[] = {{-1, 128}, {0, 1}, {10, 441}, {100, 4410}, {400, 4410}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rampMs);
        MixControls controls;
        controls.rampMs = c.rampMs;
        controls.solo = 0b100; // the flat sample: the level is the output
        const std::vector<float> got = RenderWith(song.get(), controls, 6 * BLOCK).floats;
        const float level = got[2 * (6 * BLOCK - 1)];
        ASSERT_GT(level, 0.01f);
        int32_t reached = 0;
        while (got[2 * reached] < level * 0.999f) ++reached;
        EXPECT_NEAR(reached, c.frames, 1 + c.frames / 500);
        if (c.frames > 2) {
            EXPECT_NEAR(got[2 * (c.frames / 2)], level / 2, level * 0.01f);
        }
    }
}

TEST(MixControls, TheLimiterKeepsLoud16BitOutputBelowFullScaleAndLeavesTheRestAlone) {
    const ModulePtr loud = ThreeTracks(0x50, 3, 0x18); // quiet from row 8 (frame 42336) on
    const ModulePtr quiet = ThreeTracks(0x20);
    ASSERT_NE(loud, nullptr);
    ASSERT_NE(quiet, nullptr);
    const int32_t frames = 90 * BLOCK;
    MixControls boost;
    boost.gainDb = 12.0f;
    MixControls limited = boost;
    limited.limiter = true;
    const auto clipped = [](const std::vector<int16_t>& pcm) {
        int32_t n = 0;
        for (int16_t v : pcm) n += v >= 32767 || v <= -32767;
        return n;
    };
    const std::vector<int16_t> hard = RenderWith(loud.get(), boost, frames, false).pcm;
    const std::vector<int16_t> soft = RenderWith(loud.get(), limited, frames, false).pcm;
    ASSERT_GT(clipped(hard), 1000);
    EXPECT_EQ(clipped(soft), 0);
    // Once the song is quiet again the limiter lets go within its release (200 ms): the same
    // bytes as without it from a quarter of a second after row 8 on.
    const size_t quietFrom = 2 * (42336 + RATE / 4);
    ASSERT_EQ(clipped(std::vector<int16_t>(hard.begin() + quietFrom, hard.end())), 0);
    EXPECT_NE(soft[quietFrom - 2 * RATE / 4 - 2], hard[quietFrom - 2 * RATE / 4 - 2]);
    EXPECT_EQ(std::vector<int16_t>(soft.begin() + quietFrom, soft.end()),
              std::vector<int16_t>(hard.begin() + quietFrom, hard.end()));
    // Float output is never limited.
    EXPECT_EQ(RenderWith(loud.get(), limited, frames).floats,
              RenderWith(loud.get(), boost, frames).floats);
    // A song that never reaches full scale comes out the same to the byte, for both rule sets.
    for (PlayerRules rules : {PlayerRules::Standard, PlayerRules::Demo}) {
        MixControls on;
        on.limiter = true;
        const std::vector<int16_t> plain = RenderWith(quiet.get(), {}, frames, false, rules).pcm;
        ASSERT_EQ(clipped(plain), 0);
        EXPECT_EQ(RenderWith(quiet.get(), on, frames, false, rules).pcm, plain);
    }
}

} // namespace
