#!/usr/bin/env python3
"""run.py: aliasing and noise of each interpolation against the ideal tone, ours and the peer's.

Writes the test module with quality_tone_song (a pure tone played every 4 semitones over six
octaves, up and back down, one row each), renders it with xmrender (standard rules) and with
openmpt123 at the same setting, both 16-bit at 44100 Hz:

    none    --interpolation none     openmpt123 --filter 1
    linear  --interpolation linear   openmpt123 --filter 2
    cubic   --interpolation cubic    openmpt123 --filter 4
    sinc    --interpolation sinc     openmpt123 --filter 8

For each note, a window in the middle of its row is fitted with the best sine near the note's
tone; what the fit leaves is aliasing and noise, in dB against the tone. A tone above 22050 Hz
should come out as silence: all of it is aliasing, in dB against the tone's level in the rest of
the render. Printed per interpolation: the worst note among low tones (below 2 kHz), high tones
(2-22 kHz), and tones above Nyquist.

    run.py XMRENDER QUALITY_TONE_SONG
"""
import math
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from wav16 import read_wav16  # noqa: E402

RATE = 44100
ROW_FRAMES = 12 * 882  # 12 ticks of 882 frames (125 BPM)
NOTES = list(range(13, 86, 4))
NOTES = NOTES + NOTES[-2::-1]
SKIP, WINDOW = 2500, 6144
SETTINGS = [("none", "1"), ("linear", "2"), ("cubic", "4"), ("sinc", "8")]


def read_mid(path):
    pcm = read_wav16(path)
    return [(pcm[k] + pcm[k + 1]) * 0.5 for k in range(0, len(pcm) - 1, 2)]


def tone_hz(note):
    # The linear frequency table: C-4 (note 49) plays 8363 Hz; the sample's relative note is
    # +24 and a period of its tone is 8 points.
    return 8363.0 * 2 ** ((note + 24 - 49) / 12) / 8


def fit(y, hz):
    """Power of y left over by the best sine at hz (least squares), and the sine's amplitude."""
    w = 2 * math.pi * hz / RATE
    ss = sc = cc = ys = yc = 0.0
    for k, v in enumerate(y):
        s, c = math.sin(w * k), math.cos(w * k)
        ss += s * s
        sc += s * c
        cc += c * c
        ys += v * s
        yc += v * c
    det = ss * cc - sc * sc
    a = (ys * cc - yc * sc) / det
    b = (yc * ss - ys * sc) / det
    total = sum(v * v for v in y)
    left = max(total - (a * ys + b * yc), 0.0)
    return left / len(y), math.hypot(a, b)


def best_fit(y, hz):
    """fit() at the frequency near hz (within 0.3 %) that leaves the least: a grid finer than
    the window's resolution, then golden section around its best point."""
    span = hz * 0.003
    step = RATE / len(y) / 4
    grid = [hz - span + k * step for k in range(int(2 * span / step) + 2)]
    best = min(grid, key=lambda f: fit(y, f)[0])
    lo, hi = best - step, best + step
    g = (math.sqrt(5) - 1) / 2
    x1, x2 = hi - g * (hi - lo), lo + g * (hi - lo)
    f1, f2 = fit(y, x1), fit(y, x2)
    for _ in range(18):
        if f1[0] < f2[0]:
            hi, x2, f2 = x2, x1, f1
            x1 = hi - g * (hi - lo)
            f1 = fit(y, x1)
        else:
            lo, x1, f1 = x1, x2, f2
            x2 = lo + g * (hi - lo)
            f2 = fit(y, x2)
    return f1 if f1[0] < f2[0] else f2


def measure(path):
    mid = read_mid(path)
    inband, above = [], []
    for row, note in enumerate(NOTES):
        start = row * ROW_FRAMES + SKIP
        y = mid[start:start + WINDOW]
        if len(y) < WINDOW:
            break
        hz = tone_hz(note)
        if hz < RATE / 2 * 0.95:
            left, amplitude = best_fit(y, hz)
            inband.append((hz, left, amplitude))
        elif hz > RATE / 2:
            above.append((hz, sum(v * v for v in y) / len(y)))
    level = sorted(a for _, _, a in inband)[len(inband) // 2] ** 2 / 2
    db = lambda p: 10 * math.log10(p / level) if p > 0 else -200.0
    low = max(db(p) for hz, p, _ in inband if hz < 2000)
    high = max(db(p) for hz, p, _ in inband if hz >= 2000)
    alias = max(db(p) for _, p in above) if above else float("nan")
    return low, high, alias


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    xmrender, maker = sys.argv[1], sys.argv[2]
    print(f"{'interpolation':13} {'player':6} {'low tones':>10} {'high tones':>10} "
          f"{'above Nyquist':>13}   (worst note, dB against the tone)")
    with tempfile.TemporaryDirectory() as tmp:
        song = os.path.join(tmp, "tone.xm")
        subprocess.run([maker, song], check=True)
        for name, taps in SETTINGS:
            ours, peer = os.path.join(tmp, "ours.wav"), os.path.join(tmp, "peer.wav")
            subprocess.run([xmrender, "--rules", "standard", "--interpolation", name, song, ours],
                           check=True, stdout=subprocess.DEVNULL)
            subprocess.run(["openmpt123", "--batch", "--quiet", "--force", "--no-float",
                            "--samplerate", str(RATE), "--filter", taps, "-o", peer, song],
                           check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            for who, path in (("ours", ours), ("peer", peer)):
                low, high, alias = measure(path)
                print(f"{name:13} {who:6} {low:10.1f} {high:10.1f} {alias:13.1f}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
