# Sourced by the scripted tests, so that a crash of the program explains itself in
# the test's log (CI keeps no core files).
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
