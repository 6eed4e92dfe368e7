// null_backend.cpp: the null backend's window, display, OpenGL, messages, font, message boxes
// and clock: no window can be made, boxes go to standard error, the clock is virtual.
// Main thread, except the clock and message boxes (any thread).
#include "platform/null/null_platform.h"
#include "platform/platform.h"
#include "platform/posix/posix.h"

#include <atomic>
#include <deque>

namespace platform {
namespace {

struct NullState {
    WindowProc proc = nullptr;
    std::deque<WindowMessage> posted;
};
NullState nullState;

std::atomic<const ClockSource*> installedClock{nullptr};
std::atomic<uint32_t> virtualTime{0};

} // namespace

bool DisplayAvailable() {
    return true; // nothing here needs one
}
// The class can be registered (so that code around it runs), but no window can be made.
bool RegisterWindowClass(WindowProc proc) {
    if (!proc || nullState.proc) return false;
    nullState.proc = proc;
    return true;
}
bool UnregisterWindowClass() {
    if (!nullState.proc) return false;
    nullState.proc = nullptr;
    return true;
}
bool ChangeDisplayMode(int, int, int) {
    return false;
}
void RestoreDisplayMode() {}
void ShowMouseCursor(bool) {}
bool CreateMainWindow(const char*, int, int, bool, int, int) {
    return false;
}
bool DestroyMainWindow() {
    return false;
}
bool CreateGlContext() {
    return false;
}
bool MakeGlContextCurrent(bool) {
    return false;
}
bool DeleteGlContext() {
    return false;
}
void ShowMainWindow() {}
void SwapGlBuffers() {}

bool PeekWindowMessage(WindowMessage* out) {
    if (!out || nullState.posted.empty()) return false;
    *out = nullState.posted.front();
    nullState.posted.pop_front();
    return true;
}
void DispatchWindowMessage(const WindowMessage& msg) {
    if (nullState.proc) nullState.proc(msg.message, msg.wParam, msg.lParam);
}
intptr_t DefaultWindowProc(uint32_t, uintptr_t, intptr_t) {
    return 0;
}
void PostQuit(int exitCode) {
    nullState.posted.push_back(
        {MsgQuit, static_cast<uintptr_t>(static_cast<unsigned>(exitCode)), 0});
}

bool BuildFontBitmapLists(const char*, int, int, int, int, unsigned) {
    return false;
}

int ShowMessageBox(const char* text, const char* caption, MessageButtons, MessageIcon) {
    posix::PrintMessageToStderr(text, caption);
    return AnswerNone;
}

uint32_t TimeMs() {
    const ClockSource* clock = installedClock.load(std::memory_order_acquire);
    return clock ? clock->read(clock->context) : virtualTime.load(std::memory_order_acquire);
}
void SetClock(const ClockSource* clock) {
    installedClock.store(clock, std::memory_order_release);
}

namespace null {
void SetVirtualTime(uint32_t ms) {
    virtualTime.store(ms, std::memory_order_release);
}
void AdvanceVirtualTime(uint32_t ms) {
    virtualTime.fetch_add(ms, std::memory_order_acq_rel);
}
} // namespace null

} // namespace platform
