#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the fuzz targets with clang and runs each for the given number of seconds (default 60)
# on a fresh copy of the seed corpus, one process per target, with its dictionary.
# Usage: sh fuzz/run.sh [seconds] [target...]   (JOBS=n sets the build's parallelism)
# Prints executions and minutes per target; exits non-zero when any target found a crash, whose
# input is then kept in build-fuzz/crashes/<target>/.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=${*:-"fuzz_wave_file fuzz_wave_resource fuzz_set_file fuzz_settings fuzz_fields fuzz_sound_decoder fuzz_remote fuzz_web_request fuzz_osc"}
sh tools/install-deps.sh
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DOTOMARU_FUZZ=ON -DOTOMARU_UI=OFF -DOTOMARU_TESTS=OFF -DOTOMARU_BENCH=OFF >/dev/null
# shellcheck disable=SC2086
cmake --build build-fuzz --target $targets make_sound_seeds -j "${JOBS:-$(nproc)}"
sh fuzz/make_corpus.sh
dict_of() {
    case "$1" in
    fuzz_wave_*) echo fuzz/wave.dict ;;
    fuzz_set_file | fuzz_fields) echo fuzz/set_file.dict ;;
    fuzz_settings) echo fuzz/settings.dict ;;
    fuzz_sound_decoder) echo fuzz/sound.dict ;;
    fuzz_remote) echo fuzz/remote.dict ;;
    fuzz_web_request) echo fuzz/web_request.dict ;;
    fuzz_osc) echo fuzz/osc.dict ;;
    esac
}
failed=0
summary=""
for target in $targets; do
    echo "== $target ($seconds s)"
    crashes="build-fuzz/crashes/$target"
    rm -rf "$crashes"
    mkdir -p "$crashes"
    log="build-fuzz/$target.log"
    "build-fuzz/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
        -dict="$(dict_of "$target")" -artifact_prefix="$crashes/" \
        "fuzz/corpus-run/$target" >"$log" 2>&1 || true
    grep -E '^(#[0-9]+.*DONE|stat::peak_rss|==.*ERROR|SUMMARY)' "$log" || true
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    found=$(find "$crashes" -type f | wc -l)
    [ "$found" -eq 0 ] || failed=1
    minutes=$(awk "BEGIN { printf \"%.1f\", $seconds / 60 }")
    summary="$summary$(printf '%-20s %5s min %12s executions %3d crashes' "$target" "$minutes" \
        "${execs:-?}" "$found")
"
done
echo "== summary"
printf '%s' "$summary"
exit "$failed"
