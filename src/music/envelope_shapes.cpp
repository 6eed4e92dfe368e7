// envelope_shapes.cpp: an instrument's envelopes as every rule set's stepping reads them, a
// segment's start and the placement at a position (Lxx). The stepping itself is each rule
// set's own (demo_envelopes.cpp, standard_envelopes.cpp). Runs inside MixBlock on the thread
// that renders the player.
#include "music/module.h"
#include "music/sequencer_internal.h"

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

void StartSegment(EnvelopeState* state, const EnvelopePoint* points, int32_t k, int32_t offset) {
    const int32_t dx = points[k + 1].x - points[k].x;
    const int64_t dy = (static_cast<int64_t>(points[k + 1].y) - points[k].y) * 65536;
    state->slope = dx == 0 ? 0 : static_cast<int32_t>(dy / dx);
    state->fixed = static_cast<int32_t>(static_cast<int64_t>(offset) * state->slope +
                                        static_cast<int64_t>(points[k].y) * 65536);
    state->point = k + 1;
}

bool PlaceEnvelope(EnvelopeState* state, const EnvelopeShape& shape, int32_t position) {
    const int32_t n = UsedPoints(shape);
    const EnvelopePoint* points = shape.points;
    int32_t i = 0;
    if (n < 2 || position > points[1].x) {
        i = 1;
        while (i + 1 < n && position > points[i + 1].x) ++i;
        i = std::min(i, n - 1);
    }
    if (i >= n - 1) return false;
    state->done = 0;
    state->tick = position;
    StartSegment(state, points, i, position - points[i].x);
    state->value = state->fixed >> 16;
    return true;
}
