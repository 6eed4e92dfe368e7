// xm_patterns.cpp: the XM loader's pattern stage: pattern headers and packed cells into
// row-major cell tables, and the empty patterns the order list names beyond the stored ones.
// Any thread.
#include <algorithm>
#include <cstdlib>

#include "music/load_failure.h"
#include "music/xm_stages.h"

namespace {

void SetCell(PatternCell& cell, const uint8_t fields[5]) {
    cell.note = fields[0] == 97 ? 255 : fields[0];
    cell.instrument = fields[1] > 128 ? 0 : fields[1];
    cell.volumeColumn = fields[2];
    cell.effect = fields[3];
    cell.effectParameter = fields[4];
}

bool ReadCell(ByteReader& r, PatternCell& cell) {
    uint8_t first;
    if (!U8(r, first)) return false;
    uint8_t fields[5] = {};
    if (first & 0x80) {
        for (int i = 0; i < 5; ++i) {
            if ((first >> i & 1) && !U8(r, fields[i])) return false;
        }
    } else {
        fields[0] = first;
        if (!ReadBytes(r, fields + 1, 4)) return false;
    }
    SetCell(cell, fields);
    return true;
}

// Decodes cells from a pattern's packed bytes held in memory. Bytes past the end read as 0, so a
// cell cut by the end keeps the fields before the cut; cells after the end stay empty.
void DecodeCells(const uint8_t* packed, int64_t size, PatternCell* cells, int64_t cellCount) {
    const auto byte = [&](int64_t& at) -> uint8_t { return at < size ? packed[at++] : 0; };
    int64_t at = 0;
    for (int64_t c = 0; c < cellCount && at < size; ++c) {
        const uint8_t first = byte(at);
        uint8_t fields[5] = {};
        if (first & 0x80) {
            for (int i = 0; i < 5; ++i) {
                if (first >> i & 1) fields[i] = byte(at);
            }
        } else {
            fields[0] = first;
            for (int i = 1; i < 5; ++i) fields[i] = byte(at);
        }
        SetCell(cells[c], fields);
    }
}

constexpr uint16_t MAX_ROWS = 1024;

} // namespace

bool ReadPatterns(XmReading& x, Module* module, int32_t storedPatterns, LoadError* error) {
    ByteReader& r = x.bytes;
    const int32_t channels = module->channelCount;
    // Format 1.02 stores a pattern's row count in one byte, as rows - 1, so its header is 8
    // bytes long; later versions store it in two.
    const bool shortHeader = module->version == 0x0102;
    const int64_t standardLength = shortHeader ? 8 : 9;
    int32_t read = 0;
    for (; read < storedPatterns; ++read) {
        const int32_t p = read;
        Pattern& pattern = module->patterns[p];
        const int64_t headerStart = r.position;
        uint32_t headerLength;
        uint8_t packing;
        uint16_t rows = 0, packedSize;
        uint8_t rowsMinusOne = 0;
        const bool headerRead = U32(r, headerLength) && U8(r, packing) &&
                                (shortHeader ? U8(r, rowsMinusOne) : U16(r, rows)) &&
                                U16(r, packedSize);
        if (shortHeader) rows = static_cast<uint16_t>(rowsMinusOne + 1);
        if (!headerRead) {
            // The mature players play a file that ends among its patterns with the rest of
            // them empty (and every instrument silent).
            if (x.reading == Reading::Tolerant) {
                x.fileEnded = true;
                break;
            }
            return Fail(error, LOAD_TRUNCATED,
                        "pattern %d: the header runs past the end of the file", p);
        }
        // The strict reading takes every header as standardLength bytes long. The tolerant one
        // honours a longer length field when the file holds that many bytes, and takes one the
        // file cannot hold (or one shorter than the fields it has) as the standard length,
        // which is how the mature players read a length such as 0x80000000.
        if (headerLength > standardLength && HasBytes(r, headerLength - standardLength)) {
            if (x.reading == Reading::Tolerant) SeekTo(r, headerStart + headerLength);
            x.longPatternHeader = true;
        }
        const int64_t dataStart = r.position;
        // Trackers write at most 1024 rows (most 256); longer patterns are refused, so that a
        // few bytes claiming 256 empty patterns of 65535 rows cannot make the song's cell
        // tables grow beyond 256 x 1024 x 32 cells (42 MB).
        if (rows > MAX_ROWS) {
            return Fail(error, LOAD_UNSUPPORTED, "pattern %d has %u rows; at most %u are supported",
                        p, rows, MAX_ROWS);
        }
        const int64_t cellCount = int64_t{rows} * channels;
        if (rows > 0) {
            pattern.rowCount = rows;
            pattern.cells = static_cast<PatternCell*>(Zeroed(cellCount * sizeof(PatternCell)));
            if (!pattern.cells) {
                return Fail(error, LOAD_OUT_OF_MEMORY, "out of memory loading pattern %d", p);
            }
        }
        if (x.reading == Reading::Tolerant) {
            // The packed size is the pattern's byte budget, as the mature players read it:
            // cells are decoded from those bytes only, the cells they do not reach are empty,
            // and the next pattern starts right after them. Bytes the file does not hold are
            // missing too, and nothing follows them.
            if (packedSize == 0) continue;
            auto* packed = static_cast<uint8_t*>(Zeroed(packedSize));
            if (!packed) {
                return Fail(error, LOAD_OUT_OF_MEMORY, "out of memory loading pattern %d", p);
            }
            const int64_t held = ReadUpTo(r, packed, packedSize);
            if (rows > 0) DecodeCells(packed, held, pattern.cells, cellCount);
            std::free(packed);
            if (held < packedSize) {
                x.fileEnded = true;
                ++read;
                break;
            }
            continue;
        }
        // A stored pattern of no rows keeps its row count of 0 and has no cells (the sequencer
        // plays it as one empty row and moves on); any cell data it claims is left unread.
        if (rows == 0 || packedSize == 0) continue;
        // Every cell takes at least one byte: a claim of more cells than bytes left fails
        // before decoding.
        const bool present = HasBytes(r, cellCount);
        bool complete = present;
        for (int64_t c = 0; complete && c < cellCount; ++c) {
            complete = ReadCell(r, pattern.cells[c]);
        }
        if (!complete) {
            // The file ended. When the cells needed more bytes than the header gives them, that
            // is the fault, not the length of the file.
            const int64_t needed = present ? r.position - dataStart : cellCount;
            if (needed > packedSize) {
                return Fail(error, LOAD_INVALID,
                            "pattern %d: its %u bytes of cell data end before its %u rows of %d "
                            "channels do",
                            p, packedSize, rows, channels);
            }
            return Fail(error, LOAD_TRUNCATED,
                        "pattern %d: the cell data runs past the end of the file", p);
        }
    }
    // Patterns the order list names but the file does not hold (or, in the tolerant reading,
    // that lie beyond the file's end) play as 64 empty rows.
    for (int32_t p = read; p < module->patternCount; ++p) {
        if (p >= storedPatterns && p >= module->usedPatternCount) break;
        module->patterns[p].rowCount = 64;
        module->patterns[p].cells =
            static_cast<PatternCell*>(Zeroed(int64_t{64} * channels * sizeof(PatternCell)));
        if (!module->patterns[p].cells) {
            return Fail(error, LOAD_OUT_OF_MEMORY, "out of memory loading pattern %d", p);
        }
    }
    return true;
}
