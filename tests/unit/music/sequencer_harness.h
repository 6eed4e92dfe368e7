// sequencer_harness.h: loads a song built with the XM writer through the real loader, starts it
// the way playback does (without the ring) and steps the sequencer tick by tick, recording what
// reaches the voices. Shared by the sequencer, pitch, effects and song tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "memory_files.h"
#include "music/file_access.h"
#include "music/mixer.h"
#include "music/module.h"
#include "music/playback.h"
#include "music/sequencer.h"
#include "xm_writer.h"

namespace seqtest {

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

// A loaded song, started as playback starts it, stepped one tick at a time.
class Player {
  public:
    explicit Player(const xmw::Song& song) {
        InstallMemoryFile("harness.xm", xmw::WriteXm(song));
        ConfigureOutput(44100);
        module_ = LoadModule("harness.xm", nullptr);
        if (module_ == nullptr) return;
        ResetPlaybackState(module_);
    }
    ~Player() {
        if (module_) FreeModule(module_);
        ClearMemoryFiles();
    }
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;

    bool loaded() const { return module_ != nullptr; }
    Module* module() { return module_; }

    // Where the next tick plays: the row tick takes the pending order and row first.
    void Where(int32_t* order, int32_t* row, int32_t* tick) const {
        const bool rowTick = module_->tick == 0;
        *order = rowTick && module_->nextOrderPosition >= 0 ? module_->nextOrderPosition
                                                            : module_->orderPosition;
        *row = rowTick && module_->nextRow >= 0 ? module_->nextRow : module_->row;
        *tick = module_->tick;
    }

    // Runs one tick and returns what the voice of each of the first `tracks` tracks holds.
    std::vector<VoiceState> Tick(int tracks = 1) {
        int32_t order, row, tick;
        Where(&order, &row, &tick);
        SequencerTick(module_);
        std::vector<VoiceState> states;
        for (int c = 0; c < tracks; ++c) {
            const Voice& v = *channels[c].voice;
            states.push_back(VoiceState{row, tick, order, v.voiceNumber, channels[c].period,
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
    // The (order, row) of every row tick over `ticks` ticks.
    std::vector<std::pair<int, int>> RowTicks(int ticks) {
        std::vector<std::pair<int, int>> out;
        for (int i = 0; i < ticks; ++i) {
            int32_t order, row, tick;
            Where(&order, &row, &tick);
            SequencerTick(module_);
            if (tick == 0) out.emplace_back(order, row);
        }
        return out;
    }

  private:
    Module* module_ = nullptr;
};

} // namespace seqtest
