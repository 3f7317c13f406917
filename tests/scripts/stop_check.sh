#!/usr/bin/env bash
# A Windows test run stopped part-way leaves nothing running. Starts
# scripts/win-tests.sh on the tool's English end-to-end test in a Wine prefix
# of its own, waits until the test program runs under Wine, stops the run and
# requires that within 20 s (QV_STOP_CHECK_STOP_LIMIT) the script has ended
# and no process is left whose environment names that prefix (Wine's programs
# and server, Xvfb and xvfb-run, CTest: all of them inherit WINEPREFIX). Wine's
# server would end by itself a minute after its last program, which is too
# late. Twice, the second run in the prefix of the first:
#   interrupt   SIGINT to the run's whole process group, as Ctrl-C does; the
#               script must end with exit code 130;
#   ctest-kill  SIGKILL to CTest alone.
# Prints what it found left (pid and command line). Exit code 0 when nothing
# was, 1 otherwise.
#
#   bash tests/scripts/stop_check.sh BUILD [PREFIX]
#
# PREFIX: a Wine prefix, its server down, copied as the start of the check's
# own, which saves making one. Runs where Wine runs; in the emulated machine:
#   bash scripts/vm-run.sh --scratch BUILD/wine bash tests/scripts/stop_check.sh BUILD
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?build folder}" && pwd)
template=${2:-}
start_limit=${QV_STOP_CHECK_START_LIMIT:-600}
stop_limit=${QV_STOP_CHECK_STOP_LIMIT:-20}
mkdir -p "$build/wine"
prefix=$(mktemp -d "$build/wine/stop-check.XXXXXX")
if [ -n "$template" ]; then
  cp -a "$template/." "$prefix/" || { echo "stop-check: cannot copy the prefix $template"; rm -rf "$prefix"; exit 1; }
fi
# No process of the check itself names the prefix, and the runs it stops do
# not start the check again.
unset WINEPREFIX QV_STOP_CHECK

# The processes whose environment names the prefix.
prefix_pids() {
  local f
  for f in $(grep -lzxF -- "WINEPREFIX=$prefix" /proc/[0-9]*/environ 2>/dev/null); do
    f=${f#/proc/}
    echo "${f%/environ}"
  done
}

# "PID command line" of each of them.
prefix_processes() {
  local pid
  for pid in $(prefix_pids); do
    printf '%s %s\n' "$pid" "$(tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline")"
  done
}

# Whether the test program runs under Wine: a program that Wine has loaded
# runs under its own name, its path first on its command line (with Wine's
# loader's before).
program_runs() {
  local pid arg0
  for pid in $(prefix_pids); do
    arg0=
    read -r -d '' arg0 2>/dev/null <"/proc/$pid/cmdline"
    # (Wine may leave its arguments in the same string, after a blank.)
    [[ $arg0 == *[/\\]qv_tool_e2e_test.exe || $arg0 == *[/\\]qv_tool_e2e_test.exe\ * ]] && return 0
  done
  return 1
}

# Whether process $1 runs (a process that has ended but is not yet waited
# for counts as ended).
running() {
  local stat
  read -r stat 2>/dev/null <"/proc/$1/stat" || return 1
  stat=${stat##*) }
  [ "${stat%% *}" != Z ]
}

# One stopped run: starts it, waits for the test program, stops it the way
# $1 says and looks for what is left.
stop_run() {
  local how=$1 log=$prefix-$1.log start=$SECONDS status left ctest
  # In a process group of its own, and with SIGINT at its default: a command
  # that bash starts in the background ignores it, and so would the check
  # itself when started so.
  setsid env --default-signal=INT QV_WINEPREFIX="$prefix" \
    bash "$root/scripts/win-tests.sh" "$build" -R '^qv_tool_e2e_en$' >"$log" 2>&1 &
  run=$!
  until program_runs; do
    if ! running "$run" || [ $((SECONDS - start)) -ge "$start_limit" ]; then
      echo "stop-check: FAILED: $how: the test program did not start under Wine within $((SECONDS - start)) s; the run's output and processes:"
      sed 's/^/  /' "$log"
      prefix_processes | sed 's/^/  /'
      kill -KILL -- "-$run" $(prefix_pids) 2>/dev/null
      return 1
    fi
    sleep 1
  done
  case $how in
    interrupt) kill -INT -- "-$run" ;;
    ctest-kill)
      ctest=$(prefix_processes | awk '$2 == "ctest" { print $1 }')
      [ -n "$ctest" ] || { echo "stop-check: FAILED: $how: no CTest process found"; return 1; }
      kill -KILL "$ctest" ;;
  esac
  local stopped=$SECONDS
  while [ -n "$(prefix_pids)" ] || running "$run"; do
    [ $((SECONDS - stopped)) -lt "$stop_limit" ] || break
    sleep 0.5
  done
  left=$(prefix_processes)
  if running "$run"; then
    left="$run $(tr '\0' ' ' 2>/dev/null <"/proc/$run/cmdline")${left:+
$left}"
  else
    wait "$run"
    status=$?
  fi
  if [ -n "$left" ]; then
    echo "stop-check: FAILED: $how: left running $((SECONDS - stopped)) s after the stop:"
    sed 's/^/  /' <<<"$left"
    # What is left goes now, so that the next run starts clean.
    kill -KILL $(awk '{ print $1 }' <<<"$left") 2>/dev/null
    return 1
  fi
  if [ "$how" = interrupt ] && [ "$status" != 130 ]; then
    echo "stop-check: FAILED: $how: the run ended with exit code $status, not 130"
    return 1
  fi
  echo "stop-check: $how: the test program ran after $((stopped - start)) s; the run ended (exit code $status) and nothing was left $((SECONDS - stopped)) s after the stop"
}

# A check that is itself stopped leaves nothing either.
run=
trap '[ -z "$run" ] || kill -KILL -- "-$run" $(prefix_pids) 2>/dev/null' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
ok=0
stop_run interrupt || ok=1
stop_run ctest-kill || ok=1
if [ "$ok" = 0 ]; then
  rm -rf "$prefix" "$prefix"-*.log
  echo "stop-check: passed in $SECONDS s"
else
  echo "stop-check: FAILED (the runs' output: $prefix-*.log)"
fi
exit "$ok"
