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

[ "$failures" -eq 0 ] || exit 1
echo "capture command line: refusals and summary as expected"
