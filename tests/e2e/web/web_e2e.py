#!/usr/bin/env python3
"""web_e2e.py: the web page in headless Chromium, checked against the desktop's tools.

Serves the web build's site folder on 127.0.0.1 (a free port), opens the page with a frame clock
(?fps=N&at=...&music=S&report=1) in headless Chromium with its software WebGL, and receives what
the page posts back: its state, the frames read back at the chosen program times, and the first
seconds of the music as the program's output renders them. Then checks:

  - the page reaches the running state and draws through WebGL;
  - each frame shows what a viewer would see at that time (the checks of the capture test: the
    intro caption's band, blue water under the cube field, translucent cubes, the additive
    particle glow, the credits), and, when showcapture can run (an X display), its PSNR against
    showcapture's frame at the same time and frame rate;
  - the music equals xmrender's bytes for the same length;
  - without its data files the show still runs and the page says what is missing;
  - on the real clock a key press starts the show and Escape ends it and the music.

Exit status 0 when all checks pass, 1 when one fails, 77 (skipped) when there is no web build
or no Chromium.

  web_e2e.py --site build/web/site [--showcapture PATH] [--xmrender PATH] [--data DIR]
             [--chromium /usr/bin/chromium] [--fps 20] [--at 1,8,36,100,200] [--music 30]
"""
import argparse
import http.server
import json
import math
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import zlib

SKIP = 77
WIDTH, HEIGHT = 640, 480


# ---- Frames -----------------------------------------------------------------------------------

class Frame:
    def __init__(self, rgb, width=WIDTH, height=HEIGHT):
        self.rgb, self.width, self.height = rgb, width, height

    def count(self, x0, y0, x1, y1, test):
        n = 0
        rgb, w = self.rgb, self.width
        for y in range(y0, y1):
            row = y * w * 3
            for x in range(x0, x1):
                i = row + x * 3
                if test(rgb[i], rgb[i + 1], rgb[i + 2]):
                    n += 1
        return n

    def count_all(self, test):
        return self.count(0, 0, self.width, self.height, test)


def psnr(a, b):
    if len(a.rgb) != len(b.rgb):
        return 0.0
    se = sum((x - y) * (x - y) for x, y in zip(a.rgb, b.rgb))
    if se == 0:
        return float('inf')
    return 10 * math.log10(255 * 255 * len(a.rgb) / se)


def read_png(path):
    """8-bit RGB PNG without interlacing (what showcapture writes)."""
    data = open(path, 'rb').read()
    pos, idat, width, height = 8, b'', 0, 0
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b'IHDR':
            width, height, depth, colour = struct.unpack('>IIBB', body[:10])
            if depth != 8 or colour != 2:
                raise ValueError('%s: not 8-bit RGB' % path)
        elif kind == b'IDAT':
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * 3
    out = bytearray(stride * height)
    prev = bytearray(stride)
    for y in range(height):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride if f else 0):
            a = line[i - 3] if i >= 3 else 0
            b = prev[i]
            c = prev[i - 3] if i >= 3 else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 255
        out[y * stride:(y + 1) * stride] = line
        prev = line
    return Frame(bytes(out), width, height)


def white(r, g, b):
    return r > 235 and g > 235 and b > 235


def lit(r, g, b):
    return r > 40 or g > 40 or b > 40


def grey(r, g, b):
    return r > 120 and abs(r - g) < 12 and abs(g - b) < 12


def water_blue(r, g, b):
    return b > 120 and r < 80 and g < 80


def dark(r, g, b):
    return r < 12 and g < 12 and b < 12


# What a viewer sees at each program time, as the capture test checks it on the desktop's frames.
# Each returns a list of (description, passed).
def check_intro(f):
    return [
        ('intro caption in its band', f.count(0, 105, 400, 137, white) > 300),
        ('nothing lit above the caption', f.count(0, 0, 640, 100, lit) == 0),
        ('nothing lit below the caption', f.count(0, 140, 640, 480, lit) == 0),
        ('caption starts at x = 3', f.count(0, 105, 2, 137, lit) == 0),
    ]


def check_water(f):
    return [
        ('grey cubes in the upper field', f.count(0, 0, 640, 240, grey) > 1000),
        ('blue water below', f.count(0, 400, 640, 480, water_blue) > 640 * 80 * 8 // 10),
        ('black sky above the horizon', f.count(0, 0, 640, 200, water_blue) == 0),
    ]


def check_translucent(f):
    all_ = WIDTH * HEIGHT
    pale_blue = lambda r, g, b: r > 30 and b > r + 60 and abs(r - g) < 12
    return [
        ('no plain grey left (translucent)', f.count_all(grey) < all_ // 100),
        ('pale blue faces', f.count_all(pale_blue) > all_ // 10),
    ]


def check_particles(f):
    all_ = WIDTH * HEIGHT
    return [
        ('black background', f.count_all(dark) > all_ // 2),
        ('blue particle glow', f.count_all(lambda r, g, b: b > 150) > 100),
        ('blue never behind red or green', f.count_all(lambda r, g, b: r > b + 8 or g > b + 8) == 0),
    ]


def check_credits(f):
    return [
        ('"Code By:" at x = 230', f.count(230, 110, 340, 136, white) > 120),
        ('"Zarq" at x = 230', f.count(230, 290, 300, 316, white) > 60),
        ('first credits gone', f.count(20, 250, 220, 276, white) < 40),
    ]


CHECKS = {1000: check_intro, 8000: check_water, 36000: check_translucent, 100000: check_particles,
          200000: check_credits}

# Frames that should come out close to the desktop's: the show's geometry and captions. The
# particles are left out: their motion comes from the C library's rand, which is another
# generator in the browser's C library.
PSNR_FLOOR = {1000: 20.0, 8000: 25.0, 36000: 25.0}


# ---- The server -------------------------------------------------------------------------------

class Results:
    def __init__(self):
        self.lock = threading.Lock()
        self.states = []
        self.frames = {}
        self.music = None
        self.summary = None
        self.log = []
        self.done = threading.Event()


def make_handler(site, results):
    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, directory=site, **kwargs)

        def log_message(self, *args):
            pass

        def do_POST(self):
            url = urllib.parse.urlparse(self.path)
            query = urllib.parse.parse_qs(url.query)
            body = self.rfile.read(int(self.headers.get('Content-Length', '0')))
            with results.lock:
                if url.path == '/report/state':
                    results.states.append(body.decode())
                elif url.path == '/report/log':
                    results.log.append(body.decode(errors='replace'))
                elif url.path == '/report/frame':
                    at = int(query['at'][0])
                    w, h = int(query['w'][0]), int(query['h'][0])
                    results.frames[at] = Frame(body, w, h)
                elif url.path == '/report/music':
                    results.music = body
                elif url.path == '/report/done':
                    results.summary = json.loads(body)
                    results.done.set()
            self.send_response(204)
            self.end_headers()

    return Handler


def chromium_command(chromium, profile, url):
    return [chromium, '--headless=new', '--no-sandbox', '--enable-unsafe-swiftshader',
            '--use-angle=swiftshader', '--enable-logging=stderr', '--disable-background-networking',
            '--disable-component-update', '--disable-sync', '--no-first-run',
            '--disable-background-timer-throttling', '--disable-renderer-backgrounding',
            '--autoplay-policy=no-user-gesture-required', '--window-size=640,480',
            '--user-data-dir=' + profile, url]


# ---- Desktop references -----------------------------------------------------------------------

def desktop_frames(showcapture, data, times, fps, out):
    if not showcapture or not os.path.exists(showcapture) or not os.environ.get('DISPLAY'):
        return {}
    at = ','.join('%g' % (ms / 1000) for ms in times)
    r = subprocess.run([showcapture, '--at', at, '--fps', str(fps), '--out', out], cwd=data,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=900)
    if r.returncode != 0:
        print('showcapture failed: ' + r.stderr.decode(errors='replace'))
        return {}
    return {ms: read_png(os.path.join(out, '%06d.png' % ms)) for ms in times}


def write_png(path, frame):
    raw = b''.join(b'\0' + frame.rgb[y * frame.width * 3:(y + 1) * frame.width * 3]
                   for y in range(frame.height))

    def chunk(kind, body):
        return (struct.pack('>I', len(body)) + kind + body +
                struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff))

    header = struct.pack('>IIBBBBB', frame.width, frame.height, 8, 2, 0, 0, 0)
    with open(path, 'wb') as out:
        out.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) +
                  chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))


def wav_frames(path):
    data = open(path, 'rb').read()
    pos = 12
    while pos + 8 <= len(data):
        kind, length = struct.unpack('<4sI', data[pos:pos + 8])
        if kind == b'data':
            return data[pos + 8:pos + 8 + length]
        pos += 8 + length + (length & 1)
    return b''


# Presses keys as a person would (the page reads the key codes the program gets): any key to
# start, then Escape after a few seconds; posts how many frames were shown and whether the show
# ended, and the audio context's state.
DRIVER = """
<script>
(function () {
    let frames = 0, first = 0, last = 0;
    function key(type, code) {
        const e = new KeyboardEvent(type, {bubbles: true});
        Object.defineProperty(e, 'keyCode', {get: () => code});
        Object.defineProperty(e, 'which', {get: () => code});
        window.dispatchEvent(e);
    }
    // Held for a fifth of a second, as a finger does: the program looks at the key's state once
    // a frame, after the waiting messages.
    function press(code) {
        key('keydown', code);
        setTimeout(() => key('keyup', code), 200);
    }
    const report = (path, body) => fetch('/report/' + path, {method: 'POST', body: body});
    window.addEventListener('load', () => {
        const ready = setInterval(() => {
            if (!Module.calledRun) return;
            clearInterval(ready);
            const shown = Module.onFramePresented, ended = Module.onShowEnded;
            Module.onFramePresented = (index, ms) => {
                shown(index, ms);
                last = performance.now();
                if (frames++ === 0) first = last;
            };
            Module.onShowEnded = (code) => {
                ended(code);
                const seconds = (last - first) / 1000;
                setTimeout(() => report('done', JSON.stringify({
                    frames: frames, seconds: seconds, fps: seconds > 0 ? (frames - 1) / seconds : 0,
                    audio: Module.audioContext ? Module.audioContext.state : 'closed'})), 500);
            };
            press(32);
            setTimeout(() => press(27), 6000);
        }, 50);
    });
})();
</script>
"""


def driven_site(site, work):
    """A copy of the site (links) whose page has the key-pressing driver."""
    folder = os.path.join(work, 'site-driven')
    os.makedirs(folder)
    for name in os.listdir(site):
        if name != 'index.html':
            os.symlink(os.path.join(site, name), os.path.join(folder, name))
    page = open(os.path.join(site, 'index.html')).read()
    with open(os.path.join(folder, 'index.html'), 'w') as out:
        out.write(page.replace('</body>', DRIVER + '</body>'))
    return folder


def run_page(chromium, site, query, timeout, work, meanwhile=None):
    """Serves `site`, opens index.html?query in headless Chromium and waits for the page's
    report; runs `meanwhile` while the browser works. Returns (results, finished, seconds)."""
    os.makedirs(work, exist_ok=True)
    results = Results()
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), make_handler(site, results))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = 'http://127.0.0.1:%d/index.html?%s' % (server.server_port, query)
    started = time.monotonic()
    log_path = os.path.join(work, 'chromium.log')
    browser = None
    try:
        with open(log_path, 'wb') as log:
            browser = subprocess.Popen(chromium_command(chromium, os.path.join(work, 'profile'), url),
                                       stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
            if meanwhile:
                meanwhile()
            finished = results.done.wait(timeout)
    finally:
        # The browser runs in its own session: its helper processes end with it.
        if browser is not None and browser.poll() is None:
            os.killpg(browser.pid, signal.SIGTERM)
            try:
                browser.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(browser.pid, signal.SIGKILL)
                browser.wait()
        server.shutdown()
    elapsed = time.monotonic() - started
    for line in results.log:
        print('page: ' + line)
    if not finished:
        print(open(log_path, 'rb').read()[-3000:].decode(errors='replace'))
    return results, finished, elapsed


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--site', required=True)
    ap.add_argument('--showcapture')
    ap.add_argument('--xmrender')
    ap.add_argument('--data')
    ap.add_argument('--chromium', default=shutil.which('chromium') or '/usr/bin/chromium')
    ap.add_argument('--fps', type=int, default=20)
    ap.add_argument('--at', default='1,8,36,100,200')
    ap.add_argument('--music', type=float, default=30.0)
    ap.add_argument('--timeout', type=float, default=600.0)
    ap.add_argument('--keep', help='folder to write the page\'s frames to, as web_<ms>.png')
    args = ap.parse_args()
    for name in ('site', 'showcapture', 'xmrender', 'data', 'keep'):
        if getattr(args, name):
            setattr(args, name, os.path.abspath(getattr(args, name)))

    if not os.path.exists(os.path.join(args.site, 'demo.wasm')):
        print('SKIPPED: no web build in %s (cmake --preset web && cmake --build --preset web)'
              % args.site)
        return SKIP
    if not os.path.exists(args.chromium):
        print('SKIPPED: no Chromium at %s (apt-get install chromium)' % args.chromium)
        return SKIP

    times = sorted(int(round(float(t) * 1000)) for t in args.at.split(','))
    work = tempfile.mkdtemp(prefix='web_e2e_')
    failures = []

    def check(name, ok, detail=''):
        print('%s %s%s' % ('ok  ' if ok else 'FAIL', name, (' (' + detail + ')') if detail else ''))
        if not ok:
            failures.append(name)

    try:
        query = 'fps=%d&at=%s&music=%g&report=1' % (args.fps, args.at, args.music)
        # The desktop's frames are drawn meanwhile (the two share the machine's two cores).
        reference = {}

        def draw_desktop_frames():
            reference.update(desktop_frames(args.showcapture, args.data, times, args.fps,
                                            os.path.join(work, 'desktop')))

        results, finished, elapsed = run_page(args.chromium, args.site, query, args.timeout,
                                              os.path.join(work, 'page'), draw_desktop_frames)
        check('page reported back within %d s' % args.timeout, finished, '%.1f s' % elapsed)
        if not finished:
            return 1
        summary = results.summary
        check('page reached the running state', 'running' in results.states)
        check('drawn through WebGL', summary.get('webgl', 0) >= 1, 'WebGL %s' % summary.get('webgl'))
        print('first frame %s ms after navigation; run %.1f s for %d frames at %d fps' % (
            summary.get('firstFrameMs'), elapsed, max(c['frame'] for c in summary['captures']) + 1,
            args.fps))

        # The page's Web Audio device pulls the ring while the show runs (headless Chromium lets
        # a page play without a gesture when told to).
        audio = summary.get('audio') or {}
        share = audio.get('callbackMs', 0) / max(1, audio.get('overMs', 1))
        check('the audio callback took frames from the ring', audio.get('frames', 0) > 0,
              '%d frames in %.1f s, context %s, callback %.2f%% of the time' % (
                  audio.get('frames', 0), audio.get('overMs', 0) / 1000, audio.get('state'),
                  100 * share))

        for ms in times:
            frame = results.frames.get(ms)
            check('frame at %g s read back' % (ms / 1000), frame is not None)
            if frame is None:
                continue
            if args.keep:
                os.makedirs(args.keep, exist_ok=True)
                write_png(os.path.join(args.keep, 'web_%06d.png' % ms), frame)
            check('frame at %g s is not blank' % (ms / 1000), frame.count_all(lit) > 0)
            for name, ok in CHECKS.get(ms, lambda f: [])(frame):
                check('%g s: %s' % (ms / 1000, name), ok)
            if ms in reference:
                value = psnr(frame, reference[ms])
                floor = PSNR_FLOOR.get(ms)
                detail = 'PSNR %.1f dB against showcapture' % value
                if floor is None:
                    print('     %g s: %s (not checked)' % (ms / 1000, detail))
                else:
                    check('%g s: close to the desktop' % (ms / 1000), value >= floor,
                          '%s, floor %.0f' % (detail, floor))

        if args.music > 0 and args.xmrender and os.path.exists(args.xmrender):
            song = os.path.join(args.data, 'Zarq-Neat.xm')
            wav = os.path.join(work, 'music.wav')
            subprocess.run([args.xmrender, '--seconds', '%g' % args.music, song, wav],
                           stdout=subprocess.DEVNULL, check=True)
            expected = wav_frames(wav)[:len(results.music or b'')]
            got = results.music or b''
            same = len(got) > 0 and got == expected
            detail = '%d frames' % (len(got) // 4)
            if not same and got and expected:
                first = next(i for i in range(min(len(got), len(expected))) if got[i] != expected[i])
                detail += ', first difference at frame %d' % (first // 4)
            check('the first %g s of music equal xmrender\'s bytes' % args.music, same, detail)

        # Without its data files the page behaves as the desktop demo: the show runs, silent,
        # and the page says what is missing.
        missing = os.path.join(work, 'site-without-data')
        os.makedirs(os.path.join(missing, 'Data'))
        for name in os.listdir(args.site):
            if name not in ('Zarq-Neat.xm', 'Data'):
                os.symlink(os.path.join(args.site, name), os.path.join(missing, name))
        results, finished, _ = run_page(args.chromium, missing, 'fps=20&at=1&report=1', 120,
                                        os.path.join(work, 'page-without-data'))
        check('without data files: the show still runs', finished and 1000 in results.frames and
              all(ok for _, ok in check_intro(results.frames[1000])))
        check('without data files: the page says so',
              'Error loading song' in results.log and
              any(line.startswith('Not found beside the page') for line in results.log),
              '; '.join(results.log))

        # On the real clock, as a person sees it: a key press starts the show, it runs at the
        # display's pace, and Escape ends it and the music.
        results, finished, _ = run_page(args.chromium, driven_site(args.site, work), 'report=1',
                                        120, os.path.join(work, 'page-driven'))
        summary = results.summary or {}
        check('real clock: a key press starts the show', finished and summary.get('frames', 0) > 0,
              '%d frames in %.1f s, %.1f fps' % (summary.get('frames', 0),
                                                 summary.get('seconds', 0), summary.get('fps', 0)))
        check('real clock: Escape ends the show and the music',
              'ended' in results.states and summary.get('audio') in ('closed', 'none'),
              'states %s, audio %s' % (results.states, summary.get('audio')))
    finally:
        shutil.rmtree(work, ignore_errors=True)

    print('%d failed' % len(failures) if failures else 'all passed')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
