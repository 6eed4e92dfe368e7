// playback_thread.cpp: the output object: device open and close, playback start and stop, the
// output thread that re-renders each ring block the device has finished (silence while paused
// or past the song's end), the listener's commands, the lost-device watch and the position
// queries. Main thread, except OutputThreadMain and ServiceOutput (output thread). The device
// is reached only through the output's WaveDevice table.
#include "music/playback_thread.h"

#include "music/mixer.h"
#include "music/module.h"

#include <algorithm>
#include <chrono>
#include <cstring>
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
    if (output->device.threadStarted) output->device.threadStarted(output->device.context);
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
        output->device.reset(output->device.context);
        output->ringPlaying = false;
    }
    output->heardPosition.store(0);
    output->heardBlock.store(0);
}

// The listener's volume on a block's 16-bit frames.
void ApplyVolume(int16_t* pcm, int32_t samples, int32_t percent) {
    for (int32_t k = 0; k < samples; ++k)
        pcm[k] = int16_t(std::clamp(pcm[k] * percent / 100, -32768, 32767));
}

// Renders ring block fillBlock under the controls taken for this pass: the player's next block,
// or silence while paused or after the song's end (the song then stands still). Records what
// the block holds for the listener. The output thread, or the starter before it exists.
void RenderOutputBlock(MusicOutput* output) {
    Player* player = output->player;
    MixerState& mixer = player->mixer;
    const int32_t slot = mixer.fillBlock;
    const int32_t blockFrames = mixer.blockFrames;
    int16_t* pcm = mixer.outputRing + 2 * size_t(slot) * size_t(blockFrames);
    HeardBlock& carried = output->carried;
    carried.number = output->blocksRendered++;
    if (output->taken.paused || output->endBlock >= 0) {
        std::memset(pcm, 0, size_t(blockFrames) * 4);
        mixer.blockPositions[slot] =
            BlockPosition{uint8_t(player->orderPosition), uint8_t(player->row), player->elapsedMs};
        mixer.fillBlock = slot + 1 == mixer.ringFrames / blockFrames ? 0 : slot + 1;
        output->slots[size_t(slot)] = carried;
        output->slots[size_t(slot)].silent = true;
        std::memset(output->slots[size_t(slot)].levels, 0, sizeof carried.levels);
        return;
    }
    const int64_t first = player->framesMixed;
    MixBlock(player);
    int32_t heard = blockFrames;
    carried.position = player->position;
    const int64_t wrap = PlayerEndFrame(player);
    if (wrap >= first && wrap < player->framesMixed) {
        // The song stops at the row tick that came back to a place already played (the end
        // mode's, or the repeat count's last): the frames from there on are silence, and so is
        // every later block.
        heard = int32_t(wrap - first);
        std::memset(pcm + 2 * size_t(heard), 0, size_t(blockFrames - heard) * 4);
        output->endBlock = carried.number;
        carried.position = player->blockStart;
        for (int32_t m = 0; m < player->markCount; ++m)
            if (player->marks[m].frame < heard) carried.position = player->marks[m].position;
    }
    if (output->taken.volume != 100) ApplyVolume(pcm, 2 * heard, output->taken.volume);
    carried.songFrames += heard;
    carried.loops = player->watch.wraps;
    const int32_t tracks = std::min(int32_t(player->module->channelCount), int32_t(MAX_CHANNELS));
    for (int32_t c = 0; c < tracks; ++c) {
        const Voice* voice = player->channels[c].voice;
        carried.levels[c] = uint8_t(voice && voice->sample ? voice->mixVolume : 0);
    }
    output->slots[size_t(slot)] = carried;
}

// Takes the main thread's commands for the blocks of this pass: a seek asked for moves the
// player now (unless the song has ended), the rest holds until the next pass.
void TakeControls(MusicOutput* output) {
    OutputControls controls;
    {
        std::lock_guard<std::mutex> guard(output->lock);
        controls = output->controls;
        output->controls.seekOrder = -1;
        output->controls.seekFrame = -1;
    }
    Player* player = output->player;
    player->endMode = controls.endMode;
    player->controls = controls.mix;
    if (controls.repeatCount != player->seek.repeatCount)
        SetRepeatCount(player, controls.repeatCount);
    if (controls.seekFrame >= 0 && output->endBlock < 0) {
        player->framesPulled = output->carried.songFrames;
        int64_t frame = controls.seekFrame;
        if (controls.seekMode == SeekMode::Exact)
            frame -= frame % player->mixer.blockFrames; // the ring takes whole blocks
        if (SeekFrame(player, frame, controls.seekMode)) {
            output->seekBlock = output->blocksRendered;
            const PlayerProgress progress = GetPlayerProgress(player);
            HeardBlock& carried = output->carried;
            carried.songFrames = progress.frames;
            carried.loops = progress.passes;
            carried.position = player->position;
        }
    }
    if (controls.seekOrder >= 0 && output->endBlock < 0) {
        // The player keeps the time a seek reaches in its pull count; the output's own count
        // goes in and comes out there.
        player->framesPulled = output->carried.songFrames;
        if (SeekOrder(player, controls.seekOrder)) {
            output->seekBlock = output->blocksRendered;
            HeardBlock& carried = output->carried;
            carried.songFrames = player->framesPulled;
            carried.loops = 0;
            // While paused, the silent blocks show the place the song will go on from.
            carried.position.order = controls.seekOrder;
            carried.position.pattern = player->module->orders[controls.seekOrder];
            carried.position.row = 0;
            carried.position.tick = 0;
        }
    }
    output->taken = controls;
}

// Publishes what the listener hears now: the record of the block being played.
void PublishNow(MusicOutput* output, int32_t playingBlock) {
    const uint64_t blockBytes = uint64_t(output->player->mixer.blockFrames) * 4u;
    const HeardBlock& block = output->slots[size_t(playingBlock)];
    std::lock_guard<std::mutex> guard(output->lock);
    OutputNow& now = output->now;
    now.block = block;
    now.blocksPlayed = int64_t(output->playedBytes / blockBytes);
    now.finished = output->endBlock >= 0 && block.number > output->endBlock;
    now.seekPending = output->controls.seekOrder >= 0 || output->controls.seekFrame >= 0 ||
                      (output->seekBlock >= 0 && block.number < output->seekBlock);
    now.seekOrder = output->controls.lastSeekOrder;
    now.seekFrame = output->controls.lastSeekFrame;
    now.deviceLost = output->deviceLost.load(std::memory_order_relaxed);
    output->songEnded = output->endBlock >= 0;
}

// The still-position watch of one pass: a device that says it is lost, or whose position has
// not moved for settings.stallMs, is lost. Asked only of a position that did not move, so a
// working device costs nothing.
void WatchDevice(MusicOutput* output, bool moved) {
    if (moved) {
        output->stillPasses = 0;
        return;
    }
    if (output->deviceLost.load(std::memory_order_relaxed)) return;
    const OutputSettings& settings = output->settings;
    const bool reported = output->device.lost && output->device.lost(output->device.context);
    if (reported || ++output->stillPasses >= settings.stallMs / settings.passMs)
        output->deviceLost.store(true, std::memory_order_relaxed);
}

} // namespace

bool WaveDeviceComplete(const WaveDevice* device) {
    return device && device->open && device->playLooping && device->position && device->reset &&
           device->close;
}

MusicOutput* CreateMusicOutput(const WaveDevice* device, PlayerRules rules,
                               const OutputSettings* settings) {
    if (!WaveDeviceComplete(device)) return nullptr;
    OutputSettings chosen = settings ? *settings : OutputSettings{};
    if (chosen.ringBlocks == 0) chosen.ringBlocks = OUTPUT_RING_BLOCKS;
    if (chosen.passMs == 0) chosen.passMs = DEFAULT_PASS_MS;
    if (chosen.stallMs == 0) chosen.stallMs = DEFAULT_STALL_MS;
    if (chosen.ringBlocks < 1 || chosen.ringBlocks > OUTPUT_RING_BLOCKS || chosen.passMs < 1 ||
        chosen.passMs > 1000 || chosen.stallMs < chosen.passMs)
        return nullptr;
    auto* output = new (std::nothrow) MusicOutput();
    if (!output) return nullptr;
    output->device = *device;
    output->rules = rules;
    output->settings = chosen;
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
    if (!output->device.open(output->device.context, rate)) return false;
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
    output->device.reset(output->device.context);
    output->device.close(output->device.context);
    output->deviceOpen = false;
}

int StartPlayback(MusicOutput* output, const Module* module) {
    if (!output || !module) return 0;
    StopPlayback(output, module);
    // Without an open device nothing could be heard: playback does not start.
    if (!output->deviceOpen) return 0;
    // A player that cannot be made leaves nothing allocated and nothing playing.
    const int32_t blocks = output->settings.ringBlocks;
    Player* player = CreatePlayer(module, output->mixRate, output->rules, blocks);
    if (!player) return 0;
    try {
        output->slots.assign(size_t(blocks), HeardBlock{});
    } catch (const std::bad_alloc&) {
        DestroyPlayer(player);
        return 0;
    }
    output->player = player;
    output->carried = HeardBlock{};
    output->carried.position = player->position;
    output->blocksRendered = 0;
    output->endBlock = output->seekBlock = -1;
    output->stillPasses = 0;
    output->deviceLost.store(false);
    {
        // A new playback starts unpaused, with no seek; volume and end mode hold.
        std::lock_guard<std::mutex> guard(output->lock);
        output->controls.paused = false;
        output->controls.seekOrder = -1;
        output->controls.seekFrame = -1;
        output->controls.lastSeekFrame = -1;
        output->now = OutputNow{};
        output->songEnded = false;
    }
    // The whole ring, block 0 first, as the device will play it.
    TakeControls(output);
    for (int32_t b = 0; b < blocks; ++b) RenderOutputBlock(output);

    // The device starts in block 0, whose entry the queries report until it moves on; heardBlock
    // restarts with fillBlock so that the two stay in step across a stop and a new start.
    PublishHeardBlock(output, 0);
    output->lastDevicePosition = 0;
    output->playedBytes = 0;
    PublishNow(output, 0);
    output->device.playLooping(output->device.context, player->mixer.outputRing,
                               uint32_t(player->mixer.ringFrames) * 4u);
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
    TakeControls(output);
    // The device's 32-bit count wraps after 4 GiB; adding the differences in 32-bit arithmetic
    // to a 64-bit total keeps the block mapping continuous across the wrap.
    const uint32_t position = output->device.position(output->device.context);
    WatchDevice(output, position != output->lastDevicePosition);
    output->playedBytes += uint32_t(position - output->lastDevicePosition);
    output->lastDevicePosition = position;
    const int32_t playingBlock = int32_t((output->playedBytes / 4u) % ringFrames) / blockFrames;

    // A thread held up for longer than the ring finds the device anywhere; it renders the
    // blocks from fillBlock on in order, so the song continues without a gap.
    while (mixer.fillBlock != playingBlock) {
        output->blockInProgress.store(true);
        RenderOutputBlock(output);
        int32_t next = output->heardBlock.load(std::memory_order_relaxed) + 1;
        if (next == blocks) next = 0;
        PublishHeardBlock(output, next);
        output->blockInProgress.store(false);
    }
    PublishNow(output, playingBlock);
    output->passes.fetch_add(1, std::memory_order_release);
}

int OutputThreadMain(MusicOutput* output) {
    while (!output->stopRequested.load()) {
        ServiceOutput(output);
        std::this_thread::sleep_for(std::chrono::milliseconds(output->settings.passMs));
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

void SetOutputPaused(MusicOutput* output, bool paused) {
    if (!output) return;
    std::lock_guard<std::mutex> guard(output->lock);
    output->controls.paused = paused;
}

void SetOutputVolume(MusicOutput* output, int32_t percent) {
    if (!output) return;
    std::lock_guard<std::mutex> guard(output->lock);
    output->controls.volume = std::clamp(percent, 0, 200);
}

void SetOutputEndMode(MusicOutput* output, EndMode mode) {
    if (!output) return;
    std::lock_guard<std::mutex> guard(output->lock);
    output->controls.endMode = mode;
}

bool SeekOutput(MusicOutput* output, int32_t order) {
    if (!output || !output->player || order < 0 || order >= output->player->module->songLength)
        return false;
    std::lock_guard<std::mutex> guard(output->lock);
    if (output->songEnded) return false;
    output->controls.seekOrder = order;
    output->controls.lastSeekOrder = order;
    output->controls.seekFrame = -1;
    output->controls.lastSeekFrame = -1;
    output->now.seekFrame = -1;
    // Until the listener hears the new position, queries report it as pending.
    output->now.seekPending = true;
    output->now.seekOrder = order;
    return true;
}

bool SeekOutputFrame(MusicOutput* output, int64_t frame, SeekMode mode) {
    if (!output || !output->player || frame < 0) return false;
    std::lock_guard<std::mutex> guard(output->lock);
    if (output->songEnded) return false;
    // The latest seek wins, whether by order or by time.
    output->controls.seekOrder = -1;
    output->controls.seekFrame = frame;
    output->controls.seekMode = mode;
    output->controls.lastSeekFrame = frame;
    output->now.seekPending = true;
    output->now.seekFrame = frame;
    return true;
}

void SetOutputRepeatCount(MusicOutput* output, int32_t count) {
    if (!output) return;
    std::lock_guard<std::mutex> guard(output->lock);
    output->controls.repeatCount = std::max(count, 0);
}

void SetOutputMixControls(MusicOutput* output, const MixControls& controls) {
    if (!output) return;
    std::lock_guard<std::mutex> guard(output->lock);
    output->controls.mix = controls;
}

bool GetOutputNow(MusicOutput* output, OutputNow* now) {
    if (!output || !now || !output->player) return false;
    std::lock_guard<std::mutex> guard(output->lock);
    *now = output->now;
    return true;
}
