// mod_timing.cpp: the MOD loader's timing stage: whether a four-track M.K. file's F commands
// from 20 on are tempos (the original tracker's timer) or speeds (the tracker before it, which
// counted every tick on the screen's 50 Hz and had no tempo). Both trackers wrote the same tag;
// the song itself tells them apart. Any thread.
//
// Tempos are the rule. A song is taken as the older tracker's when its F commands from 20 on,
// read as tempos, would make it at least eight minutes long, and read as speeds shorter still:
// such a song would crawl at a few rows a second for most of its length, which no one composed.
// A row that sets both a speed (F01-F1F) and a value from 20 on can only mean a speed and a
// tempo, so such a song keeps its tempos without a scan.
//
// A tempo song times its ticks as the Amiga did (a new tempo from the next tick on) when the
// file was saved by the Amiga tracker itself. That tracker writes a loop length of at least one
// word for every sample, a sample without a loop included; a header with a loop length of 0 was
// written by another program (a converter or a tracker on another machine), whose player
// changed the tempo at once.
#include <algorithm>
#include <cstring>
#include <vector>

#include "music/mod_stages.h"

namespace {

constexpr double LONG_SONG_SECONDS = 8 * 60;
constexpr int32_t ROWS = 64;

// The song's length in seconds, from its first row to the first row it plays a second time (or
// its end), B, D, EEx and F followed, pattern loops not; F from 20 on is a tempo when `tempos`,
// else a speed.
double SongSeconds(const Module* module, bool tempos) {
    const int32_t channels = module->channelCount;
    std::vector<uint8_t> seen(static_cast<size_t>(module->songLength) * ROWS, 0);
    int32_t speed = module->defaultSpeed, bpm = module->defaultBpm;
    int32_t order = 0, row = 0;
    double seconds = 0;
    while (order < module->songLength) {
        uint8_t& mark = seen[static_cast<size_t>(order) * ROWS + row];
        if (mark) break;
        mark = 1;
        const Pattern& pattern = module->patterns[module->orders[order]];
        int32_t jump = -1, breakRow = -1, delay = 0;
        for (int32_t c = 0; c < channels; ++c) {
            const PatternCell& cell = pattern.cells[row * channels + c];
            const int32_t p = cell.effectParameter;
            if (cell.effect == 0xF && p != 0) {
                if (p < 32 || !tempos)
                    speed = p;
                else
                    bpm = p;
            } else if (cell.effect == 0xB) {
                jump = p;
                breakRow = 0;
            } else if (cell.effect == 0xD) {
                breakRow = (p >> 4) * 10 + (p & 15);
                if (breakRow >= ROWS) breakRow = 0;
            } else if (cell.effect == 0xE && (p >> 4) == 14 && delay == 0) {
                delay = p & 15;
            }
        }
        seconds += speed * (delay + 1) * 2.5 / bpm;
        if (jump >= 0 || breakRow >= 0) {
            order = jump >= 0 ? jump : order + 1;
            row = breakRow >= 0 ? breakRow : 0;
        } else if (++row >= ROWS) {
            row = 0;
            ++order;
        }
    }
    return seconds;
}

bool PlaysSpeedsOnly(const Module* module) {
    if (module->modVariant != ModVariant::ProTracker || module->channelCount != 4) return false;
    bool high = false;
    for (int32_t i = 0; i < module->songLength; ++i) {
        const Pattern& pattern = module->patterns[module->orders[i]];
        for (int32_t row = 0; row < pattern.rowCount; ++row) {
            bool speedHere = false, highHere = false;
            for (int32_t c = 0; c < module->channelCount; ++c) {
                const PatternCell& cell = pattern.cells[row * module->channelCount + c];
                if (cell.effect != 0xF || cell.effectParameter == 0) continue;
                if (cell.effectParameter < 32)
                    speedHere = true;
                else
                    highHere = true;
            }
            if (speedHere && highHere) return false;
            high = high || highHere;
        }
    }
    if (!high) return false;
    const double asTempos = SongSeconds(module, true);
    return asTempos >= LONG_SONG_SECONDS && SongSeconds(module, false) < asTempos;
}

} // namespace

void ChooseModTiming(Module* module, const char* tag, const ModSampleHeader* headers) {
    if (std::memcmp(tag, "M.K.", 4) != 0 && std::memcmp(tag, "M!K!", 4) != 0) return;
    if (!PlaysSpeedsOnly(module)) {
        module->tempoFromNextTick =
            module->modVariant == ModVariant::ProTracker && module->channelCount == 4 &&
            std::none_of(headers, headers + 31,
                         [](const ModSampleHeader& h) { return h.loopLength == 0; });
        return;
    }
    module->modVariant = ModVariant::Noisetracker;
    char facts[sizeof module->trackerName] = "Noisetracker ";
    std::memcpy(facts + 13, tag, 4);
    facts[17] = 0;
    std::memcpy(module->trackerName, facts, sizeof facts);
}
