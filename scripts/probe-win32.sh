#!/usr/bin/env bash
# Can this machine run the 32-bit Windows build directly? Builds a tiny 32-bit
# Windows program of ours (scripts/probe-win32.c) and runs it under Wine, in a
# prefix of its own under the build folder, within a time limit. Some
# machines run no 32-bit x86 code at all (the kernel's 32-bit emulation is off):
# there Wine fails at once ("Exec format error"), or, with an emulator
# registered for such programs, may crash or hang; only a program that really
# ran and answered counts. Prints one line with the answer.
#
#   bash scripts/probe-win32.sh [BUILD_DIR]
#
# Exit code 0: run the Windows programs here, directly under Wine; 1: run them
# in the emulated machine (scripts/vm-run.sh). QV_VM=1 answers 1 without
# running the program, so that the emulated path can be tried on any machine;
# QV_PROBE_SECONDS (default 60) is the time limit. The program stays in
# BUILD_DIR/probe/qv_probe.exe (see qv_wine_hold_desktop in wine-env.sh).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-${QV_BUILD_DIR:-$root/build}}
mkdir -p "$build" && build=$(cd "$build" && pwd)
seconds=${QV_PROBE_SECONDS:-60}
emulated="the Windows tests and the demo run in an emulated machine (scripts/vm-run.sh)"

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
  echo "probe: QV_VM=1: $emulated"
  exit 1
fi

export WINEPREFIX=$dir/prefix TMPDIR=$dir WINEARCH=win32 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY
start=$SECONDS
timeout -k 5 "$seconds" wine "$exe" </dev/null >"$dir/out.log" 2>"$dir/err.log"
rc=$?
timeout -k 5 10 wineserver -k >/dev/null 2>&1
if [ "$rc" = 0 ] && grep -q '^qv-probe: 32-bit program' "$dir/out.log"; then
  echo "probe: this machine runs 32-bit Windows programs directly (Wine answered in $((SECONDS - start)) s): the Windows tests and the demo run here"
  exit 0
fi
if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
  why="no answer from Wine within $seconds s"
else
  why=$(grep -v '^[[:space:]]*$' "$dir/err.log" | tail -n 1)
  why="Wine exit code $rc${why:+: $why}"
fi
# A prefix that a failed run may have left half made is not kept.
rm -rf "$WINEPREFIX"
echo "probe: this machine cannot run 32-bit Windows programs directly ($why): $emulated"
exit 1
