#!/usr/bin/env bash
# Long runs of the real program, headless and small: a few hundred frames of every
# scene (the benchmark), then the whole show captured end to end, which must hold
# exactly the 179 seconds of the buffer. In the sanitize preset's build, which .ci/run
# tests too, AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer watch both
# runs: any report, any leak at exit, fails the run.   tests/soak.sh BUILD/pulse165
set -u
binary=$(realpath "$1")
[ -x "$binary" ] || { echo "no program at $1"; exit 1; }
# shellcheck source=harness/crash.sh
source "$(dirname "$0")/harness/crash.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
if ldd "$binary" | grep -q libasan; then
  # Leaks are looked for at exit; a report turns the exit code non-zero.
  export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=1
  echo "sanitizer build: memory errors, undefined behaviour and leaks are checked"
fi
# Anything on stderr besides the program's own line is a sanitizer's report.
reports() { grep -E -m 5 -A 12 'ERROR: |runtime error:|LeakSanitizer' "$1"; }

# Every scene, 300 frames each (the two short scenes whole).
"$binary" --benchmark --frames=300 --size=160x80 >"$work/bench.out" 2>"$work/bench.err"
code=$?
[ "$code" -eq 0 ] || fail "the benchmark ended with $code: $(reports "$work/bench.err" || crash_report "$binary" "$work/bench.err" ||
  head -c 800 "$work/bench.err")"
[ ! -s "$work/bench.err" ] || fail "the benchmark wrote to stderr: $(head -c 800 "$work/bench.err")"
scenes=$(grep -cE '^ +[1-9] +[0-9]+-[0-9]+ ' "$work/bench.out")
[ "$scenes" -eq 9 ] || fail "the benchmark reported $scenes scenes, not 9: $(cat "$work/bench.out")"

# The whole show, from the first frame to the end of the buffer.
"$binary" --capture="$work/whole.mkv" --size=64x32 >"$work/capture.out" 2>"$work/capture.err"
code=$?
[ "$code" -eq 0 ] || fail "the whole-show capture ended with $code: $(reports "$work/capture.err" ||
  crash_report "$binary" "$work/capture.err" || head -c 800 "$work/capture.err")"
[ ! -s "$work/capture.err" ] || fail "the capture wrote to stderr: $(head -c 800 "$work/capture.err")"
# 179 s at 60 frames per second: frames 0 to 10739, the last one 1/60 s before the end.
grep -q '10740 frames, 2:59.0 at 60 fps, 64x32' "$work/capture.out" ||
  fail "the capture does not span the whole buffer: $(cat "$work/capture.out")"
[ -s "$work/whole.mkv" ] && [ "$(ls "$work" | grep -c whole.mkv)" -eq 1 ] || fail "the capture left no file, or its temporary one"

cat "$work/bench.out" "$work/capture.out"
[ "$failures" -eq 0 ] || exit 1
echo "soak: every scene and the whole show ran clean"
