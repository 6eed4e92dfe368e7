// Envelope sustain, loop and key-off interplay, envelopes that start late, and the auto-vibrato
// waveforms and sweep, stepped tick by tick on one channel.
#include "sequencer_harness.h"

namespace {

Instrument VolumeEnvelope(std::vector<std::pair<uint16_t, uint16_t>> points, uint8_t flags,
                          uint8_t sustain = 0, uint8_t loopStart = 0, uint8_t loopEnd = 0) {
    Instrument instrument{};
    for (size_t i = 0; i < points.size(); ++i)
        instrument.volumeEnvelope[i] = EnvelopePoint{points[i].first, points[i].second};
    instrument.volumePointCount = static_cast<uint8_t>(points.size());
    instrument.volumeEnvelopeFlags = static_cast<uint8_t>(ENVELOPE_ON | flags);
    instrument.volumeSustain = sustain;
    instrument.volumeLoopStart = loopStart;
    instrument.volumeLoopEnd = loopEnd;
    return instrument;
}

// Volume envelope values over `ticks` ticks after an instrument reset; key released before
// tick `keyOffAt` (never when negative).
std::vector<int> EnvelopeValues(const Instrument& instrument, int ticks, int keyOffAt = -1,
                                MusicChannel channel = MusicChannel{}) {
    ResetChannelForInstrument(&channel, &silentSample);
    std::vector<int> values;
    for (int t = 0; t < ticks; ++t) {
        if (t == keyOffAt) channel.keyOff = 1;
        StepEnvelopes(&channel, &instrument, true);
        values.push_back(channel.volumeEnvelope.value);
    }
    return values;
}

int AutoVibratoDelta(uint8_t type, int32_t position) {
    Instrument instrument{};
    instrument.vibratoType = type;
    instrument.vibratoDepth = 64; // a = w x 64, >> 6: the waveform value itself
    MusicChannel channel{};
    channel.demo.autoVibratoPosition = position;
    AutoVibrato(&channel, &instrument);
    EXPECT_TRUE(channel.updateFlags & UPDATE_FREQUENCY);
    return channel.periodDelta;
}

} // namespace

using V = std::vector<int>;

TEST(Envelopes, StopAtTheLastPoint) {
    Instrument instrument = VolumeEnvelope({{0, 10}, {2, 30}}, 0);
    MusicChannel channel{};
    ResetChannelForInstrument(&channel, &silentSample);
    for (int t = 0; t < 3; ++t) StepEnvelopes(&channel, &instrument, true);
    EXPECT_EQ(channel.volumeEnvelope.value, 30);
    EXPECT_EQ(channel.volumeEnvelope.done, 1);
    EXPECT_EQ(EnvelopeValues(instrument, 6), (V{10, 20, 30, 30, 30, 30}));
}

TEST(Envelopes, SustainOnTheLoopEndLoopsAndNeverHolds) {
    Instrument instrument =
        VolumeEnvelope({{0, 0}, {2, 20}, {4, 40}}, ENVELOPE_SUSTAIN | ENVELOPE_LOOP, 2, 1, 2);
    EXPECT_EQ(EnvelopeValues(instrument, 9), (V{0, 10, 20, 30, 20, 30, 20, 30, 20}));
}

TEST(Envelopes, SustainOnTheLoopStartHoldsThenLoopsBackToItAfterKeyOff) {
    Instrument instrument =
        VolumeEnvelope({{0, 0}, {2, 20}, {4, 40}}, ENVELOPE_SUSTAIN | ENVELOPE_LOOP, 1, 1, 2);
    EXPECT_EQ(EnvelopeValues(instrument, 6), (V{0, 10, 20, 20, 20, 20}));
    // Released before tick 4: the held value on the key-off tick, then the segment after it,
    // and from the loop end back to the sustain point.
    EXPECT_EQ(EnvelopeValues(instrument, 9, 4), (V{0, 10, 20, 20, 20, 30, 20, 30, 20}));
}

TEST(Envelopes, LoopEndingOnTheLastPointNeverFinishes) {
    Instrument instrument = VolumeEnvelope({{0, 64}, {4, 0}}, ENVELOPE_LOOP, 0, 0, 1);
    MusicChannel channel{};
    ResetChannelForInstrument(&channel, &silentSample);
    std::vector<int> values;
    for (int t = 0; t < 400; ++t) {
        StepEnvelopes(&channel, &instrument, true);
        if (t < 9) values.push_back(channel.volumeEnvelope.value);
    }
    EXPECT_EQ(values, (V{64, 48, 32, 16, 64, 48, 32, 16, 64}));
    EXPECT_EQ(channel.volumeEnvelope.done, 0);
}

TEST(Envelopes, KeyOffWithoutVolumeEnvelopeSilencesOnlyOnTheRowTick) {
    Instrument none{};
    MusicChannel channel{};
    ResetChannelForInstrument(&channel, &silentSample);
    channel.keyOff = 1;
    StepEnvelopes(&channel, &none, false);
    EXPECT_EQ(channel.volumeEnvelope.value, 64);
    StepEnvelopes(&channel, &none, true);
    EXPECT_EQ(channel.volumeEnvelope.value, 0);
}

TEST(Envelopes, BeforeALateFirstPointTheLevelOfThePreviousNoteHolds) {
    Instrument instrument = VolumeEnvelope({{3, 64}, {6, 16}}, 0);
    // A fresh track has no previous level: silent until the first point.
    EXPECT_EQ(EnvelopeValues(instrument, 6), (V{0, 0, 0, 64, 48, 32}));
    MusicChannel previous{};
    previous.volumeEnvelope.fixed = 40 << 16;
    EXPECT_EQ(EnvelopeValues(instrument, 5, -1, previous), (V{40, 40, 40, 64, 48}));
}

TEST(Envelopes, BrokenLoopAndSustainPointsStayInsideThePoints) {
    // Loop start past the stored points: the loop is ignored and the envelope finishes.
    Instrument instrument = VolumeEnvelope({{0, 0}, {2, 20}}, ENVELOPE_LOOP, 0, 200, 1);
    EXPECT_EQ(EnvelopeValues(instrument, 4), (V{0, 10, 20, 20}));
    // A point count above the 12 stored points is taken as 12.
    Instrument many = VolumeEnvelope({{0, 0}, {1, 1}}, ENVELOPE_SUSTAIN, 250);
    many.volumePointCount = 40;
    for (int i = 2; i < 12; ++i) many.volumeEnvelope[i] = EnvelopePoint{uint16_t(i), uint16_t(i)};
    EXPECT_EQ(EnvelopeValues(many, 14).back(), 11);
}

TEST(AutoVibrato, Waveforms) {
    EXPECT_EQ(AutoVibratoDelta(0, 0), 0);
    EXPECT_EQ(AutoVibratoDelta(0, 64), 63);
    EXPECT_EQ(AutoVibratoDelta(0, 192), -63);
    EXPECT_EQ(AutoVibratoDelta(1, 127), 64);
    EXPECT_EQ(AutoVibratoDelta(1, 128), -64);
    EXPECT_EQ(AutoVibratoDelta(2, 0), 0);
    EXPECT_EQ(AutoVibratoDelta(2, 127), -64);
    EXPECT_EQ(AutoVibratoDelta(2, 128), 64);
    EXPECT_EQ(AutoVibratoDelta(2, 255), 0);
    EXPECT_EQ(AutoVibratoDelta(3, 0), 0);
    EXPECT_EQ(AutoVibratoDelta(3, 127), 63);
    EXPECT_EQ(AutoVibratoDelta(3, 128), 64);
    EXPECT_EQ(AutoVibratoDelta(3, 129), -64);
    EXPECT_EQ(AutoVibratoDelta(4, 64), 0);
    EXPECT_EQ(AutoVibratoDelta(1, 10), 64);
}

TEST(AutoVibrato, SweepRampsInAndPositionWraps) {
    Instrument instrument{};
    instrument.vibratoType = 1;
    instrument.vibratoDepth = 64;
    instrument.vibratoSweep = 4;
    instrument.vibratoRate = 100;
    MusicChannel channel{};
    std::vector<int> deltas, positions;
    for (int t = 0; t < 4; ++t) {
        channel.periodDelta = 0;
        AutoVibrato(&channel, &instrument);
        deltas.push_back(channel.periodDelta);
        positions.push_back(channel.demo.autoVibratoPosition);
    }
    EXPECT_EQ(deltas, (V{0, 16, -32, 48}));
    EXPECT_EQ(positions, (V{100, 200, 44, 144}));
    EXPECT_EQ(channel.demo.autoVibratoSweep, 4);
}
