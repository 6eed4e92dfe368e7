#!/usr/bin/env python3
"""The module player's page in headless Chromium, driven through the browser's remote control.

The page is opened with a bad file and a corpus song in its address. Checks: the bad file's
entry shows the library's own message and the song after it is taken; a click on play (a
trusted gesture) starts the worklet within 100 ms, which then pulls frames at the context's rate
and is short of them less than 1 % of its callbacks; a seek by the seek bar lands on the order
and row a straight render of the library has at that time, and the pattern view shows that row;
with every channel muted the output is silent (when the library's mixer reads the mutes); a MOD
file dropped on the page joins the playlist and plays; at a phone's viewport every control lies
on the screen.

Exit status 0 when all checks pass, 1 when one fails, 77 (skipped) without a web build, the
corpus or Chromium.
"""
import argparse
import http.server
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'web'))
from web_e2e import DevTools, chromium_command  # noqa: E402

SKIP = 77
SONG = 'grass_near_the_house.xm'
BAD = b'Extended Module: ' + b'\x00' * 40  # the signature, then a header cut short
SEEK_TO = 30.0
MOD_SONG = 'GAMEMUSIC.mod'  # a MOD file, dropped on the page


def make_handler(site, corpus, mod_corpus):
    class Handler(http.server.SimpleHTTPRequestHandler):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, directory=site, **kwargs)

        def log_message(self, *args):
            pass

        def translate_path(self, path):
            # The corpus is read where it lies, never copied beside the page.
            clean = urllib.parse.unquote(urllib.parse.urlparse(path).path)
            if clean.startswith('/corpus/'):
                return os.path.join(corpus, os.path.basename(clean))
            if clean.startswith('/modcorpus/'):
                return os.path.join(mod_corpus, os.path.basename(clean))
            return super().translate_path(path)

        def do_GET(self):
            if self.path.startswith('/bad/'):
                self.send_response(200)
                self.send_header('Content-Type', 'application/octet-stream')
                self.send_header('Content-Length', str(len(BAD)))
                self.end_headers()
                self.wfile.write(BAD)
                return
            super().do_GET()

    return Handler


class Page:
    def __init__(self, control):
        self.control = control

    def eval(self, expression, timeout=20):
        answer = self.control.send('Runtime.evaluate', {
            'expression': expression, 'awaitPromise': True, 'returnByValue': True}, self.control.session,
            timeout=timeout)
        if 'exceptionDetails' in answer:
            raise RuntimeError('page: %s' % json.dumps(answer['exceptionDetails'])[:600])
        return answer.get('result', {}).get('value')

    def wait(self, expression, timeout):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            if self.eval(expression):
                return True
            time.sleep(0.05)
        return False

    def click(self, selector):
        """A real mouse click (a trusted gesture) in the middle of the element."""
        box = self.eval('(() => { const e = document.querySelector(%s); e.scrollIntoView({ block: "center" });'
                        ' const r = e.getBoundingClientRect();'
                        ' return [r.left + r.width / 2, r.top + r.height / 2]; })()' % json.dumps(selector))
        for kind in ('mousePressed', 'mouseReleased'):
            self.control.send('Input.dispatchMouseEvent', {
                'type': kind, 'x': box[0], 'y': box[1], 'button': 'left', 'clickCount': 1},
                self.control.session)


def press(control, key, code, number):
    """A key pressed and let go, as the keyboard does (trusted, unlike a script's events)."""
    key_event = {'key': key, 'code': code, 'windowsVirtualKeyCode': number}
    control.send('Input.dispatchKeyEvent', dict(key_event, type='keyDown', text=key if len(key) == 1 else ''),
                 control.session)
    control.send('Input.dispatchKeyEvent', dict(key_event, type='keyUp'), control.session)


class Checks:
    def __init__(self):
        self.failed = 0

    def check(self, ok, text):
        print(('ok      ' if ok else 'FAILED  ') + text)
        if not ok:
            self.failed += 1
        return ok


def run(args, work):
    checks = Checks()
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), make_handler(args.site, args.corpus, args.mod_corpus))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = 'http://127.0.0.1:%d/player/index.html?song=/bad/broken.xm&song=/corpus/%s' % (
        server.server_port, SONG)
    control = DevTools()
    flags = ['--remote-debugging-pipe', '--autoplay-policy=document-user-activation-required']
    log = open(os.path.join(work, 'chromium.log'), 'wb')
    browser = subprocess.Popen(chromium_command(args.chromium, os.path.join(work, 'profile'), url, flags),
                               stdout=log, stderr=subprocess.STDOUT, start_new_session=True,
                               pass_fds=(3, 4), preexec_fn=control.child_setup)
    control.started()
    try:
        end = time.monotonic() + 30
        while True:
            try:
                control.attach('/player/')
                break
            except RuntimeError:
                if time.monotonic() > end:
                    raise
                time.sleep(0.2)
        page = Page(control)
        if not page.wait('!!(window.modulePlayer && modulePlayer.ready && modulePlayer.node)', 60):
            print(page.eval('document.getElementById("status").textContent'))
            checks.check(False, 'the page loads the song named in its address')
            return checks.failed
        mp = 'window.modulePlayer'

        # The bad file: its entry keeps the library's message, and the song after it is current.
        expected = page.eval('(async () => { try { %s.library.loadSong(new Uint8Array(await '
                             '(await fetch("/bad/broken.xm")).arrayBuffer())); return null; }'
                             ' catch (e) { return e.message; } })()' % mp)
        shown = page.eval('document.querySelector("#playlist li.bad .why")?.textContent')
        checks.check(expected and shown == expected, 'the bad file shows the library\'s message (%r)' % shown)
        checks.check(page.eval('%s.current === 1 && document.querySelector("#playlist li.current")'
                               '?.textContent.startsWith(%s)' % (mp, json.dumps(SONG))),
                     'the playlist goes on to the next song')

        # Play: a trusted click; the worklet's first frame within 100 ms.
        page.click('#play')
        if not page.wait('%s.latencies.length > 0' % mp, 10):
            checks.check(False, 'the worklet starts after the click')
            return checks.failed
        latency = page.eval('%s.latencies[0]' % mp)
        checks.check(latency <= 100, 'click to the first frame pulled: %.1f ms (at most 100)' % latency)
        page.wait('%s.node.stats && %s.node.stats.frames > 0' % (mp, mp), 5)
        time.sleep(0.5)
        first = page.eval('({...%s.node.stats, rate: %s.context.sampleRate})' % (mp, mp))
        time.sleep(4)
        last = page.eval('({...%s.node.stats})' % mp)
        rate = (last['frames'] - first['frames']) / ((last['now'] - first['now']) / 1000)
        checks.check(abs(rate / first['rate'] - 1) < 0.03,
                     'frames pulled at %.0f a second, the context\'s rate being %d' % (rate, first['rate']))
        short = last['short'] / max(1, last['quanta'])
        checks.check(short < 0.01, 'short of frames in %.2f %% of %d callbacks (under 1 %%)'
                     % (100 * short, last['quanta']))

        # Seek by the seek bar: the row a straight render has at that time, shown in the view.
        page.eval('(() => { const s = document.getElementById("seek"); s.value = "%g";'
                  ' s.dispatchEvent(new Event("input")); s.dispatchEvent(new Event("change")); })()' % SEEK_TO)
        landed = page.wait('%s.seeks.length > 0' % mp, 20)
        got = page.eval('%s.seeks[0]?.position' % mp)
        want = page.eval('(() => { const e = %s.list[%s.current]; const p = e.song.createPlayer('
                         '{ rate: %s.context.sampleRate }); p.render(Math.round(%g * p.rate));'
                         ' const at = p.position; p.destroy(); return at; })()' % (mp, mp, mp, SEEK_TO))
        checks.check(landed and got and (got['order'], got['pattern'], got['row']) ==
                     (want['order'], want['pattern'], want['row']),
                     'the seek to %g s lands on order %s row %s (a straight render: order %s row %s)'
                     % (SEEK_TO, got and got['order'], got and got['row'], want['order'], want['row']))
        shown = page.eval('%s.seeks[0]?.shown' % mp)
        checks.check(got and shown == [got['pattern'], got['row']],
                     'the pattern view shows pattern %s row %s when the seek lands' % tuple(shown or (None, None)))
        time.sleep(0.5)
        view = page.eval('(() => { const r = document.querySelector("#pattern .prow.current");'
                         ' const p = %s.node.position; return [%s.pattern, r ? Number(r.dataset.row) : -1,'
                         ' p.pattern, p.row]; })()' % (mp, mp))
        checks.check(view[:2] == view[2:], 'playing on, the view follows the row: it shows pattern %s'
                     ' row %s, the player reports pattern %s row %s' % tuple(view))

        # playxm's keys: the right arrow to the next order position, space to pause and go on.
        before = page.eval('({ n: %s.seeks.length, order: %s.node.position.order })' % (mp, mp))
        press(control, 'ArrowRight', 'ArrowRight', 39)
        page.wait('%s.seeks.length > %d' % (mp, before['n']), 10)
        moved = page.eval('%s.seeks.at(-1).position' % mp)
        checks.check((moved['order'], moved['row']) == (before['order'] + 1, 0),
                     'the right arrow key moves from order %d to order %d, row %d'
                     % (before['order'], moved['order'], moved['row']))
        press(control, ' ', 'Space', 32)
        paused = page.wait('!%s.node.playing' % mp, 5)
        time.sleep(0.3)  # the processor's report of its pause is on its way
        frames = page.eval('%s.node.stats.frames' % mp)
        time.sleep(0.5)
        still = page.eval('%s.node.stats.frames' % mp) == frames
        press(control, ' ', 'Space', 32)
        again = page.wait('%s.node.playing && %s.node.stats.frames > %d' % (mp, mp, frames), 5)
        checks.check(paused and still and again, 'space pauses (no frames handed out) and goes on')

        # Every channel muted: a silent output, when the library's mixer reads the mutes (a
        # render of the same song muted and not muted tells).
        inert = page.eval('(() => { const s = %s.list[%s.current].song; const a = s.createPlayer();'
                          ' const b = s.createPlayer({ mute: [...Array(s.info.channels).keys()] });'
                          ' const x = a.render(a.rate * 40), y = b.render(b.rate * 40); a.destroy(); b.destroy();'
                          ' return x.some((v) => v !== 0) && x.every((v, i) => v === y[i]); })()' % (mp, mp))
        page.eval('document.querySelectorAll("#channels .ch").forEach((c) => c.click())')
        time.sleep(0.6)
        peaks = [page.eval('%s.outputPeak()' % mp) for _ in range(5) if time.sleep(0.05) is None]
        if inert:
            print('skipped the muted output\'s check: this build\'s mixer does not read the mutes yet'
                  ' (a muted render equals an unmuted one); peak %.4f' % max(peaks))
        else:
            checks.check(max(peaks) == 0, 'every channel muted: output peak %.5f' % max(peaks))
        page.eval('document.querySelectorAll("#channels .ch").forEach((c) => c.click())')
        time.sleep(0.6)
        peak = page.eval('%s.outputPeak()' % mp)
        checks.check(peak > 0.01, 'unmuted again, the output sounds (peak %.3f)' % peak)

        # A MOD file dropped on the page (a drop event carrying the file, as a file manager's
        # drag gives it): it joins the playlist, a click on it plays it, and its facts say MOD.
        count = page.eval('%s.list.length' % mp)
        page.eval('''(async () => {
            const bytes = await (await fetch('/modcorpus/%s')).arrayBuffer();
            const files = new DataTransfer();
            files.items.add(new File([bytes], '%s'));
            for (const kind of ['dragenter', 'dragover', 'drop'])
                document.dispatchEvent(new DragEvent(kind, { dataTransfer: files, bubbles: true, cancelable: true }));
        })()''' % (MOD_SONG, MOD_SONG))
        joined = page.wait('%s.list.length === %d && %s.list[%d].bytes' % (mp, count + 1, mp, count), 10)
        checks.check(joined and page.eval('document.querySelectorAll("#playlist li")[%d]?.textContent'
                                          % count) == MOD_SONG,
                     'the dropped %s joins the playlist' % MOD_SONG)
        page.click('#playlist li:nth-child(%d)' % (count + 1))
        playing = page.wait('%s.current === %d && %s.node?.playing && %s.node?.stats?.frames > 0'
                            % (mp, count, mp, mp), 10)
        time.sleep(1.5)
        fact = page.eval('[...document.querySelectorAll("#facts dt")].find((t) => t.textContent === "format")'
                         '?.nextElementSibling?.textContent')
        heard = page.eval('%s.outputPeak()' % mp)
        moved = page.eval('%s.node.position' % mp)
        checks.check(playing and fact == 'MOD' and heard > 0.01 and (moved['order'] > 0 or moved['row'] > 0),
                     'a click on it plays it: format %s, output peak %.3f, at order %s row %s'
                     % (fact, heard, moved and moved['order'], moved and moved['row']))

        # A phone: every control on the screen.
        control.send('Emulation.setDeviceMetricsOverride', {
            'width': 390, 'height': 844, 'deviceScaleFactor': 3, 'mobile': True}, control.session)
        control.send('Emulation.setTouchEmulationEnabled', {'enabled': True}, control.session)
        time.sleep(0.3)
        layout = page.eval('''(() => {
            const w = innerWidth, out = [];
            const controls = document.querySelectorAll('button, select, input, .open, #pattern-scroll, #playlist');
            for (const c of controls) {
                if (c.type === 'file' || c.closest('#channels')) continue;
                const r = c.getBoundingClientRect();
                const off = r.width <= 0 || r.height <= 0 || r.left < 0 || r.right > w + 0.5;
                if (off) out.push((c.id || c.className || c.tagName) + ' ' + JSON.stringify([r.left, r.right, r.width, r.height]));
            }
            return { width: w, scroll: document.documentElement.scrollWidth, off: out,
                     small: [...document.querySelectorAll('#transport button, #transport .open')]
                         .filter((b) => b.getBoundingClientRect().height < 44).map((b) => b.id) };
        })()''')
        checks.check(not layout['off'] and layout['scroll'] <= layout['width'],
                     'at a 390 px wide phone every control is on the screen (page %d px wide; off: %s)'
                     % (layout['scroll'], layout['off'] or 'none'))
        checks.check(not layout['small'], 'the transport\'s buttons are at least 44 px high for a'
                     ' finger (smaller: %s)' % (layout['small'] or 'none'))
        return checks.failed
    finally:
        if browser.poll() is None:
            os.killpg(browser.pid, signal.SIGTERM)
            try:
                browser.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(browser.pid, signal.SIGKILL)
                browser.wait()
        server.shutdown()
        log.close()


def main():
    sys.stdout.reconfigure(line_buffering=True)
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--site', required=True, help='the web build\'s site folder')
    ap.add_argument('--corpus', required=True, help='folder of corpus songs')
    ap.add_argument('--mod-corpus', required=True, help='folder of MOD corpus songs')
    ap.add_argument('--chromium', default=shutil.which('chromium') or '/usr/bin/chromium')
    ap.add_argument('--keep', help='keep the browser\'s log and profile in this folder')
    args = ap.parse_args()
    if not os.path.exists(os.path.join(args.site, 'player', 'index.html')):
        print('SKIPPED: no player page in %s (cmake --build --preset web)' % args.site)
        return SKIP
    if not os.path.exists(os.path.join(args.corpus, SONG)):
        print('SKIPPED: the corpus song %s is not in %s' % (SONG, args.corpus))
        return SKIP
    if not os.path.exists(os.path.join(args.mod_corpus, MOD_SONG)):
        print('SKIPPED: the corpus song %s is not in %s' % (MOD_SONG, args.mod_corpus))
        return SKIP
    if not os.path.exists(args.chromium):
        print('SKIPPED: no Chromium at %s' % args.chromium)
        return SKIP
    work = args.keep or tempfile.mkdtemp(prefix='player-e2e-')
    os.makedirs(work, exist_ok=True)
    try:
        failed = run(args, work)
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
    print('%s' % ('all checks passed' if failed == 0 else '%d checks failed' % failed))
    return 0 if failed == 0 else 1


if __name__ == '__main__':
    sys.exit(main())
