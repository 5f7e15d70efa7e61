# Sourced by the tests that need an X server. start_xvfb WxHxDEPTH starts Xvfb with one
# screen of that size on a display that the server picks itself (-displayfd), so that
# tests running side by side never share one, and returns once the server takes
# connections: it sets xvfb (the server's process) and xvfb_display (":N"). False when
# the server did not come up within 30 seconds.
start_xvfb() {
  local fifo number=
  fifo=$(mktemp -d)/displayfd
  mkfifo "$fifo" || return 1
  # The server writes its display's number to descriptor 3 once it is ready.
  Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  xvfb=$!
  read -r -t 30 number <"$fifo"
  rm -r "${fifo%/displayfd}"
  [ -n "$number" ] || return 1
  xvfb_display=:$number
}
