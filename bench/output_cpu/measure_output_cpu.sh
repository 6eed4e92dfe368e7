#!/bin/bash
# measure_output_cpu.sh: the output thread's processor use while the real demo plays its song at
# 44100 Hz, as a share of one core. Runs the demo from the data folder on a private 640x480 Xvfb
# with SDL's disk audio driver (the callback at real-time pace, the recording thrown away),
# finds the thread by its name, "music-output", and reads its CPU time from /proc at the start
# and the end of the measured span.
#   measure_output_cpu.sh DEMO DATA_DIR [SECONDS]     (default 40 s, at least 30)
set -u
demo=$(realpath "$1") data_dir=$(realpath "$2") seconds=${3:-40}
[ -f "$data_dir/Zarq-Neat.xm" ] || { echo "no $data_dir/Zarq-Neat.xm"; exit 1; }

xvfb_pid= demo_pid=
work=$(mktemp -d)
cleanup() {
    [ -n "$demo_pid" ] && kill -9 "$demo_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
for n in $(seq 200 259); do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 640x480x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
    if kill -0 "$xvfb_pid" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then
        export DISPLAY=":$n"
        break
    fi
    xvfb_pid=
done
[ -n "$xvfb_pid" ] || { echo "no Xvfb display could be started"; exit 1; }

(cd "$data_dir" && SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null exec "$demo" >"$work/out" 2>&1) &
demo_pid=$!

tid=
for _ in $(seq 100); do
    for task in /proc/$demo_pid/task/*; do
        [ "$(cat "$task/comm" 2>/dev/null)" == "music-output" ] && tid=${task##*/}
    done
    [ -n "$tid" ] && break
    sleep 0.1
done
[ -n "$tid" ] || { echo "no music-output thread (demo said: $(cat "$work/out"))"; exit 1; }

# Nanoseconds on a processor (schedstat's first field) and the wall clock in nanoseconds.
cpu_ns() { cut -d' ' -f1 "/proc/$demo_pid/task/$tid/schedstat"; }
sleep 2 # past the start-up
c0=$(cpu_ns) t0=$(date +%s%N)
sleep "$seconds"
c1=$(cpu_ns) t1=$(date +%s%N)
kill -0 "$demo_pid" 2>/dev/null || { echo "the demo ended early"; exit 1; }

awk -v c="$((c1 - c0))" -v t="$((t1 - t0))" 'BEGIN {
    printf "output thread: %.1f ms of CPU in %.1f s = %.3f%% of one core\n", c / 1e6, t / 1e9, 100 * c / t
}'
