#!/usr/bin/env bash
# Makes the release of the two deliverables, QV_InternalTool.exe and
# QV_PLUGIN.dll, from the committed work tree:
#   1. refuses a work tree with uncommitted changes (git status --porcelain);
#   2. builds both (Windows build, cmake/mingw-i686.cmake, Ninja) twice, each
#      time in a fresh build folder of its own, and requires identical bytes;
#   3. runs the PE checks (tests/pe/pe_checks.py) on them;
#   4. writes dist/qv-<short commit>/ with the two files, SHA256SUMS (run
#      `sha256sum -c SHA256SUMS` inside that folder) and BUILD.txt: the source
#      commit, the versions in the files' version resources, and the versions
#      of the compiler, binutils and CMake that made them.
# It ends by printing that folder and the two sums.
#
#   bash scripts/release.sh [--allow-dirty] [--dist DIR] [--build DIR]
#
# --allow-dirty (or QV_RELEASE_ALLOW_DIRTY=1) builds a tree with uncommitted
# changes anyway; the folder is then named qv-<short commit>-dirty and
# BUILD.txt says so. --dist (QV_RELEASE_DIST, default dist) is where the
# release folder goes; --build (QV_RELEASE_BUILD, default <QV_BUILD_DIR or
# build>/release) holds the two build folders and their logs, which are kept.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
allow_dirty=${QV_RELEASE_ALLOW_DIRTY:-0}
dist=${QV_RELEASE_DIST:-$root/dist}
builds=${QV_RELEASE_BUILD:-${QV_BUILD_DIR:-$root/build}/release}
fail() { echo "release: FAILED: $*" >&2; exit 1; }

while [ $# -gt 0 ]; do
  case $1 in
    --allow-dirty) allow_dirty=1 ;;
    --dist) [ $# -ge 2 ] || fail "--dist needs a folder"; dist=$2; shift ;;
    --build) [ $# -ge 2 ] || fail "--build needs a folder"; builds=$2; shift ;;
    *) fail "unknown argument '$1' (usage: bash scripts/release.sh [--allow-dirty] [--dist DIR] [--build DIR])" ;;
  esac
  shift
done
mkdir -p "$dist" "$builds" || fail "cannot make $dist or $builds"
dist=$(cd "$dist" && pwd)
builds=$(cd "$builds" && pwd)
cd "$root"
stage=0
progress() { stage=$((stage + 1)); echo "release: [$stage/6] $*"; }

progress "checking the work tree"
changes=$(git status --porcelain) || fail "$root is not a git work tree"
commit=$(git rev-parse HEAD) || fail "no commit to release"
name=qv-$(git rev-parse --short=12 HEAD)
state="clean work tree"
if [ -n "$changes" ]; then
  if [ "$allow_dirty" != 1 ]; then
    echo "$changes" | head -n 20 >&2
    fail "the work tree has uncommitted changes (above); commit them first, or pass --allow-dirty for a build that is not a release"
  fi
  name=$name-dirty
  state="work tree with uncommitted changes in $(wc -l <<<"$changes") files"
  echo "release: building a work tree with uncommitted changes, as asked"
fi

files=(tool/QV_InternalTool.exe plugin/QV_PLUGIN.dll)

# Configures and builds the two deliverables in a fresh folder $builds/$1.
build() {
  local dir=$builds/$1 log=$builds/$1.log
  progress "building in $dir (log $log)"
  rm -rf "$dir"
  if ! { cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" &&
         cmake --build "$dir" -j "$(nproc)" --target QV_InternalTool QV_PLUGIN; } >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    fail "the build in $dir failed (log $log)"
  fi
}
# Two folders whose paths differ in length too: no build path may reach the bytes.
build first
build second-build

progress "comparing the two builds"
for f in "${files[@]}"; do
  cmp "$builds/first/$f" "$builds/second-build/$f" >&2 ||
    fail "$(basename "$f") differs between two clean builds ($builds/first/$f, $builds/second-build/$f)"
done

progress "PE checks"
python=/usr/bin/python3
[ -x "$python" ] || python=python3
pe_log=$builds/pe-checks.log
tool=$builds/first/${files[0]}
plugin=$builds/first/${files[1]}
if ! "$python" tests/pe/pe_checks.py --tool "$tool" --plugin "$plugin" ToolImage PluginImage NoSymbolTable \
     >"$pe_log" 2>&1; then
  tail -n 30 "$pe_log" >&2
  fail "PE checks (log $pe_log)"
fi

progress "writing $dist/$name"
# The versions in the files' version resources, read as the PE checks read them.
versions=$("$python" - "$tool" "$plugin" <<'PY'
import os, sys
sys.path.insert(0, os.path.join("tests", "pe"))
import pefile
from pe_checks import version_of
for path in sys.argv[1:]:
    file_version, product_version = version_of(pefile.PE(path))[:2]
    print("%s: file version %s, product version %s" % (os.path.basename(path), file_version, product_version))
PY
) || fail "cannot read the version resources"

# A tool's first --version line and the Debian package that holds it.
tool_version() {
  local path package
  path=$(readlink -f "$(command -v "$1")")
  package=$(dpkg -S "$path" 2>/dev/null | cut -d: -f1)
  printf '%s' "$("$path" --version | head -n 1)"
  [ -z "$package" ] || printf ' (Debian package %s %s)' "$package" "$(dpkg-query -W -f '${Version}' "$package")"
}
# The compiler as CMake found it, and the linker that compiler runs.
cxx=$(sed -n 's/^set(CMAKE_CXX_COMPILER "\(.*\)")$/\1/p' "$builds"/first/CMakeFiles/*/CMakeCXXCompiler.cmake)
[ -x "$cxx" ] || fail "cannot tell which compiler CMake used (got '$cxx')"
ld=$("$cxx" -print-prog-name=ld)

out=$dist/$name
rm -rf "$out" "$out.part"
mkdir -p "$out.part" || fail "cannot make $out.part"
cp "$tool" "$plugin" "$out.part/"
(cd "$out.part" && sha256sum QV_InternalTool.exe QV_PLUGIN.dll >SHA256SUMS) || fail "sha256sum"
cat >"$out.part/BUILD.txt" <<EOF
Quarn QV companions, release $name

source commit: $commit ($state)
$versions
compiler: $(tool_version "$cxx")
binutils: $(tool_version "$ld")
CMake: $(tool_version cmake)

Built twice from clean build folders (Windows build, cmake/mingw-i686.cmake,
Ninja) with identical bytes; PE checks passed. Check the files with
sha256sum -c SHA256SUMS in this folder.
EOF
mv "$out.part" "$out" || fail "cannot move $out.part to $out"

echo "release: done: $out"
sed 's/^/release:   /' "$out/SHA256SUMS"
