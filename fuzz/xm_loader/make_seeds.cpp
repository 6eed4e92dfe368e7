// make_seeds.cpp: writes the XM loader fuzzer's seed modules (small songs made with the
// project's XM writer, each exercising a different part of the format) into a folder.
// Usage: xm_fuzz_seeds <folder>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "xm_writer.h"

namespace {

xmw::Sample Wave(bool sixteenBit, xmw::Loop loop, int length) {
    xmw::Sample sample;
    sample.sixteenBit = sixteenBit;
    for (int i = 0; i < length; ++i) {
        const int v = (i * 37) % 64 - 32;
        sample.values.push_back(sixteenBit ? v * 900 : v * 3);
    }
    sample.loop = loop;
    sample.loopStart = static_cast<uint32_t>(length / 4);
    sample.loopLength = static_cast<uint32_t>(length / 2);
    return sample;
}

// A song touching most effects, both envelopes, both loop kinds and both sample widths.
xmw::Song Busy() {
    xmw::Song song;
    song.channels = 4;
    song.orders = {0, 1, 0};
    song.restartPosition = 1;
    for (int p = 0; p < 2; ++p) {
        xmw::Pattern pattern = song.MakePattern(16);
        for (int r = 0; r < 16; ++r) {
            const uint8_t note = static_cast<uint8_t>(1 + (r * 5 + p * 7) % 96);
            pattern.At(r, 0) = {note, 1, static_cast<uint8_t>(0x10 + r * 3), 0, 0};
            pattern.At(r, 1) = {static_cast<uint8_t>(r % 4 == 3 ? 255 : note), 2, 0,
                                static_cast<uint8_t>(r % 16), static_cast<uint8_t>(r * 17)};
            pattern.At(r, 2) = {0, 0, static_cast<uint8_t>(0x60 + r), 0x0E,
                                static_cast<uint8_t>(0x10 * (r % 16) + 1)};
        }
        pattern.At(15, 3) = {0, 0, 0, 0x0D, 0x02};
        song.patterns.push_back(pattern);
    }
    xmw::Instrument lead;
    lead.samples = {Wave(false, xmw::Loop::Forward, 256), Wave(true, xmw::Loop::PingPong, 300)};
    for (int n = 48; n < 96; ++n) lead.sampleMap[n] = 1;
    lead.volumeEnvelope.points = {{0, 64}, {8, 40}, {30, 20}, {60, 0}};
    lead.volumeEnvelope.flags = 7;
    lead.volumeEnvelope.sustain = 1;
    lead.volumeEnvelope.loopStart = 1;
    lead.volumeEnvelope.loopEnd = 2;
    lead.panningEnvelope.points = {{0, 0}, {20, 64}};
    lead.panningEnvelope.flags = 1;
    lead.vibratoType = 1;
    lead.vibratoSweep = 8;
    lead.vibratoDepth = 4;
    lead.vibratoRate = 10;
    lead.fadeout = 0x400;
    xmw::Instrument bass;
    bass.samples = {Wave(false, xmw::Loop::None, 500)};
    song.instruments = {lead, bass, xmw::Instrument{}};
    return song;
}

bool Save(const std::string& folder, const std::string& name, const xmw::Song& song) {
    const bool ok = xmw::SaveXm(song, folder + "/" + name);
    if (!ok) std::fprintf(stderr, "cannot write %s/%s\n", folder.c_str(), name.c_str());
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    bool ok = Save(folder, "minimal.xm", xmw::MinimalSong(8));
    ok = Save(folder, "busy.xm", Busy()) && ok;

    xmw::Song missing = xmw::MinimalSong(4);
    missing.orders = {0, 3, 1};
    missing.flags = 0;
    ok = Save(folder, "missing_patterns_amiga.xm", missing) && ok;

    xmw::Song empty = xmw::MinimalSong(4);
    empty.instruments[0].samples.clear();
    empty.instruments.push_back(xmw::MinimalSong().instruments[0]);
    ok = Save(folder, "empty_instrument.xm", empty) && ok;

    xmw::Song wide = xmw::MinimalSong(2);
    wide.channels = 32;
    wide.patterns = {wide.MakePattern(2)};
    wide.patterns[0].At(1, 31) = {60, 1, 0x40, 0x0F, 0x01};
    ok = Save(folder, "wide.xm", wide) && ok;

    // 4-bit packed samples, one of odd length, next to plain ones.
    xmw::Song packed = Busy();
    packed.instruments[1].samples[0].packed4Bit = true;
    xmw::Sample odd = Wave(false, xmw::Loop::Forward, 77);
    odd.packed4Bit = true;
    packed.instruments[2].samples = {odd};
    ok = Save(folder, "packed_4bit.xm", packed) && ok;

    // The early layouts: headers first, then patterns, then all sample data.
    for (uint16_t version : {uint16_t{0x0102}, uint16_t{0x0103}}) {
        xmw::Song early = Busy();
        early.version = version;
        early.instruments[2].samples = {odd};
        ok = Save(folder, version == 0x0102 ? "early_102.xm" : "early_103.xm", early) && ok;
    }

    // An instrument of 32 samples, the note map reaching the last ones.
    xmw::Song many = xmw::MinimalSong(8);
    for (int j = 1; j < 32; ++j)
        many.instruments[0].samples.push_back(Wave(j % 2 == 1, xmw::Loop::None, 20 + j));
    for (int n = 0; n < 96; ++n) many.instruments[0].sampleMap[n] = static_cast<uint8_t>(n % 32);
    for (int r = 0; r < 8; ++r)
        many.patterns[0].At(r, 1) = {static_cast<uint8_t>(1 + r * 13), 1, 0, 0, 0};
    ok = Save(folder, "samples_32.xm", many) && ok;

    // Read by the tolerant reading: cells cut short by the packed size, a long pattern header,
    // and an instrument header size beyond the file.
    xmw::Song cut = Busy();
    cut.patterns[0].rawPackedSize = 20;
    ok = Save(folder, "pattern_cut_short.xm", cut) && ok;
    xmw::Song sizes = xmw::MinimalSong(8);
    sizes.patterns[0].rawHeaderLength = 0x80000000u;
    sizes.patterns[0].rawPackedSize = 4000;
    sizes.instruments[0].rawHeaderSize = 0xFFFFFF8Fu;
    ok = Save(folder, "sizes_out_of_range.xm", sizes) && ok;

    // A pattern header 20 bytes longer than its fields, padded with zeros: the strict reading
    // takes the padding for cells and loads the file, and a second reading that skips the
    // padding is kept for the standard rules.
    xmw::Song padded = xmw::MinimalSong(8);
    std::vector<uint8_t> bytes(20, 0);
    for (const PatternCell& cell : padded.patterns[0].cells) {
        const std::vector<uint8_t> one = xmw::PackCell(cell);
        bytes.insert(bytes.end(), one.begin(), one.end());
    }
    padded.patterns[0].rawHeaderLength = 29;
    padded.patterns[0].rawPackedSize = static_cast<uint16_t>(bytes.size() - 20);
    padded.patterns[0].rawPackedData = bytes;
    padded.instruments.clear();
    ok = Save(folder, "long_pattern_header.xm", padded) && ok;

    // Saved by another tracker under the original one's signature (a zero-padded song name and a
    // text chunk after the samples): pattern loops on two tracks beside B and D.
    xmw::Song other = Busy();
    other.trackerName = "AnyTracker1 v2.00";
    other.name = std::string("other\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 20);
    other.patterns[0].At(1, 0) = {0, 0, 0, 0x0E, 0x62};
    other.patterns[0].At(1, 1) = {0, 0, 0, 0x0E, 0x61};
    other.patterns[0].At(2, 2) = {0, 0, 0, 0x0D, 0x01};
    other.patterns[0].At(2, 3) = {0, 0, 0, 0x0E, 0x63};
    const char text[] = {'t', 'e', 'x', 't', 4, 0, 0, 0, 's', 'o', 'n', 'g'};
    other.trailer.assign(text, text + sizeof text);
    ok = Save(folder, "other_tracker_loops.xm", other) && ok;
    return ok ? 0 : 1;
}
