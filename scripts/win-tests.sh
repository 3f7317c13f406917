#!/usr/bin/env bash
# The Windows CTest suite of BUILD/win under Wine and Xvfb, in a private Wine
# prefix under BUILD/wine (scripts/wine-env.sh). scripts/test.sh runs it here,
# or inside the emulated machine (scripts/vm-run.sh) on a machine that runs no
# 32-bit code. Exit code: CTest's.
#
#   bash scripts/win-tests.sh BUILD
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?build folder}
# shellcheck source=wine-env.sh
source "$root/scripts/wine-env.sh" "$build/wine"
# xvfb-run is a POSIX shell script, which drops exported bash functions: the
# definition of qv_wine_start goes along in the command itself. The desktop
# is started before the first test (a few tries: on a slow machine Wine may
# give up waiting for it once).
xvfb-run -a -s "-screen 0 1024x768x24" \
  bash -c "$(declare -f qv_wine_start)"'; qv_wine_start
    for _ in 1 2 3 4 5; do wine "$1/tests/support/box/qv_desktop_ready.exe" </dev/null >/dev/null 2>&1 && break; done
    cd "$1" && ctest --output-on-failure --timeout 900 -j 2' _ "$build/win"
status=$?
qv_wine_stop
exit $status
