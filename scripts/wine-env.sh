# Sourced by the test and demo scripts: a private 32-bit Wine prefix in the
# scratch folder (or the one named by QV_WINEPREFIX) whose message boxes close
# at once under Xvfb (no window manager).
#   source scripts/wine-env.sh <scratch-dir> [stop-on-exit]
# stop-on-exit: qv_wine_stop runs on every way out of the sourcing script, and
# INT, TERM and HUP end it with 130, 143 and 129. Bash runs a trap only once
# the foreground command has ended, so such a script runs its long commands in
# the background and waits for them.
mkdir -p "${1:?scratch folder}" && qv_scratch=$(cd "$1" && pwd)
# Never a TMPDIR: Debian 13's Wine (10.0) aborts at start ("free(): invalid
# pointer", or a segmentation fault) whenever one is set, whoever set it.
unset TMPDIR
# Wine's debug channels stay quiet unless WINEDEBUG asks for a trace
# (WINEDEBUG=+file,+reg ..., docs/developing.md).
export WINEARCH=win32 WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
[ -n "${QV_WINEPREFIX:-}" ] || QV_WINEPREFIX=$(mktemp -d "$qv_scratch/wineprefix.XXXXXX")
export WINEPREFIX=$QV_WINEPREFIX
# Ends everything of the prefix: its server and programs (wineserver -k), then
# every process whose environment names the prefix, which takes in what a run
# stopped part-way leaves (Xvfb, xvfb-run, CTest, test programs, Wine programs
# the server no longer knows), but not the calling shell nor its ancestors.
# TERM first, KILL to what is left after 2 s; quiet.
qv_wine_stop() {
  local prefix=${QV_WINEPREFIX:-} keep=" " pid stat sig i
  local -a pids
  [ -n "$prefix" ] || return 0
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
  pid=$BASHPID
  while [ "$pid" -gt 1 ] && read -r stat <"/proc/$pid/stat"; do
    keep+="$pid "
    stat=${stat##*) }
    pid=${stat#* }
    pid=${pid%% *}
  done 2>/dev/null
  for sig in TERM KILL; do
    for ((i = 1; i <= 20; i++)); do
      qv_wine_prefix_processes "$prefix" "$keep"
      [ ${#pids[@]} -gt 0 ] || return 0
      [ "$i" != 1 ] || kill -s "$sig" "${pids[@]}" 2>/dev/null
      sleep 0.1
    done
  done
}
# Sets pids (of the caller) to the processes whose environment names prefix
# $1, but for those in the list $2 (" PID PID ").
qv_wine_prefix_processes() {
  local f pid
  pids=()
  # grep runs without the variable; the shell of the command substitution,
  # a copy of the caller, has ended when it returns.
  for f in $(WINEPREFIX='' grep -lzxF -- "WINEPREFIX=$1" /proc/[0-9]*/environ 2>/dev/null); do
    pid=${f#/proc/} && pid=${pid%/environ}
    [[ $2 == *" $pid "* ]] || [ ! -e "/proc/$pid" ] || pids+=("$pid")
  done
}
[ "${2:-}" != stop-on-exit ] || { trap qv_wine_stop EXIT; trap 'exit 130' INT; trap 'exit 143' TERM; trap 'exit 129' HUP; }
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-env: creating Wine prefix $WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d Y /f >/dev/null 2>&1
  wineserver -w
fi
# Starts the prefix's wineserver (up 60 s after its last program) and Wine's
# service processes with no pipes attached, inside xvfb-run: else the first
# test would start them, and they would hold its output open and CTest waiting.
qv_wine_start() {
  wineserver -p60
  wine cmd /c exit </dev/null >/dev/null 2>&1
}
export -f qv_wine_start
# Keeps Wine's desktop up until qv_wine_stop with the program of
# scripts/probe-win32.sh (its path the argument; why: probe-win32.c). Call it
# where the display is set; it returns when the desktop is up.
qv_wine_hold_desktop() {
  local log=$WINEPREFIX/desktop-holder.log
  wine "$1" --hold-desktop </dev/null >"$log" 2>&1 &
  local holder=$! i
  for i in $(seq 1200); do
    grep -q 'desktop ready' "$log" && return 0
    kill -0 "$holder" 2>/dev/null || break
    sleep 0.5
  done
  echo "wine-env: Wine's desktop did not come up: $(tail -n 1 "$log")"
  return 1
}
