// notation.cpp: parses and prints the composer's cell and track notation (see notation.h).
#include "notation.h"

#include <cctype>

namespace compose {

namespace {

[[noreturn]] void Fail(std::string_view what, std::string_view text) {
    throw NotationError(std::string(what) + ": \"" + std::string(text) + "\"");
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Two upper-case hex digits, or -1.
int HexByte(std::string_view two) {
    if (two.size() != 2) return -1;
    int high = HexDigit(two[0]), low = HexDigit(two[1]);
    return high < 0 || low < 0 ? -1 : high * 16 + low;
}

const char* const NOTE_NAMES[12] = {"C-", "C#", "D-", "D#", "E-", "F-",
                                    "F#", "G-", "G#", "A-", "A#", "B-"};

bool ParseNote(std::string_view token, uint8_t& note) {
    if (token == "===") {
        note = KEY_OFF_NOTE;
        return true;
    }
    if (token.size() != 3 || token[2] < '0' || token[2] > '7') return false;
    for (int semitone = 0; semitone < 12; ++semitone) {
        if (token.substr(0, 2) == NOTE_NAMES[semitone]) {
            note = uint8_t((token[2] - '0') * 12 + semitone + 1);
            return true;
        }
    }
    return false;
}

// The volume-column byte of a "v.." token, or -1.
int ParseVolume(std::string_view token) {
    if (token.size() != 3 || token[0] != 'v') return -1;
    if (token[1] >= '0' && token[1] <= '4') {
        int value = HexByte(token.substr(1));
        return value >= 0 && value <= 0x40 ? 0x10 + value : -1;
    }
    int y = HexDigit(token[2]);
    if (y < 0) return -1;
    switch (token[1]) {
    case '-': return 0x60 | y;
    case '+': return 0x70 | y;
    case 'd': return 0x80 | y;
    case 'u': return 0x90 | y;
    case 's': return 0xA0 | y;
    case 'v': return 0xB0 | y;
    case 'p': return 0xC0 | y;
    case 'l': return 0xD0 | y;
    case 'r': return 0xE0 | y;
    case 'g': return 0xF0 | y;
    default: return -1;
    }
}

// Effect letter: digits and A-F are themselves, letters beyond F count on (G = 0x10 ...).
int EffectNumber(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return -1;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::vector<std::string_view> Tokens(std::string_view text) {
    std::vector<std::string_view> tokens;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        size_t start = i;
        while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        if (i > start) tokens.push_back(text.substr(start, i - start));
    }
    return tokens;
}

// Parses the tokens of one cell; notes without an instrument get `defaultInstrument` (0: none).
Cell ParseCellTokens(std::string_view text, int defaultInstrument) {
    Cell cell;
    bool haveNote = false, haveInstrument = false, haveVolume = false, haveEffect = false;
    for (std::string_view token : Tokens(text)) {
        if (token == ".") continue;
        if (token[0] == '@') Fail("default instrument must open the cell", text);
        uint8_t note = 0;
        if (ParseNote(token, note)) {
            if (haveNote) Fail("two notes in one cell", text);
            cell.note = note;
            haveNote = true;
        } else if (token.size() == 2) {
            int value = HexByte(token);
            if (value < 1 || value > 128) Fail("bad instrument", token);
            if (haveInstrument) Fail("two instruments in one cell", text);
            cell.instrument = uint8_t(value);
            haveInstrument = true;
        } else if (token[0] == 'v') {
            int value = ParseVolume(token);
            if (value < 0) Fail("bad volume column", token);
            if (haveVolume) Fail("two volume columns in one cell", text);
            cell.volume = uint8_t(value);
            haveVolume = true;
        } else if (token.size() == 3 && EffectNumber(token[0]) >= 0 &&
                   HexByte(token.substr(1)) >= 0) {
            if (haveEffect) Fail("two effects in one cell", text);
            cell.effect = uint8_t(EffectNumber(token[0]));
            cell.parameter = uint8_t(HexByte(token.substr(1)));
            haveEffect = true;
        } else {
            Fail("unknown token", token);
        }
    }
    // A tone-portamento row glides the playing note: an instrument there would restart the
    // envelopes, so the default is not given to it.
    bool glide = cell.effect == 3 || cell.effect == 5 || cell.volume >= 0xF0;
    if (cell.note >= 1 && cell.note <= 96 && !cell.instrument && defaultInstrument && !glide)
        cell.instrument = uint8_t(defaultInstrument);
    return cell;
}

} // namespace

Cell ParseCell(std::string_view text) {
    return ParseCellTokens(text, 0);
}

Track ParseTrack(std::string_view text) {
    Track track;
    int defaultInstrument = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t bar = text.find('|', start);
        if (bar == std::string_view::npos) bar = text.size();
        std::string_view piece = Trim(text.substr(start, bar - start));
        // "@II" in front of a cell changes the default instrument from here on.
        while (!piece.empty() && piece[0] == '@') {
            size_t end = 0;
            while (end < piece.size() && !std::isspace(static_cast<unsigned char>(piece[end])))
                ++end;
            int value = HexByte(piece.substr(1, end - 1));
            if (value < 1 || value > 128) Fail("bad default instrument", piece.substr(0, end));
            defaultInstrument = value;
            piece = Trim(piece.substr(end));
            if (piece.empty()) Fail("default instrument without a cell", text);
        }
        // ".N": N empty rows.
        if (piece.size() > 1 && piece[0] == '.' &&
            std::isdigit(static_cast<unsigned char>(piece[1]))) {
            size_t count = 0;
            for (char c : piece.substr(1)) {
                if (!std::isdigit(static_cast<unsigned char>(c))) Fail("bad row count", piece);
                count = count * 10 + size_t(c - '0');
            }
            if (count == 0 || count > 256) Fail("bad row count", piece);
            track.insert(track.end(), count, Cell{});
        } else if (piece.empty()) {
            // Nothing between two bars, or a trailing bar: a mistake rather than a silent row.
            if (bar != text.size() || !track.empty() || start != 0) Fail("empty cell", text);
        } else {
            track.push_back(ParseCellTokens(piece, defaultInstrument));
        }
        start = bar + 1;
    }
    return track;
}

std::string FormatCell(const Cell& cell) {
    if (cell.Empty()) return ".";
    static const char HEX[] = "0123456789ABCDEF";
    std::string out;
    auto add = [&out](const std::string& part) {
        if (!out.empty()) out += ' ';
        out += part;
    };
    if (cell.note == KEY_OFF_NOTE) {
        add("===");
    } else if (cell.note >= 1 && cell.note <= 96) {
        int n = cell.note - 1;
        add(std::string(NOTE_NAMES[n % 12]) + char('0' + n / 12));
    }
    if (cell.instrument) add(std::string{HEX[cell.instrument >> 4], HEX[cell.instrument & 15]});
    if (cell.volume >= 0x10 && cell.volume <= 0x50) {
        int v = cell.volume - 0x10;
        add(std::string{'v', HEX[v >> 4], HEX[v & 15]});
    } else if (cell.volume >= 0x60) {
        static const char LETTERS[] = "-+dusvplrg";
        add(std::string{'v', LETTERS[(cell.volume >> 4) - 6], HEX[cell.volume & 15]});
    }
    if (cell.effect || cell.parameter) {
        char letter = cell.effect < 10 ? char('0' + cell.effect) : char('A' + cell.effect - 10);
        add(std::string{letter, HEX[cell.parameter >> 4], HEX[cell.parameter & 15]});
    }
    return out;
}

Track Transpose(Track track, int semitones) {
    for (Cell& cell : track) {
        if (cell.note < 1 || cell.note > 96) continue;
        int moved = int(cell.note) + semitones;
        if (moved < 1 || moved > 96)
            throw NotationError("transposed note out of range: " + FormatCell(cell));
        cell.note = uint8_t(moved);
    }
    return track;
}

Track Repeat(const Track& track, int times) {
    Track out;
    for (int i = 0; i < times; ++i) out.insert(out.end(), track.begin(), track.end());
    return out;
}

Track Join(std::initializer_list<Track> parts) {
    Track out;
    for (const Track& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Track WithEffect(Track track, size_t row, uint8_t effect, uint8_t parameter) {
    if (track.size() <= row) track.resize(row + 1);
    track[row].effect = effect;
    track[row].parameter = parameter;
    return track;
}

} // namespace compose
