#!/bin/sh
# Makes file calls fail for a Windows test under Wine, with strace's fault
# injection, where Wine gives no other way: the calls on FILE (a Unix path;
# each -P names one) of the Wine server of this prefix (which opens, renames
# and deletes files) and of the test's own process (which writes and flushes
# them), or, with SERVER 0, of the processes whose command line holds
# PROGRAM alone. Started by the test itself; it touches FOLDER/attached once
# strace holds them and ends strace once FOLDER/done is there.
#   sh inject_faults.sh FOLDER PROGRAM SERVER STRACE_OPTION... -- FILE...
folder=$1 program=$2 server=$3
shift 3
options=
while [ $# -gt 0 ] && [ "$1" != -- ]; do options="$options $1"; shift; done
shift
paths=
for file in "$@"; do
  paths="$paths -P $file -P $(realpath -m "$file")"
done
pids=
for dir in /proc/[0-9]*; do
  grep -qzx "WINEPREFIX=$WINEPREFIX" "$dir/environ" 2>/dev/null || continue
  case "$(readlink "$dir/exe")" in
    */wineserver*) [ "$server" = 0 ] || pids="$pids -p ${dir#/proc/}" ;;
    *) tr '\0' ' ' <"$dir/cmdline" 2>/dev/null | grep -q "$program" && pids="$pids -p ${dir#/proc/}" ;;
  esac
done
# shellcheck disable=SC2086
strace -q -f -o "$folder/strace.log" $options $paths $pids &
tracer=$!
for _ in $(seq 100); do
  attached=1
  for pid in $(echo "$pids" | tr -d 'p-'); do
    grep -q "^TracerPid:[[:space:]]*$tracer$" "/proc/$pid/status" 2>/dev/null || attached=0
  done
  [ "$attached" = 1 ] && break
  sleep 0.1
done
touch "$folder/attached"
for _ in $(seq 600); do
  [ -e "$folder/done" ] && break
  sleep 0.1
done
kill "$tracer"
wait "$tracer"
echo "inject_faults: traced$pids for$paths" >>"$folder/strace.log"
rm -f "$folder/done"
touch "$folder/detached"
