#!/usr/bin/env python3
"""End-to-end checks of the demo program under a private Xvfb, driven by xdotool.

Each case starts its own X server (on a display number the server picks itself), runs the
real demo from the data folder and acts as a user would: answers message boxes, presses F1
and Escape, closes the window. Pixels are read back from the window with ImageMagick.
Exit code 0 = passed, 1 = failed, 77 = skipped (a needed tool is missing).
"""
import argparse
import ctypes
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class Xvfb:
    """A private X server; the display number is chosen by the server (-displayfd)."""

    def __init__(self, width, height):
        read_fd, write_fd = os.pipe()
        self.proc = subprocess.Popen(
            # -noreset: cases that start the demo several times on one server must not meet it
            # resetting after the last client left (a connection then fails now and then).
            # -wr: a white root, so that a screen the demo has not drawn on yet is never taken
            # for its black clear colour.
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", f"{width}x{height}x24",
             "-nolisten", "tcp", "-noreset", "-wr"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_fd)
        number = b""
        deadline = time.time() + 10
        while not number.endswith(b"\n") and time.time() < deadline:
            chunk = os.read(read_fd, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_fd)
        check(number.strip().isdigit(), "Xvfb did not report a display number")
        self.display = ":" + number.decode().strip()
        # Keys are held until the program has seen them (see key()): no repeats meanwhile.
        x(self.display, "xset", "r", "off", check_rc=True)

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()


class Demo:
    last = None  # the demo of the running case, for its output on failure

    def __init__(self, args, display, program=None, cwd=None, drop_env=()):
        env = dict(os.environ)
        for name in drop_env:
            env.pop(name, None)
        env.pop("WAYLAND_DISPLAY", None)
        env.pop("DEMO_MESSAGE_BOXES", None)  # these cases answer the boxes on screen
        if display is None:
            env.pop("DISPLAY", None)
        else:
            env["DISPLAY"] = display
        env["SDL_AUDIODRIVER"] = "dummy"  # no sound card here; the show must not care
        self.display = display
        # Files, not pipes: a helper process of a message box may outlive the demo and would
        # hold a pipe open.
        self.out = tempfile.TemporaryFile()
        self.err = tempfile.TemporaryFile()
        self.proc = subprocess.Popen([program or args.demo], cwd=cwd or args.data, env=env,
                                     stdout=self.out, stderr=self.err)
        Demo.last = self

    def _read(self, f):
        f.seek(0)
        return f.read().decode(errors="replace")

    def wait(self, timeout):
        try:
            self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise Failure(f"demo still running after {timeout} s; stderr:\n{self._read(self.err)}")
        return self.proc.returncode, self._read(self.out), self._read(self.err)

    def kill(self):
        # SIGTERM first: during a message box it also ends the box's helper process.
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(2)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def x(display, *argv, check_rc=False):
    env = dict(os.environ, DISPLAY=display)
    try:
        r = subprocess.run(list(argv), env=env, capture_output=True, text=True, timeout=10)
    except subprocess.TimeoutExpired:
        raise Failure(f"{argv} did not finish within 10 s")
    if check_rc and r.returncode != 0:
        raise Failure(f"{argv} failed: {r.stderr}")
    return r.stdout


def windows(display):
    """(id, title, width, height, x, y) of every named window."""
    found = []
    for line in x(display, "xwininfo", "-root", "-tree").splitlines():
        m = re.match(r'\s*(0x[0-9a-f]+) "(.*)":.*?\s(\d+)x(\d+)\+(-?\d+)\+(-?\d+)', line)
        if m:
            found.append((m.group(1), m.group(2), int(m.group(3)), int(m.group(4)),
                          int(m.group(5)), int(m.group(6))))
    return found


def wait_window(display, title, timeout=10):
    deadline = time.time() + timeout
    while time.time() < deadline:
        for w in windows(display):
            if w[1] == title:
                return w
        time.sleep(0.1)
    raise Failure(f'no window titled "{title}" appeared within {timeout} s; windows: '
                  f"{[w[1] for w in windows(display)]}")


def key(display, window_id, name, until=None, timeout=20):
    """A key held as a person would hold it. The demo reads its key table once per frame, so a
    press released within the same batch of messages would go unseen: for the demo's window the
    key is held until `until()` shows the program has acted on it (bounded only against a hang;
    the caller's own checks then fail). Message boxes take every press and release in order, so
    a short press does for them."""
    x(display, "xdotool", "keydown", "--window", window_id, name)
    if until is None:
        time.sleep(0.15)
    else:
        deadline = time.time() + timeout
        while not until() and time.time() < deadline:
            time.sleep(0.05)
    x(display, "xdotool", "keyup", "--window", window_id, name)
    # xdotool presses keys of the focused window through the server's own keyboard; make sure
    # the key is not left held there when the window it was sent to is already gone.
    x(display, "xdotool", "keyup", name)


def capture_rgb(display, width, height):
    """The screen's top-left width x height (the demo's window sits at the origin). The root
    window is captured rather than the demo's own: a window id gone stale would make the
    capture tool wait for a mouse click."""
    env = dict(os.environ, DISPLAY=display)
    try:
        r = subprocess.run(["import", "-silent", "-window", "root", "-crop",
                            f"{width}x{height}+0+0", "-depth", "8", "rgb:-"], env=env,
                           capture_output=True, timeout=10)
    except subprocess.TimeoutExpired:
        raise Failure("import did not finish within 10 s")
    check(r.returncode == 0, f"import failed: {r.stderr.decode()}")
    check(len(r.stdout) == width * height * 3,
          f"captured {len(r.stdout)} bytes, expected {width}x{height} RGB")
    return r.stdout


def expect_show_on_clear_colour(display, timeout=20):
    """The show's first seconds: mostly the clear colour (black) in the 640x480 client area,
    once frames reach the window (the root around it is white)."""
    deadline = time.time() + timeout
    while True:
        rgb = capture_rgb(display, 640, 480)
        black = sum(1 for i in range(0, len(rgb), 3 * 7)
                    if rgb[i] == 0 and rgb[i + 1] == 0 and rgb[i + 2] == 0)
        samples = len(rgb) // (3 * 7)
        if black > samples // 2 or time.time() > deadline:
            break
        time.sleep(0.1)
    check(black > samples // 2,
          f"only {black} of {samples} sampled pixels are the clear colour")


def expect_intro_title(display, timeout=20):
    """The intro's first seconds: "Compiling the Future..." in white with its baseline 130 px
    below the top of the client area, on black, and nothing white far below it; checked on the
    first capture that shows the title (a busy machine may take a while to draw a frame)."""
    deadline = time.time() + timeout
    while True:
        rgb = capture_rgb(display, 640, 480)
        black_corner = rgb[(479 * 640 + 639) * 3:(479 * 640 + 640) * 3] == b"\0\0\0"
        if black_corner and white_in_rows(rgb, 100, 140) >= 50 or time.time() > deadline:
            break
        time.sleep(0.1)
    title = white_in_rows(rgb, 100, 140)
    below = white_in_rows(rgb, 200, 480)
    check(title >= 50, f"only {title} white pixels in the title's band (rows 100-139)")
    check(below == 0, f"{below} white pixels below the title, where the intro is black")


def white_in_rows(rgb, first, last):
    """White pixels in rows [first, last) of a 640-wide RGB capture."""
    count = 0
    for row in range(first, last):
        base = row * 640 * 3
        for col in range(0, 640):
            i = base + col * 3
            if rgb[i] > 200 and rgb[i + 1] > 200 and rgb[i + 2] > 200:
                count += 1
    return count


def wait_new_window(display, old_id, timeout=10):
    """Waits for the Demo window that replaces old_id (a re-created window has a new id)."""
    deadline = time.time() + timeout
    while time.time() < deadline:
        for w in windows(display):
            if w[1] == "Demo" and w[0] != old_id:
                return w
        time.sleep(0.1)
    raise Failure(f"the Demo window {old_id} was not re-created within {timeout} s")


def demo_window_changed(display, old_id):
    """Whether the Demo window old_id is gone (F1 closed it) or a box has appeared."""
    return lambda: any(w[1] == "Pelo GL" or (w[1] == "Demo" and w[0] != old_id)
                       for w in windows(display)) or not any(w[0] == old_id
                                                             for w in windows(display))


def ended(demo):
    return lambda: demo.proc.poll() is not None


def send_wm_delete(display, window_id):
    """What a window manager sends when the user clicks the close button."""
    xlib = ctypes.CDLL("libX11.so.6")
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    xlib.XInternAtom.restype = ctypes.c_ulong
    xlib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    xlib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                ctypes.c_void_p]
    xlib.XFlush.argtypes = [ctypes.c_void_p]
    xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]

    class ClientMessage(ctypes.Structure):
        _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                    ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                    ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                    ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

    class Event(ctypes.Union):
        _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]

    dpy = xlib.XOpenDisplay(display.encode())
    check(dpy, f"cannot open {display}")
    ev = Event()
    ev.xclient.type = 33  # ClientMessage
    ev.xclient.window = int(window_id, 16)
    ev.xclient.message_type = xlib.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
    ev.xclient.format = 32
    ev.xclient.data[0] = xlib.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
    xlib.XSendEvent(dpy, int(window_id, 16), 0, 0, ctypes.byref(ev))
    xlib.XFlush(dpy)
    xlib.XCloseDisplay(dpy)


def answer_refusal_yes(display):
    box = wait_window(display, "Pelo GL")
    key(display, box[0], "Return")
    return box


# --------------------------------------------------------------------------------------------
# Cases
# --------------------------------------------------------------------------------------------

def case_refused_yes(args):
    """A screen without 640x480: the Yes/No box, Yes gives a framed window at the origin; F1
    tries full screen again, is refused again, and Yes keeps the program going."""
    xvfb = Xvfb(1024, 768)
    demo = Demo(args, xvfb.display)
    try:
        answer_refusal_yes(xvfb.display)
        win = wait_window(xvfb.display, "Demo")
        check(win[2:] == (640, 480, 0, 0), f"window geometry {win[2:]}, want 640x480+0+0")
        expect_show_on_clear_colour(xvfb.display)
        key(xvfb.display, win[0], "F1", until=demo_window_changed(xvfb.display, win[0]))
        answer_refusal_yes(xvfb.display)  # the box again proves the window was closed
        again = wait_new_window(xvfb.display, win[0])
        check(again[2:4] == (640, 480), f"re-created window is {again[2]}x{again[3]}")
        check(demo.proc.poll() is None, "demo ended after the F1 toggle")
        expect_show_on_clear_colour(xvfb.display)
        key(xvfb.display, again[0], "Escape", until=ended(demo))
        rc, _, err = demo.wait(5)
        check(rc == 0, f"exit code {rc}; stderr:\n{err}")
    finally:
        demo.kill()
        xvfb.stop()


def case_refused_no(args):
    """No to the windowed fallback: "Program Will Now Close." and a failing exit code."""
    xvfb = Xvfb(1024, 768)
    demo = Demo(args, xvfb.display)
    try:
        box = wait_window(xvfb.display, "Pelo GL")
        key(xvfb.display, box[0], "Escape")  # the No button
        closing = wait_window(xvfb.display, "ERROR")
        key(xvfb.display, closing[0], "Return")
        rc, _, err = demo.wait(5)
        check(rc != 0, "the program could not run but exited with 0")
        check(not [w for w in windows(xvfb.display) if w[1] == "Demo"], "a Demo window was made")
    finally:
        demo.kill()
        xvfb.stop()


def case_fullscreen_f1(args):
    """A 640x480 screen: full screen without a box; F1 to a framed window and back, the
    program goes on throughout."""
    xvfb = Xvfb(640, 480)
    demo = Demo(args, xvfb.display)
    try:
        win = wait_window(xvfb.display, "Demo")
        check(win[2:] == (640, 480, 0, 0), f"full-screen geometry {win[2:]}")
        check(not [w for w in windows(xvfb.display) if w[1] == "Pelo GL"],
              "the refusal box appeared although the mode is available")
        expect_show_on_clear_colour(xvfb.display)
        key(xvfb.display, win[0], "F1", until=demo_window_changed(xvfb.display, win[0]))
        framed = wait_new_window(xvfb.display, win[0])
        check(demo.proc.poll() is None, "demo ended after F1")
        expect_show_on_clear_colour(xvfb.display)
        key(xvfb.display, framed[0], "F1", until=demo_window_changed(xvfb.display, framed[0]))
        full = wait_new_window(xvfb.display, framed[0])
        check(not [w for w in windows(xvfb.display) if w[1] == "Pelo GL"],
              "the refusal box appeared on the way back to full screen")
        check(demo.proc.poll() is None, "demo ended after the second F1")
        key(xvfb.display, full[0], "Escape", until=ended(demo))
        rc, _, err = demo.wait(5)
        check(rc == 0, f"exit code {rc}; stderr:\n{err}")
    finally:
        demo.kill()
        xvfb.stop()


def case_escape(args):
    """Escape ends the program with 0 at once (within a few seconds on a busy machine)."""
    xvfb = Xvfb(640, 480)
    demo = Demo(args, xvfb.display)
    try:
        win = wait_window(xvfb.display, "Demo")
        expect_intro_title(xvfb.display)
        start = time.time()
        key(xvfb.display, win[0], "Escape", until=ended(demo))
        rc, _, err = demo.wait(5)
        took = time.time() - start
        check(rc == 0, f"exit code {rc}; stderr:\n{err}")
        # A bound against a hang or a long wait, not a speed figure: the sanitizer builds also
        # check for leaks on the way out, on a machine that may be busy.
        check(took < 3.0, f"Escape took {took:.2f} s to end the program")
    finally:
        demo.kill()
        xvfb.stop()


def case_close(args):
    """Closing the window (the window manager's delete request) ends the program with 0."""
    xvfb = Xvfb(1024, 768)
    demo = Demo(args, xvfb.display)
    try:
        answer_refusal_yes(xvfb.display)
        win = wait_window(xvfb.display, "Demo")
        expect_intro_title(xvfb.display)  # the program is in its main loop
        send_wm_delete(xvfb.display, win[0])
        rc, _, err = demo.wait(5)
        check(rc == 0, f"exit code {rc}; stderr:\n{err}")
    finally:
        demo.kill()
        xvfb.stop()


def case_no_display(args):
    """No X server: one clear line on stderr, nothing else, exit code 1, no hang. Without
    XDG_RUNTIME_DIR, as for root in CI: a Wayland attempt would add a line of its own."""
    demo = Demo(args, None, drop_env=("XDG_RUNTIME_DIR",))
    try:
        rc, out, err = demo.wait(10)
        check(rc == 1, f"exit code {rc} without a display, want 1")
        lines = [line for line in (out + err).splitlines() if line.strip()]
        check(len(lines) == 1, f"want one line, got {len(lines)}:\n{out}{err}")
        check("display" in lines[0].lower(), f"the line does not mention the display: {lines[0]}")
    finally:
        demo.kill()


def song_error_after_escape(args, display, program, cwd):
    """Runs the demo until its window shows, ends it with Escape; whether it said it could not
    load the song (the music starts right after the window)."""
    demo = Demo(args, display, program=program, cwd=cwd)
    try:
        win = wait_window(display, "Demo")
        expect_intro_title(display)  # the first frame comes after the music's start-up
        key(display, win[0], "Escape", until=ended(demo))
        rc, out, err = demo.wait(5)
        check(rc == 0, f"exit code {rc}; stderr:\n{err}")
        return "Error loading song" in out
    finally:
        demo.kill()


def case_data_folder(args):
    """Started elsewhere, the demo finds its song beside itself, or in ../share/demo as
    installed; a working directory with a song of its own still comes first."""
    xvfb = Xvfb(640, 480)
    try:
        with tempfile.TemporaryDirectory() as tmp:
            def lay_out(folder, program_folder):
                os.makedirs(os.path.join(folder, "Data"))
                shutil.copy(os.path.join(args.data, "Zarq-Neat.xm"), folder)
                shutil.copy(os.path.join(args.data, "Data", "Particle.bmp"),
                            os.path.join(folder, "Data"))
                os.makedirs(program_folder, exist_ok=True)
                return shutil.copy(args.demo, program_folder)

            empty = os.path.join(tmp, "empty")
            os.makedirs(empty)
            beside = lay_out(os.path.join(tmp, "beside"), os.path.join(tmp, "beside"))
            installed = lay_out(os.path.join(tmp, "prefix", "share", "demo"),
                                os.path.join(tmp, "prefix", "bin"))
            check(not song_error_after_escape(args, xvfb.display, beside, empty),
                  "the song beside the program was not found")
            check(not song_error_after_escape(args, xvfb.display, installed, empty),
                  "the song in ../share/demo was not found")
            # A broken song in the working directory: it is the one loaded, and fails.
            broken = os.path.join(tmp, "broken")
            os.makedirs(broken)
            with open(os.path.join(broken, "Zarq-Neat.xm"), "wb") as f:
                f.write(b"not a module")
            check(song_error_after_escape(args, xvfb.display, installed, broken),
                  "the working directory's song was passed over")
    finally:
        xvfb.stop()


CASES = {name[5:]: fn for name, fn in globals().items() if name.startswith("case_")}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--demo", required=True)
    parser.add_argument("--data", required=True)
    parser.add_argument("--case", required=True, choices=sorted(CASES))
    args = parser.parse_args()
    needed = ["Xvfb", "xdotool", "xwininfo", "import"]
    missing = [t for t in needed if not shutil.which(t)]
    if missing and args.case != "no_display":
        print(f"SKIPPED: missing tools {missing}")
        return SKIP
    if not os.path.isdir(args.data):
        print(f"SKIPPED: no data folder {args.data}")
        return SKIP
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    try:
        CASES[args.case](args)
    except Failure as failure:
        print(f"FAILED ({args.case}): {failure}")
        if Demo.last:
            print("demo's stderr:\n" + Demo.last._read(Demo.last.err)[-3000:])
        return 1
    print(f"passed ({args.case})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
