// mod_samples.cpp: the MOD loader's sample stage: every sample header becomes an instrument with
// one sample (no envelopes, the whole note range on it), the lengths and loops from words to
// frames, and the 8-bit signed frames after the patterns (plain, or packed four bits a frame)
// widened to 16 bits. Any thread.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "music/load_failure.h"
#include "music/mod_stages.h"

namespace {

// The header's fields in frames, inside what the player can reach: volume at most 64, finetune
// -8..7 (kept as sixteenths of the finer scale the shared records use), a loop that starts past
// the sample's end dropped and one that runs past it trimmed. A loop of one word is the original
// tracker's way of saying "no loop".
void TakeHeader(Sample& sample, const ModSampleHeader& h, bool fifteenSamples) {
    std::memcpy(sample.name, h.name, sizeof sample.name);
    sample.length = uint32_t{h.length} * 2;
    const int32_t nibble = h.finetune & 15;
    sample.finetune = static_cast<int8_t>((nibble >= 8 ? nibble - 16 : nibble) * 16);
    sample.volume = std::min<uint8_t>(h.volume, 64);
    sample.panning = 128;
    sample.channels = 1;
    uint32_t loopStart = uint32_t{h.loopStart} * 2;
    const uint32_t loopLength = uint32_t{h.loopLength} * 2;
    // The oldest trackers stored the loop's start in bytes; a loop that only fits that way is
    // read that way.
    if (fifteenSamples && loopStart + loopLength > sample.length &&
        h.loopStart + loopLength <= sample.length)
        loopStart = h.loopStart;
    sample.loopKind = LOOP_NONE;
    sample.loopStart = 0;
    sample.loopLength = sample.length;
    if (loopLength > 2 && loopStart < sample.length) {
        sample.loopKind = LOOP_FORWARD;
        sample.loopStart = loopStart;
        sample.loopLength = std::min(loopLength, sample.length - loopStart);
        // Nothing after the loop's end is ever heard.
        sample.length = sample.loopStart + sample.loopLength;
        if (sample.loopLength <= 2) {
            sample.loopKind = LOOP_NONE;
            sample.loopStart = 0;
            sample.loopLength = sample.length;
        }
    }
}

// The 15-sample trackers play a looped sample's loop alone, from its first note on: what comes
// before the loop's start is never heard. Both mature players play those files so; the frames
// before the loop are dropped and the loop starts the sample.
void KeepOnlyTheLoop(Sample& sample, uint8_t* bytes) {
    if (sample.loopKind != LOOP_FORWARD || sample.loopStart == 0) return;
    std::memmove(bytes, bytes + sample.loopStart, sample.loopLength);
    sample.length = sample.loopLength;
    sample.loopStart = 0;
}

// The file ends inside a sample's data: it keeps the frames the file holds, its loop cut to them.
void Cut(Sample& sample, uint32_t frames) {
    sample.length = std::min(sample.length, frames);
    if (sample.loopKind == LOOP_FORWARD && sample.loopStart + 2 < sample.length) {
        sample.loopLength = std::min(sample.loopLength, sample.length - sample.loopStart);
    } else {
        sample.loopKind = LOOP_NONE;
        sample.loopStart = 0;
        sample.loopLength = sample.length;
    }
}

// Some editors saved MOD samples packed to four bits a frame: the word "ADPCM", sixteen signed
// steps, then two frames a byte (low nibble first), each the one before plus the step its nibble
// names (wrapping as 8-bit values do). The mature players unpack them; so does this loader.
constexpr uint8_t PACKED_MARK[5] = {'A', 'D', 'P', 'C', 'M'};
constexpr int64_t PACKED_HEAD = 5 + 16;

// True (the reader past the mark) when the next bytes are a packed sample's mark; otherwise the
// reader stays where it was.
bool TakePackedMark(ByteReader& r) {
    const int64_t at = r.position;
    uint8_t mark[5];
    if (ReadUpTo(r, mark, 5) == 5 && std::memcmp(mark, PACKED_MARK, 5) == 0) return true;
    SeekTo(r, at);
    return false;
}

// Reads a packed sample of `frames` frames into `bytes` as plain 8-bit frames; returns the frames
// the file holds (a cut file keeps the ones it has).
int64_t ReadPacked(ByteReader& r, uint8_t* bytes, int64_t frames) {
    uint8_t steps[16];
    if (ReadUpTo(r, steps, 16) < 16) return 0;
    const int64_t packed = (frames + 1) / 2;
    // The packed bytes go to the end of the buffer and are unpacked from its start: byte k sits
    // at frames / 2 + k or later, past the two frames it makes, so no byte is overwritten before
    // it is read.
    uint8_t* source = bytes + (frames - packed);
    const int64_t held = ReadUpTo(r, source, packed);
    uint8_t value = 0;
    int64_t out = 0;
    for (int64_t k = 0; k < held && out < frames; ++k) {
        const uint8_t b = source[k];
        value = static_cast<uint8_t>(value + steps[b & 15]);
        bytes[out++] = value;
        if (out == frames) break;
        value = static_cast<uint8_t>(value + steps[b >> 4]);
        bytes[out++] = value;
    }
    return out;
}

} // namespace

bool ReadModSamples(ByteReader& r, Module* module, const ModLayout& layout,
                    const ModSampleHeader* headers, bool fileEnded, LoadError* error) {
    for (int i = 0; i < layout.samples; ++i) {
        Instrument& instrument = module->instruments[i];
        std::memcpy(instrument.name, headers[i].name, sizeof instrument.name);
        auto* sample = static_cast<Sample*>(Zeroed(sizeof(Sample)));
        if (!sample)
            return Fail(error, LOAD_OUT_OF_MEMORY, "out of memory loading sample %d", i + 1);
        instrument.samples[0] = sample;
        instrument.sampleCount = 1;
        sample->id = ++module->sampleCount;
        sample->bits = 16;
        TakeHeader(*sample, headers[i], layout.fifteenSamples);
        // The stored size: the whole length of the header, whatever the loop leaves audible.
        const int64_t stored = int64_t{headers[i].length} * 2;
        if (stored == 0) continue;
        auto* bytes = static_cast<uint8_t*>(Zeroed(stored));
        auto* data = static_cast<int16_t*>(Zeroed(int64_t{2} * (sample->length + 8)));
        if (!bytes || !data) {
            std::free(bytes);
            std::free(data);
            return Fail(error, LOAD_OUT_OF_MEMORY, "out of memory loading sample %d", i + 1);
        }
        int64_t held = 0;
        if (!fileEnded && TakePackedMark(r)) {
            // Packed frames are always unpacked from the file: the sample loader hands over
            // plain stored frames, which a packed sample does not have.
            held = ReadPacked(r, bytes, stored);
            if (held < stored) fileEnded = true;
        } else if (!fileEnded) {
            if (module->sampleLoader) {
                held = std::min<int64_t>(stored, BytesLeft(r, stored));
                module->sampleLoader(bytes, static_cast<uint32_t>(held), 8, i, 0);
                Skip(r, held);
            } else {
                held = ReadUpTo(r, bytes, stored);
            }
            if (held < stored) fileEnded = true;
        }
        Cut(*sample, static_cast<uint32_t>(held));
        if (layout.fifteenSamples) KeepOnlyTheLoop(*sample, bytes);
        for (uint32_t k = 0; k < sample->length; ++k)
            data[k] = static_cast<int16_t>(static_cast<int8_t>(bytes[k]) * 256);
        std::free(bytes);
        if (sample->length == 0) {
            std::free(data);
            continue;
        }
        // The frame after the loop's end is its start again, for the mixer's interpolation.
        if (sample->loopKind == LOOP_FORWARD)
            data[sample->loopStart + sample->loopLength] = data[sample->loopStart];
        sample->data = data;
    }
    return true;
}
