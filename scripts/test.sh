#!/usr/bin/env bash
# test.sh: the project's whole test run, as CI runs it.
#   1. setup.sh (the Debian packages);
#   2. preset release: configure, build, and the web page (preset web, emscripten), then ctest
#      (its browser test runs the page in headless Chromium); then the neatxm library as its
#      users get it: installed into build/install, the examples built against it through
#      CMake's find_package and through pkg-config, and run (scripts/check_package.sh);
#   3. preset music: the player library and its tests alone, configured so that SDL and OpenGL
#      cannot be found, run without a display;
#      preset asan (address + undefined behaviour sanitizers): build, ctest;
#   4. preset tsan: build the programs of the threads-labelled tests, ctest -L threads;
#   5. preset fuzz, when fuzz targets exist: each fuzz_<name> binary runs FUZZ_SECONDS
#      (default 45), seeded as fuzz/CMakeLists.txt describes.
# The GL and end-to-end tests need X: when DISPLAY is unset an Xvfb is started here on a free
# display (-noreset: it stays up across its clients) and stopped at the end. Prints the minutes
# each stage took and "N passed, N failed" over all runs; exits non-zero on any failure. JOBS (default 2) sets the build and test parallelism. No test may run longer than
# 15 minutes: a hang (say, a box nobody answers) fails that test instead of the whole run.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
jobs="${JOBS:-2}"
fuzz_seconds="${FUZZ_SECONDS:-45}"
passed=0
failed=0
skipped=0
failures=()

note_failure() { failed=$((failed + 1)); failures+=("$1"); echo "test.sh: FAILED: $1"; }

# What each stage cost, for the summary at the end.
stage_times=()
slow_tests=()
stage_name=""
stage_began=0
stage() { # name: ends the stage before (if any) and starts this one; no name: just ends it
    if [ -n "$stage_name" ]; then
        local took=$((SECONDS - stage_began))
        stage_times+=("$(printf '%-28s %3d:%02d' "$stage_name" $((took / 60)) $((took % 60)))")
    fi
    stage_name="${1:-}"
    stage_began=$SECONDS
}
stage setup

bash scripts/setup.sh || { echo "test.sh: setup failed"; echo "0 passed, 1 failed"; exit 1; }

# ---- a display for the GL tests -------------------------------------------------------------
xvfb_pid=""
cleanup() {
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
    fifo="$(mktemp -u)"
    mkfifo "$fifo"
    # -noreset: without it the server resets whenever its last client disconnects, and a test
    # that connects during the reset (tests run side by side) finds no display.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
    xvfb_pid=$!
    read -r -t 15 number <"$fifo" || number=""
    rm -f "$fifo"
    if [ -z "$number" ]; then
        echo "test.sh: Xvfb did not start; GL tests will skip"
    else
        export DISPLAY=":$number"
        echo "test.sh: Xvfb on $DISPLAY"
    fi
fi
# Nobody answers message boxes here: they go to stderr (the end-to-end tests of the demo, which
# answer them, put them back on screen for their own runs).
export DEMO_MESSAGE_BOXES=stderr
# No sound card here: SDL's audio goes nowhere rather than failing on a missing device.
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"
export UBSAN_OPTIONS="print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

# ---- ctest runs -----------------------------------------------------------------------------
build_preset() { # name [targets...]: all targets when none are named
    local preset="$1"
    shift
    local targets=()
    [ $# -gt 0 ] && targets=(--target "$@")
    echo "==== build: $preset $*"
    if ! cmake --preset "$preset" >"build/$preset-configure.log" 2>&1; then
        cat "build/$preset-configure.log"
        note_failure "configure $preset"
        return 1
    fi
    rm -f "build/$preset-configure.log"
    if ! cmake --build --preset "$preset" -j"$jobs" "${targets[@]}"; then
        note_failure "build $preset"
        return 1
    fi
}

run_ctest() { # preset [ctest args...]
    local preset="$1"
    shift
    echo "==== ctest: $preset $*"
    local log
    log="$(mktemp)"
    ctest --test-dir "build/$preset" -j"$jobs" --timeout 900 --output-on-failure "$@" 2>&1 | tee "$log"
    local total fails skips
    total="$(sed -n 's/.*tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)"
    fails="$(sed -n 's/.* \([0-9]*\) tests failed out of.*/\1/p' "$log" | tail -1)"
    skips="$(grep -c '\*\*\*Skipped' "$log")"
    # The browser and Windows tests run within the release stage; their own times are told too.
    while read -r line; do slow_tests+=("$preset: $line"); done < <(sed -n -E \
        's/.*Test +#[0-9]+: (web_e2e|video_browser_e2e|wine_cross_build|wine_smoke) .* ([0-9.]+) sec.*/\1 \2 s/p' \
        "$log")
    rm -f "$log"
    if [ -z "$total" ]; then
        if grep -q 'No tests were found' <<<"$(ctest --test-dir "build/$preset" -N "$@" 2>&1)"; then
            echo "test.sh: no tests in $preset $*"
            return 0
        fi
        note_failure "ctest $preset (no summary)"
        return 1
    fi
    passed=$((passed + total - fails - skips))
    skipped=$((skipped + skips))
    failed=$((failed + fails))
    [ "$fails" -eq 0 ] || failures+=("ctest $preset: $fails failed")
}

mkdir -p build
cd "$root"
stage "release (build, web, ctest)"
if build_preset release; then
    # The web page first, so that the release tests' browser test (label web) finds it; without
    # emscripten that test says it is skipped.
    if command -v emcc >/dev/null; then build_preset web; fi
    run_ctest release
    echo "==== installed package: scripts/check_package.sh build/release"
    if bash scripts/check_package.sh build/release; then
        passed=$((passed + 1))
    else
        note_failure "installed package and examples (scripts/check_package.sh)"
    fi
fi
# The player library alone: it must build and pass its tests without SDL, OpenGL or a display.
stage "music (library alone)"
if build_preset music; then DISPLAY= run_ctest music; fi
stage "asan (address + UB)"
if build_preset asan; then run_ctest asan; fi
# Only the programs whose tests carry the label threads are built for the thread sanitizer.
stage "tsan (threads)"
if build_preset tsan output_tests video_tests unit_player unit_api_random; then run_ctest tsan -L threads; fi

# ---- fuzzing --------------------------------------------------------------------------------
if ls fuzz/*/CMakeLists.txt >/dev/null 2>&1; then
    stage "fuzz"
    if build_preset fuzz; then
        for dir in fuzz/*/; do
            name="$(basename "$dir")"
            bin="build/fuzz/fuzz/$name/fuzz_$name"
            [ -x "$bin" ] || continue
            seeds="build/fuzz/seeds/$name"
            corpus="build/fuzz/corpus/$name"
            findings="build/fuzz/findings/$name"
            mkdir -p "$seeds" "$corpus" "$findings"
            for gen in "build/fuzz/fuzz/$name"/*_seeds; do
                [ -x "$gen" ] && "$gen" "$seeds" >/dev/null
            done
            seed_dirs=("$seeds")
            [ -d "fuzz/$name/seeds" ] && seed_dirs+=("fuzz/$name/seeds")
            if [ -f "fuzz/$name/seed_dirs.txt" ]; then
                while read -r extra; do
                    extra="${extra%%#*}"
                    extra="$(echo "$extra" | xargs)"
                    [ -n "$extra" ] && [ -d "$extra" ] && seed_dirs+=("$extra")
                done <"fuzz/$name/seed_dirs.txt"
            fi
            echo "==== fuzz: $name for ${fuzz_seconds} s (seeds: ${seed_dirs[*]})"
            if "$bin" -max_total_time="$fuzz_seconds" -timeout=10 -rss_limit_mb=2048 \
                -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" "${seed_dirs[@]}" \
                >"build/fuzz/$name.log" 2>&1; then
                passed=$((passed + 1))
                tail -n 3 "build/fuzz/$name.log"
            else
                tail -n 40 "build/fuzz/$name.log"
                note_failure "fuzz $name (inputs in $findings)"
            fi
        done
    fi
fi

stage
echo
echo "minutes per stage:"
printf '  %s\n' "${stage_times[@]}"
printf '  %-28s %3d:%02d\n' "whole run" $((SECONDS / 60)) $((SECONDS % 60))
[ ${#slow_tests[@]} -gt 0 ] && printf '  within them: %s\n' "${slow_tests[@]}"
if [ ${#failures[@]} -gt 0 ]; then printf 'failed: %s\n' "${failures[@]}"; fi
if [ "$skipped" -gt 0 ]; then
    echo "$passed passed, $failed failed, $skipped skipped"
else
    echo "$passed passed, $failed failed"
fi
[ "$failed" -eq 0 ]
