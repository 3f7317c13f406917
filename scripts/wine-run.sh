#!/usr/bin/env bash
# Runs a Windows program under Wine in the test prefix (WINEPREFIX must be
# set by the caller, see scripts/wine-env.sh). Used as CTest's emulator.
set -u
: "${WINEPREFIX:?WINEPREFIX is not set; source scripts/wine-env.sh first}"
export WINEDEBUG=${WINEDEBUG:--all}
# Debian 13's Wine aborts at start when TMPDIR is set (see wine-env.sh).
unset TMPDIR
exec wine "$@"
