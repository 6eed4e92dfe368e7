// xm_loader.cpp: reads an XM file through a module stream into a Module (patterns unpacked,
// samples widened to 16 bits and delta-decoded, loops in frames) and frees songs. Any thread;
// one load touches only its own stream and song.
//
// Every read and seek is checked and every size taken from the file is bounded by the bytes
// the file still holds, so that a damaged file fails the load cleanly (null, nothing left
// allocated) instead of reading or writing outside a buffer or asking for gigabytes. Each
// failure says what is wrong with the file in a LoadError. Messages number instruments and
// samples from 1 and patterns from 0, as a tracker's editor shows them, so that a musician can
// find the place.
//
// Two readings. A file is first read the way the demo has always read it: a pattern header is
// taken as 9 bytes (8 in format 1.02) whatever its length field says, a pattern's cells are
// decoded by count and the next pattern starts where they end, and every header lies in the
// file. Every file that reading accepts loads exactly as it always has. When it refuses a file
// whose song header is sound, the file is read once more the way the mature players read it
// (Reading::Tolerant below), and only when that fails too is the file refused, with the second
// reading's reason. A sample loader may then be asked for a sample twice.
//
// Layouts: versions 1.02 and 1.03 store every instrument header (with its sample headers) first,
// then the patterns, then the data of all samples in instrument order; every other version is
// read as 1.04 (patterns, then each instrument followed by its samples' data).
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "music/file_access.h"
#include "music/module.h"

const Sample silentSample{};

namespace {

// How sizes that disagree with the data they describe are read (see the top of this file).
enum class Reading {
    Strict,   // the demo's reading, unchanged for every file it accepts
    Tolerant, // the mature players' reading, for files the strict reading refuses
};

// The versions stored in the early layout; 1.02 also has the short pattern header.
bool EarlyLayout(uint16_t version) {
    return version == 0x0102 || version == 0x0103;
}

// ==== Errors ====

// Records why the load failed and returns false, so that failure paths read
// `return Fail(...)`.
[[gnu::format(printf, 3, 4)]] bool Fail(LoadError* error, LoadErrorCode code, const char* format,
                                        ...) {
    error->code = code;
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(error->message, sizeof error->message, format, arguments);
    va_end(arguments);
    return false;
}

void Succeed(LoadError* error) {
    error->code = LOAD_OK;
    error->message[0] = '\0';
}

// ==== Reading ====

// A read-ahead window over the module stream: packed pattern cells are read one byte at a time,
// which would otherwise cost one file operation per byte. Positions are absolute file offsets.
struct Reader {
    ModuleStream* stream;
    uint8_t window[4096];
    int64_t windowStart;    // file offset of window[0]
    int32_t windowSize;     // valid bytes in the window
    int64_t position;       // logical position of the next byte
    bool otherSampleMark;   // a sample header's reserved byte is neither 0 nor the 4-bit packing's
    bool longPatternHeader; // a pattern header's length field says more than its fields take
};

// Offsets are handed to the stream as 32-bit values: anything past 2 GB cannot be reached.
bool SeekTo(Reader& r, int64_t offset) {
    if (offset < 0 || offset > INT32_MAX) return false;
    r.position = offset;
    return true;
}

bool Skip(Reader& r, int64_t count) {
    return SeekTo(r, r.position + count);
}

// Refills the window at the logical position; false at the end of the file or on a failing
// seek.
bool Refill(Reader& r) {
    if (StreamSeek(r.stream, static_cast<int32_t>(r.position), 0) != 0) return false;
    const int32_t got = StreamRead(r.window, sizeof r.window, r.stream);
    r.windowStart = r.position;
    r.windowSize = got > 0 ? std::min<int32_t>(got, sizeof r.window) : 0;
    return r.windowSize > 0;
}

// Reads exactly `count` bytes; false (with the destination partly written) when the file ends
// first.
bool ReadBytes(Reader& r, void* destination, int64_t count) {
    auto* out = static_cast<uint8_t*>(destination);
    while (count > 0) {
        const int64_t offset = r.position - r.windowStart;
        if (offset < 0 || offset >= r.windowSize) {
            // Large blocks (sample data) go straight to the destination.
            if (count >= static_cast<int64_t>(sizeof r.window)) {
                if (StreamSeek(r.stream, static_cast<int32_t>(r.position), 0) != 0) return false;
                const int32_t want = static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX));
                const int32_t got = StreamRead(out, want, r.stream);
                if (got <= 0 || got > want) return false;
                out += got;
                count -= got;
                r.position += got;
                continue;
            }
            if (!Refill(r)) return false;
            continue;
        }
        const int64_t n = std::min<int64_t>(count, r.windowSize - offset);
        std::memcpy(out, r.window + offset, static_cast<size_t>(n));
        out += n;
        count -= n;
        r.position += n;
    }
    return true;
}

bool U8(Reader& r, uint8_t& v) {
    return ReadBytes(r, &v, 1);
}

bool U16(Reader& r, uint16_t& v) {
    uint8_t b[2];
    if (!ReadBytes(r, b, 2)) return false;
    v = static_cast<uint16_t>(b[0] | b[1] << 8);
    return true;
}

bool U32(Reader& r, uint32_t& v) {
    uint8_t b[4];
    if (!ReadBytes(r, b, 4)) return false;
    v = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
        static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
    return true;
}

// A fixed-size text field into a buffer one byte longer, terminated; bytes kept as stored.
bool Text(Reader& r, char* destination, int32_t size) {
    destination[size] = '\0';
    return ReadBytes(r, destination, size);
}

// True when the file holds `count` more bytes from the current position. Found by reading the
// last of them, so that only the two seek origins every file operation set supports are used.
bool HasBytes(Reader& r, int64_t count) {
    if (count <= 0) return true;
    const int64_t last = r.position + count - 1;
    if (last > INT32_MAX) return false;
    if (last >= r.windowStart && last < r.windowStart + r.windowSize) return true;
    uint8_t byte;
    if (StreamSeek(r.stream, static_cast<int32_t>(last), 0) != 0) return false;
    return StreamRead(&byte, 1, r.stream) == 1;
}

void* Zeroed(int64_t bytes) {
    if (bytes <= 0 || static_cast<uint64_t>(bytes) > SIZE_MAX) return nullptr;
    return std::calloc(1, static_cast<size_t>(bytes));
}

// ==== Patterns ====

void SetCell(PatternCell& cell, const uint8_t fields[5]) {
    cell.note = fields[0] == 97 ? 255 : fields[0];
    cell.instrument = fields[1] > 128 ? 0 : fields[1];
    cell.volumeColumn = fields[2];
    cell.effect = fields[3];
    cell.effectParameter = fields[4];
}

bool ReadCell(Reader& r, PatternCell& cell) {
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

// Reads up to `count` bytes and returns how many the file held.
int64_t ReadUpTo(Reader& r, uint8_t* destination, int64_t count) {
    if (HasBytes(r, count)) return ReadBytes(r, destination, count) ? count : 0;
    int64_t got = 0;
    while (got < count && U8(r, destination[got])) ++got;
    return got;
}

constexpr uint16_t MAX_ROWS = 1024;

// Reads the stored patterns. Sets `fileEnded` when the tolerant reading met the end of the file
// among them.
bool ReadPatterns(Reader& r, Module* module, int32_t storedPatterns, Reading reading,
                  bool& fileEnded, LoadError* error) {
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
            if (reading == Reading::Tolerant) {
                fileEnded = true;
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
            if (reading == Reading::Tolerant) SeekTo(r, headerStart + headerLength);
            r.longPatternHeader = true;
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
        if (reading == Reading::Tolerant) {
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
                fileEnded = true;
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

// ==== Instruments and samples ====

bool ReadEnvelope(Reader& r, EnvelopePoint* points) {
    for (int i = 0; i < 12; ++i) {
        if (!U16(r, points[i].x) || !U16(r, points[i].y)) return false;
    }
    return true;
}

// An envelope claims at most the 12 points its table holds; sustain and loop points beyond the
// envelope's last point can never be reached, so their flags are cleared and the indices kept
// inside the table for any reader that looks at them anyway.
void NormaliseEnvelope(uint8_t& pointCount, uint8_t& flags, uint8_t& sustain, uint8_t& loopStart,
                       uint8_t& loopEnd) {
    if (pointCount > 12) pointCount = 12;
    if (pointCount < 2) {
        flags = 0;
        return;
    }
    const uint8_t last = static_cast<uint8_t>(pointCount - 1);
    if (sustain > last) {
        flags &= static_cast<uint8_t>(~ENVELOPE_SUSTAIN);
        sustain = last;
    }
    if (loopStart > last || loopEnd > last) {
        flags &= static_cast<uint8_t>(~ENVELOPE_LOOP);
        loopStart = std::min(loopStart, last);
        loopEnd = std::min(loopEnd, last);
    }
}

bool ReadInstrumentHeader(Reader& r, Instrument& instrument) {
    uint32_t sampleHeaderSize;
    if (!U32(r, sampleHeaderSize) || !ReadBytes(r, instrument.sampleMap, 96) ||
        !ReadEnvelope(r, instrument.volumeEnvelope) ||
        !ReadEnvelope(r, instrument.panningEnvelope)) {
        return false;
    }
    uint8_t tail[14];
    uint16_t fadeout;
    if (!ReadBytes(r, tail, sizeof tail) || !U16(r, fadeout)) return false;
    instrument.volumePointCount = tail[0];
    instrument.panningPointCount = tail[1];
    instrument.volumeSustain = tail[2];
    instrument.volumeLoopStart = tail[3];
    instrument.volumeLoopEnd = tail[4];
    instrument.panningSustain = tail[5];
    instrument.panningLoopStart = tail[6];
    instrument.panningLoopEnd = tail[7];
    instrument.volumeEnvelopeFlags = tail[8];
    instrument.panningEnvelopeFlags = tail[9];
    instrument.vibratoType = tail[10];
    instrument.vibratoSweep = tail[11];
    instrument.vibratoDepth = tail[12];
    instrument.vibratoRate = tail[13];
    instrument.fadeout = static_cast<uint16_t>(fadeout * 2);
    NormaliseEnvelope(instrument.volumePointCount, instrument.volumeEnvelopeFlags,
                      instrument.volumeSustain, instrument.volumeLoopStart,
                      instrument.volumeLoopEnd);
    NormaliseEnvelope(instrument.panningPointCount, instrument.panningEnvelopeFlags,
                      instrument.panningSustain, instrument.panningLoopStart,
                      instrument.panningLoopEnd);
    return true;
}

bool ReadSampleHeader(Reader& r, Sample& sample) {
    uint32_t length, loopStart, loopLength;
    uint8_t volume, type, panning, packing;
    int8_t finetune, relativeNote;
    if (!U32(r, length) || !U32(r, loopStart) || !U32(r, loopLength) || !U8(r, volume) ||
        !ReadBytes(r, &finetune, 1) || !U8(r, type) || !U8(r, panning) ||
        !ReadBytes(r, &relativeNote, 1) || !U8(r, packing) || !Text(r, sample.name, 22)) {
        return false;
    }
    sample.loopKind = LOOP_NONE;
    sample.bits = 8;
    if (type & 1) sample.loopKind = LOOP_FORWARD;
    if (type & 2) sample.loopKind = LOOP_PINGPONG;
    if (type & 0x10) sample.bits = 16;
    sample.channels = (type & 0x20) ? 2 : 1;
    // Some trackers store 8-bit samples packed to 4 bits a frame and mark them with 0xAD in the
    // otherwise reserved byte (see ReadSampleData). Until the data is read, `bits` says 4 for
    // them; the length and loop stay in frames, as for 8-bit samples.
    if (packing == 0xAD && sample.bits == 8) sample.bits = 4;
    if (packing != 0 && packing != 0xAD) r.otherSampleMark = true;
    if (sample.loopKind == LOOP_NONE) {
        loopStart = 0;
        loopLength = length;
    }
    if (sample.bits == 16) {
        length >>= 1;
        loopStart >>= 1;
        loopLength >>= 1;
    }
    // A loop reaching past the sample's end is cut at the end, and one starting at or after it
    // is dropped, the way a tracker still plays such a file; the mixer and the loop-end copy
    // rely on loopStart + loopLength <= length.
    if (sample.loopKind != LOOP_NONE) {
        if (loopStart >= length) {
            loopLength = 0;
        } else if (loopLength > length - loopStart) {
            loopLength = length - loopStart;
        }
    }
    if (loopLength == 0) {
        loopStart = 0;
        loopLength = length;
        sample.loopKind = LOOP_NONE;
    }
    sample.length = length;
    sample.loopStart = loopStart;
    sample.loopLength = loopLength;
    sample.volume = volume;
    sample.finetune = finetune;
    sample.panning = panning;
    sample.relativeNote = relativeNote;
    return true;
}

// The stereo record of a stereo sample whose frames (`data`, `sample.length` of them, decoded
// as one run) hold the left channel's half, then the right's: each half with its own copy of
// the frames, the loop halved. Each channel is delta-coded on its own in the file, from 0, so a
// right frame decoded as part of the one run carries the left's last value, taken off here
// (modulo 2^16, as the running sum wraps). Null when out of memory.
Sample* SplitStereo(const Sample& sample, const int16_t* data, bool deltaCoded) {
    auto* stereo = static_cast<Sample*>(Zeroed(sizeof(Sample)));
    if (!stereo) return nullptr;
    *stereo = sample;
    const uint32_t half = sample.length / 2;
    stereo->length = half;
    stereo->loopStart = sample.loopStart / 2;
    stereo->loopLength = sample.loopLength / 2;
    if (stereo->loopLength == 0 || stereo->loopStart + stereo->loopLength > half) {
        stereo->loopStart = 0;
        stereo->loopLength = half;
        stereo->loopKind = LOOP_NONE;
    }
    stereo->stereo = nullptr;
    // Both channels in one allocation, each followed by the 8 frames the mixer may read beyond.
    auto* frames = static_cast<int16_t*>(Zeroed(int64_t{4} * (half + 8)));
    if (!frames) {
        std::free(stereo);
        return nullptr;
    }
    int16_t* left = frames;
    int16_t* right = frames + half + 8;
    const uint16_t carry = deltaCoded ? static_cast<uint16_t>(data[half - 1]) : 0;
    for (uint32_t k = 0; k < half; ++k) {
        left[k] = data[k];
        right[k] = static_cast<int16_t>(static_cast<uint16_t>(data[half + k]) - carry);
    }
    const uint32_t loopEnd = stereo->loopStart + stereo->loopLength;
    for (int16_t* channel : {left, right}) {
        if (stereo->loopKind == LOOP_PINGPONG) channel[loopEnd] = channel[loopEnd - 1];
        if (stereo->loopKind == LOOP_FORWARD) channel[loopEnd] = channel[stereo->loopStart];
    }
    stereo->data = left;
    stereo->right = right;
    stereo->channels = 2;
    return stereo;
}

// The bytes left in the file from the reader's position, up to `most` (found by halving, with
// HasBytes: about one file operation per bit of `most`).
int64_t BytesLeft(Reader& r, int64_t most) {
    int64_t held = 0, beyond = most + 1;
    while (beyond - held > 1) {
        const int64_t middle = held + (beyond - held) / 2;
        (HasBytes(r, middle) ? held : beyond) = middle;
    }
    return held;
}

// The tolerant reading of a sample whose data the file holds only in part, as the mature players
// read a file cut short: the sample keeps the frames the file holds (a stereo sample only its
// left channel's), its loop is cut to them or dropped, and every sample after it is silent.
void CutToTheFile(Sample& sample, int64_t held) {
    const bool packed = sample.bits == 4;
    uint32_t frames =
        static_cast<uint32_t>(packed ? (held < 16 ? 0 : (held - 16) * 2) : held * 8 / sample.bits);
    frames = std::min(frames, sample.length - 1);
    if (sample.channels == 2) {
        frames = std::min(frames, sample.length / 2);
        sample.channels = 1;
    }
    sample.length = frames;
    if (sample.loopKind != LOOP_NONE && sample.loopStart < frames) {
        sample.loopLength = std::min(sample.loopLength, frames - sample.loopStart);
    } else {
        sample.loopKind = LOOP_NONE;
        sample.loopStart = 0;
        sample.loopLength = frames;
    }
}

// Reads (or asks the sample loader for) one sample's data and leaves `length` + 8 frames of
// plain 16-bit audio in `data`. Indices are from 0; the messages count from 1. Once the tolerant
// reading has met the end of the file (`fileEnded`), the samples still to come are silent.
bool ReadSampleData(Reader& r, Module* module, Sample& sample, int instrumentIndex, int sampleIndex,
                    Reading reading, bool& fileEnded, LoadError* error) {
    if (fileEnded) CutToTheFile(sample, 0);
    if (sample.length == 0) {
        sample.bits = 16; // nothing to widen, but every loaded sample counts as 16-bit
        return true;
    }
    const auto pastTheEnd = [&] {
        return Fail(error, LOAD_TRUNCATED, "instrument %d: sample %d runs past the end of the file",
                    instrumentIndex + 1, sampleIndex + 1);
    };
    // The 4-bit packing stores a table of 16 signed 8-bit deltas, then one nibble per frame
    // (low nibble first), each an index into the table; a frame's value is the running sum of
    // the deltas its nibble and those before it pick, kept to 8 bits.
    const bool packed = sample.bits == 4;
    const auto storedSize = [&] {
        return packed ? 16 + (int64_t{sample.length} + 1) / 2
                      : int64_t{sample.bits} * sample.length / 8;
    };
    int64_t storedBytes = storedSize();
    // The stored size must lie in the file, also with a sample loader (it is skipped there),
    // so that a header cannot make the loader allocate more than the file could hold.
    if (!HasBytes(r, storedBytes)) {
        if (reading == Reading::Strict) return pastTheEnd();
        CutToTheFile(sample, BytesLeft(r, storedBytes));
        fileEnded = true;
        if (sample.length == 0) {
            sample.bits = 16;
            return true;
        }
        storedBytes = storedSize();
    }
    const int64_t bufferBytes = int64_t{2} * sample.length + 16;
    auto* buffer = static_cast<uint8_t*>(Zeroed(bufferBytes));
    if (!buffer) {
        return Fail(error, LOAD_OUT_OF_MEMORY, "out of memory loading instrument %d, sample %d",
                    instrumentIndex + 1, sampleIndex + 1);
    }
    if (module->sampleLoader) {
        // A sample loader supplies plain values: for a packed sample, one byte per frame.
        module->sampleLoader(buffer, packed ? sample.length : static_cast<uint32_t>(storedBytes),
                             packed ? 8 : sample.bits, instrumentIndex, sampleIndex);
        if (!Skip(r, storedBytes)) {
            std::free(buffer);
            return pastTheEnd();
        }
    } else if (!ReadBytes(r, buffer, storedBytes)) {
        std::free(buffer);
        return pastTheEnd();
    }

    int16_t* data;
    if (sample.bits == 16) {
        // Little-endian in the file, whatever the machine.
        data = reinterpret_cast<int16_t*>(buffer);
        for (uint32_t k = 0; k < sample.length; ++k) {
            data[k] = static_cast<int16_t>(buffer[2 * k] | buffer[2 * k + 1] << 8);
        }
    } else {
        data = static_cast<int16_t*>(Zeroed(bufferBytes));
        if (!data) {
            std::free(buffer);
            return Fail(error, LOAD_OUT_OF_MEMORY, "out of memory loading instrument %d, sample %d",
                        instrumentIndex + 1, sampleIndex + 1);
        }
        if (packed && !module->sampleLoader) {
            const uint8_t* nibbles = buffer + 16;
            uint8_t value = 0;
            for (uint32_t k = 0; k < sample.length; ++k) {
                const uint8_t index = (nibbles[k / 2] >> (k % 2 * 4)) & 15;
                value = static_cast<uint8_t>(value + buffer[index]);
                data[k] = static_cast<int16_t>(static_cast<int8_t>(value) * 256);
            }
        } else {
            for (uint32_t k = 0; k < sample.length; ++k) {
                data[k] = static_cast<int16_t>(static_cast<int8_t>(buffer[k]) * 256);
            }
        }
        std::free(buffer);
    }
    sample.bits = 16;
    // Packed samples hold plain values once unpacked; the others are delta-coded in the file.
    if (!module->sampleLoader && !packed) {
        uint16_t sum = 0;
        for (uint32_t k = 0; k < sample.length; ++k) {
            sum = static_cast<uint16_t>(sum + static_cast<uint16_t>(data[k]));
            data[k] = static_cast<int16_t>(sum);
        }
    }
    // The stereo record is made from the frames before the loop's copy below changes one.
    Sample* stereo = nullptr;
    if (sample.channels == 2 && sample.length >= 2) {
        stereo = SplitStereo(sample, data, !module->sampleLoader && !packed);
        if (!stereo) {
            std::free(data);
            return Fail(error, LOAD_OUT_OF_MEMORY, "out of memory loading instrument %d, sample %d",
                        instrumentIndex + 1, sampleIndex + 1);
        }
    }
    const uint32_t loopEnd = sample.loopStart + sample.loopLength;
    if (sample.loopKind == LOOP_PINGPONG) data[loopEnd] = data[loopEnd - 1];
    if (sample.loopKind == LOOP_FORWARD) data[loopEnd] = data[sample.loopStart];
    sample.data = data;
    sample.stereo = stereo;
    return true;
}

// Frees a sample's frames and its stereo record (the record itself is its owner's to free).
void FreeSampleData(const Sample* sample) {
    if (sample->stereo) {
        std::free(sample->stereo->data);
        std::free(const_cast<Sample*>(sample->stereo));
    }
    std::free(sample->data);
}

enum class InstrumentRead { Done, FileEnded, Failed };

// Frees the samples an instrument has read so far and leaves it silent (no samples, every
// slot the shared silent sample), keeping only its name. The song's sample numbers stay
// consecutive: only the last instrument read can be silenced this way.
void SilenceInstrument(Module* module, Instrument& instrument) {
    for (const Sample*& slot : instrument.samples) {
        if (slot && slot != &silentSample) {
            FreeSampleData(slot);
            std::free(const_cast<Sample*>(slot));
            --module->sampleCount;
        }
    }
    char name[sizeof instrument.name];
    std::memcpy(name, instrument.name, sizeof name);
    instrument = Instrument{};
    std::memcpy(instrument.name, name, sizeof name);
    for (const Sample*& slot : instrument.samples) slot = &silentSample;
}

// Reads an instrument's header and its sample headers; the samples' data is read separately
// (ReadSampleData), right after them in the 1.04 layout and after the patterns in the early one.
InstrumentRead ReadInstrumentHeaders(Reader& r, Module* module, int index, Reading reading,
                                     LoadError* error) {
    Instrument& instrument = module->instruments[index];
    const int number = index + 1;
    const int64_t start = r.position;
    for (const Sample*& slot : instrument.samples) slot = &silentSample;
    uint32_t headerSize;
    uint16_t sampleCount;
    // Files whose last instruments were cut off (the file ends before an instrument's sample
    // count) are still played by a tracker with those instruments silent; they load the same
    // way here. In the strict reading a file ending anywhere later fails.
    if (!U32(r, headerSize) || !Text(r, instrument.name, 22) || !Skip(r, 1) ||
        !U16(r, sampleCount)) {
        std::memset(instrument.name, 0, sizeof instrument.name);
        return InstrumentRead::FileEnded;
    }
    // Some trackers write up to 32 samples per instrument (the note map's bytes address samples
    // 0-31); more cannot be addressed.
    if (sampleCount > MAX_INSTRUMENT_SAMPLES) {
        Fail(error, LOAD_UNSUPPORTED, "instrument %d has %u samples; at most %d are supported",
             number, sampleCount, MAX_INSTRUMENT_SAMPLES);
        return InstrumentRead::Failed;
    }
    // The tolerant reading takes a header size that reaches beyond the end of the file as the
    // standard 263 bytes, as the mature players do, and plays a file that ends inside an
    // instrument's headers with that instrument and the ones after it silent.
    if (reading == Reading::Tolerant && !HasBytes(r, start + headerSize - r.position)) {
        headerSize = 263;
    }
    const auto fileEnded = [&] {
        SilenceInstrument(module, instrument);
        return InstrumentRead::FileEnded;
    };
    const auto headerOutOfReach = [&] {
        Fail(error, LOAD_INVALID, "instrument %d: its header size (%u bytes) reaches beyond 2 GB",
             number, headerSize);
        return InstrumentRead::Failed;
    };
    instrument.sampleCount = sampleCount;
    if (sampleCount == 0) {
        return SeekTo(r, start + headerSize) ? InstrumentRead::Done : headerOutOfReach();
    }

    // The slots of this instrument's own samples stay null until allocated, so that freeing a
    // partly read instrument never frees the shared silent sample.
    for (int j = 0; j < sampleCount; ++j) instrument.samples[j] = nullptr;
    // A header size out of reach is the fault even when the file also ends inside the header.
    const bool headerReadable = ReadInstrumentHeader(r, instrument);
    if (!SeekTo(r, start + headerSize)) return headerOutOfReach();
    if (!headerReadable) {
        if (reading == Reading::Tolerant) return fileEnded();
        Fail(error, LOAD_TRUNCATED, "instrument %d: the header runs past the end of the file",
             number);
        return InstrumentRead::Failed;
    }
    // Forty bytes per sample header: a count the file cannot hold fails before allocating.
    if (!HasBytes(r, int64_t{40} * sampleCount)) {
        if (reading == Reading::Tolerant) return fileEnded();
        Fail(error, LOAD_TRUNCATED,
             "instrument %d: the sample headers run past the end of the file", number);
        return InstrumentRead::Failed;
    }
    for (int j = 0; j < sampleCount; ++j) {
        auto* sample = static_cast<Sample*>(Zeroed(sizeof(Sample)));
        instrument.samples[j] = sample;
        if (!sample) {
            Fail(error, LOAD_OUT_OF_MEMORY, "out of memory loading instrument %d, sample %d",
                 number, j + 1);
            return InstrumentRead::Failed;
        }
        sample->id = ++module->sampleCount;
        if (!ReadSampleHeader(r, *sample)) {
            Fail(error, LOAD_TRUNCATED,
                 "instrument %d: the header of sample %d runs past the end of the file", number,
                 j + 1);
            return InstrumentRead::Failed;
        }
    }
    return InstrumentRead::Done;
}

bool ReadInstrumentSamples(Reader& r, Module* module, int index, Reading reading, bool& fileEnded,
                           LoadError* error) {
    Instrument& instrument = module->instruments[index];
    for (int j = 0; j < instrument.sampleCount; ++j) {
        // Allocated with the headers and only filled here.
        auto* sample = const_cast<Sample*>(instrument.samples[j]);
        if (!ReadSampleData(r, module, *sample, index, j, reading, fileEnded, error)) return false;
    }
    return true;
}

// Reads every instrument's headers, and with `withData` (the 1.04 layout) each one's sample data
// right after them. Every instrument from the first one the file ends in (or from the first one
// when `fileEnded` is already set) stays silent, and `fileEnded` is set.
bool ReadInstruments(Reader& r, Module* module, Reading reading, bool withData, bool& fileEnded,
                     LoadError* error) {
    for (int i = 0; i < module->instrumentCount; ++i) {
        const InstrumentRead read = fileEnded ? InstrumentRead::FileEnded
                                              : ReadInstrumentHeaders(r, module, i, reading, error);
        if (read == InstrumentRead::Failed) return false;
        if (read == InstrumentRead::FileEnded) {
            fileEnded = true;
            for (int rest = i; rest < module->instrumentCount; ++rest) {
                for (const Sample*& slot : module->instruments[rest].samples) slot = &silentSample;
            }
            return true;
        }
        if (withData && !ReadInstrumentSamples(r, module, i, reading, fileEnded, error))
            return false;
    }
    return true;
}

// ==== The tracker that saved the file ====

// An early tracker other than the original one saved its files under the original tracker's
// signature and version, and plays their pattern loops by rules of its own (one loop at a time
// across all tracks; a loop's jump overrides B and D on its row). The mature players tell such a
// file by what the original tracker never writes, and so do we (`Module::exclusiveLoops`): a song
// name padded with zeros (the original tracker pads with spaces) or anything after the last
// sample's data (that tracker's chunks: the song's text and the like). A later version of that
// tracker appends a block of extended settings (id "XTPM") and plays loops as the original
// tracker does; a sample header's reserved byte other than 0 and the 4-bit packing mark (0xAD)
// comes from neither. Called with the reader just past the last sample's data.
bool SavedByEarlyOtherTracker(Reader& r, const Module* module) {
    // The original tracker signs the tracker field with its name, " v2.00" and three spaces; the
    // field's last nine bytes tell that signature from every other tracker's own.
    if (module->version != 0x0104 || std::memcmp(module->trackerName + 11, " v2.00   ", 9) != 0 ||
        r.otherSampleMark) {
        return false;
    }
    const bool zeroPaddedName = module->title[19] == '\0';
    if (!HasBytes(r, 1)) return zeroPaddedName;
    // Chunks of a 4-byte id and a 32-bit length; the walk ends at the first one that does not fit
    // (a file with other bytes after its samples is still that tracker's, as the players take it).
    for (int chunk = 0; chunk < 64; ++chunk) {
        char id[4];
        uint32_t length;
        if (!ReadBytes(r, id, 4) || !U32(r, length)) break;
        if (std::memcmp(id, "XTPM", 4) == 0) return false;
        if (!HasBytes(r, length) || !Skip(r, length)) break;
    }
    return true;
}

// ==== Freeing ====

void FreeSong(Module* module);

// Frees everything a load allocated and leaves the song's tables empty.
void FreeSongData(Module* module) {
    if (module->instruments) {
        for (int32_t i = 0; i < module->instrumentCount; ++i) {
            Instrument& instrument = module->instruments[i];
            for (int32_t j = 0; j < instrument.sampleCount && j < MAX_INSTRUMENT_SAMPLES; ++j) {
                const Sample* sample = instrument.samples[j];
                if (!sample || sample == &silentSample) continue;
                // The song's own samples were allocated by this loader; only players see them
                // as constants.
                FreeSampleData(sample);
                std::free(const_cast<Sample*>(sample));
            }
        }
        std::free(module->instruments);
        module->instruments = nullptr;
    }
    if (module->patterns) {
        for (int32_t p = 0; p < module->patternCount; ++p) std::free(module->patterns[p].cells);
        std::free(module->patterns);
        module->patterns = nullptr;
    }
    if (module->standardReading) {
        FreeSong(module->standardReading);
        module->standardReading = nullptr;
    }
    module->instrumentCount = 0;
    module->patternCount = 0;
    module->sampleCount = 0;
}

void FreeSong(Module* module) {
    FreeSongData(module);
    delete module;
}

// ==== The file ====

// Reads the whole file in one reading. `headerAccepted` tells whether the song header (laid out
// the same in every version) was sound, so that a failure after it may be worth a second reading.
bool ParseXmFile(Reader& r, Module* module, Reading reading, bool& headerAccepted,
                 LoadError* error) {
    char magic[17];
    if (!ReadBytes(r, magic, 17) || std::memcmp(magic, "Extended Module: ", 17) != 0) {
        return Fail(error, LOAD_NOT_XM,
                    "not an extended module (the file does not start with \"Extended Module: \")");
    }
    module->initialGlobalVolume = 64;

    uint32_t headerSize;
    uint16_t songLength, restart, channels, storedPatterns, instruments, flags, speed, bpm;
    if (!Text(r, module->title, 20) || !Skip(r, 1) || !Text(r, module->trackerName, 20) ||
        !U16(r, module->version) || !U32(r, headerSize) || !U16(r, songLength) ||
        !U16(r, restart) || !U16(r, channels) || !U16(r, storedPatterns) || !U16(r, instruments) ||
        !U16(r, flags) || !U16(r, speed) || !U16(r, bpm)) {
        return Fail(error, LOAD_TRUNCATED, "the header runs past the end of the file");
    }
    // The order table is always 256 bytes long, but a small file may end inside it (its
    // patterns then start within the table); entries the file does not hold are 0, as a
    // tracker reading only the header size would have them.
    for (uint8_t& order : module->orders) {
        if (!U8(r, order)) break;
    }
    // Whether the file holds the whole song header (up to the order table's end at most).
    const bool songHeaderWhole = HasBytes(r, 60 + std::min<int64_t>(headerSize, 276) - r.position);
    if (!SeekTo(r, int64_t{60} + headerSize)) {
        return Fail(error, LOAD_INVALID, "the header size (%u bytes) reaches beyond 2 GB",
                    headerSize);
    }
    // The order table holds 256 entries: a longer song is played up to the table's end.
    module->songLength = static_cast<int16_t>(std::min<int>(songLength, 256));
    // A restart position outside the song restarts it from the top.
    module->restartPosition = static_cast<int16_t>(restart < module->songLength ? restart : 0);
    // The channel table and the voice pairing hold 32 tracks; a file with more (or none) cannot
    // be played and is refused.
    if (channels < 1) {
        return Fail(error, LOAD_INVALID, "the header says 0 channels; a song needs at least 1");
    }
    if (channels > 32) {
        return Fail(error, LOAD_UNSUPPORTED,
                    "the header says %u channels; at most 32 can be played", channels);
    }
    module->channelCount = static_cast<int16_t>(channels);
    // Cells name instruments 1-128 only, so instruments beyond 128 can never sound and are not
    // loaded.
    module->instrumentCount = static_cast<int16_t>(std::min<int>(instruments, 128));
    module->flags = flags;
    module->defaultSpeed = static_cast<int16_t>(speed);
    module->defaultBpm = static_cast<int16_t>(bpm);

    int32_t used = 0;
    for (int i = 0; i < module->songLength; ++i)
        used = std::max<int32_t>(used, module->orders[i] + 1);
    module->usedPatternCount = used;
    // Each stored pattern needs at least its 9-byte header in the file; refusing counts the file
    // cannot hold keeps the pattern table (and the empty patterns it allocates) bounded.
    if (storedPatterns > 256) {
        return Fail(error, LOAD_UNSUPPORTED,
                    "the header says %u patterns; at most 256 are supported", storedPatterns);
    }
    // The tolerant reading plays a file that ends among its pattern headers (after a whole song
    // header) as the mature players do: the patterns from there on empty, every instrument
    // silent (see ReadPatterns). A file cut inside its song header stays refused.
    if (!HasBytes(r, int64_t{9} * storedPatterns) &&
        (reading == Reading::Strict || !songHeaderWhole)) {
        headerAccepted = songHeaderWhole;
        return Fail(error, LOAD_TRUNCATED,
                    "the header says %u pattern%s; the file ends before their headers",
                    storedPatterns, storedPatterns == 1 ? "" : "s");
    }
    module->patternCount = std::max<int32_t>(storedPatterns, used);
    if (module->patternCount > 0) {
        module->patterns =
            static_cast<Pattern*>(Zeroed(int64_t{module->patternCount} * sizeof(Pattern)));
        if (!module->patterns) {
            return Fail(error, LOAD_OUT_OF_MEMORY, "out of memory loading the pattern table");
        }
    }
    headerAccepted = true;
    if (module->instrumentCount > 0) {
        module->instruments =
            static_cast<Instrument*>(Zeroed(int64_t{module->instrumentCount} * sizeof(Instrument)));
        if (!module->instruments) {
            return Fail(error, LOAD_OUT_OF_MEMORY, "out of memory loading the instrument table");
        }
    }
    bool fileEnded = false;
    if (EarlyLayout(module->version)) {
        if (!ReadInstruments(r, module, reading, false, fileEnded, error)) return false;
        if (!ReadPatterns(r, module, storedPatterns, reading, fileEnded, error)) return false;
        for (int i = 0; i < module->instrumentCount; ++i) {
            if (!ReadInstrumentSamples(r, module, i, reading, fileEnded, error)) return false;
        }
        return true;
    }
    if (!ReadPatterns(r, module, storedPatterns, reading, fileEnded, error)) return false;
    if (!ReadInstruments(r, module, reading, true, fileEnded, error)) return false;
    module->exclusiveLoops =
        !fileEnded && instruments == module->instrumentCount && SavedByEarlyOtherTracker(r, module);
    return true;
}

// Parses a new song from `stream` and frees it again when that fails.
Module* LoadFromStream(ModuleStream* stream, SampleLoader sampleLoader, LoadError* error) {
    auto* module = new (std::nothrow) Module();
    if (!module) {
        Fail(error, LOAD_OUT_OF_MEMORY, "out of memory loading the song");
        return nullptr;
    }
    module->sampleLoader = sampleLoader;
    if (ParseXm(module, stream, error)) return module;
    FreeSong(module);
    return nullptr;
}

// A file whose pattern headers say they are longer than their fields: the strict reading (the
// demo's, kept byte for byte) decodes the extra bytes as cells and everything after them out of
// step. The mature players skip them, so the standard rules play the file as the tolerant
// reading makes it, kept beside the demo's. Should that reading fail (or memory run out), both
// rule sets play the strict one.
void ReadForTheStandardRules(Module* module, ModuleStream* stream) {
    auto* standard = new (std::nothrow) Module();
    if (!standard) return;
    standard->sampleLoader = module->sampleLoader;
    Reader r{};
    r.stream = stream;
    bool headerAccepted = false;
    LoadError ignored{};
    if (ParseXmFile(r, standard, Reading::Tolerant, headerAccepted, &ignored)) {
        module->standardReading = standard;
    } else {
        FreeSong(standard);
    }
}

} // namespace

int ParseXm(Module* module, ModuleStream* stream, LoadError* error) {
    LoadError unused;
    if (!error) error = &unused;
    Succeed(error);
    if (!module || !stream) {
        return Fail(error, LOAD_CANNOT_OPEN, "nothing to read: no song or no stream was given");
    }
    Reader r{};
    r.stream = stream;
    bool headerAccepted = false;
    if (ParseXmFile(r, module, Reading::Strict, headerAccepted, error)) {
        if (r.longPatternHeader) ReadForTheStandardRules(module, stream);
        return 1;
    }
    // Running out of memory is not the file's fault, and a song header the strict reading
    // refuses is read the same way by the tolerant one.
    if (!headerAccepted || error->code == LOAD_OUT_OF_MEMORY) return 0;
    FreeSongData(module);
    Reader again{};
    again.stream = stream;
    if (ParseXmFile(again, module, Reading::Tolerant, headerAccepted, error)) {
        Succeed(error);
        return 1;
    }
    return 0;
}

Module* LoadModule(const FileCallbacks* files, const char* name, SampleLoader sampleLoader,
                   LoadError* error) {
    LoadError unused;
    if (!error) error = &unused;
    Succeed(error);
    if (!FileCallbacksComplete(files)) {
        Fail(error, LOAD_CANNOT_OPEN, "cannot open %s: no complete set of file operations",
             name ? name : "a song");
        return nullptr;
    }
    if (!name) {
        Fail(error, LOAD_CANNOT_OPEN, "cannot open a song without a name");
        return nullptr;
    }
    ModuleStream* stream = OpenModuleStream(files, name);
    if (!stream) {
        Fail(error, LOAD_CANNOT_OPEN, "cannot open %s", name);
        return nullptr;
    }
    Module* module = LoadFromStream(stream, sampleLoader, error);
    CloseModuleStream(stream);
    return module;
}

Module* LoadModuleFromMemory(const void* data, uint64_t size, SampleLoader sampleLoader,
                             LoadError* error) {
    LoadError unused;
    if (!error) error = &unused;
    Succeed(error);
    if (!data && size > 0) {
        Fail(error, LOAD_CANNOT_OPEN, "cannot read a song from a null buffer");
        return nullptr;
    }
    // Everything the song keeps is copied out of the buffer, so reading it in place is enough.
    MemoryFile file{static_cast<const uint8_t*>(data), size, 0};
    ModuleStream stream = MemoryStream(&file);
    return LoadFromStream(&stream, sampleLoader, error);
}

int FreeModule(Module* module) {
    if (!module) return 0;
    // A song stays until its last player is gone: freeing it earlier is refused, not fatal.
    if (module->playerCount.load() > 0) return 0;
    FreeSong(module);
    return 1;
}
