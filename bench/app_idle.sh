#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The program itself sitting idle on a private PulseAudio daemon with a null sink (Qt offscreen):
# after WAIT seconds (the jingle played, the output gone to sleep), the CPU Otomaru and the server
# use over 20 s, and how many streams the server has.
# Usage: app_idle.sh EXECUTABLE [WAIT]
set -eu
exe=$1
wait=${2:-15}
dir=$(mktemp -d /tmp/otomaru-idle-XXXXXX)
mkdir -p "$dir/run" "$dir/home"
chmod 700 "$dir/run"
export XDG_RUNTIME_DIR="$dir/run" HOME="$dir/home" SDL_AUDIODRIVER=pulseaudio QT_QPA_PLATFORM=offscreen
unset PULSE_SERVER
pulseaudio --daemonize=no --exit-idle-time=-1 -n --use-pid-file=no \
    --log-target="file:$dir/pulse.log" \
    "--load=module-null-sink sink_name=a sink_properties=device.description=OtomaruA" \
    --load=module-native-protocol-unix &
server=$!
sleep 1
"$exe" >/dev/null 2>&1 &
app=$!
sleep "$wait"
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
server0=$(ticks $server)
app0=$(ticks $app)
echo "streams at the start: $(pactl list short sink-inputs | wc -l)"
sleep 20
server1=$(ticks $server)
app1=$(ticks $app)
echo "streams at the end: $(pactl list short sink-inputs | wc -l)"
hz=$(getconf CLK_TCK)
awk -v a=$((app1 - app0)) -v s=$((server1 - server0)) -v hz="$hz" \
    'BEGIN { printf "20 s idle: otomaru %.2f s CPU, server %.2f s, together %.2f s\n", a / hz, s / hz, (a + s) / hz }'
kill $app
wait $app || true
kill $server
wait $server || true
rm -rf "$dir"
