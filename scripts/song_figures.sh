#!/bin/sh
# song_figures.sh: the soundtrack at a glance. Renders data/Zarq-Neat.xm with xmrender, draws a
# spectrogram of the whole song with the show's scene changes marked (docs/soundtrack.png) and
# prints the mix figures of every section as a Markdown table (the same measure the song's
# checks hold to their targets). Needs sox and ImageMagick (scripts/packages.txt).
#   scripts/song_figures.sh [BUILD_DIR] [PICTURE]    (defaults: build/release, docs/soundtrack.png)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
picture=${2:-$root/docs/soundtrack.png}
xmrender=$build/tools/xmrender/xmrender
figures=$build/tools/compose/song_figures
for tool in "$xmrender" "$figures"; do
    if [ ! -x "$tool" ]; then
        echo "song_figures.sh: $tool is missing; build it first:" >&2
        echo "  cmake --build $build --target xmrender song_figures" >&2
        exit 1
    fi
done
for program in sox convert; do
    command -v "$program" >/dev/null || { echo "song_figures.sh: needs $program" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$xmrender" "$root/data/Zarq-Neat.xm" "$work/song.wav" >/dev/null
"$figures" "$work/song.wav"

# The raw spectrogram (no axes), one pixel column per equal slice of time, 0-11 kHz upwards.
width=1400
height=360
seconds=$(sox --i -D "$work/song.wav")
sox "$work/song.wav" -n remix - rate 22050 spectrogram -r -x "$width" -y "$height" -z 80 \
    -o "$work/raw.png"

# A band above the picture for the labels, a line at every scene change, and a time axis.
# (With north-west gravity a text is placed by its top left corner.)
top=40
bottom=24
draw=""
while read -r at name; do
    x=$(awk -v t="$at" -v s="$seconds" -v w="$width" 'BEGIN { printf "%d", t / s * w }')
    draw="$draw -stroke white -strokewidth 1 -draw \"line $x,$top $x,$((top + height))\""
    draw="$draw -stroke none -fill black -draw \"text $((x + 2)),3 '$at'\""
    draw="$draw -draw \"text $((x + 2)),16 '$name'\""
done <<SCENES
$("$figures" --scenes)
SCENES
tick=0
while [ "$tick" -le "${seconds%.*}" ]; do
    x=$(awk -v t="$tick" -v s="$seconds" -v w="$width" 'BEGIN { printf "%d", t / s * w }')
    draw="$draw -stroke black -draw \"line $x,$((top + height)) $x,$((top + height + 4))\""
    draw="$draw -stroke none -fill black -draw \"text $((x + 2)),$((top + height + 7)) '${tick} s'\""
    tick=$((tick + 30))
done
eval convert "$work/raw.png" -background white -gravity north -splice 0x$top \
    -gravity south -splice 0x$bottom -gravity northwest -font DejaVu-Sans -pointsize 10 \
    "$draw" -colors 96 "PNG8:$picture"
echo "spectrogram: $picture (0-11 kHz, ${seconds%.*} s)" >&2
