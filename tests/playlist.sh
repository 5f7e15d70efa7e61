#!/usr/bin/env bash
# Songs played in turn, as the desktop sees and drives them: two generated songs of 35 s
# as arguments (with a file that cannot be played between them), muted in a small window
# under a virtual X server, with a private session bus. playerctl names the first song,
# moves to the second (the show says its tempo), pauses it (two grabs identical) and
# plays it on, sets its position; previous goes to its start, then to the first song; a
# third song dropped on the window (XDND, as a file manager drops) plays at once; q ends
# with exit code 0. A list in which nothing plays,
# and --bpm with several songs, end with exit code 2.   tests/playlist.sh BUILD/pulse165
set -u
binary=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
for tool in Xvfb xdotool xwd dbus-daemon playerctl ffmpeg; do
  command -v $tool >/dev/null || { echo "$tool is missing (scripts/ensure-deps installs it)"; exit 1; }
done
work=$(mktemp -d)
source "$here/harness/xvfb.sh"
xvfb=
bus=
show=
cleanup() {
  [ -z "$show" ] || kill "$show" 2>/dev/null
  [ -z "$bus" ] || kill "$bus" 2>/dev/null
  [ -z "$xvfb" ] || { kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; }
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# until SECONDS COMMAND...: runs COMMAND every 0.2 s until it succeeds; false at the end.
until_true() {
  local tries=$(($1 * 5))
  shift
  for _ in $(seq "$tries"); do
    "$@" && return 0
    sleep 0.2
  done
  return 1
}

# Kicks at a tempo, tagged with a title and an artist.
song() {
  ffmpeg -nostdin -v error -f lavfi -i "aevalsrc=0.6*sin(2*PI*55*t)*exp(-25*mod(t\,60/$2)):s=44100:d=35" \
    -ac 2 -metadata title="$3" -metadata artist="Test Band" "$work/$1"
}
song one.flac 120 "First Song" && song two.ogg 140 "Second Song" && song three.mp3 160 "Third Song" ||
  { echo "ffmpeg cannot make the songs"; exit 1; }
echo "not music" >"$work/broken.mp3"

# Nothing that plays, and options that belong to one song: exit code 2.
"$binary" --window=320x160 --mute "$work/broken.mp3" "$work/missing.flac" >/dev/null 2>"$work/stderr"
code=$?
[ "$code" -eq 2 ] && grep -q "none of the songs can be played" "$work/stderr" ||
  fail "a list that cannot play: exit code $code, stderr: $(cat "$work/stderr")"
"$binary" --bpm=120 "$work/one.flac" "$work/two.ogg" >/dev/null 2>"$work/stderr"
code=$?
[ "$code" -eq 2 ] && grep -q "one song, not to a list" "$work/stderr" ||
  fail "--bpm with two songs: exit code $code, stderr: $(cat "$work/stderr")"

start_xvfb 640x360x24 || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=$xvfb_display
dbus-daemon --session --nofork --print-address=3 3>"$work/bus" 2>/dev/null &
bus=$!
until_true 10 test -s "$work/bus" || { echo "dbus-daemon did not start"; exit 1; }
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus")
export DBUS_SESSION_BUS_ADDRESS
player() { playerctl -p pulse165 "$@" 2>/dev/null; }

"$binary" --window=320x160 --mute "$work/one.flac" "$work/broken.mp3" "$work/two.ogg" >"$work/stdout" \
  2>"$work/stderr" &
show=$!
window=$(timeout 60 xdotool search --sync --onlyvisible --name '^pulse165$' 2>/dev/null | head -n 1)
[ -n "$window" ] || { echo "FAIL: no window: $(cat "$work/stderr")"; exit 1; }
title_is() { [ "$(player metadata title)" = "$1" ]; }
until_true 10 title_is "First Song" || fail "playerctl does not name the first song: '$(player metadata title)'"
[ "$(player metadata artist)" = "Test Band" ] || fail "the artist: '$(player metadata artist)'"
player next
until_true 20 title_is "Second Song" || fail "next did not bring the second song: '$(player metadata title)'"
grep -q "^pulse165: 3/3 Test Band – Second Song: .*two.ogg: 140.00 bpm" "$work/stdout" ||
  fail "the second song's line: $(cat "$work/stdout")"
grep -q "broken.mp3: .*skipped" "$work/stderr" || fail "the broken song was not said to be skipped: $(cat "$work/stderr")"

# Paused, the picture holds still; played on, it moves.
player pause
until_true 10 test "$(player status)" = Paused || fail "pause: status $(player status)"
sleep 0.5
xwd -silent -id "$window" >"$work/a.xwd"
sleep 0.7
xwd -silent -id "$window" >"$work/b.xwd"
cmp -s "$work/a.xwd" "$work/b.xwd" || fail "paused, the picture moved"
player play
until_true 10 test "$(player status)" = Playing || fail "play: status $(player status)"
sleep 0.5
xwd -silent -id "$window" >"$work/c.xwd"
cmp -s "$work/b.xwd" "$work/c.xwd" && fail "played on, the picture holds still"
player position 20
near_20() { awk -v p="$(player position)" 'BEGIN { exit !(p >= 19.5 && p < 23) }'; }
until_true 5 near_20 || fail "position 20: at $(player position)"
# Previous: past a song's first seconds its start, within them the song before.
player previous
near_start() { awk -v p="$(player position)" 'BEGIN { exit !(p < 2.5) }'; }
until_true 5 near_start || fail "previous at 20 s: at $(player position), not the start"
title_is "Second Song" || fail "previous at 20 s left the song: '$(player metadata title)'"
player previous
until_true 20 title_is "First Song" || fail "previous at the start did not bring the first song back"

# A song dropped on the window joins the list and plays now.
"$here/harness/xdnd_drop.py" "$window" "$work/three.mp3" || fail "the drop did not reach the window"
until_true 20 title_is "Third Song" || fail "the dropped song does not play: '$(player metadata title)'"
grep -q "^pulse165: 4/4 Test Band – Third Song" "$work/stdout" || fail "the dropped song's line: $(cat "$work/stdout")"

xdotool windowfocus "$window" key q 2>/dev/null
for _ in $(seq 50); do kill -0 $show 2>/dev/null || break; sleep 0.2; done
if kill -0 $show 2>/dev/null; then
  fail "q did not end the show"
else
  wait $show
  code=$?
  [ "$code" -eq 0 ] || fail "exit code $code after q: $(cat "$work/stderr")"
fi
show=

[ "$failures" -eq 0 ] || cat "$work/stdout" "$work/stderr"
echo "playlist: $failures failed"
[ "$failures" -eq 0 ]
