// rules_protracker.h: what ProTracker's rules' files (rules_protracker.cpp,
// protracker_effects.cpp) share with each other and with nothing else but their tests; a track's
// own part for these rules is in protracker_track.h. Runs inside MixBlock, on the thread that
// renders the player.
#pragma once

#include <cstdint>

struct MusicChannel;
struct Module;
struct PatternCell;
struct Player;
struct RowLevels;
struct Sample;
struct Selection;

// ---- Periods (rules_protracker.cpp) ----
// The Amiga period of note `note` (0 = C-1, 35 = B-3; other trackers' files reach an octave
// beyond on either side) at finetune -8..7. Within C-1..B-3 these are the tracker's tables.
int32_t ProTrackerPeriod(int32_t note, int32_t finetune);
// The periods a track may reach: 113-856 for the original tracker and the trackers that keep
// its limits, wider for the multichannel trackers.
int32_t LowestPeriod(const Module* module);
int32_t HighestPeriod(const Module* module);
// The period `period` rounded to the nearest semitone of the finetune's table (glissando), and
// the period `steps` semitones above it as an arpeggio finds it.
int32_t SemitonePeriod(int32_t period, int32_t finetune);
int32_t ArpeggioPeriod(int32_t period, int32_t finetune, int32_t steps);

// ---- The note side and the effect column (protracker_effects.cpp) ----
Selection ProTrackerNoteRow(Player* player, MusicChannel* channel, const PatternCell& cell);
Selection ProTrackerPlaying(const Player* player, const MusicChannel& channel);
void ProTrackerEffectRow(Player* player, MusicChannel* channel, const PatternCell& cell,
                         const Selection& playing, const RowLevels& before);
void ProTrackerEffectTick(Player* player, MusicChannel* channel, const PatternCell& cell,
                          Selection* playing);
void ProTrackerFinishTrack(Player* player, MusicChannel* channel, const Sample* sample);
void ProTrackerVibratoTick(const Player* player, MusicChannel* channel);
void ProTrackerTonePortamento(const Player* player, MusicChannel* channel);
// EFx inverts the bytes of a loop in the player's own copies of the song's looping samples,
// made with the player when the song's patterns hold an EFx (x above 0), else none; the
// copies are given the song's bytes again at every playback start.
bool ProTrackerMakeOwnSamples(Player* player);
void ProTrackerRestoreOwnSamples(Player* player);
void ProTrackerFreeOwnSamples(Player* player);
