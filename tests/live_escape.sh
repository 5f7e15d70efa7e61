#!/usr/bin/env bash
# The live show under a virtual X server: it opens its window, plays on SDL's dummy
# audio driver, and ends with exit code 0 when Escape is pressed; started near the end,
# of its own soundtrack or of a hand-picked track, it ends by itself.
set -u
binary=$1
command -v Xvfb >/dev/null && command -v xdotool >/dev/null || { echo "Xvfb or xdotool missing"; exit 1; }

display=:$((100 + RANDOM % 400))
Xvfb "$display" -screen 0 1280x720x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wait $xvfb 2>/dev/null' EXIT
for _ in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done 2>/dev/null

export DISPLAY=$display SDL_AUDIODRIVER=dummy
log=$(mktemp)
"$binary" >"$log" 2>&1 &
show=$!
# Wait for the window, let a few seconds of the show play, then press Escape.
if ! timeout 20 xdotool search --sync --onlyvisible --class pulse165 >/dev/null 2>&1 &&
   ! timeout 5 xdotool search --sync --onlyvisible --name pulse165 >/dev/null 2>&1; then
  echo "the show's window never appeared"; cat "$log"; kill $show 2>/dev/null; exit 1
fi
sleep 3
kill -0 $show 2>/dev/null || { echo "the show ended before Escape"; cat "$log"; exit 1; }
xdotool key Escape
for _ in $(seq 100); do kill -0 $show 2>/dev/null || break; sleep 0.1; done
if kill -0 $show 2>/dev/null; then echo "Escape did not end the show"; kill $show; exit 1; fi
wait $show
code=$?
cat "$log"
[ "$code" -eq 0 ] || { echo "exit code $code, expected 0"; exit 1; }
echo "the show ended on Escape with exit code 0"

# Started near its end on the silent clock, the show ends by itself at the end of the buffer.
start=$(date +%s)
timeout 20 "$binary" --mute --window=320x160 --from=491b >"$log" 2>&1
code=$?
elapsed=$(( $(date +%s) - start ))
cat "$log"
[ "$code" -eq 0 ] || { echo "a muted show from beat 491 exited with $code, expected 0"; exit 1; }
[ "$elapsed" -le 8 ] || { echo "a muted show from beat 491 took ${elapsed} s to end"; exit 1; }
echo "the muted show from beat 491 ended by itself after about ${elapsed} s"

# A hand-picked track plays on the audio device from its own samples, says what was
# found in it, and ends by itself at its own end.
ffmpeg -nostdin -v error -f lavfi -i sine=f=220:d=31:r=48000 -c:a flac "$log.flac" || { echo "ffmpeg failed"; exit 1; }
start=$(date +%s)
timeout 20 "$binary" --window=320x160 --track="$log.flac" --from=29 >"$log" 2>&1
code=$?
elapsed=$(( $(date +%s) - start ))
rm -f "$log.flac"
cat "$log"
[ "$code" -eq 0 ] || { echo "a track from 29 s exited with $code, expected 0"; exit 1; }
[ "$elapsed" -le 8 ] || { echo "a 31-second track from 29 s took ${elapsed} s to end"; exit 1; }
grep -q "165.00 bpm, fallback, first beat at 0:00.00, gain" "$log" || { echo "no summary line for the track"; exit 1; }
echo "the 31-second track from 29 s ended by itself after about ${elapsed} s"
