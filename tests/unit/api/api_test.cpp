// api_test.cpp: the public interface as a program that links the library meets it: load errors
// with their reasons, song facts, players rendering in any split, positions, seeking, the end
// modes, the two rule sets, and songs that may not be freed while played.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "neatxm.h"
#include "neatxm.hpp"
#include "xm_writer.h"

namespace {

// Two orders of one 16-row pattern at speed 3: 96 ticks of 882 frames at 44100 Hz. A note on
// channel 0 starts a looping 16-bit ramp panned hard to one side.
xmw::Song TwoOrderSong(uint8_t panning = 255) {
    xmw::Song song;
    song.name = "api test song";
    song.trackerName = "writer";
    song.channels = 2;
    song.speed = 3;
    song.orders = {0, 0};
    xmw::Pattern pattern = song.MakePattern(16);
    pattern.At(0, 0) = PatternCell{xmw::NoteNumber("C-4"), 1, 0, 0, 0};
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

constexpr int64_t TWO_ORDER_FRAMES = 2 * 16 * 3 * 882;

struct SongFile {
    std::vector<uint8_t> bytes;
    neatxm_song* song = nullptr;
    explicit SongFile(const xmw::Song& source) : bytes(xmw::WriteXm(source)) {
        neatxm_error error{};
        song = neatxm_load_memory(bytes.data(), bytes.size(), &error);
        EXPECT_NE(song, nullptr) << error.message;
    }
    ~SongFile() {
        if (song) {
            EXPECT_EQ(neatxm_song_free(song), NEATXM_OK);
        }
    }
};

std::vector<int16_t> Render(neatxm_player* player, const std::vector<size_t>& pieces) {
    std::vector<int16_t> out;
    for (size_t piece : pieces) {
        std::vector<int16_t> buffer(piece * 2);
        const size_t got = neatxm_render_s16(player, buffer.data(), piece);
        out.insert(out.end(), buffer.begin(), buffer.begin() + 2 * got);
    }
    return out;
}

TEST(Api, LoadFailuresGiveACodeAndAReason) {
    neatxm_error error{};
    EXPECT_EQ(neatxm_load_file("/nonexistent/folder/song.xm", &error), nullptr);
    EXPECT_EQ(error.code, NEATXM_ERROR_CANNOT_OPEN);
    EXPECT_NE(std::string(error.message).find("song.xm"), std::string::npos) << error.message;

    const char text[] = "this is not a module at all, just some words";
    EXPECT_EQ(neatxm_load_memory(text, sizeof text, &error), nullptr);
    EXPECT_EQ(error.code, NEATXM_ERROR_NOT_XM);
    EXPECT_GT(std::strlen(error.message), 10u);

    neatxm_file_callbacks incomplete{};
    EXPECT_EQ(neatxm_load_callbacks(&incomplete, "x.xm", &error), nullptr);
    EXPECT_EQ(error.code, NEATXM_ERROR_ARGUMENT);

    // A file cut inside its song header cannot be read; one cut inside its sample data plays
    // what it holds.
    std::vector<uint8_t> bytes = xmw::WriteXm(TwoOrderSong());
    const std::vector<uint8_t> header(bytes.begin(), bytes.begin() + 70);
    EXPECT_EQ(neatxm_load_memory(header.data(), header.size(), &error), nullptr);
    EXPECT_EQ(error.code, NEATXM_ERROR_TRUNCATED);
    EXPECT_STREQ(error.message, "the header runs past the end of the file");
    bytes.resize(bytes.size() - 100);
    neatxm_song* cut = neatxm_load_memory(bytes.data(), bytes.size(), &error);
    EXPECT_NE(cut, nullptr) << error.message;
    EXPECT_EQ(error.code, NEATXM_OK);
    neatxm_song_free(cut);

    // A null error record is allowed.
    EXPECT_EQ(neatxm_load_memory(text, sizeof text, nullptr), nullptr);
}

TEST(Api, SongFactsComeFromTheFile) {
    SongFile file(TwoOrderSong());
    ASSERT_NE(file.song, nullptr);
    neatxm_song_info info{};
    ASSERT_EQ(neatxm_song_get_info(file.song, &info), NEATXM_OK);
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
    EXPECT_EQ(std::string(neatxm_instrument_name(file.song, 0)).rfind("ramp", 0), 0u);
    EXPECT_EQ(neatxm_instrument_samples(file.song, 0), 1);
    EXPECT_EQ(std::string(neatxm_sample_name(file.song, 0, 0)).rfind("ramp sample", 0), 0u);
    EXPECT_EQ(neatxm_song_order(file.song, 1), 0);
    // Out of range: empty, never a crash.
    EXPECT_STREQ(neatxm_instrument_name(file.song, 5), "");
    EXPECT_STREQ(neatxm_sample_name(file.song, 0, 3), "");
    EXPECT_EQ(neatxm_song_order(file.song, 2), -1);
}

TEST(Api, AnySplitOfTheSameTotalGivesTheSameFrames) {
    SongFile file(TwoOrderSong());
    ASSERT_NE(file.song, nullptr);
    auto renderWith = [&](const std::vector<size_t>& pieces) {
        neatxm_player* player = neatxm_player_create(file.song, 44100, NEATXM_RULES_DEMO, nullptr);
        std::vector<int16_t> out = Render(player, pieces);
        neatxm_player_destroy(player);
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
    const neatxm::Song song = neatxm::Song::LoadMemory(file.bytes);
    neatxm::Player pcm(song, 44100, NEATXM_RULES_DEMO);
    neatxm_player* floats = neatxm_player_create(file.song, 44100, NEATXM_RULES_DEMO, nullptr);
    std::vector<int16_t> a(2 * 5000);
    std::vector<float> b(2 * 5000);
    ASSERT_EQ(pcm.Render(std::span<int16_t>(a)), 5000u);
    ASSERT_EQ(neatxm_render_float(floats, b.data(), 5000), 5000u);
    for (size_t k = 0; k < a.size(); ++k) ASSERT_NEAR(b[k] * 32768.0f, a[k], 0.5f) << k;
    neatxm_player_destroy(floats);
}

TEST(Api, StandardRulesPutPanning255OnTheRightAndTheDemoOnTheFirstChannel) {
    SongFile file(TwoOrderSong(255));
    auto energy = [&](neatxm_rules rules) {
        neatxm_player* player = neatxm_player_create(file.song, 44100, rules, nullptr);
        std::vector<int16_t> out = Render(player, {20000});
        neatxm_player_destroy(player);
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

TEST(Api, StopModeEndsExactlyAtTheWrapAndWrapModeGoesOn) {
    SongFile file(TwoOrderSong());
    neatxm_player* player = neatxm_player_create(file.song, 44100, NEATXM_RULES_STANDARD, nullptr);
    ASSERT_EQ(neatxm_player_set_end(player, NEATXM_END_STOP), NEATXM_OK);
    std::vector<int16_t> buffer(2 * 4096);
    size_t total = 0, got = 0;
    while ((got = neatxm_render_s16(player, buffer.data(), 4096)) > 0) total += got;
    EXPECT_EQ(total, size_t(TWO_ORDER_FRAMES));
    neatxm_position position{};
    neatxm_player_position(player, &position);
    EXPECT_EQ(position.ended, 1);
    EXPECT_EQ(position.loops, 1);
    EXPECT_EQ(position.frames, uint64_t(TWO_ORDER_FRAMES));
    EXPECT_EQ(neatxm_render_s16(player, buffer.data(), 10), 0u);
    // Looping again: the song goes on from its restart position.
    neatxm_player_set_end(player, NEATXM_END_WRAP);
    EXPECT_EQ(neatxm_render_s16(player, buffer.data(), 4096), 4096u);
    neatxm_player_position(player, &position);
    EXPECT_EQ(position.order, 0);
    EXPECT_EQ(position.ended, 0);
    neatxm_player_destroy(player);
}

TEST(Api, PositionFollowsTheFramesRenderedAndSeekMovesIt) {
    SongFile file(TwoOrderSong());
    neatxm_player* player = neatxm_player_create(file.song, 44100, NEATXM_RULES_STANDARD, nullptr);
    std::vector<int16_t> buffer(2 * 882 * 3 * 5);
    neatxm_position position{};
    // Rows last 3 ticks of 882 frames: after 5 rows and one more frame the sixth row plays.
    neatxm_render_s16(player, buffer.data(), 882 * 3 * 5);
    neatxm_player_position(player, &position);
    EXPECT_EQ(position.row, 4);
    EXPECT_EQ(position.tick, 2);
    neatxm_render_s16(player, buffer.data(), 1);
    neatxm_player_position(player, &position);
    EXPECT_EQ(position.row, 5);
    EXPECT_EQ(position.tick, 0);
    EXPECT_EQ(position.speed, 3);
    EXPECT_EQ(position.bpm, 125);
    EXPECT_DOUBLE_EQ(position.seconds, (882 * 3 * 5 + 1) / 44100.0);

    ASSERT_EQ(neatxm_player_seek(player, 1), NEATXM_OK);
    neatxm_render_s16(player, buffer.data(), 1);
    neatxm_player_position(player, &position);
    EXPECT_EQ(position.order, 1);
    EXPECT_EQ(position.row, 0);
    EXPECT_EQ(position.frames, uint64_t(16 * 3 * 882 + 1)); // the time order 1 starts, and a frame
    EXPECT_EQ(neatxm_player_seek(player, 2), NEATXM_ERROR_ARGUMENT);
    EXPECT_EQ(neatxm_player_seek(player, -1), NEATXM_ERROR_ARGUMENT);
    neatxm_player_destroy(player);
}

TEST(Api, ChannelVolumesShowWhatPlays) {
    SongFile file(TwoOrderSong());
    neatxm_player* player = neatxm_player_create(file.song, 44100, NEATXM_RULES_STANDARD, nullptr);
    std::vector<int16_t> buffer(2 * 1000);
    neatxm_render_s16(player, buffer.data(), 1000);
    // Sample volume 64 at global volume 64: the middle of the voice's range (0-255), which
    // leaves room for the louder volumes the set-volume command allows (the demo's rules, which
    // truncate, give 127).
    EXPECT_EQ(neatxm_player_channel_volume(player, 0), 128);
    EXPECT_EQ(neatxm_player_channel_volume(player, 1), 0); // nothing on channel 1
    EXPECT_EQ(neatxm_player_channel_volume(player, 2), 0); // no such channel
    neatxm_player_destroy(player);
}

TEST(Api, ASongInUseIsNotFreedAndBadArgumentsAreRefused) {
    const std::vector<uint8_t> bytes = xmw::WriteXm(TwoOrderSong());
    neatxm_song* song = neatxm_load_memory(bytes.data(), bytes.size(), nullptr);
    ASSERT_NE(song, nullptr);
    neatxm_player* a = neatxm_player_create(song, 48000, NEATXM_RULES_STANDARD, nullptr);
    neatxm_player* b = neatxm_player_create(song, 8000, NEATXM_RULES_DEMO, nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(neatxm_song_free(song), NEATXM_ERROR_IN_USE);
    neatxm_player_destroy(a);
    EXPECT_EQ(neatxm_song_free(song), NEATXM_ERROR_IN_USE);
    neatxm_player_destroy(b);

    neatxm_error error{};
    EXPECT_EQ(neatxm_player_create(song, 49, NEATXM_RULES_STANDARD, &error), nullptr);
    EXPECT_EQ(error.code, NEATXM_ERROR_ARGUMENT);
    EXPECT_EQ(neatxm_player_create(song, 44100, static_cast<neatxm_rules>(7), &error), nullptr);
    EXPECT_EQ(neatxm_player_create(nullptr, 44100, NEATXM_RULES_STANDARD, &error), nullptr);
    EXPECT_EQ(neatxm_render_s16(nullptr, nullptr, 10), 0u);
    EXPECT_EQ(neatxm_song_free(song), NEATXM_OK);
    EXPECT_EQ(neatxm_song_free(nullptr), NEATXM_ERROR_ARGUMENT);
}

TEST(Api, TheCppLayerThrowsTheLoadersReason) {
    try {
        neatxm::Song::LoadFile("/nonexistent/other.xm");
        FAIL() << "no exception";
    } catch (const neatxm::Error& error) {
        EXPECT_EQ(error.code(), NEATXM_ERROR_CANNOT_OPEN);
        EXPECT_NE(std::string(error.what()).find("other.xm"), std::string::npos);
    }
}

TEST(Api, LoadsThroughTheCallersOwnFileOperations) {
    // The caller's operations are the C library's, counted through the handle they open: each
    // is called with the handle its own open returned, and the file is closed again.
    struct Counted {
        FILE* file;
        int calls;
        bool* closed;
    };
    static bool closed = false;
    const neatxm_file_callbacks files = {
        [](const char* name) -> void* {
            FILE* file = std::fopen(name, "rb");
            return file ? new Counted{file, 0, &closed} : nullptr;
        },
        [](void* handle) {
            auto* counted = static_cast<Counted*>(handle);
            const int result = std::fclose(counted->file);
            *counted->closed = counted->calls > 0;
            delete counted;
            return result;
        },
        [](void* buffer, int32_t count, void* handle) {
            auto* counted = static_cast<Counted*>(handle);
            ++counted->calls;
            return count <= 0
                       ? 0
                       : static_cast<int32_t>(std::fread(buffer, 1, size_t(count), counted->file));
        },
        [](void* handle, int32_t offset, int origin) {
            auto* counted = static_cast<Counted*>(handle);
            ++counted->calls;
            return std::fseek(counted->file, offset, origin);
        },
        [](void* handle) {
            return static_cast<int32_t>(std::ftell(static_cast<Counted*>(handle)->file));
        },
    };
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("api_callbacks_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         ".xm");
    const std::vector<uint8_t> bytes = xmw::WriteXm(TwoOrderSong());
    FILE* out = std::fopen(path.string().c_str(), "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), out), bytes.size());
    std::fclose(out);

    neatxm_error error{};
    neatxm_song* song = neatxm_load_callbacks(&files, path.string().c_str(), &error);
    ASSERT_NE(song, nullptr) << error.message;
    EXPECT_TRUE(closed);
    neatxm_song_info info{};
    ASSERT_EQ(neatxm_song_get_info(song, &info), NEATXM_OK);
    EXPECT_EQ(info.orders, 2);
    EXPECT_EQ(info.samples, 1);
    EXPECT_EQ(neatxm_song_free(song), NEATXM_OK);
    EXPECT_EQ(neatxm_load_callbacks(&files, (path.string() + ".missing").c_str(), &error), nullptr);
    EXPECT_EQ(error.code, NEATXM_ERROR_CANNOT_OPEN);
    std::filesystem::remove(path);
}

} // namespace
