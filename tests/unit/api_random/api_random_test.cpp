// api_random_test.cpp: random sequences of the public calls on several players and threads:
// create, render in pieces of any size (16-bit or float), seek exactly and fast, by frame, time
// and order, set every control (in range and out of it), mute and solo, take events, read the
// position and the channels, free. Every player runs as a pair that takes the same calls at the
// same frames but renders in other pieces, so the pair must give the same frames; after every
// exact seek the frames must be those of a straight render with the same controls; the
// position must follow the frames handed out. Leaks and races are left to the sanitizer builds
// (label threads: ThreadSanitizer runs it too). NEATXM_RANDOM_SEED=N repeats one run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "neatxm.h"
#include "xm_writer.h"

namespace {

// Four tracks with the effects that carry state across rows (slides, portamento, vibrato,
// arpeggio, panning, a tempo change and a pattern break), so that seeks land inside them.
xmw::Song EffectSong() {
    xmw::Song song;
    song.name = "random calls";
    song.channels = 4;
    song.speed = 4;
    song.bpm = 140;
    song.orders = {0, 1, 0, 1};
    song.restartPosition = 1;
    for (int p = 0; p < 2; ++p) {
        xmw::Pattern pattern = song.MakePattern(32);
        for (int row = 0; row < 32; row += 4) {
            const uint8_t note = static_cast<uint8_t>(37 + (row / 4 + 3 * p) % 24);
            pattern.At(row, 0) = PatternCell{note, 1, 0, 0x0A, 0x02}; // slide down
            pattern.At(row + 2, 1) = PatternCell{uint8_t(note + 7), 2, 0x30, 0x04, 0x46}; // vib
            pattern.At(row + 1, 2) = PatternCell{uint8_t(note - 12), 1, 0, 0x00, 0x37};   // arp
            pattern.At(row + 3, 3) = PatternCell{0, 0, 0, 0x08, uint8_t(row * 8)};        // pan
        }
        pattern.At(8, 3) = PatternCell{61, 2, 0, 0x03, 0x10}; // portamento to the note
        pattern.At(20, 2) = PatternCell{255, 0, 0, 0, 0};     // key-off
        if (p == 1) {
            pattern.At(16, 3) = PatternCell{0, 0, 0, 0x0F, 3}; // speed 3
            pattern.At(28, 0) = PatternCell{0, 0, 0, 0x0D, 4}; // break to row 4
        }
        song.patterns.push_back(pattern);
    }
    for (int i = 0; i < 2; ++i) {
        xmw::Instrument instrument;
        instrument.name = i ? "square" : "saw";
        xmw::Sample sample;
        sample.sixteenBit = i == 0;
        for (int k = 0; k < 256; ++k)
            sample.values.push_back(i ? (k < 128 ? 90 : -90) : (k * 200 - 25600));
        sample.loop = i ? xmw::Loop::PingPong : xmw::Loop::Forward;
        sample.loopLength = 256;
        instrument.samples.push_back(sample);
        instrument.fadeout = 800;
        song.instruments.push_back(instrument);
    }
    return song;
}

struct SongBytes {
    std::vector<uint8_t> bytes;
    neatxm_song* song = nullptr;
};

// What decides a player's frames besides the song: its configuration and mutes.
struct Setting {
    neatxm_player_config config = NEATXM_PLAYER_CONFIG_INIT;
    uint32_t muted = 0, solo = 0;
    auto Key() const {
        return std::make_tuple(config.rate, config.rules, config.interpolation, config.separation,
                               config.gain_db, config.ramp_ms, config.limiter, muted, solo);
    }
};

constexpr int32_t RATES[] = {8000, 11025};
constexpr int64_t REFERENCE_SECONDS = 6;

// Straight renders of a song under a setting, made once and shared by the threads.
class References {
  public:
    const std::vector<int16_t>& Get(const neatxm_song* song, const Setting& setting) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto key = std::make_tuple(song, setting.Key());
        auto found = cache_.find(key);
        if (found != cache_.end()) return found->second;
        neatxm_player_config config = setting.config;
        config.repeat = 0;
        neatxm_player* player = nullptr;
        EXPECT_EQ(neatxm_player_create(song, &config, &player, nullptr, 0), NEATXM_OK);
        for (int32_t c = 0; c < NEATXM_MAX_CHANNELS; ++c) {
            if (setting.muted >> c & 1) neatxm_player_set_mute(player, c, 1);
            if (setting.solo >> c & 1) neatxm_player_set_solo(player, c, 1);
        }
        std::vector<int16_t> frames(2 * size_t(REFERENCE_SECONDS * config.rate));
        EXPECT_EQ(neatxm_player_render_s16(player, frames.data(), frames.size() / 2),
                  frames.size() / 2);
        neatxm_player_free(player);
        return cache_.emplace(key, std::move(frames)).first->second;
    }

  private:
    std::mutex mutex_;
    std::map<std::tuple<const neatxm_song*, decltype(Setting{}.Key())>, std::vector<int16_t>>
        cache_;
};

// Two players that take every call together; `a` renders in random pieces, `b` in one.
struct Pair {
    const neatxm_song* song = nullptr;
    int32_t channels = 0;
    Setting setting;
    neatxm_player* a = nullptr;
    neatxm_player* b = nullptr;
    int64_t frame = 0;  // frames from the song's start of the next frame handed out
    bool known = true;  // `frame` is known (a seek by order sets it to a time looked up)
    bool ended = false; // the repeat count has ended the song
};

class CallSequence {
  public:
    CallSequence(uint64_t seed, const std::vector<SongBytes>& songs, References& references)
        : random_(seed), songs_(songs), references_(references) {}

    // `steps` random calls, stopping at the first broken invariant (the test has failed then).
    void Go(int steps) {
        for (int step = 0; step < steps && !::testing::Test::HasFailure(); ++step) {
            step_ = step;
            const int choice = Pick(0, 99);
            if (pairs_.empty() || (choice < 6 && pairs_.size() < 4)) {
                Create();
                continue;
            }
            Pair& pair = pairs_[size_t(Pick(0, int(pairs_.size()) - 1))];
            if (choice < 9) {
                Free(pair);
            } else if (choice < 45) {
                RenderBoth(pair);
            } else if (choice < 58) {
                SeekExact(pair);
            } else if (choice < 64) {
                SeekFast(pair);
            } else if (choice < 68) {
                SeekOrder(pair);
            } else if (choice < 82) {
                SetSomething(pair);
            } else if (choice < 90) {
                MuteOrSolo(pair);
            } else {
                Look(pair);
            }
        }
        while (!pairs_.empty()) Free(pairs_.back());
    }

  private:
    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
    std::string Where() const {
        std::ostringstream out;
        out << "step " << step_;
        return out.str();
    }

    void Create() {
        Pair pair;
        const SongBytes& song = songs_[size_t(Pick(0, int(songs_.size()) - 1))];
        pair.song = song.song;
        neatxm_song_info info = NEATXM_SONG_INFO_INIT;
        ASSERT_EQ(neatxm_song_get_info(pair.song, &info), NEATXM_OK);
        pair.channels = info.channels;
        neatxm_player_config& config = pair.setting.config;
        config.rate = RATES[Pick(0, 1)];
        config.rules = Pick(0, 1);
        config.interpolation = Pick(0, 3);
        config.separation = Pick(-1, 4) * 50;
        if (config.separation < 0) config.separation = -1; // the rule set's own: 100 for XM
        config.gain_db = float(Pick(-12, 6));
        config.ramp_ms = Pick(-1, 3);
        config.limiter = Pick(0, 1);
        config.repeat = Pick(0, 3) == 0 ? 1 : 0;
        ASSERT_EQ(neatxm_player_create(pair.song, &config, &pair.a, nullptr, 0), NEATXM_OK);
        ASSERT_EQ(neatxm_player_create(pair.song, &config, &pair.b, nullptr, 0), NEATXM_OK);
        if (config.separation == -1) config.separation = 100;
        pairs_.push_back(pair);
    }

    void Free(Pair& pair) {
        neatxm_player_free(pair.a);
        neatxm_player_free(pair.b);
        pair = pairs_.back();
        pairs_.pop_back();
    }

    // Both render `total` frames: `a` in random pieces, `b` at once; the same frames.
    template <typename Sample> void RenderBoth(Pair& pair, size_t total, std::vector<Sample>* out) {
        std::vector<Sample> whole(2 * total), pieces(2 * total);
        const size_t gotB = RenderInto(pair.b, whole.data(), total);
        size_t gotA = 0;
        while (gotA < total) {
            const size_t piece =
                std::min<size_t>(total - gotA, size_t(Pick(0, 3) ? Pick(1, 900) : Pick(0, 5000)));
            const size_t got = RenderInto(pair.a, pieces.data() + 2 * gotA, piece);
            gotA += got;
            if (got < piece) break;
        }
        ASSERT_EQ(gotA, gotB) << Where();
        ASSERT_EQ(std::memcmp(whole.data(), pieces.data(), 2 * gotA * sizeof(Sample)), 0)
            << Where() << ": a split render differs";
        if (gotB < total) pair.ended = true;
        pair.frame += int64_t(gotB);
        if (out) out->assign(whole.begin(), whole.begin() + 2 * std::ptrdiff_t(gotB));
        CheckPosition(pair);
    }
    void RenderBoth(Pair& pair) {
        const size_t total = size_t(Pick(0, 4) ? Pick(0, 3000) : Pick(3000, 20000));
        if (Pick(0, 1))
            RenderBoth<int16_t>(pair, total, nullptr);
        else
            RenderBoth<float>(pair, total, nullptr);
    }
    static size_t RenderInto(neatxm_player* p, int16_t* to, size_t n) {
        return neatxm_player_render_s16(p, to, n);
    }
    static size_t RenderInto(neatxm_player* p, float* to, size_t n) {
        return neatxm_player_render_float(p, to, n);
    }

    void CheckPosition(const Pair& pair) {
        neatxm_position a = NEATXM_POSITION_INIT, b = NEATXM_POSITION_INIT;
        ASSERT_EQ(neatxm_player_get_position(pair.a, &a), NEATXM_OK);
        ASSERT_EQ(neatxm_player_get_position(pair.b, &b), NEATXM_OK);
        ASSERT_EQ(std::memcmp(&a, &b, sizeof a), 0) << Where() << ": the pair's positions differ";
        if (pair.known) {
            ASSERT_EQ(a.frame, pair.frame) << Where();
        }
        if (pair.ended) {
            ASSERT_EQ(a.ended, 1) << Where();
        }
    }

    int64_t RandomTarget(const Pair& pair) {
        const int64_t limit = (REFERENCE_SECONDS - 1) * pair.setting.config.rate;
        switch (Pick(0, 3)) {
        case 0: return 0;
        case 1: return pair.frame + Pick(0, 2000); // just ahead: may go on from where it is
        default: return Pick(0, int(limit));
        }
    }

    void SeekExact(Pair& pair) {
        int64_t target = RandomTarget(pair);
        neatxm_error a = NEATXM_OK, b = NEATXM_OK;
        if (Pick(0, 3) == 0) {
            const double seconds = double(target) / pair.setting.config.rate;
            // The call rounds the time down to a frame, which may lie one below.
            target = int64_t(std::floor(seconds * pair.setting.config.rate));
            a = neatxm_player_seek_seconds(pair.a, seconds, NEATXM_SEEK_EXACT);
            b = neatxm_player_seek_seconds(pair.b, seconds, NEATXM_SEEK_EXACT);
        } else {
            a = neatxm_player_seek_frame(pair.a, target, NEATXM_SEEK_EXACT);
            b = neatxm_player_seek_frame(pair.b, target, NEATXM_SEEK_EXACT);
        }
        ASSERT_EQ(a, b) << Where();
        if (a == NEATXM_ERROR_RANGE) {
            ASSERT_GT(pair.setting.config.repeat, 0) << Where() << ": seek refused at " << target;
            CheckPosition(pair);
            return;
        }
        ASSERT_EQ(a, NEATXM_OK) << Where();
        pair.known = true;
        pair.ended = false;
        pair.frame = target;
        CheckPosition(pair);
        ++exactSeeks_;
        // The frames after it: a straight render's with the same controls.
        std::vector<int16_t> after;
        RenderBoth<int16_t>(pair, size_t(Pick(1, 3000)), &after);
        const std::vector<int16_t>& straight = references_.Get(pair.song, pair.setting);
        const size_t from = 2 * size_t(target);
        const size_t count =
            std::min(after.size(), straight.size() - std::min(from, straight.size()));
        ASSERT_TRUE(std::equal(after.begin(), after.begin() + std::ptrdiff_t(count),
                               straight.begin() + std::ptrdiff_t(from)))
            << Where() << ": an exact seek to " << target << " differs from the straight render";
    }

    void SeekFast(Pair& pair) {
        const int64_t target = RandomTarget(pair);
        const neatxm_error a = neatxm_player_seek_frame(pair.a, target, NEATXM_SEEK_FAST);
        const neatxm_error b = neatxm_player_seek_frame(pair.b, target, NEATXM_SEEK_FAST);
        ASSERT_EQ(a, b) << Where();
        if (a == NEATXM_OK) {
            pair.frame = target;
            pair.known = true;
            pair.ended = false;
        } else {
            ASSERT_EQ(a, NEATXM_ERROR_RANGE) << Where();
        }
        CheckPosition(pair);
    }

    void SeekOrder(Pair& pair) {
        const int32_t order = Pick(-1, 4), row = Pick(-1, 33);
        const neatxm_error a = neatxm_player_seek_order(pair.a, order, row);
        ASSERT_EQ(neatxm_player_seek_order(pair.b, order, row), a) << Where();
        const neatxm_song* song = pair.song;
        const int32_t pattern = neatxm_song_order(song, order);
        const bool exists =
            pattern >= 0 && row >= 0 && row < neatxm_song_pattern_rows(song, pattern);
        ASSERT_EQ(a, exists ? NEATXM_OK : NEATXM_ERROR_RANGE) << Where();
        if (a == NEATXM_OK) {
            pair.known = false;
            pair.ended = false;
        }
        CheckPosition(pair);
        if (!pair.known) {
            neatxm_position position = NEATXM_POSITION_INIT;
            neatxm_player_get_position(pair.a, &position);
            pair.frame = position.frame;
            pair.known = true;
        }
    }

    void SetSomething(Pair& pair) {
        neatxm_player_config& c = pair.setting.config;
        auto both = [&](auto call) {
            const neatxm_error a = call(pair.a);
            EXPECT_EQ(call(pair.b), a) << Where();
            return a;
        };
        switch (Pick(0, 5)) {
        case 0: {
            const int32_t value = Pick(-1, 4);
            const auto code = both([&](neatxm_player* p) {
                return neatxm_player_set_interpolation(p, neatxm_interpolation(value));
            });
            ASSERT_EQ(code, value >= 0 && value <= 3 ? NEATXM_OK : NEATXM_ERROR_ARGUMENT);
            if (code == NEATXM_OK) c.interpolation = value;
            break;
        }
        case 1: {
            const int32_t value = Pick(-10, 210);
            const auto code =
                both([&](neatxm_player* p) { return neatxm_player_set_separation(p, value); });
            ASSERT_EQ(code, value >= 0 && value <= 200 ? NEATXM_OK : NEATXM_ERROR_RANGE);
            if (code == NEATXM_OK) c.separation = value;
            break;
        }
        case 2: {
            const float value = float(Pick(-70, 30));
            const auto code =
                both([&](neatxm_player* p) { return neatxm_player_set_gain(p, value); });
            ASSERT_EQ(code, value >= -60 && value <= 24 ? NEATXM_OK : NEATXM_ERROR_RANGE);
            if (code == NEATXM_OK) c.gain_db = value;
            break;
        }
        case 3: {
            const int32_t value = Pick(-2, 5);
            const auto code =
                both([&](neatxm_player* p) { return neatxm_player_set_ramp(p, value); });
            ASSERT_EQ(code, value >= -1 ? NEATXM_OK : NEATXM_ERROR_RANGE);
            if (code == NEATXM_OK) c.ramp_ms = value;
            break;
        }
        case 4: {
            const int32_t value = Pick(0, 1);
            both([&](neatxm_player* p) { return neatxm_player_set_limiter(p, value); });
            c.limiter = value;
            break;
        }
        default: {
            const int32_t value = Pick(0, 2);
            ASSERT_EQ(both([&](neatxm_player* p) { return neatxm_player_set_repeat(p, value); }),
                      NEATXM_OK);
            c.repeat = value;
            pair.ended = false; // a count may end the song at once or let it go on
            neatxm_position position = NEATXM_POSITION_INIT;
            neatxm_player_get_position(pair.a, &position);
            pair.ended = position.ended != 0;
            break;
        }
        }
        neatxm_player_config back = NEATXM_PLAYER_CONFIG_INIT;
        ASSERT_EQ(neatxm_player_get_config(pair.a, &back), NEATXM_OK);
        ASSERT_EQ(std::memcmp(&back, &c, sizeof back), 0) << Where() << ": config read back";
    }

    void MuteOrSolo(Pair& pair) {
        const int32_t channel = Pick(-1, pair.channels);
        const int32_t on = Pick(0, 1);
        const bool solo = Pick(0, 3) == 0;
        auto call = solo ? neatxm_player_set_solo : neatxm_player_set_mute;
        const neatxm_error a = call(pair.a, channel, on);
        ASSERT_EQ(call(pair.b, channel, on), a);
        const bool exists = channel >= 0 && channel < pair.channels;
        ASSERT_EQ(a, exists ? NEATXM_OK : NEATXM_ERROR_RANGE) << Where();
        if (!exists) return;
        uint32_t& bits = solo ? pair.setting.solo : pair.setting.muted;
        bits = on ? bits | (1u << channel) : bits & ~(1u << channel);
    }

    void Look(Pair& pair) {
        CheckPosition(pair);
        const int32_t channel = Pick(-1, pair.channels);
        neatxm_channel_state a = NEATXM_CHANNEL_STATE_INIT, b = NEATXM_CHANNEL_STATE_INIT;
        const neatxm_error code = neatxm_player_get_channel(pair.a, channel, &a);
        ASSERT_EQ(neatxm_player_get_channel(pair.b, channel, &b), code);
        ASSERT_EQ(code, channel >= 0 && channel < pair.channels ? NEATXM_OK : NEATXM_ERROR_RANGE);
        ASSERT_EQ(std::memcmp(&a, &b, sizeof a), 0) << Where() << ": the pair's channels differ";
        // Events: the same for both, oldest first, whatever the capacity asked.
        std::vector<neatxm_event> ea(size_t(Pick(0, 300))), eb(2048);
        int32_t na = 0, nb = 0;
        ASSERT_EQ(neatxm_player_take_events(pair.a, ea.data(), sizeof(neatxm_event),
                                            int32_t(ea.size()), &na),
                  NEATXM_OK);
        ASSERT_EQ(neatxm_player_take_events(pair.b, eb.data(), sizeof(neatxm_event), na, &nb),
                  NEATXM_OK);
        ASSERT_EQ(na, nb) << Where();
        ASSERT_TRUE(std::equal(ea.begin(), ea.begin() + na, eb.begin(),
                               [](const neatxm_event& x, const neatxm_event& y) {
                                   return std::memcmp(&x, &y, sizeof x) == 0;
                               }))
            << Where() << ": the pair's events differ";
        for (int32_t i = 1; i < na; ++i) ASSERT_LE(ea[size_t(i) - 1].frame, ea[size_t(i)].frame);
    }

    std::mt19937_64 random_;
    const std::vector<SongBytes>& songs_;
    References& references_;
    std::vector<Pair> pairs_;
    int step_ = 0;

  public:
    int exactSeeks_ = 0; // exact seeks checked against a straight render
};

uint64_t BaseSeed() {
    if (const char* given = std::getenv("NEATXM_RANDOM_SEED"))
        return std::strtoull(given, nullptr, 10);
    return std::random_device{}();
}

class ApiRandom : public ::testing::Test {
  protected:
    void SetUp() override {
        songs_.resize(2);
        songs_[0].bytes = xmw::WriteXm(EffectSong());
        const std::string demoSong = std::string(DEMO_DATA_DIR) + "/Zarq-Neat.xm";
        FILE* file = std::fopen(demoSong.c_str(), "rb");
        ASSERT_NE(file, nullptr) << demoSong;
        uint8_t buffer[65536];
        size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            songs_[1].bytes.insert(songs_[1].bytes.end(), buffer, buffer + got);
        std::fclose(file);
        for (SongBytes& s : songs_)
            ASSERT_EQ(neatxm_song_load_memory(s.bytes.data(), s.bytes.size(), &s.song, nullptr, 0),
                      NEATXM_OK);
    }
    void TearDown() override {
        for (SongBytes& s : songs_) {
            if (s.song) {
                EXPECT_EQ(neatxm_song_free(s.song), NEATXM_OK);
            }
        }
    }
    std::vector<SongBytes> songs_;
    References references_;
};

TEST_F(ApiRandom, OneThreadKeepsEveryInvariant) {
    const uint64_t seed = BaseSeed();
    SCOPED_TRACE("NEATXM_RANDOM_SEED=" + std::to_string(seed));
    CallSequence calls(seed, songs_, references_);
    calls.Go(400);
    // The run is random, but not so short that it could miss the seeks it is for.
    EXPECT_GT(calls.exactSeeks_, 10);
}

// Threads share the songs (and the references' cache); each makes, plays and frees players of
// its own, so songs gain and lose players on several threads at once.
TEST_F(ApiRandom, SeveralThreadsOnSharedSongsKeepEveryInvariant) {
    const uint64_t seed = BaseSeed();
    SCOPED_TRACE("NEATXM_RANDOM_SEED=" + std::to_string(seed));
    std::vector<std::thread> threads;
    for (uint64_t t = 0; t < 3; ++t)
        threads.emplace_back([&, t] { CallSequence(seed + 1 + t, songs_, references_).Go(200); });
    for (std::thread& thread : threads) thread.join();
}

} // namespace
