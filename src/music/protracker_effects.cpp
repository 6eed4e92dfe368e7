// protracker_effects.cpp: ProTracker's note side and effect column: instrument numbers that set
// the volume and finetune at once and the sample for the next note, notes from the finetune's
// period table, 9xx past the sample's end, and effects 0-F, E0-EF with the tracker's memories
// (3xx, 4xy, 7xy and 9xx remember, 1xx, 2xx and Axy do not). Runs inside MixBlock on the thread
// that renders the player.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "music/mixer.h"
#include "music/module.h"
#include "music/player.h"
#include "music/rules_protracker.h"
#include "music/sequencer_internal.h"

namespace {

// What an instrument number the song lacks (or an empty sample) plays: nothing, at volume 0.
const Sample emptyModSample{};

// The player's own copy of `sample`, if it has one.
Sample* OwnSample(const Player* player, const Sample* sample) {
    if (!player->ownSamples || !sample || sample->id <= 0 ||
        sample->id > player->module->sampleCount)
        return nullptr;
    return player->ownSamples[sample->id];
}

// The sample an instrument number names (the player's own copy where it has one).
const Sample* NumberedSample(const Player* player, uint8_t number) {
    const Module* module = player->module;
    if (number == 0 || number > module->instrumentCount || module->instruments == nullptr)
        return &emptyModSample;
    const Instrument& instrument = module->instruments[number - 1];
    if (instrument.sampleCount < 1) return &emptyModSample;
    const Sample* sample = instrument.samples[0];
    if (!sample || sample == &silentSample) return &emptyModSample;
    const Sample* own = OwnSample(player, sample);
    return own ? own : sample;
}

// EFx's speeds: what each tick adds to the count; at 128 one more byte is inverted.
constexpr uint8_t INVERT_STEPS[16] = {0, 5, 6, 7, 8, 10, 11, 13, 16, 19, 22, 26, 32, 43, 64, 128};

// One tick of EFx: the count moves on by the speed's step, and on reaching 128 the next byte
// of the chosen sample's loop (the first after the last one, wrapping at the loop's end) is
// inverted, as the tracker rewrites its sample memory: for good, on every track that plays
// the sample, until the next playback start. A sample without a loop is left as it is (the
// copies are only made of looping ones).
void InvertLoopTick(Player* player, MusicChannel* channel) {
    ProTrackerTrack& t = channel->protracker;
    if (t.invertSpeed == 0) return;
    t.invertCount = static_cast<uint8_t>(t.invertCount + INVERT_STEPS[t.invertSpeed & 15]);
    if (t.invertCount < 128) return;
    t.invertCount = 0;
    Sample* own = OwnSample(player, t.chosen);
    if (!own || own != t.chosen || !own->data || own->loopKind != LOOP_FORWARD) return;
    if (++t.invertAt >= own->loopLength) t.invertAt = 0;
    const uint32_t at = own->loopStart + t.invertAt;
    // The stored frames are the file's bytes times 256: the inverted byte -1 - b is -256 - v.
    own->data[at] = static_cast<int16_t>(-256 - own->data[at]);
    // The frame after the loop's end repeats its start, for the interpolation.
    if (t.invertAt == 0) own->data[own->loopStart + own->loopLength] = own->data[at];
}

// Whether the song's patterns hold an EFx that inverts (x above 0).
bool InvertsLoops(const Module* module) {
    if (!module->patterns) return false;
    for (int32_t p = 0; p < module->patternCount; ++p) {
        const Pattern& pattern = module->patterns[p];
        if (!pattern.cells) continue;
        const int64_t cells = int64_t{pattern.rowCount} * module->channelCount;
        for (int64_t k = 0; k < cells; ++k) {
            const PatternCell& cell = pattern.cells[k];
            if (cell.effect == 0xE && (cell.effectParameter >> 4) == 0xF &&
                (cell.effectParameter & 15) != 0)
                return true;
        }
    }
    return false;
}

// Calls `body(sample)` for each of the song's own sample records (once per id).
template <typename Body> void ForEachSongSample(const Module* module, Body body) {
    if (!module->instruments) return;
    for (int32_t i = 0; i < module->instrumentCount; ++i) {
        const Instrument& instrument = module->instruments[i];
        for (int32_t j = 0; j < instrument.sampleCount && j < MAX_INSTRUMENT_SAMPLES; ++j) {
            const Sample* sample = instrument.samples[j];
            if (sample && sample->id > 0 && sample->id <= module->sampleCount) body(sample);
        }
    }
}

int32_t SignedNibble(int32_t v) {
    v &= 15;
    return v >= 8 ? v - 16 : v;
}

// The cell's note as a place in the period table (0 = C-1).
int32_t NoteIndex(uint8_t note) {
    return note - 37;
}

bool IsE(const PatternCell& cell, int32_t x) {
    return cell.effect == 0xE && (cell.effectParameter >> 4) == x;
}

int32_t ClampPeriod(const Player* player, int32_t period) {
    return std::clamp(period, LowestPeriod(player->module), HighestPeriod(player->module));
}

// 9xx: the note start moves on by the offset (from its memory for 900); an offset that
// reaches the rest of the sample leaves the start at the sample's end.
void MoveNoteStart(MusicChannel* channel, uint8_t parameter) {
    ProTrackerTrack& t = channel->protracker;
    if (parameter != 0) t.offsetMemory = parameter;
    const uint32_t length = t.chosen ? t.chosen->length : 0;
    const uint32_t offset = uint32_t{t.offsetMemory} * 256u;
    const uint32_t rest = length > t.noteStart ? length - t.noteStart : 0;
    t.noteStart = offset >= rest ? std::max(length, t.noteStart) : t.noteStart + offset;
}

// Starts the row's note on the chosen sample (9xx's offset with it, from its memory).
void StartNote(Player* player, MusicChannel* channel, const PatternCell& cell) {
    ProTrackerTrack& t = channel->protracker;
    const int32_t note = NoteIndex(cell.note);
    channel->notePeriod = ClampPeriod(player, ProTrackerPeriod(note, t.finetune));
    channel->period = channel->notePeriod;
    t.delayedPeriod = 0;
    channel->sample = t.chosen ? t.chosen : &emptyModSample;
    // Waveforms 0-3 start their phase over with every note; 4-7 keep it.
    if (!(channel->waveControl & 0x04)) t.vibratoPosition = 0;
    if (!(channel->waveControl & 0x40)) t.tremoloPosition = 0;
    // 9xx moves the start before the note plays and once more after it.
    if (cell.effect == 0x9) MoveNoteStart(channel, cell.effectParameter);
    if (channel->voice) channel->voice->startOffset = t.noteStart;
    if (cell.effect == 0x9) MoveNoteStart(channel, cell.effectParameter);
    channel->updateFlags |= UPDATE_TRIGGER | UPDATE_FREQUENCY | UPDATE_VOLUME;
}

// The sample started again from its beginning (E9x, a delayed note's restart).
void Retrigger(MusicChannel* channel) {
    if (channel->voice) channel->voice->startOffset = 0;
    channel->updateFlags |= UPDATE_TRIGGER | UPDATE_FREQUENCY | UPDATE_VOLUME;
}

// Axy (and 5xy, 6xy): up by x, else down by y; no memory.
void VolumeSlide(MusicChannel* channel, uint8_t parameter) {
    const int32_t x = parameter >> 4, y = parameter & 15;
    if (x != 0)
        channel->volume = std::min(channel->volume + x, 64);
    else
        channel->volume = std::max(channel->volume - y, 0);
    channel->updateFlags |= UPDATE_VOLUME;
}

// The waveform's magnitude (0-255) at a phase of 0-63: sine, ramp down, square (3 is square
// as well).
int32_t Wave(int32_t waveform, int32_t phase) {
    const int32_t index = phase & 31;
    switch (waveform & 3) {
    case 0: return vibratoSineTable[index];
    case 1: return phase < 32 ? index * 8 : 255 - index * 8;
    default: return 255;
    }
}

// Keeps the speed and depth of a 4xy or 7xy: each nibble given replaces its own.
void KeepCommand(uint8_t* command, uint8_t parameter) {
    if (parameter & 0x0F) *command = static_cast<uint8_t>((*command & 0xF0) | (parameter & 0x0F));
    if (parameter & 0xF0) *command = static_cast<uint8_t>((*command & 0x0F) | (parameter & 0xF0));
}

void TremoloTick(MusicChannel* channel) {
    ProTrackerTrack& t = channel->protracker;
    const int32_t depth = t.tremoloCommand & 15, speed = t.tremoloCommand >> 4;
    const int32_t delta = Wave(channel->waveControl >> 4, t.tremoloPosition) * depth >> 6;
    const int32_t out =
        std::clamp(channel->volume + (t.tremoloPosition < 32 ? delta : -delta), 0, 64);
    channel->volumeDelta = out - channel->volume;
    t.tremoloPosition = static_cast<uint8_t>((t.tremoloPosition + speed) & 63);
    channel->updateFlags |= UPDATE_VOLUME;
}

void Arpeggio(Player* player, MusicChannel* channel, uint8_t parameter) {
    const int32_t step = player->flow.periodTick % 3;
    if (step == 0) return;
    const int32_t steps = step == 1 ? parameter >> 4 : parameter & 15;
    const int32_t period = ArpeggioPeriod(channel->period, channel->protracker.finetune, steps);
    channel->periodDelta = period - channel->period;
    channel->updateFlags |= UPDATE_FREQUENCY;
}

} // namespace

Selection ProTrackerPlaying(const Player* player, const MusicChannel& channel) {
    (void)player;
    return {&emptyInstrument, channel.sample ? channel.sample : &emptyModSample};
}

// The row tick's note side. An instrument number sets the track's volume and finetune to its
// sample's and chooses it for the next note (with or without a note: the sample playing goes
// on until a note comes). A note without one plays the sample chosen before, at the volume the
// track has. A tone portamento's note is the slide's target; a delayed note waits for its tick.
Selection ProTrackerNoteRow(Player* player, MusicChannel* channel, const PatternCell& cell) {
    ProTrackerTrack& t = channel->protracker;
    if (t.delayedPeriod != 0) {
        channel->period = t.delayedPeriod;
        t.delayedPeriod = 0;
    }
    if (cell.instrument != 0) {
        const Sample* sample = NumberedSample(player, cell.instrument);
        t.chosen = sample;
        t.finetune = static_cast<int8_t>(SignedNibble(SampleFinetune(player, sample) / 16));
        channel->volume = sample->volume;
        channel->updateFlags |= UPDATE_VOLUME;
        t.noteStart = 0;
        t.invertAt = 0;
    }
    // An instrument number without a note, or beside a tone portamento's target (which starts
    // no note either), swaps the sample at its loop's end (see ProTrackerFinishTrack).
    const bool portamento = cell.effect == 0x3 || cell.effect == 0x5;
    if (cell.instrument != 0) t.swapPending = !IsNote(cell.note) || portamento ? 1 : 0;
    if (IsNote(cell.note)) {
        if (IsE(cell, 5)) t.finetune = static_cast<int8_t>(SignedNibble(cell.effectParameter));
        if (portamento) {
            channel->portaTarget =
                ClampPeriod(player, ProTrackerPeriod(NoteIndex(cell.note), t.finetune));
            // A target the track already stands at ends the slide.
            if (channel->portaTarget == channel->period) channel->portaTarget = 0;
        } else if (!IsE(cell, 0xD) || (cell.effectParameter & 15) == 0) {
            StartNote(player, channel, cell);
        } else {
            // Kept for the next row, should the delay outlast this one (see delayedPeriod).
            t.delayedPeriod =
                ClampPeriod(player, ProTrackerPeriod(NoteIndex(cell.note), t.finetune));
        }
    }
    return ProTrackerPlaying(player, *channel);
}

void ProTrackerEffectRow(Player* player, MusicChannel* channel, const PatternCell& cell,
                         const Selection& playing, const RowLevels& before) {
    (void)playing;
    (void)before;
    ProTrackerTrack& t = channel->protracker;
    const uint8_t p = cell.effectParameter;
    const int32_t x = p >> 4, y = p & 15;
    switch (cell.effect) {
    case 0x8:
        // The original tracker ignores 8xx; the multichannel trackers pan with it.
        if (LowestPeriod(player->module) != 113) {
            channel->panning = p;
            t.panned = 1;
            channel->updateFlags |= UPDATE_PANNING;
        }
        break;
    case 0x9:
        // Without a note the move waits for the next note (one with a note moved it already).
        if (!IsNote(cell.note)) MoveNoteStart(channel, p);
        break;
    case 0xC:
        channel->volume = std::min<int32_t>(p, 64);
        channel->updateFlags |= UPDATE_VOLUME;
        break;
    case 0xE:
        switch (x) {
        case 0x1:
            channel->period = std::max(channel->period - y, LowestPeriod(player->module));
            channel->updateFlags |= UPDATE_FREQUENCY;
            break;
        case 0x2:
            channel->period = std::min(channel->period + y, HighestPeriod(player->module));
            channel->updateFlags |= UPDATE_FREQUENCY;
            break;
        case 0x3: t.glissando = static_cast<uint8_t>(y); break;
        case 0x4:
            channel->waveControl = static_cast<uint8_t>((channel->waveControl & 0xF0) | y);
            break;
        case 0x5: t.finetune = static_cast<int8_t>(SignedNibble(y)); break;
        case 0x7:
            channel->waveControl = static_cast<uint8_t>((channel->waveControl & 0x0F) | y << 4);
            break;
        case 0x9:
            // On the row tick only without a note (a note has just started).
            if (y != 0 && !IsNote(cell.note) && channel->sample) Retrigger(channel);
            break;
        case 0xA:
            channel->volume = std::min(channel->volume + y, 64);
            channel->updateFlags |= UPDATE_VOLUME;
            break;
        case 0xB:
            channel->volume = std::max(channel->volume - y, 0);
            channel->updateFlags |= UPDATE_VOLUME;
            break;
        case 0xC:
            if (y == 0) {
                channel->volume = 0;
                channel->updateFlags |= UPDATE_VOLUME;
            }
            break;
        case 0xF:
            // EFx sets the speed, which holds until the next EFx; the row tick counts too.
            t.invertSpeed = static_cast<uint8_t>(y);
            InvertLoopTick(player, channel);
            break;
        default: break; // E0x (the filter) and E8x change nothing here
        }
        break;
    default: break;
    }
}

void ProTrackerEffectTick(Player* player, MusicChannel* channel, const PatternCell& cell,
                          Selection* playing) {
    ProTrackerTrack& t = channel->protracker;
    const uint8_t p = cell.effectParameter;
    const int32_t x = p >> 4, y = p & 15;
    const int32_t tick = player->flow.periodTick;
    // An EFx goes on inverting on every later tick, whatever the cell holds.
    InvertLoopTick(player, channel);
    switch (cell.effect) {
    case 0x0:
        if (p != 0) Arpeggio(player, channel, p);
        break;
    case 0x1:
        channel->period = std::max(channel->period - p, LowestPeriod(player->module));
        channel->updateFlags |= UPDATE_FREQUENCY;
        break;
    case 0x2:
        channel->period = std::min(channel->period + p, HighestPeriod(player->module));
        channel->updateFlags |= UPDATE_FREQUENCY;
        break;
    case 0x3:
        if (p != 0) channel->portaSpeed = p;
        ProTrackerTonePortamento(player, channel);
        break;
    case 0x4:
        KeepCommand(&t.vibratoCommand, p);
        ProTrackerVibratoTick(player, channel);
        break;
    case 0x5:
        ProTrackerTonePortamento(player, channel);
        VolumeSlide(channel, p);
        break;
    case 0x6:
        ProTrackerVibratoTick(player, channel);
        VolumeSlide(channel, p);
        break;
    case 0x7:
        KeepCommand(&t.tremoloCommand, p);
        TremoloTick(channel);
        break;
    case 0xA: VolumeSlide(channel, p); break;
    case 0xE:
        if (x == 0x9) {
            if (y != 0 && tick % y == 0 && !(tick == 0 && IsNote(cell.note))) Retrigger(channel);
        } else if (x == 0xC) {
            if (tick == y) {
                channel->volume = 0;
                channel->updateFlags |= UPDATE_VOLUME;
            }
        } else if (x == 0xD) {
            if (tick == y && y != 0 && IsNote(cell.note)) {
                StartNote(player, channel, cell);
                *playing = ProTrackerPlaying(player, *channel);
            }
        }
        break;
    default: break;
    }
}

// 4xy and 6xy: the period moves by the waveform times the depth / 128 for this tick (the
// track's own period stays), then the phase moves on by the speed.
void ProTrackerVibratoTick(const Player* player, MusicChannel* channel) {
    (void)player;
    ProTrackerTrack& t = channel->protracker;
    const int32_t depth = t.vibratoCommand & 15, speed = t.vibratoCommand >> 4;
    const int32_t delta = Wave(channel->waveControl & 15, t.vibratoPosition) * depth >> 7;
    channel->periodDelta = t.vibratoPosition < 32 ? delta : -delta;
    t.vibratoPosition = static_cast<uint8_t>((t.vibratoPosition + speed) & 63);
    channel->updateFlags |= UPDATE_FREQUENCY;
}

// 3xx and 5xy: towards the target by the remembered speed, stopping there; with glissando the
// track sounds the nearest semitone at or below the period it has reached.
void ProTrackerTonePortamento(const Player* player, MusicChannel* channel) {
    if (channel->portaTarget == 0) return;
    const int32_t speed = channel->portaSpeed;
    if (channel->period < channel->portaTarget) {
        channel->period = std::min(channel->period + speed, channel->portaTarget);
    } else {
        channel->period = std::max(channel->period - speed, channel->portaTarget);
    }
    if (channel->period == channel->portaTarget) channel->portaTarget = 0;
    const ProTrackerTrack& t = channel->protracker;
    if (t.glissando)
        channel->periodDelta = SemitonePeriod(channel->period, t.finetune) - channel->period;
    channel->updateFlags |= UPDATE_FREQUENCY;
    (void)player;
}

// The tick's end: an offset at or past the sample's end plays its loop from the start (a
// sample without a loop is silent then), as the tracker's shortened sample does.
void ProTrackerFinishTrack(Player* player, MusicChannel* channel, const Sample* sample) {
    channel->updateFlags |= UPDATE_VOLUME | UPDATE_FREQUENCY;
    // The instrument swap: the Amiga goes on from a sample's end (or its loop's) with the loop
    // the last instrument number set, so the voice keeps the playing sample until its loop
    // comes round or it ends, then plays the chosen sample's loop from the loop start (a chosen
    // sample without a loop falls silent there). The mixer makes the switch at that frame.
    ProTrackerTrack& t = channel->protracker;
    Voice* voice = channel->voice;
    if (channel->updateFlags & UPDATE_TRIGGER) {
        t.swapPending = 0;
        t.swapTo = nullptr;
    } else if (t.swapPending && voice) {
        t.swapPending = 0;
        const Sample* next = t.chosen ? t.chosen : &emptyModSample;
        if (voice->sample == nullptr) {
            // A voice that has run out stands on the last sample's silent end, which the new
            // loop follows at once; a chosen sample without a loop leaves it silent. A track
            // that has played no note yet has no sound running to go on from.
            if (channel->sample && next->data && next->loopKind == LOOP_FORWARD &&
                next->loopLength > 0) {
                voice->sample = next;
                voice->position = next->loopStart;
                voice->positionFraction = 0;
                voice->direction = 1;
            }
            channel->sample = next;
            t.swapTo = nullptr;
        } else {
            // The playing sample chosen again takes nothing over (and drops a swap waiting).
            voice->pendingSample = next != voice->sample ? next : nullptr;
            t.swapTo = voice->pendingSample;
        }
    }
    // Once the voice has switched (or ended), the track plays the sample it was handed.
    if (t.swapTo && (!voice || voice->pendingSample != t.swapTo)) {
        channel->sample = t.swapTo;
        t.swapTo = nullptr;
    }
    if ((channel->updateFlags & UPDATE_TRIGGER) && voice) {
        if (voice->startOffset >= sample->length) {
            if (sample->loopKind == LOOP_FORWARD) {
                voice->startOffset = sample->loopStart;
            } else {
                voice->startOffset = 0;
                sample = &silentSample;
            }
        }
    }
    if (sample->length == 0) sample = &silentSample;
    UpdateVoice(player, channel, sample);
}

// Decision: every looping sample of a song with an EFx gets a copy when the player is made,
// though only the samples an EFx meets while the song plays would need one: which those are
// is only known as it plays, and the thread that renders allocates nothing. Every other song
// plays the song's own records (and other players of the song never see the inversions).
bool ProTrackerMakeOwnSamples(Player* player) {
    const Module* module = player->module;
    if (!InvertsLoops(module)) return true;
    const size_t count = static_cast<size_t>(module->sampleCount) + 1;
    player->ownSamples = static_cast<Sample**>(std::calloc(count, sizeof(Sample*)));
    if (!player->ownSamples) return false;
    bool made = true;
    ForEachSongSample(module, [&](const Sample* sample) {
        if (!made || !sample->data || sample->loopKind != LOOP_FORWARD ||
            player->ownSamples[sample->id])
            return;
        const size_t bytes = sizeof(int16_t) * (size_t{sample->length} + 8);
        auto* copy = static_cast<Sample*>(std::malloc(sizeof(Sample)));
        auto* data = static_cast<int16_t*>(std::malloc(bytes));
        if (!copy || !data) {
            std::free(copy);
            std::free(data);
            made = false;
            return;
        }
        *copy = *sample;
        std::memcpy(data, sample->data, bytes);
        copy->data = data;
        player->ownSamples[sample->id] = copy;
    });
    return made;
}

void ProTrackerRestoreOwnSamples(Player* player) {
    if (!player->ownSamples) return;
    ForEachSongSample(player->module, [&](const Sample* sample) {
        Sample* own = player->ownSamples[sample->id];
        if (own && own->data && sample->data)
            std::memcpy(own->data, sample->data, sizeof(int16_t) * (size_t{sample->length} + 8));
    });
}

void ProTrackerFreeOwnSamples(Player* player) {
    if (!player->ownSamples) return;
    for (int32_t id = 0; id <= player->module->sampleCount; ++id) {
        if (!player->ownSamples[id]) continue;
        std::free(player->ownSamples[id]->data);
        std::free(player->ownSamples[id]);
    }
    std::free(player->ownSamples);
    player->ownSamples = nullptr;
}
