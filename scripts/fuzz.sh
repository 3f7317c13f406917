#!/usr/bin/env bash
# Bounded fuzz run of the settings reader and writer: builds settings_fuzzer
# with clang in build-fuzz, runs it for SECONDS seconds (default 60) on a copy
# of the seed corpus, and fails on any crash, sanitizer report or broken round
# trip. Inputs that fail are kept in build-fuzz/fuzz-findings.
#
#   bash scripts/fuzz.sh [SECONDS]
set -uo pipefail
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QV_FUZZ_BUILD_DIR:-$root/build-fuzz}
mkdir -p "$build"

echo "fuzz: configuring $build with clang"
if ! CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DQV_SANITIZE=ON >"$build/fuzz-config.log" 2>&1; then
  cat "$build/fuzz-config.log"
  echo "fuzz: configuration failed"
  exit 1
fi
if ! cmake --build "$build" -j 2 --target settings_fuzzer; then
  echo "fuzz: build failed"
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qv-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
rm -rf "$build/fuzz-findings"
mkdir -p "$work/corpus" "$build/fuzz-findings"
cp "$root"/fuzzing/corpus/* "$work/corpus/"
log=$build/fuzz.log

echo "fuzz: running settings_fuzzer for ${seconds}s"
"$build/fuzzing/settings_fuzzer" "$work/corpus" -dict="$root/fuzzing/settings.dict" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$build/fuzz-findings/" >"$log" 2>&1
rc=$?

grep -E '^#[0-9]+ +DONE|^stat::number_of_executed_units|^stat::new_units_added|^Done [0-9]+ runs' "$log"
echo "fuzz: corpus now $(find "$work/corpus" -type f | wc -l) inputs"
if [ "$rc" != 0 ] || grep -qE 'ERROR: (libFuzzer|AddressSanitizer|LeakSanitizer)|runtime error:|settings round trip broken' "$log"; then
  grep -E -A12 'settings round trip broken|ERROR: |runtime error:' "$log" | head -n 60
  echo "fuzz: FAILED (exit $rc); inputs kept in $build/fuzz-findings, log in $log"
  exit 1
fi
echo "fuzz: ok"
