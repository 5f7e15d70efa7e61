#!/usr/bin/env bash
# --capture from the command line: refusals with exit code 2 before any work, and a
# short capture that prints its one-line summary and no progress line when stderr is
# not a terminal. Stop signals are tests/output_files.sh's.
set -u
binary=$1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

expect_refusal() {  # expected-code description args...
  local want=$1 what=$2
  shift 2
  "$binary" "$@" >"$dir/out" 2>"$dir/err"
  local code=$?
  [ "$code" -eq "$want" ] || fail "$what: exit code $code, expected $want"
  # One line; a malformed command line adds the hint to --help.
  head -n 1 "$dir/err" | grep -q '^pulse165: ' && { [ "$(wc -l <"$dir/err")" -eq 1 ] || grep -q '^Try ' "$dir/err"; } ||
    fail "$what: expected one line on stderr, got: $(cat "$dir/err")"
}
expect_refusal 2 "an unknown extension" --capture="$dir/show.avi" --size=320x180 --to=1
expect_refusal 2 "a missing directory" --capture="$dir/missing/show.mp4" --size=320x180 --to=1
expect_refusal 2 "an odd size" --capture="$dir/show.mp4" --size=321x180 --to=1
expect_refusal 2 "an empty span" --capture="$dir/show.mp4" --from=10 --to=5
expect_refusal 2 "a span beyond the show" --capture="$dir/show.mp4" --to=3:10
[ -z "$(ls -A "$dir" | grep -v '^out$\|^err$')" ] || fail "refusals left files: $(ls -A "$dir")"

# A short capture: one summary line on stdout, nothing on stderr (not a terminal).
"$binary" --capture="$dir/short.mkv" --size=160x90 --from=1:00 --to=1:01 >"$dir/out" 2>"$dir/err"
code=$?
[ "$code" -eq 0 ] || fail "a short capture exited with $code: $(cat "$dir/err")"
[ -s "$dir/short.mkv" ] || fail "the short capture wrote no file"
grep -q '60 frames, 0:01.0 at 60 fps, 160x90' "$dir/out" || fail "unexpected summary: $(cat "$dir/out")"
[ ! -s "$dir/err" ] || fail "stderr should stay empty when it is not a terminal: $(cat "$dir/err")"
[ "$(ls "$dir" | grep -c short.mkv)" -eq 1 ] || fail "the temporary file was left behind: $(ls "$dir")"

# A capture that ends between two frames ends there, picture and sound alike.
"$binary" --capture="$dir/half.mkv" --size=64x32 --fps=1 --to=0.5 >"$dir/out" 2>"$dir/err" ||
  fail "a capture ending between frames: $(cat "$dir/err")"
grep -q '1 frames, 0:00.5 at 1 fps' "$dir/out" || fail "a capture ending between frames: $(cat "$dir/out")"
duration=$(ffprobe -v error -show_entries format=duration -of csv=p=0 "file:$dir/half.mkv")
[ "$duration" = 0.500000 ] || fail "a capture to 0.5 s at 1 fps lasts $duration s"

# Starting anywhere: a capture from the middle of a scene, and two segments joined with
# the concat demuxer, are the whole capture's frames within the fade's residue (lossless
# video: every plane within 1 level in every frame) and its sound sample for sample.
capture() { "$binary" --capture="$dir/$1" --size=160x80 --crf=0 "${@:2}" >/dev/null 2>"$dir/err" || fail "$1: $(cat "$dir/err")"; }
capture whole.mkv --from=20 --to=22
capture middle.mkv --from=21 --to=22
capture piece1.mkv --from=20 --to=22 --segment=1/2
capture piece2.mkv --from=20 --to=22 --segment=2/2
printf "file '%s'\n" "$dir/piece1.mkv" "$dir/piece2.mkv" >"$dir/pieces"
ffmpeg -nostdin -v error -f concat -safe 0 -i "$dir/pieces" -c copy "$dir/joined.mkv" || fail "the pieces do not join"
# The largest difference of any plane in any frame of two clips: one number.
largest_difference() {
  ffmpeg -nostdin -i "$1" -i "$2" -lavfi "[0:v]$3setpts=N/60/TB[a];[1:v]setpts=N/60/TB[b];[a][b]blend=all_mode=difference,\
signalstats,metadata=print" -f null - 2>&1 | grep -o 'signalstats.[YUV]MAX=[0-9]*' | cut -d= -f2 | sort -n | tail -n 1
}
sound() { ffmpeg -nostdin -v error -i "$1" -map 0:a -f s16le -; }
[ "$(largest_difference "$dir/whole.mkv" "$dir/middle.mkv" 'select=gte(n\,60),')" -le 1 ] ||
  fail "a capture from the middle differs from the whole capture by more than the residue"
[ "$(sound "$dir/whole.mkv" | tail -c +$((44100 * 4 + 1)) | md5sum)" = "$(sound "$dir/middle.mkv" | md5sum)" ] ||
  fail "a capture from the middle does not sound as the whole capture does there"
[ "$(largest_difference "$dir/whole.mkv" "$dir/joined.mkv" '')" -le 1 ] ||
  fail "two segments joined differ from the whole capture by more than the residue"
[ "$(sound "$dir/whole.mkv" | md5sum)" = "$(sound "$dir/joined.mkv" | md5sum)" ] ||
  fail "two segments joined do not sound as the whole capture"

[ "$failures" -eq 0 ] || exit 1
echo "capture command line: refusals and summary as expected"
