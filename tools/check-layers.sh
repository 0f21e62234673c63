#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Each folder may include only from the folders beneath it, so the tree reads bottom-up like the
# path of a key press; the floors and what each may use are listed once, in tools/floors.txt.
# ctest runs this as the test `layers`, so an include that runs up fails the inner loop too.
set -eu
cd "$(dirname "$0")/.."
floors=$(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' tools/floors.txt)
names=" $(echo "$floors" | awk '{ printf "%s ", $1 }')"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    list() { git ls-files --cached --others --exclude-standard "$1/*.cpp" "$1/*.h"; }
else
    list() { find "$1" -name '*.cpp' -o -name '*.h'; }
fi
echo "$floors" | {
    bad=0
    while read -r dir qt below; do
        for file in $(list "$dir"); do
            for used in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z_]*\)\/.*/\1/p' "$file"); do
                case " $dir $below " in *" $used "*) continue ;; esac
                case "$names" in
                *" $used "*)
                    echo "$file includes from $used/, a folder above $dir/"
                    bad=1
                    ;;
                esac
            done
            if [ "$qt" = no ] && grep -q '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$file"; then
                echo "$file includes Qt, which $dir/ may not use"
                bad=1
            fi
        done
    done
    [ "$bad" -eq 0 ] && echo "layers: every include points down"
    exit "$bad"
}
