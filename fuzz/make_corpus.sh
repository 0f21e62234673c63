#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes the seed corpus into fuzz/corpus-run/<target>/: WAVE files in the layouts real encoders
# write (sox: PCM 8/16/24/32, float, extensible, several channels and rates, a LIST chunk) and
# hand-made ones (odd chunks with pad bytes, data before fmt), plus set and settings files.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out="$here/corpus-run"
rm -rf "$out"
mkdir -p "$out/fuzz_wave_file" "$out/fuzz_wave_resource" "$out/fuzz_set_file" \
    "$out/fuzz_settings" "$out/fuzz_fields" "$out/fuzz_sound_decoder"
w="$out/fuzz_wave_file"
i=0
# The compressed encodings give formats with extra bytes (MS ADPCM carries 32 of them).
for layout in "-b 8 -e unsigned -c 1 -r 8000" "-b 16 -e signed -c 1 -r 22050" \
    "-b 16 -e signed -c 2 -r 44100" "-b 24 -e signed -c 2 -r 48000" \
    "-b 32 -e signed -c 1 -r 11025" "-b 32 -e float -c 2 -r 44100" \
    "-b 16 -e signed -c 6 -r 48000" "-b 16 -e signed -c 4 -r 16000" \
    "-b 24 -e signed -c 2 -r 44100 -t wavpcm" "-e u-law -c 1 -r 8000" "-e a-law -c 2 -r 8000" \
    "-e ms-adpcm -c 1 -r 22050" "-e ima-adpcm -c 2 -r 11025"; do
    i=$((i + 1))
    # shellcheck disable=SC2086
    sox -n $layout "$w/sox$i.wav" synth 0.01 sine 440 2>/dev/null
done
sox -n -b 16 -c 1 -r 8000 --comment "Otomaru seed" "$w/list.wav" synth 0.01 sine 300 2>/dev/null
# A 7-byte odd chunk with its pad byte before fmt, and data placed before fmt.
printf 'RIFF\066\000\000\000WAVEodd \007\000\000\000abcdefg\000fmt \020\000\000\000\001\000\001\000\100\037\000\000\100\037\000\000\001\000\010\000data\002\000\000\000\200\201' > "$w/odd.wav"
printf 'RIFF\054\000\000\000WAVEdata\002\000\000\000\200\201fmt \020\000\000\000\001\000\001\000\100\037\000\000\100\037\000\000\001\000\010\000' > "$w/datafirst.wav"
# A data chunk that claims more than the file holds, an odd-sized data chunk with its pad byte,
# a 15-byte fmt chunk, an empty data chunk before a filled one, a non-PCM format with extra
# bytes, and a RIFF size larger than the file.
printf 'RIFF\044\000\000\000WAVEfmt \020\000\000\000\001\000\001\000\100\037\000\000\100\037\000\000\001\000\010\000data\000\000\000\100\200\201' > "$w/claims-1g.wav"
printf 'RIFF\052\000\000\000WAVEfmt \020\000\000\000\001\000\001\000\100\037\000\000\100\037\000\000\001\000\010\000data\003\000\000\000\200\201\202\000LIST\000\000\000\000' > "$w/odd-data.wav"
printf 'RIFF\053\000\000\000WAVEfmt \017\000\000\000\001\000\001\000\100\037\000\000\100\037\000\000\001\000\010\000data\002\000\000\000\200\201' > "$w/fmt15.wav"
printf 'RIFF\064\000\000\000WAVEfmt \020\000\000\000\001\000\001\000\100\037\000\000\100\037\000\000\001\000\010\000data\000\000\000\000data\002\000\000\000\200\201' > "$w/empty-then-data.wav"
printf 'RIFF\070\000\000\000WAVEfmt \026\000\000\000\003\000\001\000\100\037\000\000\000\175\000\000\004\000\040\000\004\000abcddata\004\000\000\000\000\000\200\077' > "$w/float-extra.wav"
printf 'RIFF\377\377\377\177WAVEfmt \020\000\000\000\001\000\001\000\100\037\000\000\100\037\000\000\001\000\010\000data\002\000\000\000\200\201' > "$w/riff-too-big.wav"
: > "$w/empty.wav"
cp "$w"/*.wav "$out/fuzz_wave_resource/"

s="$out/fuzz_set_file"
printf 'MOK_FILE\r\nC:\\Sounds\\\r\n// opening\r\nchime.wav,\203\140\203\203\203\103\203\200,2,112,0,0,1,0\r\ndrum\\roll.wav,drum,0,65,-10000,-600,3,500\r\n' > "$s/example.txt"
printf 'MOK_FILE\n\n\203\134.wav,so,0,0,0,0,0,0\n,,,,,,,\n/comment,a,1,2,3,4,5,6\n a,b, 12,12abc,+12,,-5,99999999999\n' > "$s/edges.txt"
printf 'MOK_FILE\n' > "$s/magic-only.txt"
printf 'MOK_FILE\rold mac\r' > "$s/cr-only.txt"
printf 'MOK_FILE\r\nd\\\r\na\000b.wav,nul,0,0,0,0,1,0\r\nx.wav,after,1,2,3,4,5,6' > "$s/nul-no-final-eol.txt"
printf 'MOK_FILE\000x\r\nd\\ \000y\r\na.wav,nul-head,0,0,0,0,1,0\r\n' > "$s/nul-head.txt"
{ printf 'MOK_FILE\r\nd\\\r\nlong.wav,'; head -c 4200 /dev/zero | tr '\000' 'n'; printf ',0,0,0,0,1,0\r\n'; } > "$s/long-line.txt"

printf '[Environment]\r\nSoundsFile="\211\271\214\271.txt"\r\n' > "$out/fuzz_settings/default.ini"
printf '; comment\n[other]\nkey=value\n[ENVIRONMENT]\nsoundsfile=plain.txt\n' > "$out/fuzz_settings/mixed.ini"
printf '[Environment]\nSoundsFile=""\n[Environment]\nSoundsFile="second.txt"\n' > "$out/fuzz_settings/twice.ini"
printf '[Environment]\r\nSoundsFile =  "spaced.txt"  \r\nOther="1"' > "$out/fuzz_settings/spaced.ini"

printf 'a,b,1,2,3,4,5,6\r\n' > "$out/fuzz_fields/plain"
printf '\203\054,\203\134,x' > "$out/fuzz_fields/lead"
# Compressed sounds: sox's encoders (FLAC, Vorbis, MP3 through LAME) and libsndfile's own
# writers (all four, Opus included), in several layouts.
d="$out/fuzz_sound_decoder"
mkdir -p "$d"
for layout in "-c 1 -r 8000" "-c 2 -r 44100" "-c 6 -r 48000"; do
    i=$((i + 1))
    for ext in flac ogg mp3; do
        # shellcheck disable=SC2086
        sox -n $layout "$d/sox$i.$ext" synth 0.02 sine 440 2>/dev/null || true
    done
done
seeds="$here/../build-fuzz/fuzz/make_sound_seeds"
if [ -x "$seeds" ]; then "$seeds" "$d"; else echo "no $seeds: libsndfile seeds skipped"; fi

r="$out/fuzz_remote"
mkdir -p "$r"
printf 'Play \351\225\267\343\201\204\nPlayKey Ctrl + F1\nStopAll\nList\nActivate\n' > "$r/requests"
printf '0 10\nchime\t1\nab1 5\nnone\n' > "$r/replies"
printf 'Play\nList x\n0 99999999999\n' > "$r/bad"
w="$out/fuzz_web_request"
mkdir -p "$w"
t=0123456789abcdef0123456789abcdef
printf 'GET /?token=%s HTTP/1.1\r\nHost: h:1\r\n\r\n' "$t" > "$w/page"
printf 'POST /api/play HTTP/1.1\r\nAuthorization: Bearer %s\r\nContent-Length: 22\r\n\r\n{"name":"\343\203\201\\u30e3"}' "$t" > "$w/play"
printf 'POST /api/stop HTTP/1.1\r\nAuthorization: Bearer %s\r\nContent-Length: 9\r\n\r\n{"id":12}GET /api/effects HTTP/1.0\r\nAuthorization: Bearer %s\r\n\r\n' "$t" "$t" > "$w/two"
printf 'GET /api/events?token=%s HTTP/1.1\r\nHost: h:1\r\nOrigin: http://h:1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n' "$t" > "$w/events"
printf 'POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\nab' > "$w/smuggle"
printf '{"index":-3,"key":"Ctrl + F1","name":"\\ud83d\\ude00\\n"}' > "$w/json"
o="$out/fuzz_osc"
mkdir -p "$o"
# Messages as liblo writes them: a padded path, a padded type tag string, padded strings.
printf '/otomaru/play\000\000\000,s\000\000\351\225\267\343\201\204\351\237\263\000\000\000' > "$o/play"
printf '/otomaru/play_key\000\000\000,s\000\000Ctrl + F1\000\000\000' > "$o/play_key"
printf '/otomaru/stop\000\000\000,s\000\000chime\000\000\000' > "$o/stop"
printf '/otomaru/stop_all\000\000\000,\000\000\000' > "$o/stop_all"
printf '/otomaru/subscribe\000\000,\000\000\000' > "$o/subscribe"
printf '/otomaru/play\000\000\000,i\000\000\000\000\000\001' > "$o/wrong-type"
printf '#bundle\000\000\000\000\000\000\000\000\001\000\000\000\030/otomaru/stop_all\000\000\000,\000\000\000' > "$o/bundle"
echo "seed corpus written to $out"
