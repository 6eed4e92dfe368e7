#!/usr/bin/env python3
"""Figures of the npm package and the player page: sizes (raw, gzipped), render speed (times real
time) natively (xmrender --bench), in Node and in headless Chromium, the latency from a click on
play to the first frame the worklet hands out, and the worklet's share of the audio thread.

bench/web/web_bench.py [--site build/web/site] [--xmrender build/release/tools/xmrender/xmrender]
Prints a Markdown table per figure (docs/web_package.md keeps the latest).
"""
import argparse
import gzip
import http.server
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, '..', '..'))
sys.path.insert(0, os.path.join(ROOT, 'tests', 'e2e', 'web'))
sys.path.insert(0, os.path.join(ROOT, 'tests', 'e2e', 'web_player'))
from web_e2e import DevTools, chromium_command  # noqa: E402
from player_e2e import Page, make_handler  # noqa: E402

FILES = ['neatxm.wasm', 'index.js', 'core.js', 'worklet.js']


def sizes(package):
    print('| file | bytes | gzipped (-9) |\n| --- | ---: | ---: |')
    total = [0, 0]
    for name in FILES:
        data = open(os.path.join(package, name), 'rb').read()
        packed = len(gzip.compress(data, 9))
        total[0] += len(data)
        total[1] += packed
        print('| %s | %d | %d |' % (name, len(data), packed))
    print('| **all** | **%d** | **%d** |\n' % tuple(total))


def native(xmrender, rules, songs):
    out = subprocess.run([xmrender, '--bench', '--rules', rules] + songs, stdout=subprocess.PIPE,
                         text=True, check=True).stdout
    figures = {}
    for line in out.splitlines()[1:]:
        parts = line.split()
        if len(parts) >= 6:
            figures[parts[0]] = float(parts[-1])  # times real time, processor time
    return figures


def node(package, rules, songs):
    out = subprocess.run(['node', os.path.join(HERE, 'node_render.mjs'), package, rules] + songs,
                         stdout=subprocess.PIPE, text=True, check=True).stdout
    return {r['song']: r['times'] for r in map(json.loads, out.splitlines())}


def threads_cpu(session):
    """Processor seconds of each thread of the browser's processes, by process id and name."""
    tick = os.sysconf('SC_CLK_TCK')
    found = {}
    for pid in filter(str.isdigit, os.listdir('/proc')):
        try:
            text = open('/proc/%s/stat' % pid).read()
            if int(text[text.rindex(')') + 2:].split()[3]) != session:
                continue
            for tid in os.listdir('/proc/%s/task' % pid):
                stat = open('/proc/%s/task/%s/stat' % (pid, tid)).read()
                name = stat[stat.index('(') + 1:stat.rindex(')')]
                fields = stat[stat.rindex(')') + 2:].split()
                found[(pid, tid, name)] = (int(fields[11]) + int(fields[12])) / tick
        except (OSError, ValueError):
            continue
    return found


def browser(args, songs):
    server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), make_handler(args.site, args.corpus))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    url = 'http://127.0.0.1:%d/player/index.html?song=/corpus/%s' % (
        server.server_port, os.path.basename(songs[0]))
    work = tempfile.mkdtemp(prefix='web-bench-')
    control = DevTools()
    log = open(os.path.join(work, 'chromium.log'), 'wb')
    browser = subprocess.Popen(chromium_command(args.chromium, os.path.join(work, 'profile'), url,
                                                ['--remote-debugging-pipe']),
                               stdout=log, stderr=subprocess.STDOUT, start_new_session=True,
                               pass_fds=(3, 4), preexec_fn=control.child_setup)
    control.started()
    try:
        for _ in range(150):
            try:
                control.attach('/player/')
                break
            except RuntimeError:
                time.sleep(0.2)
        page = Page(control)
        page.wait('!!(window.modulePlayer && modulePlayer.ready && modulePlayer.node)', 60)
        speed = {}
        for (path, rules) in [(s, 'standard') for s in songs] + [('/data/Zarq-Neat.xm', 'demo')]:
            name = os.path.basename(path)
            where = '/corpus/' + name if rules == 'standard' else '/Zarq-Neat.xm'
            speed[(name, rules)] = page.eval('''(async () => {
                const lib = modulePlayer.library;
                const song = lib.loadSong(new Uint8Array(await (await fetch(%s)).arrayBuffer()));
                const seconds = song.info.lengthSeconds || 300, frames = Math.round(seconds * 44100);
                let best = Infinity;
                for (let run = 0; run < 3; ++run) {
                    const p = song.createPlayer({ rules: %s });
                    const t = performance.now();
                    for (let done = 0; done < frames; done += 8192) p.renderS16(Math.min(8192, frames - done));
                    best = Math.min(best, (performance.now() - t) / 1000);
                    p.destroy();
                }
                song.free();
                return seconds / best;
            })()''' % (json.dumps(where), json.dumps(rules)), timeout=120)
        latencies = []
        for _ in range(args.starts):
            before = page.eval('modulePlayer.latencies.length')
            page.click('#play')
            page.wait('modulePlayer.latencies.length > %d' % before, 10)
            time.sleep(0.3)
            control.send('Input.dispatchKeyEvent', {'type': 'keyDown', 'key': 'q', 'code': 'KeyQ', 'text': 'q'},
                         control.session)
            control.send('Input.dispatchKeyEvent', {'type': 'keyUp', 'key': 'q', 'code': 'KeyQ'}, control.session)
            page.wait('modulePlayer.node && !modulePlayer.node.playing', 5)
            time.sleep(0.3)
        latencies = page.eval('modulePlayer.latencies')
        page.click('#play')
        time.sleep(1)
        before = threads_cpu(browser.pid)
        started = time.monotonic()
        time.sleep(args.play)
        after = threads_cpu(browser.pid)
        wall = time.monotonic() - started
        audio = {k: after[k] - before.get(k, 0) for k in after if 'udio' in k[2] or 'orklet' in k[2]}
        stats_threads = sorted(((v / wall, k[2]) for k, v in audio.items() if v > 0), reverse=True)
        stats = page.eval('({...modulePlayer.node.stats, rate: modulePlayer.context.sampleRate,'
                          ' base: modulePlayer.context.baseLatency, output: modulePlayer.context.outputLatency})')
        stats['threads'] = stats_threads
        return speed, latencies, stats
    finally:
        if browser.poll() is None:
            os.killpg(browser.pid, signal.SIGTERM)
            browser.wait(10)
        server.shutdown()
        shutil.rmtree(work, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    ap.add_argument('--site', default=os.path.join(ROOT, 'build', 'web', 'site'))
    ap.add_argument('--xmrender', default=os.path.join(ROOT, 'build', 'release', 'tools', 'xmrender', 'xmrender'))
    ap.add_argument('--corpus', default=os.path.join(ROOT, '..', 'shared', 'xm-corpus', 'songs'))
    ap.add_argument('--data', default=os.path.join(ROOT, 'data'))
    ap.add_argument('--chromium', default=shutil.which('chromium') or '/usr/bin/chromium')
    ap.add_argument('--starts', type=int, default=5, help='play clicks timed')
    ap.add_argument('--play', type=float, default=20, help='seconds played for the worklet\'s share')
    args = ap.parse_args()
    package = os.path.join(args.site, 'neatxm')
    songs = sorted(os.path.join(args.corpus, f) for f in os.listdir(args.corpus) if f.endswith('.xm'))
    zarq = os.path.join(args.data, 'Zarq-Neat.xm')
    load = os.getloadavg()[0]
    print('Load average at the start: %.1f on %d processors\n' % (load, os.cpu_count()))
    sizes(package)

    nat = native(args.xmrender, 'standard', songs)
    nat.update({k + ' (demo)': v for k, v in native(args.xmrender, 'demo', [zarq]).items()})
    nod = node(package, 'standard', songs)
    nod.update({k + ' (demo)': v for k, v in node(package, 'demo', [zarq]).items()})
    speed, latencies, stats = browser(args, songs)
    chrome = {(n + ' (demo)' if r == 'demo' else n): v for (n, r), v in speed.items()}
    print('| song (rules) | native (processor) | Node (processor) | Chromium (main thread, wall) |')
    print('| --- | ---: | ---: | ---: |')
    for name in sorted(nat):
        label = name if name.endswith('(demo)') else name + ' (standard)'
        print('| %s | %.0f | %.0f | %.0f |' % (label, nat[name], nod.get(name, 0), chrome.get(name, 0)))
    print()
    if latencies:
        s = sorted(latencies)
        print('Click on play to the first frame handed out (%d starts): median %.1f ms, worst %.1f ms;'
              ' the context adds %.1f ms base and %.1f ms output latency.'
              % (len(s), s[len(s) // 2], s[-1], 1000 * (stats.get('base') or 0), 1000 * (stats.get('output') or 0)))
    played = stats['quanta'] * 128 / stats['rate']
    print('The worklet over %.1f s played: %d callbacks of %.2f ms, %d short of frames.'
          % (played, stats['quanta'], 128000 / stats['rate'], stats['short']))
    print('Audio threads of the browser while it played (processor time / wall time, from /proc): %s.'
          % (', '.join('%s %.2f %%' % (name, 100 * share) for share, name in stats['threads']) or 'none found'))

if __name__ == '__main__':
    main()
