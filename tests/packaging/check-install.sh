#!/usr/bin/env bash
# Installs the build with `cmake --install` into a staging tree and checks the
# tree; runs the installed kestrel-flash from there (--version, and a download
# of the installed demo firmware into the emulated box); then builds the
# Debian package, checks its file list and control fields, has lintian check
# it (no error, no warning), unpacks it and runs the packaged kestrel-flash the
# same way.
# Usage: check-install.sh BUILD_DIR VERSION PROGRAM[,PROGRAM...]
set -uo pipefail

build=$1
version=$2
IFS=, read -r -a programs <<<"$3"

# The dialog prints its version without a display too.
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrel-install.XXXXXX")
trap 'rm -rf "$work"' EXIT

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
has_program() { [[ " ${programs[*]} " == *" $1 "* ]]; }

# Paths below the prefix /usr that the install must hold.
expected=(lib/udev/rules.d/60-kestrel.rules
          share/doc/kestrel-loader/copyright
          share/doc/kestrel-loader/changelog.gz
          share/doc/kestrel-loader/examples/kestrel-demo.mot
          share/doc/kestrel-loader/examples/kestrel-demo.bin
          share/bash-completion/completions/kestrel-flash
          share/zsh/vendor-completions/_kestrel-flash
          share/fish/vendor_completions.d/kestrel-flash.fish)
for p in "${programs[@]}"; do expected+=("bin/$p" "share/man/man1/$p.1.gz"); done
has_program kestrel-station && expected+=(share/applications/kestrel-station.desktop)
has_program kestrel-loader && expected+=(share/applications/kestrel-loader.desktop
  share/icons/hicolor/{16x16,32x32,48x48,64x64,128x128,256x256}/apps/kestrel-loader.png)

# An emulated download with the kestrel-flash below ROOT and its demo file.
run_flash() {
  local root=$1 where=$2 out=$work/$2.out err=$work/$2.err status said
  said=$("$root/usr/bin/kestrel-flash" --version 2>"$err") && [ "$said" = "kestrel-flash $version" ] ||
    fail "$where: kestrel-flash --version failed or printed: $said $(cat "$err")"
  # Only a hang meets the limit: a download ends by its own bounds, 30 s at the most.
  timeout 60 "$root/usr/bin/kestrel-flash" --emulate \
    "$root/usr/share/doc/kestrel-loader/examples/kestrel-demo.mot" >"$out" 2>"$err"
  status=$?
  if [ $status -ne 0 ] || [ "$(tail -n 2 "$out" | paste -sd '|')" != "Verify data...|FLASHING SUCCESSFULL" ]; then
    fail "$where: emulated download exited $status unverified:"$'\n'"$(cat "$out")"$'\n'"stderr: $(tail -5 "$err")"
    return 1
  fi
}

# 1. cmake --install into a staging DESTDIR.
stage=$work/stage
DESTDIR=$stage cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 ||
  { fail "cmake --install: $(tail -20 "$work/install.log")"; exit 1; }
# The files it holds, and none outside /usr, are checked in the package that cpack builds by the same rules.
# The rule opens the box's chip, 0403:6001, and no other FTDI product.
ids=$(grep -o 'idProduct}=="[^"]*"' "$stage/usr/lib/udev/rules.d/60-kestrel.rules" | sort -u)
[ "$ids" = 'idProduct}=="6001"' ] || fail "install: the udev rule grants product ids $ids"
for p in "${programs[@]}"; do [ -x "$stage/usr/bin/$p" ] || fail "install: /usr/bin/$p is not executable"; done
has_program kestrel-station && { station=$("$stage/usr/bin/kestrel-station" --version 2>/dev/null)
  [ "$station" = "kestrel-station $version" ] || fail "install: kestrel-station --version printed '$station'"; }
# The package holds these programs: a download that failed here would fail there alike.
run_flash "$stage" install || exit 1

# 2. The Debian package (cpack, dpkg-deb and lintian: scripts/install-deps).
debs=()
(cd "$build" && cpack -G DEB --config CPackConfig.cmake -B "$work/deb") >"$work/cpack.log" 2>&1 &&
  debs=("$work"/deb/*.deb)
deb=${debs[0]:-}
if [ ${#debs[@]} -ne 1 ] || [ ! -f "$deb" ]; then
  fail "cpack made no single .deb: ${debs[*]} $(tail -20 "$work/cpack.log")"
else
  [ "$(basename "$deb")" = "kestrel-loader_${version}_$(dpkg --print-architecture).deb" ] ||
    fail "package file name $(basename "$deb")"
  listing=$(dpkg-deb -c "$deb" | awk '{print $6}')
  for path in "${expected[@]}"; do
    grep -qx "./usr/$path" <<<"$listing" || fail "package: /usr/$path missing"
  done
  outside=$(grep -vE '^\./(usr(/.*)?)?$' <<<"$listing")
  [ -z "$outside" ] || fail "package: files outside /usr: $outside"

  # Maintainer and Description are lintian's to require.
  fields=$(dpkg-deb -f "$deb" Package Version Section | sed 's/^[A-Za-z]*: //' | paste -sd ' ')
  [ "$fields" = "kestrel-loader $version electronics" ] || fail "package: Package Version Section are '$fields'"
  depends=$(dpkg-deb -f "$deb" Depends)
  libraries="libc6 libstdc++6 libftdi1"
  has_program kestrel-loader && libraries+=" libqt6widgets6"
  for library in $libraries; do grep -q "$library" <<<"$depends" || fail "package: Depends lacks $library"; done
  echo "package: $(basename "$deb"), ${#expected[@]} expected files, Depends: $depends"

  # Debian's own checks of a package: no error and no warning.
  findings=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -E '^[EW]: |not found')
  [ -z "$findings" ] || fail "package: lintian:"$'\n'"$findings"

  dpkg-deb -x "$deb" "$work/unpacked" || fail "package: dpkg-deb -x failed"
  run_flash "$work/unpacked" package
fi

[ $failures -eq 0 ] && echo "PASS"
