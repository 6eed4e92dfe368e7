// mod_samples.cpp: the MOD loader's sample stage: every sample header becomes an instrument with
// one sample (no envelopes, the whole note range on it), the lengths and loops from words to
// frames, and the 8-bit signed frames after the patterns widened to 16 bits. Any thread.
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
void TakeHeader(Sample& sample, const ModSampleHeader& h, bool bytesLoopStart) {
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
    if (bytesLoopStart && loopStart + loopLength > sample.length &&
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
        TakeHeader(*sample, headers[i], layout.bytesLoopStart);
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
        if (!fileEnded) {
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
