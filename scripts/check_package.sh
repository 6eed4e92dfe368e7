#!/usr/bin/env bash
# check_package.sh: installs a build and builds the neatxm examples against the installed
# package as its users would, once through CMake's find_package (shared, then static) and once
# through pkg-config, then runs each on the demo's song and checks the WAV it writes.
#   scripts/check_package.sh [BUILD_DIR]     (default build/release, already built)
# Works in build/install and build/examples-*; prints one line per check; exits 1 on any failure.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
build="${1:-build/release}"
prefix="$root/build/install"
song="$root/data/Zarq-Neat.xm"
example="$root/examples/render_wav"
wav_bytes=$((44 + 44100 * 10 * 4)) # header + 10 s of 16-bit stereo at 44100 Hz
failures=0

fail() { echo "check_package: FAILED: $*"; failures=$((failures + 1)); }
ok() { echo "check_package: ok: $*"; }

# ---- install ----------------------------------------------------------------------------------
rm -rf "$prefix"
if ! cmake --install "$build" --prefix "$prefix" >"$root/build/install.log" 2>&1; then
    cat "$root/build/install.log"
    fail "cmake --install $build"
    exit 1
fi
missing=""
for file in lib/libneatxm.a lib/libneatxm.so lib/libneatxm.so.2 include/neatxm.h include/neatxm.hpp \
    lib/pkgconfig/neatxm.pc lib/cmake/neatxm/neatxmConfig.cmake \
    lib/cmake/neatxm/neatxmConfigVersion.cmake lib/cmake/neatxm/neatxmTargets.cmake \
    bin/demo bin/xmrender share/demo/Zarq-Neat.xm share/demo/Data/Particle.bmp; do
    [ -e "$prefix/$file" ] || missing+=" $file"
done
if [ -n "$missing" ]; then fail "not installed:$missing"; else ok "installed under $prefix"; fi

version="$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --modversion neatxm)"
soname="$(objdump -p "$prefix/lib/libneatxm.so" | awk '$1 == "SONAME" {print $2}')"
if [ "${version%%.*}" != 2 ] || [ "$soname" != libneatxm.so.2 ]; then
    fail "the package says version $version with SONAME $soname, want 2.x and libneatxm.so.2"
else
    ok "version $version, SONAME $soname"
fi

# ---- run an example build ---------------------------------------------------------------------
check_render() { # way bin_dir
    local way="$1" bin="$2" wav="$2/zarq.wav" err
    if ! "$bin/render_wav" "$song" "$wav" >/dev/null; then
        fail "$way: render_wav did not render the song"
        return
    fi
    local size
    size="$(stat -c %s "$wav")"
    if [ "$size" != "$wav_bytes" ]; then
        fail "$way: the WAV has $size bytes, want $wav_bytes"
        return
    fi
    # A file that is no module: exit code 1 and the library's message.
    err="$("$bin/render_wav" "$root/README.md" "$bin/none.wav" 2>&1 >/dev/null)"
    if [ $? -ne 1 ] || [ -z "$err" ]; then
        fail "$way: a bad file gave no exit code 1 with a message"
        return
    fi
    # The C++17 example: facts, a pattern row, events, a seek back to 5 s.
    local facts
    if ! facts="$("$bin/song_facts" "$song")"; then
        fail "$way: song_facts failed"
        return
    fi
    if ! grep -q "notes started" <<<"$facts" || ! grep -q "^back at 5.0 s" <<<"$facts"; then
        fail "$way: song_facts printed no events or no seek: $facts"
        return
    fi
    ok "$way: render_wav wrote $size bytes; a bad file says \"$err\""
}

# ---- CMake's find_package -----------------------------------------------------------------------
for kind in shared static; do
    dir="$root/build/examples-cmake-$kind"
    rm -rf "$dir"
    use_static=OFF
    [ "$kind" = static ] && use_static=ON
    if cmake -S "$example" -B "$dir" -DCMAKE_PREFIX_PATH="$prefix" -DNEATXM_USE_STATIC=$use_static \
        >"$dir.log" 2>&1 && cmake --build "$dir" >>"$dir.log" 2>&1; then
        linked="$(objdump -p "$dir/render_wav" | grep -c 'NEEDED *libneatxm')"
        if [ "$kind" = shared ] && [ "$linked" -ne 1 ]; then
            fail "find_package: render_wav does not use libneatxm.so"
        elif [ "$kind" = static ] && [ "$linked" -ne 0 ]; then
            fail "find_package with NEATXM_USE_STATIC: render_wav still needs libneatxm.so"
        else
            check_render "find_package ($kind)" "$dir"
        fi
    else
        cat "$dir.log"
        fail "find_package ($kind): the examples did not build"
    fi
done

# ---- pkg-config ---------------------------------------------------------------------------------
dir="$root/build/examples-pkgconfig"
rm -rf "$dir"
mkdir -p "$dir"
if PKG_CONFIG_PATH="$prefix/lib/pkgconfig" make -C "$dir" -f "$example/Makefile" VPATH="$example" \
    >"$dir.log" 2>&1; then
    check_render "pkg-config" "$dir"
    if ! cmp -s "$dir/zarq.wav" "$root/build/examples-cmake-shared/zarq.wav"; then
        fail "pkg-config and find_package builds wrote different WAV files"
    fi
else
    cat "$dir.log"
    fail "pkg-config: the examples did not build"
fi

[ "$failures" -eq 0 ]
