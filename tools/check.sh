#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, then builds three times over: the plain build that ships (gcc; the
# program, its package and its test), every suite under AddressSanitizer + UBSan, and the suites
# that run threads under ThreadSanitizer. The sanitizer builds use clang, which builds them in
# about two thirds of gcc's CPU time and adds its warnings to gcc's. Needs no display and no sound
# card (Qt offscreen, SDL dummy). Warnings are errors in our code.
#
# The suites of one build run while the next build compiles at the lowest priority: they wait on
# servers and timers much of the time, and the compiler takes only what they leave.
set -eu
cd "$(dirname "$0")/.."
sh tools/install-deps.sh
jobs=$(nproc)
began=$(date +%s)
# Each step says when it starts, so a slow run shows where its time went.
step() { echo "== $1 (at $(($(date +%s) - began)) s)"; }
export QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy
# The test builds carry no full debug information: line tables are all a sanitizer report needs,
# and writing the rest is a third of the compile time.
common="-G Ninja -DOTOMARU_WERROR=ON -DOTOMARU_TESTS=ON"
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

# Runs one build's suites in the background, their output kept for `finish`.
start_suites() { # name, build folder, environment
    step "$1 tests"
    # shellcheck disable=SC2086
    (if env $3 ctest --test-dir "$2" -j "$jobs" --output-on-failure >"$logs/$1" 2>&1; then
        echo 0 >"$logs/$1.rc"
    else
        echo 1 >"$logs/$1.rc"
    fi) &
}
finish_suites() { # name
    wait
    cat "$logs/$1"
    [ "$(cat "$logs/$1.rc")" = 0 ] || { echo "== $1 tests failed"; exit 1; }
}

step "format and layers"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
sh tools/check-layers.sh

step "plain build"
# shellcheck disable=SC2086
cmake -S . -B build-plain $common -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOTOMARU_UI=ON -DOTOMARU_BENCH=OFF \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DOTOMARU_SUITES=OFF >/dev/null
cmake --build build-plain -j "$jobs"
start_suites plain build-plain ""

step "AddressSanitizer + UBSan"
# shellcheck disable=SC2086
CXX=clang++ cmake -S . -B build-asan $common -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
    -DOTOMARU_SANITIZE=address,undefined -DOTOMARU_BENCH=OFF >/dev/null
# The build runs our own generators; their one-shot allocations are no leaks worth failing on.
ASAN_OPTIONS=detect_leaks=0 nice -n 19 cmake --build build-asan -j "$jobs"
finish_suites plain
start_suites AddressSanitizer build-asan ASAN_OPTIONS=detect_leaks=1

step "ThreadSanitizer"
# shellcheck disable=SC2086
CXX=clang++ cmake -S . -B build-tsan $common -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" -DOTOMARU_SANITIZE=thread \
    -DOTOMARU_BENCH=OFF >/dev/null
# Only the suites: the program and its generators are built and run by the two builds above.
nice -n 19 cmake --build build-tsan -j "$jobs" --target otomaru_suites
finish_suites AddressSanitizer
start_suites ThreadSanitizer build-tsan TSAN_OPTIONS=halt_on_error=1
finish_suites ThreadSanitizer
step "done"
