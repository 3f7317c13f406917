#!/usr/bin/env bash
# Benchmarks of the plug-in under Wine (Windows build in build/win): the whole
# start-up (LoadLibraryA of QV_PLUGIN.dll as host version 1) against the stand-in
# patching library's own work, and what file_redirect_hook adds to each host file
# call. Argument: number of loads (30). Only where Wine runs here: emulated, it would time the emulator.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd) && cd "$root"
bash scripts/probe-win32.sh >/dev/null || { echo "bench-plugin: not run: $(sed 's/^emulated: //' build/probe/result)"; exit 1; }
build=$root/build/win
mkdir -p "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >"$build/bench-plugin-config.log" 2>&1 ||
  { cat "$build/bench-plugin-config.log"; echo "bench-plugin: configuration failed"; exit 1; }
cmake --build "$build" -j 2 --target qv_plugin_bench >/dev/null ||
  { echo "bench-plugin: build failed"; exit 1; }
# shellcheck source=wine-env.sh
source scripts/wine-env.sh "$root/build/wine"
exec wine "$build/bench/qv_plugin_bench.exe" "${1:-30}"
