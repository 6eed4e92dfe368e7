#!/usr/bin/env bash
# Smoke test of the Windows build under Wine.
#   run_wine_smoke.sh build <source dir> <work dir>   cross-builds demo.exe, the tools and the
#                                                     platform check with mingw-w64
#   run_wine_smoke.sh run <source dir> <work dir> <data dir> [host xmrender]
#                                                     runs them in a fresh Wine prefix on a
#                                                     private Xvfb display
# The run checks: the platform check passes; the demo opens full screen in a 640x480 virtual
# desktop with a sound device and shows its white caption, also after F1 re-made the window; on
# a 1024x768 screen the refused display mode brings the Yes/No box, Yes gives a framed window with
# the caption; without a sound device the music start-up prints its line; Escape ends the demo
# with exit code 0; xmrender.exe renders the song to the same bytes as the host's xmrender.
# With WINE_SMOKE_KEEP=<folder> the captured frames are kept there.
set -u

mode=${1:?build or run}
source_dir=$(cd "${2:?source dir}" && pwd)
work_dir=${3:?work dir}
mkdir -p "$work_dir"
work_dir=$(cd "$work_dir" && pwd)

if [ "$mode" = build ]; then
    set -e
    toolchain="$source_dir/cmake/toolchain-mingw64.cmake"
    cmake -S "$source_dir" -B "$work_dir/demo" --toolchain "$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DDEMO_BUILD_TESTS=OFF -DDEMO_BUILD_BENCH=OFF \
        -DDEMO_BUILD_FUZZ=OFF -DDEMO_BUILD_TOOLS=ON >/dev/null
    cmake --build "$work_dir/demo" -j2
    cmake -S "$source_dir/tests/e2e/wine/check" -B "$work_dir/check" --toolchain "$toolchain" \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$work_dir/check" -j2
    exit 0
fi

data_dir=$(cd "${4:?data dir}" && pwd)
host_xmrender=${5:-}
demo_exe="$work_dir/demo/src/shell/demo.exe"
check_exe="$work_dir/check/win32_platform_check.exe"
for f in "$demo_exe" "$check_exe"; do
    [ -f "$f" ] || { echo "missing $f (run the build step first)"; exit 1; }
done

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok: $*"; }
fail() { failed=$((failed + 1)); echo "FAILED: $*"; }
started=$(date +%s)
elapsed() { echo $(($(date +%s) - started)); }
now_ms() { echo $(($(date +%s%N) / 1000000)); }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/wine-smoke.XXXXXX")
xvfb_pid=""
demo_pid=""
cleanup() {
    [ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null
    WINEPREFIX="$tmp/prefix" wineserver -k 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT

# A display of our own: the first free number from 90 on.
display=""
for n in $(seq 90 160); do
    if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
        xvfb_pid=$!
        for _ in $(seq 50); do
            xdpyinfo -display ":$n" >/dev/null 2>&1 && break
            sleep 0.1
        done
        if xdpyinfo -display ":$n" >/dev/null 2>&1; then
            display=":$n"
            break
        fi
        kill "$xvfb_pid" 2>/dev/null
        xvfb_pid=""
    fi
done
[ -n "$display" ] || { echo "no free X display"; exit 1; }

export DISPLAY=$display
# Keys are held until the program has acted on them (hold_key_until): no repeats meanwhile.
xset r off
export HOME="$tmp/home" TMPDIR="$tmp/tmp" WINEPREFIX="$tmp/prefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$HOME" "$TMPDIR"

wineboot -i >/dev/null 2>&1
wineserver -w
echo "wine prefix ready after $(elapsed) s"

# Wine reaches sound through ALSA; with no sound card, ALSA's null device stands in for one.
sound_device_on() { printf 'pcm.!default {\n  type null\n}\n' >"$HOME/.asoundrc"; }
sound_device_off() { rm -f "$HOME/.asoundrc"; }
virtual_desktop() { # 640x480 or off
    if [ "$1" = off ]; then
        wine reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f >/dev/null 2>&1
    else
        wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
        wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$1" /f >/dev/null 2>&1
    fi
    wineserver -w
}
without_alsa_noise() { grep -v '^ALSA lib' "$1" || true; }

# --- The platform check ---------------------------------------------------------------------
sound_device_on
timeout 120 wine "$check_exe" >"$tmp/check.out" 2>"$tmp/check.err"
check_rc=$?
cat "$tmp/check.out"
if [ $check_rc -eq 0 ]; then pass "platform check"; else
    fail "platform check (exit $check_rc)"
    without_alsa_noise "$tmp/check.err"
fi

# --- The demo -------------------------------------------------------------------------------
# Waits up to $2 seconds for a top-level X window titled exactly $1; prints its id.
wait_window() {
    local id=""
    for _ in $(seq $(($2 * 5))); do
        id=$(xdotool search --name "^$1\$" 2>/dev/null | tail -1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        kill -0 "$demo_pid" 2>/dev/null || return 1
        sleep 0.2
    done
    return 1
}

# Gives window $1 the focus and waits (up to 5 s) until the server reports it has it.
focus_window() {
    xdotool windowfocus "$1" 2>/dev/null
    for _ in $(seq 50); do
        [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ] && return 0
        sleep 0.1
    done
    return 1
}

# Presses a key in the window titled $1 until the window is gone or the demo has ended; a key
# that went unseen (the window was not ready for it) is pressed again after a second.
press_until_gone() {
    local id
    for _ in $(seq 10); do
        id=$(xdotool search --name "^$1\$" 2>/dev/null | tail -1)
        [ -z "$id" ] && return 0
        kill -0 "$demo_pid" 2>/dev/null || return 0
        focus_window "$id"
        xdotool key "$2"
        for _ in $(seq 10); do
            [ -z "$(xdotool search --name "^$1\$" 2>/dev/null)" ] && return 0
            sleep 0.1
        done
    done
    return 1
}

# Counts the near-white pixels in a capture of window $1 and checks that they look like one line
# of caption: some hundreds of pixels in a box a few hundred wide and one line high. A frame that
# Wine draws inside the window (in a virtual desktop) is cut off first: 30 rows at the top, 6
# columns or rows on the other sides. Tries a few frames, as the first may not be drawn yet.
caption_in_frame() {
    local shot="$tmp/$2.png"
    import -window "$1" "$shot" 2>/dev/null || return 1
    [ -n "${WINE_SMOKE_KEEP:-}" ] && mkdir -p "$WINE_SMOKE_KEEP" && cp "$shot" "$WINE_SMOKE_KEEP/"
    local bright box
    convert "$shot" -gravity NorthWest -crop +6+30 +repage -gravity SouthEast -crop +6+6 +repage \
        -colorspace Gray -threshold 94% "$tmp/$2-bright.png"
    bright=$(convert "$tmp/$2-bright.png" -format '%[fx:int(mean*w*h+0.5)]' info:)
    box=$(convert "$tmp/$2-bright.png" -trim -format '%w %h' info: 2>/dev/null)
    local width=${box%% *} height=${box##* }
    echo "$2: $bright near-white pixels, bounding box $box"
    [ "$bright" -ge 300 ] && [ "$bright" -le 20000 ] && [ "${width:-0}" -ge 150 ] &&
        [ "${width:-0}" -le 560 ] && [ "${height:-0}" -ge 12 ] && [ "${height:-0}" -le 80 ]
}

# Holds key $2 down in window $1 until the shell condition $3 holds (for up to ${4:-60} s, a
# bound against a hang), then lets it go; the condition's result. The demo reads its key table
# once a frame, so on a busy machine a press and its release could both come between two frames
# and the key would go unseen.
hold_key_until() {
    local end=$(($(now_ms) + ${4:-60} * 1000))
    focus_window "$1"
    xdotool keydown "$2"
    until eval "$3"; do
        [ "$(now_ms)" -lt "$end" ] || break
        sleep 0.1
    done
    xdotool keyup "$2"
    eval "$3"
}
demo_ended() { ! kill -0 "$demo_pid" 2>/dev/null; }

# Looks for the caption in frames of window $1 until one shows it, for up to ${3:-10} s (the
# first frames may not be drawn yet).
check_caption() {
    local end=$(($(now_ms) + ${3:-10} * 1000))
    while :; do
        if caption_in_frame "$1" "$2"; then
            pass "$2: a white caption is on screen"
            return 0
        fi
        [ "$(now_ms)" -lt "$end" ] || break
        sleep 0.3
    done
    fail "$2: no white caption in the frame"
    return 1
}

# Starts the demo in the data folder; its standard output goes to $tmp/$1.out.
start_demo() {
    (cd "$data_dir" && exec wine "$demo_exe" >"$tmp/$1.out" 2>"$tmp/$1.err") &
    demo_pid=$!
}

# Waits for the demo to end; checks exit code 0.
finish_demo() {
    local rc
    for _ in $(seq 100); do
        kill -0 "$demo_pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$demo_pid" 2>/dev/null; then
        fail "$1: the demo did not end on Escape"
        kill "$demo_pid" 2>/dev/null
        wineserver -k 2>/dev/null
    fi
    wait "$demo_pid"
    rc=$?
    demo_pid=""
    if [ $rc -eq 0 ]; then pass "$1: Escape ends the demo with exit code 0"; else
        fail "$1: exit code $rc"
    fi
    echo "$1: standard output:"
    sed 's/^/    /' "$tmp/$1.out"
    without_alsa_noise "$tmp/$1.err" | sed 's/^/    stderr: /'
    wineserver -w
}

song_present=no
[ -f "$data_dir/Zarq-Neat.xm" ] && song_present=yes

# Full screen: the 640x480 virtual desktop accepts the mode change; a sound device exists.
virtual_desktop 640x480
sound_device_on
start_demo fullscreen
if window=$(wait_window Demo 30); then
    shown_at=$(now_ms)
    pass "fullscreen: the window opens"
    # A caption on screen means the show runs, past the display-mode change: had the mode been
    # refused, the box would be up by then.
    check_caption "$window" fullscreen
    if [ -z "$(xdotool search --name '^Pelo GL$' 2>/dev/null)" ]; then
        pass "fullscreen: the display mode is accepted without asking"
    else
        fail "fullscreen: the display mode was refused"
        press_until_gone 'Pelo GL' Return
    fi
    # F1 closes the window and opens a framed one: a new context with its own glyph lists.
    toggled=""
    if hold_key_until "$window" F1 \
        'toggled=$(xdotool search --name "^Demo\$" 2>/dev/null | grep -vx "$window" | tail -1); [ -n "$toggled" ]'; then
        pass "fullscreen: F1 opens the window anew"
        # The white caption belongs to the intro's first five seconds: on a slow machine the
        # switch may take longer than that, and then there is no caption to look for.
        if [ $(($(now_ms) - shown_at)) -lt 4000 ]; then
            check_caption "$toggled" toggled
        else
            echo "skipped: the intro was over before the new window came up"
        fi
    else
        fail "fullscreen: F1 did not open a new window"
    fi
    hold_key_until "$(xdotool search --name '^Demo$' 2>/dev/null | tail -1)" Escape demo_ended
else
    fail "fullscreen: no window titled Demo"
fi
finish_demo fullscreen
if grep -q 'Error upon initialization.' "$tmp/fullscreen.out"; then
    fail "fullscreen: the wave-out device did not open"
else
    pass "fullscreen: the wave-out device opens"
fi
if [ $song_present = yes ]; then
    if grep -q 'Error loading song' "$tmp/fullscreen.out"; then fail "fullscreen: the song did not load"; else
        pass "fullscreen: the song loads"
    fi
fi

# A 1024x768 screen refuses 640x480: the Yes/No box, answered Yes (its default button), gives a
# framed window. No sound device this time.
virtual_desktop off
sound_device_off
start_demo windowed
if wait_window 'Pelo GL' 30 >/dev/null; then
    pass "windowed: the refused mode asks whether to go on in a window"
    press_until_gone 'Pelo GL' Return
    if window=$(wait_window Demo 30); then
        pass "windowed: Yes opens the window"
        check_caption "$window" windowed
        hold_key_until "$window" Escape demo_ended
    else
        fail "windowed: no window after Yes"
    fi
else
    fail "windowed: no Yes/No box"
fi
finish_demo windowed
# Standard output is in text mode on Windows: lines end in CR LF.
if tr -d '\r' <"$tmp/windowed.out" | grep -qx 'Error upon initialization.'; then
    pass "windowed: without a sound device the music start-up says so"
else
    fail "windowed: no \"Error upon initialization.\" without a sound device"
fi

# --- xmrender ------------------------------------------------------------------------------
xmrender_exe="$work_dir/demo/tools/xmrender/xmrender.exe"
if [ -f "$xmrender_exe" ] && [ $song_present = yes ]; then
    if timeout 60 wine "$xmrender_exe" --seconds 5 "$data_dir/Zarq-Neat.xm" "$tmp/win.wav" \
        >/dev/null 2>&1 && [ "$(stat -c %s "$tmp/win.wav")" -gt 44 ]; then
        pass "xmrender.exe renders the song"
        if [ -n "$host_xmrender" ] && [ -x "$host_xmrender" ]; then
            "$host_xmrender" --seconds 5 "$data_dir/Zarq-Neat.xm" "$tmp/host.wav" >/dev/null 2>&1
            if cmp -s "$tmp/win.wav" "$tmp/host.wav"; then
                pass "xmrender.exe and the host's xmrender write the same bytes"
            else
                fail "xmrender.exe and the host's xmrender differ"
            fi
        fi
    else
        fail "xmrender.exe did not render the song"
    fi
fi

echo "wine smoke test took $(elapsed) s"
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
