#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the Debian package in the build folder, unpacks it into a temporary folder and starts the
# unpacked program as an unprivileged user with a fresh home (Qt offscreen, SDL dummy): the data
# folder must be made with the demo set and Otomaru.ini. Then, on a private X server, a new set
# made through the window must land there too. Needs no root; as root the program runs as nobody.
# Usage: package-test.sh BUILD_DIR VERSION
set -eu
build=$(cd "$1" && pwd)
version=$2
fail() { echo "package test: $*" >&2; exit 1; }

cd "$build"
rm -f otomaru_*.deb
cpack -G DEB >cpack.log 2>&1 || { cat cpack.log; fail "cpack failed"; }
deb="$build/otomaru_${version}_amd64.deb"
[ -f "$deb" ] || fail "no $deb"
depends=$(dpkg-deb -f "$deb" Depends)
case "$depends" in *libqt6widgets6*libsdl2* | *libsdl2*libqt6widgets6*) ;;
*) fail "dependencies not computed from the binary: $depends" ;; esac
# Equal loudness measures with libebur128 at run time.
case "$depends" in *libebur128*) ;; *) fail "libebur128 not among the dependencies: $depends" ;; esac
# OSC control reads and writes its messages with liblo.
case "$depends" in *liblo7*) ;; *) fail "liblo not among the dependencies: $depends" ;; esac
# A Japanese font and Qt's own translations, recommended rather than required.
recommends=$(dpkg-deb -f "$deb" Recommends)
case "$recommends" in *fonts-noto-cjk*fonts-ipafont-gothic*qt6-translations-l10n*) ;;
*) fail "no Japanese font or Qt translations recommended: $recommends" ;; esac

work=$(mktemp -d /tmp/otomaru-package-XXXXXX)
xpid=""
pid=""
cleanup() {
    [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
    [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
    chmod -R u+w "$work" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
dpkg-deb -x "$deb" "$work/root"
for f in usr/bin/otomaru usr/share/otomaru/音源.txt usr/share/otomaru/demo/chime.wav \
    usr/share/applications/org.otomaru.Otomaru.desktop \
    usr/share/icons/hicolor/48x48/apps/otomaru.png \
    usr/share/metainfo/org.otomaru.Otomaru.metainfo.xml usr/share/man/man1/otomaru.1.gz; do
    [ -f "$work/root/$f" ] || fail "missing $f"
done
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net "$work/root/usr/share/metainfo/org.otomaru.Otomaru.metainfo.xml" ||
        fail "the AppStream metainfo does not validate"
fi
gzip -t "$work/root/usr/share/man/man1/otomaru.1.gz" || fail "the manual page is no gzip file"
if command -v man >/dev/null; then
    warnings=$(LANG=C.UTF-8 man --warnings -E UTF-8 -l -Tutf8 -Z \
        "$work/root/usr/share/man/man1/otomaru.1.gz" 2>&1 >/dev/null) || fail "man cannot render otomaru(1)"
    [ -z "$warnings" ] || fail "otomaru(1) renders with warnings: $warnings"
fi
if command -v lintian >/dev/null; then
    lintian --fail-on error "$deb" >lintian.log 2>&1 || { cat lintian.log; fail "lintian reports errors"; }
    cat lintian.log
    if grep -E 'no-manual-page|manpage|groff-message' lintian.log; then
        fail "lintian finds fault with the manual page"
    fi
fi

# The installed program's folder is not the user's to write.
chmod 755 "$work"
chmod -R a-w "$work/root/usr"
home="$work/Ünïcode 〜 home"
mkdir "$home"
runas=""
if [ "$(id -u)" = 0 ]; then
    chown 65534:65534 "$home"
    runas="setpriv --reuid=65534 --regid=65534 --clear-groups"
fi
data="$home/.local/share/otomaru"

# Waits up to 20 s for a file.
await() {
    i=0
    while [ ! -s "$1" ]; do
        i=$((i + 1))
        [ $i -le 200 ] || return 1
        sleep 0.1
    done
}

start() {
    # shellcheck disable=SC2086
    env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 SDL_AUDIODRIVER=dummy "$@" \
        $runas "$work/root/usr/bin/otomaru" >"$work/otomaru.log" 2>&1 &
    pid=$!
}

start QT_QPA_PLATFORM=offscreen
await "$data/Otomaru.ini" || { cat "$work/otomaru.log"; fail "no Otomaru.ini in $data"; }
kill "$pid" # ends as a logout would
wait "$pid" 2>/dev/null || true
pid=""
cmp "$data/音源.txt" "$work/root/usr/share/otomaru/音源.txt" || fail "demo set not copied"
[ -f "$data/demo/chime.wav" ] || fail "demo sounds not copied"
grep -q 'SoundsFile=' "$data/Otomaru.ini" || fail "Otomaru.ini holds no set"

# A set made through the window: 新規(&N), Yes, two tabs to the file name, Enter.
if ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null; then
    echo "package test: no Xvfb or xdotool, the new-set step is skipped"
    exit 0
fi
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xpid=$!
await "$work/display" || fail "Xvfb did not start"
display=":$(cat "$work/display")"
chmod 1777 /tmp/.X11-unix 2>/dev/null || true
start DISPLAY="$display" QT_QPA_PLATFORM=xcb
export DISPLAY="$display"
window=$(timeout 20 xdotool search --sync --onlyvisible --limit 1 --name '^Otomaru Ver') ||
    { cat "$work/otomaru.log"; fail "no window on the X server"; }
xdotool windowfocus --sync "$window"
sleep 1
xdotool key --clearmodifiers alt+n
sleep 1
xdotool key Return
sleep 1
xdotool key Tab Tab
xdotool type 'package.txt'
xdotool key Return
await "$data/package.txt" || { cat "$work/otomaru.log"; fail "the new set did not land in $data"; }
head -1 "$data/package.txt" | grep -q MOK_FILE || fail "the new set is no set file"
echo "package test: $deb unpacked, started as $(
    [ -n "$runas" ] && echo nobody || id -un
), data folder, demo set, Otomaru.ini and a new set in place"
