// api_test.cpp: the public interface as a program that links the library meets it: load errors
// with their codes and sentences, song facts and pattern rows, players rendering in any split,
// the configuration and its ranges, the repeat count, positions, seeking, channel states and
// events, the caller's streams, songs that may not be freed while played, and the C++ layer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "neatxm.h"
#include "neatxm.hpp"
#include "xm_writer.h"

namespace {

// Two orders of one 16-row pattern at speed 3: 96 ticks of 882 frames at 44100 Hz. A note on
// channel 0 starts a looping 16-bit ramp panned hard to one side; row 8 of channel 1 holds a
// key-off with an effect.
xmw::Song TwoOrderSong(uint8_t panning = 255) {
    xmw::Song song;
    song.name = "api test song";
    song.trackerName = "writer";
    song.channels = 2;
    song.speed = 3;
    song.orders = {0, 0};
    xmw::Pattern pattern = song.MakePattern(16);
    pattern.At(0, 0) = PatternCell{xmw::NoteNumber("C-4"), 1, 0, 0, 0};
    pattern.At(8, 1) = PatternCell{255, 0, 0x40, 0x0C, 0x20};
    song.patterns.push_back(pattern);
    xmw::Instrument instrument;
    instrument.name = "ramp";
    xmw::Sample sample;
    sample.name = "ramp sample";
    sample.sixteenBit = true;
    for (int i = 0; i < 1024; ++i) sample.values.push_back((i % 64) * 400 - 12800);
    sample.loop = xmw::Loop::Forward;
    sample.loopLength = 1024;
    sample.panning = panning;
    instrument.samples.push_back(sample);
    song.instruments.push_back(instrument);
    return song;
}

constexpr int64_t TICK_FRAMES = 882;
constexpr int64_t ROW_FRAMES = 3 * TICK_FRAMES;
constexpr int64_t TWO_ORDER_FRAMES = 2 * 16 * ROW_FRAMES;

struct SongFile {
    std::vector<uint8_t> bytes;
    neatxm_song* song = nullptr;
    explicit SongFile(const xmw::Song& source) : bytes(xmw::WriteXm(source)) {
        char message[256];
        EXPECT_EQ(
            neatxm_song_load_memory(bytes.data(), bytes.size(), &song, message, sizeof message),
            NEATXM_OK)
            << message;
    }
    ~SongFile() {
        if (song) {
            EXPECT_EQ(neatxm_song_free(song), NEATXM_OK);
        }
    }
};

neatxm_player* MakePlayer(const neatxm_song* song, neatxm_rules rules = NEATXM_RULES_STANDARD,
                          int32_t rate = 44100) {
    neatxm_player_config config = NEATXM_PLAYER_CONFIG_INIT;
    config.rules = rules;
    config.rate = rate;
    neatxm_player* player = nullptr;
    EXPECT_EQ(neatxm_player_create(song, &config, &player, nullptr, 0), NEATXM_OK);
    return player;
}

std::vector<int16_t> Render(neatxm_player* player, const std::vector<size_t>& pieces) {
    std::vector<int16_t> out;
    for (size_t piece : pieces) {
        std::vector<int16_t> buffer(piece * 2);
        const size_t got = neatxm_player_render_s16(player, buffer.data(), piece);
        out.insert(out.end(), buffer.begin(), buffer.begin() + 2 * got);
    }
    return out;
}

neatxm_position PositionOf(const neatxm_player* player) {
    neatxm_position position = NEATXM_POSITION_INIT;
    EXPECT_EQ(neatxm_player_get_position(player, &position), NEATXM_OK);
    return position;
}

TEST(Api, LoadFailuresGiveACodeAndASentence) {
    char message[256];
    neatxm_song* song = reinterpret_cast<neatxm_song*>(&message); // must be cleared
    EXPECT_EQ(neatxm_song_load_file("/nonexistent/folder/song.xm", &song, message, sizeof message),
              NEATXM_ERROR_CANNOT_OPEN);
    EXPECT_EQ(song, nullptr);
    EXPECT_NE(std::string(message).find("song.xm"), std::string::npos) << message;

    const char text[] = "this is not a module at all, just some words";
    EXPECT_EQ(neatxm_song_load_memory(text, sizeof text, &song, message, sizeof message),
              NEATXM_ERROR_NOT_MODULE);
    EXPECT_GT(std::strlen(message), 10u);
    // The sentence is cut to the caller's buffer, and a missing buffer is allowed.
    char small[8];
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(neatxm_song_load_memory(text, sizeof text, &song, small, sizeof small),
              NEATXM_ERROR_NOT_MODULE);
    EXPECT_EQ(std::strlen(small), 7u);
    EXPECT_EQ(neatxm_song_load_memory(text, sizeof text, &song, nullptr, 0),
              NEATXM_ERROR_NOT_MODULE);
    EXPECT_EQ(neatxm_song_load_memory(text, sizeof text, nullptr, message, sizeof message),
              NEATXM_ERROR_ARGUMENT);

    // A file cut inside its song header cannot be read; one cut inside its sample data plays
    // what it holds.
    std::vector<uint8_t> bytes = xmw::WriteXm(TwoOrderSong());
    EXPECT_EQ(neatxm_song_load_memory(bytes.data(), 70, &song, message, sizeof message),
              NEATXM_ERROR_TRUNCATED);
    EXPECT_STREQ(message, "the header runs past the end of the file");
    EXPECT_EQ(
        neatxm_song_load_memory(bytes.data(), bytes.size() - 100, &song, message, sizeof message),
        NEATXM_OK);
    EXPECT_STREQ(message, "");
    EXPECT_EQ(neatxm_song_free(song), NEATXM_OK);
}

TEST(Api, EveryCodeHasItsOwnTextAndTheVersionIsTheHeaders) {
    std::set<std::string> texts;
    for (int code = NEATXM_OK; code <= NEATXM_ERROR_RECORD_SIZE; ++code)
        texts.insert(neatxm_error_text(static_cast<neatxm_error>(code)));
    EXPECT_EQ(texts.size(), size_t(NEATXM_ERROR_RECORD_SIZE + 1));
    EXPECT_EQ(texts.count("unknown error"), 0u);
    EXPECT_STREQ(neatxm_error_text(static_cast<neatxm_error>(99)), "unknown error");

    EXPECT_EQ(neatxm_version(), uint32_t(NEATXM_VERSION));
    EXPECT_EQ(neatxm_version() >> 16, 2u);
    EXPECT_EQ(std::string(neatxm_version_text()), std::to_string(NEATXM_VERSION_MAJOR) + "." +
                                                      std::to_string(NEATXM_VERSION_MINOR) + "." +
                                                      std::to_string(NEATXM_VERSION_PATCH));
}

TEST(Api, SongFactsAndPatternRowsComeFromTheFile) {
    SongFile file(TwoOrderSong());
    ASSERT_NE(file.song, nullptr);
    neatxm_song_info info = NEATXM_SONG_INFO_INIT;
    ASSERT_EQ(neatxm_song_get_info(file.song, &info), NEATXM_OK);
    EXPECT_EQ(info.format, NEATXM_FORMAT_XM);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.orders, 2);
    EXPECT_EQ(info.patterns, 1);
    EXPECT_EQ(info.instruments, 1);
    EXPECT_EQ(info.samples, 1);
    EXPECT_EQ(info.linear_frequencies, 1);
    EXPECT_EQ(info.default_speed, 3);
    EXPECT_EQ(info.default_bpm, 125);
    EXPECT_EQ(info.version, 0x0104);
    EXPECT_DOUBLE_EQ(info.length_seconds, TWO_ORDER_FRAMES / 44100.0);
    EXPECT_EQ(std::string(neatxm_song_title(file.song)).rfind("api test song", 0), 0u);
    EXPECT_EQ(std::string(neatxm_song_tracker(file.song)).rfind("writer", 0), 0u);
    EXPECT_EQ(std::string(neatxm_song_instrument_name(file.song, 0)).rfind("ramp", 0), 0u);
    EXPECT_EQ(neatxm_song_instrument_samples(file.song, 0), 1);
    EXPECT_EQ(std::string(neatxm_song_sample_name(file.song, 0, 0)).rfind("ramp sample", 0), 0u);
    EXPECT_EQ(neatxm_song_order(file.song, 1), 0);
    EXPECT_EQ(neatxm_song_pattern_rows(file.song, 0), 16);
    // Out of range: empty, never a crash.
    EXPECT_STREQ(neatxm_song_instrument_name(file.song, 5), "");
    EXPECT_STREQ(neatxm_song_sample_name(file.song, 0, 3), "");
    EXPECT_EQ(neatxm_song_order(file.song, 2), -1);
    EXPECT_EQ(neatxm_song_pattern_rows(file.song, 1), 0);

    neatxm_cell cells[3];
    std::memset(cells, 0xEE, sizeof cells);
    ASSERT_EQ(neatxm_song_get_row(file.song, 0, 8, cells, 3), NEATXM_OK);
    EXPECT_EQ(cells[0].note, 0);
    // Key-off comes back as the file's number for it, the volume column and effect as stored.
    EXPECT_EQ(cells[1].note, NEATXM_NOTE_KEY_OFF);
    EXPECT_EQ(cells[1].volume, 0x40);
    EXPECT_EQ(cells[1].effect, 0x0C);
    EXPECT_EQ(cells[1].parameter, 0x20);
    EXPECT_EQ(cells[2].note, 0xEE); // beyond the song's channels: untouched
    ASSERT_EQ(neatxm_song_get_row(file.song, 0, 0, cells, 1), NEATXM_OK);
    EXPECT_EQ(cells[0].note, xmw::NoteNumber("C-4"));
    EXPECT_EQ(cells[0].instrument, 1);
    EXPECT_EQ(cells[1].note, NEATXM_NOTE_KEY_OFF); // capacity 1: the second is left alone
    EXPECT_EQ(neatxm_song_get_row(file.song, 0, 16, cells, 3), NEATXM_ERROR_RANGE);
    EXPECT_EQ(neatxm_song_get_row(file.song, 1, 0, cells, 3), NEATXM_ERROR_RANGE);
    EXPECT_EQ(neatxm_song_get_row(file.song, 0, 0, nullptr, 3), NEATXM_ERROR_ARGUMENT);

    neatxm_song_info tooSmall = NEATXM_SONG_INFO_INIT;
    tooSmall.size = 4;
    EXPECT_EQ(neatxm_song_get_info(file.song, &tooSmall), NEATXM_ERROR_RECORD_SIZE);
}

TEST(Api, AnySplitOfTheSameTotalGivesTheSameFrames) {
    SongFile file(TwoOrderSong());
    ASSERT_NE(file.song, nullptr);
    auto renderWith = [&](const std::vector<size_t>& pieces) {
        neatxm_player* player = MakePlayer(file.song, NEATXM_RULES_DEMO);
        std::vector<int16_t> out = Render(player, pieces);
        neatxm_player_free(player);
        return out;
    };
    const std::vector<int16_t> blocks = renderWith(std::vector<size_t>(40, 884));
    ASSERT_EQ(blocks.size(), 40u * 884 * 2);
    EXPECT_EQ(renderWith({40 * 884}), blocks);
    EXPECT_EQ(renderWith({1, 883, 885, 7, 13000, 40 * 884 - 1 - 883 - 885 - 7 - 13000}), blocks);
    // Something is heard: the note plays.
    int peak = 0;
    for (int16_t v : blocks) peak = std::max(peak, std::abs(static_cast<int>(v)));
    EXPECT_GT(peak, 1000);
}

TEST(Api, FloatFramesAreTheMixBeforeRounding) {
    SongFile file(TwoOrderSong());
    neatxm_player* pcm = MakePlayer(file.song, NEATXM_RULES_DEMO);
    neatxm_player* floats = MakePlayer(file.song, NEATXM_RULES_DEMO);
    std::vector<int16_t> a(2 * 5000);
    std::vector<float> b(2 * 5000);
    ASSERT_EQ(neatxm_player_render_s16(pcm, a.data(), 5000), 5000u);
    ASSERT_EQ(neatxm_player_render_float(floats, b.data(), 5000), 5000u);
    for (size_t k = 0; k < a.size(); ++k) ASSERT_NEAR(b[k] * 32768.0f, a[k], 0.5f) << k;
    neatxm_player_free(pcm);
    neatxm_player_free(floats);
}

TEST(Api, StandardRulesPutPanning255OnTheRightAndTheDemoOnTheFirstChannel) {
    SongFile file(TwoOrderSong(255));
    auto energy = [&](neatxm_rules rules) {
        neatxm_player* player = MakePlayer(file.song, rules);
        std::vector<int16_t> out = Render(player, {20000});
        neatxm_player_free(player);
        double left = 0, right = 0;
        for (size_t k = 0; k + 1 < out.size(); k += 2) {
            left += double(out[k]) * out[k];
            right += double(out[k + 1]) * out[k + 1];
        }
        return std::make_pair(left, right);
    };
    const auto standard = energy(NEATXM_RULES_STANDARD);
    const auto demo = energy(NEATXM_RULES_DEMO);
    // The standard rules' panning law leaves 1/16 of the level (1/256 of the energy) on the left
    // at 255; the demo's puts all of it on the first channel.
    EXPECT_GT(standard.second, 0.0);
    EXPECT_NEAR(standard.first / standard.second, 1.0 / 255.0, 0.0005);
    EXPECT_GT(demo.first, 0.0);
    EXPECT_EQ(demo.second, 0.0);
}

TEST(Api, TheConfigurationIsCheckedAndReadBack) {
    SongFile file(TwoOrderSong());
    struct Bad {
        const char* what;
        void (*spoil)(neatxm_player_config*);
        neatxm_error code;
    };
    const Bad bad[] = {
        {"rate 49", [](neatxm_player_config* c) { c->rate = 49; }, NEATXM_ERROR_RANGE},
        {"rate 384001", [](neatxm_player_config* c) { c->rate = 384001; }, NEATXM_ERROR_RANGE},
        {"rules 7", [](neatxm_player_config* c) { c->rules = 7; }, NEATXM_ERROR_ARGUMENT},
        {"interpolation 4", [](neatxm_player_config* c) { c->interpolation = 4; },
         NEATXM_ERROR_ARGUMENT},
        {"separation 201", [](neatxm_player_config* c) { c->separation = 201; },
         NEATXM_ERROR_RANGE},
        {"gain +25 dB", [](neatxm_player_config* c) { c->gain_db = 25.0f; }, NEATXM_ERROR_RANGE},
        {"gain NaN", [](neatxm_player_config* c) { c->gain_db = std::nanf(""); },
         NEATXM_ERROR_RANGE},
        {"ramp -2", [](neatxm_player_config* c) { c->ramp_ms = -2; }, NEATXM_ERROR_RANGE},
        {"ramp 101", [](neatxm_player_config* c) { c->ramp_ms = 101; }, NEATXM_ERROR_RANGE},
        {"repeat -1", [](neatxm_player_config* c) { c->repeat = -1; }, NEATXM_ERROR_RANGE},
        {"size 4", [](neatxm_player_config* c) { c->size = 4; }, NEATXM_ERROR_RECORD_SIZE},
    };
    for (const Bad& b : bad) {
        neatxm_player_config config = NEATXM_PLAYER_CONFIG_INIT;
        b.spoil(&config);
        char message[256] = "unchanged";
        neatxm_player* player = nullptr;
        EXPECT_EQ(neatxm_player_create(file.song, &config, &player, message, sizeof message),
                  b.code)
            << b.what;
        EXPECT_EQ(player, nullptr) << b.what;
        EXPECT_GT(std::strlen(message), 10u) << b.what << ": " << message;
    }

    neatxm_player_config config = NEATXM_PLAYER_CONFIG_INIT;
    config.rate = 22050;
    config.interpolation = NEATXM_INTERPOLATION_SINC;
    config.separation = 0;
    config.gain_db = -60.0f;
    config.ramp_ms = 100;
    config.limiter = 1;
    config.repeat = 3;
    neatxm_player* player = nullptr;
    ASSERT_EQ(neatxm_player_create(file.song, &config, &player, nullptr, 0), NEATXM_OK);
    neatxm_player_config back = NEATXM_PLAYER_CONFIG_INIT;
    ASSERT_EQ(neatxm_player_get_config(player, &back), NEATXM_OK);
    EXPECT_EQ(std::memcmp(&back, &config, sizeof config), 0);
    neatxm_player* byDefault = nullptr;
    ASSERT_EQ(neatxm_player_create(file.song, nullptr, &byDefault, nullptr, 0), NEATXM_OK);
    ASSERT_EQ(neatxm_player_get_config(byDefault, &back), NEATXM_OK);
    EXPECT_EQ(back.separation, 100); // the XM rules' own
    EXPECT_EQ(back.ramp_ms, -1);
    neatxm_player_free(byDefault);

    // Setters check as creation does and leave the value on a refusal.
    EXPECT_EQ(neatxm_player_set_separation(player, 200), NEATXM_OK);
    EXPECT_EQ(neatxm_player_set_separation(player, -1), NEATXM_ERROR_RANGE);
    EXPECT_EQ(neatxm_player_set_gain(player, 24.0f), NEATXM_OK);
    EXPECT_EQ(neatxm_player_set_gain(player, -61.0f), NEATXM_ERROR_RANGE);
    EXPECT_EQ(neatxm_player_set_ramp(player, -1), NEATXM_OK);
    EXPECT_EQ(neatxm_player_set_ramp(player, 1000), NEATXM_ERROR_RANGE);
    EXPECT_EQ(neatxm_player_set_interpolation(player, NEATXM_INTERPOLATION_NONE), NEATXM_OK);
    EXPECT_EQ(neatxm_player_set_interpolation(player, static_cast<neatxm_interpolation>(9)),
              NEATXM_ERROR_ARGUMENT);
    EXPECT_EQ(neatxm_player_set_limiter(player, 0), NEATXM_OK);
    EXPECT_EQ(neatxm_player_set_repeat(player, 0), NEATXM_OK);
    EXPECT_EQ(neatxm_player_set_repeat(player, -5), NEATXM_ERROR_RANGE);
    EXPECT_EQ(neatxm_player_set_mute(player, 1, 1), NEATXM_OK);
    EXPECT_EQ(neatxm_player_set_mute(player, 2, 1), NEATXM_ERROR_RANGE); // the song has 2
    EXPECT_EQ(neatxm_player_set_solo(player, -1, 1), NEATXM_ERROR_RANGE);
    ASSERT_EQ(neatxm_player_get_config(player, &back), NEATXM_OK);
    EXPECT_EQ(back.separation, 200);
    EXPECT_EQ(back.gain_db, 24.0f);
    EXPECT_EQ(back.ramp_ms, -1);
    EXPECT_EQ(back.interpolation, NEATXM_INTERPOLATION_NONE);
    EXPECT_EQ(back.limiter, 0);
    EXPECT_EQ(back.repeat, 0);
    EXPECT_EQ(back.rate, 22050);
    neatxm_player_free(player);
}

TEST(Api, TheRepeatCountEndsTheSongAtItsPassesEnd) {
    SongFile file(TwoOrderSong());
    for (int32_t repeat : {1, 2}) {
        neatxm_player_config config = NEATXM_PLAYER_CONFIG_INIT;
        config.repeat = repeat;
        neatxm_player* player = nullptr;
        ASSERT_EQ(neatxm_player_create(file.song, &config, &player, nullptr, 0), NEATXM_OK);
        std::vector<int16_t> buffer(2 * 4096);
        size_t total = 0, got = 0;
        while ((got = neatxm_player_render_s16(player, buffer.data(), 4096)) > 0) total += got;
        EXPECT_EQ(total, size_t(repeat * TWO_ORDER_FRAMES)) << repeat;
        neatxm_position position = PositionOf(player);
        EXPECT_EQ(position.ended, 1);
        EXPECT_EQ(position.passes, repeat);
        EXPECT_EQ(position.frame, repeat * TWO_ORDER_FRAMES);
        EXPECT_EQ(neatxm_player_render_s16(player, buffer.data(), 10), 0u);
        // Playing on for ever again: the song goes on from its restart position.
        ASSERT_EQ(neatxm_player_set_repeat(player, 0), NEATXM_OK);
        EXPECT_EQ(neatxm_player_render_s16(player, buffer.data(), 4096), 4096u);
        position = PositionOf(player);
        EXPECT_EQ(position.order, 0);
        EXPECT_EQ(position.ended, 0);
        neatxm_player_free(player);
    }
    // A count set when the song has played past it ends the song at its next return.
    neatxm_player* player = MakePlayer(file.song);
    Render(player, {size_t(TWO_ORDER_FRAMES + TWO_ORDER_FRAMES / 2)});
    ASSERT_EQ(neatxm_player_set_repeat(player, 1), NEATXM_OK);
    EXPECT_EQ(Render(player, {size_t(TWO_ORDER_FRAMES)}).size(), size_t(TWO_ORDER_FRAMES));
    EXPECT_EQ(PositionOf(player).ended, 1);
    EXPECT_EQ(PositionOf(player).frame, 2 * TWO_ORDER_FRAMES);
    neatxm_player_free(player);
}

TEST(Api, PositionFollowsTheFramesAndSeekingToAnOrderAndRowMovesIt) {
    SongFile file(TwoOrderSong());
    neatxm_player* player = MakePlayer(file.song);
    std::vector<int16_t> buffer(2 * ROW_FRAMES * 5);
    // After 5 rows and one more frame the sixth row plays.
    neatxm_player_render_s16(player, buffer.data(), ROW_FRAMES * 5);
    neatxm_position position = PositionOf(player);
    EXPECT_EQ(position.row, 4);
    EXPECT_EQ(position.tick, 2);
    neatxm_player_render_s16(player, buffer.data(), 1);
    position = PositionOf(player);
    EXPECT_EQ(position.row, 5);
    EXPECT_EQ(position.tick, 0);
    EXPECT_EQ(position.speed, 3);
    EXPECT_EQ(position.bpm, 125);
    EXPECT_EQ(position.frame, ROW_FRAMES * 5 + 1);
    EXPECT_DOUBLE_EQ(position.seconds, (ROW_FRAMES * 5 + 1) / 44100.0);

    ASSERT_EQ(neatxm_player_seek_order(player, 1, 4), NEATXM_OK);
    neatxm_player_render_s16(player, buffer.data(), 1);
    position = PositionOf(player);
    EXPECT_EQ(position.order, 1);
    EXPECT_EQ(position.row, 4);
    EXPECT_EQ(neatxm_player_seek_order(player, 2, 0), NEATXM_ERROR_RANGE);
    EXPECT_EQ(neatxm_player_seek_order(player, -1, 0), NEATXM_ERROR_RANGE);
    EXPECT_EQ(neatxm_player_seek_order(player, 0, 16), NEATXM_ERROR_RANGE);
    neatxm_player_free(player);
}

TEST(Api, AnExactSeekGivesTheStraightRendersFramesAndAFastOneItsPlace) {
    SongFile file(TwoOrderSong());
    for (neatxm_rules rules : {NEATXM_RULES_STANDARD, NEATXM_RULES_DEMO}) {
        neatxm_player* straight = MakePlayer(file.song, rules);
        const std::vector<int16_t> whole = Render(straight, {size_t(TWO_ORDER_FRAMES + 5000)});
        neatxm_player_free(straight);

        neatxm_player* player = MakePlayer(file.song, rules);
        Render(player, {30000});
        // Back, ahead, inside a block, on a block's first frame (884 frames a block), across
        // the song's end, and exactly at the start. The position is the straight render's
        // after as many frames.
        for (int64_t target : {int64_t{1234}, int64_t{50000}, int64_t{50001}, int64_t{884 * 50},
                               TWO_ORDER_FRAMES - 7, int64_t{0}}) {
            ASSERT_EQ(neatxm_player_seek_frame(player, target, NEATXM_SEEK_EXACT), NEATXM_OK);
            neatxm_player* reference = MakePlayer(file.song, rules);
            Render(reference, {size_t(target)});
            const neatxm_position want = PositionOf(reference), got = PositionOf(player);
            neatxm_player_free(reference);
            EXPECT_EQ(got.frame, target);
            EXPECT_EQ(std::make_tuple(got.order, got.row, got.tick, got.passes),
                      std::make_tuple(want.order, want.row, want.tick, want.passes))
                << "rules " << rules << ", frame " << target;
            const std::vector<int16_t> after = Render(player, {3000});
            ASSERT_EQ(after.size(), 6000u);
            EXPECT_TRUE(std::equal(after.begin(), after.end(), whole.begin() + 2 * target))
                << "rules " << rules << ", frame " << target;
        }
        ASSERT_EQ(neatxm_player_seek_seconds(player, 1.0, NEATXM_SEEK_EXACT), NEATXM_OK);
        const std::vector<int16_t> second = Render(player, {100});
        EXPECT_TRUE(std::equal(second.begin(), second.end(), whole.begin() + 2 * 44100));

        // A fast seek lands on the row of the target, and the song goes on from there.
        ASSERT_EQ(neatxm_player_seek_frame(player, 20 * ROW_FRAMES + 10, NEATXM_SEEK_FAST),
                  NEATXM_OK);
        Render(player, {1});
        const neatxm_position position = PositionOf(player);
        EXPECT_EQ(position.order, 1);
        EXPECT_EQ(position.row, 4);
        EXPECT_EQ(position.frame, 20 * ROW_FRAMES + 11);
        EXPECT_EQ(neatxm_player_seek_frame(player, -1, NEATXM_SEEK_FAST), NEATXM_ERROR_RANGE);
        EXPECT_EQ(neatxm_player_seek_seconds(player, std::nan(""), NEATXM_SEEK_EXACT),
                  NEATXM_ERROR_RANGE);
        EXPECT_EQ(neatxm_player_seek_frame(player, 0, static_cast<neatxm_seek>(5)),
                  NEATXM_ERROR_ARGUMENT);
        neatxm_player_free(player);
    }
}

TEST(Api, ASeekPastTheLastPassIsRefusedAndThePlayerStays) {
    SongFile file(TwoOrderSong());
    neatxm_player_config config = NEATXM_PLAYER_CONFIG_INIT;
    config.repeat = 1;
    neatxm_player* player = nullptr;
    ASSERT_EQ(neatxm_player_create(file.song, &config, &player, nullptr, 0), NEATXM_OK);
    Render(player, {1000});
    for (neatxm_seek mode : {NEATXM_SEEK_EXACT, NEATXM_SEEK_FAST}) {
        EXPECT_EQ(neatxm_player_seek_frame(player, TWO_ORDER_FRAMES + 1, mode), NEATXM_ERROR_RANGE);
        EXPECT_EQ(PositionOf(player).frame, 1000);
    }
    neatxm_player_free(player);
}

TEST(Api, ChannelStatesShowWhatPlays) {
    SongFile file(TwoOrderSong());
    neatxm_player* player = MakePlayer(file.song);
    Render(player, {1000});
    neatxm_channel_state state = NEATXM_CHANNEL_STATE_INIT;
    ASSERT_EQ(neatxm_player_get_channel(player, 0, &state), NEATXM_OK);
    EXPECT_EQ(state.active, 1);
    EXPECT_EQ(state.note, xmw::NoteNumber("C-4"));
    EXPECT_EQ(state.instrument, 1);
    EXPECT_EQ(state.sample, 0);
    EXPECT_EQ(state.volume, 64);
    EXPECT_EQ(state.panning, 255);
    // Sample volume 64 at global volume 64: the middle of the voice's range (0-255), which
    // leaves room for the louder volumes the set-volume command allows.
    EXPECT_EQ(state.level, 128);
    // C-4 of a linear-frequency song plays at 8363 Hz.
    EXPECT_NEAR(state.frequency, 8363.0, 1.0);
    ASSERT_EQ(neatxm_player_get_channel(player, 1, &state), NEATXM_OK);
    EXPECT_EQ(state.active, 0);
    EXPECT_EQ(state.level, 0);
    EXPECT_EQ(neatxm_player_get_channel(player, 2, &state), NEATXM_ERROR_RANGE);
    neatxm_player_free(player);
}

TEST(Api, EventsComeOnceOldestFirstAndFitTheCallersRecord) {
    SongFile file(TwoOrderSong());
    neatxm_player* player = MakePlayer(file.song);
    Render(player, {size_t(ROW_FRAMES * 2)});
    std::vector<neatxm_event> events(64);
    int32_t count = 0;
    ASSERT_EQ(neatxm_player_take_events(player, events.data(), sizeof(neatxm_event), 1, &count),
              NEATXM_OK);
    ASSERT_EQ(count, 1);
    const neatxm_event first = events[0];
    ASSERT_EQ(neatxm_player_take_events(player, events.data(), sizeof(neatxm_event), 64, &count),
              NEATXM_OK);
    events.resize(size_t(count));
    events.insert(events.begin(), first);
    int notes = 0, rows = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        if (i > 0) {
            EXPECT_GE(events[i].frame, events[i - 1].frame);
        }
        if (events[i].kind == NEATXM_EVENT_NOTE) {
            ++notes;
            EXPECT_EQ(events[i].frame, 0);
            EXPECT_EQ(events[i].channel, 0);
            EXPECT_EQ(events[i].note, xmw::NoteNumber("C-4"));
            EXPECT_EQ(events[i].instrument, 1);
            EXPECT_EQ(events[i].sample, 0);
        } else if (events[i].kind == NEATXM_EVENT_ROW) {
            EXPECT_EQ(events[i].frame, rows * ROW_FRAMES);
            EXPECT_EQ(events[i].row, rows);
            ++rows;
        }
    }
    EXPECT_EQ(notes, 1);
    // Mixing runs up to a block ahead of the frames handed out: the rows of 2 rows' frames,
    // and the third when its tick fell inside the last block mixed.
    EXPECT_GE(rows, 2);
    EXPECT_LE(rows, 3);
    ASSERT_EQ(neatxm_player_take_events(player, events.data(), sizeof(neatxm_event), 64, &count),
              NEATXM_OK);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(neatxm_player_events_dropped(player), 0u);

    // A caller whose record holds only the frame and the kind gets those, at its own stride,
    // and nothing past its array.
    struct Short {
        int64_t frame;
        int32_t kind;
    } shortEvents[3];
    std::memset(shortEvents, 0x5A, sizeof shortEvents);
    ASSERT_EQ(neatxm_player_seek_frame(player, 0, NEATXM_SEEK_EXACT), NEATXM_OK);
    Render(player, {1});
    ASSERT_EQ(neatxm_player_take_events(player, shortEvents, sizeof(Short), 2, &count), NEATXM_OK);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(shortEvents[0].frame, 0);
    EXPECT_EQ(shortEvents[1].frame, 0);
    EXPECT_NE(shortEvents[0].kind, shortEvents[1].kind); // the row and the note at frame 0
    EXPECT_EQ(shortEvents[2].kind, 0x5A5A5A5A);
    EXPECT_EQ(neatxm_player_take_events(player, shortEvents, 11, 2, &count),
              NEATXM_ERROR_RECORD_SIZE);
    neatxm_player_free(player);
}

TEST(Api, ASongInUseIsNotFreedAndBadArgumentsAreRefused) {
    const std::vector<uint8_t> bytes = xmw::WriteXm(TwoOrderSong());
    neatxm_song* song = nullptr;
    ASSERT_EQ(neatxm_song_load_memory(bytes.data(), bytes.size(), &song, nullptr, 0), NEATXM_OK);
    neatxm_player* a = MakePlayer(song, NEATXM_RULES_STANDARD, 48000);
    neatxm_player* b = MakePlayer(song, NEATXM_RULES_DEMO, 8000);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(neatxm_song_free(song), NEATXM_ERROR_IN_USE);
    neatxm_player_free(a);
    EXPECT_EQ(neatxm_song_free(song), NEATXM_ERROR_IN_USE);
    neatxm_player_free(b);

    neatxm_player* none = nullptr;
    EXPECT_EQ(neatxm_player_create(nullptr, nullptr, &none, nullptr, 0), NEATXM_ERROR_ARGUMENT);
    EXPECT_EQ(neatxm_player_create(song, nullptr, nullptr, nullptr, 0), NEATXM_ERROR_ARGUMENT);
    EXPECT_EQ(neatxm_player_render_s16(nullptr, nullptr, 10), 0u);
    EXPECT_EQ(neatxm_player_set_gain(nullptr, 0.0f), NEATXM_ERROR_ARGUMENT);
    EXPECT_EQ(neatxm_player_get_position(nullptr, nullptr), NEATXM_ERROR_ARGUMENT);
    neatxm_player_free(nullptr);
    EXPECT_EQ(neatxm_song_free(song), NEATXM_OK);
    EXPECT_EQ(neatxm_song_free(nullptr), NEATXM_ERROR_ARGUMENT);
}

TEST(Api, TheCppLayerThrowsTheReasonAndAPlayerKeepsItsSong) {
    try {
        neatxm::Song::LoadFile("/nonexistent/other.xm");
        FAIL() << "no exception";
    } catch (const neatxm::Error& error) {
        EXPECT_EQ(error.code(), NEATXM_ERROR_CANNOT_OPEN);
        EXPECT_NE(std::string(error.what()).find("other.xm"), std::string::npos);
    }
    const std::vector<uint8_t> bytes = xmw::WriteXm(TwoOrderSong());
    std::vector<int16_t> expected(2 * 5000), got(2 * 5000);
    {
        const neatxm::Song song = neatxm::Song::LoadMemory(bytes);
        neatxm::Player reference(song);
        reference.Render(expected);
    }
    std::unique_ptr<neatxm::Player> player;
    {
        const neatxm::Song song = neatxm::Song::LoadMemory(bytes);
        player = std::make_unique<neatxm::Player>(song);
        EXPECT_EQ(song.Row(0, 0).size(), 2u);
    }
    // The song's last handle is gone; the player still plays it (and frees it with itself: the
    // leak checker of the sanitizer builds would see it otherwise).
    EXPECT_EQ(player->Render(got), 5000u);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(player->PlayedSong().Info().channels, 2);
    EXPECT_THROW(player->SetSeparation(500), neatxm::Error);
    EXPECT_FALSE(player->SeekOrder(7));
}

// Files of the C library behind the caller's stream operations, counting what the library
// asks of them.
struct CountedFiles {
    int opens = 0, closes = 0, reads = 0;
    bool failReads = false;
    static CountedFiles& Of(void* user) { return *static_cast<CountedFiles*>(user); }
    static neatxm_stream Stream(CountedFiles* files, bool withOpen) {
        neatxm_stream stream = NEATXM_STREAM_INIT;
        stream.user = files;
        if (withOpen) {
            stream.open = [](void* user, const char* name) -> void* {
                ++Of(user).opens;
                return std::fopen(name, "rb");
            };
            stream.close = [](void* user, void* handle) {
                ++Of(user).closes;
                std::fclose(static_cast<FILE*>(handle));
            };
        }
        stream.read = [](void* user, void* handle, void* buffer, int64_t count) -> int64_t {
            ++Of(user).reads;
            if (Of(user).failReads) return -1;
            return static_cast<int64_t>(std::fread(buffer, 1, size_t(count), (FILE*)handle));
        };
        stream.seek = [](void*, void* handle, int64_t offset, int origin) {
            return std::fseek(static_cast<FILE*>(handle), long(offset), origin);
        };
        stream.tell = [](void*, void* handle) -> int64_t {
            return std::ftell(static_cast<FILE*>(handle));
        };
        return stream;
    }
};

TEST(Api, LoadsThroughTheCallersStreamByNameOrByItsOwnHandle) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("api_stream_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".xm");
    const std::vector<uint8_t> bytes = xmw::WriteXm(TwoOrderSong());
    FILE* out = std::fopen(path.string().c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
    std::fclose(out);
    char message[256];
    neatxm_song* song = nullptr;

    CountedFiles named;
    const neatxm_stream byName = CountedFiles::Stream(&named, true);
    ASSERT_EQ(neatxm_song_load_stream(&byName, path.string().c_str(), nullptr, &song, message,
                                      sizeof message),
              NEATXM_OK)
        << message;
    EXPECT_EQ(named.opens, 1);
    EXPECT_EQ(named.closes, 1);
    EXPECT_GT(named.reads, 0);
    EXPECT_EQ(neatxm_song_free(song), NEATXM_OK);
    EXPECT_EQ(neatxm_song_load_stream(&byName, (path.string() + ".missing").c_str(), nullptr, &song,
                                      message, sizeof message),
              NEATXM_ERROR_CANNOT_OPEN);

    // The caller's own handle: no open, no close; the file stays open for the caller.
    CountedFiles own;
    const neatxm_stream byHandle = CountedFiles::Stream(&own, false);
    FILE* handle = std::fopen(path.string().c_str(), "rb");
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(neatxm_song_load_stream(&byHandle, nullptr, handle, &song, message, sizeof message),
              NEATXM_OK)
        << message;
    neatxm_song_info info = NEATXM_SONG_INFO_INIT;
    ASSERT_EQ(neatxm_song_get_info(song, &info), NEATXM_OK);
    EXPECT_EQ(info.orders, 2);
    EXPECT_EQ(neatxm_song_free(song), NEATXM_OK);
    EXPECT_GT(own.reads, 0);
    EXPECT_EQ(std::fseek(handle, 0, SEEK_SET), 0); // still open
    // Without a handle, a stream needs a name and its open; a read that fails is a file that
    // cannot be read (not a file that is no module).
    EXPECT_EQ(neatxm_song_load_stream(&byHandle, path.string().c_str(), nullptr, &song, message,
                                      sizeof message),
              NEATXM_ERROR_ARGUMENT);
    own.failReads = true;
    EXPECT_EQ(neatxm_song_load_stream(&byHandle, nullptr, handle, &song, message, sizeof message),
              NEATXM_ERROR_CANNOT_OPEN);
    EXPECT_NE(std::string(message).find("read"), std::string::npos) << message;
    std::fclose(handle);
    neatxm_stream tooSmall = byHandle;
    tooSmall.size = offsetof(neatxm_stream, tell);
    EXPECT_EQ(neatxm_song_load_stream(&tooSmall, nullptr, &own, &song, message, sizeof message),
              NEATXM_ERROR_RECORD_SIZE);
    std::filesystem::remove(path);
}

} // namespace
