#!/usr/bin/env bash
# A fresh Debian 12 or 13 machine to a full test run: installs what is missing,
# builds the native core (ASan/UBSan) and the Windows build, runs every test
# (the Windows ones under Wine and Xvfb, here where scripts/probe-win32.sh
# says so, else in the background in scripts/vm-run.sh's emulated machine),
# checks the sources' layout (scripts/format.sh), builds the Windows build
# again with the second compiler (clang and lld) and runs its PE checks, and
# its whole Windows suite where Wine runs here, checks the release, runs
# clang-tidy and fuzzing. Ends with where the Windows tests ran, then
# "tests: N passed, N failed", as in <build>/test-summary.
# QV_FUZZ_SECONDS (60), QV_SKIP_INSTALL=1, QV_QUICK=1 (no release, clang-tidy,
# fuzzing), QV_VM=1 (the emulated machine anyway), QV_NO_VM=1 (never).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
build=${QV_BUILD_DIR:-$root/build} fuzz_seconds=${QV_FUZZ_SECONDS:-60} jobs=$(nproc)
mkdir -p "$build"

[ "${QV_SKIP_INSTALL:-0}" = 1 ] || bash scripts/install-deps.sh || exit 1
# Compilers go through ccache, its cache machine-wide beside the emulated
# machine's, where a clean clone finds what earlier runs compiled.
cache=${CCACHE_DIR:-${QV_VM_CACHE:-/var/cache/qv-vm}/ccache}
! hash ccache 2>/dev/null || ! mkdir -p "$cache" 2>/dev/null || [ ! -w "$cache" ] ||
  export CCACHE_DIR=$cache CCACHE_BASEDIR=$root CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
win_where=directly
if bash scripts/probe-win32.sh "$build"; then
  win_ran="directly ($(sed -n 's/^directly (\(.*\))$/\1/p' "$build/probe/result"))"
elif [ "${QV_NO_VM:-0}" = 1 ]; then
  win_where=nowhere
  win_ran="left out: $(sed 's/^emulated: //' "$build/probe/result" 2>/dev/null) (QV_NO_VM=1: no emulated machine)"
else
  win_where="in the emulated machine"
  [ "${QV_SKIP_INSTALL:-0}" = 1 ] || bash scripts/install-deps.sh vm || exit 1
  # Here, not in the background: a mirror mid-update is named on the first lines.
  from=$(bash scripts/vm-run.sh --sources) && export QV_VM_FROM=$from
fi

passed=0 failed=0 failures=()
step_ok() { passed=$((passed + 1)); echo "== ok: $1 (after $SECONDS s)"; }
step_fail() { failed=$((failed + 1)); failures+=("$1"); echo "== FAILED: $1 (after $SECONDS s)"; }
# Runs a step; "== ok: NAME" or "== FAILED: NAME" after it.
step() { local name=$1; shift; if "$@"; then step_ok "$name"; else step_fail "$name"; fi; }

# Adds a CTest run's counts to the totals.
count_ctest() {
  local total= bad=
  read -r bad total < <(sed -nE 's/.*tests passed, ([0-9]+) tests? failed out of ([0-9]+).*/\1 \2/p' "$1" | tail -n 1)
  [ -n "$total" ] || { step_fail "$2 (no CTest summary)"; return; }
  passed=$((passed + total - bad)) failed=$((failed + bad))
  [ "$bad" = 0 ] || failures+=("$2: $bad of $total")
}
# Runs of the Windows suite stopped part-way leave nothing running (tests/scripts/stop_check.sh).
count_stop_check() { step "stop check" grep -q '^stop-check: passed' "$build/win-ctest.log"; }

echo "== Windows build (i686 mingw-w64)"
win_ok=1
cmake -S . -B "$build/win" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >"$build/win-config.log" 2>&1 &&
  cmake --build "$build/win" -j "$jobs" || { cat "$build/win-config.log"; step_fail "Windows build"; win_ok=0; }

# In the emulated machine the Windows suite takes minutes of mostly one core:
# it starts first, the checks of this machine run meanwhile, its output last.
vm_pid=
[ "$win_where" != nowhere ] || echo "== Windows tests under Wine and Xvfb: $win_ran"
if [ "$win_ok" = 1 ] && [ "$win_where" != nowhere ]; then
  if [ "$win_where" = directly ]; then
    echo "== Windows tests under Wine and Xvfb, $win_where"
    QV_STOP_CHECK=1 bash scripts/win-tests.sh "$build" 2>&1 | tee "$build/win-ctest.log"
    count_ctest "$build/win-ctest.log" "Windows tests"
    count_stop_check
  else
    echo "== Windows tests under Wine and Xvfb, $win_where: started; the checks below run meanwhile (its output so far: $build/win-ctest.log)"
    QV_STOP_CHECK=1 bash scripts/vm-run.sh --scratch "$build/wine" bash scripts/win-tests.sh "$build" >"$build/win-ctest.log" 2>&1 &
    vm_pid=$!
    trap 'kill "$vm_pid" 2>/dev/null' EXIT
    # Wine under emulation starves beside builds: the checks below yield to it.
    renice -n 10 -p $$ >/dev/null
  fi
fi

# The same tree from the second compiler, in a build folder of its own
# (<build>/clang/win, so that scripts/win-tests.sh <build>/clang runs it),
# after the Windows tests here (no build beside Wine's timed boxes), while
# they run in the emulated machine.
echo "== Windows build with the second compiler (clang and lld, cmake/clang-mingw-i686.cmake)"
clang_ok=1
cmake -S . -B "$build/clang/win" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/clang-mingw-i686.cmake" \
  >"$build/clang-config.log" 2>&1 && cmake --build "$build/clang/win" -j "$jobs" ||
  { cat "$build/clang-config.log"; step_fail "Windows build (clang)"; clang_ok=0; }
# The clang build: its whole Windows suite (PE checks included) where Wine
# runs here, else its PE checks alone.
if [ "$clang_ok" = 1 ] && [ "$win_where" = directly ]; then
  echo "== Windows tests under Wine and Xvfb on the clang build, directly"
  bash scripts/win-tests.sh "$build/clang" 2>&1 | tee "$build/clang-ctest.log"
  count_ctest "$build/clang-ctest.log" "Windows tests (clang build)"
elif [ "$clang_ok" = 1 ]; then
  echo "== PE checks of the clang build (its Windows tests run only where Wine runs here)"
  (cd "$build/clang/win" && ctest --output-on-failure -R '_pe_') 2>&1 | tee "$build/clang-ctest.log"
  count_ctest "$build/clang-ctest.log" "PE checks (clang build)"
fi

echo "== native build (ASan + UBSan)"
if cmake -S . -B "$build/native" -G Ninja -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >"$build/native-config.log" 2>&1 &&
   cmake --build "$build/native" -j "$jobs"; then
  (cd "$build/native" && ctest --output-on-failure --timeout 600 -j "$jobs") 2>&1 | tee "$build/native-ctest.log"
  count_ctest "$build/native-ctest.log" "native tests"
else
  cat "$build/native-config.log"
  step_fail "native build"
fi

echo "== the layout of the C and C++ sources (.clang-format)"
step "source layout" bash scripts/format.sh

echo "== the checks of a cached Debian root and of a mirror mid-update (emulated machine, Debian 13 root)"
step "Debian root check" bash tests/scripts/debian_root_check.sh
step "mirror check" bash tests/scripts/mirror_check.sh

if [ "${QV_QUICK:-0}" != 1 ]; then
  if [ "$win_ok" = 1 ]; then
    # The release command on the tree as it is (uncommitted work allowed), its folders in the build folder.
    echo "== the release: two clean builds give the same bytes; signing, --check and --attach with a throwaway CA"
    step "release (reproducible build, PE checks, signing, --check, --attach, bad signing input)" \
      bash tests/scripts/release_check.sh "$build"
  fi

  echo "== clang-tidy"
  step clang-tidy bash scripts/tidy.sh "$build/native"

  echo "== fuzzing the settings reader and writer for ${fuzz_seconds}s"
  step fuzzing bash scripts/fuzz.sh "$fuzz_seconds"
  echo "== fuzzing the command-line scanner for ${QV_FUZZ_COMMAND_LINE_SECONDS:=30}s"
  step "fuzzing the command line" bash scripts/fuzz.sh "$QV_FUZZ_COMMAND_LINE_SECONDS" command_line
fi

if [ -n "$vm_pid" ]; then
  echo "== Windows tests under Wine and Xvfb, $win_where (its output, then live until it ends)"
  tail -n +1 -f --pid="$vm_pid" "$build/win-ctest.log"
  wait "$vm_pid" && trap - EXIT
  count_ctest "$build/win-ctest.log" "Windows tests"
  count_stop_check
  wine=$(sed -n 's/^vm: booting the guest (Debian [0-9]*, \(Wine [^;]*\);.*/\1/p' "$build/win-ctest.log" | head -n 1)
  win_ran="in the emulated machine (${wine:-Wine of unknown version})"
fi

echo
for f in "${failures[@]}"; do echo "failed: $f"; done
release=$(. /etc/os-release 2>/dev/null; echo "${NAME%% *} ${VERSION_ID:-}")
without=$(sed -n 's/^# without /guest made without /p' <<<"${QV_VM_FROM:-}"; sed -n 's/^# without /root made without /p' <<<"${QV_ROOT_FROM:-}")
printf 'passed %s\nfailed %s\nsystem %s\nwindows %s\n%s' "$passed" "$failed" "$release" "$win_ran" "${without:+$without$'\n'}" >"$build/test-summary"
[ -z "$without" ] || echo "$without (a mirror mid-update)"
[[ $win_ran == left* ]] && echo "Windows tests $win_ran" || echo "Windows tests ran $win_ran"
echo "tests: $passed passed, $failed failed"
[ "$failed" = 0 ]
