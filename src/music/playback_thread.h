// playback_thread.h: the output object that the demo, the terminal player and the web page
// play through: a looping wave device as a table of operations, the player it plays, the output
// thread that keeps the device's ring filled, playback start and stop, the listener's commands
// (pause, volume, end mode, seeks), what the listener hears now, the lost-device watch and the
// position queries. Main thread, except OutputThreadMain (output thread). Knows no platform:
// output.cpp supplies the real device, tests a fake one whose position they move by hand.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "music/player.h"

struct Module;

// The operations the output needs from a sound device that plays one ring in an endless loop.
// Each is called with `context`, the device's own state (the caller's to keep for as long as
// the output lives; null where the device has none). `open`, `playLooping`, `position`, `reset`
// and `close` are required; `threadStarted` and `lost` may be null. Only `position` and `lost`
// are called from the output thread; everything else from the main thread.
struct WaveDevice {
    void* context;
    // Opens the default output for 16-bit signed stereo PCM at `rate` Hz; false on failure.
    bool (*open)(void* context, int rate);
    // Starts playing the ring from its first byte, endlessly, reading it on its own.
    void (*playLooping)(void* context, const void* ring, uint32_t bytes);
    // Bytes played since playLooping: a 32-bit count that keeps growing and may wrap.
    uint32_t (*position)(void* context);
    // Stops playing and lets go of the ring.
    void (*reset)(void* context);
    // Closes the device.
    void (*close)(void* context);
    // Called first thing on the output thread (priority, thread name); failures are ignored.
    void (*threadStarted)(void* context);
    // True once the device has failed or gone away (an unplugged headset) since it was opened.
    // Asked only when the position has not moved since the last pass.
    bool (*lost)(void* context);
};

// True when the table is given and has every required operation.
bool WaveDeviceComplete(const WaveDevice* device);

// How an output plays; every field may be left 0 for its default.
struct OutputSettings {
    int32_t ringBlocks = 0; // blocks in the ring, 1 to OUTPUT_RING_BLOCKS; 0: OUTPUT_RING_BLOCKS
    int32_t passMs = 0;     // milliseconds between the output thread's passes; 0: 5
    // A playing device whose position has not moved for this long (counted in passes) is taken
    // as lost; 0: 2000 ms. Far longer than any device takes between two reads of the ring.
    int32_t stallMs = 0;
};
constexpr int32_t DEFAULT_PASS_MS = 5;
constexpr int32_t DEFAULT_STALL_MS = 2000;

// What one ring block holds for the listener: where the song stood at the block's end, the
// time reached, and each track's level (its voice's mix volume, 0 when silent).
struct HeardBlock {
    int64_t number = 0; // blocks rendered before it since the playback started
    PlayerPosition position{};
    int64_t songFrames = 0; // frames of the song played (a seek sets the count anew)
    int32_t loops = 0;      // times the song came back to a place it had played
    uint8_t levels[MAX_CHANNELS]{};
    bool silent = false; // paused, or past the song's end
};

// The playback as the listener hears it now (GetOutputNow).
struct OutputNow {
    HeardBlock block;         // the block the device is playing
    int64_t blocksPlayed = 0; // blocks the device has played since the playback started
    bool finished = false;    // the end mode stopped the song and its last block was heard
    bool seekPending = false; // a seek's first block is still ahead of the listener
    int32_t seekOrder = 0;    // ...and the order position it goes to
    int64_t seekFrame = -1;   // ...or the song frame a seek by time goes to (-1: by order)
    bool deviceLost = false;  // the device failed, vanished or stopped taking the ring
};

// The main thread's commands to the output thread, taken at the start of its next pass.
struct OutputControls {
    bool paused = false;
    int32_t volume = 100; // percent of the rendered level, 0-200
    EndMode endMode = EndMode::Wrap;
    int32_t seekOrder = -1;    // an order position asked for and not yet taken, or -1
    int32_t lastSeekOrder = 0; // the order position of the latest seek asked for
    int64_t seekFrame = -1;    // a song frame asked for and not yet taken, or -1
    SeekMode seekMode = SeekMode::Fast;
    int64_t lastSeekFrame = -1; // the frame of the latest seek asked for, -1 when by order
    int32_t repeatCount = 0;    // the player's repeat count (seeking.h)
    MixControls mix;            // the listener's controls, copied to the player
};

// One output: a device, the player it plays (which owns the ring, the mix buffer and the
// position table) and the thread. `deviceOpen` and `ringPlaying` are the device handle: the
// device is open, and it is looping the ring. Written by the main thread only, except where
// noted.
struct MusicOutput {
    WaveDevice device;
    PlayerRules rules; // the rules of every playback's player
    OutputSettings settings;
    int32_t mixRate = 0;      // set by OpenWaveOutput
    Player* player = nullptr; // the playback's player; null while nothing plays
    Module* song = nullptr;   // the song StartMusic loaded (the output frees it), or null
    bool deviceOpen = false;
    bool ringPlaying = false;
    bool threadRunning = false;               // an output thread was started and not yet joined
    std::atomic<bool> stopRequested{false};   // main thread asks the output thread to end
    std::atomic<bool> blockInProgress{false}; // output thread: inside MixBlock
    std::atomic<bool> threadFinished{true};   // output thread has ended (or none was started)
    std::atomic<int32_t> heardBlock{0};       // output thread: the block the device is playing
    // Output thread: the entry of blockPositions at heardBlock, packed (order << 40 | row << 32
    // | timeMs), so that the queries never read an entry while MixBlock rewrites it.
    std::atomic<uint64_t> heardPosition{0};
    std::atomic<bool> deviceLost{false}; // output thread: see OutputNow::deviceLost
    std::atomic<uint32_t> passes{0};     // output thread: ServiceOutput passes finished
    // Output thread: the device position last read, and all bytes played since the hand-over.
    uint32_t lastDevicePosition = 0;
    uint64_t playedBytes = 0;
    std::thread thread;

    // Commands and what the listener hears, shared by the two threads under `lock`; songEnded:
    // the end mode has stopped the song (seeks are refused from then on).
    std::mutex lock;
    OutputControls controls;
    OutputNow now;
    bool songEnded = false;
    // Output thread (the starter before it exists): the block record of every ring slot, the
    // record carried from block to block, blocks rendered, the number of the block that ended
    // the song (or -1), of the first block after the last seek (or -1), and passes without the
    // position moving.
    std::vector<HeardBlock> slots;
    HeardBlock carried;
    int64_t blocksRendered = 0;
    int64_t endBlock = -1;
    int64_t seekBlock = -1;
    int32_t stillPasses = 0;
    OutputControls taken; // the controls in effect for the blocks being rendered
};

// An output over a copy of `device` (which must be complete), closed, nothing playing, with
// `settings` (null or zeroed fields: the defaults). Null when the table is incomplete, a
// setting is out of range, or there is no memory.
MusicOutput* CreateMusicOutput(const WaveDevice* device, PlayerRules rules = PlayerRules::Demo,
                               const OutputSettings* settings = nullptr);
// Stops any playback, closes the device, frees the song StartMusic loaded and the output.
void DestroyMusicOutput(MusicOutput* output);

// Opens the device at `rate` Hz (closing one left open first). False when the rate is out of
// range or the device refuses; nothing else is set then.
bool OpenWaveOutput(MusicOutput* output, int32_t rate);
// Closes the device (stopping any playback on it first). Harmless when none is open.
void CloseWaveOutput(MusicOutput* output);

// Starts playing a module on the open device: stops the current playback, makes a player for
// the module with a ring of settings.ringBlocks blocks, pre-fills the whole ring on the calling
// thread, hands the ring to the device and starts the output thread. 1 when playing; 0 for a
// null module, when no device is open, or when the player cannot be made (nothing is left
// allocated then).
int StartPlayback(MusicOutput* output, const Module* module);
// Stops the current playback (whatever module is given, as long as it is not null): ends the
// output thread, resets the device and destroys the playback's player. 1, or 0 for a null
// module. Stopping twice is harmless.
int StopPlayback(MusicOutput* output, const Module* module);

// The output thread's body: every settings.passMs, one ServiceOutput pass. Returns 0 when
// stopRequested is set.
int OutputThreadMain(MusicOutput* output);
// One pass: takes the main thread's commands, reads the device position and renders each block
// the device has finished, up to but not including the block being played. Output thread; in the
// browser build, which has no threads, the audio device's callback (main thread). Needs a playing
// output.
void ServiceOutput(MusicOutput* output);

// The order position, row and milliseconds reached when the block now being heard was rendered.
// 0 for a null module or when nothing plays.
int GetPlayingOrder(const MusicOutput* output, const Module* module);
int GetPlayingRow(const MusicOutput* output, const Module* module);
int32_t GetPlayingTime(const MusicOutput* output, const Module* module);

// ---- Commands (main thread), each heard from the next block rendered on --------------------
// Volume and end mode hold from playback to playback (set the end mode before StartPlayback for
// it to cover the pre-fill); every playback starts unpaused.

// Paused, every block rendered is silence and the song stands still.
void SetOutputPaused(MusicOutput* output, bool paused);
// The listener's volume in percent (clamped to 0-200), applied to the 16-bit frames; 100 leaves
// the player's frames as they are.
void SetOutputVolume(MusicOutput* output, int32_t percent);
// Wrap: the song goes on at its end (the default). Stop: rendering stops at the song's first
// return to a place it has played, and the rest is silence (OutputNow::finished once heard).
void SetOutputEndMode(MusicOutput* output, EndMode mode);
// Moves the playback to the start of order position `order`. False when nothing plays, the
// order lies outside the song, or the song has ended.
bool SeekOutput(MusicOutput* output, int32_t order);
// Moves the playback to song frame `frame` (SeekFrame's modes; an exact seek goes to the start
// of the block holding the frame, since the ring is rendered in whole blocks). False when
// nothing plays, the frame is negative or the song has ended; a frame beyond the song's end is
// refused by the output thread, and the song goes on.
bool SeekOutputFrame(MusicOutput* output, int64_t frame, SeekMode mode);
// Plays the song `count` times, then ends it as the Stop end mode does (0: for ever).
void SetOutputRepeatCount(MusicOutput* output, int32_t count);
// The listener's controls (mix_controls.h) for the playback, from the next block rendered.
void SetOutputMixControls(MusicOutput* output, const MixControls& controls);

// What the listener hears now. False (and *now untouched) when nothing plays.
bool GetOutputNow(MusicOutput* output, OutputNow* now);
