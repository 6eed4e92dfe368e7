// demo_envelopes.cpp: the demo's stepping of the instrument's volume and panning envelopes, the
// fade-out, the reset a new instrument gives a track, and auto-vibrato (the envelopes' shapes
// and placement are shared: envelope_shapes.cpp). Runs inside MixBlock on the thread that
// renders the player.
#include "music/module.h"
#include "music/sequencer_internal.h"

#include <algorithm>
#include <cmath>

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
    channel->demo.autoVibratoSweep = 0;
    channel->demo.autoVibratoPosition = 0;
}

void ResetChannelForInstrument(MusicChannel* channel, const Sample* sample) {
    channel->volume = sample->volume;
    channel->panning = sample->panning;
    RestartEnvelopes(channel);
    if ((channel->waveControl & 0x0F) <= 3) channel->vibratoPosition = 0;
    if ((channel->waveControl >> 4) <= 3) channel->tremoloPosition = 0;
    channel->demo.tremorCounter = 0;
    channel->updateFlags |= UPDATE_VOLUME | UPDATE_PANNING;
}

void EnvelopeStep(MusicChannel* channel, EnvelopeState* state, const EnvelopeShape& shape,
                  uint8_t updateBit) {
    const int32_t n = UsedPoints(shape);
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

void SetDemoEnvelopePosition(MusicChannel* channel, const Instrument* instrument, int32_t p) {
    if (!(instrument->volumeEnvelopeFlags & ENVELOPE_ON)) return;
    const EnvelopeShape shape = VolumeShape(instrument);
    const int32_t n = UsedPoints(shape);
    if (n == 0) return; // no points to place the envelope on
    // Past the last point the envelope is done there; its 16.16 value stays (see
    // EnvelopeStep).
    if (!PlaceEnvelope(&channel->volumeEnvelope, shape, p)) {
        channel->volumeEnvelope.value = shape.points[n - 1].y;
        channel->volumeEnvelope.done = 1;
    }
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

void DemoEnvelopes(MusicChannel* channel, const Instrument* instrument, bool rowTick) {
    StepEnvelopes(channel, instrument, rowTick);
    if (channel->keyOff) {
        channel->fadeoutVolume = std::max(channel->fadeoutVolume - instrument->fadeout, 0);
        channel->updateFlags |= UPDATE_VOLUME;
    }
}

void AutoVibrato(MusicChannel* channel, const Instrument* instrument) {
    const int32_t q = channel->demo.autoVibratoPosition;
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
        a = (a * channel->demo.autoVibratoSweep) / instrument->vibratoSweep;
    channel->periodDelta += a >> 6;
    if (channel->demo.autoVibratoSweep < instrument->vibratoSweep)
        channel->demo.autoVibratoSweep += 1;
    channel->demo.autoVibratoPosition += instrument->vibratoRate;
    if (channel->demo.autoVibratoPosition > 255) channel->demo.autoVibratoPosition -= 256;
    channel->updateFlags |= UPDATE_FREQUENCY;
}
