// xm_second_reading.cpp: the standard rules' own reading of a file whose pattern headers say
// they are longer than their fields, keeping only what comes out different from the song's
// reading. Any thread.
//
// The strict reading (the demo's, kept byte for byte) decodes such a header's extra bytes as
// cells, and reads on out of step from there: the pattern's cells, often the patterns after it,
// and in the 1.04 layout the instruments and samples after them too. The mature players skip
// the extra bytes, so the standard rules play the file as the tolerant reading makes it. That
// reading is a Module record of its own (the song header's fields are the same in both) whose
// tables point at the song's wherever they come out alike: every pattern whose cells match, the
// whole instrument table when every instrument matches, and otherwise each sample that matches
// its slot in the song, header and frames alike. A player plays it through `Player::module` like
// any song; the song owns it and frees it (FreeSecondReading) before its own tables.
#include <cstdlib>
#include <cstring>
#include <new>

#include "music/xm_stages.h"

namespace {

bool SamplesAlike(const Sample* a, const Sample* b) {
    if (a == b) return true;
    if (!a || !b || a == &silentSample || b == &silentSample) return false;
    if (a->length != b->length || a->loopStart != b->loopStart || a->loopLength != b->loopLength ||
        a->volume != b->volume || a->finetune != b->finetune || a->panning != b->panning ||
        a->bits != b->bits || a->loopKind != b->loopKind || a->relativeNote != b->relativeNote ||
        a->id != b->id || a->channels != b->channels ||
        std::memcmp(a->name, b->name, sizeof a->name) != 0 || !a->stereo != !b->stereo)
        return false;
    // The frames the mixer reads, the copy past the loop's end included.
    if (a->length > 0 && std::memcmp(a->data, b->data, (size_t{a->length} + 8) * 2) != 0)
        return false;
    return !a->stereo || std::memcmp(a->stereo->right, b->stereo->right,
                                     (size_t{a->stereo->length} + 8) * 2) == 0;
}

// Everything but the sample slots, field by field (the records hold padding).
bool InstrumentFieldsAlike(const Instrument& a, const Instrument& b) {
    return a.sampleCount == b.sampleCount &&
           std::memcmp(a.sampleMap, b.sampleMap, sizeof a.sampleMap) == 0 &&
           std::memcmp(a.volumeEnvelope, b.volumeEnvelope, sizeof a.volumeEnvelope) == 0 &&
           std::memcmp(a.panningEnvelope, b.panningEnvelope, sizeof a.panningEnvelope) == 0 &&
           a.volumePointCount == b.volumePointCount && a.panningPointCount == b.panningPointCount &&
           a.volumeSustain == b.volumeSustain && a.volumeLoopStart == b.volumeLoopStart &&
           a.volumeLoopEnd == b.volumeLoopEnd && a.panningSustain == b.panningSustain &&
           a.panningLoopStart == b.panningLoopStart && a.panningLoopEnd == b.panningLoopEnd &&
           a.volumeEnvelopeFlags == b.volumeEnvelopeFlags &&
           a.panningEnvelopeFlags == b.panningEnvelopeFlags && a.vibratoType == b.vibratoType &&
           a.vibratoSweep == b.vibratoSweep && a.vibratoDepth == b.vibratoDepth &&
           a.vibratoRate == b.vibratoRate && a.fadeout == b.fadeout &&
           std::memcmp(a.name, b.name, sizeof a.name) == 0;
}

// The song's sample in the slot a reading's sample `sample` stands in (null when none).
const Sample* SongSampleAt(const Module* song, int instrument, int slot) {
    if (!song->instruments || instrument >= song->instrumentCount) return nullptr;
    return song->instruments[instrument].samples[slot];
}

void FreeOwnSample(const Sample* sample) {
    FreeSampleData(sample);
    std::free(const_cast<Sample*>(sample));
}

void SharePatterns(const Module* song, Module* reading) {
    if (!reading->patterns || !song->patterns || reading->patternCount != song->patternCount)
        return;
    bool all = true;
    for (int32_t p = 0; p < reading->patternCount; ++p) {
        Pattern& own = reading->patterns[p];
        const Pattern& theirs = song->patterns[p];
        const size_t bytes =
            size_t(own.rowCount) * size_t(reading->channelCount) * sizeof(PatternCell);
        const bool alike = own.rowCount == theirs.rowCount &&
                           (own.cells == nullptr) == (theirs.cells == nullptr) &&
                           (!own.cells || std::memcmp(own.cells, theirs.cells, bytes) == 0);
        if (!alike) {
            all = false;
            continue;
        }
        std::free(own.cells);
        own.cells = theirs.cells;
    }
    if (all) {
        std::free(reading->patterns);
        reading->patterns = song->patterns;
    }
}

void ShareInstruments(const Module* song, Module* reading) {
    if (!reading->instruments || !song->instruments ||
        reading->instrumentCount != song->instrumentCount)
        return;
    bool all = true;
    for (int i = 0; i < reading->instrumentCount; ++i) {
        Instrument& own = reading->instruments[i];
        all = all && InstrumentFieldsAlike(own, song->instruments[i]);
        for (int j = 0; j < own.sampleCount && j < MAX_INSTRUMENT_SAMPLES; ++j) {
            const Sample* theirs = SongSampleAt(song, i, j);
            if (own.samples[j] == theirs) continue;
            if (!SamplesAlike(own.samples[j], theirs)) {
                all = false;
                continue;
            }
            FreeOwnSample(own.samples[j]);
            own.samples[j] = theirs;
        }
    }
    if (all) {
        std::free(reading->instruments);
        reading->instruments = song->instruments;
    }
}

} // namespace

void ReadForTheStandardRules(Module* module, ModuleStream* stream) {
    auto* standard = new (std::nothrow) Module();
    if (!standard) return;
    standard->sampleLoader = module->sampleLoader;
    XmReading x;
    StartXmReading(x, stream, Reading::Tolerant);
    bool headerAccepted = false;
    LoadError ignored{};
    // Should this reading fail (or memory run out), both rule sets play the strict one.
    if (!ParseXmFile(x, standard, headerAccepted, &ignored)) {
        FreeSong(standard);
        return;
    }
    SharePatterns(module, standard);
    ShareInstruments(module, standard);
    module->standardReading = standard;
}

void FreeSecondReading(Module* song, Module* reading) {
    if (reading->patterns && reading->patterns != song->patterns) {
        for (int32_t p = 0; p < reading->patternCount; ++p) {
            const PatternCell* theirs =
                song->patterns && p < song->patternCount ? song->patterns[p].cells : nullptr;
            if (reading->patterns[p].cells != theirs) std::free(reading->patterns[p].cells);
        }
        std::free(reading->patterns);
    }
    if (reading->instruments && reading->instruments != song->instruments) {
        for (int i = 0; i < reading->instrumentCount; ++i) {
            const Instrument& own = reading->instruments[i];
            for (int j = 0; j < own.sampleCount && j < MAX_INSTRUMENT_SAMPLES; ++j) {
                const Sample* sample = own.samples[j];
                if (!sample || sample == &silentSample || sample == SongSampleAt(song, i, j))
                    continue;
                FreeOwnSample(sample);
            }
        }
        std::free(reading->instruments);
    }
    delete reading;
}
