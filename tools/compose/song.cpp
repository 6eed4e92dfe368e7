// song.cpp: "Zarq-Neat.xm", the demo's soundtrack. A minor, 125 BPM, four rows to the beat,
// sixteen to the bar. The arrangement follows the show:
//   0 s    intro: a pad swell and a rising wind under the title, the bells announce the hook
//   5 s    build: kick, bass, hats and plucks come in one by one, thinning before the drop,
//          a double-time snare fill
//   30 s   the drop, first theme opening with the hook: claps and sixteenth hats with choked
//          open off-beats
//   55 s   second theme on F G Em Am: sixteenth hats and ghost snares; a phrase starts on the
//          show's change at 65 s, the bridge at 80 s, then a riser
//   95 s   breakdown for the particles: no drums; its own tune on Dm F Am G (the hook from D)
//          on the bells, then on the lead over bells and chip arpeggios, then the lift
//   125 s  peak: everything, with a gated pad and bells; a second lead doubles the first from
//          the other side for eight bars, then the drums drive under a countermelody
//   164 s  close for the credits at 100 BPM on tunes of their own, then the cadence F G Am,
//          faded out before the show ends; back to the build.
// Patterns are layered from tracks in the composer's notation (notation.h). Every pattern
// declares the chord of each of its bars; the song's checks hold every note to it. Every phrase
// of the lead ends with a key-off, and its echo stops at each bar line.
#include "song.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
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
    CRASH_CH = 11,     // crashes and the open hats that ring into the next bar
    LEAD2_CH = 12,     // the second lead of the peak, the credits' counter-lines
    GATE_CH = 13,      // the peak's gated pad
    LEAD_ECHO_CH = 14, // the lead's echo, from the right
    CHANNELS = 15,
};

constexpr int BAR = 16;

// The song's global volume: a little under full, so that the peak's densest beats keep about a
// decibel of headroom however a player resamples them.
const char* const MASTER_VOLUME = "G34";

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
    const char* name;
    const char* root; // bass note
    const char* pad[3];
    const char* arp[4]; // chord tones for broken chords
    const char* chip;   // the root in the arpeggios' octave, for 0xy chords built on it
    int third;          // semitones from root to third: 3 minor, 4 major
};

const Chord Am{"Am", "A-1", {"A-3", "C-4", "E-4"}, {"A-4", "C-5", "E-5", "A-5"}, "A-4", 3};
const Chord F{"F", "F-1", {"A-3", "C-4", "F-4"}, {"F-4", "A-4", "C-5", "F-5"}, "F-4", 4};
const Chord C{"C", "C-2", {"G-3", "C-4", "E-4"}, {"G-4", "C-5", "E-5", "G-5"}, "C-5", 4};
const Chord G{"G", "G-1", {"G-3", "B-3", "D-4"}, {"G-4", "B-4", "D-5", "G-5"}, "G-4", 4};
const Chord Em{"Em", "E-1", {"G-3", "B-3", "E-4"}, {"G-4", "B-4", "E-5", "G-5"}, "E-4", 3};
const Chord Dm{"Dm", "D-2", {"A-3", "D-4", "F-4"}, {"A-4", "D-5", "F-5", "A-5"}, "D-5", 3};

using Progression = std::vector<const Chord*>;
const Progression MAIN{&Am, &F, &C, &G};
const Progression SECOND{&F, &G, &Em, &Am};
const Progression BREAK{&Dm, &F, &Am, &G};

// One pattern under construction: tracks are laid over empty rows; a non-empty cell replaces
// whatever was there. It also carries the chord of every bar, which each pattern must declare.
struct Builder {
    xmw::Pattern pattern;
    std::vector<const Chord*> harmony; // one per started bar
    bool clip = false;                 // drop rows past the end instead of refusing them
    explicit Builder(int rows) : pattern(rows, CHANNELS), harmony((rows + BAR - 1) / BAR) {}

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
    // Declares the chords of the bars from `bar` on, one per bar.
    void Chords(int bar, const Progression& chords) {
        for (const Chord* chord : chords) {
            if (bar < int(harmony.size())) harmony[bar] = chord;
            ++bar;
        }
    }
};

// The track with every note's volume column set to `volume` (0-0x40).
Track AtVolume(Track track, int volume) {
    for (Cell& c : track)
        if (c.note >= 1 && c.note <= 96) c.volume = uint8_t(0x10 + volume);
    return track;
}

// The track with every note that has no volume of its own set to `volume` (0-0x40).
Track WithDefaultVolume(Track track, int volume) {
    for (Cell& c : track)
        if (c.note >= 1 && c.note <= 96 && !c.volume) c.volume = uint8_t(0x10 + volume);
    return track;
}

// The track with every volume the volume column sets scaled to `percent` of itself.
Track Scaled(Track track, int percent) {
    for (Cell& c : track)
        if (c.volume >= 0x10 && c.volume <= 0x50)
            c.volume = uint8_t(0x10 + ((c.volume - 0x10) * percent + 50) / 100);
    return track;
}

// After a pattern loop the original tracker begins the next pattern at the loop's first row,
// not at row 0, and so do the players that follow it closely; a break to row 0 on a looping
// pattern's last row makes every player go on the same way.
const char* const LOOP_EXIT = "D00";

// ---- Drums (kit notes: C-4 kick, D-4 snare, E-4 clap, F#4 hat, A#4 open hat, C#5 crash) ----

const char* const KICK_FOUR = "@01 C-4 v38 | .3 | C-4 v38 | .3 | C-4 v38 | .3 | C-4 v38 | .3";
const char* const KICK_HALF = "@01 C-4 v38 | .7 | C-4 v34 | .7";
const char* const KICK_SOFT = "@01 C-4 v24 | .7 | C-4 v1C | .5 | C-4 v14 | .";
const char* const CLAPS = "@01 .4 | E-4 v2C | .7 | E-4 v2C | .3";
// Ghost snares start 2048 frames into the sample, past the crack.
const char* const CLAPS_GHOSTS =
    "@01 .2 | D-4 v10 908 | . | E-4 v2C | .5 | D-4 v10 908 | . | E-4 v2C | . | D-4 v0C 908 | .";
const char* const RIMS = "@01 .4 | D-4 v14 920 | .7 | D-4 v14 920 | .3";
const char* const HATS_OFF = "@01 .2 | F#4 v38 | .3 | F#4 v38 | .3 | F#4 v38 | .3 | F#4 v38 | .";
// Sixteenths with a swing (every other hat a tick late), the open hat cut short, and a
// retriggered flutter.
const char* const HATS_SIXTEENTH =
    "@01 F#4 v20 | F#4 v12 ED1 | A#4 v20 EC4 | F#4 v12 ED1 | F#4 v20 | F#4 v12 ED1 | A#4 v20 EC4 |"
    " F#4 v12 ED1 | F#4 v20 | F#4 v12 ED1 | A#4 v20 EC4 | F#4 v12 ED1 | F#4 v20 | F#4 v12 E93 |"
    " A#4 v20 | F#4 v12 ED1";
// Sixteenths, the off-beats opened and choked before the next beat.
const char* const HATS_DROP =
    "@01 F#4 v18 | F#4 v0E | A#4 v2A EC3 | F#4 v0E | F#4 v18 | F#4 v0E | A#4 v2A EC3 | F#4 v0E |"
    " F#4 v18 | F#4 v0E | A#4 v2A EC3 | F#4 v0E | F#4 v18 | F#4 v0E | A#4 v2A EC3 | F#4 v0E";
// The peak's second half drives: a kick on the last sixteenth before beats two and four.
const char* const KICK_DRIVE =
    "@01 C-4 v38 | .3 | C-4 v38 | .2 | C-4 v24 | C-4 v38 | .3 | C-4 v38 | .2 | C-4 v24";
const char* const CRASH = "@01 C#5 v2C";

enum class Groove {
    KICK,      // the build's kick alone
    KICK_HATS, // and off-beat hats
    OFFBEAT,   // four on the floor, claps, off-beat hats: the first theme holds back
    DROP,      // the first theme: four on the floor, claps, sixteenth hats with open off-beats
    FULL,      // ghost snares and swung sixteenth hats
    HALF,      // half-time kick and rim shots
    SOFT,      // the credits' soft kick and rims
    SOFT_HATS, // and off-beat hats
};

// Where a stretch of drum bars sits in its section: the bar count from the section's start
// (phrases are four bars) and what the section's last bar does.
struct DrumPlan {
    Groove groove;
    int firstBar = 0;    // bar number within the section of the first bar laid
    int sectionBars = 0; // bars in the whole section; its last bar fills into the next
    int crashEvery = 8;  // bars between crashes, counted from the section's start
    int kickVolume = 0x38;
    bool drive = false; // the driving kick
};

// Lays `bars` bars of drums from `row`. Every fourth bar of a phrase turns around (a kick
// pickup and an open hat that rings over the bar line), the last bar of a section fills with a
// snare run, crashes mark the phrases, and in the full groove every other bar has a ghost kick,
// so no bar comes back unchanged more than a few times in a row.
void Drums(Builder& b, int row, int bars, const DrumPlan& plan) {
    for (int i = 0; i < bars; ++i, row += BAR) {
        int bar = plan.firstBar + i;
        bool last = bar == plan.sectionBars - 1;
        bool turn = bar % 4 == 3 && !last;
        Groove g = plan.groove;
        bool soft = g == Groove::SOFT || g == Groove::SOFT_HATS;
        const char* kick = g == Groove::HALF ? KICK_HALF
                           : soft            ? KICK_SOFT
                           : plan.drive      ? KICK_DRIVE
                                             : KICK_FOUR;
        const char* snare = g == Groove::OFFBEAT || g == Groove::DROP ? CLAPS
                            : g == Groove::FULL                       ? CLAPS_GHOSTS
                            : g == Groove::HALF || soft               ? RIMS
                                                                      : nullptr;
        const char* hats = g == Groove::DROP                        ? HATS_DROP
                           : g == Groove::FULL                      ? HATS_SIXTEENTH
                           : g == Groove::KICK || g == Groove::SOFT ? nullptr
                                                                    : HATS_OFF;
        Track kicks = Bar(kick);
        if (!soft) kicks = AtVolume(kicks, plan.kickVolume);
        Track snares = snare ? Bar(snare) : Track(BAR);
        Track hatBar = hats ? Bar(hats) : Track(BAR);
        if (plan.groove == Groove::FULL && bar % 2 == 1) kicks[10] = ParseCell("C-4 01 v1C");
        if (turn) {
            kicks[14] = ParseCell("C-4 01 v2C");
            snares[13] = ParseCell("D-4 01 v18");
            snares[15] = ParseCell("D-4 01 v20");
            hatBar[14] = Cell{};
            b.Put(CRASH_CH, row + 14, "A#4 01 v28");
        }
        if (last) {
            // A snare run over the last two beats, louder each hit, the hats out of its way.
            for (int r = 8; r < BAR; ++r) {
                snares[r] = ParseCell("D-4 01 v" + Hex2(0x10 + 2 * (r - 8)));
                hatBar[r] = Cell{};
            }
            if (plan.groove != Groove::HALF) kicks[12] = Cell{};
            kicks[14] = ParseCell("C-4 01 v30");
            kicks[15] = ParseCell("C-4 01 v30");
        }
        b.Put(KICK_CH, row, kicks);
        b.Put(SNARE_CH, row, snares);
        b.Put(HAT_CH, row, hatBar);
        if (plan.crashEvery && bar % plan.crashEvery == 0) b.Put(CRASH_CH, row, CRASH);
    }
}

// ---- Bass: written on A, moved to each chord's root; approach notes are the fifth (E) ----

const char* const BASS_PULSE = "@02 A-1 | . | A-2 v20 EC2 | . | A-1 | . | A-2 v20 EC2 | . | A-1 | ."
                               " | A-2 v20 EC2 | . | A-1 | . | A-2 v20 EC2 | .";
const char* const BASS_DRIVE = "@02 A-1 | . | . | A-2 v24 | . | . | A-2 v28 | . | A-1 | . | . |"
                               " A-2 v24 | . | E-2 v26 | A-2 v24 EC3 | .";
const char* const BASS_ROLL = "@02 A-1 | A-2 v1C EC2 | A-2 v24 | A-2 v1C EC2 | A-1 | A-2 v1C EC2"
                              " | A-2 v24 | A-2 v1C EC2 | A-1 | A-2 v1C EC2 | A-2 v24 | A-2 v1C"
                              " EC2 | A-1 | A-2 v1C EC2 | A-2 v24 | E-2 v20 EC2";
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

// ---- Pads: three voices spread across the field; the first bar strikes, later bars glide ----

const int PAD_PANNING[3] = {0x50, 0x80, 0xB0};

Track PadVoice(const Progression& chords, int voice, int volume, const char* sustainEffect) {
    Track line;
    for (size_t b = 0; b < chords.size(); ++b) {
        std::string v = " v" + Hex2(volume);
        std::string first = chords[b]->pad[voice];
        // A struck note takes the sample's panning: the strike sets the voice's own place.
        first += b == 0 ? " 04" + v + " 8" + Hex2(PAD_PANNING[voice]) : v + " 308";
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

// Broken chords in sixteenths over the chord's four arpeggio notes, accents on the beat, every
// other sixteenth a tick late like the hats.
Track Arpeggios(const Progression& chords, int loud, int soft) {
    static const int ORDER[BAR] = {0, 1, 2, 3, 2, 1, 2, 3, 0, 1, 2, 3, 2, 1, 3, 2};
    Track line;
    for (const Chord* chord : chords) {
        std::string text = "@05 ";
        for (int row = 0; row < BAR; ++row) {
            if (row) text += " | ";
            text += std::string(chord->arp[ORDER[row]]) + " v" + Hex2(row % 4 == 0 ? loud : soft);
            if (row % 2) text += " ED1";
        }
        Track bar = Bar(text);
        line.insert(line.end(), bar.begin(), bar.end());
    }
    return line;
}

// Eighth-note chords on each chord's root, the third and fifth played as a fast arpeggio; the
// last eighth of each half bar an octave up.
Track ChipArpeggios(const Progression& chords, int volume) {
    Track line;
    for (const Chord* chord : chords) {
        std::string text = "@05 ";
        for (int row = 0; row < BAR; ++row) {
            if (row) text += " | ";
            if (row % 2) {
                text += ".";
                continue;
            }
            int note = Note(chord->chip) + (row % 8 == 6 ? 12 : 0);
            Track one = Transpose(ParseTrack(chord->chip), note - Note(chord->chip));
            text +=
                FormatCell(one[0]) + " v" + Hex2(volume) + " 0" + char('0' + chord->third) + "7";
        }
        Track bar = Bar(text);
        line.insert(line.end(), bar.begin(), bar.end());
    }
    return line;
}

// A quieter copy `delay` rows later: a tempo-synced echo. Plucks answer from the other side
// through their echo instrument, swung like the arpeggios; other instruments are panned to
// `panning` on every note, since a note with an instrument takes the sample's own.
Track Echo(const Track& track, int delay, int volume, int panning, int rows) {
    Track out(rows);
    // The echo stops at every bar line rather than smear one chord into the next: what it
    // holds is released there, and notes that would cross it are left out.
    for (int row = BAR; row < rows; row += BAR) out[size_t(row)].note = KEY_OFF_NOTE;
    for (int i = 0; i + delay < rows && i < int(track.size()); ++i) {
        const Cell& c = track[i];
        if (!c.note) continue;
        if (i / BAR != (i + delay) / BAR) continue;
        Cell& e = out[i + delay];
        e.note = c.note;
        e.instrument = c.instrument == PLUCK ? uint8_t(PLUCK_ECHO) : c.instrument;
        if (c.note == KEY_OFF_NOTE) continue;
        e.volume = uint8_t(0x10 + volume);
        if (c.instrument == PLUCK) {
            if ((i + delay) % 2) {
                e.effect = 0xE;
                e.parameter = 0xD1;
            }
        } else {
            e.effect = 8;
            e.parameter = uint8_t(panning);
        }
    }
    return out;
}

// The lead's own echo: a dotted eighth later, softer, from the right (the lead sits left).
Track LeadEcho(const Track& theme, int rows) {
    return Echo(theme, 3, 0x1C, 0xD8, rows);
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

// ---- The hook: a climb to the octave over two beats and a fall back (3 + 3 + 2 sixteenths),
// answered a bar later; stated in the intro, the first theme, the breakdown and the credits,
// each time fitted to its chords ----

const int HOOK_ONSETS[] = {0, 3, 6, 8, 12, 14, 16, 22, 24};
constexpr int HOOK_ROWS = 32;

Figure HookFigure() {
    return {std::vector<int>(std::begin(HOOK_ONSETS), std::end(HOOK_ONSETS)),
            {+1, +1, +1, -1, -1, +1, -1, -1},
            HOOK_ROWS};
}

// ---- The lead's themes (instrument 03; 4xy vibrato on held notes, 3xx glides) ----

// The hook as the first theme states it, over Am and F.
const char* const HOOK_AM = "@03 A-4 | .2 | C-5 | .2 | E-5 | . | A-5 | .3 | G-5 | . | E-5 | .";
const char* const HOOK_F = "@03 F-5 | .5 | E-5 | . | C-5 | 461 | 462 | 462 | 462 | 462 | === | .";

Track ThemeA1() {
    return Bars({
        HOOK_AM,
        HOOK_F,
        "@03 G-4 | .3 | C-5 | . | E-5 | .3 | G-5 | .3 | E-5 | .",
        "@03 D-5 | 462 | 462 | 462 | B-4 308 | 308 | 308 | . | D-5 | .3 | G-4 | . | A-4 | .",
    });
}

Track ThemeA2() {
    return Bars({
        "@03 A-5 | .3 | G-5 | . | E-5 | .3 | D-5 | . | E-5 | .3",
        "@03 C-5 | . | A-4 | . | C-5 | . | F-5 | .3 | E-5 | .3 | D-5 | .",
        "@03 E-5 | .3 | G-5 | .3 | C-6 | .3 | E-6 | . | D-6 | .",
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
        "@03 E-6 | .3 | G-6 | .3 | E-6 | . | D-6 | . | B-5 | . | G-5 | .",
        "@03 C-6 | . | B-5 | . | A-5 | 461 | 462 | 463 | 463 | 463 | 463 | 463 | K00 | .3",
    });
}

// The breakdown's own tune, on Dm F Am G: the hook from D, then a climb through Am to a held D
// over G. The second time its last two bars fall instead.
Track ThemeD(bool again) {
    if (!again)
        return Bars({
            "@03 D-5 | .2 | F-5 | .2 | A-5 | . | D-6 | .3 | C-6 | . | A-5 | .",
            "@03 C-6 | .5 | A-5 | . | F-5 | 461 | 462 | 462 | 462 | 462 | === | .",
            "@03 E-5 | .3 | A-5 | .3 | C-6 | .3 | E-6 | .3",
            "@03 D-6 | 462 | 462 | 462 | 462 | 462 | 462 | . | B-5 | .3 | G-5 | .2 | ===",
        });
    return Bars({
        "@03 D-5 | .2 | F-5 | .2 | A-5 | . | D-6 | .3 | C-6 | . | A-5 | .",
        "@03 C-6 | .5 | A-5 | . | F-5 | 461 | 462 | 462 | 462 | 462 | === | .",
        "@03 E-6 | .3 | C-6 | .3 | A-5 | .3 | E-5 | .3",
        "@03 D-5 | 462 | 462 | 462 | 462 | 462 | 462 | . | G-5 | .3 | B-5 | .2 | ===",
    });
}

// Half notes for the bells under the breakdown's tune: chord tones a third or more from it.
const char* const BREAK_BELLS =
    "@07 F-4 | .7 | A-4 | .7 | A-4 | .7 | C-5 | .7 | C-5 | .7 | E-5 | .7 | B-4 | .7 | D-5 | .6 |"
    " ===";

// The credits' own tunes. The first opens with the hook, its answer falling to A; the second
// climbs over F G Em Am and rests on A; the third states the hook from C.
Track ThemeC1() {
    return Bars({
        "@03 A-4 | .2 | C-5 | .2 | E-5 | . | A-5 | .3 | G-5 | . | E-5 | .",
        "@03 F-5 | .5 | C-5 | . | A-4 | 461 | 462 | 462 | 462 | 462 | === | .",
        "@03 G-4 | .3 | C-5 | .3 | E-5 | .1 | D-5 | .1 | C-5 | .3",
        "@03 B-4 | .3 | D-5 | .3 | G-5 | 461 | 462 | 462 | 462 | 462 | === | .",
    });
}

Track ThemeC2() {
    return Bars({
        "@03 A-5 | .3 | F-5 | .3 | C-6 | .5 | A-5 | .",
        "@03 B-5 | .3 | G-5 | .3 | D-5 | .3 | G-5 | .3",
        "@03 E-5 | .3 | G-5 | .3 | B-5 | .5 | A-5 | .",
        "@03 A-5 | 461 | 462 | 462 | 462 | 462 | 462 | 462 | 462 | 462 | 462 | 462 | === | .3",
    });
}

Track ThemeC3() {
    return Bars({
        "@03 C-5 | .2 | E-5 | .2 | A-5 | . | C-6 | .3 | B-5 | . | A-5 | .",
        "@03 C-6 | .5 | A-5 | . | F-5 | 461 | 462 | 462 | 462 | 462 | === | .",
        "@03 E-5 | .3 | G-5 | .3 | C-6 | .3 | G-5 | .3",
        "@03 D-6 | .3 | B-5 | .3 | G-5 | .1 | A-5 | .1 | B-5 | .1 | === | .",
    });
}

// A theme given to the bells: same notes, instrument 07, vibrato and glides dropped, each note
// an octave up or down as asked. Key-offs stay, to stop a bell before the next chord.
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

// The theme for a second lead on the other side: each note placed by the volume column and
// pulled an eighth of a semitone flat with a fine slide, so the two leads beat against each
// other.
Track SecondLead(const Track& theme, int panning) {
    Track out = theme;
    for (Cell& c : out) {
        if (c.note < 1 || c.note > 96) continue;
        c.volume = uint8_t(0xC0 | (panning >> 4));
        if (!c.effect && !c.parameter) {
            c.effect = 0xE;
            c.parameter = 0x22;
        }
    }
    return out;
}

// Half notes under a theme: the chord's fifth and third an octave above the pads.
Track CounterLine(const Progression& chords, int volume, int panning) {
    Track line;
    for (const Chord* chord : chords) {
        Track bar = Bar(std::string("@03 ") + chord->arp[2] + " v" + Hex2(volume) + " 8" +
                        Hex2(panning) + " | 461 | 461 | 461 | .4 | " + chord->arp[1] + " v" +
                        Hex2(volume) + " 8" + Hex2(panning) + " | 461 | 461 | 461 | .4");
        line.insert(line.end(), bar.begin(), bar.end());
    }
    return line;
}

// ---- The patterns, in order of appearance ----

Builder Intro() {
    // Played for 42 rows (5.04 s): the break on row 41 cuts it short.
    Builder b(64);
    b.Chords(0, {&Am, &Am, &Am, &Am});
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
    b.Put(ECHO_CH, 0, MASTER_VOLUME);
    // The bells announce the hook over the pad, its answer staying on A minor.
    b.Put(ECHO_CH, 4,
          "@07 A-4 v3A | .2 | C-5 | .2 | E-5 | . | A-5 v40 | .3 | G-5 v34 | . | E-5 | . |"
          " G-5 v3A | .5 | E-5 v2E | . | C-5 v34 | .5 | ===");
    PadsOff(b, 38);
    b.Put(KICK_CH, 41, "D00");
    return b;
}

Builder Build(int stage) {
    Builder b(64);
    b.Chords(0, MAIN);
    b.Put(FX_CH, 0, "F7D");           // the restart lands here: tempo back to 125
    b.Put(ECHO_CH, 0, MASTER_VOLUME); // and the song's global volume
    // The kick grows over the build: 0x24, 0x28, then 0x2C; hats join in the second stage,
    // claps in the third.
    Groove groove = stage == 1 ? Groove::KICK : stage == 2 ? Groove::KICK_HATS : Groove::OFFBEAT;
    // The last stage thins out under the claps (softer pads and bass), to leave the drop its
    // room.
    Drums(b, 0, 4, DrumPlan{groove, 4 * (stage - 1), 0, 8, 0x20 + 4 * stage});
    Track bass = BassLine(MAIN, stage == 2 ? BASS_DRIVE : BASS_PULSE);
    b.Put(BASS_CH, 0, stage == 3 ? WithDefaultVolume(bass, 0x1C) : bass);
    Pads(b, MAIN, stage == 3 ? 12 : 24);
    if (stage == 2) b.Put(ARP_CH, 0, Arpeggios(MAIN, 0x1C, 0x12));
    if (stage == 3) {
        b.Put(ARP_CH, 0, Arpeggios(MAIN, 0x14, 0x0C));
        b.Put(ECHO_CH, 0, Echo(Arpeggios(MAIN, 0x14, 0x0C), 3, 0x0A, 0, 64));
        // The wind swells over the last bar, rising into the fill.
        b.Put(FX_CH, 48,
              "C-4 06 v08 | v+2 101 | v+2 101 | v+2 101 | v+2 101 | v+2 101 | v+2 101 |"
              " v+2 101 | 101 | 101 | 101 | 101 | 101 | 101 | 101 | 101");
    }
    return b;
}

Builder Fill() {
    // Double time: speed 3 makes these 32 rows last as long as 16 ordinary ones.
    Builder b(32);
    b.Chords(0, {&G, &G});
    b.Put(FX_CH, 0,
          "F03 | 104 | 104 | 104 | 104 | 104 | 104 | 104 | 104 | 104 | 104 | 104 |"
          " 104 | 104 | 104 | 104 | 104 | 104 | 104 | 104 | A08 | A08 | A08 | A08 |"
          " A08 | A08 | A08 | A08 | === | .3");
    // The fill climbs to the drop without matching it: its drums sit under the theme's.
    b.Put(KICK_CH, 0,
          Scaled(
              ParseTrack("@01 C-4 v38 | .7 | C-4 v38 | .7 | C-4 v38 | .7 | C-4 v38 | .3 | C-4 v30 |"
                         " C-4 v30 | C-4 v30 | C-4 v30"),
              75));
    b.Put(SNARE_CH, 0,
          Scaled(
              ParseTrack("@01 D-4 v14 | . | D-4 v18 | . | D-4 v1C | . | D-4 v20 | . | D-4 v20 | . |"
                         " D-4 v24 | . | D-4 v24 | . | D-4 v28 | . | D-4 v28 R02 | R02 | R02 | R02"
                         " | D-4 v2C R01 | R01 | R01 | R01 | D-4 v30 | D-4 v30 | D-4 v30 | D-4 v30"
                         " | E-4 v34 | . | E-4 v38 | ."),
              75));
    b.Put(BASS_CH, 0,
          "@02 G-1 v24 | .15 | G-2 v20 | 104 | 104 | 104 | 104 | 104 | 104 | 104 |"
          " 104 | 104 | 104 | 104 | === | .3");
    b.Put(LEAD_CH, 16,
          "@03 D-5 v18 A04 | A04 | A04 | A04 | A04 | A04 | A04 | A04 | A04 | A04 |"
          " A04 | A04 | === | .3");
    for (int voice = 0; voice < 3; ++voice) b.Put(PAD_CH + voice, 0, "=== A04");
    return b;
}

// The band on a progression, with a theme for the lead (may be empty). The drums are laid
// separately, since they follow the section rather than the pattern.
void Band(Builder& b, const Progression& chords, const Track& theme, const char* bass,
          const char* padEffect = ".", int level = 0) {
    b.Chords(0, chords);
    b.Put(BASS_CH, 0, BassLine(chords, bass));
    Pads(b, chords, 18 + level, padEffect);
    Track arps = Arpeggios(chords, std::min(0x40, 0x40 + level), std::min(0x38, 0x30 + level));
    b.Put(ARP_CH, 0, arps);
    b.Put(ECHO_CH, 0, Echo(arps, 3, std::min(0x40, 0x2C + level), 0, b.pattern.rows));
    if (!theme.empty()) {
        b.Put(LEAD_CH, 0, theme);
        b.Put(LEAD_ECHO_CH, 0, LeadEcho(theme, b.pattern.rows));
    }
}

// The first theme: 12 bars in three patterns, then the turn.
Builder Main(int part, const Track& theme) {
    Builder b(64);
    // The first theme holds back (softer bass, pads and plucks) so that the peak has room to
    // climb.
    Band(b, MAIN, theme, BASS_DRIVE, ".", -6);
    b.Put(BASS_CH, 0, WithDefaultVolume(BassLine(MAIN, BASS_DRIVE), 0x20));
    // The kick hits hardest at the drop, then settles.
    Drums(b, 0, 4, DrumPlan{Groove::DROP, 4 * part, 13, 8, part == 0 ? 0x34 : 0x2E});
    b.Put(FX_CH, 0, "F06"); // back from the fill's double time
    return b;
}

Builder Turn() {
    // One bar between the themes: the bass dives, a snare roll speeds up, then a crash.
    Builder b(16);
    b.Chords(0, {&Am});
    b.Put(KICK_CH, 0, "@01 C-4 v38 | .7 | C-4 v30 | .7");
    b.Put(SNARE_CH, 0,
          "@01 .8 | D-4 v18 R83 | R83 | R83 | R82 | D-4 v20 R82 | D-4 v24 R81 | D-4 v28 R81 |"
          " D-4 v2C R81");
    b.Put(BASS_CH, 0,
          "@02 A-2 v30 | 206 | 206 | 206 | 206 | 206 | 206 | 206 | 206 | 206 | 206 |"
          " 206 | 206 | 206 | EC2 | .");
    b.Put(HAT_CH, 0, "@01 A#4 v20 E8C | .15");
    b.Put(
        LEAD_CH, 0,
        "@03 E-5 v24 | 461 | 462 | 463 | 463 | A02 | A02 | A02 | A02 | A02 | A02 | A02 | === | .3");
    PadsOff(b, 0);
    return b;
}

// The second theme: bars 0-4 and a beat (to 65 s), then a phrase of 7 bars and 3 beats (to
// 80 s, where the bridge takes over). Stage 1 is the first phrase, 2 the pickup bar, 3 and 4
// the second phrase with the bells joining in.
Builder Second(int stage) {
    if (stage == 2) {
        // A bar of G and one beat more: the drums roll into the phrase on the show's change.
        Builder b(20);
        b.Chords(0, {&G, &G});
        b.Put(BASS_CH, 0, BassLine({&G}, BASS_DRIVE));
        Pads(b, {&G}, 18);
        b.Put(ARP_CH, 0, Arpeggios({&G}, 0x18, 0x0E));
        b.Put(ECHO_CH, 0, Echo(Arpeggios({&G}, 0x18, 0x0E), 3, 0x10, 0, 20));
        b.Put(LEAD_CH, 0, "@03 D-6 | 462 | 462 | 462 | B-5 | . | G-5 | . | A-5 | .3 | B-5 | .3");
        Drums(b, 0, 1, DrumPlan{Groove::FULL, 4, 5});
        b.Put(KICK_CH, 16, "@01 C-4 v30 | C-4 v28 | C-4 v30 | C-4 v34");
        b.Put(SNARE_CH, 16, "@01 D-4 v20 | D-4 v24 | D-4 v28 | D-4 v2C");
        b.Put(BASS_CH, 16, "@02 G-2 v28 | D-2 v24 | G-2 v28 | D-2 v24");
        b.Put(ARP_CH, 16, "@05 G-4 v18 047 | . | D-5 v14 | .");
        return b;
    }
    Builder b(stage == 4 ? 60 : 64);
    b.clip = true; // the last bar of stage 4 is three beats long
    const Track theme = stage == 1 ? ThemeB1() : stage == 3 ? ThemeB2() : ThemeB1();
    Band(b, SECOND, theme, BASS_DRIVE);
    if (stage == 1) {
        Drums(b, 0, 4, DrumPlan{Groove::FULL, 0, 5});
    } else {
        Drums(b, 0, 4, DrumPlan{Groove::FULL, stage == 3 ? 0 : 4, 8});
        b.Put(FX_CH, 0, ForBell(theme, stage == 3 ? 0 : -12, 0x14));
    }
    if (stage == 4) {
        // The phrase's last bar: the lead holds over a snare run into the bridge.
        b.Put(LEAD_CH, 48,
              "@03 A-5 | 462 | 462 | 462 | 462 | 462 | 462 | 462 | 462 | 462 | === | .");
        b.Put(FX_CH, 48, "=== | .11");
        b.Put(SNARE_CH, 48,
              "@01 D-4 v14 | . | D-4 v18 | . | D-4 v1C | D-4 v1C | D-4 v20 | D-4 v20 |"
              " D-4 v24 | D-4 v28 | D-4 v2C | D-4 v30");
        b.Put(HAT_CH, 48, ".11 | F#4 01 v08");
    }
    return b;
}

// The bridge, 7 bars from 80 s: drums step back; the bells answer the lead from the other side.
Builder Bridge(int stage) {
    Builder b(stage == 1 ? 64 : 48);
    b.clip = true;
    Progression chords = stage == 1 ? BREAK : Progression{&Dm, &F, &Am};
    b.Chords(0, chords);
    Drums(b, 0, stage == 1 ? 4 : 3, DrumPlan{Groove::HALF, stage == 1 ? 0 : 4, 8});
    b.Put(BASS_CH, 0, BassLine(chords, BASS_BREATH));
    Pads(b, chords, 22);
    b.Put(ARP_CH, 0, ChipArpeggios(chords, 0x16));
    if (stage == 1) {
        b.Put(LEAD_CH, 0,
              Bars({
                  "@03 D-5 v24 | .7 | F-5 | .3 | A-5 | .3",
                  "@03 C-5 | 461 | 462 | 462 | 462 | 462 | 462 | . | A-4 | .3 | C-5 | .3",
                  "@03 E-5 | .7 | A-5 | .3 | G-5 | .3",
                  "@03 D-5 | 461 | 462 | 462 | 462 | 462 | 462 | 462 | === | .7",
              }));
        b.Put(FX_CH, 0,
              Echo(ParseTrack("@07 D-6 | .7 | F-6 | .3 | A-6 | .3 | C-6 | .15 | A-5 | .3 |"
                              " C-6 | .3 | E-6 | .7 | A-6 | .3 | G-6 | .3 | D-6"),
                   2, 0x14, 0xD0, 64));
    } else {
        b.Put(LEAD_CH, 0,
              Bars({
                  "@03 F-5 v24 | .7 | A-5 | .3 | G-5 | .3",
                  "@03 F-5 | 461 | 462 | 462 | 462 | 462 | 462 | . | A-4 | .3 | C-5 | .3",
                  "@03 E-5 | 461 | 462 | 462 | 462 | 462 | 462 | 462 | === | .7",
              }));
        b.Put(FX_CH, 0,
              Echo(ParseTrack("@07 A-5 | .7 | C-6 | .3 | D-6 | .3 | C-6 | .15 | A-5 | .15"), 2,
                   0x14, 0xD0, 48));
    }
    return b;
}

Builder Riser() {
    Builder b(16);
    b.Chords(0, {&G});
    b.Put(FX_CH, 0,
          "C-3 06 v10 | v+1 104 | v+1 104 | v+1 104 | v+1 104 | v+1 104 | 104 | 104 |"
          " 104 | 104 | 104 | 104 | 104 | 104 | A0F | A0F");
    b.Put(SNARE_CH, 0,
          "@01 D-4 v10 | . | D-4 v14 | . | D-4 v18 | . | D-4 v1C | . | D-4 v20 R93 |"
          " R93 | D-4 v24 R92 | R92 | D-4 v28 R91 | D-4 v2C R91 | D-4 v30 R91 | D-4 v34 EC3");
    b.Put(KICK_CH, 0, "@01 C-4 v38 | .3 | C-4 v30 | .3 | C-4 v28 | .3 | C-4 v20 | .3");
    b.Put(CRASH_CH, 0, "@01 A#4 v24");
    b.Put(BASS_CH, 0, "@02 G-1 v28 | .11 | === | .3");
    b.Put(ARP_CH, 0,
          "@05 G-4 v18 047 | . | G-4 v14 047 | . | G-4 v10 047 | . | G-4 v0C 047 | . |"
          " D-5 v08 | .7");
    b.Put(LEAD_CH, 0, "@03 === | .15");
    return b;
}

Builder Breakdown(int stage) {
    Builder b(64);
    b.Chords(0, BREAK);
    Pads(b, BREAK, 22);
    b.Put(ARP_CH, 0, ChipArpeggios(BREAK, 0x14));
    b.Put(ECHO_CH, 0, Echo(ChipArpeggios(BREAK, 0x14), 3, 0x0C, 0, 64));
    if (stage == 1) {
        // The wind drifts left under the bells and back.
        b.Put(FX_CH, 0,
              ParseTrack("@06 C-3 v0C P01 | P00 | P00 | P00 | P00 | P00 | P00 | P00 |"
                         " P00 | P00 | P00 | P00 | P00 | P00 | P00 | P00 | P00 | P00 |"
                         " P00 | P00 | P00 | P00 | P00 | P00 | P10 | P00 | P00 | P00 |"
                         " P00 | P00 | P00 | P00 | P00 | P00 | P00 | P00 | P00 | P00 |"
                         " P00 | P00 | P00 | P00 | P00 | P00 | P00 | P00 | === A02"));
        b.Put(LEAD_CH, 0, WithTremolo(ForBell(ThemeD(false), -12, 0x40), 0x43));
    } else {
        b.Put(BASS_CH, 0, BassLine(BREAK, BASS_HOLD));
        b.Put(LEAD_CH, 0, ThemeD(true));
        b.Put(LEAD_ECHO_CH, 0, LeadEcho(ThemeD(true), 64));
        b.Put(FX_CH, 0, AtVolume(ParseTrack(BREAK_BELLS), 0x24));
        // A soft snare run leads the drums back in.
        b.Put(SNARE_CH, 60, "@01 D-4 v0C | D-4 v10 | D-4 v14 | D-4 v18");
    }
    return b;
}

Builder Lift(int stage) {
    // Stage 2 is 48 rows of which rows 40-43 play three times (a pattern loop): 56 rows, which
    // puts the peak's downbeat on the show's flash.
    Builder b(stage == 1 ? 64 : 48);
    b.clip = true; // the four-bar parts below are cut to fit
    Progression chords = stage == 1 ? MAIN : Progression{&Am, &F, &G};
    b.Chords(0, chords);
    Pads(b, chords, 20, stage == 1 ? "." : "742");
    // Under the bells' tune the bass holds back; it comes up for the climb.
    Track bass = BassLine(chords, BASS_PULSE);
    b.Put(BASS_CH, 0, stage == 1 ? WithDefaultVolume(bass, 0x24) : bass);
    b.Put(ARP_CH, 0, Arpeggios(chords, 0x16, 0x0C));
    if (stage == 1) {
        Drums(b, 0, 4, DrumPlan{Groove::HALF, 0, 0, 8, 0x34});
        b.Put(HAT_CH, 48, Bar(HATS_SIXTEENTH));
        b.Put(FX_CH, 0, ForBell(ThemeA1(), 12, 0x40));
    } else {
        Drums(b, 0, 2, DrumPlan{Groove::FULL, 4, 0, 0});
        b.Put(KICK_CH, 32,
              "@01 C-4 v38 | .3 | C-4 v38 | .3 | C-4 v30 E60 | C-4 v24 | C-4 v30 | C-4 v24 E62 |"
              " C-4 v30 | C-4 v30 | C-4 v34 | C-4 v38");
        b.Put(SNARE_CH, 32,
              "@01 D-4 v14 | . | D-4 v18 | . | D-4 v1C | . | D-4 v20 | . | D-4 v1C | D-4 v20 |"
              " D-4 v24 | D-4 v28 | D-4 v2C | D-4 v30 | D-4 v34 | D-4 v38");
        b.Put(FX_CH, 24,
              "C-4 06 v08 | v+1 102 | .2 | v+1 102 | .2 | v+1 102 | .2 | v+1 102 | .2 |"
              " v+1 102 | .2 | v+1 102 | v+1 102 | v+1 102 | v+1 102 | v+1 102 | 102 |"
              " 102 | A0A | A0A | A0A | A0A | ===");
        b.Put(GATE_CH, 47, LOOP_EXIT);
    }
    return b;
}

Track PeakCounter(bool first) {
    std::string v = " v28 8C0";
    auto bar = [&v](const char* a, const char* b, const char* c, const char* d) {
        return std::string("@03 ") + a + v + " | .3 | " + b + v + " | .3 | " + c + v + " | .3 | " +
               d + v + " | .3";
    };
    std::vector<std::string> bars;
    if (first)
        bars = {bar("A-4", "C-5", "A-4", "C-5"), bar("D-5", "B-4", "D-5", "G-4"),
                bar("G-4", "B-4", "E-5", "B-4"), bar("C-5", "E-5", "C-5", "E-5")};
    else
        bars = {bar("C-5", "A-4", "C-5", "A-4"), bar("B-4", "D-5", "B-4", "G-4"),
                bar("G-4", "B-4", "G-4", "E-5"), bar("E-5", "C-5", "E-5", "C-5")};
    bars.back().replace(bars.back().rfind(" | .3"), 5, " | .2 | ===");
    return Bars({bars[0], bars[1], bars[2], bars[3]});
}

// The peak: 16 bars of everything at once. The pads shimmer with tremolo, a gated pad pulses
// in sixteenths on the right, a second lead answers the first from the other side and the
// bells double the theme.
Builder Peak(int stage) {
    Builder b(64);
    bool second = stage >= 3;
    const Progression& chords = second ? SECOND : MAIN;
    Track theme = stage == 1   ? ThemeA1()
                  : stage == 2 ? ThemeA2()
                  : stage == 3 ? ThemeB1()
                               : ThemeB2();
    // The lead over its usual level; where the second lead doubles it, a little less.
    Band(b, chords, AtVolume(theme, second ? 0x3A : 0x36), stage % 2 ? BASS_ROLL : BASS_DRIVE,
         "742", 10);
    // The peak's own balance: the bass's roots up, the pads under it, the plucks and their
    // echo at full, and each half a little louder than the last.
    b.Put(BASS_CH, 0,
          WithDefaultVolume(BassLine(chords, stage % 2 ? BASS_ROLL : BASS_DRIVE),
                            second ? 0x3A : 0x36));
    Pads(b, chords, second ? 0x18 : 0x14, "742");
    Track arps = Arpeggios(chords, 0x40, 0x3C);
    b.Put(ARP_CH, 0, arps);
    b.Put(ECHO_CH, 0, Echo(arps, 3, 0x40, 0, 64));
    DrumPlan drums{Groove::FULL, 4 * (stage - 1), 16, 4, 0x40};
    drums.drive = second;
    Drums(b, 0, 4, drums);
    // The first eight bars double the lead from the other side; the second eight answer it
    // with a line of its own in quarter notes, under it and between its notes.
    b.Put(LEAD2_CH, 0, second ? PeakCounter(stage == 3) : SecondLead(theme, 0xD0));
    b.Put(FX_CH, 0, ForBell(theme, second ? -12 : 12, second ? 0x30 : 0x38));
    b.Put(LEAD_ECHO_CH, 0, Echo(theme, 3, 0x28, 0xD8, 64));
    for (size_t bar = 0; bar < chords.size(); ++bar) {
        b.Put(GATE_CH, int(bar) * BAR,
              std::string(chords[bar]->chip) + " 09 v" +
                  Hex2(stage == 1   ? 0x30
                       : stage == 2 ? 0x38
                                    : 0x40));
    }
    return b;
}

Builder Descend() {
    // The band thins out over four and a half bars and the kick falls away in pitch.
    Builder b(72);
    b.Chords(0, {&Am, &F, &C, &G, &G});
    b.Put(FX_CH, 0, "==="); // the bells of the peak stop here
    b.Put(GATE_CH, 0, "===");
    Drums(b, 0, 2, DrumPlan{Groove::OFFBEAT, 0, 0, 8});
    Drums(b, 32, 1, DrumPlan{Groove::KICK_HATS, 2, 0, 8}); // the claps leave first
    b.Put(KICK_CH, 48,
          "@01 C-4 v38 | 210 | 210 | 210 | 210 | 210 | 210 | 210 | EC1 | .7 | C-4 v20 | . |"
          " C-4 v18 | . | C-4 v14 | C-4 v10 | C-4 v0C | C-4 v08");
    b.Put(BASS_CH, 0, BassLine(MAIN, BASS_HOLD));
    b.Put(BASS_CH, 64, "@02 G-1 v20 | .5 | === | .");
    Pads(b, MAIN, 20);
    PadsOff(b, 60);
    b.Put(ARP_CH, 0, Arpeggios({&Am, &F}, 0x14, 0x0A));
    b.Put(LEAD_CH, 0,
          Bars({
              "@03 E-5 v20 | .7 | C-5 | .3 | D-5 | .3",
              "@03 C-5 | .7 | A-4 | .7",
              "@03 G-4 | .7 | C-5 | .3 | E-5 | .3",
              "@03 D-5 | 461 | 461 | 461 | 462 | 462 | 462 | 462 | 462 | 462 | 462 | 462"
              " | 462 | 462 | === | .",
          }));
    b.Put(ECHO_CH, 64, "@07 D-5 v10 | .3 | B-4 v0C | .1");
    return b;
}

const char* const BASS_LOW = "@02 A-1 v18 | .11 | === | .3";

// The close, at 100 BPM: eight patterns on the credits' own tunes, each heard twice at most
// (once on the bells, once on the lead), then the cadence.
//   1 the bells state the credits' first tune over the pads
//   2 soft drums, the lead takes it over with the plucks and their echo
//   3 the second tune on the lead, over F G Em Am
//   4 the bells take the second tune, a counter-line on the other side
//   5 the third tune, the hook from C, on the lead with a counter-line
//   6 the second theme comes back on the lead
//   7 the bells play the third tune an octave up over the counter-line
//   8 the first theme, hook and all, for the last time
Builder Calm(int stage) {
    Builder b(64);
    bool second = stage == 3 || stage == 4 || stage == 6;
    const Progression& chords = second ? SECOND : MAIN;
    b.Chords(0, chords);
    b.Put(FX_CH, 0, "F64");
    // Where the bells carry the tune the pads and the bass make room for them.
    bool bells = stage == 1 || stage == 4 || stage == 7;
    Pads(b, chords, bells ? 12 : 16);
    Track bass = BassLine(chords, BASS_LOW);
    b.Put(BASS_CH, 0, bells ? AtVolume(bass, 0x12) : bass);
    Track arps = Arpeggios(chords, 0x28, 0x16);
    auto lead = [&b](const Track& theme) {
        b.Put(LEAD_CH, 0, theme);
        b.Put(LEAD_ECHO_CH, 0, LeadEcho(theme, 64));
    };
    switch (stage) {
    case 1:
        b.Put(ECHO_CH, 0, ForBell(ThemeC1(), 0, 0x40));
        b.Put(ARP_CH, 16, Track(arps.begin() + 16, arps.end()));
        break;
    case 2:
        Drums(b, 0, 4, DrumPlan{Groove::SOFT, 0, 0, 0});
        lead(ThemeC1());
        b.Put(ARP_CH, 0, arps);
        b.Put(ECHO_CH, 0, Echo(arps, 3, 0x20, 0, 64));
        break;
    case 3:
        Drums(b, 0, 4, DrumPlan{Groove::SOFT_HATS, 0, 0, 4});
        lead(ThemeC2());
        b.Put(ARP_CH, 0, arps);
        break;
    case 4:
        b.Put(ECHO_CH, 0, ForBell(ThemeC2(), -12, 0x40));
        b.Put(LEAD2_CH, 0, CounterLine(chords, 0x18, 0xB0));
        b.Put(ARP_CH, 0, Transpose(arps, -12));
        b.Put(KICK_CH, 0, Bars({KICK_SOFT, KICK_SOFT, KICK_SOFT, KICK_SOFT}));
        b.Put(SNARE_CH, 48, "@01 .12 | D-4 v10 | D-4 v14 | D-4 v18 | D-4 v1C");
        break;
    case 5:
        Drums(b, 0, 4, DrumPlan{Groove::SOFT_HATS, 0, 0, 4});
        lead(ThemeC3());
        b.Put(LEAD2_CH, 0, CounterLine(chords, 0x14, 0x50));
        b.Put(ARP_CH, 0, arps);
        b.Put(ECHO_CH, 0, Echo(arps, 3, 0x20, 0, 64));
        break;
    case 6:
        Drums(b, 0, 4, DrumPlan{Groove::SOFT_HATS, 0, 4, 0});
        lead(ThemeB1());
        b.Put(ARP_CH, 0, arps);
        break;
    case 7:
        Drums(b, 0, 4, DrumPlan{Groove::SOFT, 0, 0, 4});
        b.Put(ECHO_CH, 0, ForBell(ThemeC3(), 12, 0x40));
        b.Put(LEAD2_CH, 0, CounterLine(chords, 0x14, 0xB0));
        b.Put(ARP_CH, 0, Transpose(arps, -12));
        break;
    default:
        Drums(b, 0, 4, DrumPlan{Groove::SOFT, 0, 4, 0});
        lead(ThemeA1());
        b.Put(ARP_CH, 0, arps);
        b.Put(ECHO_CH, 0, Echo(arps, 3, 0x20, 0, 64));
        break;
    }
    return b;
}

// The cadence: F and G under the lead's last words, then A minor struck and left to ring while
// the whole song fades; silent bars after it carry the song past the end of the show.
Builder Ending() {
    Builder b(96);
    b.Chords(0, {&F, &G, &Am, &Am, &Am, &Am});
    b.Put(FX_CH, 0, "F64");
    Pads(b, {&F, &G}, 16);
    b.Put(BASS_CH, 0, BassLine({&F, &G}, BASS_LOW));
    b.Put(ARP_CH, 0, Arpeggios({&F, &G}, 0x28, 0x16));
    Track last = Bars({"@03 A-5 | .3 | G-5 | .3 | F-5 | .3 | C-5 | .3",
                       "@03 D-5 | .3 | B-4 | .3 | G-4 | 461 | 462 | 462 | 462 | 462 | 462 | 462"});
    b.Put(LEAD_CH, 0, last);
    b.Put(LEAD_ECHO_CH, 0, LeadEcho(last, 32));
    b.Put(LEAD_ECHO_CH, 32, "===");
    // The last chord.
    b.Put(BASS_CH, 32, "@02 A-1 v24");
    for (int voice = 0; voice < 3; ++voice)
        b.Put(PAD_CH + voice, 32, std::string(Am.pad[voice]) + " 04 v1C");
    b.Put(LEAD_CH, 32,
          "@03 A-4 v24 | 461 | 462 | 462 | 462 | 462 | 462 | 462 | 462 | 462 | 462 |"
          " 462 | 462 | 462 | 462 | 462 | ===");
    b.Put(ECHO_CH, 32, "@07 A-5 v40 | .5 | E-5 v38 ED3 | .5 | C-5 v30 ED2 | .5 | A-4 v28");
    b.Put(HAT_CH, 32, "@01 C#5 v20");
    // The fade: global volume down one step a tick, every fourth row, from 247 s to silence
    // (five steps a row from the song's global volume leave almost nothing by row 80).
    for (int row = 40; row < 80; row += 4) b.Put(KICK_CH, row, "H01");
    b.Put(KICK_CH, 80, "G00");
    for (int ch : {int(BASS_CH), int(LEAD_CH), int(PAD_CH), PAD_CH + 1, PAD_CH + 2})
        b.Put(ch, 80, "===");
    return b;
}

// The lead's sample loops and its envelope holds while the key is down: a pattern that does
// not start a lead note releases whatever the last one left sounding.
void CloseLeads(Builder& b) {
    for (int channel : {int(LEAD_CH), int(LEAD2_CH), int(LEAD_ECHO_CH), int(ECHO_CH)}) {
        PatternCell& first = b.pattern.At(0, channel);
        if (!first.note) first.note = KEY_OFF_NOTE;
    }
}

// Tune notes outside their bar's chord, reached and left by step (at most a whole tone), are
// passing notes: they may rub against another tune.
void MarkPassingNotes(const Builder& b, int pattern, std::vector<PassingNote>& out);

// Orders and show times at which the parts start; the checks compare them with playback.
void MarkPassingNotes(const Builder& b, int pattern, std::vector<PassingNote>& out) {
    for (int channel = 0; channel < CHANNELS; ++channel) {
        struct Start {
            int row, note;
        };
        std::vector<Start> starts;
        int instrument = 0;
        for (int row = 0; row < b.pattern.rows; ++row) {
            const PatternCell& c = b.pattern.At(row, channel);
            if (c.instrument) instrument = c.instrument;
            if (c.note >= 1 && c.note <= 96 && (instrument == LEAD || instrument == BELL))
                starts.push_back({row, c.note});
        }
        for (size_t i = 1; i + 1 < starts.size(); ++i) {
            const Chord& chord = *b.harmony[size_t(starts[i].row / BAR)];
            int root = (Note(chord.root) - 1) % 12, pc = (starts[i].note - 1) % 12;
            int from = (pc - root + 12) % 12;
            if (from == 0 || from == chord.third || from == 7) continue;
            if (std::abs(starts[i].note - starts[i - 1].note) <= 2 &&
                std::abs(starts[i + 1].note - starts[i].note) <= 2)
                out.push_back({pattern, starts[i].row, channel});
        }
    }
}

struct Arrangement {
    xmw::Song song;
    std::vector<Landmark> landmarks;
    std::vector<std::vector<const Chord*>> harmony; // per pattern, per bar
    std::vector<PassingNote> passing;
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

    auto add = [&a, &song](Builder built) {
        for (size_t bar = 0; bar < built.harmony.size(); ++bar)
            if (!built.harmony[bar])
                throw NotationError("pattern " + std::to_string(song.patterns.size()) + " bar " +
                                    std::to_string(bar) + " has no chord");
        CloseLeads(built);
        MarkPassingNotes(built, int(song.patterns.size()), a.passing);
        song.patterns.push_back(std::move(built.pattern));
        a.harmony.push_back(std::move(built.harmony));
        return int(song.patterns.size() - 1);
    };
    auto mark = [&a, &song](const char* name, double seconds) {
        a.landmarks.push_back({name, int(song.orders.size()), seconds});
    };

    const int intro = add(Intro());
    const int build1 = add(Build(1)), build2 = add(Build(2)), build3 = add(Build(3));
    const int fill = add(Fill());
    const int mainA1 = add(Main(0, ThemeA1())), mainA2 = add(Main(1, ThemeA2()));
    const int mainA3 = add(Main(2, ThemeA1()));
    const int turn = add(Turn());
    const int second1 = add(Second(1)), pickup = add(Second(2));
    const int second2 = add(Second(3)), second3 = add(Second(4));
    const int bridge1 = add(Bridge(1)), bridge2 = add(Bridge(2)), riser = add(Riser());
    const int break1 = add(Breakdown(1)), break2 = add(Breakdown(2));
    const int lift1 = add(Lift(1)), lift2 = add(Lift(2));
    const int peak1 = add(Peak(1)), peak2 = add(Peak(2)), peak3 = add(Peak(3)),
              peak4 = add(Peak(4));
    const int descend = add(Descend());
    const int calm1 = add(Calm(1)), calm2 = add(Calm(2)), calm3 = add(Calm(3)),
              calm4 = add(Calm(4));
    const int calm5 = add(Calm(5)), calm6 = add(Calm(6)), calm7 = add(Calm(7)),
              calm8 = add(Calm(8));
    const int ending = add(Ending());

    auto play = [&song](std::initializer_list<int> patterns) {
        for (int p : patterns) song.orders.push_back(uint8_t(p));
    };
    mark("title", 0);
    play({intro});
    mark("build", 5);
    play({build1});
    mark("build: hats", 12.7);
    play({build2});
    mark("build: claps", 20.4);
    play({build3, fill});
    mark("cubes in full", 30);
    play({mainA1, mainA2, mainA3, turn});
    mark("second theme", 54.9);
    play({second1, pickup});
    mark("second theme: second phrase", 65);
    play({second2, second3});
    mark("bridge", 80);
    play({bridge1, bridge2, riser});
    mark("particles: breakdown", 95.3);
    play({break1, break2});
    mark("lift", 110.6);
    play({lift1, lift2});
    mark("peak: the flash", 125);
    play({peak1, peak2, peak3, peak4, descend});
    mark("credits: close", 164.4);
    play({calm1, calm2, calm3, calm4, calm5, calm6, calm7, calm8, ending});
    song.restartPosition = 1; // back to the build, at its own tempo
    return a;
}

int PitchClass(const char* name) {
    return (Note(name) - 1) % 12;
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

std::vector<std::vector<BarChord>> SongHarmony() {
    std::vector<std::vector<BarChord>> out;
    for (const auto& pattern : Arrange().harmony) {
        std::vector<BarChord> bars;
        for (const Chord* chord : pattern)
            bars.push_back({chord->name, PitchClass(chord->root), chord->third});
        out.push_back(std::move(bars));
    }
    return out;
}

std::vector<int> SongScale() {
    // A natural minor.
    return {9, 11, 0, 2, 4, 5, 7};
}

std::vector<SongPart> SongParts() {
    return {
        {"drums", {KIT}, false},
        {"bass", {BASS}, false},
        {"lead", {LEAD}, true},
        {"pads", {PAD, GATE}, false},
        {"plucks", {PLUCK, PLUCK_ECHO}, true},
        {"bells", {BELL}, true},
        {"fx", {WIND}, false},
    };
}

Figure SongHook() {
    return HookFigure();
}

std::vector<PassingNote> SongPassingNotes() {
    return Arrange().passing;
}

} // namespace compose
