#!/bin/sh
# show_strip.sh: the show at a glance. Captures six frames of the show with showcapture (the
# intro, the cube field, its reflections, the farewell, the particles, the credits) and
# joins them, each scaled to 256x192 with its time below it, into one strip for the README
# (docs/show_strip.png). The show_capture test compares the committed strip with its own frames
# of the same times, so redraw and commit the strip when the show changes. Needs an X display
# (an Xvfb of its own when DISPLAY is unset) and ImageMagick (scripts/packages.txt).
#   scripts/show_strip.sh [BUILD_DIR] [PICTURE]    (defaults: build/release, docs/show_strip.png)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
picture=${2:-$root/docs/show_strip.png}
[ -d "$build" ] && build=$(cd "$build" && pwd)
showcapture=$build/tools/showcapture/showcapture
if [ ! -x "$showcapture" ]; then
    echo "show_strip.sh: $showcapture is missing; build it first:" >&2
    echo "  cmake --build $build --target showcapture" >&2
    exit 1
fi
for program in convert montage; do
    command -v "$program" >/dev/null || { echo "show_strip.sh: needs $program" >&2; exit 1; }
done

# Program-clock seconds, whole (the intro takes the first 5 s), and the label under each frame. The
# show_capture test holds the same times and frame rate (kStripFrames, 20 fps).
fps=20
frames="3:intro
17:the cube field
22:reflections
85:farewell
140:particles
200:credits"

work=$(mktemp -d)
xvfb=""
cleanup() {
    if [ -n "$xvfb" ]; then kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
    command -v Xvfb >/dev/null || { echo "show_strip.sh: no DISPLAY and no Xvfb" >&2; exit 1; }
    mkfifo "$work/displayfd"
    Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$work/displayfd" \
        >/dev/null 2>&1 &
    xvfb=$!
    number=""
    read -r number <"$work/displayfd" || true
    [ -n "$number" ] || { echo "show_strip.sh: Xvfb did not start" >&2; exit 1; }
    DISPLAY=":$number"
    export DISPLAY
fi

times=$(echo "$frames" | cut -d: -f1 | paste -sd, -)
(cd "$root/data" && "$showcapture" --at "$times" --fps "$fps" --out "$work") >/dev/null

# -scale averages the pixels each small one covers (no ringing on the one-pixel lines).
set --
while IFS=: read -r at label; do
    file=$(printf '%s/%06d.png' "$work" "$((at * 1000))")
    convert "$file" -scale 256x192 "$work/small_$at.png"
    minutes=$((at / 60))
    seconds=$(printf '%02d' $((at % 60)))
    set -- "$@" -label "$minutes:$seconds  $label" "$work/small_$at.png"
done <<FRAMES
$frames
FRAMES
montage -font DejaVu-Sans -pointsize 14 -fill '#e8e8e8' -background '#202020' "$@" \
    -tile 6x1 -geometry +4+4 -strip -define png:exclude-chunks=date,time "PNG24:$picture"
echo "strip: $picture ($(echo "$frames" | wc -l) frames at $fps fps)" >&2
