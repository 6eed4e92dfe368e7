// window.cpp: the browser backend's window, display, OpenGL context, messages and keys, message
// boxes, clock and files. Main thread (the browser's only one here).
//
// The window is the page's 640x480 canvas, scaled by the page's style sheet; the OpenGL context
// is the GL 1.1 layer over the canvas's WebGL (gl11/). SwapGlBuffers is where the program gives
// the browser its turn: it waits for the display's next frame (or, on a test run's frame clock,
// only for the event queue) and the program's own loop goes on after it, unchanged.
#include "platform/platform.h"
#include "platform/web/gl11/gl11.h"
#include "platform/web/web_platform.h"

#include <emscripten.h>
#include <emscripten/html5.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>

// clang-format off
EM_JS(void, web_set_title, (const char* title), { document.title = UTF8ToString(title); });
EM_JS(void, web_show_cursor, (int show), {
    var canvas = document.querySelector('#canvas');
    if (canvas) canvas.style.cursor = show ? 'auto' : 'none';
});
// F1's key press is the user gesture that the browser's full screen needs, so the toggle runs
// inside the key handler, not on the program's next pass.
EM_JS(void, web_toggle_full_screen, (), {
    if (Module.toggleFullScreen) Module.toggleFullScreen();
});
EM_JS(void, web_page_status, (const char* text), {
    if (Module.pageStatus) Module.pageStatus(UTF8ToString(text));
});
EM_JS(int, web_confirm, (const char* text, const char* caption), {
    return window.confirm(UTF8ToString(caption) + '\n\n' + UTF8ToString(text)) ? 1 : 0;
});
EM_JS(void, web_message, (const char* text, const char* caption), {
    var t = UTF8ToString(caption) + ': ' + UTF8ToString(text);
    if (Module.showMessage) Module.showMessage(t); else err(t);
});
// Each frame also tops up the audio worklet's queue: the main thread's turns between frames
// may not include one for the worklet's messages.
EM_JS(void, web_frame_presented, (int index, int programMs), {
    if (Module.audioTopUp) Module.audioTopUp();
    if (Module.onFramePresented) Module.onFramePresented(index, programMs);
});
// The browser's turn: the display's next frame, or on a frame clock just the event queue (a
// message to ourselves, which unlike a zero timeout is not throttled to 4 ms).
EM_ASYNC_JS(void, web_yield, (int nextDisplayFrame), {
    if (nextDisplayFrame) {
        await new Promise(function(resolve) { requestAnimationFrame(resolve); });
    } else {
        await new Promise(function(resolve) {
            var channel = new MessageChannel();
            channel.port1.onmessage = function() { resolve(); };
            channel.port2.postMessage(0);
        });
    }
});
// clang-format on

namespace platform {
namespace {

struct WebState {
    WindowProc proc = nullptr;
    std::deque<WindowMessage> messages;
    bool windowOpen = false;
    bool contextOpen = false;
    bool listening = false;
    int frameClockFps = 0; // 0: the real clock
    int64_t frameIndex = 0;
};
WebState page;

std::atomic<const ClockSource*> installedClock{nullptr};

void Post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    page.messages.push_back(WindowMessage{message, wParam, lParam});
}

// The page's key codes are the Windows virtual-key codes for every key the program reads.
EM_BOOL OnKey(int type, const EmscriptenKeyboardEvent* event, void*) {
    const uintptr_t key = event->keyCode;
    if (key == 0 || key > 255) return EM_FALSE;
    const bool down = type == EMSCRIPTEN_EVENT_KEYDOWN;
    if (down && key == uintptr_t(KeyF1) && !event->repeat) web_toggle_full_screen();
    Post(down ? MsgKeyDown : MsgKeyUp, key, 0);
    // The program's keys are the program's: F1 is not the browser's help, Escape not its stop.
    return key == uintptr_t(KeyF1) || key == uintptr_t(KeyEscape);
}

// A hidden page counts as a minimised window: nothing is drawn while it is away.
EM_BOOL OnVisibility(int, const EmscriptenVisibilityChangeEvent* event, void*) {
    Post(MsgActivate, event->hidden ? (uintptr_t(1) << 16) : 1, 0);
    return EM_FALSE;
}

void Listen() {
    if (page.listening) return;
    page.listening = true;
    emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, OnKey);
    emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, OnKey);
    emscripten_set_visibilitychange_callback(nullptr, EM_TRUE, OnVisibility);
}

uint32_t FrameClockMs() {
    return uint32_t(page.frameIndex * 1000 / page.frameClockFps);
}

} // namespace

// ---- Window, display mode, OpenGL context ------------------------------------------------------

bool DisplayAvailable() {
    return true; // the page is the display
}

bool RegisterWindowClass(WindowProc proc) {
    if (!proc || page.proc) return false;
    page.proc = proc;
    Listen();
    return true;
}

bool UnregisterWindowClass() {
    if (!page.proc) return false;
    page.proc = nullptr;
    return true;
}

// The page cannot switch the display's mode; the browser's full screen is F1's (see OnKey), and
// the canvas is scaled to whatever the page's area is.
bool ChangeDisplayMode(int, int, int) {
    return true;
}
void RestoreDisplayMode() {}

void ShowMouseCursor(bool show) {
    web_show_cursor(show);
}

bool CreateMainWindow(const char* title, int, int, bool, int, int) {
    if (page.windowOpen) return false;
    web_set_title(title ? title : "");
    page.windowOpen = true;
    return true;
}

bool DestroyMainWindow() {
    if (!page.windowOpen) return false;
    page.windowOpen = false;
    return true;
}

bool CreateGlContext() {
    if (!page.windowOpen || page.contextOpen) return false;
    if (gl11::CreateContext("#canvas") == 0) {
        web_page_status("This browser offers no WebGL, which the show needs to draw.");
        return false;
    }
    page.contextOpen = true;
    return true;
}

bool MakeGlContextCurrent(bool) {
    return page.contextOpen;
}

bool DeleteGlContext() {
    if (!page.contextOpen) return false;
    // The canvas keeps its WebGL context; what the program made in it goes, as with a deleted
    // context on the desktop.
    gl11::ResetState();
    page.contextOpen = false;
    return true;
}

void ShowMainWindow() {}

void SwapGlBuffers() {
    gl11::Flush();
    const uint32_t programMs = page.frameClockFps ? FrameClockMs() : TimeMs();
    web_frame_presented(int(page.frameIndex), int(programMs));
    ++page.frameIndex;
    web_yield(page.frameClockFps == 0);
}

// ---- Messages ------------------------------------------------------------------------------

bool PeekWindowMessage(WindowMessage* out) {
    if (!out || page.messages.empty()) return false;
    *out = page.messages.front();
    page.messages.pop_front();
    return true;
}

void DispatchWindowMessage(const WindowMessage& msg) {
    if (page.proc) page.proc(msg.message, msg.wParam, msg.lParam);
}

intptr_t DefaultWindowProc(uint32_t, uintptr_t, intptr_t) {
    return 0;
}

void PostQuit(int exitCode) {
    Post(MsgQuit, static_cast<uintptr_t>(static_cast<unsigned>(exitCode)), 0);
}

// ---- Message boxes -------------------------------------------------------------------------

// Yes/No is the browser's own confirmation dialog (it blocks, as a box does); anything else is
// shown over the page and answered at once.
int ShowMessageBox(const char* text, const char* caption, MessageButtons buttons, MessageIcon) {
    text = text ? text : "";
    caption = caption ? caption : "";
    if (buttons == MessageButtons::YesNo) return web_confirm(text, caption) ? AnswerYes : AnswerNo;
    web_message(text, caption);
    return AnswerOk;
}

// ---- Clock and sleeping --------------------------------------------------------------------

uint32_t TimeMs() {
    if (const ClockSource* clock = installedClock.load(std::memory_order_acquire))
        return clock->read(clock->context);
    if (page.frameClockFps) return FrameClockMs();
    return uint32_t(uint64_t(emscripten_get_now()));
}

void SetClock(const ClockSource* clock) {
    installedClock.store(clock, std::memory_order_release);
}

// The page's only thread must not sleep; this waits, and nothing in the program calls it here.
void SleepMs(uint32_t ms) {
    const double end = emscripten_get_now() + ms;
    while (emscripten_get_now() < end) {
    }
}

bool RaiseCurrentThreadPriority() {
    return false;
}

// ---- Files ---------------------------------------------------------------------------------

// The page's files live in memory (the page fetched them); "mapping" one copies it.
bool MapFileReadOnly(const char* path, MappedFile* out) {
    if (!path || !out) return false;
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    bool ok = std::fseek(file, 0, SEEK_END) == 0;
    const long size = ok ? std::ftell(file) : -1;
    ok = ok && size > 0 && std::fseek(file, 0, SEEK_SET) == 0;
    auto* data = ok ? static_cast<uint8_t*>(std::malloc(size_t(size))) : nullptr;
    ok = data && std::fread(data, 1, size_t(size), file) == size_t(size);
    std::fclose(file);
    if (!ok) {
        std::free(data);
        return false;
    }
    out->data = data;
    out->size = size_t(size);
    out->handle = data;
    return true;
}

void UnmapFile(MappedFile* file) {
    if (!file) return;
    std::free(file->handle);
    *file = MappedFile{};
}

bool ExecutablePath(char* out, size_t size) {
    constexpr const char kPath[] = "/demo"; // the page's files sit at the root beside it
    if (!out || size < sizeof kPath) return false;
    std::memcpy(out, kPath, sizeof kPath);
    return true;
}

// ---- Browser extras ------------------------------------------------------------------------

namespace web {

void UseFrameClock(int fps) {
    platform::page.frameClockFps = fps > 0 ? fps : 0;
    platform::page.frameIndex = 0;
}

void SetPageStatus(const char* text) {
    web_page_status(text ? text : "");
}

} // namespace web

} // namespace platform
