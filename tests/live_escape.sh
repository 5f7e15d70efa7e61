#!/usr/bin/env bash
# The live show under a virtual X server: it opens its window, plays on SDL's dummy
# audio driver, and ends with exit code 0 when Escape is pressed, also when it was
# started with stderr closed and has a line to write there; started near the end, of
# its own soundtrack or of a hand-picked track, it ends by itself.
set -u
binary=$1
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || { echo "Xvfb or xdotool missing"; exit 1; }

source "$(dirname "$0")/harness/xvfb.sh"
# shellcheck source=harness/crash.sh
source "$(dirname "$0")/harness/crash.sh"
xvfb=
show=
log=$(mktemp)
cleanup() {
  # A show stopped by the throttle below takes its SIGTERM once it runs again.
  [ -z "$show" ] || { kill "$show" && kill -CONT "$show"; } 2>/dev/null
  [ -z "$xvfb" ] || { kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; }
  rm -f "$log"
}
trap cleanup EXIT
start_xvfb 1280x720x24 || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=$xvfb_display SDL_AUDIODRIVER=dummy

# The show's window once it is visible, or nothing after 20 seconds.
show_window() { timeout 20 xdotool search --sync --onlyvisible --name '^pulse165$' 2>/dev/null | head -n 1; }
# Waits until the window shows something else than at first: the show draws.
until_drawing() {
  local first
  first=$(xwd -silent -id "$1" | md5sum)
  for _ in $(seq 100); do
    [ "$(xwd -silent -id "$1" | md5sum)" != "$first" ] && return 0
    sleep 0.2
  done
  return 1
}

# Wait until the show plays, then press Escape.
"$binary" >"$log" 2>&1 &
show=$!
window=$(show_window)
[ -n "$window" ] || { echo "the show's window never appeared"; cat "$log"; exit 1; }
until_drawing "$window" || { echo "the show never drew a frame"; cat "$log"; exit 1; }
kill -0 $show 2>/dev/null || { echo "the show ended before Escape"; cat "$log"; exit 1; }
xdotool key Escape
ended_within 10 "$log" || { echo "Escape did not end the show"; exit 1; }
cat "$log"
[ "$code" -eq 0 ] || { echo "exit code $code, expected 0"; exit 1; }
echo "the show ended on Escape with exit code 0"

# Started with stderr closed, the show writes its lines into /dev/null, not into
# whatever takes descriptor 2 next (the X connection: the show would wait for its
# answer for ever). Stopped for 40 ms of every 45 or so, as on a machine busy
# elsewhere, it cannot keep up for the two seconds after which it says so on stderr.
"$binary" --mute --window=320x160 >"$log" 2>&- &
show=$!
window=$(show_window)
[ -n "$window" ] || { echo "stderr closed: the show's window never appeared"; exit 1; }
until_drawing "$window" || { echo "stderr closed: the show never drew a frame"; exit 1; }
for _ in $(seq 75); do
  kill -STOP $show
  sleep 0.04
  kill -CONT $show
  sleep 0.005
done 2>/dev/null
xdotool windowfocus --sync "$window" 2>/dev/null
xdotool key Escape
ended_within 10 "$log" || { echo "stderr closed: Escape did not end the show within 10 s"; exit 1; }
[ "$code" -eq 0 ] || { echo "stderr closed: exit code $code, expected 0"; exit 1; }
echo "with stderr closed, the show fell behind and ended on Escape with exit code 0"

# Started near its end on the silent clock, the show ends by itself at the end of the
# buffer: well within a minute, however slow its start on a busy machine (played from
# the start, it would take three).
start=$(date +%s)
timeout 60 "$binary" --mute --window=320x160 --from=491b >"$log" 2>&1
code=$?
elapsed=$(( $(date +%s) - start ))
cat "$log"
[ "$code" -eq 0 ] || { echo "a muted show from beat 491 exited with $code, expected 0 (124: on after 60 s)"; exit 1; }
echo "the muted show from beat 491 ended by itself after about ${elapsed} s"

# A hand-picked track plays on the audio device from its own samples, says what was
# found in it, and ends by itself at its own end: two minutes long, started two seconds
# before it, well within a minute.
ffmpeg -nostdin -v error -f lavfi -i sine=f=220:d=120:r=48000 -c:a flac "$log.flac" || { echo "ffmpeg failed"; exit 1; }
start=$(date +%s)
timeout 60 "$binary" --window=320x160 --track="$log.flac" --from=118 >"$log" 2>&1
code=$?
elapsed=$(( $(date +%s) - start ))
rm -f "$log.flac"
cat "$log"
[ "$code" -eq 0 ] || { echo "a track from 1:58 of 2:00 exited with $code, expected 0 (124: on after 60 s)"; exit 1; }
grep -q "165.00 bpm, fallback, first beat at 0:00.00, gain" "$log" || { echo "no summary line for the track"; exit 1; }
echo "the 2-minute track from 1:58 ended by itself after about ${elapsed} s"
