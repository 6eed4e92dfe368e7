// playback.cpp: the platform-free half of playback control: output sizes for a rate, the
// playback-field reset, the mixer's buffers and the pre-fill of the ring, and stopping. Main
// thread (or the offline renderer's only thread).
#include "music/playback.h"

#include <cstdlib>
#include <cstring>

#include "music/mixer.h"
#include "music/module.h"
#include "music/playback_thread.h"
#include "music/sequencer.h"

std::atomic<bool> blockInProgress{false};

void ConfigureOutput(int32_t rate) {
    // A rate that cannot give a block leaves the output unconfigured: PreparePlayback refuses.
    if (rate < 50) {
        mixer.mixRate = 0;
        mixer.blockFrames = 0;
        mixer.ringFrames = 0;
        return;
    }
    mixer.mixRate = rate;
    mixer.blockFrames = (rate / 50 + 3) & ~3;
    mixer.ringFrames = mixer.blockFrames * (1000 / 20) * 2;
    // Below 345 Hz the ramp would be 0 frames long and its reciprocal infinite; one frame is
    // the shortest ramp there is.
    mixer.rampLength = static_cast<int32_t>(int64_t{rate} * 128 / 44100);
    if (mixer.rampLength < 1) mixer.rampLength = 1;
    mixer.rampReciprocal = 1.0f / static_cast<float>(mixer.rampLength);
    mixer.secondsPerFrame = 1.0f / static_cast<float>(rate);
    std::memset(voices, 0, sizeof voices);
    for (int v = 0; v < VOICE_TABLE_SIZE; ++v) {
        voices[v].voiceNumber = v;
        voices[v].increment = 1;
    }
}

void ReleasePlaybackBuffers() {
    std::free(mixer.mixBufferAllocation);
    mixer.mixBufferAllocation = nullptr;
    mixer.mixBuffer = nullptr;
    std::free(mixer.outputRing);
    mixer.outputRing = nullptr;
    std::free(mixer.blockPositions);
    mixer.blockPositions = nullptr;
    mixer.playingModule = nullptr;
}

void ResetPlaybackState(Module* module) {
    module->globalVolume = module->initialGlobalVolume;
    module->speed = module->defaultSpeed;
    module->row = 0;
    module->orderPosition = 0;
    module->nextOrderPosition = -1;
    module->nextRow = -1;
    module->tickFramesLeft = 0; // the first MixBlock starts with a tick
    module->tick = 0;
    module->patternDelayTicks = 0;
    module->elapsedMs = 0;
    if (module->startHandler) module->startHandler(module);
    SetBpm(module, module->defaultBpm);
    ResetChannels(module);
}

bool PreparePlayback(Module* module) {
    if (!module || mixer.blockFrames <= 0 || mixer.ringFrames < mixer.blockFrames) return false;
    ReleasePlaybackBuffers();

    // Everything is allocated before the song is touched, so that a failure leaves the module
    // and the channel table as they were.
    const size_t blocks = static_cast<size_t>(mixer.ringFrames / mixer.blockFrames);
    const size_t ringFrames = static_cast<size_t>(mixer.ringFrames);
    mixer.blockPositions = static_cast<BlockPosition*>(std::calloc(blocks, sizeof(BlockPosition)));
    mixer.outputRing = static_cast<int16_t*>(std::calloc(ringFrames, 2 * sizeof(int16_t)));
    mixer.mixBufferAllocation = std::calloc(ringFrames * 8 + 256, 1);
    if (!mixer.blockPositions || !mixer.outputRing || !mixer.mixBufferAllocation) {
        ReleasePlaybackBuffers();
        return false;
    }
    const uintptr_t raw = reinterpret_cast<uintptr_t>(mixer.mixBufferAllocation);
    mixer.mixBuffer = reinterpret_cast<float*>((raw + 15) & ~uintptr_t{15});

    ResetPlaybackState(module);
    mixer.playingModule = module;

    // Render every block of the ring once, in order, before anything plays it.
    mixer.fillBlock = 0;
    do {
        MixBlock();
    } while (mixer.fillBlock != 0);
    return true;
}

int StopPlayback(Module* module) {
    if (!module) return 0;
    // The output thread ends (and the device lets go of the ring) before the buffers go.
    StopOutputThread();
    while (blockInProgress.load()) {
    }
    ReleasePlaybackBuffers();
    return 1;
}
