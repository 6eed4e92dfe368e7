// sample_decoding.cpp: the XM loader's sample data stage: 8- and 16-bit delta-coded frames,
// the 4-bit packing, the split of a stereo sample into its two channels, and the copy past the
// loop's end that the mixer reads, all into plain 16-bit frames. Any thread.
#include <cstdlib>
#include <initializer_list>

#include "music/load_failure.h"
#include "music/xm_stages.h"

namespace {

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

} // namespace

bool ReadSampleData(XmReading& x, Module* module, Sample& sample, int instrumentIndex,
                    int sampleIndex, LoadError* error) {
    // Once the tolerant reading has met the end of the file, the samples still to come are
    // silent.
    ByteReader& r = x.bytes;
    if (x.fileEnded) CutToTheFile(sample, 0);
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
        if (x.reading == Reading::Strict) return pastTheEnd();
        CutToTheFile(sample, BytesLeft(r, storedBytes));
        x.fileEnded = true;
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
