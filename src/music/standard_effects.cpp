// standard_effects.cpp: the effect column under the standard rules, as the original tracker plays
// it: every effect's row-tick and later-tick halves with the tracker's own parameter memories,
// limits and counters. Sample offset (9xx), note delay (EDx) and key-off (Kxx) belong to the note
// side (standard_notes.cpp), flow control (B, D, E6x, EEx, F) to the table's flow operation
// (rules_standard.cpp). Runs inside
// MixBlock on the thread that renders the player.
#include "music/mixer.h"
#include "music/module.h"
#include "music/player.h"
#include "music/rules_standard.h"
#include "music/sequencer_internal.h"

#include <algorithm>
#include <cstdlib>

namespace {

// The tracker's period limits for the slides: a slide up stops at 1, a slide down at 31999, in
// both frequency tables.
constexpr int32_t LOWEST_PERIOD = 1;
constexpr int32_t HIGHEST_PERIOD = 31999;
constexpr int32_t HIGHEST_NOTE = 119;            // B-9, as a 0-based note
constexpr int32_t ARPEGGIO_LIMIT = 95 * 16 + 15; // in 1/16 semitones

bool LinearTable(const Player* player) {
    return (player->module->flags & MODULE_LINEAR_FREQUENCIES) != 0;
}

// The tracker adds vibrato and arpeggio to the period; periodDelta counts towards a higher pitch
// for the linear table and towards a higher period for the Amiga one.
void OffsetPeriod(const Player* player, MusicChannel* channel, int32_t periodOffset) {
    channel->periodDelta = LinearTable(player) ? -periodOffset : periodOffset;
    channel->updateFlags |= UPDATE_FREQUENCY;
}

// Sets the track's volume; whatever tremolo held the sound at ends with it.
void SetVolume(MusicChannel* channel, int32_t volume) {
    channel->volume = std::clamp(volume, 0, 64);
    channel->standard.effects.outVolumeHeld = 0;
    channel->updateFlags |= UPDATE_VOLUME;
}

void HoldOutVolume(MusicChannel* channel, int32_t volume) {
    channel->standard.effects.outVolume = std::clamp(volume, 0, 64);
    channel->standard.effects.outVolumeHeld = 1;
    channel->updateFlags |= UPDATE_VOLUME;
}

// Axy (and 5xy, 6xy): up by x when x is set, else down by y.
void VolumeSlide(MusicChannel* channel) {
    SetVolume(channel, Slide(channel->volume, channel->volumeSlideMemory, 0, 64));
}

void ApplyVibrato(const Player* player, MusicChannel* channel) {
    const int32_t phase = channel->vibratoPosition;
    const int32_t m = WaveMagnitude(channel->waveControl & 3, phase, phase);
    const int32_t amount = (m * channel->vibratoDepth) >> 5;
    channel->standard.effects.vibratoOffset = phase < 0 ? -amount : amount;
    OffsetPeriod(player, channel, channel->standard.effects.vibratoOffset);
}

// The row tick of a vibrato row: the pitch the last tick left stays (the position moved on
// since, but nothing is worked out on the row tick); a new note starts from its own pitch.
void HoldVibrato(const Player* player, MusicChannel* channel, const PatternCell& cell) {
    if (IsNote(cell.note) && !IsTonePortamentoRow(cell))
        channel->standard.effects.vibratoOffset = 0;
    OffsetPeriod(player, channel, channel->standard.effects.vibratoOffset);
}

// A pseudo-random step from -255 to 255 for the tremolo's fourth waveform.
int32_t RandomStep(StandardEffectState* s) {
    s->randomState = s->randomState * 1103515245u + 12345u;
    return static_cast<int32_t>((s->randomState >> 16) % 511) - 255;
}

void TremoloTick(MusicChannel* channel) {
    const int32_t phase = channel->tremoloPosition;
    const int32_t waveform = (channel->waveControl >> 4) & 3;
    int32_t step = 0;
    if (waveform == 3) {
        // The fourth waveform is random: a new level on every tick.
        step = RandomStep(&channel->standard.effects);
    } else {
        // The ramp-down waveform turns on the vibrato's phase, not the tremolo's: the tracker
        // reads the wrong position there, so the ramp follows whatever the vibrato last did.
        const int32_t m = WaveMagnitude(waveform, phase, channel->vibratoPosition);
        step = phase < 0 ? -m : m;
    }
    const int32_t amount = (std::abs(step) * channel->tremoloDepth) >> 6;
    HoldOutVolume(channel, step < 0 ? channel->volume - amount : channel->volume + amount);
    channel->tremoloPosition = AdvancePhase(channel->tremoloPosition, channel->tremoloSpeed);
}

// Txy: x + 1 ticks on, y + 1 ticks off, counted on the later ticks only; the count goes on
// across rows and starts over only when the note restarts. An off phase silences the track until
// tremor turns it on again or the note restarts: a volume set meanwhile (C, the volume column)
// changes the volume the track comes back at, not the silence.
void TremorTick(MusicChannel* channel, uint8_t parameter) {
    StandardEffectState& s = channel->standard.effects;
    Remember(&s.tremorMemory, parameter);
    bool on = (s.tremorPosition & 0x80) != 0;
    int32_t left = (s.tremorPosition & 0x7F) - 1;
    if (left < 0) {
        on = !on;
        left = on ? s.tremorMemory >> 4 : s.tremorMemory & 15;
    }
    s.tremorPosition = static_cast<uint8_t>((on ? 0x80 : 0) | left);
    s.tremorMuted = on ? 0 : 1;
    channel->updateFlags |= UPDATE_VOLUME;
}

// The note (0-based, at the track's finetune) whose period is nearest to `period`: glissando
// rounds the slide to it and arpeggio counts from it.
int32_t NearestNote(const Player* player, const MusicChannel* channel, int32_t period) {
    const int32_t finetune = channel->sample ? SampleFinetune(player, channel->sample) : 0;
    int32_t note = 0;
    int32_t nearest = INT32_MAX;
    for (int32_t n = 0; n <= HIGHEST_NOTE; ++n) {
        const int32_t distance = std::abs(NotePeriod(player->module, n, finetune) - period);
        if (distance < nearest) {
            nearest = distance;
            note = n;
        }
    }
    return note;
}

// 0xy on the later ticks: the note, the note + x or the note + y, by the ticks left in the row
// period (the tracker counts them down): 1 left plays x, 2 y, 3 the note, and so on. Its table
// has 16 entries: 16 ticks left play the note and more than 16 play y. The note is the one the
// period stands at (after a slide too), in 1/16 semitones, and the tracker's lookup stops at
// 15/16 above note 95 (B-7): higher arpeggio notes all play that.
void Arpeggio(const Player* player, MusicChannel* channel, uint8_t parameter) {
    const int32_t left = player->speed - player->flow.periodTick;
    const int32_t step = left == 16 ? 0 : left > 16 ? 2 : ((left % 3) + 3) % 3;
    if (step == 0) {
        OffsetPeriod(player, channel, 0);
        return;
    }
    const int32_t semitones = step == 1 ? parameter >> 4 : parameter & 15;
    const Module* module = player->module;
    const int32_t finetune = channel->sample ? SampleFinetune(player, channel->sample) : 0;
    const int32_t note = NearestNote(player, channel, channel->period);
    int32_t target = 0;
    if ((note + semitones) * 16 + (finetune >> 3) > ARPEGGIO_LIMIT)
        target = NotePeriod(module, ARPEGGIO_LIMIT / 16, (ARPEGGIO_LIMIT % 16) * 8);
    else
        target = NotePeriod(module, note + semitones, (finetune >> 3) * 8);
    OffsetPeriod(player, channel, target - channel->period);
}

// The restart that a retriggered note gets (E9x): the playing instrument as a new note restarts
// it (its envelopes, the key, the fade-out and auto-vibrato; volume and panning stay), the
// vibrato and tremolo phases unless their waveform keeps them, and the effect column's counters.
void RetriggerRestart(MusicChannel* channel) {
    RestartPlayingInstrument(channel);
    if ((channel->waveControl & 0x04) == 0) channel->vibratoPosition = 0;
    if ((channel->waveControl & 0x40) == 0) channel->tremoloPosition = 0;
    StandardRestartEffects(channel);
    channel->updateFlags |= UPDATE_VOLUME | UPDATE_PANNING;
}

void Retrigger(MusicChannel* channel) {
    channel->updateFlags |= UPDATE_TRIGGER | UPDATE_FREQUENCY | UPDATE_VOLUME;
}

void MultiRetrigger(const Player* player, MusicChannel* channel, const PatternCell& cell) {
    StandardEffectState& s = channel->standard.effects;
    s.retrigCounter += 1;
    if (s.retrigCounter < channel->retrigIntervalMemory) return;
    s.retrigCounter = 0;
    SetVolume(channel, RetrigVolume(channel->volume, channel->retrigVolumeMemory,
                                    player->ruleSet->retrigTwoThirdsByShifts));
    // The volume column's volume and panning are taken again at every retrigger.
    const uint8_t v = cell.volumeColumn;
    if (v >= 0x10 && v <= 0x50) SetVolume(channel, v - 0x10);
    if (v >= 0xC0 && v <= 0xCF) {
        channel->panning = (v & 15) * 16;
        channel->updateFlags |= UPDATE_PANNING;
    }
    Retrigger(channel);
}

// G and H reach every track at once: all the voices' volumes follow on this tick, those of the
// tracks already processed included.
void RefreshVolumes(Player* player) {
    const int32_t tracks = TrackCount(player->module);
    for (int32_t c = 0; c < tracks; ++c) StandardVolumeStep(player, &player->channels[c]);
}

void SetGlobalVolume(Player* player, int32_t volume) {
    player->globalVolume = std::clamp(volume, 0, 64);
    RefreshVolumes(player);
}

void SlidePeriod(MusicChannel* channel, int32_t amount) {
    channel->period = std::clamp(channel->period + amount, LOWEST_PERIOD, HIGHEST_PERIOD);
    channel->updateFlags |= UPDATE_FREQUENCY;
}

void ExtendedRow(Player* player, MusicChannel* channel, const PatternCell& cell) {
    StandardEffectState& s = channel->standard.effects;
    const uint8_t y = cell.effectParameter & 15;
    switch (cell.effectParameter >> 4) {
    case 0x1:
        Remember(&channel->finePortaUpMemory, y);
        SlidePeriod(channel, -4 * channel->finePortaUpMemory);
        break;
    case 0x2:
        Remember(&channel->finePortaDownMemory, y);
        SlidePeriod(channel, 4 * channel->finePortaDownMemory);
        break;
    case 0x3: s.glissando = y; break;
    case 0x4: channel->waveControl = (channel->waveControl & 0xF0) | y; break;
    case 0x5:
        // The finetune holds for the note on this row only (the next note takes its sample's
        // again): y = 8 is none, every step 1/8 of a semitone.
        if (IsNote(cell.note)) {
            channel->notePeriod = NotePeriod(player->module, channel->realNote, y * 16 - 128);
            if (!IsTonePortamentoRow(cell)) channel->period = channel->notePeriod;
        }
        break;
    case 0x7:
        channel->waveControl = static_cast<uint8_t>((channel->waveControl & 0x0F) | (y << 4));
        break;
    case 0x8:
        channel->panning = y * 16;
        channel->updateFlags |= UPDATE_PANNING;
        break;
    case 0x9:
        // E90 retriggers on the row tick (a row without a note too); E9x on every x-th later tick.
        if (y == 0) {
            RetriggerRestart(channel);
            Retrigger(channel);
        }
        break;
    // The fine volume slides keep a memory each, apart from each other and from Axy.
    case 0xA:
        Remember(&s.fineVolumeUpMemory, y);
        SetVolume(channel, channel->volume + s.fineVolumeUpMemory);
        break;
    case 0xB:
        Remember(&s.fineVolumeDownMemory, y);
        SetVolume(channel, channel->volume - s.fineVolumeDownMemory);
        break;
    case 0xC:
        if (y == 0) SetVolume(channel, 0);
        break;
    default: break; // E0, E6, EE, EF: nothing here; ED is the note side's
    }
}

void ExtendedTick(Player* player, MusicChannel* channel, const PatternCell& cell) {
    const int32_t y = cell.effectParameter & 15;
    // Counted within the row period: a pattern delay's later periods retrigger and cut again,
    // the retrigger on their first tick too.
    const int32_t tick = player->flow.periodTick;
    switch (cell.effectParameter >> 4) {
    case 0x9:
        if (y != 0 && tick % y == 0) {
            RetriggerRestart(channel);
            Retrigger(channel);
        }
        break;
    case 0xC:
        if (tick == y) SetVolume(channel, 0);
        break;
    default: break;
    }
}

// Before the effect column runs on a tick: a restart of the note by the note side (its
// hand-over, noteRestarted) starts the counters over, and a volume that the note side set ends
// what tremolo held.
void Arrive(MusicChannel* channel, bool keyOffRow) {
    StandardEffectState& s = channel->standard.effects;
    // A key-off with an instrument starts tremor's count over, but multi-retrigger's goes on.
    if (channel->standard.noteRestarted) {
        const uint8_t retrigCounter = s.retrigCounter;
        StandardRestartEffects(channel);
        if (keyOffRow) s.retrigCounter = retrigCounter;
    }
    if (channel->volume != s.lastVolume) s.outVolumeHeld = 0;
}

void Leave(MusicChannel* channel) {
    StandardEffectState& s = channel->standard.effects;
    channel->standard.noteRestarted = 0;
    s.lastVolume = channel->volume;
    if (s.tremorMuted) {
        channel->volumeDelta = -channel->volume;
        channel->updateFlags |= UPDATE_VOLUME;
    } else if (s.outVolumeHeld) {
        channel->volumeDelta = s.outVolume - channel->volume;
        channel->updateFlags |= UPDATE_VOLUME;
    }
}

} // namespace

void StandardRestartEffects(MusicChannel* channel) {
    channel->standard.effects.tremorPosition = 0;
    channel->standard.effects.tremorMuted = 0;
    channel->standard.effects.retrigCounter = 0;
}

void StandardVibratoTick(const Player* player, MusicChannel* channel) {
    ApplyVibrato(player, channel);
    channel->vibratoPosition = AdvancePhase(channel->vibratoPosition, channel->vibratoSpeed);
}

void StandardTonePortamento(const Player* player, MusicChannel* channel) {
    StandardEffectState& s = channel->standard.effects;
    const int32_t step = 4 * channel->portaSpeed;
    // Once there the direction becomes "up", not "none": a later 3xx with no note, after the
    // period moved past the target, jumps straight back to it instead of sliding.
    if (s.portaDirection == 1) {
        channel->period += step;
        if (channel->period >= channel->portaTarget) {
            channel->period = channel->portaTarget;
            s.portaDirection = 1;
        }
    } else if (s.portaDirection == 2) {
        channel->period -= step;
        if (channel->period <= channel->portaTarget) {
            channel->period = channel->portaTarget;
            s.portaDirection = 1;
        }
    } else {
        return;
    }
    channel->updateFlags |= UPDATE_FREQUENCY;
    if (s.glissando) {
        // Glissando: the slide goes on underneath, the pitch moves in semitones.
        const int32_t finetune = channel->sample ? SampleFinetune(player, channel->sample) : 0;
        const int32_t note = NearestNote(player, channel, channel->period);
        OffsetPeriod(player, channel, NotePeriod(player->module, note, finetune) - channel->period);
    }
}

void StandardEffectRow(Player* player, MusicChannel* channel, const PatternCell& cell,
                       const Selection& playing, const RowLevels& before) {
    (void)before;
    StandardEffectState& s = channel->standard.effects;
    Arrive(channel, cell.note == 255);
    const uint8_t v = cell.volumeColumn;
    if (cell.instrument != 0 || (v >= 0x10 && v <= 0x50)) s.outVolumeHeld = 0;
    if (cell.effect != 0x4 && cell.effect != 0x6) s.vibratoOffset = 0;

    const uint8_t p = cell.effectParameter, x = p >> 4, y = p & 15;
    switch (cell.effect) {
    case 0x1: Remember(&channel->portaUpMemory, p); break;
    case 0x2: Remember(&channel->portaDownMemory, p); break;
    case 0x3:
    case 0x5:
        if (cell.effect == 0x3 && p != 0) channel->portaSpeed = p;
        if (cell.effect == 0x5) Remember(&channel->volumeSlideMemory, p);
        // The note is the slide's target: nothing starts and the period stays.
        channel->updateFlags &= ~(UPDATE_TRIGGER | UPDATE_FREQUENCY);
        break;
    case 0x4:
        if (x != 0) channel->vibratoSpeed = x;
        if (y != 0) channel->vibratoDepth = y;
        HoldVibrato(player, channel, cell);
        break;
    case 0x6:
        Remember(&channel->volumeSlideMemory, p);
        HoldVibrato(player, channel, cell);
        break;
    case 0x7:
        if (x != 0) channel->tremoloSpeed = x;
        if (y != 0) channel->tremoloDepth = y;
        break;
    case 0x8:
        channel->panning = p;
        channel->updateFlags |= UPDATE_PANNING;
        break;
    case 0xA: Remember(&channel->volumeSlideMemory, p); break;
    case 0xC: SetVolume(channel, p); break;
    case 0xE: ExtendedRow(player, channel, cell); break;
    case 0x10: SetGlobalVolume(player, p); break;
    case 0x11: Remember(&player->globalVolumeSlideMemory, p); break;
    case 0x15: SetStandardEnvelopePosition(channel, playing.instrument, p); break;
    case 0x19: Remember(&channel->panningSlideMemory, p); break;
    case 0x1B:
        // Each nibble keeps its own memory.
        if (x != 0) channel->retrigVolumeMemory = x;
        if (y != 0) channel->retrigIntervalMemory = y;
        // The row tick counts towards the interval too (a note there leaves the count as it
        // is), except on a row whose volume column sets a volume above 0.
        if (v < 0x11 || v > 0x50) MultiRetrigger(player, channel, cell);
        break;
    case 0x1D: Remember(&s.tremorMemory, p); break;
    case 0x21:
        if (x == 1) {
            Remember(&channel->extraFinePortaUpMemory, y);
            SlidePeriod(channel, -channel->extraFinePortaUpMemory);
        } else if (x == 2) {
            Remember(&channel->extraFinePortaDownMemory, y);
            SlidePeriod(channel, channel->extraFinePortaDownMemory);
        }
        break;
    default: break; // 0, B, D, F, K and the unused numbers: nothing on the row tick
    }
    Leave(channel);
}

void StandardEffectTick(Player* player, MusicChannel* channel, const PatternCell& cell,
                        const Selection& playing) {
    (void)playing;
    Arrive(channel, false);
    const uint8_t p = cell.effectParameter;
    switch (cell.effect) {
    case 0x0:
        if (p != 0) Arpeggio(player, channel, p);
        break;
    case 0x1: SlidePeriod(channel, -4 * channel->portaUpMemory); break;
    case 0x2: SlidePeriod(channel, 4 * channel->portaDownMemory); break;
    case 0x3: StandardTonePortamento(player, channel); break;
    case 0x4:
        // The parameters are taken on every tick: they win over a volume-column vibrato's.
        if (p >> 4) channel->vibratoSpeed = p >> 4;
        if (p & 15) channel->vibratoDepth = p & 15;
        StandardVibratoTick(player, channel);
        break;
    case 0x5:
        StandardTonePortamento(player, channel);
        VolumeSlide(channel);
        break;
    case 0x6:
        StandardVibratoTick(player, channel);
        VolumeSlide(channel);
        break;
    case 0x7: TremoloTick(channel); break;
    case 0xA: VolumeSlide(channel); break;
    case 0xE: ExtendedTick(player, channel, cell); break;
    case 0x11: {
        const uint8_t m = player->globalVolumeSlideMemory;
        if (m != 0) SetGlobalVolume(player, Slide(player->globalVolume, m, 0, 64));
        break;
    }
    case 0x19:
        channel->panning = Slide(channel->panning, channel->panningSlideMemory, 0, 255);
        channel->updateFlags |= UPDATE_PANNING;
        break;
    case 0x1B: MultiRetrigger(player, channel, cell); break;
    case 0x1D: TremorTick(channel, p); break;
    default: break;
    }
    Leave(channel);
}
