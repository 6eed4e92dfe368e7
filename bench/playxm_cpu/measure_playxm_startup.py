#!/usr/bin/env python3
"""measure_playxm_startup.py: how long playxm takes from its start to the sound.

Starts playxm (piped, no terminal) through SDL's disk audio driver many times and watches the
driver's output file from this process: the time from the start of the process to the first
block the device takes, and to the first block that is not silent (the song's first sound). The
watch polls every half millisecond, so the figures are good to about a millisecond.

    measure_playxm_startup.py PLAYXM SONG.xm [RUNS]    (default 15 runs; prints the medians)
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time


def one_run(playxm, song, device_file):
    if os.path.exists(device_file):
        os.remove(device_file)
    env = dict(os.environ, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE=device_file)
    start = time.perf_counter()
    process = subprocess.Popen([playxm, song, "--seconds", "2"], env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    first_block = first_sound = None
    try:
        while time.perf_counter() - start < 5 and first_sound is None:
            try:
                with open(device_file, "rb") as device:
                    data = device.read()
            except FileNotFoundError:
                data = b""
            now = (time.perf_counter() - start) * 1000
            if data and first_block is None:
                first_block = now
            if any(data):
                first_sound = now
            time.sleep(0.0005)
    finally:
        process.kill()
        process.wait()
    return first_block, first_sound


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    playxm, song = sys.argv[1], sys.argv[2]
    runs = int(sys.argv[3]) if len(sys.argv) > 3 else 15
    with tempfile.TemporaryDirectory() as folder:
        results = [one_run(playxm, song, os.path.join(folder, "device.raw")) for _ in range(runs)]
    blocks = [b for b, _ in results if b is not None]
    sounds = [s for _, s in results if s is not None]
    if not sounds:
        sys.exit("playxm made no sound within 5 s")
    print(f"{os.path.basename(song)}: first block {statistics.median(blocks):.1f} ms, "
          f"first sound {statistics.median(sounds):.1f} ms "
          f"(medians of {len(sounds)} runs; sound {min(sounds):.1f}-{max(sounds):.1f} ms)")


if __name__ == "__main__":
    main()
