#!/usr/bin/env python3
"""video_browser_e2e.py: showvideo's default file played in headless Chromium's <video> element.

Renders a short range of the demo with showvideo in its default format (1280x960 4:2:0, High
profile), serves it with a small page on 127.0.0.1 (a free port) and opens the page in headless
Chromium. The page lets the video play, then seeks to a chosen frame, draws it into a canvas and
posts it back. Then checks:

  - the browser plays the file: the `playing` event, currentTime advancing at about real speed,
    videoWidth x videoHeight 1280x960, frames decoded (and the sound track);
  - the frame drawn at the chosen time is that frame: it matches ffmpeg's decode of the same
    frame of the file better than the frames beside it;
  - after taking every second pixel it matches showcapture's frame of the same program time
    (PSNR against a floor); without an X display an Xvfb is started for showcapture.

Exit status 0 when all checks pass, 1 when one fails, 77 (skipped) when there is no Chromium or
no ffmpeg.

  video_browser_e2e.py --showvideo PATH --showcapture PATH --data DIR
                       [--chromium /usr/bin/chromium] [--from 7.5] [--to 9.5] [--fps 30] [--at 8]
"""
import argparse
import http.server
import json
import math
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

SKIP = 77
WIDTH, HEIGHT = 640, 480

# The default file's frame at 8 s (the water under the cube field) measured 32.7 dB in Chromium,
# 37.7 dB in ffmpeg's decode: Chromium interpolates the chroma between samples where ffmpeg
# repeats each one. For comparison, in Chromium: 4:4:4 36.3 dB, plain 640x480 4:2:0 29.7 dB.
PSNR_FLOOR = 30.0
# Chromium's picture against ffmpeg's decode of the same frame: the same stream decoded twice,
# differing only in chroma interpolation and rounding.
SAME_FRAME_FLOOR = 34.0

PAGE = """<!doctype html>
<html><head><meta charset="utf-8"><title>showvideo in a browser</title></head>
<body style="margin:0;background:#000">
<video id="video" src="clip.mp4" playsinline></video>
<canvas id="canvas"></canvas>
<script>
(function () {
    const report = (path, body) => fetch('/report/' + path, {method: 'POST', body: body});
    const query = new URLSearchParams(location.search);
    const seekTo = parseFloat(query.get('seek'));
    const video = document.getElementById('video');
    const state = {events: []};
    let finished = false;
    function finish() {
        if (finished) return;
        finished = true;
        state.decodedFrames = video.webkitDecodedFrameCount;
        state.audioBytes = video.webkitAudioDecodedByteCount;
        report('done', JSON.stringify(state));
    }
    function fail(what) {
        state.error = what;
        finish();
    }
    for (const name of ['loadedmetadata', 'canplay', 'playing', 'seeked', 'ended'])
        video.addEventListener(name, () => state.events.push(name));
    video.addEventListener('error', () => fail('media error ' +
        (video.error ? video.error.code + ': ' + video.error.message : '?')));
    video.addEventListener('loadedmetadata', () => {
        state.videoWidth = video.videoWidth;
        state.videoHeight = video.videoHeight;
        state.duration = video.duration;
    });

    // The frame at `seekTo`, drawn at the video's size and sent as RGB. The element may still
    // show the frame before the seek for a moment after 'seeked': it is drawn once an animation
    // frame and again on each one after, until two drawings agree (bounded against a hang).
    function draw() {
        const canvas = document.getElementById('canvas');
        canvas.width = video.videoWidth;
        canvas.height = video.videoHeight;
        const context = canvas.getContext('2d', {willReadFrequently: true});
        context.drawImage(video, 0, 0);
        return context.getImageData(0, 0, canvas.width, canvas.height).data;
    }
    function same(a, b) {
        if (!a || a.length !== b.length) return false;
        for (let i = 0; i < a.length; ++i)
            if (a[i] !== b[i]) return false;
        return true;
    }
    function grab(previous, tries) {
        const rgba = draw();
        if (!same(previous, rgba) && tries < 100) {
            requestAnimationFrame(() => grab(rgba, tries + 1));
            return;
        }
        const canvas = document.getElementById('canvas');
        const rgb = new Uint8Array(canvas.width * canvas.height * 3);
        for (let i = 0, o = 0; i < rgba.length; i += 4, o += 3) {
            rgb[o] = rgba[i];
            rgb[o + 1] = rgba[i + 1];
            rgb[o + 2] = rgba[i + 2];
        }
        state.seekedTo = video.currentTime;
        state.grabTries = tries;
        report('frame?w=' + canvas.width + '&h=' + canvas.height, rgb).then(finish, finish);
    }

    // Plays until a second of the video has gone by, then seeks to the frame to grab.
    video.addEventListener('playing', () => {
        if (state.playingAt !== undefined) return;
        state.playingAt = video.currentTime;
        const start = performance.now();
        const watch = () => {
            const wall = (performance.now() - start) / 1000;
            if (video.currentTime - state.playingAt < 1.0 && !video.ended && wall < 20) {
                setTimeout(watch, 20);
                return;
            }
            state.advanced = video.currentTime - state.playingAt;
            state.wallSeconds = wall;
            video.pause();
            video.addEventListener('seeked', () => requestAnimationFrame(() => grab(null, 0)),
                                   {once: true});
            video.currentTime = seekTo;
        };
        watch();
    });
    video.play().catch((e) => fail('play() refused: ' + e));
    setTimeout(() => fail('timed out in the page'), 60000);
})();
</script>
</body></html>
"""


# ---- Pictures ---------------------------------------------------------------------------------

def rgb_of(path_or_args):
    """Top-down RGB bytes from ffmpeg: a picture file, or extra arguments for a video."""
    args = path_or_args if isinstance(path_or_args, list) else ['-i', path_or_args]
    return subprocess.run(['ffmpeg', '-v', 'error'] + args +
                          ['-frames:v', '1', '-f', 'rawvideo', '-pix_fmt', 'rgb24', '-'],
                          stdout=subprocess.PIPE, check=True).stdout


def video_frame(path, index):
    return rgb_of(['-i', path, '-vf', 'select=eq(n\\,%d)' % index])


def every_second_pixel(rgb, width, height):
    """A doubled picture back at the show's size: the top-left pixel of each 2x2 block."""
    out = bytearray(width * height * 3)
    stride = width * 2 * 3
    for y in range(height):
        row = rgb[2 * y * stride:(2 * y + 1) * stride]
        out[y * width * 3:(y + 1) * width * 3] = b''.join(
            row[6 * x:6 * x + 3] for x in range(width))
    return bytes(out)


def psnr(a, b):
    if len(a) != len(b) or not a:
        return 0.0
    se = sum((x - y) * (x - y) for x, y in zip(a, b))
    return 99.0 if se == 0 else 10 * math.log10(255 * 255 * len(a) / se)


# ---- The server -------------------------------------------------------------------------------

class Results:
    def __init__(self):
        self.frame = None
        self.size = (0, 0)
        self.summary = None
        self.done = threading.Event()


def make_handler(site, results):
    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, directory=site, **kwargs)

        def log_message(self, *args):
            pass

        # Byte ranges, as a web server gives them: the media player asks for parts of the file.
        def send_head(self):
            wanted = self.headers.get('Range', '')
            path = self.translate_path(self.path)
            if not wanted.startswith('bytes=') or not os.path.isfile(path):
                return super().send_head()
            size = os.path.getsize(path)
            first, _, last = wanted[6:].split(',')[0].partition('-')
            start = int(first) if first else max(0, size - int(last))
            end = min(size - 1, int(last)) if first and last else size - 1
            if start >= size:
                self.send_error(416)
                return None
            body = open(path, 'rb')
            body.seek(start)
            self.send_response(206)
            self.send_header('Content-Type', self.guess_type(path))
            self.send_header('Content-Range', 'bytes %d-%d/%d' % (start, end, size))
            self.send_header('Content-Length', str(end - start + 1))
            self.send_header('Accept-Ranges', 'bytes')
            self.end_headers()
            self.range_left = end - start + 1
            return body

        def copyfile(self, source, outputfile):
            left = getattr(self, 'range_left', None)
            if left is None:
                return super().copyfile(source, outputfile)
            while left > 0:
                chunk = source.read(min(left, 1 << 16))
                if not chunk:
                    break
                outputfile.write(chunk)
                left -= len(chunk)

        def do_POST(self):
            url = urllib.parse.urlparse(self.path)
            query = urllib.parse.parse_qs(url.query)
            body = self.rfile.read(int(self.headers.get('Content-Length', '0')))
            if url.path == '/report/frame':
                results.frame = body
                results.size = (int(query['w'][0]), int(query['h'][0]))
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
            '--autoplay-policy=no-user-gesture-required', '--window-size=1280,960',
            '--user-data-dir=' + profile, url]


def run_page(chromium, site, query, timeout, work):
    """Serves `site`, opens index.html?query in headless Chromium and waits for the page's
    report. Returns (results, finished, seconds)."""
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
    if not finished:
        print(open(log_path, 'rb').read()[-3000:].decode(errors='replace'))
    return results, finished, time.monotonic() - started


# ---- The reference frame ----------------------------------------------------------------------

def start_xvfb():
    """An Xvfb on a free display for showcapture; (process, ':N') or (None, None)."""
    if not shutil.which('Xvfb'):
        return None, None
    read, write = os.pipe()
    xvfb = subprocess.Popen(['Xvfb', '-displayfd', str(write), '-screen', '0', '1024x768x24',
                             '-nolisten', 'tcp', '-noreset'], pass_fds=(write,), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    os.close(write)
    with os.fdopen(read) as answer:
        number = answer.readline().strip()
    if not number:
        xvfb.kill()
        xvfb.wait()
        return None, None
    return xvfb, ':' + number


def capture(showcapture, data, at, fps, out):
    """showcapture's frame at `at` seconds as RGB, or None with the reason printed."""
    env = dict(os.environ)
    xvfb = None
    if not env.get('DISPLAY'):
        xvfb, env['DISPLAY'] = start_xvfb()
        if not xvfb:
            print('     no X display and no Xvfb: showcapture cannot draw the reference')
            return None
    try:
        r = subprocess.run([showcapture, '--at', '%g' % at, '--fps', str(fps), '--out', out],
                           cwd=data, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                           timeout=300)
    finally:
        if xvfb:
            xvfb.terminate()
            xvfb.wait()
    if r.returncode != 0:
        print('     showcapture failed: ' + r.stderr.decode(errors='replace'))
        return None
    return rgb_of(os.path.join(out, '%06d.png' % int(round(at * 1000))))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--showvideo', required=True)
    ap.add_argument('--showcapture', required=True)
    ap.add_argument('--data', required=True)
    ap.add_argument('--chromium', default=shutil.which('chromium') or '/usr/bin/chromium')
    ap.add_argument('--from', dest='start', type=float, default=7.5)
    ap.add_argument('--to', type=float, default=9.5)
    ap.add_argument('--fps', type=int, default=30)
    ap.add_argument('--at', type=float, default=8.0, help='program time of the frame to compare')
    ap.add_argument('--format', default='doubled', choices=('doubled', '444', '420'),
                    help='showvideo\'s format (the others for comparison figures)')
    ap.add_argument('--keep', help='folder to keep the file, the page\'s frame and the reference in')
    args = ap.parse_args()
    for name in ('showvideo', 'showcapture', 'data', 'keep'):
        if getattr(args, name):
            setattr(args, name, os.path.abspath(getattr(args, name)))

    if not os.path.exists(args.chromium):
        print('SKIPPED: no Chromium at %s (apt-get install chromium)' % args.chromium)
        return SKIP
    if not shutil.which('ffmpeg'):
        print('SKIPPED: no ffmpeg (apt-get install ffmpeg)')
        return SKIP
    if not args.start <= args.at < args.to:
        ap.error('--at must lie in [--from, --to)')

    work = args.keep or tempfile.mkdtemp(prefix='video_browser_e2e_')
    os.makedirs(work, exist_ok=True)
    failures = []

    def check(name, ok, detail=''):
        print('%s %s%s' % ('ok  ' if ok else 'FAIL', name, (' (' + detail + ')') if detail else ''))
        if not ok:
            failures.append(name)

    try:
        site = os.path.join(work, 'site')
        os.makedirs(site, exist_ok=True)
        clip = os.path.join(site, 'clip.mp4')
        r = subprocess.run([args.showvideo, '--data', args.data, '--out', clip, '--from',
                            '%g' % args.start, '--to', '%g' % args.to, '--fps', str(args.fps),
                            '--format', args.format],
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, timeout=300)
        check('showvideo rendered the clip', r.returncode == 0,
              r.stderr.decode(errors='replace')[-500:] if r.returncode else '%.1f MB' % (
                  os.path.getsize(clip) / 1e6))
        if r.returncode != 0:
            return 1
        with open(os.path.join(site, 'index.html'), 'w') as page:
            page.write(PAGE)

        scale = 2 if args.format == 'doubled' else 1
        size = (scale * WIDTH, scale * HEIGHT)

        def show_size(rgb):
            return every_second_pixel(rgb, WIDTH, HEIGHT) if scale == 2 else rgb

        # The frame shown at program time `at`: seek to the middle of its display interval.
        index = int(round((args.at - args.start) * args.fps))
        results, finished, elapsed = run_page(args.chromium, site, 'seek=%.6f' % (
            (index + 0.5) / args.fps), 90, work)
        summary = results.summary or {}
        check('page reported back', finished, '%.1f s' % elapsed)
        if not finished:
            return 1
        check('no media error', 'error' not in summary, summary.get('error', ''))
        check('the video plays', 'playing' in summary.get('events', []),
              'events %s' % ' '.join(summary.get('events', [])))
        advanced, wall = summary.get('advanced', 0), summary.get('wallSeconds', 0)
        check('currentTime advances at about real speed',
              advanced >= 0.9 and wall > 0 and 0.5 < advanced / wall < 2.0,
              '%.2f s of video in %.2f s' % (advanced, wall))
        check('video size %dx%d' % size, (summary.get('videoWidth'), summary.get('videoHeight')) ==
              size, '%sx%s' % (summary.get('videoWidth'), summary.get('videoHeight')))
        check('frames and sound decoded',
              summary.get('decodedFrames', 0) > 0 and summary.get('audioBytes', 0) > 0,
              '%s frames, %s bytes of sound' % (summary.get('decodedFrames'),
                                                 summary.get('audioBytes')))
        check('frame read back at %dx%d' % size, results.size == size and
              results.frame is not None and len(results.frame) == 3 * size[0] * size[1],
              '%dx%d' % results.size)
        if failures:
            return 1
        shown = show_size(results.frame)

        # The right frame: ffmpeg's decode of it matches better than its neighbours'.
        decoded = {i: show_size(video_frame(clip, i))
                   for i in (index - 1, index, index + 1)}
        same = {i: psnr(shown, frame) for i, frame in decoded.items()}
        check('the page shows frame %d, as ffmpeg decodes it' % index,
              same[index] >= SAME_FRAME_FLOOR and same[index] > max(same[index - 1],
                                                                    same[index + 1]) + 3,
              'PSNR %.1f dB; frames beside it %.1f and %.1f dB' % (
                  same[index], same[index - 1], same[index + 1]))

        reference = capture(args.showcapture, args.data, args.at, args.fps,
                            os.path.join(work, 'capture'))
        if reference is None:
            print('     the PSNR against showcapture was not checked')
        else:
            value = psnr(shown, reference)
            check('%g s: the page\'s frame matches showcapture\'s' % args.at, value >= PSNR_FLOOR,
                  'PSNR %.1f dB, floor %.0f; ffmpeg\'s decode %.1f dB' % (
                      value, PSNR_FLOOR, psnr(decoded[index], reference)))
        if args.keep:
            with open(os.path.join(work, 'page-frame.rgb'), 'wb') as out:
                out.write(results.frame)
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)

    print('%d failed' % len(failures) if failures else 'all passed')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
