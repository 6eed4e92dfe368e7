// pitch_envelopes.cpp: periods and frequencies, the instrument reset, envelopes, fade-out,
// auto-vibrato and the voice's volume, panning and frequency steps. Music thread (in MixBlock).
#include "music/mixer.h"
#include "music/module.h"
#include "music/sequencer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

constexpr int32_t MAX_ENVELOPE_POINTS = 12;

// P(k) of the Amiga table: 13.375 x 2^((132 - k) / 12), truncated.
int32_t AmigaTablePeriod(int32_t k) {
    return static_cast<int32_t>(13.375 * std::pow(2.0, static_cast<double>(132 - k) / 12.0));
}

// Doubles reach int32 only through here: a period driven far out of range by the unlimited
// slides must not turn into an undefined conversion.
int32_t TruncateToInt32(double value) {
    if (!(value > -2147483648.0)) return INT32_MIN;
    if (value >= 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(value);
}

} // namespace

int32_t AmigaPeriod(int32_t note, int32_t finetune) {
    const int32_t p = AmigaTablePeriod(note);
    if (finetune < 0 && note != 0) return p - ((p - AmigaTablePeriod(note - 1)) * -finetune) / 128;
    return p + ((AmigaTablePeriod(note + 1) - p) * finetune) / 128;
}

int32_t NotePeriod(const Module* module, int32_t realNote, int32_t finetune) {
    if (module->flags & MODULE_LINEAR_FREQUENCIES) return 7680 - 64 * realNote - finetune / 2;
    return AmigaPeriod(realNote, finetune);
}

int32_t PeriodFrequency(const Module* module, int32_t period, int32_t periodDelta) {
    if (module->flags & MODULE_LINEAR_FREQUENCIES) {
        const double exponent =
            (static_cast<double>(4608 - static_cast<int64_t>(period)) + periodDelta) / 768.0;
        return TruncateToInt32(8363.0 * std::pow(2.0, exponent));
    }
    const int64_t effective = static_cast<int64_t>(period) + periodDelta;
    if (effective == 0) return INT32_MAX;
    return static_cast<int32_t>(14317056 / effective);
}

void ResetChannelForInstrument(MusicChannel* channel, const Sample* sample) {
    channel->volume = sample->volume;
    channel->panning = sample->panning;
    channel->volumeEnvelopeValue = 64;
    channel->volumeEnvelopePoint = 0;
    channel->volumeEnvelopeTick = 0;
    channel->volumeEnvelopeSlope = 0;
    channel->panningEnvelopeValue = 32;
    channel->panningEnvelopePoint = 0;
    channel->panningEnvelopeTick = 0;
    channel->panningEnvelopeSlope = 0;
    channel->keyOff = 0;
    channel->fadeoutVolume = 65536;
    channel->volumeEnvelopeDone = 0;
    channel->panningEnvelopeDone = 0;
    channel->autoVibratoSweep = 0;
    channel->autoVibratoPosition = 0;
    if ((channel->waveControl & 0x0F) <= 3) channel->vibratoPosition = 0;
    if ((channel->waveControl >> 4) <= 3) channel->tremoloPosition = 0;
    channel->tremorCounter = 0;
    channel->updateFlags |= UPDATE_VOLUME | UPDATE_PANNING;
    // The 16.16 envelope values are kept on purpose (see EnvelopeStep).
}

void EnvelopeStep(MusicChannel* channel, int32_t* tick, int32_t* point, int32_t* fixed,
                  int32_t* value, uint8_t* done, int32_t* slope, const EnvelopePoint* points,
                  int32_t pointCount, uint8_t flags, uint8_t sustain, uint8_t loopStart,
                  uint8_t loopEnd, uint8_t updateBit) {
    const int32_t n = std::min(pointCount, MAX_ENVELOPE_POINTS);
    if (*point >= 0 && *point < n) {
        int32_t k = *point;
        if (*tick == points[k].x) {
            // A loop start beyond the stored points cannot be jumped to; such a loop is ignored.
            if ((flags & ENVELOPE_LOOP) && k == loopEnd && loopStart < n) {
                k = loopStart;
                *point = k;
                *tick = points[k].x;
            }
            if (k == n - 1) {
                *value = points[k].y;
                *done = 1;
                channel->updateFlags |= updateBit;
                return;
            }
            if ((flags & ENVELOPE_SUSTAIN) && k == sustain && !channel->keyOff) {
                *value = points[k].y;
                channel->updateFlags |= updateBit;
                return;
            }
            const int32_t dx = points[k + 1].x - points[k].x;
            const int64_t dy = (static_cast<int64_t>(points[k + 1].y) - points[k].y) * 65536;
            *slope = dx == 0 ? 0 : static_cast<int32_t>(dy / dx);
            *fixed = static_cast<int32_t>(static_cast<int64_t>(points[k].y) * 65536);
            *point = k + 1;
        } else {
            // Before a first point that lies after tick 0 this keeps the value the previous
            // note left (the reset clears the slope but not the value); a fresh track reads 0.
            *fixed = static_cast<int32_t>(static_cast<int64_t>(*fixed) + *slope);
        }
    }
    *value = *fixed >> 16;
    *tick += 1;
    channel->updateFlags |= updateBit;
}

void StepEnvelopes(MusicChannel* c, const Instrument* instrument, bool keyOffSilences) {
    if (instrument->volumeEnvelopeFlags & ENVELOPE_ON) {
        if (!c->volumeEnvelopeDone)
            EnvelopeStep(c, &c->volumeEnvelopeTick, &c->volumeEnvelopePoint,
                         &c->volumeEnvelopeFixed, &c->volumeEnvelopeValue, &c->volumeEnvelopeDone,
                         &c->volumeEnvelopeSlope, instrument->volumeEnvelope,
                         instrument->volumePointCount, instrument->volumeEnvelopeFlags,
                         instrument->volumeSustain, instrument->volumeLoopStart,
                         instrument->volumeLoopEnd, UPDATE_VOLUME);
    } else if (keyOffSilences && c->keyOff) {
        c->volumeEnvelopeValue = 0;
    }
    if ((instrument->panningEnvelopeFlags & ENVELOPE_ON) && !c->panningEnvelopeDone)
        EnvelopeStep(c, &c->panningEnvelopeTick, &c->panningEnvelopePoint, &c->panningEnvelopeFixed,
                     &c->panningEnvelopeValue, &c->panningEnvelopeDone, &c->panningEnvelopeSlope,
                     instrument->panningEnvelope, instrument->panningPointCount,
                     instrument->panningEnvelopeFlags, instrument->panningSustain,
                     instrument->panningLoopStart, instrument->panningLoopEnd, UPDATE_PANNING);
}

void AutoVibrato(MusicChannel* channel, const Instrument* instrument) {
    const int32_t q = channel->autoVibratoPosition;
    int32_t w = 0;
    switch (instrument->vibratoType) {
    case 0: w = static_cast<int32_t>(std::sin((2 * q) * 3.1415920257568359 / 256) * 64); break;
    case 1: w = q <= 127 ? 64 : -64; break;
    case 2: w = (128 - ((q + 128) % 256)) >> 1; break;
    case 3: w = (128 - ((384 - q) % 256)) >> 1; break;
    default: break;
    }
    int32_t a = w * instrument->vibratoDepth;
    if (instrument->vibratoSweep != 0)
        a = (a * channel->autoVibratoSweep) / instrument->vibratoSweep;
    channel->periodDelta += a >> 6;
    if (channel->autoVibratoSweep < instrument->vibratoSweep) channel->autoVibratoSweep += 1;
    channel->autoVibratoPosition += instrument->vibratoRate;
    if (channel->autoVibratoPosition > 255) channel->autoVibratoPosition -= 256;
    channel->updateFlags |= UPDATE_FREQUENCY;
}

void VolumeStep(MusicChannel* channel, const Module* module) {
    const double product = static_cast<double>(channel->volumeEnvelopeValue) *
                           (channel->volume + channel->volumeDelta) * channel->fadeoutVolume *
                           module->globalVolume * static_cast<double>(7.4214767664670944e-9f);
    // The voice's volume range is 0-255; a channel volume that effect C set above 64 may ask for
    // more, and is held at the top of the range.
    const int32_t v = std::clamp(TruncateToInt32(product), 0, 255);
    Voice* voice = channel->voice;
    if (voice == nullptr) return;
    voice->mixVolume = v;
    voice->volumeLeft = v * voice->mixPanning / 255;
    voice->volumeRight = v * (255 - voice->mixPanning) / 255;
}

void PanningStep(MusicChannel* channel) {
    const int64_t p = channel->panning;
    const int64_t e = channel->panningEnvelopeValue;
    const int64_t final =
        std::clamp<int64_t>(p + (e - 32) * ((128 - std::llabs(p - 128)) / 32), 0, 255);
    Voice* voice = channel->voice;
    if (voice == nullptr) return;
    voice->mixPanning = static_cast<int32_t>(final);
    voice->volumeLeft = voice->mixVolume * voice->mixPanning / 255;
    voice->volumeRight = voice->mixVolume * (255 - voice->mixPanning) / 255;
}

void FrequencyStep(MusicChannel* channel, const Module* module) {
    Voice* voice = channel->voice;
    if (voice == nullptr || mixer.mixRate <= 0) return;
    const int32_t frequency =
        std::max(PeriodFrequency(module, channel->period, channel->periodDelta), 100);
    voice->increment = frequency / mixer.mixRate;
    voice->incrementFraction =
        static_cast<uint32_t>((static_cast<uint64_t>(frequency % mixer.mixRate) << 32) /
                              static_cast<uint32_t>(mixer.mixRate));
}
