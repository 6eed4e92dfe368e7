// output.cpp: the music start-up, device open and close, and the platform's audio device as the
// output's device table. Main thread; OutputThreadStarted runs first thing on the output thread.
// The only music file that calls the platform.
#include "music/output.h"

#include "music/file_access.h"
#include "music/mixer.h"
#include "music/module.h"
#include "music/playback.h"
#include "platform/platform.h"

#include <cstdio>

#if defined(__linux__)
#include <pthread.h>
#endif

Module* song = nullptr;

namespace {

// Rates the output can work at: below 50 Hz a ring block would hold no frame, and far above the
// common rates the ring's size arithmetic would overflow.
constexpr int32_t LOWEST_RATE = 50;
constexpr int32_t HIGHEST_RATE = 384000;

void OutputThreadStarted() {
#if defined(__linux__)
    // A name to find the thread by in the process's task list (CPU measurements).
    pthread_setname_np(pthread_self(), "music-output");
#endif
    // The highest priority the system grants; refused is fine, the ring holds two seconds.
    platform::RaiseCurrentThreadPriority();
}

} // namespace

const WaveDevice platformWaveDevice = {
    platform::AudioOpen,  platform::AudioPlayLooping, platform::AudioPosition,
    platform::AudioReset, platform::AudioClose,       OutputThreadStarted,
};

int StartMusic() {
    SetStandardFileCallbacks();
    // Tests and tools may have installed a device of their own; the program uses the platform's.
    if (!WaveDeviceInstalled()) SetWaveDevice(&platformWaveDevice);
    if (!OpenWaveOutput(44100)) {
        std::printf("Error upon initialization.\n");
        std::fflush(stdout); // the line must not wait for the exit in a pipe's buffer
    }
    song = LoadModule("Zarq-Neat.xm", nullptr);
    if (!song) {
        CloseWaveOutput();
        std::printf("Error loading song\n");
        std::fflush(stdout);
    }
    return StartPlayback(song);
}

bool OpenWaveOutput(int32_t rate) {
    if (!FileCallbacksInstalled()) return false;
    CloseWaveOutput();
    if (rate < LOWEST_RATE || rate > HIGHEST_RATE) return false;
    if (!WaveDeviceInstalled() || !waveDevice.open(rate)) return false;
    output.deviceOpen = true;
    ConfigureOutput(rate);
    return true;
}

void CloseWaveOutput() {
    // Closing under a running playback would leave the output thread rendering into buffers whose
    // sizes the next open changes: the playback is stopped first.
    if (mixer.playingModule) StopPlayback(mixer.playingModule);
    if (!output.deviceOpen) return;
    waveDevice.reset();
    waveDevice.close();
    output.deviceOpen = false;
}
