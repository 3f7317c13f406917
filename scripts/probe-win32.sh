#!/usr/bin/env bash
# Can this machine run the 32-bit Windows build directly? Only a 32-bit Linux
# program of a few bytes, then scripts/probe-win32.c under Wine (own prefix,
# QV_PROBE_SECONDS: 60) that really ran and answered count (without 32-bit
# code Wine fails at once, or hangs under a registered emulator). Prints one
# line; the answer ("directly (Wine 8.0)", "emulated: <why>") stays in
# BUILD/probe/result, the program (also Wine's desktop holder) beside it.
#   bash scripts/probe-win32.sh [--kernel] [BUILD]
# Exit code 0: run the Windows programs here; 1: in the emulated machine.
# QV_VM=1: 1 at once. --kernel: only the kernel's answer, nothing built.
set -uo pipefail
kernel=0 && [ "${1:-}" != --kernel ] || { kernel=1 && shift; }
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-${QV_BUILD_DIR:-$root/build}}/probe
mkdir -p "$dir" && dir=$(cd "$dir" && pwd)
seconds=${QV_PROBE_SECONDS:-60} exe=$dir/qv_probe.exe
emulated="the Windows tests and the demo run in an emulated machine (scripts/vm-run.sh)"
[ "${QV_NO_VM:-0}" != 1 ] || emulated="the Windows tests and the demo are left out here (QV_NO_VM=1: no emulated machine)"
answer() { echo "$1" >"$dir/result"; echo "probe: $2"; }

if [ "$kernel" = 0 ] && { [ ! -f "$exe" ] || [ "$root/scripts/probe-win32.c" -nt "$exe" ]; }; then
  i686-w64-mingw32-gcc -O2 -s -o "$exe" "$root/scripts/probe-win32.c" 2>"$dir/build.log" || { cat "$dir/build.log"
    echo "probe: cannot build the probe program (is g++-mingw-w64-i686 installed?); taking the emulated path: $emulated"; exit 1; }
fi
[ "${QV_VM:-0}" != 1 ] || [ "$kernel" = 1 ] || { answer "emulated: QV_VM=1" "QV_VM=1: $emulated"; exit 1; }

# Does the kernel run 32-bit x86 code at all? A 32-bit Linux program of a few
# bytes tells, apart from anything Wine does: an ELF header, one loadable
# segment at 0x08048000, then mov ebx, 42; mov eax, 1 (exit); int 0x80.
printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00''\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00''\xbb\x2a\x00\x00\x00\xb8\x01\x00\x00\x00\xcd\x80' >"$dir/elf32-exit42"
chmod 755 "$dir/elf32-exit42" && "$dir/elf32-exit42" 2>"$dir/elf32.log"
rc=$?
if [ "$rc" != 42 ]; then
  why=$(grep -o 'Exec format error' "$dir/elf32.log" | head -n 1)
  answer "emulated: this kernel runs no 32-bit code" \
    "this kernel runs no 32-bit code (a 32-bit program fails with \"${why:-exit code $rc: $(tail -n 1 "$dir/elf32.log")}\"): $emulated"
  exit 1
fi
[ "$kernel" = 0 ] || exit 0
hash wine 2>/dev/null || { why=$(cat "$dir/../install-deps.no-wine" 2>/dev/null || echo "Wine is not installed (scripts/install-deps.sh)")
  answer "emulated: $why" "this machine runs 32-bit code, but $why: $emulated"; exit 1; }

# No TMPDIR: Debian 13's Wine 10 aborts at start when it is set.
unset TMPDIR DISPLAY
export WINEPREFIX=$dir/prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
version=$(timeout -k 5 30 wine --version 2>/dev/null | sed -n 's/^wine-\([0-9][0-9.]*\).*/\1/p' | head -n 1)
version="Wine ${version:-of unknown version}" start=$SECONDS
timeout -k 5 "$seconds" wine "$exe" </dev/null >"$dir/out.log" 2>"$dir/err.log"
rc=$?
timeout -k 5 10 wineserver -k >/dev/null 2>&1
if [ "$rc" = 0 ] && grep -q '^qv-probe: 32-bit program' "$dir/out.log"; then
  answer "directly ($version)" \
    "this machine runs 32-bit Windows programs directly ($version answered in $((SECONDS - start)) s): the Windows tests and the demo run here"
  exit 0
fi
why=$(grep -v '^[[:space:]]*$' "$dir/err.log" | tail -n 1)
why="exit code $rc${why:+: $why}"
[ "$rc" != 124 ] && [ "$rc" != 137 ] || why="no answer within $seconds s"
rm -rf "$WINEPREFIX"   # a prefix a failed run may have left half made
answer "emulated: $version fails here ($why)" "this machine runs 32-bit code, but $version fails here ($why): $emulated"
exit 1
