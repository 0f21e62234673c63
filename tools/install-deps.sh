#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian 12 packages Otomaru builds, runs and is tested with (as root). Packages
# already present are left alone, so a second run costs nothing.
set -eu
PACKAGES="build-essential cmake pkg-config qt6-base-dev libsdl2-dev libsndfile1-dev libebur128-dev libgtest-dev
  xvfb xauth xdotool fonts-ipafont-gothic sox libsox-fmt-mp3 opus-tools libopenal-dev imagemagick clang clang-format libclang-rt-14-dev
  libxcb1-dev libxcb-xkb-dev libxkbcommon-x11-dev qt6-translations-l10n appstream pulseaudio pulseaudio-utils
  dbus libxcb-keysyms1-dev ninja-build xdg-desktop-portal xdg-desktop-portal-kde libkf5globalaccel-bin
  libglib2.0-dev gnome-settings-daemon-common sway wtype
  qt6-websockets-dev libqrencode-dev chromium liblo-dev liblo-tools"
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
