// envelopes.cpp: the instrument's volume and panning envelopes, the reset a new instrument gives
// a track, and auto-vibrato. Runs inside MixBlock on the thread that renders the player.
#include "music/module.h"
#include "music/sequencer_internal.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int32_t MAX_ENVELOPE_POINTS = 12;

// Heads the envelope from point k (at `offset` ticks past it) towards point k + 1.
void StartSegment(EnvelopeState* state, const EnvelopePoint* points, int32_t k, int32_t offset) {
    const int32_t dx = points[k + 1].x - points[k].x;
    const int64_t dy = (static_cast<int64_t>(points[k + 1].y) - points[k].y) * 65536;
    state->slope = dx == 0 ? 0 : static_cast<int32_t>(dy / dx);
    state->fixed = static_cast<int32_t>(static_cast<int64_t>(offset) * state->slope +
                                        static_cast<int64_t>(points[k].y) * 65536);
    state->point = k + 1;
}

} // namespace

EnvelopeShape VolumeShape(const Instrument* instrument) {
    return EnvelopeShape{instrument->volumeEnvelope,      instrument->volumePointCount,
                         instrument->volumeEnvelopeFlags, instrument->volumeSustain,
                         instrument->volumeLoopStart,     instrument->volumeLoopEnd};
}

EnvelopeShape PanningShape(const Instrument* instrument) {
    return EnvelopeShape{instrument->panningEnvelope,      instrument->panningPointCount,
                         instrument->panningEnvelopeFlags, instrument->panningSustain,
                         instrument->panningLoopStart,     instrument->panningLoopEnd};
}

void RestartEnvelopes(MusicChannel* channel) {
    // The 16.16 values (`fixed`) are kept on purpose (see EnvelopeStep).
    for (EnvelopeState* state : {&channel->volumeEnvelope, &channel->panningEnvelope}) {
        state->point = 0;
        state->tick = 0;
        state->slope = 0;
        state->done = 0;
    }
    channel->volumeEnvelope.value = 64;
    channel->panningEnvelope.value = 32;
    channel->keyOff = 0;
    channel->fadeoutVolume = 65536;
    channel->autoVibratoSweep = 0;
    channel->autoVibratoPosition = 0;
}

void ResetChannelForInstrument(MusicChannel* channel, const Sample* sample) {
    channel->volume = sample->volume;
    channel->panning = sample->panning;
    RestartEnvelopes(channel);
    if ((channel->waveControl & 0x0F) <= 3) channel->vibratoPosition = 0;
    if ((channel->waveControl >> 4) <= 3) channel->tremoloPosition = 0;
    channel->tremorCounter = 0;
    channel->updateFlags |= UPDATE_VOLUME | UPDATE_PANNING;
}

void EnvelopeStep(MusicChannel* channel, EnvelopeState* state, const EnvelopeShape& shape,
                  uint8_t updateBit) {
    const int32_t n = std::min(shape.pointCount, MAX_ENVELOPE_POINTS);
    const EnvelopePoint* points = shape.points;
    if (state->point >= 0 && state->point < n) {
        int32_t k = state->point;
        if (state->tick == points[k].x) {
            // A loop start beyond the stored points cannot be jumped to; such a loop is ignored.
            if ((shape.flags & ENVELOPE_LOOP) && k == shape.loopEnd && shape.loopStart < n) {
                k = shape.loopStart;
                state->point = k;
                state->tick = points[k].x;
            }
            if (k == n - 1) {
                state->value = points[k].y;
                state->done = 1;
                channel->updateFlags |= updateBit;
                return;
            }
            if ((shape.flags & ENVELOPE_SUSTAIN) && k == shape.sustain && !channel->keyOff) {
                state->value = points[k].y;
                channel->updateFlags |= updateBit;
                return;
            }
            StartSegment(state, points, k, 0);
        } else {
            // Before a first point that lies after tick 0 this keeps the value the previous
            // note left (the reset clears the slope but not the value); a fresh track reads 0.
            state->fixed = static_cast<int32_t>(static_cast<int64_t>(state->fixed) + state->slope);
        }
    }
    state->value = state->fixed >> 16;
    state->tick += 1;
    channel->updateFlags |= updateBit;
}

void PlaceEnvelope(EnvelopeState* state, const EnvelopeShape& shape, int32_t position) {
    const int32_t n = std::min<int32_t>(shape.pointCount, MAX_ENVELOPE_POINTS);
    if (n == 0) return; // no points to place the envelope on
    const EnvelopePoint* points = shape.points;
    int32_t i = 0;
    if (n < 2 || position > points[1].x) {
        i = 1;
        while (i + 1 < n && position > points[i + 1].x) ++i;
        i = std::min(i, n - 1);
    }
    if (i >= n - 1) {
        state->value = points[n - 1].y;
        state->done = 1;
        return;
    }
    state->done = 0;
    state->tick = position;
    StartSegment(state, points, i, position - points[i].x);
    state->value = state->fixed >> 16;
}

void StepEnvelopes(MusicChannel* c, const Instrument* instrument, bool keyOffSilences) {
    if (instrument->volumeEnvelopeFlags & ENVELOPE_ON) {
        if (!c->volumeEnvelope.done)
            EnvelopeStep(c, &c->volumeEnvelope, VolumeShape(instrument), UPDATE_VOLUME);
    } else if (keyOffSilences && c->keyOff) {
        c->volumeEnvelope.value = 0;
    }
    if ((instrument->panningEnvelopeFlags & ENVELOPE_ON) && !c->panningEnvelope.done)
        EnvelopeStep(c, &c->panningEnvelope, PanningShape(instrument), UPDATE_PANNING);
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
