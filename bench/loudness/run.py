#!/usr/bin/env python3
"""run.py: clipping and loudness of xmrender's standard rules against openmpt123, per song.

Renders the first 120 s of every real song of the corpus (xm-corpus/songs) with xmrender at the
library's default settings (standard rules) and with openmpt123 at its own defaults (16-bit
output at 44100 Hz, so that both clip the same way), and prints per song: the frames that clip
(a side at -32768 or 32767) in each, the peak and the RMS level in dBFS, and the level difference.

    run.py XMRENDER [--shared DIR] [--seconds N] [-- extra xmrender options...]

DIR defaults to ../shared beside the repository. Options after `--` go to xmrender (for example
`-- --limiter` shows the limiter's effect).
"""
import argparse
import glob
import math
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from wav16 import read_wav16  # noqa: E402


def figures(samples, frames_wanted):
    samples = samples[:2 * frames_wanted]
    clipped = 0
    peak = 0
    energy = 0.0
    for k in range(0, len(samples) - 1, 2):
        l, r = samples[k], samples[k + 1]
        if l >= 32767 or l <= -32768 or r >= 32767 or r <= -32768:
            clipped += 1
        peak = max(peak, abs(l), abs(r))
        energy += l * l + r * r
    frames = len(samples) // 2
    rms = math.sqrt(energy / max(1, 2 * frames))
    db = lambda v: 20 * math.log10(v / 32768) if v > 0 else -math.inf
    return clipped, frames, db(peak), db(rms)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("xmrender")
    parser.add_argument("--shared", default=os.path.join(here, "..", "..", "..", "shared"))
    parser.add_argument("--seconds", type=float, default=120)
    argv = sys.argv[1:]
    extra = argv[argv.index("--") + 1:] if "--" in argv else []
    args = parser.parse_args(argv[:argv.index("--")] if "--" in argv else argv)
    songs = sorted(glob.glob(os.path.join(args.shared, "xm-corpus", "songs", "*.xm")))
    if not songs:
        sys.exit(f"no songs under {args.shared}/xm-corpus/songs")
    rate = 44100
    wanted = int(args.seconds * rate)
    print(f"{'song':28} {'clip ours':>9} {'clip peer':>9} {'peak ours':>9} {'peak peer':>9} "
          f"{'rms ours':>8} {'rms peer':>8} {'ours-peer':>9}")
    worse = 0
    with tempfile.TemporaryDirectory() as tmp:
        ours_wav, peer_wav = os.path.join(tmp, "ours.wav"), os.path.join(tmp, "peer.wav")
        for song in songs:
            subprocess.run([args.xmrender, "--rules", "standard", "--seconds", str(args.seconds),
                            *extra, song, ours_wav], check=True, stdout=subprocess.DEVNULL)
            subprocess.run(["openmpt123", "--batch", "--quiet", "--force", "--no-float",
                            "--samplerate", str(rate), "--end-time", str(args.seconds), "-o",
                            peer_wav, song], check=True, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            co, _, po, ro = figures(read_wav16(ours_wav), wanted)
            cp, _, pp, rp = figures(read_wav16(peer_wav), wanted)
            worse += co > cp
            print(f"{os.path.basename(song)[:28]:28} {co:9d} {cp:9d} {po:9.2f} {pp:9.2f} "
                  f"{ro:8.2f} {rp:8.2f} {ro - rp:9.2f}")
    print(f"songs clipping more than the peer: {worse} of {len(songs)}")
    return 1 if worse else 0


if __name__ == "__main__":
    sys.exit(main())
