#!/usr/bin/env bash
# Benchmarks of the settings reader and writer: configures <build>/bench
# (QV_BUILD_DIR, default build) in Release without sanitizers, builds settings_bench and runs it, printing the
# table (MB/s per text size, parse plus write of 1 MB, parse cost by number of
# tags). Extra arguments go to the benchmark program, e.g.
#   bash scripts/bench.sh --benchmark_filter=ParseTags
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QV_BENCH_BUILD_DIR:-${QV_BUILD_DIR:-$root/build}/bench}
mkdir -p "$build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQV_SANITIZE=OFF >"$build/bench-config.log" 2>&1 ||
  { cat "$build/bench-config.log"; echo "bench: configuration failed"; exit 1; }
cmake --build "$build" -j 2 --target settings_bench || { echo "bench: build failed"; exit 1; }
# Debian builds its Google Benchmark library without NDEBUG, so the library
# itself warns that it "was built as DEBUG": that is its own timing loop, not
# the code measured, which is built here with -O3 -DNDEBUG.
echo "bench: $build/bench/settings_bench, Release; a warning that the library \"was built as DEBUG\" is about Debian's benchmark library, not this code"
exec "$build/bench/settings_bench" --benchmark_counters_tabular=true "$@"
