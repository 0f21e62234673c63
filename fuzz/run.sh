#!/bin/sh
# Builds the fuzz targets with clang and runs each for the given number of seconds (default 60)
# on a fresh copy of the seed corpus. Usage: sh fuzz/run.sh [seconds]
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
sh tools/install-deps.sh
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DOTOMARU_FUZZ=ON -DOTOMARU_UI=OFF -DOTOMARU_TESTS=OFF -DOTOMARU_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)"
sh fuzz/make_corpus.sh
for target in fuzz_wave_file fuzz_wave_resource fuzz_set_file fuzz_settings fuzz_fields; do
    echo "== $target ($seconds s)"
    mkdir -p "build-fuzz/crashes/$target"
    "build-fuzz/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="build-fuzz/crashes/$target/" "fuzz/corpus-run/$target" 2>&1 |
        grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss|==.*ERROR|SUMMARY)' || true
done
