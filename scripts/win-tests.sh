#!/usr/bin/env bash
# The Windows CTest suite of BUILD/win under Wine and Xvfb, in a private Wine
# prefix under BUILD/wine (scripts/wine-env.sh), here or in the emulated
# machine (scripts/vm-run.sh). Arguments after BUILD go to CTest (-R settings
# runs a subset). QV_STOP_CHECK=1 then runs tests/scripts/stop_check.sh
# ("stop-check:" lines), which stops runs of this script part-way and requires
# that they leave nothing running. Exit code: CTest's, else the check's.
#   bash scripts/win-tests.sh BUILD [CTEST_ARG]...
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?build folder}
shift
# shellcheck source=wine-env.sh
source "$root/scripts/wine-env.sh" "$build/wine" stop-on-exit
# The program that holds Wine's desktop (see wine-env.sh) comes from the probe.
holder=$build/probe/qv_probe.exe
[ -f "$holder" ] || bash "$root/scripts/probe-win32.sh" "$build" >/dev/null
[ -f "$holder" ] || { echo "win-tests: FAILED: no $holder, which holds Wine's desktop (build it where mingw-w64 is: bash scripts/probe-win32.sh $build)"; exit 1; }
# xvfb-run is a POSIX shell script, which drops exported bash functions: their
# definitions go along in the command itself. It runs in the background so
# that a signal to this script is acted on at once.
xvfb-run -a -s "-screen 0 1024x768x24" bash -c "$(declare -f qv_wine_start qv_wine_hold_desktop)"'
  qv_wine_start
  qv_wine_hold_desktop "$2"
  cd "$1" && ctest --output-on-failure --timeout 900 -j 2 "${@:3}"' _ "$build/win" "$holder" "$@" &
wait $!
status=$?
if [ "${QV_STOP_CHECK:-0}" = 1 ]; then
  qv_wine_stop
  bash "$root/tests/scripts/stop_check.sh" "$build" "$QV_WINEPREFIX" &
  wait $! || [ "$status" != 0 ] || status=1
fi
exit $status
