// recovery.cpp: how the tolerant reading keeps what a cut file still holds, as the mature
// players do: a sample whose data the file holds in part keeps those frames, and an instrument
// the file ends in is silent, with every one after it. Any thread.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "music/xm_stages.h"

// A sample whose data the file holds only in part: the sample keeps the frames the file holds (a
// stereo sample only its left channel's), its loop is cut to them or dropped, and every sample
// after it is silent.
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

void SilenceInstrumentsFrom(Module* module, int first) {
    for (int rest = first; rest < module->instrumentCount; ++rest) {
        for (const Sample*& slot : module->instruments[rest].samples) slot = &silentSample;
    }
}
