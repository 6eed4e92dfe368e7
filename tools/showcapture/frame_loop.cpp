// frame_loop.cpp: the show on a virtual clock, so the same command always draws the same
// frames. Main thread.
#include "frame_loop.h"

#include <algorithm>

#include "platform/gl.h"
#include "platform/platform.h"
#include "shell/gl_window.h"
#include "shell/main_loop.h"
#include "show/show_timeline.h"

namespace {

// The program clock between runs of frames: the start of the program.
const platform::ClockSource clockAtStart{[](void*) -> uint32_t { return 0; }, nullptr};

// Keeps the window responsive; the capture ignores keys and activation.
void PumpMessages() {
    platform::WindowMessage msg{};
    while (platform::PeekWindowMessage(&msg))
        if (msg.message != platform::MsgQuit) platform::DispatchWindowMessage(msg);
}

} // namespace

bool OpenShowWindow() {
    platform::SetClock(&clockAtStart);
    if (!OpenGlWindow("Demo", kShowWidth, kShowHeight, 16, false)) return false;
    PrepareShow();
    return true;
}

void CloseShowWindow() {
    CloseGlWindow();
    platform::SetClock(nullptr);
}

int64_t RunShowFrames(int fps, const std::function<bool(const ShowFrame&)>& onFrame) {
    // The clock reads the frame being drawn: this run's own count.
    uint32_t virtualMs = 0;
    const platform::ClockSource clock{
        [](void* context) { return *static_cast<const uint32_t*>(context); }, &virtualMs};
    platform::SetClock(&clock);
    int64_t n = 0;
    for (;; ++n) {
        virtualMs = uint32_t(n * 1000 / fps);
        PumpMessages();
        const bool intro = show.introRunning;
        if (!DrawShowFrame()) break;
        if (!onFrame(ShowFrame{n, virtualMs, show.showTime, intro})) break;
        platform::SwapGlBuffers();
    }
    platform::SetClock(&clockAtStart); // the run's clock goes with it
    return n + 1;
}

void ReadShowFrame(std::vector<uint8_t>* rgb) {
    const size_t rowBytes = size_t(kShowWidth) * 3;
    std::vector<uint8_t> bottomUp(rowBytes * kShowHeight);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, kShowWidth, kShowHeight, GL_RGB, GL_UNSIGNED_BYTE, bottomUp.data());
    rgb->resize(bottomUp.size());
    for (int y = 0; y < kShowHeight; ++y)
        std::copy_n(bottomUp.data() + (kShowHeight - 1 - y) * rowBytes, rowBytes,
                    rgb->data() + y * rowBytes);
}
