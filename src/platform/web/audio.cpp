// audio.cpp: the browser backend's looping audio device over Web Audio. Main thread: the page's
// audio callback (a script processor node) runs on it too, between frames.
//
// The page makes the audio context on the user's gesture (browsers start sound only then) at
// the rate the program asks for; AudioOpen takes it. Each callback takes the next frames of the
// ring from the cursor on, wrapping at its end, counts them as played, and then runs the pass
// hook, which re-renders the blocks just played (the output thread's work elsewhere).
#include "platform/platform.h"
#include "platform/web/web_platform.h"

#include <emscripten.h>

#include <cstring>
#include <vector>

// clang-format off
EM_JS(int, web_audio_open, (int rate), {
    var context = Module.audioContext;
    if (!context) {
        try { context = Module.audioContext = new AudioContext({sampleRate: rate}); } catch (e) { return 0; }
    }
    // A context at another rate would play the ring too fast or too slow.
    if (context.sampleRate != rate) return 0;
    if (Module.audioNode) return 1;
    var frames = 4096; // 93 ms at 44100 Hz: several ring blocks, far less than the ring
    var node = context.createScriptProcessor(frames, 0, 2);
    // Frames the callback handed over and the time it took, for the page's figures.
    Module.audioStats = {frames: 0, ms: 0, since: performance.now()};
    node.onaudioprocess = function(event) {
        var began = performance.now();
        var out = event.outputBuffer;
        var n = out.length;
        var samples = Module._web_audio_fill(n) >> 2;
        var left = out.getChannelData(0), right = out.getChannelData(1);
        left.set(HEAPF32.subarray(samples, samples + n));
        right.set(HEAPF32.subarray(samples + n, samples + 2 * n));
        Module.audioStats.frames += n;
        Module.audioStats.ms += performance.now() - began;
    };
    node.connect(context.destination);
    Module.audioNode = node;
    return 1;
});
EM_JS(void, web_audio_close, (int closeContext), {
    if (Module.audioNode) {
        Module.audioNode.onaudioprocess = null;
        Module.audioNode.disconnect();
        Module.audioNode = null;
    }
    if (closeContext && Module.audioContext) {
        Module.audioContext.close();
        Module.audioContext = null;
    }
});
// clang-format on

namespace {

struct WebAudio {
    bool open = false;
    const uint8_t* ring = nullptr;
    uint32_t ringBytes = 0;
    uint32_t cursor = 0;
    uint32_t played = 0; // bytes taken since the hand-over
    void (*pass)(void*) = nullptr;
    void* passContext = nullptr;
    std::vector<float> samples; // the left channel's frames, then the right's
};
WebAudio audio;

} // namespace

// The page's audio callback: the next `frames` frames of the ring as floats, left then right.
extern "C" EMSCRIPTEN_KEEPALIVE float* web_audio_fill(int frames) {
    const size_t n = frames > 0 ? size_t(frames) : 0;
    audio.samples.assign(2 * n, 0.0f);
    if (audio.ring && audio.ringBytes >= 4) {
        for (size_t i = 0; i < n; ++i) {
            int16_t lr[2];
            std::memcpy(lr, audio.ring + audio.cursor, 4);
            audio.samples[i] = float(lr[0]) / 32768.0f;
            audio.samples[n + i] = float(lr[1]) / 32768.0f;
            audio.cursor += 4;
            if (audio.cursor >= audio.ringBytes) audio.cursor = 0;
        }
        audio.played += uint32_t(n) * 4u;
        if (audio.pass) audio.pass(audio.passContext);
    }
    return audio.samples.data();
}

namespace platform {

bool AudioOpen(int rate) {
    if (audio.open) AudioClose();
    audio.played = 0;
    if (rate <= 0 || !web_audio_open(rate)) return false;
    audio.open = true;
    return true;
}

void AudioPlayLooping(const void* ring, uint32_t bytes) {
    if (!audio.open) return;
    audio.ring = static_cast<const uint8_t*>(ring);
    audio.ringBytes = ring ? bytes & ~3u : 0; // whole frames only
    audio.cursor = 0;
    audio.played = 0;
}

uint32_t AudioPosition() {
    return audio.played;
}

void AudioReset() {
    audio.ring = nullptr;
    audio.ringBytes = 0;
    audio.cursor = 0;
    audio.pass = nullptr;
    audio.passContext = nullptr;
}

void AudioClose() {
    AudioReset();
    if (audio.open) web_audio_close(0);
    audio.open = false;
}

namespace web {

void SetAudioPass(void (*pass)(void* context), void* context) {
    audio.pass = pass;
    audio.passContext = pass ? context : nullptr;
}

void StopAudio() {
    AudioReset();
    web_audio_close(1);
    audio.open = false;
}

} // namespace web

} // namespace platform
