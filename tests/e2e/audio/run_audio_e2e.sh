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
    Xvfb ":$n" -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
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

# Runs the demo in $work/run for $1 seconds, counted from the moment file $2 appears when one is
# given (the disk driver's recording: start-up time on a busy machine does not count); it must
# still be running then (the show goes on). Its standard output lands in $work/stdout.txt.
run_demo() {
    local seconds=$1 marker=${2:-}
    (cd "$work/run" && exec "$demo" >"$work/stdout.txt" 2>"$work/stderr.txt") &
    demo_pid=$!
    if [ -n "$marker" ]; then
        for _ in $(seq 600); do [ -e "$marker" ] && break; sleep 0.1; done
        [ -e "$marker" ] || { cat "$work/stderr.txt"; fail "the device was not opened within 60 s"; }
    fi
    sleep "$seconds"
    kill -0 "$demo_pid" 2>/dev/null || { cat "$work/stderr.txt"; fail "the demo ended within $seconds s"; }
    # Asked to end, the program closes its window and returns with the music still playing;
    # the output thread must not spoil that exit.
    kill -TERM "$demo_pid" 2>/dev/null
    for _ in $(seq 100); do kill -0 "$demo_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$demo_pid" 2>/dev/null
    wait "$demo_pid" 2>/dev/null
    local status=$?
    demo_pid=
    [ "$status" -eq 0 ] || { cat "$work/stderr.txt"; fail "the demo's exit status was $status"; }
}

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
    run_demo 8 "$work/device.raw"
    expect_stdout ""
    "$xmrender" --seconds 14 "$song" "$work/render.wav" >/dev/null || fail "xmrender failed"
    # At least 6 of the 8 seconds must have been played (the pre-fill and a few device buffers
    # come first).
    "$audio_match" "$work/device.raw" "$work/render.wav" 264600 || fail "the device's sound differs"
    ;;
no-song)
    export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/device.raw"
    run_demo 4
    expect_stdout $'Error loading song\n'
    ;;
no-device)
    cp "$song" "$work/run/Zarq-Neat.xm"
    export SDL_AUDIODRIVER=no-such-driver
    run_demo 4
    expect_stdout $'Error upon initialization.\n'
    # The system's default choice: on a machine without a sound card or sound server the open
    # fails the same way; where one exists, the music plays and nothing is printed.
    unset SDL_AUDIODRIVER
    run_demo 4
    if [ -s "$work/stdout.txt" ] || [ ! -e /dev/snd ]; then
        expect_stdout $'Error upon initialization.\n'
    fi
    ;;
*) fail "unknown mode $mode" ;;
esac
echo "PASS: $mode"
