// neatxm.hpp: a thin C++ layer over neatxm.h: songs and players as move-only owners, errors as
// exceptions, buffers as spans. The same rules hold: a song is read-only once loaded and may be
// played by any number of players; use each player from one thread at a time.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>

#include "neatxm.h"

namespace neatxm {

// A load or player failure, with the library's code and message.
class Error : public std::runtime_error {
  public:
    explicit Error(const neatxm_error& error)
        : std::runtime_error(error.message), code_(error.code) {}
    int code() const { return code_; }

  private:
    int code_;
};

class Song {
  public:
    static Song LoadFile(const std::string& path) {
        return Song(Check(neatxm_load_file, path.c_str()));
    }
    static Song LoadMemory(std::span<const uint8_t> bytes) {
        neatxm_error error{};
        neatxm_song* song = neatxm_load_memory(bytes.data(), bytes.size(), &error);
        if (!song) throw Error(error);
        return Song(song);
    }

    Song(Song&& other) noexcept : song_(std::exchange(other.song_, nullptr)) {}
    Song& operator=(Song&& other) noexcept {
        std::swap(song_, other.song_);
        return *this;
    }
    Song(const Song&) = delete;
    Song& operator=(const Song&) = delete;
    // Players must go first; a song still in use is kept (and leaked) rather than freed under them.
    ~Song() {
        if (song_) neatxm_song_free(song_);
    }

    neatxm_song_info Info() const {
        neatxm_song_info info{};
        neatxm_song_get_info(song_, &info);
        return info;
    }
    std::string Title() const { return neatxm_song_title(song_); }
    std::string Tracker() const { return neatxm_song_tracker(song_); }
    std::string InstrumentName(int instrument) const {
        return neatxm_instrument_name(song_, instrument);
    }
    std::string SampleName(int instrument, int sample) const {
        return neatxm_sample_name(song_, instrument, sample);
    }
    const neatxm_song* get() const { return song_; }

  private:
    explicit Song(neatxm_song* song) : song_(song) {}
    static neatxm_song* Check(neatxm_song* (*load)(const char*, neatxm_error*), const char* name) {
        neatxm_error error{};
        neatxm_song* song = load(name, &error);
        if (!song) throw Error(error);
        return song;
    }
    neatxm_song* song_;
};

class Player {
  public:
    Player(const Song& song, int rate, neatxm_rules rules = NEATXM_RULES_STANDARD) {
        neatxm_error error{};
        player_ = neatxm_player_create(song.get(), rate, rules, &error);
        if (!player_) throw Error(error);
    }
    Player(Player&& other) noexcept : player_(std::exchange(other.player_, nullptr)) {}
    Player& operator=(Player&& other) noexcept {
        std::swap(player_, other.player_);
        return *this;
    }
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;
    ~Player() { neatxm_player_destroy(player_); }

    // Frames written: interleaved.size() / 2 unless the end mode stopped the song.
    size_t Render(std::span<int16_t> interleaved) {
        return neatxm_render_s16(player_, interleaved.data(), interleaved.size() / 2);
    }
    size_t Render(std::span<float> interleaved) {
        return neatxm_render_float(player_, interleaved.data(), interleaved.size() / 2);
    }
    neatxm_position Position() const {
        neatxm_position position{};
        neatxm_player_position(player_, &position);
        return position;
    }
    bool Seek(int order) { return neatxm_player_seek(player_, order) == NEATXM_OK; }
    void StopAtEnd(bool stop) {
        neatxm_player_set_end(player_, stop ? NEATXM_END_STOP : NEATXM_END_WRAP);
    }
    int ChannelVolume(int channel) const { return neatxm_player_channel_volume(player_, channel); }
    neatxm_player* get() { return player_; }

  private:
    neatxm_player* player_ = nullptr;
};

} // namespace neatxm
