# Sourced by the scripts that run the Windows programs under Wine: Wine quiet
# and without the parts that would fetch or register anything, the COM-safety
# functions of scripts/wine-prefix, and a failure that ends the script.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-prefix"
fail() { echo "FAIL: $*"; exit 1; }
# exits STATUS WHAT COMMAND...: fails, naming WHAT, unless COMMAND exits with STATUS.
exits() {
  local want=$1 what=$2 status=0
  shift 2
  "$@" || status=$?
  [ "$status" -eq "$want" ] || fail "$what exited $status"
}

# under_xvfb SCREEN "$@": the script again under an X server of its own, which a window and a console window need.
under_xvfb() {
  [ -n "${KESTREL_UNDER_XVFB:-}" ] || KESTREL_UNDER_XVFB=1 exec xvfb-run -a -s "-screen 0 $1" "$0" "${@:2}"
}

# window_prefix WORKDIR: for a window driven from outside, a prefix of its own
# in WORKDIR (made absolute in $work) whose COM ports reach no real one; Wine's
# own services start here, detached and away from ctest's pipes, which they
# would otherwise hold open to the end. What the script starts into pids, ended
# with the wineserver at the exit.
window_prefix() {
  mkdir -p "$1"
  work=$(cd "$1" && pwd)
  pids=()
  trap 'for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; wineserver -k 2>/dev/null || true' EXIT
  kestrel_wine_prefix "$work/wineprefix" || fail "the prefix's COM ports are not safe"
  # No window manager runs on Xvfb: Wine draws the title bar itself.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
  dpi 96
}
# drive COMMAND...: the window driver ($driver) run to its end, its output into $work/driver.out, then shown: a pipe
# would stay open as long as any Wine process that inherited it, and the system's own processes outlive the driver.
drive() {
  local status=0
  wine "$driver" "$@" >"$work/driver.out" 2>&1 || status=$?
  tr -d '\r' <"$work/driver.out"
  [ $status -eq 0 ] || fail "the driver: ${*:-its download from the keyboard}"
}
dpi() { wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f </dev/null >/dev/null 2>&1; }

# plug NUMBER OPTION...: a kestrel-box ($box) plugged in on COM<NUMBER> as
# Windows shows one: that COM name leads to the box's own pseudo-terminal, the
# serial-port map lists it; its process in $box<NUMBER>. No COM of the prefix
# may reach a real port before a program opens one.
plug() {
  local number=$1 link=$work/box-$1
  shift
  rm -f "$link"
  "$box" --link "$link" "$@" >"$work/box-$number.log" 2>&1 &
  pids+=($!)
  eval "box$number=\$!"
  for _ in $(seq 100); do [ -L "$link" ] && break; sleep 0.1; done
  [ -L "$link" ] || fail "kestrel-box made no link for COM$number"
  ln -sfn "$link" "$WINEPREFIX/dosdevices/com$number"
  kestrel_wine_check_com "$WINEPREFIX" || fail "a COM port of the prefix reaches a real one"
  wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v "\\Device\\KestrelTest$number" /d "COM$number" /f \
    </dev/null >/dev/null 2>&1
}

# scales_with_dpi PROGRAM ARGUMENT...: the window PROGRAM shows at 96 and at 144
# DPI, measured by `$driver height` (which closes it): a control of it half as
# high again at 144 as at 96 (at least 1.4 times, for rounding).
scales_with_dpi() {
  local heights=() dpi said shown
  for dpi in 96 144; do
    dpi $dpi
    wine "$@" >/dev/null 2>&1 &
    shown=$!
    said=$(wine "$driver" height 2>/dev/null | tr -d '\r') || fail "at $dpi DPI: $said"
    wait $shown || true
    [[ $said =~ ^height\ ([0-9]+)$ ]] || fail "at $dpi DPI: $said"
    heights+=("${BASH_REMATCH[1]}")
  done
  dpi 96
  [ "${heights[0]}" -gt 0 ] && [ $((heights[1] * 100)) -ge $((heights[0] * 140)) ] ||
    fail "${heights[1]} px high at 144 DPI, ${heights[0]} at 96"
  echo "${heights[0]} px high at 96 DPI, ${heights[1]} px at 144"
}
