#!/bin/bash
# run_audio_e2e.sh: runs the real demo on a private 640x480 Xvfb display with SDL's disk or no
# audio driver, in a scratch folder, and checks what it played and printed.
#   run_audio_e2e.sh MODE DEMO XMRENDER AUDIO_MATCH DATA_DIR SHARED_DIR WORK_DIR
# MODE: match       the bytes the device played equal xmrender's rendering, frame for frame
#       no-song     without the song: "Error loading song", and the show runs on
#       no-device   without a usable audio device: "Error upon initialization.", show runs on
# Exit 0 pass, 1 fail, 77 skipped (with the reason on stdout).
set -u
mode=$1 demo=$2 xmrender=$3 audio_match=$4 data_dir=$5 shared_dir=$6 work=$7

fail() { echo "FAIL: $*"; exit 1; }

rm -rf "$work" && mkdir -p "$work/run" || fail "cannot make $work"

# A display of the demo's own size, so that the full-screen mode is granted without a question.
xvfb_pid=
cleanup() {
    [ -n "${demo_pid:-}" ] && kill -9 "$demo_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT
for n in $(seq 140 199); do
    [ -e "/tmp/.X$n-lock" ] && continue
    # -noreset: the server stays up between the demo's runs (a reset as the last client leaves
    # would refuse the next run's connection while it lasts).
    Xvfb ":$n" -screen 0 640x480x24 -nolisten tcp -noreset >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && break
        sleep 0.1
    done
    if kill -0 "$xvfb_pid" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then
        export DISPLAY=":$n"
        break
    fi
    xvfb_pid=
done
[ -n "$xvfb_pid" ] || fail "no Xvfb display could be started"

# The song: the demo's own, or else a corpus song under the demo's file name.
song="$data_dir/Zarq-Neat.xm"
if [ ! -f "$song" ]; then
    song=$(ls "$shared_dir"/xm-corpus/songs/*.xm 2>/dev/null | head -1)
    [ -n "$song" ] || { echo "SKIP: neither data/Zarq-Neat.xm nor a corpus song is present"; exit 77; }
fi
[ -d "$data_dir/Data" ] && ln -s "$data_dir/Data" "$work/run/Data"

# Processor time (in clock ticks) the process $1 has used so far; empty once it is gone.
cpu_ticks() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
    stat=${stat##*) }
    set -- $stat
    echo $((${12} + ${13}))
}

# Runs the demo in $work/run until `$1` (a shell condition) holds, then for $2 more clock ticks
# of its own processor time: the show went on running its frames, however busy the machine is.
# It must still be running then. The waits are bounded (120 s) only to catch a hang. Its
# standard output lands in $work/stdout.txt.
run_demo() {
    local until=$1 more_ticks=$2
    (cd "$work/run" && exec "$demo" >"$work/stdout.txt" 2>"$work/stderr.txt") &
    demo_pid=$!
    local waited=0
    until eval "$until"; do
        kill -0 "$demo_pid" 2>/dev/null || { cat "$work/stderr.txt"; fail "the demo ended before: $until"; }
        waited=$((waited + 1))
        [ "$waited" -lt 1200 ] || { cat "$work/stderr.txt"; fail "not within 120 s: $until"; }
        sleep 0.1
    done
    local start now
    start=$(cpu_ticks "$demo_pid")
    while now=$(cpu_ticks "$demo_pid") && [ -n "$now" ] && [ $((now - start)) -lt "$more_ticks" ]; do
        waited=$((waited + 1))
        [ "$waited" -lt 2400 ] || { cat "$work/stderr.txt"; fail "the demo made no progress"; }
        sleep 0.1
    done
    kill -0 "$demo_pid" 2>/dev/null || { cat "$work/stderr.txt"; fail "the demo ended after: $until"; }
    # Asked to end, the program closes its window and returns with the music still playing;
    # the output thread must not spoil that exit.
    kill -TERM "$demo_pid" 2>/dev/null
    for _ in $(seq 300); do kill -0 "$demo_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$demo_pid" 2>/dev/null
    wait "$demo_pid" 2>/dev/null
    local status=$?
    demo_pid=
    [ "$status" -eq 0 ] || { cat "$work/stderr.txt"; fail "the demo's exit status was $status"; }
}

# Bytes in file $1 (0 while it does not exist).
file_bytes() { stat -c %s "$1" 2>/dev/null || echo 0; }

expect_stdout() {
    local expected=$1
    local actual
    actual=$(cat "$work/stdout.txt"; echo x)
    actual=${actual%x}
    [ "$actual" == "$expected" ] || fail "standard output was [$actual], expected [$expected]"
}

case "$mode" in
match)
    cp "$song" "$work/run/Zarq-Neat.xm"
    export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/device.raw"
    # Eight seconds of sound recorded by the device (the pre-fill and a few device buffers come
    # first), however long the start-up took.
    run_demo '[ "$(file_bytes "$work/device.raw")" -ge 1411200 ]' 10
    expect_stdout ""
    # The render must cover all that the device recorded until it stopped.
    seconds=$(($(file_bytes "$work/device.raw") / 176400 + 4))
    "$xmrender" --seconds "$seconds" "$song" "$work/render.wav" >/dev/null || fail "xmrender failed"
    # At least 6 of the 8 seconds must match.
    "$audio_match" "$work/device.raw" "$work/render.wav" 264600 || fail "the device's sound differs"
    ;;
no-song)
    export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/device.raw"
    # The line comes at start-up; the show must go on for a second of its own processor time.
    run_demo '[ -s "$work/stdout.txt" ]' 100
    expect_stdout $'Error loading song\n'
    ;;
no-device)
    cp "$song" "$work/run/Zarq-Neat.xm"
    export SDL_AUDIODRIVER=no-such-driver
    run_demo '[ -s "$work/stdout.txt" ]' 100
    expect_stdout $'Error upon initialization.\n'
    # The system's default choice: on a machine without a sound card or sound server the open
    # fails the same way; where one exists, the music plays and nothing is printed.
    unset SDL_AUDIODRIVER
    if [ -e /dev/snd ]; then
        run_demo 'true' 200
        [ -s "$work/stdout.txt" ] && expect_stdout $'Error upon initialization.\n'
    else
        run_demo '[ -s "$work/stdout.txt" ]' 100
        expect_stdout $'Error upon initialization.\n'
    fi
    ;;
*) fail "unknown mode $mode" ;;
esac
echo "PASS: $mode"
