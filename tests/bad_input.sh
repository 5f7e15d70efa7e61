#!/usr/bin/env bash
# Bad input everywhere: every option with malformed, missing, out-of-range or absurd
# values, output paths that cannot be written and tracks that cannot be played. Each
# row of the table must end the program with exit code 2, one line on stderr (a
# malformed command line may add the hint to --help), nothing on stdout, no file
# left behind, and fast: before any rendering starts. Output rows ask for a large
# picture, so that rendering before the check would blow the time limit.
#   tests/bad_input.sh BUILD/pulse165
set -u
binary=$(realpath "$1")
[ -x "$binary" ] || { echo "no program at $1"; exit 1; }
work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
fix=$work/fixtures   # inputs the rows read
out=$work/out        # where the rows would write; must stay as it is
mkdir -p "$fix" "$out/folder" "$out/folder.png" "$out/folder.mkv"
mkfifo "$out/pipe.png" "$out/pipe.mkv"
# A loaded machine (CI's two cores running two tests) takes a second or more just to
# start the program; the rows' large pictures would take far longer to render.
limit_ms=5000
big=--size=3840x1920
failures=0
tried=0
prefix=()  # what the binary runs under: set for the rows without a display
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Tracks: the committed seed streams, random bytes, an empty file, a directory.
corpus=$(cd "$(dirname "$0")" && pwd)/fuzz/corpus
for name in mono-44100 stereo-44100 stereo-48000 mono-48000 three-channels-22050 cut-in-setup-header \
  cut-after-first-page not-vorbis-identification; do
  cp "$corpus/$name.ogg" "$fix/$name.ogg" || { echo "missing seed stream $name.ogg"; exit 1; }
done
head -c 20000 /dev/urandom >"$fix/random.ogg"
# Half a minute of tone, in two formats: long enough to play.
ffmpeg -nostdin -v error -f lavfi -i sine=f=220:d=31:r=48000 -c:a flac "$fix/tone-48000.flac" &&
  ffmpeg -nostdin -v error -f lavfi -i sine=f=330:d=31 -ac 2 -c:a libvorbis "$fix/tone-44100.ogg" &&
  ffmpeg -nostdin -v error -f lavfi -i sine=f=440:d=30.01 -c:a flac "$fix/tone-30.01.flac" ||
  { echo "ffmpeg cannot make the test tones"; exit 1; }
: >"$fix/empty.ogg"
mkdir "$fix/folder.ogg"

listing() { (cd "$out" && find . | sort); }
before=$(listing)

# expect CODE DESCRIPTION ARGS...: the row's exit code, one-line message, speed, no leftovers.
expect() {
  local want=$1 what=$2
  shift 2
  tried=$((tried + 1))
  local start end elapsed code
  start=$(date +%s%N)
  (cd "$out" && exec "${prefix[@]}" "$binary" "$@") >"$work/stdout" 2>"$work/stderr" </dev/null
  code=$?
  end=$(date +%s%N)
  elapsed=$(((end - start) / 1000000))
  [ "$code" -eq "$want" ] || fail "$what ($*): exit code $code, expected $want; stderr: $(head -c 300 "$work/stderr")"
  local lines
  lines=$(wc -l <"$work/stderr")
  if ! head -n 1 "$work/stderr" | grep -q '^pulse165: ..'; then
    fail "$what: the message does not start with 'pulse165: ': $(head -c 300 "$work/stderr")"
  elif [ "$lines" -gt 2 ] || { [ "$lines" -eq 2 ] && ! sed -n 2p "$work/stderr" | grep -q "^Try 'pulse165 --help'"; }; then
    fail "$what: more than one line on stderr: $(cat "$work/stderr")"
  fi
  [ -s "$work/stdout" ] && fail "$what: wrote to stdout: $(head -c 200 "$work/stdout")"
  [ "$elapsed" -le "$limit_ms" ] || fail "$what: took $elapsed ms, more than $limit_ms ms: the check comes too late"
  [ "$(listing)" = "$before" ] || fail "$what: left files behind: $(listing | tr '\n' ' ')"
  # Whatever a row left, the next row starts from the same folder.
  if [ "$(listing)" != "$before" ]; then
    find "$out" -mindepth 1 -maxdepth 1 ! -name 'folder*' ! -name 'pipe.*' -exec rm -rf {} +
  fi
}
# expect_words CODE DESCRIPTION WORD ARGS...: as expect, and the message names WORD.
expect_words() {
  local want=$1 what=$2 word=$3
  shift 3
  expect "$want" "$what" "$@"
  grep -q -- "$word" "$work/stderr" || fail "$what: the message does not mention '$word': $(cat "$work/stderr")"
}
# expect_misuse CODE DESCRIPTION WORD ARGS...: as expect_words, and told as a malformed
# command line is, with the hint to --help: for options found wrong only once the track is known.
expect_misuse() {
  expect_words "$@"
  sed -n 2p "$work/stderr" | grep -q "^Try 'pulse165 --help'" || fail "$2: no hint to --help: $(cat "$work/stderr")"
}
shot=(--screenshot=shot.png --at=1:00)
cap=(--capture=show.mkv --size=320x160 --to=0:01)

# Picture and window sizes.
for size in 0x0 -5x10 99999x99999 16385x100 100x16385 10x0 0x10 x10 10x 10 10x10x10 abc 1e3x1e3 " 10x10" 10X10 10x-10 ""; do
  expect 2 "picture size '$size'" "${shot[@]}" "--size=$size"
  expect 2 "benchmark size '$size'" --benchmark "--size=$size"
done
for size in 0x0 -5x10 99999x99999 abc ""; do
  expect 2 "window size '$size'" "--window=$size"
done

# Frame rates and counts.
for fps in 0 100000 241 -1 2.5 abc "" 1e2 " 30" 0x1e; do
  expect 2 "frame rate '$fps'" "${cap[@]}" "--fps=$fps"
done
for frames in 0 100001 -3 ten "" 9999999999; do
  expect 2 "benchmark frame count '$frames'" --benchmark "--frames=$frames"
done

# Times: past the end, negative, malformed.
for at in 180 179.001 3:00 2:59.5 -1 -0.5 493b 492.26b -1b 1e9 inf nan 1:60 1:-5 -1:00 1.5:00 1:2:3 b 1:b "" abc " 5" "5 " 10s \
  0x10 1e2 0x1p3 +5 +5b 5. .5 1:5 1:005 1:05: 1,5 infb nanb 1e1b 0x10b "5 b" 1:05b; do
  expect 2 "screenshot time '$at'" --screenshot=shot.png "--at=$at"
done
for t in 180 -1 493b abc ""; do
  expect 2 "capture start '$t'" "${cap[@]}" "--from=$t"
  expect 2 "capture end '$t'" --capture=show.mkv --size=320x160 "--to=$t"
done
expect 2 "a capture that ends before it starts" --capture=show.mkv --size=320x160 --from=20 --to=10
expect 2 "a capture that ends where it starts" --capture=show.mkv --size=320x160 --from=20 --to=20
expect 2 "a live start at the end of the show" --from=179
expect 2 "a live start past the end" --from=200

# Encoder settings: out of every scale, out of the codec's, unknown, or without a capture.
for crf in -1 64 1.5 abc "" " 5" 0x10; do
  expect 2 "crf '$crf'" "${cap[@]}" "--crf=$crf"
done
expect_words 2 "crf 52 for H.264" 51 "${cap[@]}" --crf=52
for preset in fastest ULTRAFAST "" " medium" veryfast,fast; do
  expect 2 "preset '$preset'" "${cap[@]}" "--preset=$preset"
done
for segment in 0/2 3/2 1/0 2 a/b 1/1001 "" " 1/2" 1/2/3; do
  expect 2 "segment '$segment'" "${cap[@]}" "--segment=$segment"
done
expect 2 "--segment with a screenshot" "${shot[@]}" --segment=1/2
expect 2 "--crf with a screenshot" "${shot[@]}" --crf=20
expect 2 "--preset with a benchmark" --benchmark --preset=fast

# Sizes beyond what the encoder or the memory serves, refused before any rendering:
# within a few seconds, where one frame of that size would take a minute.
limit_ms=3000
expect_words 2 "an H.264 capture of 16384x16384" 16384x16384 --capture=show.mp4 --size=16384x16384
expect_words 2 "a VP9 capture of 16384x16384" 16384x16384 --capture=show.webm --size=16384x16384
limit_ms=5000
# The process's own address-space limit counts as the free memory does (not in the
# sanitizer build: AddressSanitizer reserves terabytes of address space for itself).
if ! ldd "$binary" | grep -q libasan; then
  prefix=(bash -c 'ulimit -v 2000000 && exec "$@"' limited)
  expect_words 2 "a screenshot beyond ulimit -v" "ulimit -v" --screenshot=shot.png --at=1 --size=16384x16384
  prefix=(bash -c 'ulimit -v 1000000 && exec "$@"' limited)
  expect_words 2 "a capture beyond ulimit -v" "ulimit -v" --capture=show.mp4 --size=3840x2160 --to=1
  prefix=()
fi

# Empty file names and options that need a value.
expect 2 "an empty screenshot name" --screenshot= --at=10
expect 2 "an empty capture name" --capture= --size=320x160
expect 2 "an empty track name" --track= "${shot[@]}"
expect 2 "--screenshot without a value" --screenshot
expect 2 "--at without a value" --screenshot=shot.png --at
expect 2 "--track without a value" --track

# Options that do not belong together, unknown options, stray arguments.
expect 2 "a screenshot without a time" --screenshot=shot.png
expect 2 "a time without a screenshot" --at=10
expect 2 "two modes at once" "${shot[@]}" --capture=show.mkv
expect 2 "a screenshot and a benchmark" "${shot[@]}" --benchmark
expect 2 "--mute with a screenshot" --mute "${shot[@]}"
expect 2 "--json without a benchmark" --json
expect 2 "--frames without a benchmark" --frames=10
expect 2 "--fps without a capture" --fps=30
expect 2 "--to without a capture" --to=10
expect 2 "--size for the live show" --size=640x320
expect 2 "--track-info without a track" --track-info
expect 2 "--track-info with a screenshot" --track-info --track="$fix/tone-48000.flac" "${shot[@]}"
expect 2 "--json with a screenshot" --json "${shot[@]}"
expect 2 "--bpm without a track" --bpm=128 "${shot[@]}"
expect 2 "--first-beat without a track" --first-beat=0.5
for bpm in 39.9 300.5 1e2 ""; do
  expect 2 "tempo '$bpm'" --track-info --track="$fix/tone-48000.flac" "--bpm=$bpm"
done
for first in 4b -1 1:75; do
  expect 2 "first beat '$first'" --track-info --track="$fix/tone-48000.flac" "--first-beat=$first"
done
expect 2 "--window with a screenshot" --window "${shot[@]}"
expect 2 "--window with a capture" --window=320x160 --capture=show.mkv $big
expect 2 "--window with a benchmark" --window --benchmark
expect 2 "--loop with a capture" --loop --capture=show.mkv $big
expect 2 "--display with a screenshot" --display=0 "${shot[@]}"
expect 2 "a display that is no number" --display=one
expect 2 "a negative display" --display=-1
expect 2 "a display beyond 63" --display=64
expect 2 "--loop with a value" --loop=3
expect 2 "an unknown option" --bogus
expect 2 "an unknown short option" -x
expect 2 "a stray argument" extra
expect 2 "--help with a value" --help=yes

# Outputs that cannot be written: a directory, a missing directory, /proc, an odd
# picture size or an unknown file type for video.
expect_words 2 "a screenshot onto a directory" folder.png "$big" --screenshot=folder.png --at=1:00
expect_words 2 "a screenshot into a missing directory" missing "$big" --screenshot=missing/shot.png --at=1:00
expect_words 2 "a screenshot into /proc" /proc "$big" --screenshot=/proc/shot.png --at=1:00
expect_words 2 "a screenshot onto a path through a file" shot "$big" --screenshot="$fix/empty.ogg/shot.png" --at=1:00
expect_words 2 "a capture onto a directory" folder.mkv --capture=folder.mkv --size=320x160
expect_words 2 "a capture into a missing directory" missing --capture=missing/show.mkv --size=320x160
expect_words 2 "a capture into /proc" /proc --capture=/proc/show.mkv --size=320x160
expect_words 2 "a capture of unknown type" show.avi --capture=show.avi --size=320x160
expect_words 2 "a capture without a file type" folder --capture=folder --size=320x160
expect_words 2 "a capture at an odd size" 321x160 --capture=show.mkv --size=321x160
expect_words 2 "a screenshot that is no PNG" .png "$big" --screenshot=shot.jpg --at=1:00
expect_words 2 "a screenshot without a file type" .png "$big" --screenshot=shot --at=1:00
expect_words 2 "a screenshot onto a pipe" regular "$big" --screenshot=pipe.png --at=1:00
expect_words 2 "a capture onto a pipe" regular --capture=pipe.mkv --size=320x160
expect_words 2 "a capture of a 256-byte name" "too long" --capture="$(printf 'n%.0s' $(seq 252)).mkv" --size=320x160
if [ "$(id -u)" -ne 0 ]; then
  # Permissions do not bind root, so these rows run only for other users.
  mkdir "$work/locked"
  chmod 555 "$work/locked"
  expect_words 2 "a screenshot into a read-only directory" locked "$big" --screenshot="$work/locked/shot.png" --at=1:00
  expect_words 2 "a capture into a read-only directory" locked --capture="$work/locked/show.mkv" --size=320x160
  [ -z "$(ls -A "$work/locked")" ] || fail "the read-only directory was written: $(ls -A "$work/locked")"
  cp "$fix/mono-44100.ogg" "$fix/unreadable.ogg"
  chmod 000 "$fix/unreadable.ogg"
  expect_words 2 "an unreadable track" unreadable "${shot[@]}" --track="$fix/unreadable.ogg"
else
  echo "running as root: the read-only directory and unreadable track rows are skipped"
fi

# Tracks that cannot be played, refused before anything is drawn, also live without a display.
expect_words 2 "a missing track" none.ogg "${shot[@]}" --track="$fix/none.ogg"
expect_words 2 "a directory as the track" folder.ogg "${shot[@]}" --track="$fix/folder.ogg"
expect_words 2 "a device as the track" /dev/zero "${shot[@]}" --track=/dev/zero
expect_words 2 "random bytes as the track" random.ogg "${shot[@]}" --track="$fix/random.ogg"
expect_words 2 "an empty track" empty.ogg "${shot[@]}" --track="$fix/empty.ogg"
expect_words 2 "a track cut in its headers" cut-in-setup "${shot[@]}" --track="$fix/cut-in-setup-header.ogg"
expect_words 2 "a track of one page" cut-after-first "${shot[@]}" --track="$fix/cut-after-first-page.ogg"
expect_words 2 "a track that is not Vorbis" not-vorbis "${shot[@]}" --track="$fix/not-vorbis-identification.ogg"
expect_words 2 "a track shorter than half a minute" "30.0 s" "${shot[@]}" --track="$fix/stereo-48000.ogg"
expect_words 2 "a capture to a short track" "30.0 s" "${cap[@]}" --track="$fix/three-channels-22050.ogg"
expect_misuse 2 "a first beat past the track's end" "past the end" --track-info --track="$fix/tone-48000.flac" --first-beat=31.5
expect_misuse 2 "a moment past the track's end" "0:31.0" "${shot[@]}" --track="$fix/tone-48000.flac" --at=31.1
expect_misuse 2 "a beat past the track's end" "from its first beat" "${shot[@]}" --track="$fix/tone-48000.flac" --at=100b
# The last beat that the message allows is taken (82.5275 beats: "0 to 82.52", not 82.53).
expect_misuse 2 "a beat past a track's end" "from its first beat" "${shot[@]}" --track="$fix/tone-30.01.flac" --at=83b
last=$(sed -n 's/.*beats 0 to \([0-9.]*\) from .*/\1/p' "$work/stderr")
tried=$((tried + 1))
"$binary" --screenshot="$work/last.png" --at="${last}b" --size=64x32 --track="$fix/tone-30.01.flac" >/dev/null 2>"$work/stderr" ||
  fail "the last beat the message allows, ${last}b, is refused: $(cat "$work/stderr")"
expect_misuse 2 "a capture that ends before it starts, on a track" "span is empty" "${cap[@]}" \
  --track="$fix/tone-48000.flac" --from=20 --to=10
prefix=(env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER)
expect_words 2 "a live show to random bytes, without a display" random.ogg --track="$fix/random.ogg"
expect_words 2 "a live show to a missing track, without a display" none.ogg --window --track="$fix/none.ogg"
expect_words 2 "a muted live show to a short track, without a display" "30.0 s" --mute --track="$fix/stereo-48000.ogg"
expect_misuse 2 "a live start past a track's end, without a display" "end of the track" --track="$fix/tone-44100.ogg" \
  --from=0:31
prefix=()

# Tracks that play: FLAC at 48 kHz and Ogg Vorbis (into a name with .png in capitals), MP3
# in an AVI and MP2 in an MPEG-TS (each beside a video stream), 32 channels in a WAV.
video=(-f lavfi -i testsrc=s=32x32:r=1:d=31 -f lavfi -i sine=f=220:d=31)
ffmpeg -nostdin -v error "${video[@]}" -c:v mpeg4 -c:a libmp3lame "$fix/tone-mp3.avi" &&
  ffmpeg -nostdin -v error "${video[@]}" -c:v mpeg2video -c:a mp2 "$fix/tone-mp2.ts" &&
  ffmpeg -nostdin -v error -f lavfi -i "aevalsrc=$(printf 'sin(440*PI*t)|%.0s' {1..31})sin(440*PI*t):s=8000:d=31" \
    -c:a pcm_s16le "$fix/tone-32-channels.wav" ||
  { echo "ffmpeg cannot make the test tracks"; exit 1; }
for name in tone-48000.flac tone-44100.ogg tone-mp3.avi tone-mp2.ts tone-32-channels.wav; do
  tried=$((tried + 1))
  if "$binary" --screenshot="$work/$name.PNG" --at=0.2 --size=64x32 --track="$fix/$name" >"$work/stdout" 2>"$work/stderr"; then
    [ -s "$work/$name.PNG" ] || fail "the $name track was accepted but no picture was written"
  else
    fail "the $name track was refused: $(cat "$work/stderr")"
  fi
done

# A file name that is not UTF-8 reads as U+FFFD in --json, which stays valid JSON.
tried=$((tried + 1))
odd=$fix/$'\xff'.flac
cp "$fix/tone-48000.flac" "$odd"
if "$binary" --track-info --json --track="$odd" >"$work/stdout" 2>"$work/stderr"; then
  python3 -c 'import json, sys; assert "\ufffd.flac" in json.loads(sys.stdin.buffer.read().decode())["file"]' \
    <"$work/stdout" 2>/dev/null || fail "--json on a file name that is not UTF-8: $(head -c 300 "$work/stdout")"
else
  fail "the track with a name that is not UTF-8 was refused: $(cat "$work/stderr")"
fi

echo "$tried bad or odd inputs tried, $failures failed"
[ "$failures" -eq 0 ]
