#!/usr/bin/env bash
# clang-tidy over the platform-free core, using the native build's compile
# database (scripts/test.sh builds it first). Usage: tidy.sh <native build dir>
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/native}
[ -f "$build/compile_commands.json" ] || { echo "tidy: no compile_commands.json in $build"; exit 1; }
cd "$root"
files=$(ls common/*.cpp settings/*.cpp | grep -v -E '_win\.cpp$')
echo "tidy: $(echo "$files" | wc -l) files"
# shellcheck disable=SC2086
clang-tidy -p "$build" --quiet $files
