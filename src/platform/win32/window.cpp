// window.cpp: the window class, display mode, cursor, window, OpenGL context and message loop
// over USER32, GDI32 and WGL. Main thread.
#include "platform/platform.h"
#include "platform/win32/window_internal.h"

#include <windows.h>

namespace platform {
namespace {

constexpr char kClassName[] = "OpenGL";

struct WindowState {
    HINSTANCE instance = nullptr;
    WindowProc proc = nullptr;
    HWND window = nullptr;
    HDC deviceContext = nullptr;
    HGLRC renderingContext = nullptr;
    HFONT font = nullptr; // the caption font, selected into the window's own device context
    int colorBits = 16;
    int depthBits = 16;
    bool cursorHidden = false;
    bool displayChanged = false; // the display is in a mode ChangeDisplayMode set
    // The window a message is being delivered to, for DefaultWindowProc; set on every entry to
    // the real window procedure, so that messages sent during creation (before CreateWindowExA
    // returns) and while a message box runs its own loop find their window.
    HWND messageWindow = nullptr;
    // The last message PeekWindowMessage took, whole (window, time, cursor point), so that
    // DispatchWindowMessage can translate and dispatch it as the system gave it.
    MSG lastMessage{};
    bool lastMessageValid = false;
};
WindowState state;

LRESULT CALLBACK RealWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!state.proc) return DefWindowProcA(window, message, wParam, lParam);
    HWND outer = state.messageWindow;
    state.messageWindow = window;
    LRESULT result = static_cast<LRESULT>(
        state.proc(message, static_cast<uintptr_t>(wParam), static_cast<intptr_t>(lParam)));
    state.messageWindow = outer;
    return result;
}

} // namespace

namespace win32 {
HDC WindowDeviceContext() {
    return state.deviceContext;
}

// The caption font lives as long as the window: each window (a new one on every switch between
// full screen and window) gets its own, and without this every switch would leave a font
// object behind. A font built again for the same window replaces the old one, which is no
// longer selected by then.
void KeepWindowFont(HFONT font) {
    if (state.font && state.font != font) DeleteObject(state.font);
    state.font = font;
}
} // namespace win32

// ============================================================================================
// Window class, display mode, cursor
// ============================================================================================

bool DisplayAvailable() {
    return true; // a program started on Windows runs on a desktop
}

bool RegisterWindowClass(WindowProc proc) {
    state.instance = GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
    windowClass.lpfnWndProc = RealWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = state.instance;
    windowClass.hIcon = LoadIconA(nullptr, IDI_WINLOGO);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = nullptr;
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassA(&windowClass)) return false;
    state.proc = proc;
    return true;
}

bool UnregisterWindowClass() {
    if (!UnregisterClassA(kClassName, state.instance)) return false;
    state.proc = nullptr;
    return true;
}

bool ChangeDisplayMode(int width, int height, int bits) {
    if (width <= 0 || height <= 0) return false;
    DEVMODEA mode{};
    mode.dmSize = sizeof mode;
    mode.dmPelsWidth = static_cast<DWORD>(width);
    mode.dmPelsHeight = static_cast<DWORD>(height);
    mode.dmBitsPerPel = static_cast<DWORD>(bits);
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    // CDS_FULLSCREEN: a temporary change, never written to the registry; the system also puts
    // the desktop's mode back when the process ends.
    LONG result = ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN);
    if (result != DISP_CHANGE_SUCCESSFUL) {
        // Current displays rarely offer 16 bits per pixel any more: the size alone matters to
        // the show, so the same size at the desktop's colour depth is taken instead.
        mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
        result = ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN);
    }
    if (result != DISP_CHANGE_SUCCESSFUL) return false;
    // Believe only the mode the display is in now.
    DEVMODEA now{};
    now.dmSize = sizeof now;
    if (!EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &now) ||
        now.dmPelsWidth != mode.dmPelsWidth || now.dmPelsHeight != mode.dmPelsHeight) {
        ChangeDisplaySettingsA(nullptr, 0);
        return false;
    }
    state.displayChanged = true;
    return true;
}

void RestoreDisplayMode() {
    // Only a mode of our own is undone: another program's temporary mode is none of ours.
    if (!state.displayChanged) return;
    ChangeDisplaySettingsA(nullptr, 0);
    state.displayChanged = false;
}

void ShowMouseCursor(bool show) {
    // The system keeps a display counter; our own flag keeps one call enough to show or hide,
    // however often either was asked for before.
    if (show == !state.cursorHidden) return;
    ShowCursor(show ? TRUE : FALSE);
    state.cursorHidden = !show;
}

// ============================================================================================
// Window and OpenGL context
// ============================================================================================

bool CreateMainWindow(const char* title, int width, int height, bool fullScreen, int colorBits,
                      int depthBits) {
    if (state.window) return false;
    DWORD exStyle = fullScreen ? WS_EX_APPWINDOW : WS_EX_APPWINDOW | WS_EX_WINDOWEDGE;
    DWORD style = fullScreen ? WS_POPUP : WS_OVERLAPPEDWINDOW;
    RECT rect{0, 0, width, height};
    AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    state.colorBits = colorBits;
    state.depthBits = depthBits;
    HWND window = CreateWindowExA(
        exStyle, kClassName, title ? title : "", style | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, 0,
        rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr, state.instance, nullptr);
    if (!window) return false;
    state.window = window;
    // The display must not sleep while the show runs; the window procedure also swallows the
    // screen-saver and monitor-power commands, which newer systems no longer always send.
    SetThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED);
    return true;
}

bool DestroyMainWindow() {
    if (!state.window) return false;
    if (state.deviceContext) {
        ReleaseDC(state.window, state.deviceContext);
        state.deviceContext = nullptr;
    }
    bool destroyed = DestroyWindow(state.window) != 0;
    state.window = nullptr;
    if (state.font) {
        DeleteObject(state.font); // no longer selected anywhere: its device context is gone
        state.font = nullptr;
    }
    state.lastMessageValid = false;
    SetThreadExecutionState(ES_CONTINUOUS);
    return destroyed;
}

bool CreateGlContext() {
    if (!state.window || state.renderingContext) return false;
    PIXELFORMATDESCRIPTOR format{};
    format.nSize = sizeof format;
    format.nVersion = 1;
    format.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    format.iPixelType = PFD_TYPE_RGBA;
    format.cColorBits = static_cast<BYTE>(state.colorBits);
    format.cDepthBits = static_cast<BYTE>(state.depthBits);
    format.cStencilBits = 0;
    format.cAuxBuffers = 0;
    format.iLayerType = PFD_MAIN_PLANE;

    // A failed step gives back what the earlier ones took, so that a failure holds nothing.
    HDC deviceContext = GetDC(state.window);
    if (!deviceContext) return false;
    int index = ChoosePixelFormat(deviceContext, &format);
    HGLRC context = nullptr;
    if (index == 0 || !SetPixelFormat(deviceContext, index, &format) ||
        !(context = wglCreateContext(deviceContext))) {
        ReleaseDC(state.window, deviceContext);
        return false;
    }
    state.deviceContext = deviceContext;
    state.renderingContext = context;
    return true;
}

bool MakeGlContextCurrent(bool current) {
    if (!current) return wglMakeCurrent(nullptr, nullptr) != 0;
    if (!state.deviceContext || !state.renderingContext) return false;
    return wglMakeCurrent(state.deviceContext, state.renderingContext) != 0;
}

bool DeleteGlContext() {
    if (!state.renderingContext) return false;
    bool deleted = wglDeleteContext(state.renderingContext) != 0;
    state.renderingContext = nullptr;
    if (state.deviceContext) {
        if (!ReleaseDC(state.window, state.deviceContext)) deleted = false;
        state.deviceContext = nullptr;
    }
    return deleted;
}

void ShowMainWindow() {
    if (!state.window) return;
    ShowWindow(state.window, SW_SHOW);
    SetForegroundWindow(state.window);
    SetFocus(state.window);
}

void SwapGlBuffers() {
    if (state.deviceContext) SwapBuffers(state.deviceContext);
}

// ============================================================================================
// Messages
// ============================================================================================

bool PeekWindowMessage(WindowMessage* out) {
    MSG message{};
    if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return false;
    state.lastMessage = message;
    state.lastMessageValid = true;
    if (out) {
        out->message = message.message;
        out->wParam = static_cast<uintptr_t>(message.wParam);
        out->lParam = static_cast<intptr_t>(message.lParam);
    }
    return true;
}

void DispatchWindowMessage(const WindowMessage& msg) {
    // A copy: the window procedure may take further messages while this one is delivered.
    const MSG last = state.lastMessage;
    if (state.lastMessageValid && last.message == msg.message &&
        static_cast<uintptr_t>(last.wParam) == msg.wParam &&
        static_cast<intptr_t>(last.lParam) == msg.lParam) {
        state.lastMessageValid = false;
        TranslateMessage(&last);
        DispatchMessageA(&last);
        return;
    }
    // A message the caller made up itself goes to the window, or straight to the window
    // procedure when there is no window.
    if (state.window) {
        SendMessageA(state.window, msg.message, static_cast<WPARAM>(msg.wParam),
                     static_cast<LPARAM>(msg.lParam));
    } else if (state.proc) {
        state.proc(msg.message, msg.wParam, msg.lParam);
    }
}

intptr_t DefaultWindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    HWND window = state.messageWindow ? state.messageWindow : state.window;
    if (!window) return 0;
    return static_cast<intptr_t>(
        DefWindowProcA(window, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam)));
}

void PostQuit(int exitCode) {
    PostQuitMessage(exitCode);
}

} // namespace platform
