#!/usr/bin/env bash
# The manual pages are written by hand; this holds them to the programs'
# --help texts: the same long options both ways (a man page may add --help
# and --version), and every command word and failure mode of a --help list
# described in the page.
# Usage: manpages_match_help.sh MAN_DIR PROGRAM...
set -uo pipefail
man_dir=$1
shift
status=0

options() { grep -oE -- '--[a-z][a-z-]*[a-z]' | sort -u; }
# roff writes a minus as \- ; undo that before looking for options. The
# EXAMPLES section may show other programs' options, so it is left out.
page_text() { sed -e '/^\.SH EXAMPLES/,/^\.SH /{/^\.SH SEE/!d}' -e 's/\\-/-/g' "$1"; }

# First words of the two-space indented lines of one --help block, e.g. the
# "Commands:" block: "  tree   the device types..." gives "tree".
block_words() {
  awk -v head="$2" '
    $0 == head { inside = 1; next }
    inside && /^[^ ]/ { inside = 0 }
    inside && /^  [a-z]/ { w = $1; sub(/[=[].*/, "", w); print w }
  ' <<<"$1" | sort -u
}

for exe in "$@"; do
  name=$(basename "$exe")
  page=$man_dir/$name.1
  if [ ! -f "$page" ]; then
    echo "$name: no manual page $page"; status=1; continue
  fi
  help=$("$exe" --help) || { echo "$name: --help failed"; status=1; continue; }
  text=$(page_text "$page")
  missing=$(comm -23 <(options <<<"$help") <(page_text "$page" | options))
  extra=$(comm -13 <(options <<<"$help") <(page_text "$page" | options) | grep -vxE -- '--(help|version)')
  if [ -n "$missing" ]; then
    echo "$name: options in --help but not in the manual page:" $missing; status=1
  fi
  if [ -n "$extra" ]; then
    echo "$name: options in the manual page but not in --help:" $extra; status=1
  fi
  for head in "Commands:" "Failure modes:"; do
    for word in $(block_words "$help" "$head"); do
      # Against the text held in a variable: grep -q stops reading early,
      # and a writer still sending into the pipe would fail it under pipefail.
      if ! grep -qE "^\.(B|BI|BR) $word([ =[]|$)" <<<"$text"; then
        echo "$name: '$word' ($head in --help) is not described in the manual page"; status=1
      fi
    done
  done
done
[ $status -eq 0 ] && echo "manual pages match --help: $*"
exit $status
