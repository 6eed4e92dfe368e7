#!/usr/bin/env python3
"""second_peer.py: a second mature player's word where ours and the first peer part.

The compatibility test compares our player with libopenmpt. Where the two disagree on how a MOD
file sounds, a second mature player (xmp, Debian's libxmp) settles it: all three render the same
file to 16-bit stereo WAV at 44100 Hz with linear interpolation and the tracks panned hard left
and right (the first peer needs 200 % for that on MOD files: at 100 % it leaves a quarter of each
track on the other side), and
the script prints the loudness envelopes' correlation for each pair (RMS per 50 ms in dB, a
floor 60 dB below full scale, as the compat test measures it).

    second_peer.py XMRENDER [--seconds N] FILE...
    second_peer.py XMRENDER --check KNOWN_FILE CORPUS_DIR

--check reads the known-differences file and takes every line whose comment holds "settled:
xmp" (its own line or the comment lines above it): the second peer must side with us there
(our envelope correlates with xmp's above 0.9, and better than the first peer's does), or the
line's claim is wrong. Exits 77 (skipped) when xmp or openmpt123 is missing or the corpus folder
is absent, 1 when a claim does not hold.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import math
import warnings
import wave

with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    try:
        import audioop  # the RMS of a window in C; gone from Python 3.13
    except ImportError:
        audioop = None

RATE = 44100
WINDOW = RATE // 20
FLOOR = 32768.0 * 32768.0 * 1e-6
MIN_CORRELATION = 0.9


def window_power(data):
    if audioop is not None:
        return float(audioop.rms(data, 2)) ** 2
    values = memoryview(data).cast("h")
    return sum(v * v for v in values) / max(len(values), 1)


def envelope(path):
    """Mean square of both channels per 50 ms window, in dB, floored 60 dB below full scale."""
    with wave.open(path, "rb") as w:
        data = w.readframes(w.getnframes())
    step = 2 * WINDOW * 2  # bytes: two channels of 16 bits
    return [10.0 * math.log10(max(window_power(data[i:i + step]), FLOOR))
            for i in range(0, len(data) - step + 1, step)]


def correlation(a, b):
    n = min(len(a), len(b)) - 1  # the last window may be cut short by one player's end
    if n < 3:
        return 1.0
    ma, mb = sum(a[:n]) / n, sum(b[:n]) / n
    x, y = [v - ma for v in a[:n]], [v - mb for v in b[:n]]
    saa, sbb = sum(v * v for v in x), sum(v * v for v in y)
    if saa / n < 1.0 and sbb / n < 1.0:
        return 1.0  # both flat within a decibel: nothing disagrees
    denominator = math.sqrt(saa * sbb)
    return sum(p * q for p, q in zip(x, y)) / denominator if denominator > 0 else 0.0


def render_all(xmrender, song, seconds, folder):
    outputs = {name: os.path.join(folder, name + ".wav") for name in ("ours", "openmpt", "xmp")}
    commands = {
        "ours": [xmrender, "--interpolation", "linear", "--separation", "100", "--seconds",
                 str(seconds), song, outputs["ours"]],
        "openmpt": ["openmpt123", "--batch", "--quiet", "--force", "--no-float", "--samplerate",
                    str(RATE), "--filter", "2", "--stereo", "200", "--end-time", str(seconds),
                    "-o", outputs["openmpt"], song],
        "xmp": ["xmp", "--quiet", "--nocmd", "-f", str(RATE), "-i", "linear", "-P", "100", "-t",
                str(seconds), "-o", outputs["xmp"], song],
    }
    for name, command in commands.items():
        result = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                text=True)
        if result.returncode != 0 or not os.path.exists(outputs[name]):
            sys.exit(f"second_peer: {name} failed on {song}: {result.stderr.strip()}")
    return {name: envelope(path) for name, path in outputs.items()}


def compare(xmrender, song, seconds):
    with tempfile.TemporaryDirectory() as folder:
        e = render_all(xmrender, song, seconds, folder)
    return {"ours~xmp": correlation(e["ours"], e["xmp"]),
            "openmpt~xmp": correlation(e["openmpt"], e["xmp"]),
            "ours~openmpt": correlation(e["ours"], e["openmpt"])}


def settled_lines(known_path):
    """The SONG names of the lines whose comment (above or beside) says 'settled: xmp'."""
    songs, comment = [], ""
    with open(known_path) as known:
        for line in known:
            text = line.strip()
            if text.startswith("#"):
                comment += text
                continue
            if text:
                entry, _, beside = text.partition("#")
                if "settled: xmp" in comment + beside:
                    songs.append(entry.split()[0])
            comment = ""
    return songs


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("xmrender")
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--check", nargs=2, metavar=("KNOWN_FILE", "CORPUS_DIR"))
    parser.add_argument("songs", nargs="*")
    args = parser.parse_intermixed_args()
    for tool in ("xmp", "openmpt123"):
        if shutil.which(tool) is None:
            print(f"second_peer: {tool} is not installed: skipped")
            return 77
    songs = args.songs
    if args.check:
        known, corpus = args.check
        if not os.path.isdir(corpus):
            print(f"second_peer: no corpus at {corpus}: skipped")
            return 77
        songs = [os.path.join(corpus, name) for name in settled_lines(known)]
    failed = 0
    for song in songs:
        r = compare(args.xmrender, song, args.seconds)
        verdict = ""
        if args.check:
            holds = r["ours~xmp"] > MIN_CORRELATION and r["ours~xmp"] > r["openmpt~xmp"]
            verdict = "  holds" if holds else "  DOES NOT HOLD: xmp does not side with us"
            failed += not holds
        print(f"{os.path.basename(song):32s} " +
              "  ".join(f"{pair} r={value:.3f}" for pair, value in r.items()) + verdict)
    if args.check:
        print(f"{len(songs)} settled lines, {failed} not holding")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
