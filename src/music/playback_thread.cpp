// playback_thread.cpp: playback start, the output thread that re-renders each ring block the
// device has finished, and the position queries. Main thread, except OutputThreadMain (output
// thread). The device is reached only through the installed WaveDevice table.
#include "music/playback_thread.h"

#include "music/mixer.h"
#include "music/module.h"
#include "music/playback.h"

#include <chrono>
#include <new>
#include <system_error>
#include <thread>

WaveDevice waveDevice = {};
OutputState output;

namespace {

// The thread object lives for the whole process and is never destroyed: the show never stops
// the music, and a joinable std::thread destroyed at exit would end the process abnormally.
std::thread& OutputThreadHandle() {
    static std::thread* handle = new std::thread();
    return *handle;
}

uint64_t PackPosition(const BlockPosition& entry) {
    return uint64_t(entry.order) << 40 | uint64_t(entry.row) << 32 | uint32_t(entry.timeMs);
}

// Publishes the entry of the block now heard for the queries. Called by whichever thread renders
// (the starter before the output thread exists, then the output thread).
void PublishHeardBlock(int32_t block) {
    output.heardPosition.store(PackPosition(mixer.blockPositions[block]),
                               std::memory_order_relaxed);
    output.heardBlock.store(block, std::memory_order_release);
}

void OutputThreadEntry() {
    if (waveDevice.threadStarted) waveDevice.threadStarted();
    OutputThreadMain();
}

} // namespace

void SetWaveDevice(const WaveDevice* device) {
    if (device && device->open && device->playLooping && device->position && device->reset &&
        device->close) {
        waveDevice = *device;
    } else {
        waveDevice = {};
    }
}

bool WaveDeviceInstalled() {
    return waveDevice.open != nullptr;
}

int StartPlayback(Module* module) {
    if (!module) return 0;
    StopPlayback(module);
    // Without an open device the sizes may never have been set and nothing could be heard:
    // playback does not start, and the module's fields are left as they are.
    if (!output.deviceOpen || !WaveDeviceInstalled()) return 0;
    // Buffers that cannot be allocated leave nothing allocated and nothing playing.
    if (!PreparePlayback(module)) return 0;

    // The device starts in block 0, whose entry the queries report until it moves on; heardBlock
    // restarts with fillBlock so that the two stay in step across a stop and a new start.
    PublishHeardBlock(0);
    output.lastDevicePosition = 0;
    output.playedBytes = 0;
    waveDevice.playLooping(mixer.outputRing, uint32_t(mixer.ringFrames) * 4u);
    output.ringPlaying = true;

    output.stopRequested.store(false);
    output.threadFinished.store(false);
    try {
        OutputThreadHandle() = std::thread(OutputThreadEntry);
    } catch (const std::system_error&) {
        // No thread, no music: the device would otherwise loop the same two seconds for ever.
        output.threadFinished.store(true);
        StopPlayback(module);
        return 0;
    }
    output.threadRunning = true;
    return 1;
}

void StopOutputThread() {
    output.stopRequested.store(true);
    if (output.threadRunning) {
        // Joining waits for the block in progress and for the thread's end (threadFinished).
        OutputThreadHandle().join();
        output.threadRunning = false;
    }
    // The device stops reading the ring before the caller releases it.
    if (output.ringPlaying) {
        waveDevice.reset();
        output.ringPlaying = false;
    }
    output.heardPosition.store(0);
    output.heardBlock.store(0);
}

int OutputThreadMain() {
    const int32_t blockFrames = mixer.blockFrames;
    const uint64_t ringFrames = uint64_t(mixer.ringFrames);
    const int32_t blocks = mixer.ringFrames / blockFrames;
    while (!output.stopRequested.load()) {
        // The device's 32-bit count wraps after 4 GiB; adding the differences in 32-bit
        // arithmetic to a 64-bit total keeps the block mapping continuous across the wrap.
        const uint32_t position = waveDevice.position();
        output.playedBytes += uint32_t(position - output.lastDevicePosition);
        output.lastDevicePosition = position;
        const int32_t playingBlock = int32_t((output.playedBytes / 4u) % ringFrames) / blockFrames;

        // A thread held up for longer than the ring finds the device anywhere; it renders the
        // blocks from fillBlock on in order, so the song continues without a gap.
        while (mixer.fillBlock != playingBlock) {
            blockInProgress.store(true);
            MixBlock();
            int32_t next = output.heardBlock.load(std::memory_order_relaxed) + 1;
            if (next == blocks) next = 0;
            PublishHeardBlock(next);
            blockInProgress.store(false);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    output.threadFinished.store(true);
    return 0;
}

int GetPlayingOrder(Module* module) {
    if (!module) return 0;
    return int(output.heardPosition.load(std::memory_order_relaxed) >> 40 & 0xFF);
}

int GetPlayingRow(Module* module) {
    if (!module) return 0;
    return int(output.heardPosition.load(std::memory_order_relaxed) >> 32 & 0xFF);
}

int32_t GetPlayingTime(Module* module) {
    if (!module) return 0;
    return int32_t(uint32_t(output.heardPosition.load(std::memory_order_relaxed)));
}
