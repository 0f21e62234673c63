#!/bin/sh
# Installs what is missing, then builds and runs every test three times over: a plain build, an
# AddressSanitizer + UBSan build, and a ThreadSanitizer build of everything without widgets.
# Needs no display and no sound card (Qt offscreen, SDL dummy).
set -eu
cd "$(dirname "$0")/.."
sh tools/install-deps.sh
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy

echo "== format and layers"
git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
sh tools/check-layers.sh

echo "== plain build"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure

echo "== AddressSanitizer + UBSan"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DOTOMARU_SANITIZE=address,undefined \
    -DOTOMARU_BENCH=OFF >/dev/null
# The build runs our own generators; their one-shot allocations are no leaks worth failing on.
ASAN_OPTIONS=detect_leaks=0 cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir build-asan --output-on-failure

echo "== ThreadSanitizer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOTOMARU_SANITIZE=thread \
    -DOTOMARU_UI=OFF -DOTOMARU_BENCH=OFF >/dev/null
cmake --build build-tsan -j "$jobs"
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure
