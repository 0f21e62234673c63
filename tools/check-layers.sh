#!/bin/sh
# Each folder may include only from the folders beneath it, so the tree reads bottom-up like the
# path of a key press: base <- audio <- model <- input, playback <- core <- desktop <- ui <- app.
set -eu
cd "$(dirname "$0")/.."
allowed() {
    case "$1" in
    base) echo "base" ;;
    audio) echo "base audio" ;;
    model) echo "base audio model" ;;
    input) echo "base audio model input" ;;
    playback) echo "base audio model playback" ;;
    core) echo "base audio model input playback core" ;;
    desktop) echo "base audio model input playback core desktop" ;;
    ui) echo "base audio model input playback core desktop ui" ;;
    app) echo "base audio model input playback core desktop ui app" ;;
    esac
}
bad=0
for dir in base audio model input playback core desktop ui app; do
    ok=$(allowed "$dir")
    for file in $(git ls-files "$dir/*.cpp" "$dir/*.h"); do
        for used in $(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z_]*\)\/.*/\1/p' "$file"); do
            case " $ok " in
            *" $used "*) ;;
            *)
                case " base audio model input playback core ui app " in
                *" $used "*)
                    echo "$file includes from $used/, a folder above $dir/"
                    bad=1
                    ;;
                esac
                ;;
            esac
        done
    done
done
[ "$bad" -eq 0 ] && echo "layers: every include points down"
exit "$bad"
