#!/usr/bin/env bash
# Renders MIDI songs for the beat analysis' development set: FluidSynth with the General
# MIDI sound font to a 44.1 kHz stereo WAV of at most the song's first five minutes, and
# that WAV to a 96 kb/s MP3.
#   render.sh CACHE SECONDS NAME SONG.mid [NAME SONG.mid ...]   (each song's first SECONDS)
# The renders go to CACHE/RECIPE/NAME.wav and NAME.mp3, and only those missing are made;
# RECIPE names how they are made, so that a changed recipe renders anew beside the old
# renders. Prints CACHE/RECIPE.
# The render keeps the song's leading silence: tick 0 is the WAV's first sample, and a
# note sounds 1 to 3 ms after its time (FluidSynth starts notes on its 64-frame blocks).
set -euo pipefail
seconds=$2
recipe=fluidsynth-g0.4-${seconds}s-mp3-96k-v1
font=/usr/share/sounds/sf2/FluidR3_GM.sf2
out="$1/$recipe"
shift 2
for tool in fluidsynth ffmpeg flock; do
  command -v "$tool" >/dev/null || { echo "render.sh: no $tool (scripts/ensure-deps installs it)" >&2; exit 1; }
done
[ -f "$font" ] || { echo "render.sh: no $font (scripts/ensure-deps installs it)" >&2; exit 1; }
mkdir -p "$out"

# One song, each file written under a temporary name and renamed when whole, so that an
# interrupted run leaves nothing that looks done. FluidSynth stops when FFmpeg has its
# seconds and closes the pipe.
render() {  # NAME SONG.mid
  local wav="$out/$1.wav" mp3="$out/$1.mp3"
  if [ ! -f "$wav" ]; then
    { fluidsynth -n -i -q -F - -T raw -O s16 -r 44100 -g 0.4 "$font" "$2" || true; } |
      ffmpeg -nostdin -v error -y -f s16le -ar 44100 -ac 2 -i - -t "$seconds" -c:a pcm_s16le "$wav.part.wav"
    mv "$wav.part.wav" "$wav"
  fi
  if [ ! -f "$mp3" ]; then
    ffmpeg -nostdin -v error -y -i "$wav" -c:a libmp3lame -b:a 96k "$mp3.part.mp3"
    mv "$mp3.part.mp3" "$mp3"
  fi
}
export -f render
export out font seconds

# One run renders at a time (tests started side by side wait here), two songs at once.
exec 9>"$out/.lock"
flock 9
while [ $# -ge 2 ]; do
  [ -f "$out/$1.wav" ] && [ -f "$out/$1.mp3" ] || printf '%s\0%s\0' "$1" "$2"
  shift 2
done | xargs -0 -r -n 2 -P 2 bash -c 'render "$@"' render
echo "$out"
