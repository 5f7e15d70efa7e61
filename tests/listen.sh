#!/usr/bin/env bash
# Listening, end to end, under a private PulseAudio with a null sink and a virtual X
# server: --listen=list names the sink's monitor as the default; a source that does not
# exist ends with exit code 2 naming the ones that do, and no sound server with exit
# code 1. The live show listens in a window while paplay plays a generated 128-bpm
# track into the sink, then one at 140 bpm: it says it locked on each tempo (within
# 0.5 bpm, after how many seconds of sound), and q ends it with exit code 0.
#   tests/listen.sh BUILD/pulse165
set -u
binary=$(realpath "$1")
for tool in pulseaudio pactl paplay ffmpeg Xvfb xdotool; do
  command -v $tool >/dev/null || { echo "$tool is missing (scripts/ensure-deps installs it)"; exit 1; }
done
here=$(dirname "$0")
work=$(mktemp -d)
source "$here/harness/xvfb.sh"
source "$here/harness/pulse.sh"
xvfb= pulse= show= player=
cleanup() {
  for pid in $show $player $pulse $xvfb; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Kicks on the beats (the first of each bar louder), noisy hats between them.
track() {
  local beat="60/$1"
  local kick="(0.5+0.3*lt(mod(t,4*$beat),$beat))*sin(2*PI*55*t)*exp(-25*mod(t,$beat))"
  local hat="0.15*(random(0)-0.5)*exp(-60*mod(t+$beat/2,$beat))"
  ffmpeg -loglevel error -y -f lavfi -i "aevalsrc='$kick+$hat|$kick+$hat':s=44100:d=$2" -c:a pcm_s16le "$work/$1.wav"
}
track 128 24 && track 140 24 || { echo "ffmpeg cannot make the tracks"; exit 1; }

PULSE_SERVER=unix:$work/nowhere "$binary" --listen --window >"$work/out" 2>"$work/err"
code=$?
[ $code -eq 1 ] || fail "no sound server: exit code $code, expected 1"
grep -q "no sound server" "$work/err" || fail "no sound server: $(cat "$work/err")"

start_pulse "$work" || { echo "the private sound server did not start"; cat "$work/pulseaudio.log"; exit 1; }
start_xvfb 640x480x24 || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=$xvfb_display

"$binary" --listen=list >"$work/list" 2>&1 || fail "--listen=list: exit code $?"
grep -q '^ *1 \* show.monitor (Monitor of Null Output' "$work/list" || fail "--listen=list: $(cat "$work/list")"
"$binary" --listen=nothing.here --window >/dev/null 2>"$work/err"
code=$?
[ $code -eq 2 ] || fail "an unknown source: exit code $code, expected 2"
grep -q "nothing.here" "$work/err" && grep -q "show.monitor" "$work/err" || fail "an unknown source: $(cat "$work/err")"

# Lines of stderr as they come, the show in a window of its own.
"$binary" --listen --window=320x160 2>"$work/err" &
show=$!
# Waits up to $2 seconds for a line matching $1 on the show's stderr.
wait_line() {
  for _ in $(seq $(($2 * 10))); do
    grep -q "$1" "$work/err" && return 0
    kill -0 $show 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}
wait_line "listening to Monitor of Null Output" 20 || fail "no 'listening to' line: $(cat "$work/err")"
(paplay -d show "$work/128.wav" && paplay -d show "$work/140.wav") &
player=$!
# The lock's tempo within 0.5 bpm of the track's.
locked_near() {
  grep -o "locked: [0-9.]* bpm after [0-9.]* s of sound" "$work/err" | awk -v want="$1" '
    { d = $2 - want; if (d < 0) d = -d; if (d <= 0.5) { print; found = 1; exit } } END { exit !found }'
}
for bpm in 128 140; do
  for _ in $(seq 300); do
    locked_near $bpm >/dev/null && break
    kill -0 $show 2>/dev/null || break
    sleep 0.1
  done
  line=$(locked_near $bpm) && echo "$bpm bpm: $line" || fail "no lock on $bpm bpm: $(cat "$work/err")"
done
wait $player
player=
window=$(xdotool search --pid $show 2>/dev/null | head -1)
[ -n "$window" ] && xdotool key --window "$window" q
for _ in $(seq 100); do kill -0 $show 2>/dev/null || break; sleep 0.1; done
wait $show
code=$?
show=
[ $code -eq 0 ] || fail "q: exit code $code, expected 0"
grep -v "cannot keep up" "$work/err" | grep -Eq "error|cannot" && fail "unexpected lines: $(cat "$work/err")"

[ $failures -eq 0 ] && echo "listening: all good" || echo "$failures failure(s)"
exit $((failures > 0))
