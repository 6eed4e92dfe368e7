// instruments.cpp: synthesises the soundtrack's instruments and lays them out as the file
// stores them. Tuning: a tone whose period is 32 * 2^k frames sounds at the written pitch with
// relative note 12 * k; finetune 2 pulls the 8363 Hz reference up to concert pitch.
#include "instruments.h"

#include "synth.h"

namespace compose {

namespace {

// The rate at which the player reads a sample at its own pitch when relative note and written
// note add up to C-6 (8363 Hz x 4): drums are rendered at this rate.
constexpr double DRUM_RATE = 33452.0;
constexpr int8_t CONCERT_FINETUNE = 2;

xmw::Sample MakeSample(const char* name, Wave wave, bool sixteenBit, double peak) {
    Normalise(wave, peak);
    xmw::Sample sample;
    sample.name = name;
    sample.sixteenBit = sixteenBit;
    if (sixteenBit) {
        for (int16_t v : ToPcm16(wave)) sample.values.push_back(v);
    } else {
        for (int8_t v : ToPcm8(wave)) sample.values.push_back(v);
    }
    return sample;
}

void SetLoop(xmw::Sample& sample, xmw::Loop loop, uint32_t start, uint32_t length) {
    sample.loop = loop;
    sample.loopStart = start;
    sample.loopLength = length;
}

// A drum that sounds at its recorded pitch on `note` (1-based).
xmw::Sample Drum(const char* name, Wave wave, bool sixteenBit, int note, uint8_t volume,
                 uint8_t panning) {
    xmw::Sample sample = MakeSample(name, std::move(wave), sixteenBit, 0.97);
    sample.relativeNote = int8_t(72 - (note - 1));
    sample.volume = volume;
    sample.panning = panning;
    return sample;
}

xmw::Envelope Envelope(std::vector<std::pair<uint16_t, uint16_t>> points) {
    xmw::Envelope envelope;
    envelope.points = std::move(points);
    envelope.flags = ENVELOPE_ON;
    return envelope;
}

void MapRange(xmw::Instrument& instrument, int firstNote, int lastNote, uint8_t sample) {
    for (int note = firstNote; note <= lastNote; ++note) instrument.sampleMap[note - 1] = sample;
}

xmw::Instrument KitInstrument() {
    xmw::Instrument kit;
    kit.name = "kit";
    // Panned like a kit seen from the front: kick in the middle, the snare a little left, clap
    // and hats to the right, the cymbals to the left.
    kit.samples.push_back(Drum("kick", Kick(DRUM_RATE, 11), true, KIT_KICK, 64, 128));
    kit.samples.push_back(Drum("snare", Snare(DRUM_RATE, 22), true, KIT_SNARE, 64, 108));
    kit.samples.push_back(Drum("clap", Clap(DRUM_RATE, 33), true, KIT_CLAP, 64, 156));
    kit.samples.push_back(Drum("hat", HiHat(DRUM_RATE, 0.09, 44), false, KIT_HAT, 64, 184));
    kit.samples.push_back(Drum("open hat", HiHat(DRUM_RATE, 0.42, 55), false, KIT_OPEN, 60, 168));
    kit.samples.push_back(Drum("crash", Crash(DRUM_RATE, 66), false, KIT_CRASH, 56, 72));
    // Each drum owns the notes from its own up to the next drum's; lower notes pitch the kick
    // down, higher ones the crash up.
    MapRange(kit, 1, KIT_SNARE - 1, 0);
    MapRange(kit, KIT_SNARE, KIT_CLAP - 1, 1);
    MapRange(kit, KIT_CLAP, KIT_HAT - 1, 2);
    MapRange(kit, KIT_HAT, KIT_OPEN - 1, 3);
    MapRange(kit, KIT_OPEN, KIT_CRASH - 1, 4);
    MapRange(kit, KIT_CRASH, 96, 5);
    return kit;
}

xmw::Instrument BassInstrument() {
    const uint32_t cycle = 256, attack = 40, loop = 4;
    xmw::Sample sample = MakeSample("bass", Bass(cycle, attack, loop), true, 0.9);
    SetLoop(sample, xmw::Loop::Forward, cycle * attack, cycle * loop);
    sample.relativeNote = 36;
    sample.finetune = CONCERT_FINETUNE;
    sample.volume = 44;
    xmw::Instrument bass;
    bass.name = "bass";
    bass.samples.push_back(std::move(sample));
    bass.volumeEnvelope = Envelope({{0, 64}, {8, 50}, {40, 40}, {48, 0}});
    bass.volumeEnvelope.flags |= ENVELOPE_SUSTAIN;
    bass.volumeEnvelope.sustain = 2;
    bass.fadeout = 0x400;
    return bass;
}

// Cycles over which the lead's two saws beat once: 128 puts them about 13 cents either side
// of the note, a slow chorus rather than a sour one.
constexpr uint32_t LEAD_BEAT = 128;

xmw::Instrument LeadInstrument() {
    // Notes below C-6 use the brighter sample; above it fewer partials keep the top below the
    // output's Nyquist frequency.
    xmw::Sample low = MakeSample("lead", Lead(128, 18, 24, LEAD_BEAT), true, 0.9);
    SetLoop(low, xmw::Loop::Forward, 128 * 24, 128 * LEAD_BEAT);
    xmw::Sample high = MakeSample("lead high", Lead(64, 10, 24, LEAD_BEAT), true, 0.9);
    SetLoop(high, xmw::Loop::Forward, 64 * 24, 64 * LEAD_BEAT);
    low.relativeNote = 24;
    high.relativeNote = 12;
    for (xmw::Sample* s : {&low, &high}) {
        s->finetune = CONCERT_FINETUNE;
        s->volume = 50;
        s->panning = 104;
    }
    xmw::Instrument lead;
    lead.name = "lead";
    lead.samples = {std::move(low), std::move(high)};
    MapRange(lead, 1, 72, 0);
    MapRange(lead, 73, 96, 1);
    lead.volumeEnvelope = Envelope({{0, 0}, {2, 64}, {12, 50}, {40, 0}});
    lead.volumeEnvelope.flags |= ENVELOPE_SUSTAIN;
    lead.volumeEnvelope.sustain = 2;
    // Held notes sit a little left; released ones drift right as they fade.
    lead.panningEnvelope = Envelope({{0, 32}, {10, 26}, {30, 42}});
    lead.panningEnvelope.flags |= ENVELOPE_SUSTAIN;
    lead.panningEnvelope.sustain = 1;
    lead.vibratoType = 0;
    lead.vibratoSweep = 40;
    lead.vibratoDepth = 6;
    lead.vibratoRate = 12;
    lead.fadeout = 0x200;
    return lead;
}

xmw::Instrument PadInstrument() {
    const uint32_t frames = 36000, loopStart = 6000;
    xmw::Sample sample = MakeSample("pad", Pad(128, frames, 77), true, 0.9);
    SetLoop(sample, xmw::Loop::PingPong, loopStart, frames - loopStart);
    sample.relativeNote = 24;
    sample.finetune = CONCERT_FINETUNE;
    sample.volume = 24;
    xmw::Instrument pad;
    pad.name = "pad";
    pad.samples.push_back(std::move(sample));
    pad.volumeEnvelope = Envelope({{0, 0}, {24, 64}, {48, 52}, {96, 0}});
    pad.volumeEnvelope.flags |= ENVELOPE_SUSTAIN;
    pad.volumeEnvelope.sustain = 2;
    // A slow sway across the stereo field, for as long as the note lasts.
    pad.panningEnvelope = Envelope({{0, 32}, {40, 20}, {80, 44}, {120, 32}});
    pad.panningEnvelope.flags |= ENVELOPE_LOOP;
    pad.panningEnvelope.loopStart = 0;
    pad.panningEnvelope.loopEnd = 3;
    pad.fadeout = 0x100;
    return pad;
}

// The plucked string; `echo` is its answer from the other side, softer, for the echo channel.
xmw::Instrument PluckInstrument(bool echo) {
    xmw::Sample sample = MakeSample("pluck", Pluck(64, 24000, 88), false, 0.95);
    sample.relativeNote = 12;
    sample.finetune = CONCERT_FINETUNE;
    sample.volume = echo ? 44 : 64;
    sample.panning = echo ? 200 : 64;
    xmw::Instrument pluck;
    pluck.name = echo ? "pluck echo" : "pluck";
    pluck.samples.push_back(std::move(sample));
    return pluck;
}

xmw::Instrument GateInstrument() {
    // A bright chord pad chopped into sixteenths by a looping volume envelope: at six ticks
    // to the row the loop is one row long, so the gate follows the song's own tempo.
    const uint32_t frames = 12000;
    xmw::Sample sample = MakeSample("gate", Pad(64, frames, 121), true, 0.9);
    SetLoop(sample, xmw::Loop::PingPong, 2000, frames - 2000);
    sample.relativeNote = 12;
    sample.finetune = CONCERT_FINETUNE;
    sample.volume = 40;
    sample.panning = 176;
    xmw::Instrument gate;
    gate.name = "gate";
    gate.samples.push_back(std::move(sample));
    gate.volumeEnvelope = Envelope({{0, 64}, {2, 48}, {3, 6}, {5, 6}, {6, 64}});
    gate.volumeEnvelope.flags |= ENVELOPE_LOOP;
    gate.volumeEnvelope.loopStart = 0;
    gate.volumeEnvelope.loopEnd = 4;
    gate.fadeout = 0x300;
    return gate;
}

xmw::Instrument WindFx() {
    const uint32_t frames = 26000;
    xmw::Sample sample = MakeSample("wind", Wind(frames, 99), false, 0.9);
    SetLoop(sample, xmw::Loop::PingPong, 0, frames);
    sample.relativeNote = 24;
    sample.volume = 32;
    xmw::Instrument wind;
    wind.name = "wind";
    wind.samples.push_back(std::move(sample));
    wind.fadeout = 0x80;
    return wind;
}

xmw::Instrument BellInstrument() {
    // One-shot: the ring is in the sample. Both samples are read at 28130 frames a second on the
    // A of their range, where they ring for a second; lower notes ring longer.
    const double rate = 28130.0;
    xmw::Sample low = MakeSample("bell", Bell(64, uint32_t(1.25 * rate), 1.0 * rate), true, 0.9);
    xmw::Sample high =
        MakeSample("bell high", Bell(32, uint32_t(1.1 * rate), 0.85 * rate), true, 0.9);
    low.relativeNote = 12;
    high.relativeNote = 0;
    for (xmw::Sample* s : {&low, &high}) {
        s->finetune = CONCERT_FINETUNE;
        s->volume = 44;
        s->panning = 168;
    }
    xmw::Instrument bell;
    bell.name = "bell";
    bell.samples = {std::move(low), std::move(high)};
    MapRange(bell, 1, 60, 0);
    MapRange(bell, 61, 96, 1);
    // Level while it rings; a key-off damps it over about half a second.
    bell.volumeEnvelope = Envelope({{0, 64}, {400, 64}});
    bell.vibratoType = 0;
    bell.vibratoDepth = 1;
    bell.vibratoRate = 24;
    bell.fadeout = 0x800;
    return bell;
}

} // namespace

std::vector<xmw::Instrument> BuildInstruments() {
    return {KitInstrument(),  BassInstrument(),       LeadInstrument(),
            PadInstrument(),  PluckInstrument(false), WindFx(),
            BellInstrument(), PluckInstrument(true),  GateInstrument()};
}

} // namespace compose
