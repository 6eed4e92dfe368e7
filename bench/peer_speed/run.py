#!/usr/bin/env python3
"""run.py: whole-process speed of xmrender against openmpt123, per song and interpolation.

For every real song of the corpus (xm-corpus/songs) and the demo's song, both programs write the
same WAV file: 16-bit stereo PCM at 44100 Hz, as long as openmpt123 plays the song (at most
--seconds). xmrender plays the standard rules. Each pairing is run --runs times (ours, then the
peer's, in turn, so that a busy moment weighs on both); the figure is the median of the runs'
processor time (user + system of the whole process: on a shared machine it is steadier than the
wall clock, which is printed too). Pairings:

    linear  xmrender --interpolation linear  against  openmpt123 --filter 2
    sinc    xmrender --interpolation sinc    against  openmpt123 --filter 8 (its default)

    run.py XMRENDER [--shared DIR] [--data DIR] [--runs N] [--seconds N] [--target X Y]

Exits non-zero when a song misses the targets (default: 3 times as fast with linear, 2 with sinc).
"""
import argparse
import glob
import os
import statistics
import subprocess
import sys
import tempfile
import time

PAIRINGS = [("linear", ["--interpolation", "linear"], ["--filter", "2"]),
            ("sinc", ["--interpolation", "sinc"], ["--filter", "8"])]


def timed(command):
    start = time.perf_counter()
    process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    wall = time.perf_counter() - start
    if status != 0:
        sys.exit(f"failed ({status}): {' '.join(command)}")
    return usage.ru_utime + usage.ru_stime, wall


def wav_seconds(path):
    return (os.path.getsize(path) - 44) / (4 * 44100)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    root = os.path.join(here, "..", "..")
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("xmrender")
    parser.add_argument("--shared", default=os.path.join(root, "..", "shared"))
    parser.add_argument("--data", default=os.path.join(root, "data"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--seconds", type=float, default=600)
    parser.add_argument("--target", type=float, nargs=2, default=[3.0, 2.0],
                        metavar=("LINEAR", "SINC"))
    args = parser.parse_args()
    songs = sorted(glob.glob(os.path.join(args.shared, "xm-corpus", "songs", "*.xm")))
    songs.append(os.path.join(args.data, "Zarq-Neat.xm"))
    targets = dict(zip(("linear", "sinc"), args.target))
    missed = 0
    print(f"{'song':26} {'mode':6} {'audio s':>7} {'ours cpu':>8} {'peer cpu':>8} {'x cpu':>6} "
          f"{'ours wall':>9} {'peer wall':>9} {'x wall':>6}")
    with tempfile.TemporaryDirectory() as tmp:
        ours_wav, peer_wav = os.path.join(tmp, "ours.wav"), os.path.join(tmp, "peer.wav")
        for song in songs:
            if not os.path.exists(song):
                print(f"skipped: {song} is absent")
                continue
            for mode, ours_options, peer_options in PAIRINGS:
                peer = ["openmpt123", "--batch", "--quiet", "--force", "--no-float",
                        "--samplerate", "44100", "--end-time", str(args.seconds), *peer_options,
                        "-o", peer_wav, song]
                subprocess.run(peer, check=True, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
                seconds = wav_seconds(peer_wav)
                ours = [args.xmrender, "--rules", "standard", "--seconds", f"{seconds:.3f}",
                        *ours_options, song, ours_wav]
                times = {"ours": [], "peer": []}
                for _ in range(args.runs):
                    times["ours"].append(timed(ours))
                    times["peer"].append(timed(peer))
                oc = statistics.median(t[0] for t in times["ours"])
                pc = statistics.median(t[0] for t in times["peer"])
                ow = statistics.median(t[1] for t in times["ours"])
                pw = statistics.median(t[1] for t in times["peer"])
                ratio = pc / oc if oc > 0 else float("inf")
                missed += ratio < targets[mode]
                print(f"{os.path.basename(song)[:26]:26} {mode:6} {seconds:7.1f} {oc:8.3f} "
                      f"{pc:8.3f} {ratio:6.2f} {ow:9.3f} {pw:9.3f} {pw / ow:6.2f}", flush=True)
    print(f"pairings below target: {missed}")
    return 1 if missed else 0


if __name__ == "__main__":
    sys.exit(main())
