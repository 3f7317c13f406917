# Sourced by the test and demo scripts: makes a private 32-bit Wine prefix
# in the scratch folder (or reuses the one named by QV_WINEPREFIX) and sets
# up the prefix so that message boxes close at once under Xvfb (no window
# manager).
# Usage: source scripts/wine-env.sh <scratch-dir> [stop-on-exit]
# stop-on-exit: the sourcing script calls qv_wine_stop on every way out, from
# before the prefix is made: at its exit, and on INT, TERM and HUP, which end
# it with 130, 143 and 129. Bash runs a trap only once the foreground command
# has ended, so such a script runs its long commands in the background and
# waits for them.
qv_scratch=${1:?scratch folder}
mkdir -p "$qv_scratch"
# The scratch folder is kept in a variable of our own, never in TMPDIR: Debian
# 13's Wine (10.0) aborts at start ("free(): invalid pointer", or a
# segmentation fault) whenever TMPDIR is set in its environment, so no Wine
# process may inherit one, whoever set it.
qv_scratch=$(cd "$qv_scratch" && pwd)
unset TMPDIR
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ -z "${QV_WINEPREFIX:-}" ]; then
  QV_WINEPREFIX=$(mktemp -d "$qv_scratch/wineprefix.XXXXXX")
fi
export WINEPREFIX=$QV_WINEPREFIX
# Ends everything of the prefix: its server and programs (wineserver -k),
# then every process whose environment names the prefix (WINEPREFIX), which
# takes in what a run stopped part-way leaves: Xvfb and xvfb-run, CTest, the
# test programs and Wine programs the server no longer knows. Not the calling
# shell nor its ancestors. TERM first, KILL to what is left after 2 s. Quiet,
# and it does nothing when nothing of the prefix runs.
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
    pid=${f#/proc/}
    pid=${pid%/environ}
    [[ $2 == *" $pid "* ]] || [ ! -e "/proc/$pid" ] || pids+=("$pid")
  done
}
if [ "${2:-}" = stop-on-exit ]; then
  trap qv_wine_stop EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "wine-env: creating Wine prefix $WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d Y /f >/dev/null 2>&1
  wineserver -w
fi
# Starts the prefix's wineserver and Wine's own service processes with no
# pipes attached; call it where the display is set (inside xvfb-run).
# Otherwise the first test program would start them, and they would hold
# that test's output pipe open and keep CTest waiting. The server stays up
# 60 s after its last program ends.
qv_wine_start() {
  wineserver -p60
  wine cmd /c exit </dev/null >/dev/null 2>&1
}
export -f qv_wine_start
# Keeps Wine's desktop up until qv_wine_stop, with the program of
# scripts/probe-win32.sh (its path the argument): Wine closes the desktop a
# second after the last program on it ends, and the next program that needs
# it starts it again but waits for it only 10 s, which an emulated machine
# may not make; its message boxes would then fail. Call it where the display
# is set; it returns when the desktop is up.
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
