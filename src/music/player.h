// player.h: the player: everything that changes while a song plays (position and tempo, the 32
// tracks, the 64 voices, the mixer's buffers and ring), in one record its caller owns. The song
// it plays is read-only, so several players may play one song, on several threads (one thread
// per player at a time). This is the C++ layer under the public API (include/neatxm.h).
#pragma once

#include <cstdint>

#include "music/mix_controls.h"
#include "music/mixer.h"
#include "music/player_events.h"
#include "music/seeking.h"
#include "music/sequencer.h"

struct Module;
struct PatternCell;
struct RuleSet;

// The rule set a player is made with (its table of operations: rule_set.h). Standard: the
// format as the original tracker plays it, panning 0 left and 255 right. Demo: the demo's own
// rules; panning 255 gives the whole volume to the first output channel (the demo's soundtrack
// was mixed that way). A MOD song plays by ProTracker's rules under Standard; the demo's rules
// play XM songs only (CreatePlayer refuses a MOD song under them).
enum class PlayerRules : uint8_t { Standard = 0, Demo = 1 };
// At the song's first wrap: go on (the demo), or stop handing out frames there.
enum class EndMode : uint8_t { Wrap = 0, Stop = 1 };

using PlayerHandler = void (*)(Player* player);

struct PlayerPosition {
    int32_t order;
    int32_t pattern;
    int32_t row; // the row really playing (a pattern loop's jump row included)
    int32_t tick;
    int32_t speed;
    int32_t bpm;
};

// A tick that fell inside the block last mixed: its first frame within the block and where the
// song stood.
struct TickMark {
    int32_t frame;
    PlayerPosition position;
};
// Ticks remembered per block; real tempos give at most three. Beyond that the last one is
// overwritten, so positions inside a block are then coarser, never wrong at its end.
constexpr int TICK_MARKS = 8;

// The song has wrapped when it enters an order position at a row where it has entered before
// (the end of the order list going back to the restart position, or a jump or break back to a
// place already played). Pattern loops move only the row within an order and are not entries.
// After each wrap the record starts afresh from the place wrapped to, so every later pass
// through the song is noticed too.
struct WrapWatch {
    bool started;       // a row tick was played
    int32_t wraps;      // wraps so far
    int64_t firstFrame; // frame (from playback start) of the first wrap's row tick, or -1
    int32_t firstOrder; // where the first wrap came back to
    int32_t firstRow;
    int64_t lastFrame;             // frame of the latest wrap's row tick, or -1
    uint8_t entered[256][256 / 8]; // order x row entry points seen since the last wrap
};

// Flow control as the original tracker keeps it (the standard rules only; the demo's rules move
// the row directly). A row's B, D, E6x and EEx only leave marks here; the row's end acts on them.
struct StandardFlow {
    int32_t breakRow = 0;   // row the next pattern starts at: D's row or a pattern loop's
                            // start, which outlives the loop (cleared when a pattern starts)
    int32_t jumpOrder = -1; // B's order position, -1 when none
    bool loopJump = false;  // a pattern loop goes back to breakRow at the row's end
    bool exclusiveLoopJump = false; // Module::exclusiveLoops: a loop goes back to loopTarget
    int32_t loopTarget = 0;         // ...leaving B, D and the break row aside
    bool orderJump = false;         // B or D: the next order position starts at the row's end
    int32_t delayRows = 0;          // EEy on the row just read: y + 1 row periods in all
    int32_t delayRowsLeft = 0;      // row periods of a pattern delay still to come (no row is read)
    int32_t fineDelayTicks = 0;     // X6x: ticks added to every row period of the row
    int32_t periodTick = 0;         // ticks into the current row period
    bool loopJumped = false;        // ProTracker's rules: a loop jumped at this row's end
    int32_t heldOrder = -1;         // ...and the order position and row a B or D inside a
    int32_t heldRow = 0;            // pattern delay went to (the delay's count runs on there)
    int32_t nextTickFrames = 0;     // Module::tempoFromNextTick: the frames of the ticks after
                                    // this one, of a tempo this tick read (0 when none waits)
};

struct Player {
    const Module* song;   // the song the player was made for (its players are counted there)
    const Module* module; // what it plays: the song, or its reading for the standard rules
    PlayerRules rules;
    const RuleSet* ruleSet; // the table of `rules`, chosen once when the player is made
    EndMode endMode;

    // ---- Sequencer: the playing position and tempo, reset by playback start ----
    int32_t globalVolume;
    uint8_t globalVolumeSlideMemory;
    int32_t tick;
    int32_t speed;
    int32_t bpm;
    int32_t row;
    int32_t orderPosition;
    int32_t nextRow;
    int32_t nextOrderPosition;
    int32_t playingRow; // row read by the last row tick
    // What one rule set's clock keeps beside (its table's resetFlow starts it again): the demo's
    // pattern delay, the standard rules' flow marks.
    int32_t patternDelayTicks;
    StandardFlow flow;
    PlayerHandler startHandler; // called by playback start; none by default
    PlayerHandler tickHandler;  // SequencerTick, or a wrapper of it
    void* handlerContext;       // the installer's own pointer for its handlers; null by default
    // The cells the last row tick read (channelCount of them; an empty row when the row lay
    // outside its pattern); the later ticks of that row work on them. Null before the first.
    const PatternCell* currentRowCells;
    PlayerPosition position; // after the last tick
    WrapWatch watch;
    MusicChannel channels[MAX_CHANNELS];
    // Finetunes of the song's samples as this player plays them (an E5 command changes them for
    // the rest of the playback); index = Sample::id.
    int8_t* sampleFinetunes;
    // This player's own copies of the samples its rule set changes as it plays (ProTracker's
    // EFx inverts a loop's bytes); index = Sample::id, null where the song's own record plays.
    // Null as a whole for every song that changes no sample.
    Sample** ownSamples;

    // ---- Mixer ----
    int32_t tickFramesLeft; // output frames until the next tick
    int32_t tickFrames;     // SetBpm: output frames per tick
    int32_t elapsedMs;      // milliseconds rendered since playback start, as the position table
                            // keeps them (each run's share truncated)
    int64_t framesMixed;    // frames mixed since playback start
    MixerState mixer;
    Voice voices[MIXED_VOICES];
    PlayerPosition blockStart; // where the song stood when the last block began
    TickMark marks[TICK_MARKS];
    int32_t markCount;

    // ---- Pull rendering (RenderPcm16 / RenderFloat) ----
    int32_t pullBlock;      // ring block being handed out, -1 before the first
    int32_t pullOffset;     // frames of it handed out
    int64_t pullBlockFrame; // frame (from playback start) of its first frame
    int64_t framesPulled;   // frames handed out, for the time; a seek sets it anew
    PlayerPosition heard;   // where the song stood at the last frame handed out

    // ---- The listener's controls (mix_controls.h), read at each block's start ----
    MixControls controls;

    // ---- Seeking, the repeat count and the song's events (seeking.h, player_events.h) ----
    SeekState seek;
    PlayerEventQueue events;
};

// Rates a player works at: below 50 Hz a block would hold no frame, and far above the common
// rates the ring's size arithmetic would overflow.
constexpr int32_t LOWEST_RATE = 50;
constexpr int32_t HIGHEST_RATE = 384000;
// Blocks in the output's ring: about two seconds.
constexpr int32_t OUTPUT_RING_BLOCKS = 100;

// A player for `module` at `rate` Hz with a ring of `ringBlocks` blocks of BlockFrames(rate)
// frames, positioned at the song's start (nothing rendered yet). Null for a null module, a rate
// outside LOWEST_RATE..HIGHEST_RATE, no blocks, or no memory.
Player* CreatePlayer(const Module* module, int32_t rate, PlayerRules rules, int32_t ringBlocks = 1);
void DestroyPlayer(Player* player);

// The playback start's reset: the song's playback fields, the startHandler, the tempo, the
// channels, the voices, the ring (fillBlock 0), the wrap watch and the pull position.
void ResetPlayback(Player* player);
// The same but for the ring, its position table and fillBlock, which stay as they are (a seek
// under an output whose device still plays the ring).
void RestartSong(Player* player);
// Renders every block of the ring once, in order, from fillBlock 0 (ends at 0 again).
void PrefillRing(Player* player);

// Pull rendering: the blocks MixBlock renders, handed out in order in pieces of any size. The
// same frames for any split of the same total. Returns the frames written (fewer only when the
// end mode stopped at a wrap).
int32_t RenderPcm16(Player* player, int16_t* interleaved, int32_t frames);
int32_t RenderFloat(Player* player, float* interleaved, int32_t frames);
// True when the end mode is Stop and the song has wrapped at the frame handed out next.
bool PlayerEnded(const Player* player);
// Starts the order position `order` at its first row with the next frame handed out; the frame
// count becomes the time at which the song first reaches that position from its start (or stays
// when it does not before wrapping). False for an order outside the song.
bool SeekOrder(Player* player, int32_t order);

// The frames from playback start to the row tick of the song's first wrap at `rate` under the
// given rules, found by running the sequencer without mixing; -1 when it does not wrap within
// `maxFrames`, or the song cannot be played.
int64_t FramesToFirstWrap(const Module* module, int32_t rate, int64_t maxFrames,
                          PlayerRules rules = PlayerRules::Demo);
