#!/bin/sh
# Regenerates the notification sounds in resources/audio with SoX and LAME:
#   neworder.mp3  a new order arrived: a bright two-tone chime, struck twice
#   notify.wav    an order waits for confirmation: one soft ping
#   server.mp3    the service was finished: a rising major arpeggio
# Developer tool only; the client just plays the files. Needs: sox, lame
# (Debian: apt-get install sox libsox-fmt-mp3 lame; the mp3 format is for the summary at the end).
set -eu

src=$(cd "$(dirname "$0")/.." && pwd)
out=$src/resources/audio
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
rate=44100
mkdir -p "$out"

# repeatable mode: fixed seeds for the pluck noise and the dither, so reruns give the same files
sox() { command sox -R "$@"; }

calc() { awk "BEGIN { print $1 }"; }

# strike FILE FREQ LENGTH: one struck chime note. The fundamental rings for LENGTH seconds; the
# octave and the twelfth above it are quieter and die away sooner, which is what makes it sound
# like a struck bar rather than a beep.
strike() {
    f=$2 len=$3
    sox -n -r $rate -c 1 "$tmp/p1.wav" synth "$len" sine "$f" fade l 0.004 "$len" "$len"
    sox -n -r $rate -c 1 "$tmp/p2.wav" synth "$len" sine "$(calc "$f * 2")" \
        fade l 0.002 "$len" "$(calc "$len * 0.45")"
    sox -n -r $rate -c 1 "$tmp/p3.wav" synth "$len" sine "$(calc "$f * 3")" \
        fade l 0.002 "$len" "$(calc "$len * 0.2")"
    sox -m -v 0.7 "$tmp/p1.wav" -v 0.21 "$tmp/p2.wav" -v 0.07 "$tmp/p3.wav" "$1"
}

# pluck FILE LENGTH FREQ: a softer plucked note for the arpeggio, its brightest overtones
# filtered off so that it stays warm.
pluck() {
    sox -n -r $rate -c 1 "$tmp/k1.wav" synth "$2" pluck "$3" fade l 0.003 "$2" "$2" lowpass 3500
    sox -n -r $rate -c 1 "$tmp/k2.wav" synth "$2" sine "$3" fade l 0.01 "$2" "$2"
    sox -m -v 0.6 "$tmp/k1.wav" -v 0.35 "$tmp/k2.wav" "$1"
}

# sequence OUT NOTE-FILE DELAY [NOTE-FILE DELAY ...]: lays the notes out in time and mixes them.
sequence() {
    result=$1
    shift
    inputs=""
    i=0
    while [ $# -ge 2 ]; do
        sox "$1" "$tmp/seq$i.wav" pad "$2"
        inputs="$inputs -v 0.5 $tmp/seq$i.wav"
        i=$((i + 1))
        shift 2
    done
    # shellcheck disable=SC2086 # the input list is split on purpose
    sox -m $inputs "$result"
}

# finish IN OUT LENGTH PEAK: a little room (with head-room and silence for its tail), cut to
# LENGTH seconds with a short fade, normalised to PEAK dBFS.
finish() {
    sox "$1" "$tmp/room.wav" gain -6 pad 0 0.5 reverb 25 50 40
    sox "$tmp/room.wav" "$2" trim 0 "$3" fade t 0 "$3" 0.08 gain -n "$4"
}

mp3() {
    lame --quiet --noreplaygain -m m -b 80 "$1" "$2"
}

# New order: G6-E6, G6-E6.
strike "$tmp/g6.wav" 1568.0 0.9
strike "$tmp/e6.wav" 1318.5 0.9
sequence "$tmp/neworder-dry.wav" "$tmp/g6.wav" 0 "$tmp/e6.wav" 0.16 "$tmp/g6.wav" 0.44 "$tmp/e6.wav" 0.60
finish "$tmp/neworder-dry.wav" "$tmp/neworder.wav" 1.6 -2
mp3 "$tmp/neworder.wav" "$out/neworder.mp3"

# Waiting for confirmation: a single quiet B5.
sox -n -r $rate -c 1 "$tmp/ping1.wav" synth 0.7 sine 987.8 fade l 0.006 0.7 0.7
sox -n -r $rate -c 1 "$tmp/ping2.wav" synth 0.7 sine 1975.5 fade l 0.003 0.7 0.25
sox -m -v 0.8 "$tmp/ping1.wav" -v 0.12 "$tmp/ping2.wav" "$tmp/notify-dry.wav"
sox "$tmp/notify-dry.wav" "$tmp/notify-room.wav" gain -6 pad 0 0.3 reverb 15 50 30
sox "$tmp/notify-room.wav" -r 22050 -b 16 "$out/notify.wav" trim 0 0.8 fade t 0 0.8 0.08 gain -n -8

# Service finished: C5 E5 G5 C6, the last one left to ring.
pluck "$tmp/c5.wav" 0.7 523.25
pluck "$tmp/e5.wav" 0.7 659.26
pluck "$tmp/g5.wav" 0.7 783.99
pluck "$tmp/c6.wav" 1.1 1046.5
sequence "$tmp/server-dry.wav" "$tmp/c5.wav" 0 "$tmp/e5.wav" 0.09 "$tmp/g5.wav" 0.18 "$tmp/c6.wav" 0.27
finish "$tmp/server-dry.wav" "$tmp/server.wav" 1.45 -3
mp3 "$tmp/server.wav" "$out/server.mp3"

for f in "$out"/*; do
    printf '%s: %ss, %s bytes\n' "$(basename "$f")" "$(soxi -D "$f")" "$(wc -c <"$f")"
done
