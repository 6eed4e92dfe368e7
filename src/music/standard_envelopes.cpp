// standard_envelopes.cpp: the standard rules' stepping of the instrument's volume and panning
// envelopes, the fade-out, the instrument's restart and auto-vibrato, as the original tracker
// plays them (the envelopes' shapes and placement are shared: envelope_shapes.cpp). Runs inside
// MixBlock on the thread that renders the player.
#include "music/module.h"
#include "music/rules_standard.h"
#include "music/sequencer_internal.h"

#include <algorithm>
#include <cmath>

namespace {

// A point's value, held within 0-64 (a file may store any 16-bit value).
int32_t PointValue(const EnvelopePoint& point) {
    return std::min<int32_t>(point.y, 64);
}

// One tick of an envelope. `tick` is the tick about to be played, 0 at the restart (the
// effect that sets the envelope position leaves it at its parameter); reaching a point's tick sets
// the point's value and heads for the next point, or holds at the sustain point while the key
// is down (the tick runs on, so the point is not met again until key-off moves it back), or
// jumps from the loop's end to its start.
void EnvelopeTick(EnvelopeState* state, const EnvelopeShape& shape, bool keyOff) {
    const int32_t n = UsedPoints(shape);
    if (n == 0) return;
    const EnvelopePoint* points = shape.points;
    int32_t point = std::clamp(state->point, 0, n - 1);
    if (state->tick != points[point].x) {
        state->fixed += state->slope;
    } else {
        state->fixed = PointValue(points[point]) * 65536;
        point += 1;
        if (shape.flags & ENVELOPE_LOOP) {
            // At the loop's end the envelope goes back to the loop's start, unless the end is
            // also the sustain point and the key is released.
            if (point - 1 == shape.loopEnd && shape.loopStart < n &&
                (!(shape.flags & ENVELOPE_SUSTAIN) || point - 1 != shape.sustain || !keyOff)) {
                point = shape.loopStart;
                state->tick = points[point].x;
                state->fixed = PointValue(points[point]) * 65536;
                point += 1;
            }
        }
        if (point >= n) {
            state->slope = 0;
        } else if ((shape.flags & ENVELOPE_SUSTAIN) && !keyOff && point - 1 == shape.sustain) {
            state->point = point - 1;
            state->slope = 0;
        } else {
            state->point = point;
            const int32_t dx = points[point].x - points[point - 1].x;
            const int32_t dy = PointValue(points[point]) - PointValue(points[point - 1]);
            state->slope = dx > 0 ? dy * 65536 / dx : 0;
        }
    }
    // Past its last point an envelope stays there: its position does not run on.
    if (state->slope != 0 || state->point != n - 1 || state->tick <= points[n - 1].x)
        state->tick += 1;
    state->fixed = std::clamp(state->fixed, 0, 64 * 65536);
    state->value = state->fixed >> 16;
}

// Moves an envelope onto another shape, keeping its position: a note without instrument number
// that changes the playing instrument goes on with the new instrument's envelope from where the
// old one stood (the position it played last, played again), at the new envelope's value there.
void MoveEnvelope(EnvelopeState* state, const EnvelopeShape& shape) {
    const int32_t n = UsedPoints(shape);
    if (n == 0) return;
    const EnvelopePoint* points = shape.points;
    state->tick = std::max(state->tick - 1, 0);
    int32_t point = 0;
    while (point < n - 1 && points[point].x < state->tick) ++point;
    state->point = point;
    if (point == 0 || points[point].x < state->tick) {
        // Before the first point, or past the last: the point's value, held.
        state->fixed = PointValue(points[point]) * 65536;
        state->slope = 0;
        if (points[point].x < state->tick) state->tick = points[point].x + 1;
        return;
    }
    const int32_t dx = points[point].x - points[point - 1].x;
    const int32_t dy = PointValue(points[point]) - PointValue(points[point - 1]);
    state->slope = dx > 0 ? dy * 65536 / dx : 0;
    state->fixed = PointValue(points[point - 1]) * 65536 +
                   state->slope * (state->tick - 1 - points[point - 1].x);
}

// The instrument's auto-vibrato: its depth grows over `sweep` ticks while the key is down.
void AutoVibratoTick(MusicChannel* channel, const Instrument* instrument) {
    StandardNoteState& state = channel->standard.note;
    if (instrument->vibratoDepth == 0) return;
    int32_t amplitude = state.autoVibratoAmplitude;
    if (state.autoVibratoSweep > 0) {
        // After key-off a sweep that has not ended leaves the amplitude at one step of it.
        amplitude = state.autoVibratoSweep;
        if (!channel->keyOff) {
            amplitude += state.autoVibratoAmplitude;
            if ((amplitude >> 8) > instrument->vibratoDepth) {
                amplitude = instrument->vibratoDepth << 8;
                state.autoVibratoSweep = 0;
            }
            state.autoVibratoAmplitude = amplitude;
        }
    }
    state.autoVibratoPosition =
        static_cast<uint8_t>(state.autoVibratoPosition + instrument->vibratoRate);
    const int32_t q = state.autoVibratoPosition;
    int32_t wave;
    switch (instrument->vibratoType) {
    case 1: wave = q > 127 ? 64 : -64; break;
    case 2: wave = (((q >> 1) + 64) & 127) - 64; break;
    case 3: wave = (((-(q >> 1)) + 64) & 127) - 64; break;
    default:
        // The sine starts downwards, rounded to whole steps of 64.
        wave = -static_cast<int32_t>(std::lround(64.0 * std::sin(q * 3.14159265358979 / 128.0)));
        break;
    }
    channel->periodDelta += (wave * amplitude) >> 14;
}

} // namespace

void RestartPlayingInstrument(MusicChannel* channel) {
    StandardNoteState& note = channel->standard.note;
    channel->keyOff = 0;
    const Instrument* instrument = StandardPlayingInstrument(*channel);
    // An envelope that is off keeps its place: only the enabled ones start again.
    if (instrument->volumeEnvelopeFlags & ENVELOPE_ON) {
        channel->volumeEnvelope.tick = 0;
        channel->volumeEnvelope.point = 0;
    }
    if (instrument->panningEnvelopeFlags & ENVELOPE_ON) {
        channel->panningEnvelope.tick = 0;
        channel->panningEnvelope.point = 0;
        if (instrument->panningPointCount > 0)
            channel->panningEnvelope.fixed = PointValue(instrument->panningEnvelope[0]) * 65536;
    }
    channel->fadeoutVolume = FULL_FADE;
    if (instrument->vibratoDepth > 0) {
        note.autoVibratoPosition = 0;
        if (instrument->vibratoSweep > 0) {
            note.autoVibratoAmplitude = 0;
            note.autoVibratoSweep = (instrument->vibratoDepth << 8) / instrument->vibratoSweep;
        } else {
            note.autoVibratoAmplitude = instrument->vibratoDepth << 8;
            note.autoVibratoSweep = 0;
        }
    }
}

void MoveVolumeEnvelope(MusicChannel* channel, const Instrument* instrument) {
    if (instrument->volumeEnvelopeFlags & ENVELOPE_ON)
        MoveEnvelope(&channel->volumeEnvelope, VolumeShape(instrument));
}

// Lxx: the volume envelope's position. The panning envelope keeps its own: moving it too (when
// the volume envelope has its sustain on) made the envelope-position test song pan where the
// reference playback does not, once the panning envelope reaches the voice a tick late.
void SetStandardEnvelopePosition(MusicChannel* channel, const Instrument* instrument,
                                 int32_t position) {
    channel->updateFlags |= UPDATE_VOLUME;
    if (!(instrument->volumeEnvelopeFlags & ENVELOPE_ON)) return;
    const EnvelopeShape shape = VolumeShape(instrument);
    const int32_t n = UsedPoints(shape);
    if (n == 0) return; // no points to place the envelope on
    EnvelopeState& state = channel->volumeEnvelope;
    if (PlaceEnvelope(&state, shape, position)) return;
    // Past the last point the envelope stands there, at the last point's value, as the
    // stepping leaves it once it has run past its last point.
    state.tick = position;
    state.point = n - 1;
    state.slope = 0;
    state.fixed = PointValue(shape.points[n - 1]) * 65536;
    state.value = state.fixed >> 16;
}

void StandardEnvelopes(MusicChannel* channel, const Instrument* instrument, bool rowTick) {
    (void)rowTick;
    StandardNoteState& state = channel->standard.note;
    // The fade-out runs from the key-off's own tick, with or without a volume envelope (a
    // volume set after a key-off without envelope fades too), at the speed of the instrument
    // playing now: a note without instrument number that changes the instrument changes the
    // speed of a fade already running.
    if (channel->keyOff)
        channel->fadeoutVolume = std::max(channel->fadeoutVolume - instrument->fadeout, 0);
    const bool keyOff = channel->keyOff != 0;
    if (instrument->volumeEnvelopeFlags & ENVELOPE_ON) {
        EnvelopeTick(&channel->volumeEnvelope, VolumeShape(instrument), keyOff);
        state.envelopeVolume = channel->volumeEnvelope.fixed;
    } else {
        state.envelopeVolume = 64 * 65536;
    }
    if (instrument->panningEnvelopeFlags & ENVELOPE_ON) {
        // The panning envelope reaches the voice a tick later than the volume envelope: each
        // tick pans by the value the envelope had before its step.
        state.envelopePanning = channel->panningEnvelope.fixed;
        EnvelopeTick(&channel->panningEnvelope, PanningShape(instrument), keyOff);
    } else {
        state.envelopePanning = 32 * 65536;
    }
}

void StandardAutoVibrato(MusicChannel* channel, const Instrument* instrument) {
    AutoVibratoTick(channel, instrument);
}
