// platform_check.cpp: drives the native Windows backend through platform.h and checks what the
// system reports back (window geometry, messages, pixel format, glyph lists, file mapping, clock,
// audio device). Runs under Wine in the smoke test, or on Windows by hand. Main thread.
#include "platform/platform.h"

#include <windows.h>

#include <GL/gl.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

int passed = 0;
int failed = 0;

void Check(bool ok, const char* what) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAILED: %s\n", what);
        std::fflush(stdout);
    }
}

// ============================================================================================
// A window procedure that records what reaches it
// ============================================================================================

struct Received {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};
std::vector<Received> received;
bool defaultForUnhandled = true;

intptr_t RecordingProc(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    received.push_back({message, wParam, lParam});
    switch (message) {
    case platform::MsgClose:
    case platform::MsgKeyDown:
    case platform::MsgKeyUp:
    case platform::MsgSize: return 0;
    case platform::MsgSysCommand:
        if (wParam == platform::SysCommandScreenSave) return 0;
        break;
    default: break;
    }
    return defaultForUnhandled ? platform::DefaultWindowProc(message, wParam, lParam) : 0;
}

bool ReceivedMessage(uint32_t message, uintptr_t wParam) {
    for (const Received& r : received)
        if (r.message == message && r.wParam == wParam) return true;
    return false;
}

// Takes and delivers every waiting message; returns the MsgQuit exit code when one was taken.
int PumpMessages(bool* quit) {
    platform::WindowMessage msg{};
    int code = -1;
    while (platform::PeekWindowMessage(&msg)) {
        if (msg.message == platform::MsgQuit) {
            *quit = true;
            code = static_cast<int>(msg.wParam);
            continue;
        }
        platform::DispatchWindowMessage(msg);
    }
    return code;
}

HWND FindCheckWindow() {
    return FindWindowA("OpenGL", "Platform check");
}

// ============================================================================================
// Clock and threads
// ============================================================================================

DWORD WINAPI RaisePriorityThread(LPVOID result) {
    bool raised = platform::RaiseCurrentThreadPriority();
    *static_cast<int*>(result) =
        raised && GetThreadPriority(GetCurrentThread()) == THREAD_PRIORITY_TIME_CRITICAL ? 1 : 0;
    return 0;
}

uint32_t virtualNow = 0;
const platform::ClockSource virtualClock{
    [](void* now) { return *static_cast<const uint32_t*>(now); }, &virtualNow};

void CheckClock() {
    uint32_t start = platform::TimeMs();
    Check(start < 60000, "the clock counts from the program's start, not the system's");
    platform::SleepMs(50);
    uint32_t slept = platform::TimeMs() - start;
    Check(slept >= 40 && slept < 2000, "SleepMs(50) lets about 50 ms pass on the clock");

    virtualNow = 0xFFFFFFF0u;
    platform::SetClock(&virtualClock);
    uint32_t before = platform::TimeMs();
    virtualNow = 0x10u;
    Check(before == 0xFFFFFFF0u && platform::TimeMs() - before == 0x20u,
          "a replaced clock is read as it is, and its wrap gives a small difference");
    platform::SetClock(nullptr);
    Check(platform::TimeMs() - start < 2000, "SetClock(nullptr) restores the system clock");

    int result = -1;
    HANDLE thread = CreateThread(nullptr, 0, RaisePriorityThread, &result, 0, nullptr);
    if (thread) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    Check(result == 1, "RaiseCurrentThreadPriority makes the thread time-critical");
}

// ============================================================================================
// File mapping
// ============================================================================================

bool WriteFileBytes(const char* path, const void* bytes, DWORD size) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = size == 0 || (WriteFile(file, bytes, size, &written, nullptr) && written == size);
    CloseHandle(file);
    return ok;
}

void CheckFileMapping() {
    char folder[MAX_PATH] = {};
    char path[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    GetTempFileNameA(folder, "map", 0, path);

    unsigned char bytes[1000];
    for (int i = 0; i < 1000; ++i) bytes[i] = static_cast<unsigned char>(i * 7);
    Check(WriteFileBytes(path, bytes, sizeof bytes), "the test file is written");

    platform::MappedFile mapped;
    Check(platform::MapFileReadOnly(path, &mapped), "an existing file maps");
    Check(mapped.size == sizeof bytes && mapped.data &&
              std::memcmp(mapped.data, bytes, sizeof bytes) == 0,
          "the mapping holds the whole file, byte for byte");
    HANDLE reader =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    Check(reader != INVALID_HANDLE_VALUE, "a mapped file can still be opened for reading");
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
    platform::UnmapFile(&mapped);
    Check(!mapped.data && mapped.size == 0 && !mapped.handle, "unmapping clears the record");
    platform::UnmapFile(&mapped);
    // Deleting fails while any handle or view of the file is left open.
    Check(DeleteFileA(path) != 0, "nothing of the mapping keeps the file open afterwards");

    Check(WriteFileBytes(path, nullptr, 0), "the empty test file is written");
    platform::MappedFile empty;
    empty.size = 99;
    Check(!platform::MapFileReadOnly(path, &empty) && !empty.data && empty.size == 0,
          "an empty file is not mapped and the record stays empty");
    Check(DeleteFileA(path) != 0, "a refused mapping leaves no handle open");

    platform::MappedFile missing;
    Check(!platform::MapFileReadOnly(path, &missing) && !missing.data,
          "a missing file is not mapped");
    Check(!platform::MapFileReadOnly(nullptr, &missing), "no path maps nothing");
}

// ============================================================================================
// Window, messages, OpenGL context and glyphs
// ============================================================================================

// Bytes of `text` drawn at the raster position with the glyph lists; returns the raster x after.
float DrawText(unsigned listBase, float x, float y, const char* text) {
    glRasterPos2f(x, y);
    glListBase(listBase - 32);
    glCallLists(static_cast<GLsizei>(std::strlen(text)), GL_UNSIGNED_BYTE, text);
    GLfloat raster[4] = {};
    glGetFloatv(GL_CURRENT_RASTER_POSITION, raster);
    return raster[0];
}

void CheckGlyphs() {
    unsigned base = glGenLists(96);
    Check(base != 0, "96 display lists are reserved");
    Check(platform::BuildFontBitmapLists("Verdana", 25, 700, 32, 96, base),
          "the caption font's glyph lists build");
    int lists = 0;
    for (unsigned i = 0; i < 96; ++i) lists += glIsList(base + i) ? 1 : 0;
    Check(lists == 96, "every character code 32 to 127 has its list");

    glViewport(0, 0, 640, 480);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 640, 0, 480, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_DEPTH_TEST);

    float afterSpace = DrawText(base, 100, 100, " ");
    float afterTwoSpaces = DrawText(base, 100, 100, "  ");
    Check(afterSpace > 103 && afterSpace < 130, "the space advances the raster position");
    Check(afterTwoSpaces - afterSpace > 3, "each space advances again");
    float joined = DrawText(base, 100, 100, "AB");
    float spaced = DrawText(base, 100, 100, "A B");
    Check(spaced - joined > 3, "words stay apart");

    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glColor3f(1, 1, 1);
    DrawText(base, 40, 200, "Compiling the Future...");
    glFinish();
    std::vector<unsigned char> pixels(640 * 480 * 4);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, 640, 480, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    int white = 0, top = -1, bottom = 480, left = 640, right = -1;
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            const unsigned char* p = &pixels[(y * 640 + x) * 4];
            if (p[0] > 200 && p[1] > 200 && p[2] > 200) {
                ++white;
                if (y > top) top = y;
                if (y < bottom) bottom = y;
                if (x < left) left = x;
                if (x > right) right = x;
            }
        }
    }
    std::printf("caption: %d white pixels, x %d-%d, y %d-%d\n", white, left, right, bottom, top);
    Check(white > 300, "the caption's glyphs draw white pixels");
    Check(left >= 38 && right > 250 && right < 520, "the caption runs right from its start");
    // A 25-pixel character height: capitals and descenders span roughly that, never the screen.
    Check(top - bottom >= 15 && top - bottom <= 40, "the glyphs are about 25 pixels high");
    Check(bottom >= 190 && bottom <= 200 && top > 200, "the baseline sits at the raster position");
}

void CheckWindowedWindow() {
    received.clear();
    Check(platform::RegisterWindowClass(RecordingProc), "the window class registers");
    Check(!platform::RegisterWindowClass(RecordingProc), "a second registration is refused");
    Check(platform::CreateMainWindow("Platform check", 640, 480, false, 16, 16),
          "a framed window opens");
    Check(!platform::CreateMainWindow("Platform check", 640, 480, false, 16, 16),
          "a second window is refused");
    Check(!received.empty(), "creation messages reach the window procedure");
    HWND window = FindCheckWindow();
    Check(window != nullptr, "the window has class \"OpenGL\" and the given title");
    if (!window) return;

    RECT client{}, outer{};
    GetClientRect(window, &client);
    GetWindowRect(window, &outer);
    Check(client.right == 640 && client.bottom == 480, "the client area is 640 x 480");
    Check(outer.left == 0 && outer.top == 0, "the window sits at the screen origin");
    Check(outer.right - outer.left > 640 && outer.bottom - outer.top > 480,
          "the frame adds to the client area");
    LONG style = GetWindowLongA(window, GWL_STYLE);
    Check((style & WS_OVERLAPPEDWINDOW) == WS_OVERLAPPEDWINDOW && (style & WS_CLIPSIBLINGS) &&
              (style & WS_CLIPCHILDREN),
          "the windowed style is an overlapped window clipping siblings and children");
    Check((GetClassLongA(window, GCL_STYLE) & (CS_HREDRAW | CS_VREDRAW | CS_OWNDC)) ==
              (CS_HREDRAW | CS_VREDRAW | CS_OWNDC),
          "the class redraws on resize and owns its device context");

    char title[64] = {};
    // Not handled by the recording procedure: only the default processing knows the title.
    SendMessageA(window, WM_GETTEXT, sizeof title, reinterpret_cast<LPARAM>(title));
    Check(std::strcmp(title, "Platform check") == 0,
          "DefaultWindowProc answers for the window being dispatched to");

    Check(platform::CreateGlContext(), "the OpenGL context is created");
    Check(!platform::CreateGlContext(), "a second context is refused");
    Check(platform::MakeGlContextCurrent(true) && wglGetCurrentContext() != nullptr,
          "the context becomes current");
    HDC dc = wglGetCurrentDC();
    PIXELFORMATDESCRIPTOR format{};
    int index = dc ? GetPixelFormat(dc) : 0;
    Check(index > 0 && DescribePixelFormat(dc, index, sizeof format, &format) != 0,
          "the window has a pixel format");
    Check((format.dwFlags & PFD_DOUBLEBUFFER) && (format.dwFlags & PFD_SUPPORT_OPENGL) &&
              format.iPixelType == PFD_TYPE_RGBA && format.cDepthBits >= 16,
          "the pixel format is double-buffered RGBA with a depth buffer");
    Check(glGetString(GL_VERSION) != nullptr, "OpenGL answers on the context");

    platform::ShowMainWindow();
    bool quit = false;
    PumpMessages(&quit);
    Check(GetForegroundWindow() == window && GetFocus() == window,
          "the shown window is in the foreground with the focus");
    bool sized = false;
    for (const Received& r : received)
        if (r.message == platform::MsgSize && (r.lParam & 0xFFFF) == 640 &&
            ((r.lParam >> 16) & 0xFFFF) == 480)
            sized = true;
    Check(sized, "MsgSize carries the client size");

    CheckGlyphs();
    platform::SwapGlBuffers();
    HFONT firstFont = static_cast<HFONT>(GetCurrentObject(dc, OBJ_FONT));
    unsigned moreLists = glGenLists(96);
    Check(platform::BuildFontBitmapLists("Verdana", 25, 700, 32, 96, moreLists),
          "the glyph lists build a second time in the same window");
    HFONT font = static_cast<HFONT>(GetCurrentObject(dc, OBJ_FONT));
    Check(font != firstFont && GetObjectType(font) == OBJ_FONT && GetObjectType(firstFont) == 0,
          "the font built before is deleted once it is replaced");

    received.clear();
    PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 1);
    PostMessageA(window, WM_KEYUP, VK_ESCAPE, 0xC0000001);
    PostMessageA(window, WM_KEYDOWN, 'A', 1);
    PostMessageA(window, WM_CLOSE, 0, 0);
    PumpMessages(&quit);
    Check(ReceivedMessage(platform::MsgKeyDown, platform::KeyEscape) &&
              ReceivedMessage(platform::MsgKeyUp, platform::KeyEscape),
          "key messages arrive with their virtual-key codes");
    Check(ReceivedMessage(WM_CHAR, 'a') || ReceivedMessage(WM_CHAR, 'A'),
          "taken key messages are translated into characters");
    Check(ReceivedMessage(platform::MsgClose, 0) && IsWindow(window),
          "MsgClose reaches the procedure, and a handled close leaves the window");
    Check(!quit, "no quit without PostQuit");

    SendMessageA(window, WM_SYSCOMMAND, SC_SCREENSAVE, 0);
    Check(ReceivedMessage(platform::MsgSysCommand, platform::SysCommandScreenSave),
          "the screen-saver command reaches the procedure");

    received.clear();
    platform::DispatchWindowMessage({platform::MsgKeyDown, platform::KeyF1, 0});
    Check(ReceivedMessage(platform::MsgKeyDown, platform::KeyF1),
          "a message made by the caller is delivered too");

    platform::PostQuit(7);
    Check(PumpMessages(&quit) == 7 && quit, "PostQuit's code comes back with MsgQuit");
    platform::WindowMessage none{};
    Check(!platform::PeekWindowMessage(&none), "an empty queue gives no message");

    Check(platform::MakeGlContextCurrent(false) && wglGetCurrentContext() == nullptr,
          "the context is released");
    Check(platform::DeleteGlContext(), "the context is deleted");
    Check(!platform::DeleteGlContext(), "deleting it again fails");
    Check(platform::DestroyMainWindow() && !IsWindow(window), "the window is destroyed");
    Check(GetObjectType(font) == 0, "the caption font goes with its window");
    Check(!platform::DestroyMainWindow(), "destroying it again fails");
}

void CheckFullScreenWindow() {
    Check(platform::CreateMainWindow("Platform check", 640, 480, true, 16, 16),
          "a borderless window opens");
    HWND window = FindCheckWindow();
    RECT client{}, outer{};
    if (window) {
        GetClientRect(window, &client);
        GetWindowRect(window, &outer);
    }
    Check(window && (GetWindowLongA(window, GWL_STYLE) & WS_POPUP) &&
              !(GetWindowLongA(window, GWL_STYLE) & WS_CAPTION),
          "the full-screen window is a popup without a caption");
    Check(outer.left == 0 && outer.top == 0 && outer.right == 640 && outer.bottom == 480 &&
              client.right == 640 && client.bottom == 480,
          "the popup is exactly its client area, at the origin");
    // A context that cannot be made holds nothing: the window is destroyed cleanly afterwards.
    Check(platform::DestroyMainWindow(), "the popup is destroyed without a context");
    Check(platform::UnregisterWindowClass(), "the class unregisters");
    Check(!platform::UnregisterWindowClass(), "unregistering it again fails");
    Check(platform::RegisterWindowClass(RecordingProc) && platform::UnregisterWindowClass(),
          "the class registers again after it was unregistered");
}

void CheckDisplayAndCursor() {
    int width = GetSystemMetrics(SM_CXSCREEN);
    Check(!platform::ChangeDisplayMode(12345, 678, 16), "an impossible mode is refused");
    Check(GetSystemMetrics(SM_CXSCREEN) == width, "a refused mode leaves the display unchanged");
    platform::RestoreDisplayMode();
    Check(GetSystemMetrics(SM_CXSCREEN) == width, "restoring an unchanged display is harmless");

    platform::ShowMouseCursor(false);
    platform::ShowMouseCursor(false);
    platform::ShowMouseCursor(true);
    // The system's display counter is back where it started (0): one more show makes it 1.
    int count = ShowCursor(TRUE);
    ShowCursor(FALSE);
    Check(count == 1, "one show undoes any number of hides");
    platform::ShowMouseCursor(true);
    count = ShowCursor(TRUE);
    ShowCursor(FALSE);
    Check(count == 1, "showing a shown cursor changes nothing");
}

// ============================================================================================
// Audio device
// ============================================================================================

void CheckAudio() {
    Check(!platform::AudioOpen(0), "a rate of 0 opens nothing");
    platform::AudioClose();
    if (!platform::AudioOpen(44100)) {
        std::printf("skipped: no wave-out device, the audio checks need one\n");
        return;
    }
    Check(platform::AudioPosition() == 0, "nothing played before the hand-over");
    // About 0.2 s of quiet tone, looped: the position must run past the ring's end.
    const uint32_t frames = 8820;
    std::vector<int16_t> ring(frames * 2);
    for (uint32_t i = 0; i < frames; ++i)
        ring[i * 2] = ring[i * 2 + 1] = static_cast<int16_t>((i % 100) * 20 - 1000);
    const uint32_t bytes = frames * 4;
    platform::AudioPlayLooping(ring.data(), bytes);
    uint32_t last = 0;
    bool monotonic = true;
    uint32_t start = platform::TimeMs();
    while (platform::TimeMs() - start < 1500) {
        uint32_t now = platform::AudioPosition();
        if (now < last) monotonic = false;
        last = now;
        platform::SleepMs(10);
    }
    std::printf("audio: %u bytes played in 1.5 s\n", static_cast<unsigned>(last));
    Check(monotonic, "the position never moves backwards");
    Check(last > bytes * 2, "the device loops the ring and the position keeps growing");
    Check(last % 4 == 0, "the position counts whole frames");
    platform::AudioReset();
    uint32_t stopped = platform::AudioPosition();
    platform::SleepMs(100);
    Check(platform::AudioPosition() == stopped, "after a reset the position stands still");
    platform::AudioPlayLooping(ring.data(), bytes);
    platform::SleepMs(300);
    uint32_t again = platform::AudioPosition();
    // Wine's device without a sound card plays faster than real time; compare counts, not times.
    Check(again < stopped, "a new hand-over counts from 0 again");
    platform::AudioClose();
    platform::AudioClose();
    Check(platform::AudioOpen(44100), "the device opens again after closing twice");
    platform::AudioClose();
}

} // namespace

int main() {
    CheckClock();
    CheckFileMapping();
    CheckDisplayAndCursor();
    CheckWindowedWindow();
    CheckFullScreenWindow();
    CheckAudio();
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
