#!/bin/sh
# Installs the Debian 12 packages Otomaru builds, runs and is tested with (as root). Packages
# already present are left alone, so a second run costs nothing.
set -eu
PACKAGES="build-essential cmake pkg-config qt6-base-dev libsdl2-dev libgtest-dev
  xvfb xauth xdotool fonts-ipafont-gothic sox libopenal-dev imagemagick clang clang-format libclang-rt-14-dev
  dbus libxcb1-dev libxcb-keysyms1-dev"
missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    # shellcheck disable=SC2086
    apt-get install -y -qq --no-install-recommends $missing
fi
