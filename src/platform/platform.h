// platform.h: the seam between the program and the operating system.
//
// The program was written against a small set of OS services: a window with an OpenGL 1.1
// context, Windows-style window messages, message boxes, a millisecond clock, read-only file
// mapping, a looping audio device and a thread priority. This header declares exactly those, as
// plain functions and records. Backends: sdl/ (portable, the default), win32/ (native Windows),
// web/ (the browser: canvas, WebGL, Web Audio), null/ (no window, no sound: for tests and
// tools). Every backend supplies every function declared here; the comment on each says what
// callers rely on.
//
// Message and key codes keep their Windows values so that the shell's window procedure reads
// the same numbers on every backend; the names differ from the Windows macros on purpose, so
// that this header and <windows.h> can meet in one file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

// ============================================================================================
// Window messages (values as on Windows)
// ============================================================================================

enum MessageId : uint32_t {
    MsgSize = 0x0005,       // lParam: low word client width, high word client height
    MsgActivate = 0x0006,   // wParam: low word 0 = deactivated; high word non-zero = minimised
    MsgClose = 0x0010,      // the user asked to close the window
    MsgQuit = 0x0012,       // wParam: exit code; the message loop ends
    MsgKeyDown = 0x0100,    // wParam: virtual-key code; sent again on auto-repeat
    MsgKeyUp = 0x0101,      // wParam: virtual-key code
    MsgSysKeyDown = 0x0104, // Alt combinations and F10
    MsgSysKeyUp = 0x0105,
    MsgSysCommand = 0x0112, // wParam: command, e.g. SysCommandScreenSave
};

constexpr uintptr_t SysCommandScreenSave = 0xF140;
constexpr uintptr_t SysCommandMonitorPower = 0xF170;

// Virtual-key codes (Windows values) for the keys the program reads.
constexpr int KeyEscape = 0x1B;
constexpr int KeyF1 = 0x70;

struct WindowMessage {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

// The window procedure of the one window class. Handled messages return 0; everything else
// is passed to DefaultWindowProc with the same arguments.
using WindowProc = intptr_t (*)(uint32_t message, uintptr_t wParam, intptr_t lParam);

// ============================================================================================
// Window, display mode and OpenGL context (main thread only)
// ============================================================================================

// Whether there is a display to open windows on; the backend connects to it on the first call.
// When there is none the backend says why on stderr, once, in words that tell the user what to
// do, and every later call returns false without a word.
bool DisplayAvailable();
// Registers the window class (one per process) with its window procedure. False on failure,
// also when the backend finds no display to open windows on (it then says why on stderr).
bool RegisterWindowClass(WindowProc proc);
// Unregisters it. False on failure (e.g. it was not registered).
bool UnregisterWindowClass();

// Temporarily switches the display to exactly width x height at `bits` per pixel (a backend may
// accept a different colour depth when the display offers only that). False when the mode is
// refused or the display did not really end up in it: the display is then unchanged. Never
// writes a lasting setting. A backend whose mode switch needs a window (SDL) creates the
// full-screen window here and hands it to the next CreateMainWindow with fullScreen true.
bool ChangeDisplayMode(int width, int height, int bits);
// Returns the display to the desktop's mode. Harmless when it was never changed. Backends also
// restore it by themselves when the process exits or is ended by a signal.
void RestoreDisplayMode();
// Shows or hides the mouse cursor over the window.
void ShowMouseCursor(bool show);

// Creates the top-level window at the screen origin whose client area is width x height:
// a borderless popup when fullScreen, else a framed, resizable window. Not yet shown. The
// OpenGL pixel format asked for is double-buffered RGBA with `colorBits` colour bits and
// `depthBits` depth bits. False on failure.
bool CreateMainWindow(const char* title, int width, int height, bool fullScreen, int colorBits,
                      int depthBits);
// Destroys the window. False on failure or when there is none.
bool DestroyMainWindow();

// The OpenGL context of the window: create, make current (or release with current = false),
// delete. Each returns false on failure.
bool CreateGlContext();
bool MakeGlContextCurrent(bool current);
bool DeleteGlContext();

// Shows the window, brings it to the foreground and gives it the keyboard focus.
void ShowMainWindow();
// Presents the back buffer.
void SwapGlBuffers();

// Takes one waiting message without blocking; false when none is waiting. The backend turns
// its own events into messages: activation and minimising, key down (with auto-repeat) and up
// as virtual-key codes, close, client-size changes. While the window exists, the screen saver
// is kept from starting.
bool PeekWindowMessage(WindowMessage* out);
// Delivers a taken message to the registered window procedure.
void DispatchWindowMessage(const WindowMessage& msg);
// Default processing of a message the window procedure did not handle.
intptr_t DefaultWindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam);
// Posts MsgQuit with the exit code; the next PeekWindowMessage returns it.
void PostQuit(int exitCode);

// ============================================================================================
// Caption font glyphs (main thread, with a current OpenGL context)
// ============================================================================================

// Fills `count` display lists starting at `listBase` with the glyphs of character codes
// `first` to `first + count - 1`: each list draws one glBitmap with the glyph's origin and
// advance, from the best installed match for `face` at a character height of `height` pixels
// (internal leading excluded) and the given weight (700 = bold), anti-aliased where the
// backend can. False when no font could be found or rendered.
bool BuildFontBitmapLists(const char* face, int height, int weight, int first, int count,
                          unsigned listBase);

// ============================================================================================
// Message boxes (any thread; blocking until answered)
// ============================================================================================

enum class MessageButtons { Ok, YesNo };
enum class MessageIcon { None, Exclamation, Stop, Information };
// Answers, with the Windows values.
enum MessageAnswer : int { AnswerNone = 0, AnswerOk = 1, AnswerYes = 6, AnswerNo = 7 };

// Shows a modal box with the exact text and caption. Where no box can be shown (no display),
// the text goes to standard error and the answer is AnswerNone.
int ShowMessageBox(const char* text, const char* caption, MessageButtons buttons, MessageIcon icon);

// ============================================================================================
// Clock and sleeping (any thread)
// ============================================================================================

// Milliseconds since an arbitrary start, as an unsigned 32-bit count that wraps after 2^32 ms.
// Differences taken in uint32_t arithmetic are therefore wrap-safe.
uint32_t TimeMs();
// A replacement clock: `read(context)` gives the milliseconds TimeMs returns.
struct ClockSource {
    uint32_t (*read)(void* context);
    void* context;
};
// Replaces the clock (tools and tests run the show on a virtual clock) with `clock`, which must
// stay valid until it is replaced; null restores the system clock.
void SetClock(const ClockSource* clock);
// Suspends the calling thread for about `ms` milliseconds.
void SleepMs(uint32_t ms);
// Raises the calling thread to the highest priority the system grants; false when refused.
bool RaiseCurrentThreadPriority();

// ============================================================================================
// Read-only file mapping (any thread)
// ============================================================================================

struct MappedFile {
    const uint8_t* data = nullptr;
    size_t size = 0;
    void* handle = nullptr; // backend's own
};

// Maps an existing file read-only, whole. False when it cannot be opened or mapped; an empty
// file cannot be mapped.
bool MapFileReadOnly(const char* path, MappedFile* out);
void UnmapFile(MappedFile* file);

// ============================================================================================
// The program's own file (any thread)
// ============================================================================================

// Writes the full path of the running program's executable, zero-terminated, into `out` of
// `size` bytes. False when the system does not tell or the path does not fit.
bool ExecutablePath(char* out, size_t size);

// ============================================================================================
// Looping audio device (main thread opens and closes; the device reads the ring on its own)
// ============================================================================================

// Opens the default output for 16-bit signed little-endian stereo PCM at `rate` Hz. False on
// failure (no device, no sound system).
bool AudioOpen(int rate);
// Hands over the ring: the device plays it from its first byte in an endless loop, reading it
// on its own, until AudioReset. The ring must stay valid until then.
void AudioPlayLooping(const void* ring, uint32_t bytes);
// Bytes played since the hand-over, a 32-bit count that keeps growing across loops (and
// wraps after 4 GiB).
uint32_t AudioPosition();
// Stops playing and forgets the ring.
void AudioReset();
// True once the open device has failed or gone away since it was opened (an unplugged
// headset, a sound server that quit): its position no longer moves. Any thread.
bool AudioLost();
// Closes the device. Harmless when none is open.
void AudioClose();

} // namespace platform
