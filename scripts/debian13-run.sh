#!/usr/bin/env bash
# Runs a command of this work tree inside a Debian 13 (trixie) root, so that
# the project's scripts are tried on today's Debian as well as on this
# machine's: its install step, its compilers, its clang-tidy and its Wine.
#
#   bash scripts/debian13-run.sh [--fresh] COMMAND [ARG]...
#
# The root is a Debian root as scripts/debian-root.sh makes, caches and checks
# them (/var/cache/qv-vm/debian13-<recipe hash>, once per machine, about 1 to 2
# minutes): debootstrap's minimal system and nothing else. What the project
# needs comes from its own install step, scripts/install-deps.sh, run in that
# root into a layer cached beside it (debian13-deps-<hash>, made again when
# the root or install-deps.sh changes, about 2 to 4 minutes), on which the
# commands run; a later install step there finds everything present. With
# --fresh the command runs on the bare root instead, as on a new machine.
#
# Each run sees the root through an overlay whose changes are dropped at its
# end, with the work tree (and the build folder and the git folder when they
# lie elsewhere) at the same path, this machine's /tmp (so X displays and
# Wine's server folders are told apart as on the machine itself), /dev,
# /proc, /sys and this machine's name servers. The command runs in a PID namespace of its own: whatever it
# leaves running ends with it. Variables named QV_*, CI and the locale
# variables are passed on, with QV_IN_ROOT=debian13 and QV_NO_VM=1 added: the
# root never takes the emulated path, so on a machine that runs no 32-bit code
# the Windows tests are left out there (scripts/test.sh says so). The root's
# build folder is build/debian13 unless QV_BUILD_DIR names another. Exit
# code: the command's.
#
# Environment: QV_VM_CACHE (default /var/cache/qv-vm), QV_VM_MIRROR and
# QV_VM_SECURITY_MIRROR (default: the Debian mirrors this machine's apt uses),
# QV_ROOT_TIMEOUT, the limit in seconds on making the root and its layer
# (default 3600).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd -P)
qv_who=debian13
runs=$root/build/debian13-runs

# Run as a program in the namespaces of a run (see enter below): mounts the
# root and what it shares, then runs the run's job in it and waits for it.
if [ "${1:-}" = --enter ]; then
  run=$2 lower=$3 upper=$4 work=$5
  shift 5
  set -e
  merged=$run/merged
  mount -t overlay overlay -o "lowerdir=$lower,upperdir=$upper,workdir=$work" "$merged"
  mount -t proc proc "$merged/proc"
  mount --rbind /sys "$merged/sys"
  mount --rbind /dev "$merged/dev"
  mount --bind /tmp "$merged/tmp"
  mount -t tmpfs tmpfs "$merged/run"
  mkdir -p "$merged/run/lock"
  rm -f "$merged/etc/resolv.conf"
  cat /etc/resolv.conf >"$merged/etc/resolv.conf"
  for share in "$@"; do
    mkdir -p "$merged$share"
    mount --bind "$share" "$merged$share"
  done
  set +e
  # This shell is the namespace's first process, which ignores the signals it
  # has no handler for: the job runs as its child, which does not. A signal
  # that unshare passes on ends every process of the namespace (TERM, then,
  # as this shell exits, the kernel's KILL).
  trap 'kill -TERM -1 2>/dev/null; sleep 2; exit 143' TERM HUP
  trap 'kill -INT -1 2>/dev/null; sleep 2; exit 130' INT
  chroot "$merged" /usr/bin/env -i /bin/bash "$run/job.sh" <&0 &
  wait $!
  exit
fi

# shellcheck source=debian-root.sh
source "$root/scripts/debian-root.sh"
limit=${QV_ROOT_TIMEOUT:-3600}
deadline=$((SECONDS + limit))
remaining() { echo $((deadline - SECONDS > 0 ? deadline - SECONDS : 1)); }

fresh=0
[ "${1:-}" != --fresh ] || { fresh=1; shift; }
[ $# -gt 0 ] || { echo "usage: bash scripts/debian13-run.sh [--fresh] COMMAND [ARG]..."; exit 2; }
[ "$(id -u)" = 0 ] || qv_fail "making and entering the root needs root (debootstrap, mounts, chroot)"
for tool in debootstrap unshare flock chroot mount; do
  command -v "$tool" >/dev/null ||
    qv_fail "$tool is missing: install what the Debian 13 root needs with: bash scripts/install-deps.sh root"
done
grep -qw overlay /proc/filesystems || modprobe -q overlay 2>/dev/null ||
  qv_fail "this kernel has no overlay file system, which the runs in the root need"

# The root's recipe: changing it (or the making of a root in
# scripts/debian-root.sh) makes the root again on the next run.
root_suite=trixie
root_packages=()
recipe=$(
  { declare -p root_suite root_packages; declare -f qv_debian_tree; } | sha256sum | cut -d' ' -f1)
mkdir -p "$runs" || qv_fail "cannot make $runs"
qv_log=$runs/make-root.log

make_root() {
  local new=$1
  qv_debian_mirrors
  : >"$qv_log"
  qv_say "making the Debian 13 root in $new (once per machine, about 1 to 2 minutes), log in $qv_log"
  qv_make_tree "$(remaining)" "$new/tree" "$root_suite" "$qv_mirror" "${qv_security:--}" ${root_packages[@]+"${root_packages[@]}"}
}

# The root's builds never mix with this machine's: unless told otherwise they
# go to build/debian13 (fuzzing's to build/debian13/fuzz).
export QV_BUILD_DIR=${QV_BUILD_DIR:-$root/build/debian13}
export QV_FUZZ_BUILD_DIR=${QV_FUZZ_BUILD_DIR:-$QV_BUILD_DIR/fuzz}
build=$QV_BUILD_DIR
mkdir -p "$build" && build=$(cd "$build" && pwd -P)
# The folders a run shares with the root; the current folder must be in one.
qv_share_folders "$root" "$build"

# Ends the run of unshare PID: SIGNAL to the namespace's first process
# (unshare itself ignores it), KILL to unshare after 5 s, which kills the
# namespace; then removes the run folder RUN.
stop_run() {
  local pid=$1 signal=$2 run=$3 i
  # shellcheck disable=SC2046  # the children's pids
  kill "-$signal" $(cat "/proc/$pid/task/$pid/children" 2>/dev/null) 2>/dev/null
  for i in $(seq 10); do kill -0 "$pid" 2>/dev/null || break; sleep 0.5; done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  rm -rf --one-file-system "$run"
}

# Runs COMMAND in a new run folder on the layers LOWER (overlay lowerdir
# syntax), its changes going to UPPER with the overlay's WORK folder beside it
# on the same file system (default: the run folder's own, dropped at the
# end), in the current folder; returns its exit code.
enter() {
  local lower=$1 upper=$2 work=$3 run old pid status input
  shift 3
  # Run folders that a stopped run left behind (nobody holds their lock).
  for old in "$runs"/run.*; do
    [ -d "$old" ] || continue
    if exec {old_fd}>>"$old/lock" && flock -n "$old_fd"; then rm -rf --one-file-system "$old"; fi
    exec {old_fd}>&-
  done
  run=$(mktemp -d "$runs/run.XXXXXX") || qv_fail "cannot make a run folder in $runs"
  exec {run_fd}>>"$run/lock" && flock "$run_fd"
  mkdir -p "$run/merged" "${upper:=$run/upper}" "${work:=$run/work}"
  {
    echo 'export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root QV_IN_ROOT=debian13 QV_NO_VM=1'
    printf 'export TERM=%q\n' "${TERM:-dumb}"
    qv_job_environment QV_IN_ROOT QV_NO_VM
    printf '%q ' "$@"
    echo
  } >"$run/job.sh"
  # The command reads this script's input (a background job would get
  # /dev/null), unless there is none.
  if { : <&0; } 2>/dev/null; then input=0; else exec {input}</dev/null; fi
  unshare --mount --propagation private --pid --fork --kill-child \
    bash "$0" --enter "$run" "$lower" "$upper" "$work" "${qv_shares[@]}" <&"$input" &
  pid=$!
  # Stopped, it stops the run: every process of the namespace ends (see
  # --enter above and stop_run).
  # shellcheck disable=SC2064  # the values of now
  trap "stop_run $pid TERM $(printf %q "$run"); exit 143" TERM HUP
  # shellcheck disable=SC2064
  trap "stop_run $pid INT $(printf %q "$run"); exit 130" INT
  wait "$pid"
  status=$?
  trap - TERM HUP INT
  exec {run_fd}>&-
  rm -rf --one-file-system "$run"
  return "$status"
}

# The layer of the project's packages: install-deps.sh of this work tree run
# in the bare root, its changes kept.
make_deps() {
  local new=$1 status
  mkdir -p "$new/layer" "$new/work"
  qv_say "installing the project's packages in the root with scripts/install-deps.sh, into $new (once per version of that script, about 2 to 4 minutes)"
  (cd "$root" && export QV_BUILD_DIR=$runs && enter "$base/tree" "$new/layer" "$new/work" bash -c \
    'bash scripts/install-deps.sh && apt-get clean && rm -rf /var/lib/apt/lists/*')
  status=$?
  # The overlay's own folder (it may hold a folder without permissions).
  rm -rf "$new/work"
  return "$status"
}

qv_use_root debian13 "$recipe" "Debian 13 root" "$(remaining)" make_root
base=$qv_root base_id=$qv_root_id
# The root's in-use lock stays held while its layer is taken into use too.
base_in_use_fd=$qv_in_use_fd qv_in_use_fd=
lower=$base/tree
if [ "$fresh" = 0 ]; then
  deps_recipe=$(echo "$recipe $base_id $(sha256sum <"$root/scripts/install-deps.sh")" | sha256sum | cut -d' ' -f1)
  qv_use_root debian13-deps "$deps_recipe" "layer of the project's packages" "$(remaining)" make_deps
  lower=$qv_root/layer:$base/tree
  qv_say "running in the Debian 13 root, with the project's packages: $*"
else
  qv_say "running in the bare Debian 13 root: $*"
fi
enter "$lower" "" "" "$@"
