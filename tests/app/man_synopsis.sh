#!/bin/sh
# The man page's SYNOPSIS says what the program's usage says: the same
# lines, word for word, once case and spacing are set aside. The usage is
# made from the program's table of options (app/*/options.cpp), so an
# option added to the table and not to the page, or the reverse, fails here.
#
# man_synopsis.sh GROFF PAGE PROGRAM
set -eu
groff=$1 page=$2 program=$3

# Lower case, one space between words, "FILE ..." as "FILE...", no blank lines.
normalise() {
  tr 'A-Z' 'a-z' | sed -e 's/[[:space:]][[:space:]]*/ /g' -e 's/ \.\.\./.../g' -e 's/^ //' -e 's/ $//' | grep -v '^$'
}

# The page as plain text, each synopsis line on one line (no wrapping, no
# hyphenation).
man=$("$groff" -man -Tascii -P-cbou -rLL=2000n -rHY=0 "$page" |
  awk '/^SYNOPSIS/ { on = 1; next } /^[^ ]/ { on = 0 } on' | normalise)
# The usage a wrong command line (none) prints, without "usage:".
status=0
usage=$("$program" 2>&1 >/dev/null) || status=$?
if [ "$status" -ne 2 ]; then
  echo "$program without arguments: status $status, not 2"
  exit 1
fi
usage=$(printf '%s\n' "$usage" | sed 's/^usage://' | normalise)

if [ "$man" != "$usage" ]; then
  printf 'the SYNOPSIS of %s:\n%s\nthe usage of %s:\n%s\n' "$page" "$man" "$program" "$usage"
  exit 1
fi
