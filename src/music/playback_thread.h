// playback_thread.h: the looping wave device as a table of operations, the output thread that
// keeps the device's ring filled, playback start, and the position queries. Main thread, except
// OutputThreadMain (output thread). Knows no platform: the output file installs the real device,
// tests install a fake one whose position they move by hand.
#pragma once

#include <atomic>
#include <cstdint>

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

// Installs a device table (copied). A table missing any required operation, or null, leaves no
// device installed.
void SetWaveDevice(const WaveDevice* device);
// True when a complete device table is installed.
bool WaveDeviceInstalled();
// The installed table (all null when none).
extern WaveDevice waveDevice;

// The output's program-wide state. `deviceOpen` and `ringPlaying` are the device handle: the
// device is open, and it is looping the ring. Written by the main thread only, except where noted.
struct OutputState {
    bool deviceOpen = false;
    bool ringPlaying = false;
    bool threadRunning = false;             // an output thread was started and not yet joined
    std::atomic<bool> stopRequested{false}; // main thread asks the output thread to end
    std::atomic<bool> threadFinished{true}; // output thread has ended (or none was started)
    std::atomic<int32_t> heardBlock{0};     // output thread: the block the device is playing
    // Output thread: the entry of blockPositions at heardBlock, packed (order << 40 | row << 32
    // | timeMs), so that the queries never read an entry while MixBlock rewrites it.
    std::atomic<uint64_t> heardPosition{0};
    // Output thread: the device position last read, and all bytes played since the hand-over.
    uint32_t lastDevicePosition = 0;
    uint64_t playedBytes = 0;
};
extern OutputState output;

// Starts playing a module on the open device: stops the current playback, resets the module's
// playback fields, pre-fills the whole ring on the calling thread, hands the ring to the device
// and starts the output thread. 1 when playing; 0 for a null module, when no device is open, or
// when the buffers cannot be allocated (nothing is left allocated then).
int StartPlayback(Module* module);

// Ends the output thread (waiting for a block in progress) and resets the device so that it no
// longer reads the ring. Harmless when nothing plays. Called by StopPlayback before it frees the
// buffers.
void StopOutputThread();

// The output thread's body: every 5 ms, renders each block the device has finished, up to but
// not including the block being played. Returns 0 when stopRequested is set.
int OutputThreadMain();

// The order position, row and milliseconds reached when the block now being heard was rendered.
// 0 for a null module or when nothing plays.
int GetPlayingOrder(Module* module);
int GetPlayingRow(Module* module);
int32_t GetPlayingTime(Module* module);
