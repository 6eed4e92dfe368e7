// rule_set.h: a rule set, the table of operations a player plays its song by. CreatePlayer
// chooses one (demoRules, standardRules, or protrackerRules for a MOD song) and keeps it for the
// player's life; the row and tick driver (sequencer.cpp) and the shared primitives call through it,
// and nothing else asks which rule set plays. What the rule sets share is written once
// (sequencer_internal.h: the waveforms, memories and slides, the retrigger table, the envelope
// shapes and placement, the volume column, periods and frequencies); every difference is a
// parameter or an operation here. Runs inside MixBlock, on the thread that renders the player.
#pragma once

#include <cstdint>

struct Instrument;
struct MusicChannel;
struct PatternCell;
struct Player;
struct Sample;
struct Voice;

// The instrument a track plays now and the sample its note took.
struct Selection {
    const Instrument* instrument;
    const Sample* sample;
};

// Levels of a track before its row-tick cell was applied (a note delay puts them back).
struct RowLevels {
    int32_t volume;
    int32_t period;
    int32_t panning;
};

// The volume column's differences (volume_column.cpp plays the column for every rule set).
struct VolumeColumnRules {
    bool slidesOnRowTick;      // the slides (6x, 7x, Dx, Ex) act on the row tick too
    bool depthOnRowTick;       // Bx sets the vibrato depth on the row tick (else on later ticks)
    bool zeroKeepsVibrato;     // A0 and B0 keep the speed and depth (else they set 0)
    bool limitedPanningSlides; // Dx and Ex stop at the sides (D0 goes hard left)
};

struct RuleSet {
    // ---- The song's clock ----
    // One tick: the row tick or a later one (ProcessRow, ProcessTick), and at a row's end the
    // next row, order position or pattern delay.
    void (*advance)(Player* player);
    // The clock's own state (the demo's pattern delay, the standard rules' flow marks) as a
    // playback start or a seek leaves it.
    void (*resetFlow)(Player* player);
    // A row's flow commands on one track (B, D, E6x, EEx, F and any of the set's own);
    // jumpSeen carries a B across the row's tracks.
    void (*flowControl)(Player* player, MusicChannel* channel, const PatternCell& cell,
                        bool* jumpSeen);

    // ---- One track's row tick, in this order (after the shared start: levels kept, deltas
    // and flags cleared) ----
    // Note trigger, instrument, key-off and the volume column's row tick; returns the instrument
    // and sample the track then plays.
    Selection (*noteRow)(Player* player, MusicChannel* channel, const PatternCell& cell);
    // The instrument and sample the track plays now.
    Selection (*playing)(const Player* player, const MusicChannel& channel);
    void (*effectRow)(Player* player, MusicChannel* channel, const PatternCell& cell,
                      const Selection& playing, const RowLevels& before);
    // ---- One track's later tick: the volume column's tick (shared), then ----
    // The effect column; a note it starts (a delayed note) updates `playing`.
    void (*effectTick)(Player* player, MusicChannel* channel, const PatternCell& cell,
                       Selection* playing);
    // ---- Both ticks' end ----
    // Envelopes and fade-out for one tick; rowTick tells the row tick from the later ones.
    void (*envelopes)(MusicChannel* channel, const Instrument* instrument, bool rowTick);
    // The envelopes step before the effect column (the row's effects and the volume column's
    // tick then see this tick's envelope) or after it.
    bool envelopesBeforeEffects;
    void (*autoVibrato)(MusicChannel* channel, const Instrument* instrument);
    // Pushes what the tick changed into the voice (UpdateVoice, with the set's own limits).
    void (*finishTrack)(Player* player, MusicChannel* channel, const Sample* sample);

    // ---- Operations the shared primitives call ----
    // One later tick of vibrato (its offset, then the phase moved on) and of tone portamento,
    // for the effect column and the volume column alike.
    void (*vibratoTick)(const Player* player, MusicChannel* channel);
    void (*tonePortamento)(const Player* player, MusicChannel* channel);
    VolumeColumnRules volumeColumn;
    // Rxy's x = 6 (about two thirds): 2v/3, or the sum of shifts v/2 + v/8 + v/16.
    bool retrigTwoThirdsByShifts;

    // ---- The laws that carry a track into its voice ----
    // The voice's volume (and side volumes) from the track's volume, envelope, fade-out and the
    // global volume; its panning (and side volumes) from the track's panning and envelope; the
    // playback frequency in Hz of the track's period and delta.
    void (*volumeLaw)(const Player* player, MusicChannel* channel);
    void (*panningLaw)(const Player* player, MusicChannel* channel);
    int32_t (*frequencyLaw)(const Player* player, const MusicChannel* channel);

    // ---- What the listener's controls start at ----
    // The stereo separation (percent, as MixControls::separation) a new player starts with.
    int32_t defaultSeparation;
    // ---- The mix ----
    // The level of the whole mix in dB, before the listener's gain (0: as the voices sum).
    float levelDb;
    // ---- The player's own copies of samples it changes (optional: null where none are) ----
    // Made with the player (false: out of memory), given the song's bytes again at every
    // playback start, freed with the player (also after a failed make).
    bool (*makeOwnSamples)(Player* player);
    void (*restoreOwnSamples)(Player* player);
    void (*freeOwnSamples)(Player* player);
};

// The demo's rules (rules_demo.cpp) and the format's, as the original tracker plays it
// (rules_standard.cpp); MOD songs play by ProTracker's (rules_protracker.cpp).
extern const RuleSet demoRules;
extern const RuleSet standardRules;
extern const RuleSet protrackerRules;
