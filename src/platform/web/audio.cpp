// audio.cpp: the browser backend's looping audio device over Web Audio. Main thread; the
// device's processor runs on the browser's audio thread and asks the main thread for frames.
//
// The page makes the audio context on the user's gesture (browsers start sound only then), at
// 44100 Hz where the browser allows it; AudioRate tells the program the rate it got, and
// AudioOpen takes the context at that rate only. The device is an audio worklet node where the
// page could load its processor (audio_worklet.js: secure contexts only, localhost included),
// else a script processor node. Either way the main thread's fill routine takes the next
// frames of the ring from the cursor on, wrapping at its end, counts them as played, and then
// runs the pass hook, which re-renders the blocks just played (the output thread's work
// elsewhere): the worklet's queue is kept at about 8192 frames (186 ms at 44100 Hz, so that a
// slow frame of the show's does not leave it short; longer if it ran dry all the same), topped
// up whenever it reports how far it has played and at every frame the program presents; the
// script processor asks for 4096 frames when it is about to play them.
#include "platform/platform.h"
#include "platform/web/web_platform.h"

#include <emscripten.h>

#include <cstring>
#include <vector>

// clang-format off
// The page's audio context (made here when the page has none yet), or null.
EM_JS(int, web_audio_rate, (int wanted), {
    if (!Module.audioContext && Module.makeAudioContext)
        Module.audioContext = Module.makeAudioContext(wanted);
    return Module.audioContext ? Module.audioContext.sampleRate : 0;
});
EM_JS(int, web_audio_open, (int rate), {
    var context = Module.audioContext;
    // A context at another rate would play the ring too fast or too slow.
    if (!context || context.sampleRate != rate) return 0;
    if (Module.audioNode) return 1;
    // The rate the ring is played at, the device, the frames handed over and the main thread's
    // time spent on them, frames of silence the worklet played for want of frames, for the
    // page's figures.
    var stats = Module.audioStats = {rate: rate, device: "none", frames: 0, ms: 0, missed: 0,
                                     since: performance.now()};
    // n frames of the ring as one array per channel (copies: the heap may move).
    function take(n) {
        var began = performance.now();
        var samples = Module._web_audio_fill(n) >> 2;
        var left = HEAPF32.slice(samples, samples + n), right = HEAPF32.slice(samples + n, samples + 2 * n);
        stats.frames += n;
        stats.ms += performance.now() - began;
        return {left: left, right: right};
    }
    var node;
    if (Module.audioWorkletLoaded) {
        try {
            node = new AudioWorkletNode(context, 'ring-player', {
                numberOfInputs: 0, numberOfOutputs: 1, outputChannelCount: [2],
                processorOptions: {report: 1024}});
        } catch (e) {
            node = null;
        }
    }
    if (node) {
        stats.device = 'worklet';
        var chunk = 512, sent = 0, report = null, grown = 0;
        stats.queue = 8192;
        // Tops the worklet's queue up to stats.queue frames, from its latest report, once the
        // ring is there to play.
        var topUp = function() {
            if (!report || !Module._web_audio_playing()) return;
            // The frames taken by now: those reported, and those played since at the audio
            // clock's pace. (Had it run dry meanwhile, this sends more than needed; the next
            // report puts it right.)
            var played = report.played + Math.max(0, Math.round((context.currentTime - report.at) * rate));
            var need = stats.queue - Math.max(0, sent - played);
            need -= need % chunk;
            if (need <= 0) return;
            sent += need;
            var block = take(need);
            node.port.postMessage(block, [block.left.buffer, block.right.buffer]);
        };
        node.port.onmessage = function(event) {
            // A worklet that ran dry gets a longer queue, up to 743 ms at 44100 Hz: the main
            // thread is slower to come back than the queue lasts. (Once a second at most: the
            // reports that waited out the same stall all say so.)
            if (report && event.data.missed > report.missed && context.currentTime > grown + 1) {
                stats.queue = Math.min(stats.queue + 4096, 32768);
                grown = context.currentTime;
            }
            report = event.data;
            stats.missed = report.missed;
            topUp();
        };
        Module.audioTopUp = topUp;
    } else {
        stats.device = 'script';
        node = context.createScriptProcessor(4096, 0, 2); // 93 ms at 44100 Hz: far less than the ring
        node.onaudioprocess = function(event) {
            var out = event.outputBuffer;
            var block = take(out.length);
            out.getChannelData(0).set(block.left);
            out.getChannelData(1).set(block.right);
        };
    }
    node.connect(context.destination);
    Module.audioNode = node;
    return 1;
});
EM_JS(void, web_audio_close, (int closeContext), {
    var node = Module.audioNode;
    Module.audioTopUp = null;
    if (node) {
        if (node.port) {
            node.port.onmessage = null;
            node.port.postMessage({stop: true});
        } else {
            node.onaudioprocess = null;
        }
        node.disconnect();
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

// Whether the device has a ring to play (the worklet is sent nothing before).
extern "C" EMSCRIPTEN_KEEPALIVE int web_audio_playing() {
    return audio.ring && audio.ringBytes >= 4 ? 1 : 0;
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

// The page's audio context is never taken away from it; one that stops runs the passes no more.
bool AudioLost() {
    return false;
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

int AudioRate(int wanted) {
    const int rate = web_audio_rate(wanted);
    return rate > 0 ? rate : wanted;
}

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
