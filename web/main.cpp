// main.cpp: the demo program of the web page. Main thread (the page's).
//
// The same entry routine as on the desktop (RunDemo: window, show, music, message loop), started
// once the page has had the user's gesture, since browsers start sound only then. The page
// hands the program its data files before it starts, and tells it when the show should run on a
// frame clock (test runs: ?fps=N). After RunDemo the music stops and the page says why.
//
// Also the hooks a test calls: the first seconds of the music through the demo's own output, so
// that a test can compare the wasm player's frames with the desktop's; and the show's segment of
// the frame just drawn, for the page's frame rate per segment.
#include "music/file_access.h"
#include "music/module.h"
#include "music/output.h"
#include "music/playback_thread.h"
#include "platform/web/web_platform.h"
#include "shell/data_folder.h"
#include "shell/main_loop.h"
#include "show/show_timeline.h"

#include <emscripten.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

// clang-format off
// Resolves when the page has had its gesture (at once on a test run); the value is the frame
// clock's rate, or 0 for the real clock.
EM_ASYNC_JS(int, web_wait_for_start, (), {
    return await Module.demoStart;
});
EM_JS(void, web_show_ended, (int exitCode), {
    if (Module.onShowEnded) Module.onShowEnded(exitCode);
});
// clang-format on

namespace {

// ---- The music through a hand-moved device --------------------------------------------------

// A device that plays nothing: the hook moves its position by hand, a block at a time, the way
// the page's audio callback does.
struct HandDevice {
    uint32_t position = 0;
};

HandDevice* Hand(void* context) {
    return static_cast<HandDevice*>(context);
}

WaveDevice HandDeviceTable(HandDevice* hand) {
    return WaveDevice{
        .context = hand,
        .open = [](void*, int) { return true; },
        .playLooping = [](void* context, const void*, uint32_t) { Hand(context)->position = 0; },
        .position = [](void* context) { return Hand(context)->position; },
        .reset = [](void*) {},
        .close = [](void*) {},
        .threadStarted = nullptr,
        .lost = nullptr,
    };
}

std::vector<int16_t> renderedMusic;

} // namespace

void BuildKernelTables(); // the interpolation kernels (package/kernel_tables_built.cpp)

// Renders the first `frames` frames of "Zarq-Neat.xm" as the demo's output hands them to the
// device: the pre-filled ring, then each block re-rendered after it has been played. Returns the
// interleaved 16-bit frames (valid until the next call), or null when the song cannot be played.
extern "C" EMSCRIPTEN_KEEPALIVE const int16_t* web_render_music(int frames) {
    BuildKernelTables();
    HandDevice hand;
    const WaveDevice device = HandDeviceTable(&hand);
    MusicOutput* output = CreateMusicOutput(&device);
    if (!output || frames <= 0 || !OpenWaveOutput(output, 44100)) {
        DestroyMusicOutput(output);
        return nullptr;
    }
    output->song = LoadModule(&standardFileCallbacks, "Zarq-Neat.xm", nullptr);
    if (!StartPlayback(output, output->song)) {
        DestroyMusicOutput(output);
        return nullptr;
    }
    const MixerState& mixer = output->player->mixer;
    const size_t ringFrames = size_t(mixer.ringFrames), blockFrames = size_t(mixer.blockFrames);
    renderedMusic.assign(size_t(frames) * 2, 0);
    size_t done = 0, cursor = 0;
    while (done < size_t(frames)) {
        // The device plays one block, then the output renders the blocks it has finished.
        const size_t n = std::min(blockFrames, size_t(frames) - done);
        std::memcpy(&renderedMusic[done * 2], mixer.outputRing + cursor * 2, n * 4);
        done += n;
        cursor = (cursor + n) % ringFrames;
        hand.position += uint32_t(n) * 4u;
        ServiceOutput(output);
    }
    DestroyMusicOutput(output);
    return renderedMusic.data();
}

// The part of the show the frame just drawn belongs to: 0 the intro, 1 + ShowSegment after it.
extern "C" EMSCRIPTEN_KEEPALIVE int web_show_segment() {
    return show.introRunning ? 0 : 1 + int(SegmentAt(show.showTime));
}

// The name of web_show_segment's part, as the desktop's frame-rate table names it.
extern "C" EMSCRIPTEN_KEEPALIVE const char* web_show_segment_name(int part) {
    if (part <= 0 || part > kShowSegmentCount) return "intro";
    return SegmentName(ShowSegment(part - 1));
}

int main() {
    BuildKernelTables(); // before any player: the show's music thread is this one
    const int fps = web_wait_for_start();
    if (fps > 0) platform::web::UseFrameClock(fps);
    EnterDataFolder();
    const int exitCode = RunDemo();
    // On the desktop the music ends with the process; the page goes on, so it is stopped here.
    platform::web::StopAudio();
    web_show_ended(exitCode);
    return exitCode;
}
