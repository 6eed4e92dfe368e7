// neatxm.hpp: a C++17 layer over neatxm.h. Songs and players own their handles (RAII); a song is
// shared by whoever holds it, and every player keeps its song alive, so the two may go in any
// order. Failures throw neatxm::Error with the library's code and sentence. The rules of the C
// interface hold: a song may be played by any number of players on any threads; make the calls
// on one player from one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "neatxm.h"

namespace neatxm {

// A failure of the library, with its code (neatxm_error) and what it says about it.
class Error : public std::runtime_error {
  public:
    Error(neatxm_error code, const std::string& message)
        : std::runtime_error(message.empty() ? neatxm_error_text(code) : message), code_(code) {}
    neatxm_error code() const { return code_; }

  private:
    neatxm_error code_;
};

namespace detail {
constexpr size_t MESSAGE_SIZE = 512;
inline void Check(neatxm_error code, const char* message = "") {
    if (code != NEATXM_OK) throw Error(code, message);
}
} // namespace detail

class Player;

// A loaded song. Copies share the one loaded song; it is freed with the last copy and the last
// Player made for it. A player made with the C calls on get() must be freed before that (the
// song would otherwise be refused its free and kept).
class Song {
  public:
    static Song LoadFile(const std::string& path) {
        char message[detail::MESSAGE_SIZE];
        neatxm_song* song = nullptr;
        detail::Check(neatxm_song_load_file(path.c_str(), &song, message, sizeof message), message);
        return Song(song);
    }
    static Song LoadMemory(const void* data, size_t size) {
        char message[detail::MESSAGE_SIZE];
        neatxm_song* song = nullptr;
        detail::Check(neatxm_song_load_memory(data, size, &song, message, sizeof message), message);
        return Song(song);
    }
    static Song LoadMemory(const std::vector<uint8_t>& bytes) {
        return LoadMemory(bytes.data(), bytes.size());
    }
    // `stream` is used during the call only.
    static Song LoadStream(const neatxm_stream& stream, const char* name, void* handle = nullptr) {
        char message[detail::MESSAGE_SIZE];
        neatxm_song* song = nullptr;
        detail::Check(
            neatxm_song_load_stream(&stream, name, handle, &song, message, sizeof message),
            message);
        return Song(song);
    }

    neatxm_song_info Info() const {
        neatxm_song_info info = NEATXM_SONG_INFO_INIT;
        detail::Check(neatxm_song_get_info(get(), &info));
        return info;
    }
    std::string Title() const { return neatxm_song_title(get()); }
    std::string Tracker() const { return neatxm_song_tracker(get()); }
    std::string InstrumentName(int32_t instrument) const {
        return neatxm_song_instrument_name(get(), instrument);
    }
    int32_t InstrumentSamples(int32_t instrument) const {
        return neatxm_song_instrument_samples(get(), instrument);
    }
    std::string SampleName(int32_t instrument, int32_t sample) const {
        return neatxm_song_sample_name(get(), instrument, sample);
    }
    int32_t Order(int32_t position) const { return neatxm_song_order(get(), position); }
    int32_t PatternRows(int32_t pattern) const { return neatxm_song_pattern_rows(get(), pattern); }
    // One cell per channel of a pattern's row.
    std::vector<neatxm_cell> Row(int32_t pattern, int32_t row) const {
        std::vector<neatxm_cell> cells(NEATXM_MAX_CHANNELS);
        detail::Check(neatxm_song_get_row(get(), pattern, row, cells.data(),
                                          static_cast<int32_t>(cells.size())));
        cells.resize(static_cast<size_t>(Info().channels));
        return cells;
    }
    const neatxm_song* get() const { return song_.get(); }

  private:
    friend class Player;
    // The handle is freed when the last owner lets go; by then every player has freed its own
    // handle, so the free cannot be refused.
    explicit Song(neatxm_song* song) : song_(song, [](neatxm_song* s) { neatxm_song_free(s); }) {}
    explicit Song(std::shared_ptr<neatxm_song> song) : song_(std::move(song)) {}
    std::shared_ptr<neatxm_song> song_;
};

// A player of a song; move-only. It holds a share of its song.
class Player {
  public:
    // A player with every default (44100 Hz, the standard rules, linear interpolation).
    explicit Player(const Song& song) : Player(song, Config()) {}
    Player(const Song& song, const neatxm_player_config& config) : song_(song.song_) {
        char message[detail::MESSAGE_SIZE];
        neatxm_player* player = nullptr;
        detail::Check(neatxm_player_create(song_.get(), &config, &player, message, sizeof message),
                      message);
        player_.reset(player);
    }
    // The defaults, to change before making a player.
    static neatxm_player_config Config() {
        neatxm_player_config config = NEATXM_PLAYER_CONFIG_INIT;
        return config;
    }

    // Frames written (fewer than asked only when the repeat count has ended the song).
    size_t Render(int16_t* interleaved, size_t frames) {
        return neatxm_player_render_s16(get(), interleaved, frames);
    }
    size_t Render(float* interleaved, size_t frames) {
        return neatxm_player_render_float(get(), interleaved, frames);
    }
    // Fills the whole vector (size / 2 frames), shortening it to what was rendered.
    template <typename Sample> size_t Render(std::vector<Sample>& interleaved) {
        const size_t got = Render(interleaved.data(), interleaved.size() / 2);
        interleaved.resize(got * 2);
        return got;
    }

    neatxm_player_config CurrentConfig() const {
        neatxm_player_config config = NEATXM_PLAYER_CONFIG_INIT;
        detail::Check(neatxm_player_get_config(get(), &config));
        return config;
    }
    void SetInterpolation(neatxm_interpolation i) {
        detail::Check(neatxm_player_set_interpolation(get(), i));
    }
    void SetSeparation(int32_t percent) {
        detail::Check(neatxm_player_set_separation(get(), percent));
    }
    void SetGain(float db) { detail::Check(neatxm_player_set_gain(get(), db)); }
    void SetRamp(int32_t ms) { detail::Check(neatxm_player_set_ramp(get(), ms)); }
    void SetLimiter(bool on) { detail::Check(neatxm_player_set_limiter(get(), on ? 1 : 0)); }
    void SetRepeat(int32_t count) { detail::Check(neatxm_player_set_repeat(get(), count)); }
    void SetMute(int32_t channel, bool on) {
        detail::Check(neatxm_player_set_mute(get(), channel, on ? 1 : 0));
    }
    void SetSolo(int32_t channel, bool on) {
        detail::Check(neatxm_player_set_solo(get(), channel, on ? 1 : 0));
    }

    neatxm_position Position() const {
        neatxm_position position = NEATXM_POSITION_INIT;
        detail::Check(neatxm_player_get_position(get(), &position));
        return position;
    }
    // False (the player stays) when the repeat count ends the song before the target.
    bool SeekFrame(int64_t frame, neatxm_seek mode = NEATXM_SEEK_EXACT) {
        return Seeked(neatxm_player_seek_frame(get(), frame, mode));
    }
    bool SeekSeconds(double seconds, neatxm_seek mode = NEATXM_SEEK_EXACT) {
        return Seeked(neatxm_player_seek_seconds(get(), seconds, mode));
    }
    bool SeekOrder(int32_t order, int32_t row = 0) {
        return Seeked(neatxm_player_seek_order(get(), order, row));
    }
    neatxm_channel_state Channel(int32_t channel) const {
        neatxm_channel_state state = NEATXM_CHANNEL_STATE_INIT;
        detail::Check(neatxm_player_get_channel(get(), channel, &state));
        return state;
    }
    // Every event waiting, oldest first.
    std::vector<neatxm_event> TakeEvents() {
        std::vector<neatxm_event> events;
        neatxm_event piece[256];
        int32_t got = 0;
        do {
            detail::Check(neatxm_player_take_events(get(), piece, sizeof piece[0], 256, &got));
            events.insert(events.end(), piece, piece + got);
        } while (got == 256);
        return events;
    }
    uint64_t EventsDropped() const { return neatxm_player_events_dropped(get()); }

    neatxm_player* get() const { return player_.get(); }
    // The song it plays (a share of it).
    Song PlayedSong() const { return Song(song_); }

  private:
    static bool Seeked(neatxm_error code) {
        if (code == NEATXM_ERROR_RANGE) return false;
        detail::Check(code);
        return true;
    }
    struct Free {
        void operator()(neatxm_player* p) const { neatxm_player_free(p); }
    };
    // Declared first, so it is let go last: the player's handle goes before its song's share.
    std::shared_ptr<neatxm_song> song_;
    std::unique_ptr<neatxm_player, Free> player_;
};

} // namespace neatxm
