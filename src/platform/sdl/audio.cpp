// audio.cpp: the looping audio device over SDL's audio callback. Main thread opens, hands over,
// resets and closes; SDL's audio thread runs the callback; any thread reads the position.
#include "platform/platform.h"

#include <SDL.h>

#include <atomic>
#include <cstring>

namespace {

struct AudioDevice {
    SDL_AudioDeviceID id = 0;
    // Ring and cursor: written by the main thread only with the device locked, read by the
    // callback, which SDL runs with the device locked.
    const uint8_t* ring = nullptr;
    uint32_t ringBytes = 0;
    uint32_t cursor = 0;
    std::atomic<uint32_t> played{0}; // bytes handed to SDL since the hand-over
};

AudioDevice device;

// Copies the next `len` bytes of the ring from the cursor on, wrapping at its end. Never blocks,
// never allocates.
void SDLCALL FillFromRing(void*, Uint8* stream, int len) {
    if (!device.ring || device.ringBytes == 0 || len <= 0) {
        std::memset(stream, 0, len > 0 ? size_t(len) : 0);
        return;
    }
    uint32_t left = uint32_t(len);
    while (left > 0) {
        uint32_t chunk = device.ringBytes - device.cursor;
        if (chunk > left) chunk = left;
        std::memcpy(stream, device.ring + device.cursor, chunk);
        stream += chunk;
        left -= chunk;
        device.cursor += chunk;
        if (device.cursor == device.ringBytes) device.cursor = 0;
    }
    device.played.fetch_add(uint32_t(len), std::memory_order_release);
}

} // namespace

namespace platform {

bool AudioOpen(int rate) {
    if (device.id != 0) AudioClose();
    device.played.store(0, std::memory_order_release);
    if (rate <= 0) return false;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;

    SDL_AudioSpec want{};
    want.freq = rate;
    want.format = AUDIO_S16LSB;
    want.channels = 2;
    want.samples = 1024; // about 23 ms at 44100 Hz: shorter than one ring block
    want.callback = FillFromRing;
    SDL_AudioSpec have{};
    // No changes allowed: SDL converts to whatever the hardware takes.
    device.id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device.id == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    // Stays paused until a ring is handed over: a paused device plays silence of its own.
    return true;
}

void AudioPlayLooping(const void* ring, uint32_t bytes) {
    if (device.id == 0) return;
    SDL_LockAudioDevice(device.id);
    device.ring = static_cast<const uint8_t*>(ring);
    device.ringBytes = ring ? bytes & ~3u : 0; // whole frames only
    device.cursor = 0;
    device.played.store(0, std::memory_order_release);
    SDL_UnlockAudioDevice(device.id);
    SDL_PauseAudioDevice(device.id, 0);
}

uint32_t AudioPosition() {
    return device.played.load(std::memory_order_acquire);
}

bool AudioLost() {
    // A device SDL has found gone (it then posts SDL_AUDIODEVICEREMOVED) reports itself
    // stopped; a working one is playing or paused. SDL stops calling back for it, so its
    // position stands still.
    const SDL_AudioDeviceID id = device.id;
    return id != 0 && SDL_GetAudioDeviceStatus(id) == SDL_AUDIO_STOPPED;
}

void AudioReset() {
    if (device.id == 0) return;
    SDL_PauseAudioDevice(device.id, 1);
    SDL_LockAudioDevice(device.id);
    device.ring = nullptr;
    device.ringBytes = 0;
    device.cursor = 0;
    SDL_UnlockAudioDevice(device.id);
}

void AudioClose() {
    if (device.id == 0) return;
    AudioReset();
    SDL_CloseAudioDevice(device.id);
    device.id = 0;
    device.played.store(0, std::memory_order_release);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

} // namespace platform
