// mod_writer.cpp: see mod_writer.h.
#include "mod_writer.h"

#include <algorithm>
#include <cmath>

namespace modw {

Song MinimalSong() {
    Song song;
    Sample sample;
    sample.name = "square";
    sample.lengthWords = 64;
    for (int i = 0; i < 128; ++i)
        sample.data.push_back(static_cast<int8_t>(i % 32 < 16 ? 64 : -64));
    song.samples.push_back(sample);
    song.patterns.resize(1);
    return song;
}

uint16_t Period(int note) {
    // The periods the tracker writes: its own table, not the rounded semitone curve.
    static constexpr uint16_t TABLE[36] = {
        856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453, 428, 404, 381, 360, 339, 320,
        302, 285, 269, 254, 240, 226, 214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113,
    };
    if (note >= 0 && note < 36) return TABLE[note];
    return static_cast<uint16_t>(std::lround(856.0 * std::pow(2.0, -note / 12.0)));
}

void Put(Song& song, int pattern, int row, int track, Cell cell) {
    if (static_cast<int>(song.patterns.size()) <= pattern) song.patterns.resize(pattern + 1);
    auto& cells = song.patterns[pattern];
    cells.resize(static_cast<size_t>(64 * song.channels));
    cells[static_cast<size_t>(row * song.channels + track)] = cell;
}

namespace {

void Word(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v & 0xFF));
}

void Text(std::vector<uint8_t>& out, const std::string& text, size_t size) {
    for (size_t i = 0; i < size; ++i)
        out.push_back(i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
}

} // namespace

std::vector<uint8_t> WriteMod(const Song& song) {
    std::vector<uint8_t> out;
    const size_t sampleSlots = song.tag.empty() ? 15 : 31;
    Text(out, song.title, 20);
    for (size_t i = 0; i < sampleSlots; ++i) {
        const Sample s = i < song.samples.size() ? song.samples[i] : Sample{};
        Text(out, s.name, 22);
        Word(out, s.lengthWords);
        out.push_back(s.finetune);
        out.push_back(s.volume);
        Word(out, s.loopStartWords);
        Word(out, s.loopLengthWords);
    }
    out.push_back(song.songLength ? song.songLength : static_cast<uint8_t>(song.orders.size()));
    out.push_back(song.restart);
    for (size_t i = 0; i < 128; ++i) out.push_back(i < song.orders.size() ? song.orders[i] : 0);
    if (!song.tag.empty()) Text(out, song.tag, 4);
    size_t stored = 0;
    for (size_t i = 0; i < 128; ++i)
        stored = std::max<size_t>(stored, (i < song.orders.size() ? song.orders[i] : 0) + 1u);
    stored = std::max(stored, song.patterns.size());
    for (size_t p = 0; p < stored; ++p) {
        for (int k = 0; k < 64 * song.channels; ++k) {
            Cell c;
            if (p < song.patterns.size() && static_cast<size_t>(k) < song.patterns[p].size())
                c = song.patterns[p][static_cast<size_t>(k)];
            out.push_back(static_cast<uint8_t>((c.sample & 0xF0) | ((c.period >> 8) & 0x0F)));
            out.push_back(static_cast<uint8_t>(c.period & 0xFF));
            out.push_back(static_cast<uint8_t>((c.sample & 0x0F) << 4 | (c.effect & 0x0F)));
            out.push_back(c.parameter);
        }
    }
    for (size_t i = 0; i < song.samples.size() && i < sampleSlots; ++i) {
        const Sample& s = song.samples[i];
        for (size_t k = 0; k < size_t{s.lengthWords} * 2; ++k)
            out.push_back(static_cast<uint8_t>(k < s.data.size() ? s.data[k] : 0));
    }
    if (song.truncateTo < out.size()) out.resize(song.truncateTo);
    return out;
}

} // namespace modw
