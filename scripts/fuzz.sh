#!/usr/bin/env bash
# Bounded fuzz run of one libFuzzer target, built with clang in <build>/fuzz
# (QV_FUZZ_BUILD_DIR, else under QV_BUILD_DIR, default build):
#   settings      the settings reader and writer (round trip; the default)
#   command_line  the tool's command-line scanner (values bounded and terminated)
# Runs it for SECONDS seconds (default 60) on a copy of its seed corpus and
# fails on any crash, sanitizer report or broken check. Inputs that fail are
# kept in <build>/fuzz/fuzz-findings (settings) or
# <build>/fuzz/fuzz-findings-command-line.
#
#   bash scripts/fuzz.sh [SECONDS] [settings|command_line]
set -uo pipefail
seconds=${1:-60}
target=${2:-settings}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QV_FUZZ_BUILD_DIR:-${QV_BUILD_DIR:-$root/build}/fuzz}
case "$target" in
  settings)
    fuzzer=settings_fuzzer corpus=$root/fuzzing/corpus dict=$root/fuzzing/settings.dict
    findings=$build/fuzz-findings log=$build/fuzz.log broken='settings round trip broken' ;;
  command_line)
    fuzzer=command_line_fuzzer corpus=$root/fuzzing/command-line-corpus dict=$root/fuzzing/command_line.dict
    findings=$build/fuzz-findings-command-line log=$build/fuzz-command-line.log broken='command line value broken' ;;
  *)
    echo "fuzz: unknown target $target (settings or command_line)"
    exit 2 ;;
esac
mkdir -p "$build"

echo "fuzz: configuring $build with clang"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQV_SANITIZE=ON >"$build/fuzz-config.log" 2>&1 ||
  { cat "$build/fuzz-config.log"; echo "fuzz: configuration failed"; exit 1; }
cmake --build "$build" -j 2 --target "$fuzzer" || { echo "fuzz: build failed"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/qv-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
rm -rf "$findings"
mkdir -p "$work/corpus" "$findings"
cp "$corpus"/* "$work/corpus/"

echo "fuzz: running $fuzzer for ${seconds}s"
"$build/fuzzing/$fuzzer" "$work/corpus" -dict="$dict" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$findings/" >"$log" 2>&1
rc=$?

grep -E '^#[0-9]+ +DONE|^stat::number_of_executed_units|^stat::new_units_added|^Done [0-9]+ runs' "$log"
echo "fuzz: corpus now $(find "$work/corpus" -type f | wc -l) inputs"
if [ "$rc" != 0 ] || grep -qE "ERROR: (libFuzzer|AddressSanitizer|LeakSanitizer)|runtime error:|$broken" "$log"; then
  grep -E -A12 "$broken|ERROR: |runtime error:" "$log" | head -n 60
  echo "fuzz: FAILED (exit $rc); inputs kept in $findings, log in $log"
  exit 1
fi
echo "fuzz: ok"
