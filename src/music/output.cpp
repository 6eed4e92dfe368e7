// output.cpp: the music start-up and the platform's audio device as an output's device table.
// Main thread; OutputThreadStarted runs first thing on the output thread. The only music file
// that calls the platform.
#include "music/output.h"

#include "music/file_access.h"
#include "music/module.h"
#include "platform/platform.h"

#include <cstdio>

#if defined(__linux__)
#include <pthread.h>
#endif
#if defined(__EMSCRIPTEN__)
#include "platform/web/web_platform.h"
#endif

namespace {

void OutputThreadStarted(void*) {
#if defined(__linux__)
    // A name to find the thread by in the process's task list (CPU measurements).
    pthread_setname_np(pthread_self(), "music-output");
#endif
    // The highest priority the system grants; refused is fine, the ring holds two seconds.
    platform::RaiseCurrentThreadPriority();
}

void PrintLine(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout); // the line must not wait for the exit in a pipe's buffer
}

} // namespace

// The platform has one device per process, so the table needs no context of its own.
const WaveDevice platformWaveDevice = {
    .context = nullptr,
    .open = [](void*, int rate) { return platform::AudioOpen(rate); },
    .playLooping = [](void*, const void* ring,
                      uint32_t bytes) { platform::AudioPlayLooping(ring, bytes); },
    .position = [](void*) { return platform::AudioPosition(); },
    .reset = [](void*) { platform::AudioReset(); },
    .close = [](void*) { platform::AudioClose(); },
    .threadStarted = OutputThreadStarted,
    .lost = [](void*) { return platform::AudioLost(); },
};

MusicOutput* StartMusic(const WaveDevice* device) {
    MusicOutput* output = CreateMusicOutput(device, PlayerRules::Demo);
#if defined(__EMSCRIPTEN__)
    // The browser's audio context may run at another rate than 44100 Hz: the player then runs
    // at the context's rate.
    const int32_t rate = platform::web::AudioRate(44100);
#else
    const int32_t rate = 44100;
#endif
    if (!output || !OpenWaveOutput(output, rate)) PrintLine("Error upon initialization.");
    if (!output) return nullptr;
    output->song = LoadModule(&standardFileCallbacks, "Zarq-Neat.xm", nullptr);
    if (!output->song) {
        CloseWaveOutput(output);
        PrintLine("Error loading song");
    }
#if defined(__EMSCRIPTEN__)
    // No output thread in the browser: the device's callback runs the output's passes.
    if (StartPlayback(output, output->song))
        platform::web::SetAudioPass(
            [](void* context) { ServiceOutput(static_cast<MusicOutput*>(context)); }, output);
#else
    StartPlayback(output, output->song);
#endif
    return output;
}
