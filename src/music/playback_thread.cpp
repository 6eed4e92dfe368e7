// playback_thread.cpp: the output object: device open and close, playback start and stop, the
// output thread that re-renders each ring block the device has finished, and the position
// queries. Main thread, except OutputThreadMain (output thread). The device is reached only
// through the output's WaveDevice table.
#include "music/playback_thread.h"

#include "music/mixer.h"
#include "music/module.h"

#include <chrono>
#include <new>
#include <system_error>

namespace {

uint64_t PackPosition(const BlockPosition& entry) {
    return uint64_t(entry.order) << 40 | uint64_t(entry.row) << 32 | uint32_t(entry.timeMs);
}

// Publishes the entry of the block now heard for the queries. Called by whichever thread renders
// (the starter before the output thread exists, then the output thread).
void PublishHeardBlock(MusicOutput* output, int32_t block) {
    output->heardPosition.store(PackPosition(output->player->mixer.blockPositions[block]),
                                std::memory_order_relaxed);
    output->heardBlock.store(block, std::memory_order_release);
}

void OutputThreadEntry(MusicOutput* output) {
    if (output->device.threadStarted) output->device.threadStarted();
    OutputThreadMain(output);
}

// Ends the output thread (waiting for a block in progress) and resets the device so that it no
// longer reads the ring. Harmless when nothing plays.
void StopOutputThread(MusicOutput* output) {
    output->stopRequested.store(true);
    if (output->threadRunning) {
        // Joining waits for the block in progress and for the thread's end (threadFinished).
        output->thread.join();
        output->threadRunning = false;
    }
    // The device stops reading the ring before the caller releases it.
    if (output->ringPlaying) {
        output->device.reset();
        output->ringPlaying = false;
    }
    output->heardPosition.store(0);
    output->heardBlock.store(0);
}

} // namespace

bool WaveDeviceComplete(const WaveDevice* device) {
    return device && device->open && device->playLooping && device->position && device->reset &&
           device->close;
}

MusicOutput* CreateMusicOutput(const WaveDevice* device, PlayerRules rules) {
    if (!WaveDeviceComplete(device)) return nullptr;
    auto* output = new (std::nothrow) MusicOutput();
    if (!output) return nullptr;
    output->device = *device;
    output->rules = rules;
    return output;
}

void DestroyMusicOutput(MusicOutput* output) {
    if (!output) return;
    CloseWaveOutput(output);
    FreeModule(output->song);
    delete output;
}

bool OpenWaveOutput(MusicOutput* output, int32_t rate) {
    if (!output) return false;
    CloseWaveOutput(output);
    if (rate < LOWEST_RATE || rate > HIGHEST_RATE) return false;
    if (!output->device.open(rate)) return false;
    output->deviceOpen = true;
    output->mixRate = rate;
    return true;
}

void CloseWaveOutput(MusicOutput* output) {
    if (!output) return;
    // Closing under a running playback would leave the output thread rendering into a ring the
    // device no longer plays: the playback is stopped first.
    if (output->player) StopPlayback(output, output->player->module);
    if (!output->deviceOpen) return;
    output->device.reset();
    output->device.close();
    output->deviceOpen = false;
}

int StartPlayback(MusicOutput* output, const Module* module) {
    if (!output || !module) return 0;
    StopPlayback(output, module);
    // Without an open device nothing could be heard: playback does not start.
    if (!output->deviceOpen) return 0;
    // A player that cannot be made leaves nothing allocated and nothing playing.
    Player* player = CreatePlayer(module, output->mixRate, output->rules, OUTPUT_RING_BLOCKS);
    if (!player) return 0;
    PrefillRing(player);
    output->player = player;

    // The device starts in block 0, whose entry the queries report until it moves on; heardBlock
    // restarts with fillBlock so that the two stay in step across a stop and a new start.
    PublishHeardBlock(output, 0);
    output->lastDevicePosition = 0;
    output->playedBytes = 0;
    output->device.playLooping(player->mixer.outputRing, uint32_t(player->mixer.ringFrames) * 4u);
    output->ringPlaying = true;

    output->stopRequested.store(false);
#if defined(__EMSCRIPTEN__)
    // The browser build has no threads: the audio device's own callback runs ServiceOutput
    // (output.cpp hands it the output), and threadRunning stays false, so there is nothing to
    // join.
    return 1;
#endif
    output->threadFinished.store(false);
    try {
        output->thread = std::thread(OutputThreadEntry, output);
    } catch (const std::system_error&) {
        // No thread, no music: the device would otherwise loop the same two seconds for ever.
        output->threadFinished.store(true);
        StopPlayback(output, module);
        return 0;
    }
    output->threadRunning = true;
    return 1;
}

int StopPlayback(MusicOutput* output, const Module* module) {
    if (!output || !module) return 0;
    // The output thread ends (and the device lets go of the ring) before the player goes.
    StopOutputThread(output);
    while (output->blockInProgress.load()) {
    }
    DestroyPlayer(output->player);
    output->player = nullptr;
    return 1;
}

void ServiceOutput(MusicOutput* output) {
    Player* player = output->player;
    MixerState& mixer = player->mixer;
    const int32_t blockFrames = mixer.blockFrames;
    const uint64_t ringFrames = uint64_t(mixer.ringFrames);
    const int32_t blocks = mixer.ringFrames / blockFrames;
    // The device's 32-bit count wraps after 4 GiB; adding the differences in 32-bit arithmetic
    // to a 64-bit total keeps the block mapping continuous across the wrap.
    const uint32_t position = output->device.position();
    output->playedBytes += uint32_t(position - output->lastDevicePosition);
    output->lastDevicePosition = position;
    const int32_t playingBlock = int32_t((output->playedBytes / 4u) % ringFrames) / blockFrames;

    // A thread held up for longer than the ring finds the device anywhere; it renders the
    // blocks from fillBlock on in order, so the song continues without a gap.
    while (mixer.fillBlock != playingBlock) {
        output->blockInProgress.store(true);
        MixBlock(player);
        int32_t next = output->heardBlock.load(std::memory_order_relaxed) + 1;
        if (next == blocks) next = 0;
        PublishHeardBlock(output, next);
        output->blockInProgress.store(false);
    }
}

int OutputThreadMain(MusicOutput* output) {
    while (!output->stopRequested.load()) {
        ServiceOutput(output);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    output->threadFinished.store(true);
    return 0;
}

int GetPlayingOrder(const MusicOutput* output, const Module* module) {
    if (!output || !module) return 0;
    return int(output->heardPosition.load(std::memory_order_relaxed) >> 40 & 0xFF);
}

int GetPlayingRow(const MusicOutput* output, const Module* module) {
    if (!output || !module) return 0;
    return int(output->heardPosition.load(std::memory_order_relaxed) >> 32 & 0xFF);
}

int32_t GetPlayingTime(const MusicOutput* output, const Module* module) {
    if (!output || !module) return 0;
    return int32_t(uint32_t(output->heardPosition.load(std::memory_order_relaxed)));
}
