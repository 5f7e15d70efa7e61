# Sourced by the scripted tests: the end of the program under test, and its crash
# explained in the test's log (CI keeps no core files).
# crash_report BINARY LOG: the program's crash report in LOG, if any, with its own
# frames named (addr2line reads the program's symbol table); false without one.
crash_report() {
  local binary=$1 log=$2 line offset
  grep -q '^pulse165: crashed' "$log" 2>/dev/null || return 1
  sed -n '/^pulse165: crashed/,$p' "$log" | while IFS= read -r line; do
    case $line in
      *"pulse165(+0x"*)
        offset=${line#*pulse165(+}
        offset=${offset%%)*}
        echo "$line  $(addr2line -f -C -e "$binary" "$offset" 2>/dev/null | head -n 1)"
        ;;
      *) echo "$line" ;;
    esac
  done
}

# ended_within SECONDS LOG: the program started as $show (from $binary) has ended, or
# ends within that time: its exit code in `code`, and where it crashed, its report
# from LOG in the test's log. False while it still runs.
ended_within() {
  for _ in $(seq $(($1 * 10))); do
    kill -0 "$show" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$show" 2>/dev/null && return 1
  wait "$show"
  code=$?
  show=
  [ "$code" -lt 128 ] || crash_report "$binary" "$2" || true
}
