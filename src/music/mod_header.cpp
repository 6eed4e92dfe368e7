// mod_header.cpp: the MOD loader's first stage: what the file is (its tag at offset 1080, the
// track layout's tag at 1464, or the content of a tagless 15-sample file, never its name), and
// its song header: title, sample headers, song length, restart position and order table. Any
// thread.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "music/load_failure.h"
#include "music/mod_stages.h"

namespace {

constexpr int64_t TAG_OFFSET = 1080;
constexpr int64_t TRACK_TAG_OFFSET = 1464;
constexpr int64_t FIFTEEN_HEADER = 600; // 20 + 15 x 30 + 2 + 128

struct TagInfo {
    int32_t channels; // 0: not a tag this loader knows
    ModVariant variant;
    int32_t extraBytes; // bytes between the tag and the first pattern
    bool pairedPatterns;
};

bool Digit(char c) {
    return c >= '0' && c <= '9';
}

TagInfo ReadTag(const uint8_t* t) {
    const auto is = [t](const char* s) { return std::memcmp(t, s, 4) == 0; };
    const char c0 = static_cast<char>(t[0]), c1 = static_cast<char>(t[1]);
    if (is("M.K.") || is("M!K!") || is("M&K!") || is("N.T."))
        return {4, ModVariant::ProTracker, 0, false};
    if (is("FEST")) return {4, ModVariant::Fest, 0, false};
    if (is("FLT4") || is("EXO4")) return {4, ModVariant::Startrekker, 0, false};
    if (is("FLT8") || is("EXO8")) return {8, ModVariant::Startrekker, 0, true};
    if (is("CD61")) return {6, ModVariant::Octalyser, 0, false};
    if (is("CD81")) return {8, ModVariant::Octalyser, 0, false};
    if (is("OKTA") || is("OCTA")) return {8, ModVariant::Multichannel, 0, false};
    // Files of one tracker keep four bytes of their own after the tag.
    if (is("FA04")) return {4, ModVariant::Fa0x, 4, false};
    if (is("FA06")) return {6, ModVariant::Fa0x, 4, false};
    if (is("FA08")) return {8, ModVariant::Fa0x, 4, false};
    if (std::memcmp(t, "TDZ", 3) == 0 && t[3] >= '1' && t[3] <= '9')
        return {t[3] - '0', ModVariant::Multichannel, 0, false};
    if (c0 >= '1' && c0 <= '9' && std::memcmp(t + 1, "CHN", 3) == 0)
        return {c0 - '0', c0 == '4' ? ModVariant::ProTracker : ModVariant::Multichannel, 0, false};
    if (Digit(c0) && Digit(c1) &&
        (std::memcmp(t + 2, "CH", 2) == 0 || std::memcmp(t + 2, "CN", 2) == 0)) {
        const int32_t n = (c0 - '0') * 10 + (c1 - '0');
        if (n >= 10 && n <= 32) return {n, ModVariant::Multichannel, 0, false};
    }
    return {0, ModVariant::None, 0, false};
}

bool TrackLayoutTag(const uint8_t* head, int64_t size) {
    if (size < TRACK_TAG_OFFSET + 4) return false;
    const uint8_t* t = head + TRACK_TAG_OFFSET;
    return std::memcmp(t, "MTN\0", 4) == 0 || std::memcmp(t, "IT10", 4) == 0;
}

uint16_t Word(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

// A tagless file is taken as a 15-sample song only when everything in its header is what the
// original tracker could have written (names aside: ripped files often carry stray bytes
// there): volumes up to 64, no finetune (that
// tracker had none), lengths it could hold, a song length of 1-128 naming patterns below 64, a
// first pattern whose cells name samples 0-15 and periods of the Amiga's range (as far as the
// file's first 1468 bytes hold it). Random data and other formats fail one of these almost always.
bool LooksLikeFifteenSamples(const uint8_t* head, int64_t size) {
    // The head holds the first 217 cells of the first pattern.
    if (size < TRACK_TAG_OFFSET + 4) return false;
    int64_t total = 0;
    for (int i = 0; i < 15; ++i) {
        const uint8_t* h = head + 20 + 30 * i;
        const uint16_t length = Word(h + 22);
        if (h[24] != 0 || h[25] > 64 || length > 32768) return false;
        total += length;
    }
    const uint8_t songLength = head[470];
    if (songLength == 0 || songLength > 128) return false;
    for (int i = 0; i < 128; ++i) {
        if (head[472 + i] > 127 || (i < songLength && head[472 + i] > 63)) return false;
    }
    if (total == 0) return false;
    for (int k = 0; k < (TRACK_TAG_OFFSET + 4 - FIFTEEN_HEADER) / 4; ++k) {
        const uint8_t* cell = head + FIFTEEN_HEADER + 4 * k;
        const int32_t period = (cell[0] & 0x0F) << 8 | cell[1];
        if ((cell[0] & 0xF0) != 0 || (cell[2] >> 4) > 15) return false;
        if (period != 0 && (period < 100 || period > 1000)) return false;
    }
    return true;
}

} // namespace

bool LooksLikeMod(const uint8_t* head, int64_t size) {
    if (size >= TAG_OFFSET + 4 && ReadTag(head + TAG_OFFSET).channels > 0) return true;
    if (TrackLayoutTag(head, size)) return true;
    return LooksLikeFifteenSamples(head, size);
}

const char* RefusedKind(const uint8_t* head, int64_t size) {
    if (size < 4) return nullptr;
    const auto starts = [head](const char* s) { return std::memcmp(head, s, 4) == 0; };
    if (starts("Ice!") || starts("ICE!") || starts("-CJ-"))
        return "a module packed by an Atari file packer (Ice); unpack it first";
    if (starts("PP20")) return "a file packed by an Amiga file packer (PP20); unpack it first";
    if (starts("XPKF")) return "a file packed by an Amiga file packer (XPK); unpack it first";
    if (starts("IMP!")) return "a file packed by an Amiga file packer (IMP!); unpack it first";
    if (std::memcmp(head, "RNC", 3) == 0)
        return "a file packed by a game file packer (RNC); unpack it first";
    if (size >= TAG_OFFSET + 4 && std::memcmp(head + TAG_OFFSET, "FLTM", 4) == 0)
        return "a module whose tag (FLTM) names a tracker's own extension of the FLT format; this "
               "player reads FLT4 and FLT8 only";
    return nullptr;
}

bool ReadModHeader(ByteReader& r, Module* module, ModLayout& layout, ModSampleHeader* headers,
                   LoadError* error) {
    uint8_t head[1468] = {};
    const int64_t held = ReadUpTo(r, head, sizeof head);
    layout = ModLayout{};
    TagInfo tag{};
    if (held >= TAG_OFFSET + 4) tag = ReadTag(head + TAG_OFFSET);
    const bool trackLayout = tag.channels == 0 && TrackLayoutTag(head, held);
    if (tag.channels > 0) {
        layout.channels = tag.channels;
        layout.samples = 31;
        layout.patternStart = TAG_OFFSET + 4 + tag.extraBytes;
        layout.pairedPatterns = tag.pairedPatterns;
        std::memcpy(layout.tag, head + TAG_OFFSET, 4);
        module->modVariant = tag.variant;
    } else if (trackLayout) {
        layout.channels = 4;
        layout.samples = 31;
        layout.patternStart = TRACK_TAG_OFFSET + 4;
        std::memcpy(layout.tag, head + TRACK_TAG_OFFSET, 4);
        if (layout.tag[3] == 0) layout.tag[3] = ' ';
        module->modVariant = ModVariant::TrackLayout;
    } else if (LooksLikeFifteenSamples(head, held)) {
        layout.channels = 4;
        layout.samples = 15;
        layout.patternStart = FIFTEEN_HEADER;
        layout.fifteenSamples = true;
        module->modVariant = ModVariant::FifteenSamples;
    } else {
        return Fail(error, LOAD_NOT_XM,
                    "not a module this player reads (neither an extended "
                    "module nor a MOD file)");
    }
    module->format = ModuleFormat::Mod;
    module->channelCount = static_cast<int16_t>(layout.channels);
    module->defaultSpeed = 6;
    module->defaultBpm = 125;
    module->initialGlobalVolume = 64;
    module->flags = 0; // Amiga periods
    std::memcpy(module->title, head, 20);
    module->title[20] = 0;

    for (int i = 0; i < layout.samples; ++i) {
        const uint8_t* h = head + 20 + 30 * i;
        ModSampleHeader& s = headers[i];
        std::memcpy(s.name, h, 22);
        s.name[22] = 0;
        s.length = Word(h + 22);
        s.finetune = h[24];
        s.volume = h[25];
        s.loopStart = Word(h + 26);
        s.loopLength = Word(h + 28);
    }
    const int64_t songAt = 20 + 30 * int64_t{layout.samples};
    const uint8_t songLength = head[songAt];
    const uint8_t restart = head[songAt + 1];
    const uint8_t* orders = head + songAt + 2;
    if (held < songAt + 130) {
        return Fail(error, LOAD_TRUNCATED, "the MOD header runs past the end of the file");
    }
    const int64_t rowBytes = int64_t{4} * (layout.pairedPatterns ? 4 : layout.channels);
    const int64_t fileSize = r.position + BytesLeft(r, int64_t{1} << 31);
    if (trackLayout) {
        // The order table holds four track numbers per position: every position becomes a
        // pattern of its own made of those tracks.
        const int32_t length = songLength == 0 || songLength > 128 ? 128 : songLength;
        int32_t highest = 0;
        for (int i = 0; i < length; ++i) {
            for (int c = 0; c < 4; ++c) {
                layout.tracks[i][c] = orders[4 * i + c];
                highest = std::max<int32_t>(highest, orders[4 * i + c]);
            }
        }
        layout.storedPatterns = highest + 1;
        module->songLength = static_cast<int16_t>(length);
        module->restartPosition = static_cast<int16_t>(restart < length ? restart : 0);
        module->patternCount = length;
        module->usedPatternCount = length;
        for (int i = 0; i < length; ++i) module->orders[i] = static_cast<uint8_t>(i);
    } else {
        // The song length counts the order table's entries played; the table holds 128. A length
        // of 0 or beyond the table is taken as the whole table, and order entries naming patterns
        // beyond 127 are dropped from it, as the mature players read such files.
        const int32_t length = songLength == 0 || songLength > 128 ? 128 : songLength;
        int32_t kept = 0;
        for (int i = 0; i < length; ++i) {
            if (orders[i] < 128) module->orders[kept++] = orders[i];
        }
        if (kept == 0) {
            return Fail(error, LOAD_INVALID,
                        "the order table names no pattern (every one of its %d entries is beyond "
                        "127)",
                        length);
        }
        module->songLength = static_cast<int16_t>(kept);
        module->restartPosition = static_cast<int16_t>(restart < kept ? restart : 0);
        if (layout.samples == 15) {
            // The 15-sample trackers keep the timer's setting in that byte: 120 is the usual
            // 50 ticks a second, other values set the tick rate the PAL timer gives them.
            module->restartPosition = 0;
            if (restart != 120 && restart > 0 && restart < 240) {
                const double hz = 709379.0 / ((240 - restart) * 122.0);
                module->defaultBpm = static_cast<int16_t>(std::lround(hz * 2.5));
            }
        }
        // Stored patterns: the highest entry of the whole table (the original tracker saves
        // every pattern the table names, played or not), unless the file is too short to hold
        // them while it does hold the ones the song plays.
        int32_t highestPlayed = 0, highestAll = 0;
        for (int i = 0; i < 128; ++i) {
            if (orders[i] > 127) continue;
            highestAll = std::max<int32_t>(highestAll, orders[i]);
            if (i < length) highestPlayed = std::max<int32_t>(highestPlayed, orders[i]);
        }
        int32_t stored = highestAll + 1;
        int32_t playedStored = highestPlayed + 1;
        if (layout.pairedPatterns) {
            stored = (highestAll | 1) + 1;
            playedStored = (highestPlayed | 1) + 1;
        }
        if (layout.patternStart + stored * 64 * rowBytes > fileSize &&
            layout.patternStart + playedStored * 64 * rowBytes <= fileSize)
            stored = playedStored;
        // One converter saved eight-track songs under the four-track tag: the file's size then
        // fits eight tracks exactly and four not at all, and the restart byte is not the 127
        // the original tracker writes (its own files with that size stay four-track ones).
        if (std::memcmp(layout.tag, "M.K.", 4) == 0 && restart != 127) {
            int64_t sampleBytes = 0;
            for (int i = 0; i < layout.samples; ++i) sampleBytes += int64_t{headers[i].length} * 2;
            const int64_t patterns = int64_t{stored} * 64 * 4;
            if (layout.patternStart + patterns * 4 + sampleBytes != fileSize &&
                layout.patternStart + patterns * 8 + sampleBytes == fileSize) {
                layout.channels = 8;
                module->channelCount = 8;
                module->modVariant = ModVariant::Multichannel;
            }
        }
        // A cut file keeps the patterns it holds; one that holds none of them while its order
        // table names patterns beyond the 64 the original tracker could save is no song.
        if (stored > 64 && fileSize < layout.patternStart + 64 * rowBytes) {
            return Fail(error, LOAD_TRUNCATED,
                        "the file ends before its first pattern, and its order table names %d "
                        "patterns",
                        stored);
        }
        layout.storedPatterns = stored;
        if (layout.pairedPatterns) {
            // Each order entry names the first half of a pair of stored patterns.
            for (int i = 0; i < module->songLength; ++i) module->orders[i] /= 2;
        }
        int32_t used = 0;
        for (int i = 0; i < module->songLength; ++i)
            used = std::max<int32_t>(used, module->orders[i] + 1);
        module->usedPatternCount = used;
        module->patternCount = std::max(layout.pairedPatterns ? stored / 2 : stored, used);
    }
    module->patterns =
        static_cast<Pattern*>(Zeroed(int64_t{module->patternCount} * sizeof(Pattern)));
    module->instruments =
        static_cast<Instrument*>(Zeroed(int64_t{layout.samples} * sizeof(Instrument)));
    if (!module->patterns || !module->instruments)
        return Fail(error, LOAD_OUT_OF_MEMORY, "out of memory loading the song's tables");
    module->instrumentCount = static_cast<int16_t>(layout.samples);
    for (int i = 0; i < layout.samples; ++i) {
        for (const Sample*& slot : module->instruments[i].samples) slot = &silentSample;
    }

    // What the song facts show (20 characters at most): the tracker family and the tag.
    const char* family = "MOD";
    switch (module->modVariant) {
    case ModVariant::ProTracker: family = "ProTracker"; break;
    case ModVariant::Startrekker: family = "Startrekker"; break;
    case ModVariant::Octalyser: family = "Octalyser"; break;
    case ModVariant::Multichannel: family = "MOD"; break;
    case ModVariant::FifteenSamples: family = "15-sample MOD"; break;
    case ModVariant::TrackLayout: family = "MOD tracks"; break;
    case ModVariant::Fest: family = "MOD"; break;
    case ModVariant::Fa0x: family = "MOD"; break;
    case ModVariant::Noisetracker: family = "Noisetracker"; break;
    case ModVariant::None: break;
    }
    char facts[64];
    if (layout.tag[0] != 0)
        std::snprintf(facts, sizeof facts, "%s %s", family, layout.tag);
    else
        std::snprintf(facts, sizeof facts, "%s", family);
    std::memcpy(module->trackerName, facts, sizeof module->trackerName - 1);
    module->trackerName[sizeof module->trackerName - 1] = 0;
    return SeekTo(r, layout.patternStart) ||
           Fail(error, LOAD_INVALID, "the MOD header cannot be read");
}
