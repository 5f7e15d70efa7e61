#!/usr/bin/env bash
# Machines that cannot run the show: no display for the live show, no audio device,
# no OpenGL for headless rendering. Each ends with exit code 1 and one clear line on
# stderr that says what failed and what to try instead; muted, the live show needs no
# audio device at all. A full disk says so, as the system does, and leaves nothing.
#   tests/environment.sh BUILD/pulse165
set -u
binary=$(realpath "$1")
[ -x "$binary" ] || { echo "no program at $1"; exit 1; }
work=$(mktemp -d)
source "$(dirname "$0")/harness/xvfb.sh"
xvfb=
cleanup() {
  [ -z "$xvfb" ] || { kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; }
  mountpoint -q "$work/full" && umount "$work/full"
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
tried=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# expect CODE DESCRIPTION WORD ENV-ASSIGNMENTS... -- ARGS...: runs the program under
# `env -u DISPLAY -u WAYLAND_DISPLAY` plus the assignments; one line naming WORD.
expect() {
  local want=$1 what=$2 word=$3
  shift 3
  local settings=()
  while [ "$1" != "--" ]; do
    settings+=("$1")
    shift
  done
  shift
  tried=$((tried + 1))
  env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER -u SDL_AUDIODRIVER "${settings[@]}" \
    timeout 60 "$binary" "$@" >"$work/stdout" 2>"$work/stderr" </dev/null
  local code=$?
  [ "$code" -eq "$want" ] || fail "$what: exit code $code, expected $want; stderr: $(head -c 400 "$work/stderr")"
  [ "$(wc -l <"$work/stderr")" -eq 1 ] && head -n 1 "$work/stderr" | grep -q '^pulse165: ..' ||
    fail "$what: expected one line 'pulse165: ...' on stderr, got: $(head -c 600 "$work/stderr")"
  grep -q -- "$word" "$work/stderr" || fail "$what: the message does not mention '$word': $(cat "$work/stderr")"
  [ ! -e "$work/shot.png" ] || fail "$what: a picture was written"
}
shot=(--screenshot="$work/shot.png" --at=10 --size=64x32)

# No display: the live show says so and points at the headless mode.
expect 1 "no display at all" --screenshot -- --window
expect 1 "no display, full screen" --screenshot -- 
expect 1 "no display, X11 asked for" --screenshot SDL_VIDEODRIVER=x11 -- --window
expect 1 "a display that does not exist" --screenshot DISPLAY=:9876 -- --window
expect 1 "SDL's dummy video driver, which has no OpenGL" "show window" SDL_VIDEODRIVER=dummy -- --window
expect 1 "a video driver SDL does not know" --screenshot SDL_VIDEODRIVER=nosuchdriver -- --window

# No audio device: the live show says so and points at --mute.
expect 1 "an offscreen window without an audio device" --mute SDL_VIDEODRIVER=offscreen SDL_AUDIODRIVER=nosuchdriver -- --window=320x160

# No OpenGL headless: the EGL front end finds no vendor library (so it offers neither
# the surfaceless nor the device platform), or Mesa finds no software driver.
for mode in screenshot capture benchmark; do
  case $mode in
    screenshot) args=("${shot[@]}") ;;
    capture) args=(--capture="$work/show.mkv" --size=64x32 --to=1) ;;
    benchmark) args=(--benchmark --frames=1 --size=64x32) ;;
  esac
  expect 1 "$mode without an EGL vendor" EGL __EGL_VENDOR_LIBRARY_FILENAMES="$work/none.json" -- "${args[@]}"
  expect 1 "$mode without Mesa's driver" EGL LIBGL_DRIVERS_PATH="$work/none" -- "${args[@]}"
  [ -z "$(ls "$work" | grep show.mkv)" ] || fail "$mode: a video file was left behind"
done

# A full disk (a tmpfs of 16 KiB, for root): the system's reason, and nothing left on it.
mkdir "$work/full"
if [ "$(id -u)" -eq 0 ] && mount -t tmpfs -o size=16k tmpfs "$work/full" 2>/dev/null; then
  expect 1 "a screenshot onto a full disk" "No space left on device" -- --screenshot="$work/full/shot.png" --at=10 --size=512x256
  expect 1 "a capture onto a full disk" "No space left on device" -- --capture="$work/full/show.mkv" --size=320x160 --to=1
  [ -z "$(ls -A "$work/full")" ] || fail "the full disk kept files: $(ls -A "$work/full")"
  umount "$work/full"
else
  echo "not root, or no tmpfs to be had: the full-disk rows are skipped"
fi

# Standard output onto a full disk: no report is lost in silence. One line, exit 1.
ffmpeg -nostdin -v error -f lavfi -i sine=f=220:d=31 -c:a flac "$work/tone.flac" || fail "ffmpeg cannot make a tone"
for args in --help --version "--benchmark --frames=1 --size=64x32 --json" "--track-info --track=$work/tone.flac" \
  "--track-info --json --track=$work/tone.flac"; do
  tried=$((tried + 1))
  # shellcheck disable=SC2086
  "$binary" $args >/dev/full 2>"$work/stderr"
  code=$?
  [ "$code" -eq 1 ] && [ "$(wc -l <"$work/stderr")" -eq 1 ] &&
    grep -q '^pulse165: cannot write to standard output: No space left on device$' "$work/stderr" ||
    fail "$args onto /dev/full: exit code $code, stderr: $(cat "$work/stderr")"
done

# Under a virtual X server: no audio device, and the muted show that needs none.
if ! command -v Xvfb >/dev/null || ! command -v xdotool >/dev/null; then
  fail "Xvfb or xdotool is missing (scripts/ensure-deps installs them)"
elif ! start_xvfb 640x360x24; then
  fail "Xvfb did not start"
else
  display=$xvfb_display
  # Started as the menu starts it (--from-desktop), the line also comes in a message
  # box, found by its title; Return dismisses it. From a script, never: nothing waits.
  dismiss_box() {
    for _ in $(seq 150); do
      box=$(DISPLAY=$display xwininfo -root -tree 2>/dev/null | awk '/"pulse165 cannot start"/ { print $1; exit }')
      if [ -n "$box" ]; then
        DISPLAY=$display xdotool windowfocus --sync "$box" 2>/dev/null
        DISPLAY=$display xdotool key Return
        touch "$work/box-seen"
        return
      fi
      sleep 0.2
    done
  }
  for shape in --window=320x160 ""; do
    rm -f "$work/box-seen"
    dismiss_box &
    dismisser=$!
    expect 1 "no audio device ${shape:-full screen}" --mute DISPLAY="$display" SDL_AUDIODRIVER=nosuchdriver -- \
      --from-desktop $shape
    wait $dismisser
    [ -e "$work/box-seen" ] || fail "no audio device ${shape:-full screen}: no message box appeared"
  done
  rm -f "$work/box-seen"
  dismiss_box &
  dismisser=$!
  expect 1 "no audio device, from a script" --mute DISPLAY="$display" SDL_AUDIODRIVER=nosuchdriver -- --window=320x160
  kill $dismisser 2>/dev/null
  wait $dismisser 2>/dev/null
  [ ! -e "$work/box-seen" ] || fail "no audio device, from a script: a message box waited for a click"

  # --mute: the same machine plays the show on the computer's clock until Escape.
  tried=$((tried + 1))
  DISPLAY=$display SDL_AUDIODRIVER=nosuchdriver "$binary" --mute --window=320x160 >"$work/stdout" 2>"$work/stderr" &
  show=$!
  window=$(DISPLAY=$display timeout 20 xdotool search --sync --onlyvisible --name '^pulse165$' 2>/dev/null | head -n 1)
  if [ -n "$window" ]; then
    # Escape until the show ends: a key that comes while the window is still being set
    # up (mapped, not yet focused) goes elsewhere.
    for _ in $(seq 40); do
      DISPLAY=$display xdotool windowfocus "$window" key Escape 2>/dev/null
      for _ in $(seq 5); do kill -0 $show 2>/dev/null || break 2; sleep 0.1; done
    done
  fi
  if kill -0 $show 2>/dev/null; then
    kill $show
    fail "the muted show did not open its window or did not end on Escape: $(cat "$work/stderr")"
  fi
  wait $show
  code=$?
  [ "$code" -eq 0 ] || fail "the muted show without an audio device ended with $code: $(cat "$work/stderr")"
fi

echo "$tried environment faults tried, $failures failed"
[ "$failures" -eq 0 ]
