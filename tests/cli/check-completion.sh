#!/usr/bin/env bash
# kestrel-flash's bash completion, loaded and called as bash-completion does:
# options, scenario names and the ports attached now, all asked of the program
# in the command line, here with one USB box of the FT232R model attached.
# Usage: check-completion.sh KESTREL_FLASH FT232R_MODEL COMPLETIONS_DIR
set -u
completions=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-completion.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Under AddressSanitizer the preloaded model comes before its runtime, which it then has to accept.
printf '#!/bin/sh\nASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0" LD_PRELOAD=%s KESTREL_FT232R_BOXES=KST-COMPLETE exec %s "$@"\n' \
  "$2" "$1" >"$work/kestrel-flash"
chmod +x "$work/kestrel-flash"
failed=0
# expect WANTED WORD...: completing the last word in $work offers exactly WANTED, sorted, joined by |.
expect() {
  local got
  got=$(cd "$work" && timeout 20 bash --norc -c 'source "$1" && shift && COMP_WORDS=("$@") && COMP_CWORD=$(($# - 1)) &&
    _kestrel_flash && printf "%s\n" "${COMPREPLY[@]}"' _ "$completions/kestrel-flash.bash" "$work/kestrel-flash" \
    "${@:2}" | sort | paste -sd '|' -)
  [ "$got" = "$1" ] || { echo "FAIL: completing '${*:2}' offered '$got', not '$1'" >&2; failed=1; }
}
: >"$work/my firmware.mot"
expect --emulate --emu
expect "--wait|--wait-timeout" --wai
expect "USB|USB:KST-COMPLETE" -p US
expect corrupt-read-back --emulate = corr
expect "my firmware.mot" my
expect "" --operator my
exit $failed
