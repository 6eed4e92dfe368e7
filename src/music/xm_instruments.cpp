// xm_instruments.cpp: the XM loader's instrument stage: instrument headers (note map,
// envelopes, vibrato, fade-out) and the sample headers after each, with the loops and envelope
// points kept inside what the player can reach. The samples' data is read by
// sample_decoding.cpp. Any thread.
#include <algorithm>
#include <cstring>

#include "music/load_failure.h"
#include "music/xm_stages.h"

namespace {

bool ReadEnvelope(ByteReader& r, EnvelopePoint* points) {
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

bool ReadInstrumentHeader(ByteReader& r, Instrument& instrument) {
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

bool ReadSampleHeader(XmReading& x, Sample& sample) {
    ByteReader& r = x.bytes;
    uint32_t length, loopStart, loopLength;
    uint8_t volume, type, panning, packing;
    int8_t finetune, relativeNote;
    if (!U32(r, length) || !U32(r, loopStart) || !U32(r, loopLength) || !U8(r, volume) ||
        !S8(r, finetune) || !U8(r, type) || !U8(r, panning) || !S8(r, relativeNote) ||
        !U8(r, packing) || !Text(r, sample.name, 22)) {
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
    if (packing != 0 && packing != 0xAD) x.otherSampleMark = true;
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

enum class InstrumentRead { Done, FileEnded, Failed };

// Reads an instrument's header and its sample headers; the samples' data is read separately
// (ReadSampleData), right after them in the 1.04 layout and after the patterns in the early one.
InstrumentRead ReadInstrumentHeaders(XmReading& x, Module* module, int index, LoadError* error) {
    ByteReader& r = x.bytes;
    const Reading reading = x.reading;
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
        if (!ReadSampleHeader(x, *sample)) {
            Fail(error, LOAD_TRUNCATED,
                 "instrument %d: the header of sample %d runs past the end of the file", number,
                 j + 1);
            return InstrumentRead::Failed;
        }
    }
    return InstrumentRead::Done;
}

} // namespace

bool ReadInstrumentSamples(XmReading& x, Module* module, int index, LoadError* error) {
    Instrument& instrument = module->instruments[index];
    for (int j = 0; j < instrument.sampleCount; ++j) {
        // Allocated with the headers and only filled here.
        auto* sample = const_cast<Sample*>(instrument.samples[j]);
        if (!ReadSampleData(x, module, *sample, index, j, error)) return false;
    }
    return true;
}

bool ReadInstruments(XmReading& x, Module* module, bool withData, LoadError* error) {
    for (int i = 0; i < module->instrumentCount; ++i) {
        const InstrumentRead read =
            x.fileEnded ? InstrumentRead::FileEnded : ReadInstrumentHeaders(x, module, i, error);
        if (read == InstrumentRead::Failed) return false;
        if (read == InstrumentRead::FileEnded) {
            x.fileEnded = true;
            SilenceInstrumentsFrom(module, i);
            return true;
        }
        if (withData && !ReadInstrumentSamples(x, module, i, error)) return false;
    }
    return true;
}
