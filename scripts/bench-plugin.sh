#!/usr/bin/env bash
# Benchmarks of the plug-in under Wine (Windows build in <build>/win, <build>
# being QV_BUILD_DIR or build): the whole start-up (LoadLibraryA of
# QV_PLUGIN.dll as host version 1) against the stand-in patching library's own
# work, and what file_redirect_hook adds to each host file call. Argument:
# number of loads (30). Only where Wine runs here: emulated, it would time the
# emulator.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd) && cd "$root"
top=${QV_BUILD_DIR:-$root/build}
bash scripts/probe-win32.sh "$top" >/dev/null || { echo "bench-plugin: not run: $(sed 's/^emulated: //' "$top/probe/result")"; exit 1; }
build=$top/win
mkdir -p "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >"$build/bench-plugin-config.log" 2>&1 ||
  { cat "$build/bench-plugin-config.log"; echo "bench-plugin: configuration failed"; exit 1; }
cmake --build "$build" -j 2 --target qv_plugin_bench >/dev/null ||
  { echo "bench-plugin: build failed"; exit 1; }
# shellcheck source=wine-env.sh
source scripts/wine-env.sh "$top/wine"
exec wine "$build/bench/qv_plugin_bench.exe" "${1:-30}"
