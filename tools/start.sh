#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds Otomaru and starts it from the build folder (beside the demo set).
set -eu
cd "$(dirname "$0")/.."
sh tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOTOMARU_TESTS=OFF -DOTOMARU_BENCH=OFF >/dev/null
cmake --build build --target otomaru -j "$(nproc)"
exec ./build/bin/otomaru
