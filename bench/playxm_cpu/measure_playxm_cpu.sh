#!/bin/bash
# measure_playxm_cpu.sh: playxm's processor use while it plays a song, as a share of one core,
# for the whole process and per thread. Plays through SDL's disk audio driver (the device at
# real-time pace, the sound thrown away), either on a terminal (a detached tmux session of 80x24,
# the screen redrawn 20 times a second) or piped, and reads the CPU time of every thread from
# /proc at the start and the end of the measured span.
#   measure_playxm_cpu.sh PLAYXM SONG.xm [SECONDS] [terminal|piped]   (default 40 s, terminal)
set -u
playxm=$(realpath "$1") song=$(realpath "$2") seconds=${3:-40} mode=${4:-terminal}
session="playxm-cpu-$$"
pid=
cleanup() {
    [ "$mode" == terminal ] && tmux kill-session -t "$session" 2>/dev/null
    [ -n "$pid" ] && kill "$pid" 2>/dev/null
}
trap cleanup EXIT
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null
if [ "$mode" == terminal ]; then
    command -v tmux >/dev/null || { echo "tmux is needed for the terminal mode"; exit 1; }
    tmux new-session -d -s "$session" -x 80 -y 24 \
        "SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null exec '$playxm' --loop '$song'"
    for _ in $(seq 50); do
        pid=$(pgrep -n -f "^$playxm --loop") && break
        sleep 0.1
    done
else
    "$playxm" --loop "$song" >/dev/null 2>&1 &
    pid=$!
fi
[ -n "$pid" ] || { echo "playxm did not start"; exit 1; }

# Per thread: name and nanoseconds on a processor (schedstat's first field).
snapshot() {
    for task in /proc/$pid/task/*; do
        printf '%s %s %s\n' "${task##*/}" "$(cut -d' ' -f1 "$task/schedstat")" "$(tr " " _ < "$task/comm")"
    done 2>/dev/null
}
sleep 2 # past the start-up
before=$(snapshot) t0=$(date +%s%N)
sleep "$seconds"
after=$(snapshot) t1=$(date +%s%N)
kill -0 "$pid" 2>/dev/null || { echo "playxm ended early"; exit 1; }

echo "playxm ($mode), $(basename "$song"), $(awk -v t=$((t1 - t0)) 'BEGIN{printf "%.1f", t/1e9}') s:"
join <(sort <<<"$before") <(sort <<<"$after") | awk -v t="$((t1 - t0))" '
    { cpu = $4 - $2; total += cpu; printf "  thread %-16s %7.1f ms  %.3f%%\n", $3, cpu / 1e6, 100 * cpu / t }
    END { printf "  whole process      %7.1f ms  %.3f%% of one core\n", total / 1e6, 100 * total / t }'
