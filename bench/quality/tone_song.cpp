// tone_song.cpp: writes the interpolation quality test module: one pure tone (a sine of 8 points
// a period, looping) played on one track, a note every 4 semitones from C-1 up to C-7 and back
// down, each held for one row of 12 ticks at 125 BPM (0.24 s). The sample's relative note (+24)
// puts the top notes' tones above 22050 Hz, where an ideal 44100 Hz render is silent.
//
//     quality_tone_song OUT.xm
#include <cmath>
#include <cstdio>

#include "xm_writer.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        fputs("usage: quality_tone_song OUT.xm\n", stderr);
        return 2;
    }
    xmw::Song song;
    song.name = "interpolation tone";
    song.channels = 1;
    song.speed = 12;
    song.bpm = 125;
    std::vector<uint8_t> notes;
    for (int n = 13; n <= 85; n += 4) notes.push_back(static_cast<uint8_t>(n)); // C-1 .. C-7
    for (int k = static_cast<int>(notes.size()) - 2; k >= 0; --k) notes.push_back(notes[k]);
    xmw::Pattern pattern = song.MakePattern(static_cast<int>(notes.size()) + 1);
    for (size_t row = 0; row < notes.size(); ++row)
        pattern.At(static_cast<int>(row), 0) = PatternCell{notes[row], 1, 0, 0, 0};
    // A key-off row without an envelope silences the voice at once; the song then ends.
    pattern.At(static_cast<int>(notes.size()), 0) = PatternCell{xmw::NOTE_KEY_OFF, 0, 0, 0, 0};
    song.patterns.push_back(pattern);
    song.orders = {0};

    xmw::Sample tone;
    tone.name = "sine";
    tone.sixteenBit = true;
    constexpr double PI = 3.14159265358979323846;
    for (int i = 0; i < 8; ++i)
        tone.values.push_back(
            static_cast<int32_t>(std::lround(24000.0 * std::sin(2 * PI * i / 8))));
    tone.loop = xmw::Loop::Forward;
    tone.loopStart = 0;
    tone.loopLength = 8;
    tone.relativeNote = 24;
    xmw::Instrument instrument;
    instrument.name = "sine";
    instrument.sampleMap.fill(0);
    instrument.samples.push_back(tone);
    song.instruments.push_back(instrument);
    if (!xmw::SaveXm(song, argv[1])) {
        fprintf(stderr, "quality_tone_song: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
