#!/usr/bin/env bash
# The live show as a player, under a virtual X server with xdotool, muted, in a small
# window: Space holds the picture still (the overlay, i, comes and goes over it without
# marking it, and stays inside the window) and lets it go again; paused, a resize shows
# the held picture letterboxed in the new size, and the same picture again at the old
# size, and once resumed the show draws at the new size; Page Down three times from the
# start reaches the claim (scene 4), far brighter than the opening; a resize to another
# shape puts the top frame line at the new letterbox's top, growing and shrinking; f
# fills the screen and gives the window back; q ends the show with exit code 0. A
# window larger than the screen fits it; --loop plays on past the end. A --display that
# does not exist ends with exit code 2, its line also in a message box when stderr is
# no terminal. Nothing waits a fixed time for the show to act: each step looks again
# until what it waits for is there, or gives up.   tests/live_player.sh BUILD/pulse165
set -u
binary=$(realpath "$1")
for tool in Xvfb xdotool xwd xdpyinfo xwininfo; do
  command -v $tool >/dev/null || { echo "$tool is missing (scripts/ensure-deps installs it)"; exit 1; }
done
work=$(mktemp -d)
source "$(dirname "$0")/harness/xvfb.sh"
# shellcheck source=harness/crash.sh
source "$(dirname "$0")/harness/crash.sh"
xvfb=
show=
cleanup() {
  [ -z "$show" ] || kill "$show" 2>/dev/null
  [ -z "$xvfb" ] || { kill "$xvfb" 2>/dev/null; wait "$xvfb" 2>/dev/null; }
  rm -rf "$work"
}
trap cleanup EXIT
start_xvfb 800x600x24 || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=$xvfb_display SDL_AUDIODRIVER=dummy
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# --- Window grabs (xwd, 32 bits a pixel, blue green red x) --------------------------
grab() { xwd -silent -id "$window" >"$work/$1.xwd"; }
u32() { od -An -tu1 -j "$2" -N4 "$1" | awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4 }'; }
# The pixels of a grab, one "blue green red x" line each, rows top first.
pixels() {
  local header colours
  header=$(u32 "$1" 0)
  colours=$(u32 "$1" 76)
  tail -c +$((header + colours * 12 + 1)) "$1" | od -An -v -tu1 -w4
}
size() { echo "$(u32 "$1" 16)x$(u32 "$1" 20)"; }
brightness() { pixels "$1" | awk '{ s += $1 + $2 + $3 } END { printf "%d", s / NR / 3 }'; }
# The first row from the top whose pixel in column X is bright: the top frame line.
first_bright_row() {
  local width
  width=$(u32 "$1" 16)
  pixels "$1" | awk -v w="$width" -v x="$2" '(NR - 1) % w == x && $1 + $2 + $3 > 600 { print int((NR - 1) / w); exit }'
}
# The sum of blue, green and red of the pixel at COLUMN, ROW of a grab.
pixel_sum() {
  pixels "$1" | awk -v at=$(($3 * $(u32 "$1" 16) + $2 + 1)) 'NR == at { print $1 + $2 + $3; exit }'
}
# How many pixels of the 8 right-most columns and the 8 bottom rows differ between two
# grabs of one size.
edge_changes() {
  paste -d ' ' <(pixels "$1") <(pixels "$2") | awk -v w="$(u32 "$1" 16)" -v h="$(u32 "$1" 20)" '
    { x = (NR - 1) % w; y = int((NR - 1) / w) }
    (x >= w - 8 || y >= h - 8) && ($1 != $5 || $2 != $6 || $3 != $7) { n++ }
    END { print n + 0 }'
}
# Whether grab SMALL is grab LARGE scaled down as the picture's copy filters it: each
# pixel the weighted mean of the four around the spot its centre comes from, within 8.
scaled_down() {
  awk -v W="$(u32 "$1" 16)" -v H="$(u32 "$1" 20)" -v w="$(u32 "$2" 16)" -v h="$(u32 "$2" 20)" '
    NR == FNR { for (c = 1; c <= 3; c++) big[c, NR - 1] = $c; next }
    {
      fx = ((FNR - 1) % w + 0.5) * W / w - 0.5; x0 = int(fx); ax = fx - x0; x1 = x0 + 1 < W ? x0 + 1 : x0
      fy = (int((FNR - 1) / w) + 0.5) * H / h - 0.5; y0 = int(fy); ay = fy - y0; y1 = y0 + 1 < H ? y0 + 1 : y0
      for (c = 1; c <= 3; c++) {
        top = (1 - ax) * big[c, y0 * W + x0] + ax * big[c, y0 * W + x1]
        v = (1 - ay) * top + ay * ((1 - ax) * big[c, y1 * W + x0] + ax * big[c, y1 * W + x1])
        if (v - $c > 8 || $c - v > 8) off++
      }
    }
    END { exit off > 0 }' <(pixels "$1") <(pixels "$2")
}
geometry() { xwininfo -id "$window" | awk '/Width:/ { w = $2 } /Height:/ { h = $2 } END { print w "x" h }'; }
key() { xdotool key --clearmodifiers "$@"; }
# A slow renderer (a sanitizer build, a busy machine) takes a while to act on a key:
# these look again for up to ten seconds before they give up.
# grab_until NAME same|differ FILE: grabs until the window shows the same as FILE, or not.
grab_until() {
  for _ in $(seq 50); do
    grab "$1"
    if cmp -s "$work/$1.xwd" "$3"; then [ "$2" = same ] && return 0; else [ "$2" = differ ] && return 0; fi
    sleep 0.2
  done
  return 1
}
# top_row_is ROW COLUMN NAME: grabs until the top frame line lies at ROW.
top_row_is() {
  for _ in $(seq 20); do
    grab "$3"
    [ "$(first_bright_row "$work/$3.xwd" "$2")" = "$1" ] && return 0
    sleep 0.5
  done
  return 1
}
geometry_is() {
  for _ in $(seq 50); do
    [ "$(geometry)" = "$1" ] && return 0
    sleep 0.2
  done
  return 1
}
# resize WxH: the window takes that size (xdotool waits until the server has done it).
resize() { xdotool windowsize --sync "$window" "${1%x*}" "${1#*x}" 2>/dev/null; }
# top_line_rows one|two NAME: grabs until the top frame line (row 0) at column 100 is
# one row thick (the row below it dark) or two (a picture scaled up: that row bright).
top_line_rows() {
  for _ in $(seq 50); do
    grab "$2"
    local below
    below=$(pixel_sum "$work/$2.xwd" 100 1)
    if [ "$(pixel_sum "$work/$2.xwd" 100 0)" -gt 600 ]; then
      [ "$1" = one ] && [ "$below" -lt 100 ] && return 0
      [ "$1" = two ] && [ "$below" -gt 300 ] && return 0
    fi
    sleep 0.2
  done
  return 1
}

"$binary" --mute --window=320x160 >"$work/stdout" 2>"$work/stderr" &
show=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^pulse165$' 2>/dev/null | head -n 1)
if [ -z "$window" ]; then
  echo "the show's window never appeared: $(cat "$work/stderr")"
  exit 1
fi
xdotool windowfocus --sync "$window" 2>/dev/null
# The window is black while the track is decoded: wait until the show draws.
grab start
grab_until drawing differ "$work/start.xwd" || fail "the show never drew a frame"

# --- Space: the picture holds still, then moves on --------------------------------------
key space
held=no
for _ in $(seq 5); do  # the pause may come a frame or two late
  grab held1
  sleep 1
  grab held2
  cmp -s "$work/held1.xwd" "$work/held2.xwd" && { held=yes; break; }
done
[ $held = yes ] || fail "paused, two grabs a second apart differ"
# The overlay lies on the window, not in the picture: paused, it comes and goes cleanly.
key i
grab_until overlay1 differ "$work/held2.xwd" || fail "paused, i showed no overlay"
# Its lines are broken to the window's width: the panel leaves the window's margin as
# it was, on the right and at the bottom.
changed=$(edge_changes "$work/held2.xwd" "$work/overlay1.xwd")
[ "$changed" -eq 0 ] || fail "the overlay reaches the window's edge: $changed pixels of its margin changed"
key i
grab_until plain same "$work/held2.xwd" || fail "paused, the overlay left a trace in the picture"
key i
grab_until overlay2 same "$work/overlay1.xwd" || fail "paused, the overlay came back different"
key i
grab_until plain same "$work/held2.xwd"

# --- Paused, a resize letterboxes the held picture anew ---------------------------------
# At 16x8 the window shows the held picture scaled down; back at 320x160 it shows that
# picture again, not a blow-up of the small one (with the overlay drawn anew over it,
# and without).
resize 16x8
small=no
for _ in $(seq 50); do
  grab small
  scaled_down "$work/held2.xwd" "$work/small.xwd" && { small=yes; break; }
  sleep 0.2
done
[ $small = yes ] || fail "paused, at 16x8 the window does not show the held picture scaled down"
resize 320x160
key i
grab_until overlay3 same "$work/overlay1.xwd" ||
  fail "paused, after 16x8 and back the picture under the overlay is not the one held"
key i
grab_until plain same "$work/held2.xwd" || fail "paused, after 16x8 and back the picture is not the one held"
key space
grab_until resumed differ "$work/held2.xwd" || fail "resumed, the picture stood still"
# Paused at 640x320, the held picture is scaled up (its top frame line two rows thick);
# resumed, the show draws at that size (one row).
key space
resize 640x320
top_line_rows two paused-large || fail "paused at 640x320, the held picture is not scaled up into the window"
key space
top_line_rows one resumed-large || fail "resumed at 640x320, the show does not draw at the window's size"
resize 320x160

# --- Home, then Page Down three times: from the opening to the claim --------------------
# The opening's mean brightness over two seconds (the show is still in it, and goes
# back to its start), then the claim's, looked at until it is far brighter.
key Home
dark=0
for _ in $(seq 5); do
  grab opening
  dark=$((dark + $(brightness "$work/opening.xwd")))
  sleep 0.4
done
dark=$((dark / 5))
key Next Next Next
bright=0
for _ in $(seq 50); do
  grab claim
  bright=$(brightness "$work/claim.xwd")
  [ "$bright" -gt $((3 * dark + 30)) ] && break
  sleep 0.2
done
echo "mean brightness: opening $dark, after three Page Downs $bright"
[ "$bright" -gt $((3 * dark + 30)) ] || fail "three Page Downs did not reach the bright claim ($dark, then $bright)"

# --- f: the whole screen, then the window again ------------------------------------------
key f
geometry_is 800x600 || fail "f: the window is $(geometry), not the screen's 800x600"
# 800x600: the letterbox is 800x400, 100 rows from the top.
top_row_is 100 100 full ||
  fail "full screen: the top frame line is at row $(first_bright_row "$work/full.xwd" 100), not 100"
key f
geometry_is 320x160 || fail "f again: the window is $(geometry), not 320x160 again"

# --- Resizing to other shapes, smaller and larger ---------------------------------------
for case in 300x300:75 480x300:30; do
  shape=${case%:*}
  top=${case#*:}
  resize "$shape"
  top_row_is "$top" 20 "resized-$shape" || fail "resized to $shape: the top frame line is at row \
$(first_bright_row "$work/resized-$shape.xwd" 20), not $top"
done

# --- q ends it ---------------------------------------------------------------------------
key q
if ended_within 10 "$work/stderr"; then
  [ "$code" -eq 0 ] || fail "q: exit code $code, expected 0"
else
  fail "q did not end the show"
fi
if grep -v '^pulse165: the picture cannot keep up' "$work/stderr" | grep -q .; then
  fail "the show wrote to stderr: $(cat "$work/stderr")"
fi

# --- A window larger than the screen is made to fit; --loop goes on past the end ----------
"$binary" --mute --window=4000x2000 --from=491b --loop >"$work/stdout" 2>"$work/stderr" &
show=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name '^pulse165$' 2>/dev/null | head -n 1)
geometry_is 800x600 || fail "--window=4000x2000 on an 800x600 screen: the window is $(geometry)"
# Beat 491 is 0.7 s before the end: once the show draws (its top frame line is there),
# three seconds take it past.
top_row_is 100 100 looping || fail "--loop: the show never drew a frame"
sleep 3
kill -0 $show 2>/dev/null || fail "--loop: the show ended at its end"
xdotool windowfocus --sync "$window" 2>/dev/null
key Escape
if ended_within 10 "$work/stderr"; then
  [ "$code" -eq 0 ] || fail "--loop: exit code $code after Escape"
else
  fail "--loop: Escape did not end it"
fi

# --- A display that does not exist: exit code 2, the line also in a message box ----------
# (SDL's box on X has no class for xdotool to search by: it is found by its title.)
"$binary" --mute --display=5 --from-desktop >"$work/stdout" 2>"$work/stderr" &
show=$!
box=
for _ in $(seq 100); do
  box=$(xwininfo -root -tree | awk '/"pulse165 cannot start"/ { print $1; exit }')
  [ -z "$box" ] || break
  sleep 0.2
done
if [ -z "$box" ]; then
  fail "--display=5: no message box appeared"
else
  xdotool windowfocus --sync "$box" 2>/dev/null
  xdotool key Return
fi
if ended_within 10 "$work/stderr"; then
  [ "$code" -eq 2 ] || fail "--display=5: exit code $code, expected 2"
else
  fail "--display=5: still running"
fi
grep -qx 'pulse165: cannot use display 5: there is one display, number 0' "$work/stderr" ||
  fail "--display=5: $(cat "$work/stderr")"

[ "$failures" -eq 0 ] || exit 1
echo "live player: pause, scenes, full screen, resizing, q and --display behave"
