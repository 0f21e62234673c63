#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Every source file carries its licence in its first two lines (after a shebang, if any), so a
# file copied out of the tree still says under what terms. With --missing, only the paths of the
# files without it are printed, one a line.
set -eu
cd "$(dirname "$0")/.."
line="SPDX-License-Identifier: GPL-3.0-or-later"
# Tracked files only: a build folder holds generated CMake files of its own.
missing=$(git ls-files -z '*.cpp' '*.h' '*.sh' '*CMakeLists.txt' '*.cmake' 'tools/*' '.ci/*' |
    xargs -0 awk -v line="$line" 'FNR <= 2 && index($0, line) { ok[FILENAME] = 1 }
        END { for (i = 1; i < ARGC; ++i) if (!(ARGV[i] in ok)) print ARGV[i] }')
if [ "${1-}" = --missing ]; then
    [ -z "$missing" ] || echo "$missing"
    exit 0
fi
if [ -n "$missing" ]; then
    echo "$missing" | sed "s/\$/: no \"$line\" in its first two lines/"
    exit 1
fi
echo "spdx: every source file names its licence"
