// sequencer_harness.h: loads a song built with the XM writer through the real loader, makes a
// player for it (44100 Hz, the demo's rules unless asked otherwise) and steps its sequencer tick
// by tick without mixing, recording what reaches the voices: as records for tests that look at
// one value, or as a per-tick dump compared line by line against a table written in the test.
// Shared by the sequencer, period, envelope, effects, player and song tests, with the list of
// corpus songs.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "memory_files.h"
#include "music/mixer.h"
#include "music/module.h"
#include "music/player.h"
#include "music/sequencer.h"
#include "music/sequencer_internal.h"
#include "xm_writer.h"

#ifndef DEMO_SHARED_DIR
#define DEMO_SHARED_DIR ""
#endif

namespace seqtest {

// The songs made by others in ../shared/xm-corpus/<folder>, sorted by name; none when the folder
// is absent (tests that need them skip).
inline std::filesystem::path CorpusDir() {
    return std::filesystem::path(DEMO_SHARED_DIR) / "xm-corpus";
}
inline std::vector<std::filesystem::path> CorpusFiles(const char* folder) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(CorpusDir() / folder, error))
        if (entry.path().extension() == ".xm") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// What one track's voice holds after a tick.
struct VoiceState {
    int32_t row;
    int32_t tick;
    int32_t order;
    int32_t voiceNumber;
    int32_t period;    // the channel's period (before the per-tick delta)
    int32_t frequency; // Hz, recovered from the voice's 32.32 step
    int32_t volume;    // mixVolume
    int32_t panning;   // mixPanning
    int32_t left;
    int32_t right;
    bool playing; // the voice has a sample
    uint32_t position;
};

// Recovers the frequency in Hz from the 32.32 step at 44100 Hz.
inline int32_t StepFrequency(const Voice& voice) {
    const uint64_t rest =
        (static_cast<uint64_t>(voice.incrementFraction) * 44100 + 0xFFFFFFFFu) >> 32;
    return static_cast<int32_t>(voice.increment * 44100 + static_cast<int64_t>(rest));
}

// A song with `channels` tracks, one pattern of `rows` rows and one instrument whose single
// 16-bit sample has a forward loop over `length` frames (a ramp, so positions are visible).
inline xmw::Song BasicSong(int channels = 4, int rows = 16, bool linear = true) {
    xmw::Song song;
    song.channels = static_cast<uint16_t>(channels);
    song.flags = linear ? MODULE_LINEAR_FREQUENCIES : 0;
    song.orders = {0};
    song.patterns.push_back(song.MakePattern(rows));
    xmw::Instrument instrument;
    instrument.name = "ramp";
    xmw::Sample sample;
    sample.sixteenBit = true;
    for (int i = 0; i < 4096; ++i) sample.values.push_back((i % 256) * 64 - 8192);
    sample.loop = xmw::Loop::Forward;
    sample.loopStart = 0;
    sample.loopLength = 4096;
    sample.volume = 64;
    sample.panning = 128;
    instrument.samples.push_back(sample);
    song.instruments.push_back(instrument);
    return song;
}

inline PatternCell Cell(const char* note, uint8_t instrument = 0, uint8_t volumeColumn = 0,
                        uint8_t effect = 0, uint8_t parameter = 0) {
    PatternCell cell{};
    cell.note = note ? (std::string(note) == "off" ? 255 : xmw::NoteNumber(note)) : 0;
    cell.instrument = instrument;
    cell.volumeColumn = volumeColumn;
    cell.effect = effect;
    cell.effectParameter = parameter;
    return cell;
}

// One dump line: "row tick channel | voice period volume panning", where period is the one the
// voice's step was made from (the channel's period plus this tick's delta), volume and panning
// the voice's 0-255 levels, voice the mixed voice the track plays on (its partner after a new
// note). The format is the table's: tests write their expectations in it.
inline std::string DumpLine(const Player* player, int channel) {
    const MusicChannel& c = player->channels[channel];
    const Voice& v = *c.voice;
    char line[96];
    std::snprintf(line, sizeof line, "%d %d %d | %d %d %d %d", player->position.row,
                  player->position.tick, channel, v.voiceNumber, c.period + c.periodDelta,
                  v.mixVolume, v.mixPanning);
    return line;
}

// Compares a dump with the expected table line by line, naming every line that differs.
inline ::testing::AssertionResult SameDump(const std::vector<std::string>& actual,
                                           const std::vector<std::string>& expected) {
    std::string report;
    const size_t lines = std::max(actual.size(), expected.size());
    for (size_t i = 0; i < lines; ++i) {
        const std::string a = i < actual.size() ? actual[i] : "(none)";
        const std::string e = i < expected.size() ? expected[i] : "(none)";
        if (a != e)
            report +=
                "\n  line " + std::to_string(i + 1) + ": got \"" + a + "\", expected \"" + e + "\"";
    }
    if (report.empty()) return ::testing::AssertionSuccess();
    // The whole dump as the test's table would hold it, to paste in when a change of behaviour
    // is intended (and explained in its commit).
    std::string table;
    for (const std::string& line : actual) table += "\n    \"" + line + "\",";
    return ::testing::AssertionFailure() << "dump differs (row tick channel | voice period "
                                            "volume panning):"
                                         << report << "\nthe dump as a table:" << table;
}

// A loaded song and a player of it, started as playback starts it, stepped one tick at a time.
class Harness {
  public:
    explicit Harness(const xmw::Song& song, PlayerRules rules = PlayerRules::Demo) {
        module_ = LoadModuleBytes(xmw::WriteXm(song));
        if (module_ != nullptr) player_ = CreatePlayer(module_, 44100, rules);
    }
    ~Harness() {
        DestroyPlayer(player_);
        if (module_) FreeModule(module_);
    }
    Harness(const Harness&) = delete;
    Harness& operator=(const Harness&) = delete;

    bool loaded() const { return player_ != nullptr; }
    // The loaded song; tests may change it to make records no valid file holds.
    Module* module() { return module_; }
    Player* player() { return player_; }
    MusicChannel& channel(int c) { return player_->channels[c]; }
    Voice& voice(int v) { return player_->voices[v]; }

    // Runs one tick and returns what the voice of each of the first `tracks` tracks holds.
    std::vector<VoiceState> Tick(int tracks = 1) {
        SequencerTick(player_);
        const PlayerPosition& at = player_->position;
        std::vector<VoiceState> states;
        for (int c = 0; c < tracks; ++c) {
            const MusicChannel& channel = player_->channels[c];
            const Voice& v = *channel.voice;
            states.push_back(VoiceState{at.row, at.tick, at.order, v.voiceNumber, channel.period,
                                        StepFrequency(v), v.mixVolume, v.mixPanning, v.volumeLeft,
                                        v.volumeRight, v.sample != nullptr, v.position});
        }
        return states;
    }
    // Runs `count` ticks, keeping one track's states.
    std::vector<VoiceState> Ticks(int count, int track = 0) {
        std::vector<VoiceState> out;
        for (int i = 0; i < count; ++i) out.push_back(Tick(track + 1)[track]);
        return out;
    }
    // Runs `count` ticks and dumps the given tracks after each (one line per track and tick).
    std::vector<std::string> Dump(int count, std::vector<int> tracks = {0}) {
        std::vector<std::string> lines;
        for (int i = 0; i < count; ++i) {
            SequencerTick(player_);
            for (int c : tracks) lines.push_back(DumpLine(player_, c));
        }
        return lines;
    }
    // The (order, row) of every row tick over `ticks` ticks.
    std::vector<std::pair<int, int>> RowTicks(int ticks) {
        std::vector<std::pair<int, int>> out;
        for (int i = 0; i < ticks; ++i) {
            SequencerTick(player_);
            if (player_->position.tick == 0)
                out.emplace_back(player_->position.order, player_->position.row);
        }
        return out;
    }

  private:
    Module* module_ = nullptr;
    Player* player_ = nullptr;
};

} // namespace seqtest
