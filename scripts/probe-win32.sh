#!/usr/bin/env bash
# Can this machine run the 32-bit Windows build directly? Runs a tiny 32-bit
# Windows program of ours (scripts/probe-win32.c) under Wine in a prefix of its
# own, within QV_PROBE_SECONDS (60); only a program that really ran and
# answered counts (where the kernel runs no 32-bit code, Wine fails at once,
# or with an emulator registered may crash or hang). A tiny 32-bit Linux
# program tells that kernel apart from a Wine that fails. Prints one line; the
# answer ("directly (Wine 8.0)" or "emulated: <why>") stays in
# BUILD_DIR/probe/result, the program in BUILD_DIR/probe/qv_probe.exe (see
# qv_wine_hold_desktop in wine-env.sh).
#
#   bash scripts/probe-win32.sh [BUILD_DIR]
#
# Exit code 0: run the Windows programs here; 1: in the emulated machine
# (scripts/vm-run.sh). QV_VM=1 answers 1 without running anything.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${QV_BUILD_DIR:-$root/build}}
mkdir -p "$build" && build=$(cd "$build" && pwd)
seconds=${QV_PROBE_SECONDS:-60}
emulated="the Windows tests and the demo run in an emulated machine (scripts/vm-run.sh)"
[ "${QV_NO_VM:-0}" != 1 ] || emulated="the Windows tests and the demo are left out here (QV_NO_VM=1: no emulated machine)"

dir=$build/probe
mkdir -p "$dir"
exe=$dir/qv_probe.exe
if [ ! -f "$exe" ] || [ "$root/scripts/probe-win32.c" -nt "$exe" ]; then
  if ! i686-w64-mingw32-gcc -O2 -s -o "$exe" "$root/scripts/probe-win32.c" 2>"$dir/build.log"; then
    cat "$dir/build.log"
    echo "probe: cannot build the probe program (is g++-mingw-w64-i686 installed?); taking the emulated path: $emulated"
    exit 1
  fi
fi
# The program is built in any case: scripts/wine-env.sh holds Wine's desktop
# with it, here or in the emulated machine.
if [ "${QV_VM:-0}" = 1 ]; then
  echo "emulated: QV_VM=1" >"$dir/result"
  echo "probe: QV_VM=1: $emulated"
  exit 1
fi

# Does the kernel run 32-bit x86 code at all? A 32-bit Linux program of a few
# bytes (it only exits with code 42) tells, apart from anything Wine does:
# where the kernel's 32-bit emulation is off, starting it fails with "Exec
# format error".
elf=$dir/elf32-exit42
# ELF header, one loadable segment at 0x08048000, then: mov ebx, 42;
# mov eax, 1 (exit); int 0x80.
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00''\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00''\xbb\x2a\x00\x00\x00\xb8\x01\x00\x00\x00\xcd\x80' >"$elf"
chmod 755 "$elf"
"$elf" 2>"$dir/elf32.log"
rc=$?
if [ "$rc" != 42 ]; then
  why=$(grep -o 'Exec format error' "$dir/elf32.log" | head -n 1)
  why=${why:-exit code $rc: $(tail -n 1 "$dir/elf32.log")}
  echo "emulated: this kernel runs no 32-bit code" >"$dir/result"
  echo "probe: this kernel runs no 32-bit code (a 32-bit program fails with \"$why\"): $emulated"
  exit 1
fi

# Debian 13's Wine (10.0) aborts at start ("free(): invalid pointer", or a
# segmentation fault) whenever TMPDIR is set in its environment, so no Wine
# process of ours gets one.
unset TMPDIR
export WINEPREFIX=$dir/prefix WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY
version=$(timeout -k 5 30 wine --version 2>/dev/null | sed -n 's/^wine-\([0-9][0-9.]*\).*/\1/p' | head -n 1)
version="Wine ${version:-of unknown version}"
start=$SECONDS
timeout -k 5 "$seconds" wine "$exe" </dev/null >"$dir/out.log" 2>"$dir/err.log"
rc=$?
timeout -k 5 10 wineserver -k >/dev/null 2>&1
if [ "$rc" = 0 ] && grep -q '^qv-probe: 32-bit program' "$dir/out.log"; then
  echo "directly ($version)" >"$dir/result"
  echo "probe: this machine runs 32-bit Windows programs directly ($version answered in $((SECONDS - start)) s): the Windows tests and the demo run here"
  exit 0
fi
if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
  why="no answer within $seconds s"
else
  why=$(grep -v '^[[:space:]]*$' "$dir/err.log" | tail -n 1)
  why="exit code $rc${why:+: $why}"
fi
# A prefix that a failed run may have left half made is not kept.
rm -rf "$WINEPREFIX"
echo "emulated: $version fails here ($why)" >"$dir/result"
echo "probe: this machine runs 32-bit code, but $version fails here ($why): $emulated"
exit 1
