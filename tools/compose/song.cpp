// song.cpp: "Zarq-Neat.xm", the demo's soundtrack. A minor, 125 BPM, four rows to the beat,
// sixteen to the bar. The arrangement follows the show:
//   0 s    intro: a pad swell and a rising wind under the title
//   5 s    build: kick, bass, hats and plucks come in one by one, a double-time snare fill
//   30 s   full: drums, bass, arpeggios and the lead's theme
//   55 s   second theme on F G Em Am, with a bridge and a riser
//   95 s   breakdown for the particles: no drums, bells and chip arpeggios, then the lift
//   126 s  peak: everything, with the theme an octave of bells above
//   164 s  close for the credits at 100 BPM, calmer and calmer, then back to the build.
// Patterns are layered from one-bar tracks in the composer's notation (notation.h).
#include "song.h"

#include <string>

#include "instruments.h"
#include "notation.h"

namespace compose {

namespace {

// ---- Channels ----

enum Channel : int {
    KICK_CH = 0,
    SNARE_CH = 1,
    HAT_CH = 2,
    BASS_CH = 3,
    LEAD_CH = 4,
    ARP_CH = 5,
    PAD_CH = 6, // three voices: 6, 7, 8
    FX_CH = 9,
    ECHO_CH = 10,
    CHANNELS = 11,
};

constexpr int BAR = 16;

// ---- Building blocks ----

Track Bar(std::string_view text) {
    Track track = ParseTrack(text);
    if (track.size() != BAR)
        throw NotationError("a bar needs 16 rows, got " + std::to_string(track.size()) + ": \"" +
                            std::string(text) + "\"");
    return track;
}

Track Bars(std::initializer_list<std::string_view> bars) {
    Track out;
    for (std::string_view bar : bars) {
        Track one = Bar(bar);
        out.insert(out.end(), one.begin(), one.end());
    }
    return out;
}

int Note(const char* name) {
    int note = xmw::NoteNumber(name);
    if (!note) throw NotationError(std::string("bad note name: ") + name);
    return note;
}

std::string Hex2(int value) {
    static const char HEX[] = "0123456789ABCDEF";
    return std::string{HEX[(value >> 4) & 15], HEX[value & 15]};
}

struct Chord {
    const char* root; // bass note
    const char* pad[3];
    const char* arp[4];
    int third; // semitones above the arpeggio's root: 3 minor, 4 major
};

const Chord Am{"A-1", {"A-3", "C-4", "E-4"}, {"A-4", "C-5", "E-5", "A-5"}, 3};
const Chord F{"F-1", {"A-3", "C-4", "F-4"}, {"F-4", "A-4", "C-5", "F-5"}, 4};
const Chord C{"C-2", {"G-3", "C-4", "E-4"}, {"G-4", "C-5", "E-5", "G-5"}, 4};
const Chord G{"G-1", {"G-3", "B-3", "D-4"}, {"G-4", "B-4", "D-5", "G-5"}, 4};
const Chord Em{"E-1", {"G-3", "B-3", "E-4"}, {"G-4", "B-4", "E-5", "G-5"}, 3};
const Chord Dm{"D-2", {"A-3", "D-4", "F-4"}, {"A-4", "D-5", "F-5", "A-5"}, 3};

using Progression = std::vector<const Chord*>;
const Progression MAIN{&Am, &F, &C, &G};
const Progression SECOND{&F, &G, &Em, &Am};
const Progression BREAK{&Dm, &F, &Am, &G};

// One pattern under construction: tracks are laid over empty rows; a non-empty cell replaces
// whatever was there.
struct Builder {
    xmw::Pattern pattern;
    bool clip = false; // drop rows past the end instead of refusing them
    explicit Builder(int rows) : pattern(rows, CHANNELS) {}

    void Put(int channel, int row, const Track& track) {
        if (row + int(track.size()) > pattern.rows && !clip)
            throw NotationError("track runs past the pattern's " + std::to_string(pattern.rows) +
                                " rows");
        for (size_t i = 0; i < track.size() && row + int(i) < pattern.rows; ++i) {
            const Cell& c = track[i];
            if (c.Empty()) continue;
            pattern.At(row + int(i), channel) =
                PatternCell{c.note, c.instrument, c.volume, c.effect, c.parameter};
        }
    }
    void Put(int channel, int row, std::string_view text) { Put(channel, row, ParseTrack(text)); }
    // The same bar on every bar of the pattern.
    void EveryBar(int channel, const Track& bar) {
        for (int row = 0; row + BAR <= pattern.rows; row += BAR) Put(channel, row, bar);
    }
};

// The track with every note's volume column set to `volume` (0-0x40).
Track AtVolume(Track track, int volume) {
    for (Cell& c : track)
        if (c.note >= 1 && c.note <= 96) c.volume = uint8_t(0x10 + volume);
    return track;
}

// ---- Drums (kit notes: C-4 kick, D-4 snare, E-4 clap, F#4 hat, A#4 open hat, C#5 crash) ----

const char* const KICK_FOUR = "@01 C-4 v38 | .3 | C-4 v38 | .3 | C-4 v38 | .3 | C-4 v38 | .3";
const char* const KICK_HALF = "@01 C-4 v38 | .7 | C-4 v34 | .7";
const char* const KICK_SOFT = "@01 C-4 v24 | .7 | C-4 v1C | .5 | C-4 v14 | .";
const char* const CLAPS = "@01 .4 | E-4 v2C | .7 | E-4 v2C | .3";
// Ghost snares start 2048 frames into the sample, past the crack.
const char* const CLAPS_GHOSTS =
    "@01 .2 | D-4 v10 908 | . | E-4 v2C | .5 | D-4 v10 908 | . | E-4 v2C | . | D-4 v0C 908 | .";
const char* const RIMS = "@01 .4 | D-4 v14 920 | .7 | D-4 v14 920 | .3";
const char* const HATS_OFF = "@01 .2 | F#4 v1C | .3 | F#4 v1C | .3 | F#4 v1C | .3 | F#4 v1C | .";
// Sixteenths with a swing (every other hat a tick late), the open hat cut short, and a
// retriggered flutter.
const char* const HATS_SIXTEENTH =
    "@01 F#4 v18 | F#4 v0C ED1 | A#4 v18 EC4 | F#4 v0C ED1 | F#4 v18 | F#4 v0C ED1 | A#4 v18 EC4 |"
    " F#4 v0C ED1 | F#4 v18 | F#4 v0C ED1 | A#4 v18 EC4 | F#4 v0C ED1 | F#4 v18 | F#4 v0C E93 |"
    " A#4 v18 | F#4 v0C ED1";
const char* const CRASH = "@01 C#5 v26";

// ---- Bass: written on A, moved to each chord's root ----

const char* const BASS_PULSE = "@02 A-1 | . | A-2 v20 EC2 | . | A-1 | . | A-2 v20 EC2 | . | A-1 | ."
                               " | A-2 v20 EC2 | . | A-1 | . | A-2 v20 EC2 | .";
const char* const BASS_DRIVE = "@02 A-1 | . | . | A-1 v24 | . | . | A-2 v28 | . | A-1 | . | . |"
                               " A-1 v24 | . | G-1 v26 | A-1 v24 EC3 | .";
const char* const BASS_ROLL = "@02 A-1 | A-1 v1C EC2 | A-2 v24 | A-1 v1C EC2 | A-1 | A-1 v1C EC2"
                              " | A-2 v24 | A-1 v1C EC2 | A-1 | A-1 v1C EC2 | A-2 v24 | A-1 v1C"
                              " EC2 | A-1 | A-1 v1C EC2 | A-2 v24 | G-2 v20 EC2";
const char* const BASS_HOLD = "@02 A-1 v28 | .11 | === | .3";
const char* const BASS_BREATH = "@02 A-1 v24 | .7 | A-2 v18 | .3 | K00 | .3";

Track BassLine(const Progression& chords, const char* style) {
    Track line;
    for (const Chord* chord : chords) {
        Track bar = Transpose(Bar(style), Note(chord->root) - Note("A-1"));
        line.insert(line.end(), bar.begin(), bar.end());
    }
    return line;
}

// ---- Pads: three voices; the first bar strikes, later bars glide to the next chord ----

Track PadVoice(const Progression& chords, int voice, int volume, const char* sustainEffect) {
    Track line;
    for (size_t b = 0; b < chords.size(); ++b) {
        std::string v = " v" + Hex2(volume);
        std::string first = chords[b]->pad[voice];
        first += b == 0 ? " 04" + v : v + " 308";
        std::string text = first;
        for (int row = 1; row < BAR; ++row) text += std::string(" | ") + sustainEffect;
        Track bar = Bar(text);
        line.insert(line.end(), bar.begin(), bar.end());
    }
    return line;
}

void Pads(Builder& b, const Progression& chords, int volume, const char* sustainEffect = ".") {
    for (int voice = 0; voice < 3; ++voice)
        b.Put(PAD_CH + voice, 0, PadVoice(chords, voice, volume, sustainEffect));
}

// Releases the three pad voices on `row`.
void PadsOff(Builder& b, int row) {
    for (int voice = 0; voice < 3; ++voice) b.Put(PAD_CH + voice, row, "===");
}

// ---- Plucked arpeggios ----

// Broken chords in sixteenths over the chord's four arpeggio notes, accents on the beat.
Track Arpeggios(const Progression& chords, int loud, int soft) {
    static const int ORDER[BAR] = {0, 1, 2, 3, 2, 1, 2, 3, 0, 1, 2, 3, 2, 1, 3, 2};
    Track line;
    for (const Chord* chord : chords) {
        std::string text = "@05 ";
        for (int row = 0; row < BAR; ++row) {
            if (row) text += " | ";
            text += std::string(chord->arp[ORDER[row]]) + " v" + Hex2(row % 4 == 0 ? loud : soft);
        }
        Track bar = Bar(text);
        line.insert(line.end(), bar.begin(), bar.end());
    }
    return line;
}

// Eighth-note plucks on each chord's root with the chord played as a fast arpeggio.
Track ChipArpeggios(const Progression& chords, int volume) {
    Track line;
    for (const Chord* chord : chords) {
        std::string text = "@05 ";
        for (int row = 0; row < BAR; ++row) {
            if (row) text += " | ";
            if (row % 2) {
                text += ".";
            } else {
                text += std::string(chord->arp[row % 8 == 6 ? 1 : 0]) + " v" + Hex2(volume) + " 0" +
                        char('0' + chord->third) + "7";
            }
        }
        Track bar = Bar(text);
        line.insert(line.end(), bar.begin(), bar.end());
    }
    return line;
}

// A quieter copy `delay` rows later, panned to the other side: a tempo-synced echo. Every
// note sets its panning, since a note with an instrument takes the sample's own.
Track Echo(const Track& track, int delay, int volume, int panning, int rows) {
    Track out(rows);
    for (int i = 0; i + delay < rows && i < int(track.size()); ++i) {
        const Cell& c = track[i];
        if (!c.note) continue;
        Cell& e = out[i + delay];
        e.note = c.note;
        e.instrument = c.instrument;
        if (c.note != KEY_OFF_NOTE) {
            e.volume = uint8_t(0x10 + volume);
            e.effect = 8;
            e.parameter = uint8_t(panning);
        }
    }
    return out;
}

// Tremolo `parameter` on the first row, continued on every row that has no effect of its own.
Track WithTremolo(Track track, uint8_t parameter) {
    for (size_t i = 0; i < track.size(); ++i) {
        if (track[i].effect || track[i].parameter) continue;
        track[i].effect = 7;
        track[i].parameter = i == 0 ? parameter : 0;
    }
    return track;
}

// ---- The lead's themes (instrument 03; 4xy vibrato on held notes, 3xx glides) ----

Track ThemeA1() {
    return Bars({
        "@03 E-5 | .3 | D-5 | . | C-5 | .3 | B-4 | . | C-5 | .3",
        "@03 A-4 | 462 | 462 | 462 | 462 | . | C-5 | . | F-5 | .3 | E-5 | . | C-5 | .",
        "@03 G-4 | .3 | C-5 | . | E-5 | .3 | G-5 | .3 | E-5 | .",
        "@03 D-5 | 462 | 462 | 462 | B-4 308 | 308 | 308 | . | D-5 | .3 | G-4 | . | A-4 | .",
    });
}

Track ThemeA2() {
    return Bars({
        "@03 A-5 | .3 | G-5 | . | E-5 | .3 | D-5 | . | E-5 | .3",
        "@03 C-5 | . | A-4 | . | C-5 | . | F-5 | .3 | E-5 | .3 | D-5 | .",
        "@03 E-5 | .3 | G-5 | .3 | C-6 | .3 | B-5 | . | G-5 | .",
        "@03 A-5 | 461 | 462 | 463 | 463 | 463 | 463 | 463 | === | .3 | E-5 v20 | . | D-5 v18 | .",
    });
}

Track ThemeB1() {
    return Bars({
        "@03 C-6 | .3 | A-5 | .3 | F-5 | . | G-5 | . | A-5 | .3",
        "@03 B-5 | .3 | G-5 | . | A-5 | . | B-5 | .3 | D-6 | .3",
        "@03 E-6 | 462 | 462 | 462 | D-6 | . | B-5 | .3 | G-5 | .3 | B-5 | .",
        "@03 A-5 | 462 | 462 | 462 | 462 | 462 | 462 | 462 | 462 | 462 | 462 | 462 | === | .3",
    });
}

Track ThemeB2() {
    return Bars({
        "@03 A-5 | .3 | C-6 | .3 | F-6 | . | E-6 | . | C-6 | .3",
        "@03 D-6 | .3 | B-5 | .3 | G-5 | .3 | D-6 310 | 310 | 310 | .",
        "@03 E-6 | .3 | G-6 | .3 | F#6 | . | E-6 | . | D-6 | . | B-5 | .",
        "@03 C-6 | . | B-5 | . | A-5 | 461 | 462 | 463 | 463 | 463 | 463 | 463 | K00 | .3",
    });
}

// A theme given to the bells: same notes, instrument 07, vibrato and glides dropped, each note
// an octave up or down as asked. Key-offs stay: a bell left alone rings on for ever.
Track ForBell(const Track& theme, int semitones, int volume) {
    Track out = Transpose(theme, semitones);
    for (Cell& c : out) {
        if (c.note >= 1 && c.note <= 96) {
            c.instrument = BELL;
            c.volume = uint8_t(0x10 + volume);
        }
        if (c.effect == 3 || c.effect == 4) c.effect = c.parameter = 0;
    }
    return out;
}

// ---- The patterns, in order of appearance ----

xmw::Pattern Intro() {
    // Played for 42 rows (5.04 s): the break on row 41 cuts it short.
    Builder b(64);
    for (int voice = 0; voice < 3; ++voice) {
        std::string text = std::string(Am.pad[voice]) + " 04 v04 A10";
        for (int row = 1; row < 7; ++row) text += " | A00";
        b.Put(PAD_CH + voice, 0, ParseTrack(text));
    }
    // The wind rises in pitch and sweeps from left to right.
    b.Put(KICK_CH, 0, "F06");
    b.Put(FX_CH, 0,
          "C-3 06 v10 820 | 102 | P30 | 102 | P00 | 102 | P00 | 102 | P00 | 102 | P00 |"
          " 102 | P00 | 102 | P00 | 102 | P00 | 102 | P00 | 102 | P00 | 102");
    b.Put(FX_CH, 24,
          "v+1 103 | 103 | v+1 103 | 103 | v+1 103 | 103 | v+1 103 | 103 | 103 | 103 |"
          " 103 | 103 | A03 | A03 | A03 | A03 | === | .");
    // A bell motif, each answer delayed by a tick more than the last.
    b.Put(ECHO_CH, 4,
          "@07 E-5 v20 | .7 | C-5 v1C ED1 | .7 | A-4 v18 ED2 | .7 | E-5 v14 ED3 |"
          " .3 | D-5 v10 | .3 | ===");
    PadsOff(b, 38);
    b.Put(KICK_CH, 41, "D00");
    return b.pattern;
}

xmw::Pattern Build(int stage) {
    Builder b(64);
    b.Put(FX_CH, 0, "F7D");   // the restart lands here: tempo back to 125
    b.Put(ECHO_CH, 0, "G40"); // and full global volume
    // The kick grows over the build: 0x28, 0x30, then full 0x38.
    b.EveryBar(KICK_CH, AtVolume(Bar(KICK_FOUR), 0x20 + 8 * stage));
    b.Put(BASS_CH, 0, BassLine(MAIN, stage == 1 ? BASS_PULSE : BASS_DRIVE));
    Pads(b, MAIN, stage == 3 ? 20 : 24);
    if (stage >= 2) {
        b.Put(HAT_CH, 32, Bars({HATS_OFF, HATS_OFF}));
        b.Put(ARP_CH, 0, Arpeggios(MAIN, 0x1C, 0x12));
    }
    if (stage == 3) {
        b.EveryBar(SNARE_CH, Bar(CLAPS));
        b.Put(HAT_CH, 0, Bars({HATS_OFF, HATS_OFF}));
        b.Put(ECHO_CH, 0, Echo(Arpeggios(MAIN, 0x1C, 0x12), 3, 0x0A, 0xC0, 64));
        // The wind swells over the last bar, rising into the fill.
        b.Put(FX_CH, 48,
              "C-4 06 v08 | v+2 101 | v+2 101 | v+2 101 | v+2 101 | v+2 101 | v+2 101 |"
              " v+2 101 | 101 | 101 | 101 | 101 | 101 | 101 | 101 | 101");
    }
    return b.pattern;
}

xmw::Pattern Fill() {
    // Double time: speed 3 makes these 32 rows last as long as 16 ordinary ones.
    Builder b(32);
    b.Put(FX_CH, 0,
          "F03 | 104 | 104 | 104 | 104 | 104 | 104 | 104 | 104 | 104 | 104 | 104 |"
          " 104 | 104 | 104 | 104 | 104 | 104 | 104 | 104 | A08 | A08 | A08 | A08 |"
          " A08 | A08 | A08 | A08 | === | .3");
    b.Put(KICK_CH, 0,
          "@01 C-4 v38 | .7 | C-4 v38 | .7 | C-4 v38 | .7 | C-4 v38 | .3 | C-4 v30 |"
          " C-4 v30 | C-4 v30 | C-4 v30");
    b.Put(SNARE_CH, 0,
          "@01 D-4 v14 | . | D-4 v18 | . | D-4 v1C | . | D-4 v20 | . | D-4 v20 | . |"
          " D-4 v24 | . | D-4 v24 | . | D-4 v28 | . | D-4 v28 R02 | R02 | R02 | R02"
          " | D-4 v2C R01 | R01 | R01 | R01 | D-4 v30 | D-4 v30 | D-4 v30 | D-4 v30"
          " | E-4 v34 | . | E-4 v38 | .");
    b.Put(BASS_CH, 0,
          "@02 G-1 v30 | .15 | G-2 v28 | 104 | 104 | 104 | 104 | 104 | 104 | 104 |"
          " 104 | 104 | 104 | 104 | === | .3");
    b.Put(LEAD_CH, 16,
          "@03 E-5 v18 A04 | A04 | A04 | A04 | A04 | A04 | A04 | A04 | A04 | A04 |"
          " A04 | A04 | === | .3");
    for (int voice = 0; voice < 3; ++voice) b.Put(PAD_CH + voice, 0, "=== A04");
    return b.pattern;
}

// The full band on a progression, with a theme for the lead (may be empty).
void FullBand(Builder& b, const Progression& chords, const Track& theme, const char* bass,
              bool sixteenths, const char* padEffect = ".") {
    b.EveryBar(KICK_CH, Bar(KICK_FOUR));
    b.EveryBar(SNARE_CH, Bar(CLAPS_GHOSTS));
    b.EveryBar(HAT_CH, Bar(sixteenths ? HATS_SIXTEENTH : HATS_OFF));
    b.Put(BASS_CH, 0, BassLine(chords, bass));
    Pads(b, chords, 18, padEffect);
    Track arps = Arpeggios(chords, 0x18, 0x0E);
    b.Put(ARP_CH, 0, arps);
    b.Put(ECHO_CH, 0, Echo(arps, 3, 0x08, 0xC0, 64));
    if (!theme.empty()) b.Put(LEAD_CH, 0, theme);
}

xmw::Pattern Main(const Progression& chords, const Track& theme, bool crash) {
    Builder b(64);
    b.Put(FX_CH, 0, "F06"); // back from the fill's double time
    FullBand(b, chords, theme, BASS_DRIVE, true);
    if (crash) b.Put(FX_CH, 0, std::string(CRASH) + " F06");
    return b.pattern;
}

xmw::Pattern Turn() {
    // One bar between the themes: the bass dives, a snare roll speeds up, then a crash.
    Builder b(16);
    b.Put(KICK_CH, 0, "@01 C-4 v38 | .7 | C-4 v30 | .7");
    b.Put(SNARE_CH, 0, "@01 .8 | D-4 v18 R83 | R83 | R83 | R82 | D-4 v20 R82 | R82 | R81 | R81");
    b.Put(BASS_CH, 0,
          "@02 A-2 v30 | 206 | 206 | 206 | 206 | 206 | 206 | 206 | 206 | 206 | 206 |"
          " 206 | 206 | 206 | EC2 | .");
    b.Put(HAT_CH, 0, "@01 A#4 v20 E8C | .15");
    b.Put(
        LEAD_CH, 0,
        "@03 E-5 v24 | 461 | 462 | 463 | 463 | A02 | A02 | A02 | A02 | A02 | A02 | A02 | === | .3");
    PadsOff(b, 0);
    return b.pattern;
}

xmw::Pattern Second(const Track& theme, bool crash, const Track& bells) {
    Builder b(64);
    FullBand(b, SECOND, theme, BASS_DRIVE, true);
    if (crash) b.Put(FX_CH, 0, CRASH);
    if (!bells.empty()) b.Put(FX_CH, 16, Track(bells.begin() + 16, bells.end()));
    return b.pattern;
}

xmw::Pattern Bridge() {
    // Drums step back; the bells answer the lead from the other side.
    Builder b(64);
    b.EveryBar(KICK_CH, Bar(KICK_HALF));
    b.EveryBar(SNARE_CH, Bar(RIMS));
    b.Put(BASS_CH, 0, BassLine(BREAK, BASS_BREATH));
    Pads(b, BREAK, 22);
    b.Put(ARP_CH, 0, ChipArpeggios(BREAK, 0x16));
    b.Put(LEAD_CH, 0,
          Bars({
              "@03 D-5 v24 | .7 | F-5 | .3 | E-5 | .3",
              "@03 C-5 | 461 | 462 | 462 | 462 | 462 | 462 | . | A-4 | .3 | C-5 | .3",
              "@03 E-5 | .7 | A-5 | .3 | G-5 | .3",
              "@03 D-5 | 461 | 462 | 462 | 462 | 462 | 462 | 462 | === | .7",
          }));
    b.Put(FX_CH, 0,
          Echo(ParseTrack("@07 D-6 | .7 | F-6 | .3 | E-6 | .3 | C-6 | .15 | A-5 | .3 |"
                          " C-6 | .3 | E-6 | .7 | A-6 | .3 | G-6 | .3 | D-6"),
               2, 0x14, 0xD0, 64));
    return b.pattern;
}

xmw::Pattern Riser() {
    Builder b(16);
    b.Put(FX_CH, 0,
          "C-3 06 v10 | v+1 104 | v+1 104 | v+1 104 | v+1 104 | v+1 104 | 104 | 104 |"
          " 104 | 104 | 104 | 104 | 104 | 104 | A0F | A0F");
    b.Put(SNARE_CH, 0,
          "@01 D-4 v10 | . | D-4 v14 | . | D-4 v18 | . | D-4 v1C | . | D-4 v20 R93 |"
          " R93 | D-4 v24 R92 | R92 | D-4 v28 R91 | R91 | R91 | EC3");
    b.Put(KICK_CH, 0, "@01 C-4 v38 | .3 | C-4 v30 | .3 | C-4 v28 | .3 | C-4 v20 | .3");
    b.Put(BASS_CH, 0, "@02 G-1 v28 | .11 | === | .3");
    b.Put(ARP_CH, 0,
          "@05 G-4 v18 047 | . | G-4 v14 047 | . | B-4 v10 037 | . | B-4 v0C 037 | . |"
          " D-5 v08 | .7");
    b.Put(LEAD_CH, 0, "@03 === | .15");
    return b.pattern;
}

xmw::Pattern Breakdown(int stage) {
    Builder b(64);
    Pads(b, BREAK, 22);
    b.Put(ARP_CH, 0, ChipArpeggios(BREAK, 0x14));
    b.Put(ECHO_CH, 0, Echo(ChipArpeggios(BREAK, 0x14), 3, 0x08, 0x30, 64));
    Track bells = ForBell(ThemeA1(), 0, 0x1C);
    if (stage == 1) {
        // The wind drifts left under the bells and back.
        b.Put(FX_CH, 0,
              ParseTrack("@06 C-3 v0C P01 | P00 | P00 | P00 | P00 | P00 | P00 | P00 |"
                         " P00 | P00 | P00 | P00 | P00 | P00 | P00 | P00 | P00 | P00 |"
                         " P00 | P00 | P00 | P00 | P00 | P00 | P10 | P00 | P00 | P00 |"
                         " P00 | P00 | P00 | P00 | P00 | P00 | P00 | P00 | P00 | P00 |"
                         " P00 | P00 | P00 | P00 | P00 | P00 | P00 | P00 | === A02"));
        b.Put(LEAD_CH, 0, WithTremolo(ForBell(ThemeB1(), -12, 0x20), 0x43));
    } else {
        b.Put(BASS_CH, 0, BassLine(BREAK, BASS_HOLD));
        b.Put(LEAD_CH, 0, ThemeB1());
        b.Put(FX_CH, 0, bells);
    }
    return b.pattern;
}

xmw::Pattern Lift(int stage) {
    // Stage 2 is 52 rows whose last four repeat four times (a pattern loop): 64 rows played.
    Builder b(stage == 1 ? 64 : 52);
    b.clip = true; // the four-bar parts below are cut to fit
    Progression chords = MAIN;
    Pads(b, chords, 20, stage == 1 ? "." : "742");
    b.Put(BASS_CH, 0, BassLine(chords, BASS_PULSE));
    b.Put(ARP_CH, 0, Arpeggios(chords, 0x16, 0x0C));
    if (stage == 1) {
        b.EveryBar(KICK_CH, Bar(KICK_HALF));
        b.Put(HAT_CH, 0, Bars({HATS_OFF, HATS_OFF, HATS_OFF, HATS_SIXTEENTH}));
        b.Put(FX_CH, 0, ForBell(ThemeA1(), 12, 0x12));
    } else {
        for (int row = 0; row < 48; row += BAR) b.Put(KICK_CH, row, Bar(KICK_FOUR));
        for (int row = 0; row < 48; row += BAR) b.Put(HAT_CH, row, Bar(HATS_SIXTEENTH));
        for (int row = 0; row < 48; row += BAR) b.Put(SNARE_CH, row, Bar(CLAPS));
        b.Put(KICK_CH, 48, "@01 C-4 v30 E60 | C-4 v24 | C-4 v30 | C-4 v24 E63");
        b.Put(SNARE_CH, 48, "@01 D-4 v1C | D-4 v20 | D-4 v24 | D-4 v28");
        b.Put(FX_CH, 32,
              "C-4 06 v08 | v+1 102 | .2 | v+1 102 | .2 | v+1 102 | .2 | v+1 102 | .2 |"
              " v+1 102 | .2 | v+1 102 | v+1 102 | v+1 102 | v+1 102 | v+1 102 | 102 |"
              " 102 | A0A");
    }
    return b.pattern;
}

xmw::Pattern Peak(int stage) {
    // Everything at once; the pads shimmer with tremolo and the bells double the theme.
    Builder b(64);
    bool second = stage >= 3;
    Track theme = stage == 1   ? ThemeA1()
                  : stage == 2 ? ThemeA2()
                  : stage == 3 ? ThemeB1()
                               : ThemeB2();
    FullBand(b, second ? SECOND : MAIN, theme, stage % 2 ? BASS_ROLL : BASS_DRIVE, true, "742");
    b.Put(FX_CH, 0, ForBell(theme, second ? -12 : 12, 0x10));
    if (stage == 1) b.Put(FX_CH, 0, std::string(CRASH));
    return b.pattern;
}

xmw::Pattern Descend() {
    // The band thins out over four bars and the kick falls away in pitch.
    Builder b(64);
    b.Put(FX_CH, 0, "==="); // the bells of the peak stop here
    for (int row = 0; row < 48; row += BAR) {
        b.Put(KICK_CH, row, Bar(KICK_FOUR));
        b.Put(HAT_CH, row, Bar(HATS_OFF));
    }
    b.Put(SNARE_CH, 0, Bars({CLAPS, CLAPS}));
    b.Put(KICK_CH, 48, "@01 C-4 v38 | 210 | 210 | 210 | 210 | 210 | 210 | 210 | EC1 | .7");
    b.Put(BASS_CH, 0, BassLine(MAIN, BASS_HOLD));
    Pads(b, MAIN, 20);
    PadsOff(b, 60);
    b.Put(ARP_CH, 0, Arpeggios({&Am, &F}, 0x14, 0x0A));
    b.Put(LEAD_CH, 0,
          Bars({
              "@03 E-5 v20 | .7 | C-5 | .3 | D-5 | .3",
              "@03 C-5 | .7 | A-4 | .7",
              "@03 G-4 | .7 | C-5 | .3 | E-5 | .3",
              "@03 A-4 | 461 | 461 | 461 | 462 | 462 | 462 | 462 | 462 | 462 | 462 | 462"
              " | 462 | 462 | === | .",
          }));
    return b.pattern;
}

// The close, at 100 BPM (the ending slows to 72). Stage 1 bells, 2 soft band with the lead, 3
// second theme on bells (its last bar played twice by a pattern loop), 4 second theme on the lead,
// 5 the ending.
xmw::Pattern Calm(int stage) {
    Builder b(64);
    bool second = stage == 3 || stage == 4;
    const Progression& chords = second ? SECOND : MAIN;
    b.Put(FX_CH, 0, "F64");
    Pads(b, chords, 16);
    b.Put(BASS_CH, 0, BassLine(chords, BASS_HOLD));
    Track arps = Arpeggios(chords, 0x10, 0x09);
    switch (stage) {
    case 1:
        b.Put(ECHO_CH, 0, ForBell(ThemeA1(), 0, 0x18));
        b.Put(ARP_CH, 16, Track(arps.begin() + 16, arps.end()));
        break;
    case 2:
        b.EveryBar(KICK_CH, Bar(KICK_SOFT));
        b.EveryBar(SNARE_CH, Bar(RIMS));
        b.Put(LEAD_CH, 0, ThemeA2());
        b.Put(ARP_CH, 0, arps);
        b.Put(ECHO_CH, 0, Echo(arps, 3, 0x06, 0x40, 64));
        break;
    case 3:
        b.Put(ECHO_CH, 0, ForBell(ThemeB1(), -12, 0x18));
        b.Put(ARP_CH, 0, arps);
        b.Put(HAT_CH, 48, "E60 | .14 | E61");
        break;
    case 4:
        b.EveryBar(KICK_CH, Bar(KICK_SOFT));
        b.EveryBar(HAT_CH, Bar(HATS_OFF));
        b.Put(LEAD_CH, 0, ThemeB2());
        b.Put(ARP_CH, 0, arps);
        break;
    default:
        // Slowing down into the last chord, which rings until the song starts over.
        b.Put(ECHO_CH, 0, ForBell(ThemeA1(), 0, 0x14));
        b.Put(ARP_CH, 0, Track(arps.begin(), arps.begin() + 48));
        b.Put(HAT_CH, 40, "F5A | .7 | F50 | .7 | F48");
        b.Put(BASS_CH, 48, "@02 A-1 v24 | .15");
        for (int voice = 0; voice < 3; ++voice)
            b.Put(PAD_CH + voice, 48, std::string(Am.pad[voice]) + " v18 308");
        b.Put(LEAD_CH, 48, "@07 A-5 v18 | .5 | E-5 v10 ED3 | .5 | A-4 v0C ED2 | . | . | ===");
        b.Put(ECHO_CH, 63, "===");
        break;
    }
    return b.pattern;
}

// Orders and show times at which the parts start; the checks compare them with playback.
struct Arrangement {
    xmw::Song song;
    std::vector<Landmark> landmarks;
};

Arrangement Arrange() {
    Arrangement a;
    xmw::Song& song = a.song;
    song.name = "Zarq-Neat";
    song.trackerName = "compose";
    song.channels = CHANNELS;
    song.speed = 6;
    song.bpm = 125;
    song.flags = MODULE_LINEAR_FREQUENCIES;
    song.instruments = BuildInstruments();

    auto add = [&song](xmw::Pattern pattern) {
        song.patterns.push_back(std::move(pattern));
        return int(song.patterns.size() - 1);
    };
    auto mark = [&a, &song](const char* name, double seconds) {
        a.landmarks.push_back({name, int(song.orders.size()), seconds});
    };

    const int intro = add(Intro());
    const int build1 = add(Build(1)), build2 = add(Build(2)), build3 = add(Build(3));
    const int fill = add(Fill());
    const int mainA1 = add(Main(MAIN, ThemeA1(), true)), mainA2 = add(Main(MAIN, ThemeA2(), false));
    const int mainA3 = add(Main(MAIN, ThemeA1(), false));
    const int turn = add(Turn());
    const int second1 = add(Second(ThemeB1(), true, {})),
              second2 = add(Second(ThemeB2(), false, {}));
    const int second3 = add(Second(ThemeB1(), false, ForBell(ThemeB1(), 0, 0x10)));
    const int second4 = add(Second(ThemeB2(), false, ForBell(ThemeB2(), -12, 0x14)));
    const int bridge = add(Bridge()), riser = add(Riser());
    const int break1 = add(Breakdown(1)), break2 = add(Breakdown(2));
    const int lift1 = add(Lift(1)), lift2 = add(Lift(2));
    const int peak1 = add(Peak(1)), peak2 = add(Peak(2)), peak3 = add(Peak(3)),
              peak4 = add(Peak(4));
    const int descend = add(Descend());
    const int calm1 = add(Calm(1)), calm2 = add(Calm(2)), calm3 = add(Calm(3)),
              calm4 = add(Calm(4));
    const int ending = add(Calm(5));

    auto play = [&song](std::initializer_list<int> patterns) {
        for (int p : patterns) song.orders.push_back(uint8_t(p));
    };
    mark("title", 0);
    play({intro});
    mark("build", 5);
    play({build1, build2, build3, fill});
    mark("cubes in full", 30);
    play({mainA1, mainA2, mainA3, turn});
    mark("second theme", 55);
    play({second1, second2, second3, second4, bridge, riser});
    mark("particles: breakdown", 95);
    play({break1, break2});
    mark("lift", 110);
    play({lift1, lift2, peak1, peak2, peak3, peak4, descend});
    mark("credits: close", 165);
    play({calm1, calm2, calm3, calm4, calm2, calm3, calm4, calm1, ending});
    song.restartPosition = 1; // back to the build, at its own tempo
    return a;
}

} // namespace

xmw::Song BuildSong() {
    return Arrange().song;
}

std::vector<uint8_t> ComposeSong() {
    return xmw::WriteXm(BuildSong());
}

std::vector<Landmark> SongLandmarks() {
    return Arrange().landmarks;
}

} // namespace compose
