// playback_thread.h: the output object: a looping wave device as a table of operations, the
// player it plays, the output thread that keeps the device's ring filled, playback start and
// stop, and the position queries. Main thread, except OutputThreadMain (output thread). Knows no
// platform: output.cpp supplies the real device, tests a fake one whose position they move by
// hand.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "music/player.h"

struct Module;

// The operations the output needs from a sound device that plays one ring in an endless loop.
// `open`, `playLooping`, `position`, `reset` and `close` are required; `threadStarted` may be
// null. Only `position` is called from the output thread; everything else from the main thread.
struct WaveDevice {
    // Opens the default output for 16-bit signed stereo PCM at `rate` Hz; false on failure.
    bool (*open)(int rate);
    // Starts playing the ring from its first byte, endlessly, reading it on its own.
    void (*playLooping)(const void* ring, uint32_t bytes);
    // Bytes played since playLooping: a 32-bit count that keeps growing and may wrap.
    uint32_t (*position)();
    // Stops playing and lets go of the ring.
    void (*reset)();
    // Closes the device.
    void (*close)();
    // Called first thing on the output thread (priority, thread name); failures are ignored.
    void (*threadStarted)();
};

// True when the table is given and has every required operation.
bool WaveDeviceComplete(const WaveDevice* device);

// One output: a device, the player it plays (which owns the ring, the mix buffer and the
// position table) and the thread. `deviceOpen` and `ringPlaying` are the device handle: the
// device is open, and it is looping the ring. Written by the main thread only, except where
// noted.
struct MusicOutput {
    WaveDevice device;
    PlayerRules rules;        // the rules of every playback's player
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
    // Output thread: the device position last read, and all bytes played since the hand-over.
    uint32_t lastDevicePosition = 0;
    uint64_t playedBytes = 0;
    std::thread thread;
};

// An output over a copy of `device` (which must be complete), closed, nothing playing. Null when
// the table is incomplete or there is no memory.
MusicOutput* CreateMusicOutput(const WaveDevice* device, PlayerRules rules = PlayerRules::Demo);
// Stops any playback, closes the device, frees the song StartMusic loaded and the output.
void DestroyMusicOutput(MusicOutput* output);

// Opens the device at `rate` Hz (closing one left open first). False when the rate is out of
// range or the device refuses; nothing else is set then.
bool OpenWaveOutput(MusicOutput* output, int32_t rate);
// Closes the device (stopping any playback on it first). Harmless when none is open.
void CloseWaveOutput(MusicOutput* output);

// Starts playing a module on the open device: stops the current playback, makes a player for
// the module with a ring of OUTPUT_RING_BLOCKS blocks, pre-fills the whole ring on the calling
// thread, hands the ring to the device and starts the output thread. 1 when playing; 0 for a
// null module, when no device is open, or when the player cannot be made (nothing is left
// allocated then).
int StartPlayback(MusicOutput* output, const Module* module);
// Stops the current playback (whatever module is given, as long as it is not null): ends the
// output thread, resets the device and destroys the playback's player. 1, or 0 for a null
// module. Stopping twice is harmless.
int StopPlayback(MusicOutput* output, const Module* module);

// The output thread's body: every 5 ms, one ServiceOutput pass. Returns 0 when stopRequested is
// set.
int OutputThreadMain(MusicOutput* output);
// One pass: reads the device position and renders each block the device has finished, up to but
// not including the block being played. Output thread; in the browser build, which has no
// threads, the audio device's callback (main thread). Needs a playing output.
void ServiceOutput(MusicOutput* output);

// The order position, row and milliseconds reached when the block now being heard was rendered.
// 0 for a null module or when nothing plays.
int GetPlayingOrder(const MusicOutput* output, const Module* module);
int GetPlayingRow(const MusicOutput* output, const Module* module);
int32_t GetPlayingTime(const MusicOutput* output, const Module* module);
