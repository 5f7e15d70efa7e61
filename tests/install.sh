#!/usr/bin/env bash
# Installs the show into a scratch DESTDIR under /usr and checks what lands there: the
# file list, the icons' sizes, the menu entry, and a manual page that renders without a
# warning and names the same options and keys as --help.   Usage: tests/install.sh BUILD/pulse165
set -euo pipefail
umask 022  # folders that installation creates take the umask's modes; files have their own
binary=$(realpath "$1")
build=$(dirname "$binary")
work=$(mktemp -d)
stage=$work/root
# cmake --install rewrites the build folder's list of installed files, which the
# uninstall target reads: the scratch install must leave the real one as it was.
manifest=$build/install_manifest.txt
[ ! -f "$manifest" ] || cp -p "$manifest" "$work/manifest"
restore() {
  if [ -f "$work/manifest" ]; then cp -p "$work/manifest" "$manifest"; else rm -f "$manifest"; fi
  rm -rf "$work"
}
trap restore EXIT

failures=0
fail() {
  echo "install: $*" >&2
  failures=$((failures + 1))
}
need() {
  command -v "$1" >/dev/null || { echo "install: $1 is missing (package $2; scripts/ensure-deps installs it)" >&2; exit 1; }
}
need desktop-file-validate desktop-file-utils
need groff groff-base
need man man-db

# --- Installation and its file list ------------------------------------------------
if ! DESTDIR="$stage" cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1; then
  cat "$work/install.log" >&2
  echo "install: cmake --install failed" >&2
  exit 1
fi

man_page=usr/share/man/man1/pulse165.1
grep -q '^PULSE165_COMPRESS_MAN:BOOL=ON$' "$build/CMakeCache.txt" && man_page=$man_page.gz
expected=$(sort <<EOF
usr/bin/pulse165
usr/share/applications/pulse165.desktop
usr/share/icons/hicolor/48x48/apps/pulse165.png
usr/share/icons/hicolor/128x128/apps/pulse165.png
usr/share/icons/hicolor/256x256/apps/pulse165.png
usr/share/doc/pulse165/caption-face-license
$man_page
EOF
)
installed=$(cd "$stage" && find . ! -type d | sed 's|^\./||' | sort)
if [ "$installed" != "$expected" ]; then
  fail "installed files differ from the expected list:"
  diff <(echo "$expected") <(echo "$installed") | sed 's/^/    /' >&2 || true
fi
[ -x "$stage/usr/bin/pulse165" ] || fail "usr/bin/pulse165 is not executable"
if [ "$("$stage/usr/bin/pulse165" --help)" != "$("$binary" --help)" ]; then
  fail "the installed program's --help differs from the built one's"
fi
if [ -n "$(cd "$stage" && find usr -perm /022 -o ! -perm -444)" ]; then
  fail "installed files or folders that others cannot read, or that others can write:"
  (cd "$stage" && find usr -perm /022 -o ! -perm -444) | sed 's/^/    /' >&2
fi

# --- Icons: square RGBA PNGs of the size their folder names --------------------------
for side in 48 128 256; do
  icon="$stage/usr/share/icons/hicolor/${side}x${side}/apps/pulse165.png"
  [ -f "$icon" ] || continue
  # Signature (8 bytes), IHDR length and tag (8), width and height (4 + 4, big-endian),
  # bit depth, colour type.
  mapfile -t header < <(od -An -v -tu1 -N26 "$icon" | tr -s ' ' '\n' | grep .)
  width=$(((header[16] << 24) | (header[17] << 16) | (header[18] << 8) | header[19]))
  height=$(((header[20] << 24) | (header[21] << 16) | (header[22] << 8) | header[23]))
  if [ "${header[1]}${header[2]}${header[3]}" != "807871" ]; then
    fail "$icon is not a PNG"
  elif [ "$width" != "$side" ] || [ "$height" != "$side" ]; then
    fail "the ${side}x${side} icon is ${width}x${height}"
  elif [ "${header[24]}" != 8 ] || [ "${header[25]}" != 6 ]; then
    fail "the ${side}x${side} icon is not 8-bit RGBA (depth ${header[24]}, colour type ${header[25]})"
  fi
done

# --- The menu entry -------------------------------------------------------------------
entry="$stage/usr/share/applications/pulse165.desktop"
if [ -f "$entry" ]; then
  report=$(desktop-file-validate "$entry" 2>&1) || true
  [ -z "$report" ] || fail "desktop-file-validate: $report"
  for line in Type=Application Name=pulse165 'Exec=pulse165 --from-desktop %F' Icon=pulse165 Terminal=false 'Categories=AudioVideo;'; do
    grep -qxF "$line" "$entry" || fail "the menu entry lacks the line $line"
  done
  grep -q '^Comment=.' "$entry" || fail "the menu entry has no Comment"
  for type in audio/mpeg audio/flac audio/ogg audio/x-wav audio/mp4 audio/aac audio/opus; do
    grep -q "^MimeType=.*$type;" "$entry" || fail "the menu entry does not offer to open $type"
  done
fi

# --- The manual page --------------------------------------------------------------------
page="$stage/$man_page"
if [ -f "$page" ]; then
  source_text=$(gzip -dcf "$page")
  warnings=$(groff -ww -t -man -Tutf8 <<<"$source_text" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "groff warns about the manual page:"$'\n'"$warnings"
  rendered=$(MANWIDTH=80 man --warnings=w -l "$page" 2>"$work/man.err") || fail "man -l cannot render the page"
  [ ! -s "$work/man.err" ] || fail "man -l warns: $(cat "$work/man.err")"
  grep -q '^EXIT STATUS' <<<"$rendered" || fail "man -l rendered no EXIT STATUS section"

  # The program's texts are read whole first: a reader that stops early (head, awk's
  # exit) would leave the program writing into a closed pipe, which pipefail reports.
  version=$("$binary" --version)
  version=${version%%$'\n'*}
  help_text=$("$binary" --help)
  grep -q "^\.TH PULSE165 1 \"[0-9-]*\" \"$version\"" <<<"$source_text" ||
    fail "the page's header does not name '$version'"

  # The options on each side, as words: --long ones and single-letter -x ones.
  options() { grep -oE -- '(^|[^[:alnum:]-])--?[[:alpha:]][[:alnum:]-]*' | sed 's/^[^-]*//' | sort -u; }
  help_options=$(options <<<"$help_text")
  man_options=$(groff -t -man -Tascii -P-cbou <<<"$source_text" 2>/dev/null | options)
  [ -n "$help_options" ] || fail "--help names no options"
  missing=$(comm -23 <(echo "$help_options") <(echo "$man_options"))
  extra=$(comm -13 <(echo "$help_options") <(echo "$man_options"))
  [ -z "$missing" ] || fail "options of --help missing from the manual page: $(tr "\n" " " <<<"$missing")"
  [ -z "$extra" ] || fail "options in the manual page that --help does not list: $(tr "\n" " " <<<"$extra")"
  # The keys on each side, line by line and in order: the first column of the KEYS
  # part of --help, and the tags of the page's KEYS section.
  help_keys=$(awk '/^Keys/ { on = 1; next } on && /^$/ { exit }
    on && /^  [^ ]/ { sub(/^  /, ""); sub(/  .*/, ""); print }' <<<"$help_text")
  man_keys=$(awk '/^\.SH/ { on = $0 == ".SH KEYS"; next } on && previous == ".TP" { sub(/^\.B +/, ""); print }
    { previous = $0 }' <<<"$source_text")
  [ -n "$help_keys" ] || fail "--help names no keys"
  [ "$help_keys" = "$man_keys" ] ||
    fail "the keys of --help and of the manual page differ:"$'\n'"$(diff <(echo "$help_keys") <(echo "$man_keys"))"
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS KEYS EXAMPLES 'EXIT STATUS' ENVIRONMENT FILES; do
    grep -q "^\.SH \"\?$section\"\?$" <<<"$source_text" || fail "the manual page has no $section section"
  done
fi

if [ "$failures" -ne 0 ]; then
  echo "install: $failures check(s) failed" >&2
  exit 1
fi
echo "install: $(wc -l <<<"$installed") files installed and checked"
