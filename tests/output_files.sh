#!/usr/bin/env bash
# Output files against the real program: names that look like FFmpeg URLs land at
# exactly that path; two captures of one name each leave a whole file of their own;
# every stop signal that can be caught, during a capture and during a large
# screenshot, leaves nothing and ends with 128 + its number; a leftover of a killed
# run blocks nothing; a name of 252 bytes works; --crf and --preset reach the file.
#   tests/output_files.sh BUILD/pulse165
set -u
set -m  # background runs get the signals' usual actions, SIGINT and SIGQUIT included
binary=$(realpath "$1")
[ -x "$binary" ] || { echo "no program at $1"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# The decoded video's frame count and duration in seconds: "30 0.500000".
frames_and_seconds() {
  echo "$(ffprobe -v error -select_streams v -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "file:$1")" \
    "$(ffprobe -v error -show_entries format=duration -of csv=p=0 "file:$1")"
}
clean() { rm -rf "$work"/*; }

# Names with a colon, or starting like a protocol: written there, nowhere else.
for name in 'clip-1:00-1:30.mp4' 'pipe:1.mkv' 'file:x.mkv'; do
  "$binary" --capture="$name" --size=160x90 --to=0.5 >out 2>err
  code=$?
  [ "$code" -eq 0 ] || fail "$name: exit code $code: $(cat err)"
  [ "$(wc -l <out)" -eq 1 ] && grep -q "^$name: 30 frames" out || fail "$name: stdout is not the summary line alone"
  [ "$(frames_and_seconds "$name")" = "30 0.500000" ] || fail "$name: the file is not the capture: $(ls)"
  [ "$(ls | grep -vc '^out$\|^err$')" -eq 1 ] || fail "$name: other files: $(ls)"
  clean
done

# Two captures of the same name at once: a short one runs whole while a long one is
# under way. At its end the short one's file stands, whole; at the long one's end, the
# long one's. Neither mixes with the other, and nothing else is left.
"$binary" --capture=same.mkv --size=160x90 --from=20 --to=30 >long.out 2>&1 &
long=$!
for _ in $(seq 600); do [ -n "$(find . -name 'same.mkv.part-*' -size +0)" ] && break; sleep 0.05; done
"$binary" --capture=same.mkv --size=160x90 --from=10 --to=10.5 >short.out 2>&1
[ $? -eq 0 ] || fail "the shorter of two concurrent captures failed: $(cat short.out)"
# A hard link holds the file that stands now, whichever run it is from, for both probes.
ln same.mkv standing.mkv
found=$(frames_and_seconds standing.mkv)
rm standing.mkv
case $found in
  "30 0.500000") ;;
  "600 10.000000") echo "the long capture ended before the short one was probed; its file is checked alone" ;;
  *) fail "the file that stands after the short capture is neither run's whole file: $found" ;;
esac
wait $long || fail "the longer of two concurrent captures failed: $(cat long.out)"
found=$(frames_and_seconds same.mkv)
[ "$found" = "600 10.000000" ] || fail "the last capture to finish does not stand whole: $found"
[ "$(ls same.mkv*)" = same.mkv ] || fail "the concurrent captures left files: $(ls)"
clean

# Stop signals: during a capture once its file grows, during a large screenshot once
# its file is reserved; and the limit on file sizes striking in the middle of a PNG.
stopped() {  # SIGNAL RUN CODE: exit code 128 + the signal's number, one line, no file
  local want=$((128 + $(kill -l "$1")))
  [ "$3" -eq "$want" ] || fail "SIG$1 during a $2: exit code $3, expected $want"
  [ "$(wc -l <err)" -eq 1 ] && grep -q "^pulse165: $2 interrupted" err || fail "SIG$1, $2: $(cat err)"
  [ -z "$(ls | grep -v '^err$')" ] || fail "SIG$1 during a $2 left: $(ls)"
  clean
}
for signal in INT TERM HUP PIPE QUIT USR1 USR2 ALRM XFSZ XCPU; do
  "$binary" --capture=stop.mp4 --size=160x90 >/dev/null 2>err &
  pid=$!
  for _ in $(seq 600); do [ -n "$(find . -name 'stop.mp4.part-*' -size +0)" ] && break; sleep 0.05; done
  kill -s "$signal" $pid
  wait $pid
  stopped "$signal" capture $?
  "$binary" --screenshot=stop.png --at=0 --size=2048x2048 >/dev/null 2>err &
  pid=$!
  for _ in $(seq 600); do [ -n "$(ls stop.png.part-* 2>/dev/null)" ] && break; sleep 0.02; done
  kill -s "$signal" $pid
  wait $pid
  stopped "$signal" screenshot $?
done
(ulimit -f 8 && exec "$binary" --screenshot=stop.png --at=0 --size=2048x2048 >/dev/null 2>err)
stopped XFSZ screenshot $?

# A crash (here a SIGSEGV from outside) reports itself with its frames, leaves no file
# and ends as a crash does. The sanitizers' runtimes report crashes themselves.
if ! ldd "$binary" | grep -q libasan; then
  "$binary" --capture=crash.mp4 --size=160x90 >/dev/null 2>err &
  pid=$!
  for _ in $(seq 600); do [ -n "$(find . -name 'crash.mp4.part-*' -size +0)" ] && break; sleep 0.05; done
  kill -s SEGV $pid
  wait $pid 2>/dev/null
  code=$?
  [ "$code" -eq 139 ] || fail "a crash during a capture: exit code $code, expected 139"
  grep -q '^pulse165: crashed (SIGSEGV)' err && [ "$(grep -c 'pulse165(' err)" -gt 0 ] ||
    fail "a crash during a capture reported no frames: $(head -c 400 err)"
  [ -z "$(ls | grep -v '^err$')" ] || fail "a crash during a capture left: $(ls)"
  clean
fi

# A killed run's leftover is called NAME.part-XXXXXX; it blocks no later run, and
# neither does an old NAME.part.
"$binary" --capture=show.mkv --size=160x90 >/dev/null 2>&1 &
pid=$!
for _ in $(seq 600); do [ -n "$(ls show.mkv.part-* 2>/dev/null)" ] && break; sleep 0.05; done
kill -s KILL $pid
wait $pid 2>/dev/null
ls show.mkv.part-?????? >/dev/null 2>&1 || fail "SIGKILL left no show.mkv.part-XXXXXX: $(ls)"
: >show.mkv.part
"$binary" --capture=show.mkv --size=160x90 --to=0.5 >out 2>err || fail "a leftover blocked the capture: $(cat err)"
[ "$(frames_and_seconds show.mkv)" = "30 0.500000" ] || fail "the capture beside leftovers is not whole"
clean

# The longest name that leaves room for no temporary suffix: 252 bytes.
long_name=$(printf 'n%.0s' $(seq 248)).mkv
"$binary" --capture="$long_name" --size=160x90 --to=0.5 >out 2>err || fail "a 252-byte name: $(cat err)"
[ "$(ls)" = "$(printf '%s\n' "$long_name" err out | sort)" ] || fail "a 252-byte name: $(ls)"
clean

# Started with stderr closed, the program's file cannot take descriptor 2 and hold the
# lines meant for stderr (EGL's debug log makes some): the picture is the same as with
# stderr open.
EGL_LOG_LEVEL=debug "$binary" --screenshot=open.png --at=1 --size=64x32 >/dev/null 2>&1 || fail "a screenshot with stderr"
EGL_LOG_LEVEL=debug "$binary" --screenshot=closed.png --at=1 --size=64x32 >/dev/null 2>&- ||
  fail "a screenshot with stderr closed failed"
cmp -s open.png closed.png || fail "a screenshot with stderr closed differs from one with stderr open"
clean

# Permissions, as an ordinary user (root passes every access check, so root runs these
# as nobody through setpriv, from a copy of the program in a folder nobody may enter):
# a write-protected target is refused and left as it is; a private one stays private;
# a new one gets the umask's mode.
user=()
if [ "$(id -u)" -eq 0 ]; then
  if command -v setpriv >/dev/null && id nobody >/dev/null 2>&1; then
    user=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups)
  else
    fail "running as root without setpriv or the user nobody: the permission rows cannot run"
  fi
fi
if [ "$(id -u)" -ne 0 ] || [ ${#user[@]} -gt 0 ]; then
  mkdir -m 777 own
  chmod 755 "$work"
  cp "$binary" own/pulse165
  as_user() { (cd own && HOME=$PWD exec "${user[@]}" "$@"); }
  as_user sh -c 'echo kept >keep.png && chmod 444 keep.png && echo old >private.png && chmod 600 private.png'
  as_user ./pulse165 --screenshot=keep.png --at=0 --size=64x32 >out 2>err
  code=$?
  [ "$code" -eq 2 ] && [ "$(wc -l <err)" -eq 1 ] && grep -q 'keep.png: it is write-protected' err ||
    fail "a write-protected target: exit code $code: $(cat err)"
  [ "$(cat own/keep.png)" = kept ] && [ "$(stat -c %a own/keep.png)" = 444 ] || fail "the write-protected target changed"
  as_user ./pulse165 --screenshot=private.png --at=0 --size=64x32 >out 2>err || fail "a private target: $(cat err)"
  [ "$(stat -c %a own/private.png)" = 600 ] || fail "a private target came back $(stat -c %a own/private.png), not 600"
  as_user sh -c 'umask 027 && exec ./pulse165 --screenshot=new.png --at=0 --size=64x32' >out 2>err ||
    fail "a new file: $(cat err)"
  [ "$(stat -c %a own/new.png)" = 640 ] || fail "a new file under umask 027 is $(stat -c %a own/new.png), not 640"
  [ "$(ls own | tr '\n' ' ')" = "keep.png new.png private.png pulse165 " ] || fail "the permission rows left: $(ls own)"
  clean
fi

# --crf and --preset: x264 writes its settings into the stream (veryfast's subme is
# 2, ultrafast's 0); for VP9 a lower crf makes a larger file.
"$binary" --capture=q.mp4 --size=320x180 --to=1 --crf=30 --preset=veryfast >out 2>err || fail "x264 settings: $(cat err)"
grep -q 'libx264 veryfast crf 30' out || fail "the summary does not name the settings: $(cat out)"
[ "$(grep -ao 'crf=[0-9.]*' q.mp4)" = crf=30.0 ] && [ "$(grep -ao 'subme=[0-9]*' q.mp4)" = subme=2 ] ||
  fail "x264 did not run at crf 30, veryfast: $(grep -ao 'crf=[0-9.]*\|subme=[0-9]*' q.mp4 | tr '\n' ' ')"
for crf in 10 60; do
  "$binary" --capture=q$crf.webm --size=320x180 --to=1 --crf=$crf --preset=faster >>out 2>err || fail "VP9: $(cat err)"
done
grep -q 'libvpx-vp9 faster (realtime, speed 5) crf 60' out || fail "the VP9 summary: $(cat out)"
[ "$(stat -c %s q10.webm)" -gt "$(stat -c %s q60.webm)" ] || fail "VP9 at crf 10 is not larger than at crf 60"

[ "$failures" -eq 0 ] || exit 1
echo "output files: names, concurrent runs, stop signals, leftovers and encoder settings as expected"
