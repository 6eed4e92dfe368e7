// window.cpp: SDL backend of the window, display mode, OpenGL context and message queue.
// Main thread only.
//
// One window at a time. SDL switches the display mode only for a full-screen window, so
// ChangeDisplayMode creates that window (hidden behind the request's size and visual) and the
// next CreateMainWindow with fullScreen takes it over. The desktop mode comes back through
// RestoreDisplayMode, when the window is destroyed, at exit and on fatal signals.
#include "platform/platform.h"
#include "platform/sdl/sdl_video.h"

#include <SDL.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <unistd.h>

namespace platform {
namespace {

struct SdlWindowState {
    bool videoReady = false;
    bool videoRefused = false;
    bool exitHandlersInstalled = false;
    WindowProc proc = nullptr;    // the registered class's procedure, or none
    SDL_Window* window = nullptr; // the one window, or none
    bool windowClaimed = false;   // false while only ChangeDisplayMode made it
    bool modeChanged = false;     // the display is in a mode we switched to
    int preparedWidth = 0, preparedHeight = 0, preparedColorBits = 0;
    SDL_GLContext context = nullptr;
    Uint32 focusGainedAt = 0;         // timestamp of the last focus gain, 0 = none yet
    std::deque<WindowMessage> posted; // messages posted by the program (quit)
};
SdlWindowState sdlWindow;

// Depth bits asked for with a full-screen window made by ChangeDisplayMode, before
// CreateMainWindow says what it wants; the program asks for the same.
constexpr int kPreparedDepthBits = 16;

// --------------------------------------------------------------------------------------------
// Display restore on every exit path
// --------------------------------------------------------------------------------------------

void DestroySdlWindow();

void RestoreModeNow() {
    if (sdlWindow.window && !sdlWindow.windowClaimed) {
        DestroySdlWindow(); // made by ChangeDisplayMode and never taken over
    } else if (sdlWindow.modeChanged && sdlWindow.window) {
        SDL_SetWindowFullscreen(sdlWindow.window, 0);
    }
    sdlWindow.modeChanged = false;
}

void RestoreAtExit() {
    RestoreModeNow();
}

// Fatal signals: put the desktop mode back (best effort; the handler runs once), then let the
// default action end the process. SIGINT and SIGTERM are handled below, as a normal close.
void RestoreOnFatalSignal(int sig) {
    RestoreModeNow();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

// SIGINT/SIGTERM: asked to end. Normally a close message at the next peek; while a modal box
// blocks the main thread there is no peek to come, so the process ends here, and takes the
// box's helper process with it. Everything called here is async-signal-safe except the mode
// restore, which is skipped while a box is up (no full-screen window exists then).
std::atomic<int> terminationRequested{0};
std::atomic<int> messageBoxOpen{0};

void KillChildProcesses() {
    char path[64] = "/proc/self/task/";
    // Append our pid (the main thread's task id) by hand: no snprintf in a handler.
    char digits[16];
    int n = 0;
    for (long pid = static_cast<long>(getpid()); pid > 0 && n < 15; pid /= 10)
        digits[n++] = static_cast<char>('0' + pid % 10);
    size_t len = std::strlen(path);
    while (n > 0) path[len++] = digits[--n];
    std::memcpy(path + len, "/children", 10);
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    char buf[512];
    ssize_t got = read(fd, buf, sizeof buf - 1);
    close(fd);
    long child = 0;
    for (ssize_t i = 0; i <= got; ++i) {
        if (i < got && buf[i] >= '0' && buf[i] <= '9') {
            child = child * 10 + (buf[i] - '0');
        } else if (child > 0) {
            kill(static_cast<pid_t>(child), SIGKILL);
            child = 0;
        }
    }
}

void OnTerminationSignal(int sig) {
    if (messageBoxOpen.load() > 0) {
        KillChildProcesses();
        std::signal(sig, SIG_DFL);
        std::raise(sig);
        return;
    }
    terminationRequested.store(1);
}

void InstallExitHandlers() {
    if (sdlWindow.exitHandlersInstalled) return;
    sdlWindow.exitHandlersInstalled = true;
    std::atexit(RestoreAtExit);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGHUP}) {
        struct sigaction old {};
        sigaction(sig, nullptr, &old);
        // Leave handlers that someone else (a sanitizer, a debugger) put there alone.
        if (old.sa_handler == SIG_DFL) std::signal(sig, RestoreOnFatalSignal);
    }
}

void SetGlAttributes(int colorBits, int depthBits) {
    // Minimum sizes: a 16-bit request (5-6-5) is met by any deeper visual the display offers.
    int red = colorBits >= 24 ? 8 : colorBits >= 15 ? 5 : 1;
    int green = colorBits >= 24 ? 8 : colorBits >= 16 ? 6 : colorBits >= 15 ? 5 : 1;
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, red);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, green);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, red);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depthBits);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
}

SDL_Window* CreateSdlWindow(const char* title, int width, int height, Uint32 flags, int colorBits,
                            int depthBits) {
    SetGlAttributes(colorBits, depthBits);
    flags |= SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
    SDL_Window* w = SDL_CreateWindow(title, 0, 0, width, height, flags);
    if (!w) {
        // No visual with those minimums: take whatever colour depth the display offers.
        SetGlAttributes(0, depthBits);
        w = SDL_CreateWindow(title, 0, 0, width, height, flags);
    }
    if (!w) std::fprintf(stderr, "demo: cannot create an OpenGL window: %s\n", SDL_GetError());
    return w;
}

void DestroySdlWindow() {
    if (!sdlWindow.window) return;
    SDL_DestroyWindow(sdlWindow.window); // also takes a full-screen mode back
    sdlWindow.window = nullptr;
    sdlWindow.windowClaimed = false;
    sdlWindow.modeChanged = false;
}

bool WindowIsMinimised() {
    return sdlWindow.window && (SDL_GetWindowFlags(sdlWindow.window) & SDL_WINDOW_MINIMIZED);
}

// Windows virtual-key code of an SDL key, or 0 for keys the program has no code for.
int VirtualKeyOf(const SDL_Keysym& key) {
    SDL_Keycode k = key.sym;
    if (k >= SDLK_a && k <= SDLK_z) return 'A' + (k - SDLK_a);
    if (k >= SDLK_0 && k <= SDLK_9) return '0' + (k - SDLK_0);
    if (k >= SDLK_F1 && k <= SDLK_F12) return 0x70 + (k - SDLK_F1);
    if (k >= SDLK_KP_1 && k <= SDLK_KP_9) return 0x61 + (k - SDLK_KP_1);
    switch (k) {
    case SDLK_ESCAPE: return 0x1B;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return 0x0D;
    case SDLK_SPACE: return 0x20;
    case SDLK_TAB: return 0x09;
    case SDLK_BACKSPACE: return 0x08;
    case SDLK_PAUSE: return 0x13;
    case SDLK_PAGEUP: return 0x21;
    case SDLK_PAGEDOWN: return 0x22;
    case SDLK_END: return 0x23;
    case SDLK_HOME: return 0x24;
    case SDLK_LEFT: return 0x25;
    case SDLK_UP: return 0x26;
    case SDLK_RIGHT: return 0x27;
    case SDLK_DOWN: return 0x28;
    case SDLK_INSERT: return 0x2D;
    case SDLK_DELETE: return 0x2E;
    case SDLK_KP_0: return 0x60;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return 0x10;
    case SDLK_LCTRL:
    case SDLK_RCTRL: return 0x11;
    case SDLK_LALT:
    case SDLK_RALT: return 0x12;
    default: return 0;
    }
}

// Turns one SDL event into a window message; false for events the program does not see.
bool Translate(const SDL_Event& e, WindowMessage* out) {
    Uint32 ourId = sdlWindow.window ? SDL_GetWindowID(sdlWindow.window) : 0;
    switch (e.type) {
    case SDL_QUIT: // the session asks every window to go
        *out = {MsgClose, 0, 0};
        return true;
    case SDL_WINDOWEVENT:
        if (e.window.windowID != ourId) return false; // left over from a destroyed window
        switch (e.window.event) {
        case SDL_WINDOWEVENT_SIZE_CHANGED: {
            intptr_t w = e.window.data1 & 0xFFFF, h = e.window.data2 & 0xFFFF;
            *out = {MsgSize, 0, w | (h << 16)};
            return true;
        }
        case SDL_WINDOWEVENT_MINIMIZED: *out = {MsgActivate, 0x10000u, 0}; return true;
        case SDL_WINDOWEVENT_RESTORED: *out = {MsgActivate, 1, 0}; return true;
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            sdlWindow.focusGainedAt = e.window.timestamp;
            *out = {MsgActivate, WindowIsMinimised() ? 0x10001u : 1u, 0};
            return true;
        case SDL_WINDOWEVENT_FOCUS_LOST:
            *out = {MsgActivate, WindowIsMinimised() ? 0x10000u : 0u, 0};
            return true;
        case SDL_WINDOWEVENT_CLOSE: *out = {MsgClose, 0, 0}; return true;
        default: return false;
        }
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        int vk = VirtualKeyOf(e.key.keysym);
        if (vk == 0) return false;
        bool down = e.type == SDL_KEYDOWN;
        // On gaining the focus SDL reports keys that are held at that moment as fresh presses.
        // A key still held from before (F1, whose press re-created the window) is no new
        // press: drop those, as only auto-repeat may repeat a held key.
        if (down && !e.key.repeat && sdlWindow.focusGainedAt != 0 &&
            e.key.timestamp == sdlWindow.focusGainedAt) {
            return false;
        }
        // Alt combinations and F10 are system keys and never reach the program's key table.
        bool system = (e.key.keysym.mod & KMOD_ALT) || vk == 0x12 || vk == 0x79;
        uint32_t id =
            system ? (down ? MsgSysKeyDown : MsgSysKeyUp) : (down ? MsgKeyDown : MsgKeyUp);
        // lParam as Windows fills it: repeat count 1, bit 30 = key was already down, bit 31 = up.
        intptr_t lParam = 1;
        if (!down)
            lParam |= intptr_t(3) << 30;
        else if (e.key.repeat)
            lParam |= intptr_t(1) << 30;
        *out = {id, static_cast<uintptr_t>(vk), lParam};
        return true;
    }
    default: return false;
    }
}

} // namespace

namespace sdl {

void InstallTerminationHandlers() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    // SDL's own handlers would only queue a quit event, which nobody reads while a box is up.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    for (int sig : {SIGINT, SIGTERM}) {
        struct sigaction old {};
        sigaction(sig, nullptr, &old);
        if (old.sa_handler == SIG_DFL) std::signal(sig, OnTerminationSignal);
    }
}

void SetMessageBoxOpen(bool open) {
    messageBoxOpen.fetch_add(open ? 1 : -1);
}

static void SayNoDisplay() {
    std::fprintf(stderr,
                 "demo: no display to open a window on (DISPLAY is %s); start an X server or run "
                 "it from a desktop session.\n",
                 SDL_getenv("DISPLAY") ? "unreachable" : "not set");
}

bool EnsureVideo() {
    if (sdlWindow.videoReady) return true;
    if (sdlWindow.videoRefused) return false;
    InstallTerminationHandlers();
    // A full-screen window must not minimise itself when a message box takes the focus.
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    const char* asked = SDL_getenv("SDL_VIDEODRIVER");
    // Wayland cannot be reached without its runtime folder (unless its socket is named by a full
    // path), yet SDL tries it after a failed X11 connection, and the Wayland library then prints
    // a line of its own beside ours. Without that folder, X11 is the only display there can be.
    const char* wayland = SDL_getenv("WAYLAND_DISPLAY");
    bool waylandReachable = SDL_getenv("XDG_RUNTIME_DIR") || (wayland && wayland[0] == '/');
    if (!asked && !waylandReachable) SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        if (asked) {
            std::fprintf(stderr, "demo: cannot open the display: %s\n", SDL_GetError());
        } else {
            SayNoDisplay();
        }
        sdlWindow.videoRefused = true;
        return false;
    }
    // Without a display SDL quietly falls back to a driver that draws nowhere; the program
    // needs a screen, so only take such a driver when it was asked for by name.
    const char* driver = SDL_GetCurrentVideoDriver();
    bool headless = !driver || !std::strcmp(driver, "offscreen") || !std::strcmp(driver, "dummy");
    if (headless && !(asked && driver && !std::strcmp(asked, driver))) {
        SayNoDisplay();
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        sdlWindow.videoRefused = true;
        return false;
    }
    SDL_DisableScreenSaver();
    InstallExitHandlers();
    sdlWindow.videoReady = true;
    return true;
}

} // namespace sdl

bool DisplayAvailable() {
    return sdl::EnsureVideo();
}

bool RegisterWindowClass(WindowProc proc) {
    if (!proc || sdlWindow.proc) return false;
    if (!sdl::EnsureVideo()) return false;
    sdlWindow.proc = proc;
    return true;
}

bool UnregisterWindowClass() {
    if (!sdlWindow.proc || sdlWindow.window) return false; // class still in use
    sdlWindow.proc = nullptr;
    return true;
}

bool ChangeDisplayMode(int width, int height, int bits) {
    if (!sdl::EnsureVideo() || width <= 0 || height <= 0) return false;
    if (sdlWindow.window) return false; // one window at a time; it must be closed first
    SDL_DisplayMode want{}, closest{};
    want.w = width;
    want.h = height;
    // Exact size only; the colour depth is whatever the display offers at that size.
    if (!SDL_GetClosestDisplayMode(0, &want, &closest) || closest.w != width ||
        closest.h != height) {
        return false;
    }
    SDL_Window* w =
        CreateSdlWindow("", width, height, SDL_WINDOW_FULLSCREEN, bits, kPreparedDepthBits);
    if (!w) return false;
    if (SDL_SetWindowDisplayMode(w, &closest) != 0) {
        SDL_DestroyWindow(w);
        return false;
    }
    sdlWindow.window = w;
    sdlWindow.windowClaimed = false;
    SDL_ShowWindow(w); // the switch happens here
    // SDL reports success even where the server kept its mode (a screen of one fixed size):
    // believe only the mode the display is in now.
    SDL_DisplayMode now{};
    int display = SDL_GetWindowDisplayIndex(w);
    if (display < 0 || SDL_GetCurrentDisplayMode(display, &now) != 0 || now.w != width ||
        now.h != height) {
        DestroySdlWindow();
        return false;
    }
    sdlWindow.modeChanged = true;
    sdlWindow.preparedWidth = width;
    sdlWindow.preparedHeight = height;
    sdlWindow.preparedColorBits = bits;
    return true;
}

void RestoreDisplayMode() {
    RestoreModeNow();
}

void ShowMouseCursor(bool show) {
    if (sdlWindow.videoReady) SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE);
}

bool CreateMainWindow(const char* title, int width, int height, bool fullScreen, int colorBits,
                      int depthBits) {
    if (!sdlWindow.videoReady || !sdlWindow.proc || width <= 0 || height <= 0) return false;
    if (sdlWindow.window && !sdlWindow.windowClaimed) {
        // The full-screen window of ChangeDisplayMode: take it over when it fits.
        if (fullScreen && sdlWindow.preparedWidth == width && sdlWindow.preparedHeight == height &&
            sdlWindow.preparedColorBits == colorBits && depthBits == kPreparedDepthBits) {
            SDL_SetWindowTitle(sdlWindow.window, title ? title : "");
            sdlWindow.windowClaimed = true;
            return true;
        }
        // It does not fit (another size or visual): make the window anew in the same mode.
        SDL_DisplayMode mode{};
        SDL_GetWindowDisplayMode(sdlWindow.window, &mode);
        bool wasChanged = sdlWindow.modeChanged;
        DestroySdlWindow();
        if (fullScreen && wasChanged) {
            SDL_Window* w = CreateSdlWindow(title ? title : "", width, height,
                                            SDL_WINDOW_FULLSCREEN, colorBits, depthBits);
            if (!w) return false;
            SDL_SetWindowDisplayMode(w, &mode);
            sdlWindow.window = w;
            sdlWindow.windowClaimed = true;
            SDL_ShowWindow(w);
            sdlWindow.modeChanged = true;
            return true;
        }
    }
    if (sdlWindow.window) return false; // one window at a time
    // Full screen without a mode switch is a borderless window over the desktop at the origin.
    Uint32 flags = fullScreen ? SDL_WINDOW_BORDERLESS : SDL_WINDOW_RESIZABLE;
    SDL_Window* w = CreateSdlWindow(title ? title : "", width, height, flags, colorBits, depthBits);
    if (!w) return false;
    sdlWindow.window = w;
    sdlWindow.windowClaimed = true;
    return true;
}

bool DestroyMainWindow() {
    if (!sdlWindow.window) return false;
    DestroySdlWindow();
    return true;
}

bool CreateGlContext() {
    if (!sdlWindow.window || sdlWindow.context) return false;
    sdlWindow.context = SDL_GL_CreateContext(sdlWindow.window);
    if (!sdlWindow.context) {
        // The program shows no box for this; say why on stderr, or the end would be silent.
        std::fprintf(stderr, "demo: cannot create an OpenGL context: %s\n", SDL_GetError());
        return false;
    }
    // SDL makes the new context current at once; the caller does that itself, step by step.
    SDL_GL_MakeCurrent(sdlWindow.window, nullptr);
    return true;
}

bool MakeGlContextCurrent(bool current) {
    if (!sdlWindow.context || !sdlWindow.window) return false;
    if (SDL_GL_MakeCurrent(sdlWindow.window, current ? sdlWindow.context : nullptr) == 0)
        return true;
    std::fprintf(stderr, "demo: cannot %s the OpenGL context: %s\n",
                 current ? "activate" : "release", SDL_GetError());
    return false;
}

bool DeleteGlContext() {
    if (!sdlWindow.context) return false;
    SDL_GL_DeleteContext(sdlWindow.context);
    sdlWindow.context = nullptr;
    return true;
}

void ShowMainWindow() {
    if (!sdlWindow.window) return;
    SDL_ShowWindow(sdlWindow.window);
    SDL_RaiseWindow(sdlWindow.window);
    SDL_SetWindowInputFocus(sdlWindow.window);
}

void SwapGlBuffers() {
    if (sdlWindow.window && sdlWindow.context) SDL_GL_SwapWindow(sdlWindow.window);
}

bool PeekWindowMessage(WindowMessage* out) {
    if (!out) return false;
    if (!sdlWindow.posted.empty()) {
        *out = sdlWindow.posted.front();
        sdlWindow.posted.pop_front();
        return true;
    }
    if (terminationRequested.exchange(0) != 0) {
        *out = {MsgClose, 0, 0};
        return true;
    }
    if (!sdlWindow.videoReady) return false;
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        if (Translate(e, out)) return true;
    }
    return false;
}

void DispatchWindowMessage(const WindowMessage& msg) {
    if (sdlWindow.proc) sdlWindow.proc(msg.message, msg.wParam, msg.lParam);
}

intptr_t DefaultWindowProc(uint32_t, uintptr_t, intptr_t) {
    // Nothing the program leaves unhandled needs doing here: closing is the program's own
    // decision, and system keys have no menu to open.
    return 0;
}

void PostQuit(int exitCode) {
    sdlWindow.posted.push_back(
        {MsgQuit, static_cast<uintptr_t>(static_cast<unsigned>(exitCode)), 0});
}

} // namespace platform
