// fake_device.h: a wave device for tests whose play position the test moves by hand, and a
// small synthetic song whose sound and positions depend on every tick rendered.
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
    bool refuseOpen = false;
    int openRate = 0;
    int opens = 0;
    int closes = 0;
    int resets = 0;
    int handOvers = 0;
    const void* ring = nullptr;
    uint32_t ringBytes = 0;
    // The ring the device held was no longer the mixer's live ring when the device let go of it:
    // it was released (or replaced) while the device could still read it.
    bool ringFreedWhileHeld = false;
};

extern FakeDevice fake;

// Clears the fake's record and installs it as the wave device.
void InstallFakeDevice();

// Moves the fake device to play position `bytes` (since the hand-over, 32-bit like a device).
inline void MoveDeviceTo(uint64_t bytes) {
    fake.position.store(uint32_t(bytes));
}

// Byte position of the start of frame `frame` in ring block `block`, `loops` rings on.
inline uint64_t BlockBytes(int64_t block, int64_t loops = 0, int64_t frame = 0) {
    return uint64_t(loops * mixer.ringFrames + block * mixer.blockFrames + frame) * 4u;
}

// Waits (up to a few seconds) until the output thread reports `block` as heard.
bool WaitForHeardBlock(int32_t block);

// Polls `done` for up to a few seconds.
bool WaitUntil(const std::function<bool()>& done);

// A song of one channel made in code: each tick moves the row and order on and changes voice 0's
// volumes, so every block's sound and position entry depend on how many ticks came before.
struct SyntheticSong {
    Module module{};
    SyntheticSong();
};
// Ticks the synthetic songs have run since their last playback start.
extern std::atomic<int> syntheticTicks;
