// fake_device.h: wave devices for tests whose play positions the tests move by hand (two of them,
// for outputs playing side by side), and small songs made with the XM writer whose sound and
// positions depend on every tick rendered.
#pragma once

#include "music/mixer.h"
#include "music/module.h"
#include "music/playback_thread.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

struct FakeDevice {
    std::atomic<uint32_t> position{0}; // moved by the test, read by the output thread
    std::atomic<int> threadStarts{0};
    // How often the output thread has asked for the position: a test that moves the device and
    // must see what the thread did about it waits for two more asks (the second begins only
    // after the pass that saw the move has ended).
    std::atomic<uint64_t> positionReads{0};
    std::atomic<bool> lost{false}; // what the device says when asked whether it is lost
    bool refuseOpen = false;
    int openRate = 0;
    int opens = 0;
    int closes = 0;
    int resets = 0;
    int handOvers = 0;
    const void* ring = nullptr;
    uint32_t ringBytes = 0;
    // The output the device belongs to, for the check below; set by CreateFakeOutput.
    const MusicOutput* owner = nullptr;
    // The ring the device held was no longer its output's live ring when the device let go of
    // it: it was released (or replaced) while the device could still read it.
    bool ringFreedWhileHeld = false;
};

constexpr int FAKE_DEVICES = 2;
extern FakeDevice fakes[FAKE_DEVICES];
// The first fake, which most tests use alone.
inline FakeDevice& fake = fakes[0];

// Clears fake `index`'s record and returns its device table.
const WaveDevice* ResetFakeDevice(int index = 0);
// Clears fake `index` and makes an output over it (the demo's rules), closed, nothing playing.
MusicOutput* CreateFakeOutput(int index = 0);

// Moves fake `index` to play position `bytes` (since the hand-over, 32-bit like a device).
inline void MoveDeviceTo(uint64_t bytes, int index = 0) {
    fakes[index].position.store(uint32_t(bytes));
}

// Frames per block and per ring of an output at 44100 Hz.
constexpr int32_t BLOCK_FRAMES = 884;
constexpr int32_t RING_FRAMES = BLOCK_FRAMES * OUTPUT_RING_BLOCKS;

// Byte position of the start of frame `frame` in ring block `block`, `loops` rings on, at 44100 Hz.
inline uint64_t BlockBytes(int64_t block, int64_t loops = 0, int64_t frame = 0) {
    return uint64_t(loops * RING_FRAMES + block * BLOCK_FRAMES + frame) * 4u;
}

// A stand-in for a device's own thread: moves the play position of fake `index` on, half a
// block a millisecond, until told to stop.
class MovingDevice {
  public:
    explicit MovingDevice(int index = 0)
        : mover_([this, index] {
              while (!quit_.load()) {
                  fakes[index].position.fetch_add(uint32_t(BLOCK_FRAMES) * 2u);
                  std::this_thread::sleep_for(std::chrono::milliseconds(1));
              }
          }) {}
    ~MovingDevice() {
        quit_.store(true);
        mover_.join();
    }

  private:
    std::atomic<bool> quit_{false};
    std::thread mover_;
};

// Waits (up to a few seconds) until the output thread of `output` reports `block` as heard.
bool WaitForHeardBlock(const MusicOutput* output, int32_t block);

// Waits (up to a few seconds) until the output thread of fake `index` has asked for the position
// twice more: one whole service pass has run on the position set before the call.
bool WaitForServicePass(int index = 0);

// Polls `done` for up to a few seconds.
bool WaitUntil(const std::function<bool()>& done);

// A song of one channel at speed 1: every tick is a row of its own that sets a new volume and
// panning on one long looping note, and the rows run through eight orders, so every block's
// sound and position entry depend on how many ticks came before. `variant` changes the volumes,
// the pannings and the note, for songs that must not sound alike. Loaded (and freed) through
// the memory files.
struct TickingSong {
    explicit TickingSong(int variant = 0);
    ~TickingSong();
    TickingSong(const TickingSong&) = delete;
    TickingSong& operator=(const TickingSong&) = delete;
    Module* module = nullptr;
};
