// xm_writer.cpp: serialises songs built in code to XM file bytes (little-endian fields, packed
// pattern cells, delta-coded or 4-bit packed sample data, the 1.04 and the early layouts).
#include "xm_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace xmw {

namespace {

// Header sizes beyond this are written as given but not padded up to (they describe files that
// cannot exist, for tests of the reader's bounds).
constexpr size_t MAX_PADDING = size_t{1} << 20;

struct Bytes {
    std::vector<uint8_t> out;

    void U8(uint32_t v) { out.push_back(static_cast<uint8_t>(v)); }
    void U16(uint32_t v) {
        U8(v);
        U8(v >> 8);
    }
    void U32(uint32_t v) {
        U16(v);
        U16(v >> 16);
    }
    // A fixed-size text field padded with zeros (or blanks), cut when too long.
    void Text(const std::string& s, size_t size, char pad = 0) {
        for (size_t i = 0; i < size; ++i) U8(i < s.size() ? static_cast<uint8_t>(s[i]) : pad);
    }
    void Append(const std::vector<uint8_t>& more) {
        out.insert(out.end(), more.begin(), more.end());
    }
    void PadTo(size_t size) {
        if (out.size() < size) out.resize(size, 0);
    }
};

std::vector<uint8_t> PackPattern(const Pattern& pattern) {
    std::vector<uint8_t> packed;
    for (const PatternCell& cell : pattern.cells) {
        std::vector<uint8_t> one = PackCell(cell);
        packed.insert(packed.end(), one.begin(), one.end());
    }
    return packed;
}

// Every value reduced to the sample's width and stored as the difference to the one before.
std::vector<uint8_t> DeltaCode(const Sample& sample) {
    std::vector<uint8_t> data;
    int32_t previous = 0;
    for (int32_t value : sample.values) {
        int32_t delta = value - previous;
        previous = value;
        if (sample.sixteenBit) {
            uint16_t d = static_cast<uint16_t>(delta);
            data.push_back(static_cast<uint8_t>(d));
            data.push_back(static_cast<uint8_t>(d >> 8));
        } else {
            data.push_back(static_cast<uint8_t>(delta));
        }
    }
    return data;
}

// The 4-bit packing: the delta table, then a nibble per frame (low nibble first), each picking
// the table entry that brings the running 8-bit value closest to the wanted one.
std::vector<uint8_t> Pack4Bit(const Sample& sample) {
    std::vector<uint8_t> data(sample.deltaTable.begin(), sample.deltaTable.end());
    uint8_t value = 0;
    for (size_t k = 0; k < sample.values.size(); ++k) {
        int best = 0;
        int bestDistance = 1 << 30;
        for (int i = 0; i < 16; ++i) {
            const auto next =
                static_cast<int8_t>(value + static_cast<uint8_t>(sample.deltaTable[i]));
            const int distance = std::abs(next - sample.values[k]);
            if (distance < bestDistance) {
                best = i;
                bestDistance = distance;
            }
        }
        value = static_cast<uint8_t>(value + static_cast<uint8_t>(sample.deltaTable[best]));
        if (k % 2 == 0) {
            data.push_back(static_cast<uint8_t>(best));
        } else {
            data.back() = static_cast<uint8_t>(data.back() | best << 4);
        }
    }
    return data;
}

uint8_t SampleType(const Sample& sample) {
    uint8_t type = 0;
    if (sample.loop == Loop::Forward) type = 1;
    if (sample.loop == Loop::PingPong) type = 2;
    if (sample.sixteenBit) type |= 0x10;
    return type;
}

void WriteEnvelopePoints(Bytes& b, const Envelope& envelope) {
    for (size_t i = 0; i < 12; ++i) {
        if (i < envelope.points.size()) {
            b.U16(envelope.points[i].first);
            b.U16(envelope.points[i].second);
        } else {
            b.U32(0);
        }
    }
}

uint8_t PointCount(const Envelope& envelope) {
    if (envelope.rawPointCount) return *envelope.rawPointCount;
    return static_cast<uint8_t>(envelope.points.size() < 12 ? envelope.points.size() : 12);
}

// The instrument's header and sample headers into `b`, its samples' data onto `sampleData`.
void WriteInstrument(Bytes& b, const Instrument& instrument, std::vector<uint8_t>& sampleData) {
    const bool hasSamples = !instrument.samples.empty();
    const uint32_t headerSize = instrument.rawHeaderSize.value_or(hasSamples ? 263 : 29);
    const size_t start = b.out.size();
    b.U32(headerSize);
    b.Text(instrument.name, 22);
    b.U8(0); // instrument type
    b.U16(instrument.rawSampleCount.value_or(static_cast<uint16_t>(instrument.samples.size())));
    if (hasSamples) {
        b.U32(40);
        for (uint8_t s : instrument.sampleMap) b.U8(s);
        WriteEnvelopePoints(b, instrument.volumeEnvelope);
        WriteEnvelopePoints(b, instrument.panningEnvelope);
        b.U8(PointCount(instrument.volumeEnvelope));
        b.U8(PointCount(instrument.panningEnvelope));
        b.U8(instrument.volumeEnvelope.sustain);
        b.U8(instrument.volumeEnvelope.loopStart);
        b.U8(instrument.volumeEnvelope.loopEnd);
        b.U8(instrument.panningEnvelope.sustain);
        b.U8(instrument.panningEnvelope.loopStart);
        b.U8(instrument.panningEnvelope.loopEnd);
        b.U8(instrument.volumeEnvelope.flags);
        b.U8(instrument.panningEnvelope.flags);
        b.U8(instrument.vibratoType);
        b.U8(instrument.vibratoSweep);
        b.U8(instrument.vibratoDepth);
        b.U8(instrument.vibratoRate);
        b.U16(instrument.fadeout);
    }
    // The sample headers start at +headerSize: pad up to it, or (for a header size smaller than
    // what was written) let them overlap, exactly as a reader seeking to +headerSize sees it.
    // A size beyond MAX_PADDING is written as given with the sample headers at the standard
    // offset.
    const uint32_t standardSize = hasSamples ? 263 : 29;
    b.out.resize(start + (headerSize <= MAX_PADDING ? headerSize : standardSize), 0);
    if (!hasSamples) return;

    std::vector<std::vector<uint8_t>> data;
    for (const Sample& sample : instrument.samples) {
        data.push_back(sample.rawData      ? *sample.rawData
                       : sample.packed4Bit ? Pack4Bit(sample)
                                           : DeltaCode(sample));
        const uint32_t width = sample.sixteenBit ? 2 : 1;
        const uint32_t lengthBytes = static_cast<uint32_t>(sample.values.size()) * width;
        b.U32(sample.rawLengthBytes.value_or(sample.rawData ? data.back().size() : lengthBytes));
        b.U32(sample.rawLoopStartBytes.value_or(sample.loopStart * width));
        b.U32(sample.rawLoopLengthBytes.value_or(sample.loopLength * width));
        b.U8(sample.volume);
        b.U8(static_cast<uint8_t>(sample.finetune));
        b.U8(sample.rawType.value_or(SampleType(sample)));
        b.U8(sample.panning);
        b.U8(static_cast<uint8_t>(sample.relativeNote));
        b.U8(sample.rawReserved.value_or(sample.packed4Bit ? 0xAD : 0));
        b.Text(sample.name, 22);
    }
    for (const auto& d : data) sampleData.insert(sampleData.end(), d.begin(), d.end());
}

} // namespace

Pattern::Pattern(int rows, int channels)
    : rows(rows), channels(channels),
      cells(static_cast<size_t>(rows > 0 ? rows : 0) * (channels > 0 ? channels : 0)) {}

PatternCell& Pattern::At(int row, int channel) {
    return cells.at(static_cast<size_t>(row) * channels + channel);
}

const PatternCell& Pattern::At(int row, int channel) const {
    return cells.at(static_cast<size_t>(row) * channels + channel);
}

uint8_t NoteNumber(const char* name) {
    static const char* const names[12] = {"C-", "C#", "D-", "D#", "E-", "F-",
                                          "F#", "G-", "G#", "A-", "A#", "B-"};
    if (!name || std::strlen(name) != 3 || name[2] < '0' || name[2] > '7') return 0;
    for (int i = 0; i < 12; ++i) {
        if (name[0] == names[i][0] && name[1] == names[i][1]) {
            return static_cast<uint8_t>(1 + (name[2] - '0') * 12 + i);
        }
    }
    return 0;
}

std::vector<uint8_t> PackCell(const PatternCell& cell) {
    const uint8_t note = cell.note == 255 ? NOTE_KEY_OFF : cell.note;
    const uint8_t fields[5] = {note, cell.instrument, cell.volumeColumn, cell.effect,
                               cell.effectParameter};
    uint8_t mask = 0x80;
    for (int i = 0; i < 5; ++i) {
        if (fields[i] != 0) mask |= static_cast<uint8_t>(1 << i);
    }
    if (mask == 0x9F && note < 0x80) return {fields[0], fields[1], fields[2], fields[3], fields[4]};
    std::vector<uint8_t> out{mask};
    for (int i = 0; i < 5; ++i) {
        if (fields[i] != 0) out.push_back(fields[i]);
    }
    return out;
}

std::vector<uint8_t> WriteXm(const Song& song) {
    Bytes b;
    b.Text("Extended Module: ", 17);
    b.Text(song.name, 20, ' ');
    b.U8(0x1A);
    b.Text(song.trackerName, 20, ' ');
    b.U16(song.version);

    const uint32_t headerSize = song.rawHeaderSize.value_or(276);
    b.U32(headerSize);
    b.U16(song.rawSongLength.value_or(static_cast<uint16_t>(song.orders.size())));
    b.U16(song.restartPosition);
    b.U16(song.channels);
    b.U16(song.rawPatternCount.value_or(static_cast<uint16_t>(song.patterns.size())));
    b.U16(song.rawInstrumentCount.value_or(static_cast<uint16_t>(song.instruments.size())));
    b.U16(song.flags);
    b.U16(song.speed);
    b.U16(song.bpm);
    for (size_t i = 0; i < 256; ++i) b.U8(i < song.orders.size() ? song.orders[i] : 0);
    // Patterns start at 60 + header size, whatever that says (or right after the order table,
    // for a size beyond MAX_PADDING).
    if (headerSize <= MAX_PADDING) b.out.resize(60 + headerSize, 0);

    // The early layout stores every instrument's headers before the patterns and all sample
    // data after them; 1.04 stores each instrument's data right after its headers.
    const bool early = song.version == 0x0102 || song.version == 0x0103;
    std::vector<uint8_t> sampleData;
    if (early) {
        for (const Instrument& instrument : song.instruments) {
            WriteInstrument(b, instrument, sampleData);
        }
    }
    for (const Pattern& pattern : song.patterns) {
        const std::vector<uint8_t> packed =
            pattern.rawPackedData ? *pattern.rawPackedData : PackPattern(pattern);
        // A pattern without a single note is stored with no cell data at all.
        bool empty = !pattern.rawPackedData;
        for (const PatternCell& cell : pattern.cells) {
            if (cell.note || cell.instrument || cell.volumeColumn || cell.effect ||
                cell.effectParameter) {
                empty = false;
            }
        }
        const bool shortHeader = song.version == 0x0102;
        b.U32(pattern.rawHeaderLength.value_or(shortHeader ? 8 : 9));
        b.U8(0);
        if (shortHeader) {
            b.U8(static_cast<uint32_t>(pattern.rows - 1));
        } else {
            b.U16(static_cast<uint32_t>(pattern.rows));
        }
        b.U16(pattern.rawPackedSize.value_or(empty ? 0 : static_cast<uint16_t>(packed.size())));
        if (!empty) b.Append(packed);
    }
    if (!early) {
        for (const Instrument& instrument : song.instruments) {
            WriteInstrument(b, instrument, sampleData);
            b.Append(sampleData);
            sampleData.clear();
        }
    }
    b.Append(sampleData);

    b.out.insert(b.out.end(), song.trailer.begin(), song.trailer.end());
    if (song.truncateTo && *song.truncateTo < b.out.size()) b.out.resize(*song.truncateTo);
    return b.out;
}

bool SaveXm(const Song& song, const std::string& path) {
    const std::vector<uint8_t> bytes = WriteXm(song);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

Song MinimalSong(int rows) {
    Song song;
    song.channels = 2;
    song.orders = {0};
    Pattern pattern = song.MakePattern(rows);
    pattern.At(0, 0) = PatternCell{NoteNumber("C-4"), 1, 0, 0, 0};
    song.patterns.push_back(pattern);

    Instrument instrument;
    instrument.name = "square";
    Sample sample;
    sample.name = "square";
    for (int i = 0; i < 64; ++i) sample.values.push_back(i < 32 ? 96 : -96);
    sample.loop = Loop::Forward;
    sample.loopStart = 0;
    sample.loopLength = 64;
    instrument.samples.push_back(sample);
    song.instruments.push_back(instrument);
    return song;
}

} // namespace xmw
