// mod_patterns.cpp: the MOD loader's pattern stage: 64 rows of four bytes per track (sample
// number split over two nibbles, a 12-bit Amiga period, the effect and its parameter), stored
// one pattern after another, as pairs of four-track halves (FLT8), or as tracks that the order
// table combines (the track layout). Any thread.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "music/load_failure.h"
#include "music/mod_stages.h"

namespace {

constexpr int32_t ROWS = 64;

PatternCell DecodeCell(const uint8_t* b) {
    PatternCell cell{};
    const int32_t period = (b[0] & 0x0F) << 8 | b[1];
    cell.note = NoteOfModPeriod(period);
    cell.instrument = static_cast<uint8_t>((b[0] & 0xF0) | (b[2] >> 4));
    cell.effect = static_cast<uint8_t>(b[2] & 0x0F);
    cell.effectParameter = b[3];
    return cell;
}

// Reads `bytes` bytes of rows into `rows`; the bytes the file does not hold stay zero (empty
// cells). False when the file ended inside them.
bool ReadRows(ByteReader& r, uint8_t* rows, int64_t bytes) {
    return ReadUpTo(r, rows, bytes) == bytes;
}

} // namespace

uint8_t NoteOfModPeriod(int32_t period) {
    if (period <= 0) return 0;
    // 428 is C-2 on the MOD scale and note 49 (C-4) of the song's Amiga table, four times finer.
    const double semitones = 12.0 * std::log2(428.0 / period);
    const int32_t note = 49 + static_cast<int32_t>(std::lround(semitones));
    return static_cast<uint8_t>(std::clamp(note, 1, 96));
}

bool ReadModPatterns(ByteReader& r, Module* module, const ModLayout& layout, bool& fileEnded,
                     LoadError* error) {
    const int32_t channels = layout.channels;
    for (int32_t p = 0; p < module->patternCount; ++p) {
        Pattern& pattern = module->patterns[p];
        pattern.rowCount = ROWS;
        pattern.cells = static_cast<PatternCell*>(Zeroed(int64_t{ROWS} * channels * 5));
        if (!pattern.cells)
            return Fail(error, LOAD_OUT_OF_MEMORY, "out of memory loading pattern %d", p);
    }
    fileEnded = false;
    // One stored block (a pattern, a half or a track) at a time.
    const bool trackLayout = module->modVariant == ModVariant::TrackLayout;
    const int32_t blockTracks = layout.pairedPatterns ? 4 : trackLayout ? 1 : channels;
    const int64_t blockBytes = int64_t{ROWS} * blockTracks * 4;
    auto* block = static_cast<uint8_t*>(Zeroed(blockBytes));
    if (!block) return Fail(error, LOAD_OUT_OF_MEMORY, "out of memory loading the patterns");
    // The track layout needs every track at hand before the positions can be built.
    uint8_t* tracks = nullptr;
    if (trackLayout) {
        tracks = static_cast<uint8_t*>(Zeroed(int64_t{layout.storedPatterns} * blockBytes));
        if (!tracks) {
            std::free(block);
            return Fail(error, LOAD_OUT_OF_MEMORY, "out of memory loading the tracks");
        }
    }
    for (int32_t s = 0; s < layout.storedPatterns; ++s) {
        std::memset(block, 0, static_cast<size_t>(blockBytes));
        if (!fileEnded && !ReadRows(r, block, blockBytes)) fileEnded = true;
        if (tracks) {
            std::memcpy(tracks + s * blockBytes, block, static_cast<size_t>(blockBytes));
            continue;
        }
        const int32_t target = layout.pairedPatterns ? s / 2 : s;
        const int32_t firstTrack = layout.pairedPatterns ? (s % 2) * 4 : 0;
        if (target >= module->patternCount) continue;
        PatternCell* cells = module->patterns[target].cells;
        for (int32_t row = 0; row < ROWS; ++row) {
            for (int32_t t = 0; t < blockTracks; ++t) {
                cells[row * channels + firstTrack + t] =
                    DecodeCell(block + (row * blockTracks + t) * 4);
            }
        }
    }
    if (tracks) {
        for (int32_t p = 0; p < module->patternCount; ++p) {
            PatternCell* cells = module->patterns[p].cells;
            for (int32_t c = 0; c < 4; ++c) {
                const uint8_t* track = tracks + layout.tracks[p][c] * blockBytes;
                for (int32_t row = 0; row < ROWS; ++row)
                    cells[row * channels + c] = DecodeCell(track + row * 4);
            }
        }
    }
    std::free(tracks);
    std::free(block);
    return true;
}
