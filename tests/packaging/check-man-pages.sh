#!/usr/bin/env bash
# Checks the manual pages as they are installed (version filled in):
#  - `mandoc -T lint -W warning` finds nothing at all;
#  - each page has the sections NAME, SYNOPSIS, DESCRIPTION, OPTIONS,
#    EXIT STATUS, FILES and EXAMPLES, and no @...@ placeholder is left;
#  - every long option that the program prints in --help is in its page.
# Usage: check-man-pages.sh MANDOC PAGE=PROGRAM...
set -uo pipefail

# Without mandoc (scripts/install-deps installs it) every page fails its lint.
mandoc=$1
shift
[ $# -gt 0 ] || { echo "FAIL: no manual page to check" >&2; exit 1; }
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

for pair in "$@"; do
  page=${pair%%=*}
  program=${pair#*=}
  name=$(basename "$page")

  lint=$("$mandoc" -T lint -W warning "$page" 2>&1) && [ -z "$lint" ] || fail "$name: mandoc lint:"$'\n'"$lint"

  # The page as a reader sees it, without the overstriking of bold and underline.
  text=$("$mandoc" -T ascii "$page" | sed 's/.\x08//g')
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES EXAMPLES; do
    grep -qx "$section" <<<"$text" || fail "$name: no section $section"
  done
  ! grep -q '@[A-Z_]*@' "$page" || fail "$name: placeholder left: $(grep -o '@[A-Z_]*@' "$page" | head -1)"

  help=$("$program" --help 2>&1) && [ -n "$help" ] || { fail "$name: $program --help failed: $help"; continue; }
  options=$(grep -oE -- '--[a-z][a-z0-9-]*' <<<"$help" | sort -u)
  [ -n "$options" ] || fail "$name: no long option found in $program --help"
  # The emulator's scenarios, where --help lists them, comma-separated, after "SCENARIO ...:".
  scenarios=$(grep -o 'SCENARIO[^:]*: [a-z0-9-]*, .*' <<<"$help" | sed 's/^[^:]*: //' | tr -s ', ' '\n\n')
  for word in $options $scenarios; do
    grep -qE -- "(^|[^a-z-])${word}([^a-z-]|$)" <<<"$text" || fail "$name: $word from --help is not documented"
  done
  # Exit statuses that --help lists under "Exit status:", each a tag of the page's EXIT STATUS.
  codes=$(sed -n '/^Exit status:/,/^$/p' <<<"$help" | sed -nE 's/^ +([0-9]+) .*/\1/p')
  exits=$(sed -n '/^EXIT STATUS$/,/^[A-Z][A-Z ]*$/p' <<<"$text" | sed -nE 's/^ +([0-9]+)( .*)?$/\1/p')
  for code in $codes; do
    grep -qx "$code" <<<"$exits" || fail "$name: exit status $code from --help is not in EXIT STATUS"
  done
  echo "$name: lint clean, sections present; documented: $(wc -w <<<"$options") options," \
    "$(wc -w <<<"$scenarios") scenarios, $(wc -w <<<"$codes") exit statuses of --help"
done

[ $failures -eq 0 ]
